// The session's traffic log, status texts and log tidy.
#include "proxy/CSession.h"

#include "common/CEventLog.h"
#include "common/CVDateTime.h"
#include "common/DayFiles.h"
#include "common/ProgramContext.h"
#include "proxy/MainWindowLink.h"

#include <sched.h>
#include <strings.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <algorithm>

namespace {

// Errors on the way are passed on to the caller; only what is not a socket
// error (a client gone, a stop request) is a fault worth a trap.
[[noreturn]] void reportAndRethrow(const char* file, int line)
{
    try {
        throw;
    } catch (long) {
        throw;
    } catch (int) {
        throw;
    } catch (...) {
        DebugX(file, line);
        throw;
    }
}

// Any failure of the upstream connection becomes UpstreamLost; a stop
// request stays what it is.
[[noreturn]] void upstreamFailed()
{
    try {
        throw;
    } catch (long code) {
        if (code == Socket::kInterrupted)
            throw;
        throw CSession::UpstreamLost{code};
    } catch (int error) {
        throw CSession::UpstreamLost{error};
    }
}

// Pieces of a line are read into this much at a time.
constexpr unsigned kPiece = 4096;

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

bool CSession::isPasswordLine(const std::string& line)
{
    const size_t start = line.find_first_not_of(" \t");
    return start != std::string::npos && ::strncasecmp(line.c_str() + start, "PASS", 4) == 0;
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

void CSession::sendClientRaw(const char* data, size_t length)
{
    client.send(data, static_cast<unsigned>(length));
}

int CSession::sendServer(const std::string& text, bool isPassword)
{
    try {
        const int sent = server.send(text.data(), static_cast<unsigned>(text.size()));
        serverActivityTick = CVDateTime::tickCount();
        logTraffic(64, ">s", text, isPassword);
        return sent;
    } catch (...) {
        upstreamFailed();
    }
}

bool CSession::readClient(std::string& line)
{
    // A line ends at LF; the CR before it is dropped.  Clients that end
    // their lines with a bare LF are understood too.
    line.clear();
    char piece[kPiece];
    bool found = false;
    size_t total = 0;
    do {
        const unsigned n = client.getline(piece, sizeof piece, found, "\n");
        total += n;
        if (total <= kMaxClientLine + 1)
            line.append(piece, n);
    } while (!found);
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
        --total;
    }
    if (total > kMaxClientLine) {
        // Never logged: it may hold a password.
        line.clear();
        CEventLog().LogEvent(64, "<c (a line of %zu characters, refused)", total);
        return false;
    }
    logTraffic(64, "<c", line, isPasswordLine(line));
    return true;
}

unsigned CSession::readServerPiece(char* buf, unsigned room, bool& complete)
{
    try {
        unsigned length = 0;
        if (m_pendingCR) {
            buf[length++] = '\r';
            m_pendingCR = false;
        }
        length += server.getline(buf + length, room + 1 - length, complete, "\n");
        serverActivityTick = CVDateTime::tickCount();
        if (complete) {
            if (length > 0 && buf[length - 1] == '\r')
                --length;
            buf[length++] = '\r';
            buf[length++] = '\n';
        } else if (length > 0 && buf[length - 1] == '\r') {
            // It may be the start of the line end: kept for the next piece.
            m_pendingCR = true;
            --length;
        }
        buf[length] = '\0';
        return length;
    } catch (...) {
        upstreamFailed();
    }
}

std::string CSession::readServer(size_t maxLength)
{
    std::string line;
    char piece[kPiece];
    bool found = false;
    size_t total = 0;
    try {
        do {
            const unsigned n = server.getline(piece, sizeof piece, found, "\n");
            total += n;
            if (line.size() <= maxLength)
                line.append(piece, std::min<size_t>(n, maxLength + 1 - line.size()));
        } while (!found);
        serverActivityTick = CVDateTime::tickCount();
    } catch (...) {
        upstreamFailed();
    }
    if (!line.empty() && line.back() == '\r' && line.size() == total)
        line.pop_back();
    line.resize(std::min(line.size(), maxLength));
    logTraffic(64, "<s", line, false);
    return line;
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

void CSession::tidyOldLogs()
{
    // "qf" or "sf", then YYMMDD, then ".log": nothing else is touched.
    tidyDayFiles(programContext().dataRoot + "/log", {"qf", "sf"}, ".log", tidyLogDays);
}
