#include "common/CEventLog.h"

#include "common/CVDateTime.h"
#include "common/CVDir.h"
#include "common/EventLogGather.h"
#include "common/UniqueFd.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <utility>

std::string CEventLog::logpath;
std::string CEventLog::logapp;
std::string CEventLog::logpre;
std::atomic<bool> CEventLog::loginit{false};
std::atomic<uint32_t> CEventLog::loglevel{0x2007};
std::atomic<bool> CEventLog::echoErrors{false};
int CEventLog::logfile = -1;
int CEventLog::dayno = -1;
CVMutex CEventLog::mutex;

namespace {

// The text holding this thread's lines (EventLogGather), or null.
thread_local std::string* t_held = nullptr;

// The kernel's id of this thread, asked once: it is on every line.
unsigned threadId()
{
    thread_local const unsigned id = static_cast<unsigned>(::gettid());
    return id;
}

char levelLetter(unsigned short level)
{
    switch (level) {
    case 1: return 'E';
    case 2: return 'W';
    case 4: return 'I';
    case 8: return 'S';
    case 16: return '<';
    case 32: return '>';
    case 64:
    case 128:
    case 256:
    case 512: return '*';
    case 1024: return 'D';
    case 8192: return '~';
    default: return '!';
    }
}

} // namespace

CEventLog::CEventLog(const char* category) : m_category(category ? category : "") {}

CEventLog::~CEventLog() = default;

void CEventLog::Initialize(const char* path, const char* app, const char* prefix)
{
    CVMutexLocker lock(mutex);
    CVDir::mkdir(path ? path : "");
    logpath = path ? path : "";
    logapp = app ? app : "";
    logpre = prefix ? prefix : "";
    loginit = true;
    // The first line after it opens today's file in the new folder.
    if (logfile >= 0) {
        ::close(logfile);
        logfile = -1;
    }
    dayno = -1;
}

void CEventLog::Uninitialize()
{
    CVMutexLocker lock(mutex);
    if (logfile >= 0) {
        ::close(logfile);
        logfile = -1;
    }
}

void CEventLog::SetLogging(unsigned long mask)
{
    loglevel = static_cast<uint32_t>(mask);
}

void CEventLog::echoErrorsToStderr(bool echo)
{
    echoErrors = echo;
}

bool CEventLog::openFile()
{
    CVDateTime now;
    const struct tm* local = now.getLocalTime();
    if (local->tm_yday != dayno) {
        if (logfile >= 0) {
            ::close(logfile);
            logfile = -1;
        }
        char name[64];
        std::snprintf(name, sizeof name, "%02d%02d%02d.log", local->tm_year % 100,
                      local->tm_mon + 1, local->tm_mday);
        std::string path = logpath + "/" + logpre + name;
        dayno = local->tm_yday;
        logfile = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    }
    return logfile >= 0;
}

bool CEventLog::enabled(unsigned short level)
{
    return loginit && (level & loglevel) != 0;
}

size_t CEventLog::formatLine(char* line, unsigned short level, const std::string& category,
                             const char* format, va_list args)
{
    time_t now = time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    const unsigned tid = threadId();

    // Room for the line feed is kept back from the start.
    const size_t room = kMaxLine - 1;
    int n = std::snprintf(line, room + 1, "%-8s %c %02d:%02d:%02d %08x ", category.c_str(),
                          levelLetter(level), local.tm_hour, local.tm_min, local.tm_sec, tid);
    size_t used = n < 0 ? 0 : (static_cast<size_t>(n) > room ? room : static_cast<size_t>(n));
    if (used < room && format) {
        n = std::vsnprintf(line + used, room - used + 1, format, args);
        if (n > 0)
            used += static_cast<size_t>(n) > room - used ? room - used : static_cast<size_t>(n);
    }
    line[used++] = '\n';
    return used;
}

std::string* CEventLog::holdLines(std::string* held)
{
    return std::exchange(t_held, held);
}

void CEventLog::writeLines(const char* lines, size_t size)
{
    if (t_held) {
        if (t_held->size() + size <= EventLogGather::kMaxHeld) {
            t_held->append(lines, size);
            return;
        }
        // Past the bound: what is held goes first, keeping the order.
        std::string held;
        held.swap(*t_held);
        CVMutexLocker lock(mutex);
        if (CEventLog().openFile()) {
            writeFully(logfile, held.data(), held.size());
            writeFully(logfile, lines, size);
        }
        return;
    }
    CVMutexLocker lock(mutex);
    if (CEventLog().openFile())
        writeFully(logfile, lines, size);
}

bool CEventLog::LogEvent(unsigned short level, const char* format, ...)
{
    if (!loginit)
        return false;
    if ((level & loglevel) == 0)
        return true;
    try {
        char line[kMaxLine + 1];
        va_list args;
        va_start(args, format);
        const size_t used = formatLine(line, level, m_category.empty() ? logapp : m_category, format, args);
        va_end(args);
        writeLines(line, used);
        if ((level == 1 || level == 2) && echoErrors.load(std::memory_order_relaxed) &&
            ::write(STDERR_FILENO, line, used) < 0) {
            // Standard error is gone: the line is in the file all the same.
        }
    } catch (...) {
        // The line is lost; logging never fails its caller.
    }
    return true;
}

void LOGEVENT(const std::string& text)
{
    try {
        CEventLog().LogEvent(8192, "%s", text.c_str());
    } catch (...) {
        DebugX(__FILE__, __LINE__);
    }
}

void DebugX(const char* file, int line)
{
    const char* name = file ? file : "";
    for (const char* p = name; *p; ++p) {
        if (*p == '/' || *p == '\\')
            name = p + 1;
    }
    CEventLog().LogEvent(1, "Exception trap - %s:%d", name, line);
}
