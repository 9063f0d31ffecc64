#include "filter/FilterContext.h"

#include "filter/Archive.h"
#include "filter/LearnedRating.h"
#include "filter/ListStore.h"
#include "filter/RuleSet.h"
#include "filter/RuleStore.h"

#include "common/CEventLog.h"
#include "common/CVDir.h"
#include "common/CVFile.h"
#include "common/CWorkerThread.h"
#include "common/ProgramContext.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <utility>

namespace {

// The context registered for this thread.
thread_local FilterContext* registered = nullptr;

// Message text must never add lines of its own to what the filter writes.
std::string oneLine(const std::string& text)
{
    std::string line = text;
    for (char& c : line)
        if (c == '\r' || c == '\n')
            c = ' ';
    return line;
}

} // namespace

void FilterContext::setSession(SessionLink* session)
{
    m_session = session;
    message.setSession(session);
}

FilterContext::FilterContext(SessionLink* session, std::shared_ptr<RuleSet> rules)
    : m_session(session), m_rules(rules ? std::move(rules) : latestRuleSet())
{
    message.setSession(session);
    char name[32];
    std::snprintf(name, sizeof name, "/state/session%08x.log",
                  static_cast<unsigned>(CWorkerThread::currentThread()));
    reportPath = programContext().dataRoot + name;
    // Private to the user: the report quotes the messages' headers.
    const int fd = ::open(reportPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd >= 0 && (m_reportFile = ::fdopen(fd, "wb")) == nullptr)
        ::close(fd);
}

void FilterContext::setRules(std::shared_ptr<RuleSet> set)
{
    m_rules = set ? std::move(set) : latestRuleSet();
}

FilterContext::~FilterContext()
{
    try {
        closeOpenFiles();
        closeReport();
        ::unlink(reportPath.c_str());
        message.reset(nullptr);
    } catch (...) {
        DebugX("filter", __LINE__);
    }
}

void FilterContext::writeReportEntry(const std::string& text)
{
    // Each entry goes to the file at once: the report is whole on disk
    // whenever the session looks at it.
    if (m_reportFile && std::fwrite(text.data(), 1, text.size(), m_reportFile) == text.size() &&
        std::fflush(m_reportFile) == 0)
        reportWritten = true;
}

void FilterContext::closeReport()
{
    if (m_reportFile)
        std::fclose(m_reportFile);
    m_reportFile = nullptr;
}

void FilterContext::addDetail(const std::string& text)
{
    if (text.find_first_not_of(" \t\r\n") == std::string::npos)
        return;
    decisionDetails += "\t" + oneLine(text) + "\n";
}

void FilterContext::addDecision(const std::string& line)
{
    const std::string decision = oneLine(line);
    decisionHeaders += "X-Quillfence-Pro: " + decision + "\n" + decisionDetails;
    reportText += decision + "\n" + decisionDetails;
}

void FilterContext::getFromAddress(std::string& out)
{
    if (!out.empty())
        return;
    if (!message.open(currentMessage))
        return;
    const int remembered = message.currentSegment();
    message.selectSegment(1);
    if (Chunk* chunk = message.chunk()) {
        std::string value;
        if (chunk->getHeader(message.file(), "FROM", value))
            out = oneLine(value);
    }
    message.selectSegment(remembered);
}

LearnedRating& FilterContext::learnedRating()
{
    if (!m_learnedRating)
        m_learnedRating = std::make_unique<LearnedRating>(tokenStorePath(programContext().dataRoot));
    return *m_learnedRating;
}

VirusScanner& FilterContext::scanner()
{
    if (!m_scanner)
        m_scanner = std::make_unique<VirusScanner>();
    return *m_scanner;
}

int FilterContext::openFile(const char* path, const char* mode)
{
    if (path == nullptr || mode == nullptr)
        return 0;
    FILE* file = std::fopen(path, mode);
    if (file == nullptr)
        return 0;
    // Numbers are not reused within a context: a stale one never names a
    // later file.
    const int handle = m_nextFile++;
    m_openFiles[handle] = file;
    return handle;
}

bool FilterContext::closeFile(int handle)
{
    auto it = m_openFiles.find(handle);
    if (it == m_openFiles.end())
        return false;
    std::fclose(it->second);
    m_openFiles.erase(it);
    return true;
}

void FilterContext::closeOpenFiles()
{
    for (auto& [handle, file] : m_openFiles)
        std::fclose(file);
    m_openFiles.clear();
}

FilterContext* currentContext()
{
    return registered;
}

ContextRegistration::ContextRegistration(FilterContext& context) : m_previous(std::exchange(registered, &context)) {}

ContextRegistration::~ContextRegistration()
{
    registered = m_previous;
}

namespace {

// The program's rules folder (as installed) into the data root's: a file
// is copied when missing there or not newer than the installed one.
void copyInstalledRules()
{
    const std::string from = programContext().programFolder + "/rules";
    const std::string to = programContext().dataRoot + "/rules";
    CVDir::mkdir(to.c_str());
    for (CVDir it(from.c_str(), "*"); !it.atEnd(); it.moveNext()) {
        if (it.isDir())
            continue;
        const std::string source = from + "/" + it.fileName();
        const std::string target = to + "/" + it.fileName();
        struct stat sourceStat {}, targetStat {};
        if (::stat(source.c_str(), &sourceStat) != 0)
            continue;
        if (::stat(target.c_str(), &targetStat) == 0 && targetStat.st_mtime > sourceStat.st_mtime)
            continue;
        if (!CVFile::copy(source.c_str(), target.c_str()))
            CEventLog().LogEvent(1, "Unable to copy %s", source.c_str());
    }
    const std::string user = to + "/user.sfr";
    const int fd = ::open(user.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
}

} // namespace

std::shared_ptr<RuleSet> initialiseFilter()
{
    static std::once_flag firstRun;
    std::call_once(firstRun, copyInstalledRules);
    std::shared_ptr<RuleSet> set = loadRules();
    registerArchiveLocations();
    return set;
}
