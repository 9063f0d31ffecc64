#include "antivirus/VirusScanner.h"

#include "antivirus/MessageWalk.h"

#include "common/CEventLog.h"
#include "common/CRegistry.h"
#include "common/ProgramContext.h"
#include "common/WildcardMatch.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

extern char** environ;

namespace {

constexpr int kFileAttempts = 25;
constexpr int kFilePauseMs = 100;

// The first name in single quotes on the first ">>> Virus" line of report.
std::string virusNamed(const std::string& report)
{
    std::ifstream in(report);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(">>> Virus", 0) != 0)
            continue;
        const size_t open = line.find('\'');
        const size_t close = open == std::string::npos ? open : line.find('\'', open + 1);
        if (close != std::string::npos)
            return line.substr(open + 1, close - open - 1);
    }
    return "unknown";
}

} // namespace

VirusScanner::VirusScanner()
{
    m_stateFolder = programStateFolder();
    ::mkdir(m_stateFolder.c_str(), 0700);
    quarantinePath = m_stateFolder;
    clamDatabase = clamDefaultDatabaseFolder();
    sweepPath = programContext().programFolder;
    CRegistry reg;
    if (reg.OpenKey(programContext().settingsHive, "quilfpro", settingInfo(Setting::Scan).key, false)) {
        querySetting(reg, Setting::VirusEngine, engine);
        querySetting(reg, Setting::Scan, scanEnabled);
        querySetting(reg, Setting::ForwardToUser, forwardToUser);
        querySetting(reg, Setting::Quarantine, quarantine);
        querySetting(reg, Setting::MimeTypes, mimeTypes);
        querySetting(reg, Setting::MacVirusCheck, macVirusCheck);
        querySetting(reg, Setting::PassLockedArchives, passLockedArchives);
        querySetting(reg, Setting::ScanArchives, scanArchives);
        querySetting(reg, Setting::UpdateEnabled, updateEnabled);
        querySetting(reg, Setting::FullScan, fullScan);
        querySetting(reg, Setting::UpdateFrom, updateFrom);
        querySetting(reg, Setting::UpdateSubject, updateSubject);
        querySetting(reg, Setting::UpdateCommand, updateCommand);
        querySetting(reg, Setting::LeaveWorkfile, leaveWorkfile);
        querySetting(reg, Setting::Engine, engine);
        // An empty folder is the default one.
        for (auto [setting, folder] : {std::pair{Setting::QuarantinePath, &quarantinePath},
                                       std::pair{Setting::SweepPath, &sweepPath},
                                       std::pair{Setting::ClamDatabase, &clamDatabase}}) {
            std::string stored;
            if (querySetting(reg, setting, stored) && !stored.empty())
                *folder = stored;
        }
    }
    while (quarantinePath.size() > 1 && (quarantinePath.back() == '/' || quarantinePath.back() == '\\'))
        quarantinePath.pop_back();
    while (sweepPath.size() > 1 && sweepPath.back() == '/')
        sweepPath.pop_back();
    if (engine == 0) {
        CEventLog().LogEvent(4, "virus: Running in ClamAV mode");
    } else if (engine == 1) {
        CEventLog().LogEvent(4, "virus: Running in sweep mode");
        if (::access((sweepPath + "/sweep").c_str(), X_OK) != 0)
            CEventLog().LogEvent(1, "virus: sweep not present in %s, scanning inactive", sweepPath.c_str());
    } else {
        CEventLog().LogEvent(4, "virus: Running in general compatibility mode");
    }
    if (quarantine)
        CEventLog().LogEvent(4, "virus: Quarantine enabled to %s", quarantinePath.c_str());
}

VirusScanner::~VirusScanner()
{
    if (!m_workfilePath.empty())
        ::unlink(m_workfilePath.c_str());
}

