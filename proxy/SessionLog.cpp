// The session's traffic log, status texts, file deletion and log tidy.
#include "proxy/CSession.h"

#include "common/CEventLog.h"
#include "common/CVDateTime.h"
#include "common/CVDir.h"
#include "common/ProgramContext.h"
#include "proxy/MainWindowLink.h"

#include <sched.h>
#include <strings.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>

namespace {

// Errors on the way are reported and passed on to the caller; a stop
// request is no error.
[[noreturn]] void reportAndRethrow(const char* file, int line)
{
    try {
        throw;
    } catch (long code) {
        if (code != Socket::kInterrupted)
            DebugX(file, line);
        throw;
    } catch (...) {
        DebugX(file, line);
        throw;
    }
}

} // namespace

void CSession::logTraffic(unsigned short level, const char* prefix, const std::string& text,
                          bool isPassword)
{
    std::string& copy = (prefix[1] == 'c') ? m_clientLogCopy : m_serverLogCopy;
    copy.assign(text, 0, text.find('\r'));
    if (isPassword)
        CEventLog().LogEvent(level, "%s PASS <secret>", prefix);
    else
        CEventLog().LogEvent(level, "%s %s", prefix, copy.c_str());
}

int CSession::sendClient(const std::string& text)
{
    try {
        const int sent = client.send(text.data(), static_cast<unsigned>(text.size()));
        logTraffic(128, ">c", text, false);
        return sent;
    } catch (...) {
        reportAndRethrow(__FILE__, __LINE__);
    }
}

int CSession::sendServer(const std::string& text, bool isPassword)
{
    try {
        const int sent = server.send(text.data(), static_cast<unsigned>(text.size()));
        serverActivityTick = CVDateTime::tickCount();
        logTraffic(64, ">s", text, isPassword);
        return sent;
    } catch (...) {
        reportAndRethrow(__FILE__, __LINE__);
    }
}

unsigned CSession::readClient(char* buf, unsigned size, bool& found, const char* terminator)
{
    try {
        const unsigned n = client.getline(buf, size, found, terminator);
        logTraffic(64, "<c", buf, ::strncasecmp(buf, "PASS", 4) == 0);
        return n;
    } catch (...) {
        reportAndRethrow(__FILE__, __LINE__);
    }
}

unsigned CSession::readServer(char* buf, unsigned size, bool& found, const char* terminator)
{
    try {
        const unsigned n = server.getline(buf, size, found, terminator);
        serverActivityTick = CVDateTime::tickCount();
        logTraffic(64, "<s", buf, false);
        return n;
    } catch (...) {
        reportAndRethrow(__FILE__, __LINE__);
    }
}

void CSession::status(const char* format, ...)
{
    if (!popupStatus)
        return;
    char text[64];   // at most 63 characters: longer texts are cut
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (MainWindowLink* link = mainWindowLink())
        link->statusText(text);
}

bool CSession::deleteFileRetry(const std::string& path)
{
    constexpr int kAttempts = 10;
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        if (::unlink(path.c_str()) == 0 || errno == ENOENT) {
            CEventLog().LogEvent(4, "Deleted %s", path.c_str());
            return true;
        }
        if (attempt < kAttempts)
            ::sched_yield();
    }
    CEventLog().LogEvent(1, "Unable to delete %s", path.c_str());
    return false;
}

void CSession::tidyOldLogs()
{
    try {
        const std::string folder = programContext().dataRoot + "/log";
        std::vector<std::string> old;
        const long now = CVDateTime::currentTime();
        for (CVDir it(folder.c_str(), "*.log"); !it.atEnd(); it.moveNext()) {
            std::string name = it.fileName();
            // "qf" or "sf", then YYMMDD, then ".log": nothing else is touched.
            std::string lower = name;
            for (char& c : lower)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (lower.size() != 12 || (lower.compare(0, 2, "qf") != 0 && lower.compare(0, 2, "sf") != 0) ||
                lower.compare(8, 4, ".log") != 0)
                continue;
            bool digits = true;
            for (size_t i = 2; i < 8; ++i)
                digits = digits && std::isdigit(static_cast<unsigned char>(lower[i]));
            if (!digits)
                continue;
            const int yy = std::stoi(lower.substr(2, 2));
            const int mm = std::stoi(lower.substr(4, 2));
            const int dd = std::stoi(lower.substr(6, 2));
            const CVDateTime date(yy < 50 ? 2000 + yy : 1900 + yy, mm, dd, 0, 0, 0);
            if (date.daysTo(now) > tidyLogDays)
                old.push_back(folder + "/" + name);
        }
        for (const std::string& path : old)
            deleteFileRetry(path);
    } catch (...) {
        DebugX(__FILE__, __LINE__);
    }
}
