// The client's traffic and its log, and the status texts.
#include "proxy/CSession.h"

#include "common/CEventLog.h"
#include "proxy/MainWindowLink.h"

#include <strings.h>

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

// Pieces of a line are read into this much at a time.
constexpr unsigned kPiece = 4096;

} // namespace

void CSession::logTraffic(unsigned short level, const char* prefix, const std::string& text,
                          bool isPassword)
{
    std::string& copy = m_clientLogCopy;
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