bool VirusScanner::scanMessage(const std::string& spoolPath, const std::string& sender, const std::string& recipient)
{
    try {
        if (!m_workfilePath.empty()) {
            deleteWorkfile(m_workfilePath);
            m_workfilePath.clear();
        }
        m_messageUnscanned.clear();
        if (!scanEnabled)
            return true;
        ::unlink((m_stateFolder + "/infection.txt").c_str());
        FILE* in = nullptr;
        for (int attempt = 1; attempt <= kFileAttempts && in == nullptr; ++attempt) {
            in = std::fopen(spoolPath.c_str(), "rb");
            if (in == nullptr && attempt < kFileAttempts)
                std::this_thread::sleep_for(std::chrono::milliseconds(kFilePauseMs));
        }
        if (in == nullptr) {
            CEventLog().LogEvent(1, "virus: Unable to open %s", spoolPath.c_str());
            return false;
        }
        m_workfilePath = spoolPath + "_vtmp";
        const int fd = ::open(m_workfilePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
        FILE* out = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
        if (out == nullptr) {
            if (fd >= 0)
                ::close(fd);
            std::fclose(in);
            CEventLog().LogEvent(1, "virus: Unable to create %s", m_workfilePath.c_str());
            m_workfilePath.clear();
            return false;
        }
        MessageWalk walk(*this, in, out, spoolPath, m_stateFolder);
        walk.setEnvelope(sender, recipient);
        const bool walked = walk.run();
        std::fclose(in);
        const bool written = std::fflush(out) == 0 && ::fsync(::fileno(out)) == 0;
        std::fclose(out);
        if (!walked || !written) {
            // A copy that could not be made whole never replaces the message.
            ::unlink(m_workfilePath.c_str());
            m_workfilePath.clear();
            return walk.clean();
        }
        // The vendor's alert mail can start the signature update.
        std::vector<char> from(walk.fromAddress().begin(), walk.fromAddress().end());
        from.push_back('\0');
        std::vector<char> subject(walk.subject().begin(), walk.subject().end());
        subject.push_back('\0');
        if (updateEnabled && !updateCommand.empty() && WildcardMatch(from.data(), updateFrom.c_str()) &&
            WildcardMatch(subject.data(), updateSubject.c_str())) {
            CEventLog().LogEvent(4, "virus: Virus alert email detected");
            // The shell starts the command in the background and ends at
            // once: nothing is waited for, and no child is left unreaped.
            pid_t pid = 0;
            const std::string background = "(" + updateCommand + ") </dev/null >/dev/null 2>&1 &";
            const char* argv[] = {"/bin/sh", "-c", background.c_str(), nullptr};
            const int rc = ::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ);
            if (rc == 0)
                ::waitpid(pid, nullptr, 0);
            if (rc == 0)
                CEventLog().LogEvent(4, "virus: Command %s triggered successfully as process %08x", updateCommand.c_str(),
                                     static_cast<unsigned>(pid));
            else
                CEventLog().LogEvent(1, "virus: Unable to run command %s, error %d", updateCommand.c_str(), rc);
        }
        if (walk.clean()) {
            ::unlink(m_workfilePath.c_str());
            m_workfilePath.clear();
        }
        return walk.clean();
    } catch (...) {
        DebugX(__FILE__, __LINE__);
        return true;
    }
}

void VirusScanner::replaceSpooledMessage(const std::string& spoolPath)
{
    if (m_workfilePath.empty())
        return;
    // A rename: the spool is the old message or the whole new one.
    moveWorkfile(m_workfilePath, spoolPath);
    m_workfilePath.clear();
}

void VirusScanner::terminateEngine()
{
    // The shared engine serves the next session: nothing of it is released.
}

EngineVerdict VirusScanner::judgeFile(const std::string& path)
{
    EngineVerdict verdict;
    if (engine == 0)
        verdict = clamScanFile(path, ClamOptions{clamDatabase, scanArchives, fullScan, macVirusCheck});
    else if (engine == 1)
        verdict = runSweep(path);
    else
        verdict = readThrough(path);
    if (verdict.kind == EngineVerdict::Unscanned)
        noteUnscanned(verdict.reason,
                      engine == 0 ? "Run freshclam as root (\"sudo freshclam\") to fetch the virus signatures."
                                  : "Put a sweep program in " + sweepPath + ", or choose another engine.");
    return verdict;
}

void VirusScanner::noteUnscanned(const std::string& reason, const std::string& remedy)
{
    if (std::find(m_messageUnscanned.begin(), m_messageUnscanned.end(), reason) == m_messageUnscanned.end())
        m_messageUnscanned.push_back(reason);
    for (const Unscanned& seen : m_sessionUnscanned)
        if (seen.reason == reason)
            return;
    m_sessionUnscanned.push_back({reason, remedy});
}

