// FilterContext: the filter's state for one session, owned by the session
// for its whole life (the rule test makes a short-lived one).
//
// It holds the RuleSet it judges with, from its making to its end: sessions
// run side by side, each with the rules, lists and settings loaded for it,
// and a reload for a new session changes nothing a running one sees.
//
// It owns the session report file "<data root>/state/session%08x.log" (the
// creating thread's id): report entries of judged messages go there, and the
// session turns it into the collection report.  The file is removed when the
// context goes.  It also owns the files a rule opened with FILEOPEN (closed
// after each message and when the context goes) and the message record.
//
// The rule functions reach the context of their thread through
// currentContext(); the session registers it for its thread with a
// ContextRegistration.  The report file is named by the thread that makes
// the context, so a session makes its context on its own thread.
#pragma once

#include "antivirus/VirusScanner.h"
#include "common/UniqueFd.h"
#include "filter/MessageDescriptor.h"
#include "filter/MessageInfo.h"

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

class LearnedRating;
class SessionLink;
struct RuleSet;

class FilterContext
{
public:
    // rules: the set to judge with; null takes the latest load.
    explicit FilterContext(SessionLink* session = nullptr, std::shared_ptr<RuleSet> rules = nullptr);
    virtual ~FilterContext();
    FilterContext(const FilterContext&) = delete;
    FilterContext& operator=(const FilterContext&) = delete;

    RuleSet& rules() const { return *m_rules; }
    // Judges with set from the next message on (null: the latest load), as
    // a context made now would.
    void setRules(std::shared_ptr<RuleSet> set);

    // Appends text (lines ending in "\n") to the session report.
    void writeReportEntry(const std::string& text);
    // Ends writing; the file stays until the context goes.
    void closeReport();

    // A tab, text and a line feed on decisionDetails, unless text is blank.
    // CR and LF inside text become blanks: message text never breaks the
    // lines the filter writes.
    void addDetail(const std::string& text);
    // "X-Quillfence-Pro: " line, "\n" and the details on decisionHeaders;
    // line, "\n" and the details on reportText (CR and LF made blanks).
    void addDecision(const std::string& line);
    // The FROM header of chunk 1 into out, unless out holds text already.
    void getFromAddress(std::string& out);

    // FILEOPEN and FILECLOSE: small numbers (from 1) standing for the files
    // a rule opened in this context.  0 when the file cannot be opened.
    int openFile(const char* path, const char* mode);
    bool closeFile(int handle);
    void closeOpenFiles();

    SessionLink* session() const { return m_session; }
    // What the filter asks about the message being judged goes to session
    // from now on (null: nothing is being judged).
    void setSession(SessionLink* session);
    // The session's virus scanner, made (its settings read) on first use.
    VirusScanner& scanner();
    // The scanner when this session has made one, else null.
    const VirusScanner* scannerIfMade() const { return m_scanner.get(); }
    // What the token store has learned, opened on first use (so once per
    // session): training committed later is seen by the next session.
    LearnedRating& learnedRating();

    std::string currentRule;
    std::string reportPath;
    std::string reportText;
    std::string addressCopy;       // the header value the address walk runs over
    size_t addressCursor = std::string::npos;   // npos: no walk under way
    int ruleRating = 0;
    bool reportWritten = false;    // at least one entry was written
    std::string decisionDetails;
    std::string decisionHeaders;
    // "X-Quillfence-Pro: " lines the message gets whatever its band does
    // (attachments that could not be scanned), each ending in "\n";
    // cleared with decisionHeaders.
    std::string headerNotes;
    // The archive staging files this session has written copies to (see
    // Archive.h), each held locked for as long as the context lives: no
    // other session takes a file that is still being written for a
    // leftover.
    struct StagedArchive {
        std::string path;
        std::string folder;
        std::string day;   // "SFyymmdd"
        UniqueFd file;
        bool closed;       // takes no more copies: a failed one could not be cut off
    };
    std::vector<StagedArchive> stagedArchives;
    // Whose copies this session stages (the account state file's name),
    // and the state key of the message being judged ("" for none).
    std::string archiveAccount;
    std::string archiveKey;
    // Lines the session's collection report carries whatever else it
    // holds: what went wrong with a message that the user must know of.
    // Kept in memory, so that a full disk cannot lose them.
    std::vector<std::string> notices;
    bool isOk = false;
    bool isSpam = false;
    bool stopChecking = false;
    MessageInfo message;
    const MessageDescriptor* currentMessage = nullptr;

    // Rating only (quillfnc -rate): evaluation judges, but writes no
    // report entry and neither rewrites nor archives the message.
    bool ratingOnly = false;
    // The last evaluation let through a message its band deletes, as no
    // whole archive copy of it could be staged.
    bool keptUnarchived = false;
    // A rewrite of the spool failed part way in the last evaluation (the
    // subject, or the whole message over its header): the spool is no copy
    // of the message, which was let through.
    bool spoolDamaged = false;
    // The last evaluation's outcome: its total and band (0 to 4).
    double lastTotal = 0.0;
    int lastBand = 0;

private:
    FILE* m_reportFile = nullptr;
    SessionLink* m_session;
    std::shared_ptr<RuleSet> m_rules;
    std::map<int, FILE*> m_openFiles;
    std::unique_ptr<VirusScanner> m_scanner;
    std::unique_ptr<LearnedRating> m_learnedRating;
    int m_nextFile = 1;
};

// The context registered for the calling thread, or null.
FilterContext* currentContext();

// Registers context for the calling thread for as long as it lives; the
// context registered before comes back after.
class ContextRegistration
{
public:
    explicit ContextRegistration(FilterContext& context);
    ~ContextRegistration();
    ContextRegistration(const ContextRegistration&) = delete;
    ContextRegistration& operator=(const ContextRegistration&) = delete;

private:
    FilterContext* m_previous;
};

// Once per process, copies the program's rules folder into the data root's
// (a file only when missing there or not newer) and creates an empty
// user.sfr; then loads a new set of rules, lists and settings, registers
// its archive places, and returns it (also the latest from now on).  Never
// waits for running sessions.
std::shared_ptr<RuleSet> initialiseFilter();
