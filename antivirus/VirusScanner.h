// VirusScanner: scans the attachments of a spooled message and builds a
// copy of it in which every infected, unscannable or failed attachment is
// replaced by a plain-text notice ("Removed Attachment (name).txt").
//
// One per session (its filter context owns it).  Settings come from the key
// "/antivirus" of the hive "quilfpro" when the scanner is made.  Engines:
//   0  ClamAV's library in process (shared by every session; see ClamEngine)
//   1  an executable "sweep" in SweepPath, run per attachment (exit 0 clean,
//      1 to 3 infected with ">>> Virus 'name'" report lines, 2 an encrypted
//      archive, above 3 an error; killed after 60 s as error 1460)
//   2  (or any other) general compatibility: an attachment that can be read
//      to its end is clean (a resident scanner blocks infected files)
// Work files (decoded attachments) and quarantined files are private to the
// user (0600 in folders of 0700) and never named outside their folder.
//
// An attachment that could not be scanned at all (no signatures, no sweep
// program, no work file) is delivered as it is; the scanner remembers why,
// for the message (unscannedReasons) and for the session (sessionUnscanned),
// so that neither passes for scanned.
#pragma once

#include "common/SettingValues.h"

#include "antivirus/ClamEngine.h"

#include <string>
#include <vector>

class VirusScanner
{
public:
    VirusScanner();
    virtual ~VirusScanner();
    VirusScanner(const VirusScanner&) = delete;
    VirusScanner& operator=(const VirusScanner&) = delete;

    // Scans the message at spoolPath; true when clean.  When an attachment
    // was replaced, the rewritten message waits at workfilePath() for
    // replaceSpooledMessage.  sender and recipient appear in log lines.
    bool scanMessage(const std::string& spoolPath, const std::string& sender = "",
                     const std::string& recipient = "");
    // Puts the rewritten message in place of the spooled one (a rename of a
    // complete file); nothing when there is none.
    void replaceSpooledMessage(const std::string& spoolPath);
    // The session no longer needs the engine (the shared engine stays).
    void terminateEngine();
    const std::string& workfilePath() const { return m_workfilePath; }

    // The engine's verdict on one decoded attachment; an Unscanned one is
    // noted (noteUnscanned).
    EngineVerdict judgeFile(const std::string& path);

    // Why some attachment could not be scanned: reason is a phrase for the
    // message's header ("no virus signatures in /var/lib/clamav"), remedy a
    // sentence telling the user how to mend it.
    struct Unscanned {
        std::string reason;
        std::string remedy;
    };
    void noteUnscanned(const std::string& reason, const std::string& remedy);
    // The reasons of the last scanMessage, each once, in the order met.
    const std::vector<std::string>& unscannedReasons() const { return m_messageUnscanned; }
    // Every reason met since the scanner was made (the session), each once.
    const std::vector<Unscanned>& sessionUnscanned() const { return m_sessionUnscanned; }

    // Deletes or moves a file, up to 25 attempts 100 ms apart; logs a final
    // failure.  True when done.
    static bool deleteWorkfile(const std::string& path);
    static bool moveWorkfile(const std::string& from, const std::string& to);

    // Settings: the settings table's defaults; the folders are worked out
    // when the scanner is made.
    int engine = defaultOf(Setting::VirusEngine);
    bool scanEnabled = defaultOf(Setting::Scan) != 0;
    bool forwardToUser = defaultOf(Setting::ForwardToUser) != 0;
    bool quarantine = defaultOf(Setting::Quarantine) != 0;
    std::string quarantinePath;
    std::vector<std::string> mimeTypes = settingDefaultList(Setting::MimeTypes);
    bool macVirusCheck = defaultOf(Setting::MacVirusCheck) != 0;
    bool passLockedArchives = defaultOf(Setting::PassLockedArchives) != 0;
    bool scanArchives = defaultOf(Setting::ScanArchives) != 0;
    bool updateEnabled = defaultOf(Setting::UpdateEnabled) != 0;
    bool fullScan = defaultOf(Setting::FullScan) != 0;
    std::string updateFrom = settingDefaultText(Setting::UpdateFrom);
    std::string updateSubject = settingDefaultText(Setting::UpdateSubject);
    std::string updateCommand = settingDefaultText(Setting::UpdateCommand);
    std::string sweepPath;
    bool leaveWorkfile = defaultOf(Setting::LeaveWorkfile) != 0;
    std::string clamDatabase;

    // A sweep run longer than this is killed (and counts as error 1460).
    int sweepTimeoutMs = 60000;
    static constexpr int kSweepTimedOut = 1460;

private:
    EngineVerdict runSweep(const std::string& path);
    EngineVerdict readThrough(const std::string& path);

    std::string m_workfilePath;
    std::string m_stateFolder;
    std::vector<std::string> m_messageUnscanned;
    std::vector<Unscanned> m_sessionUnscanned;
};