EngineVerdict VirusScanner::runSweep(const std::string& path)
{
    EngineVerdict verdict;
    // The program's report goes to a file of this call's own, and becomes
    // "scan.txt" once read: sessions side by side may run sweeps at once.
    std::string reportPath = m_stateFolder + "/scan.txt.tmpXXXXXX";
    const int report = ::mkostemp(reportPath.data(), O_CLOEXEC);
    const auto keepReport = [&] {
        if (report >= 0)
            ::rename(reportPath.c_str(), (m_stateFolder + "/scan.txt").c_str());
    };
    const std::string program = sweepPath + "/sweep";
    const std::string options = std::string(scanArchives ? "-ARCHIVE" : "-NARCHIVE") + " " +
                                (scanArchives ? "-SC" : "") + " " + (fullScan ? "-F" : "") + " -UUE";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (report >= 0)
        posix_spawn_file_actions_adddup2(&actions, report, STDOUT_FILENO);
    const char* argv[] = {program.c_str(), "-nk", "-ss", "-nb", options.c_str(), path.c_str(), nullptr};
    pid_t pid = 0;
    int code = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (report >= 0)
        ::close(report);
    if (code == ENOENT || code == EACCES) {
        // No scanner installed: inactive, as reported at start; an
        // attachment is never stripped for want of a scanner.
        verdict.kind = EngineVerdict::Unscanned;
        verdict.reason = "no sweep program in " + sweepPath;
        keepReport();
        return verdict;
    }
    if (code != 0) {
        CEventLog().LogEvent(1, "virus: Unable to run sweep, error %d", code);
    } else {
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(sweepTimeoutMs);
        for (;;) {
            const pid_t done = ::waitpid(pid, &status, WNOHANG);
            if (done == pid) {
                code = WIFEXITED(status) ? WEXITSTATUS(status) : kSweepTimedOut;
                break;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                CEventLog().LogEvent(1, "virus: Timeout waiting for sweep to complete");
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                code = kSweepTimedOut;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    if (code >= 1 && code <= 3) {
        verdict.kind = code == 2 ? EngineVerdict::EncryptedArchive : EngineVerdict::Virus;
        verdict.virus = virusNamed(reportPath);
    } else if (code != 0) {
        verdict.kind = EngineVerdict::Error;
        verdict.error = code;
    }
    keepReport();
    return verdict;
}

EngineVerdict VirusScanner::readThrough(const std::string& path)
{
    EngineVerdict verdict;
    FILE* file = std::fopen(path.c_str(), "rb");
    bool whole = file != nullptr;
    if (file) {
        char block[260];
        while (std::fread(block, 1, sizeof block, file) == sizeof block) {
        }
        whole = std::ferror(file) == 0;
        std::fclose(file);
    }
    if (whole)
        return verdict;
    // A resident scanner has blocked or removed it.
    std::ofstream(m_stateFolder + "/scan.txt") << ">>> Virus 'unknown'\n";
    verdict.kind = EngineVerdict::Virus;
    verdict.virus = "unknown";
    return verdict;
}

bool VirusScanner::deleteWorkfile(const std::string& path)
{
    for (int attempt = 1; attempt <= kFileAttempts; ++attempt) {
        if (::unlink(path.c_str()) == 0 || errno == ENOENT)
            return true;
        if (attempt < kFileAttempts)
            std::this_thread::sleep_for(std::chrono::milliseconds(kFilePauseMs));
    }
    CEventLog().LogEvent(1, "virus: Unable to delete %s, error %d", path.c_str(), errno);
    return false;
}

bool VirusScanner::moveWorkfile(const std::string& from, const std::string& to)
{
    for (int attempt = 1; attempt <= kFileAttempts; ++attempt) {
        if (::rename(from.c_str(), to.c_str()) == 0)
            return true;
        if (attempt < kFileAttempts)
            std::this_thread::sleep_for(std::chrono::milliseconds(kFilePauseMs));
    }
    CEventLog().LogEvent(1, "virus: Unable to move file from %s to %s, error %d", from.c_str(), to.c_str(), errno);
    return false;
}
