#include "upstream/UpstreamConnection.h"

#include "common/CEventLog.h"
#include "common/CVDateTime.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <strings.h>

#include <algorithm>

namespace {

// Any failure of the connection becomes UpstreamLost; a stop request stays
// what it is.
[[noreturn]] void connectionFailed()
{
    try {
        throw;
    } catch (long code) {
        if (code == Socket::kInterrupted)
            throw;
        throw UpstreamLost{code};
    } catch (int error) {
        throw UpstreamLost{error};
    } catch (unsigned long error) {
        throw UpstreamLost{static_cast<long>(error)};
    }
}

// Pieces of a reply line are read into this much at a time.
constexpr unsigned kPiece = 4096;

} // namespace

UpstreamConnection::UpstreamConnection()
    : m_socket(1, 0, kTimeoutMs, kTimeoutMs), m_activityTick(CVDateTime::tickCount())
{
    noDelay();
}

void UpstreamConnection::noDelay()
{
    // Short commands go out at once, not after the peer's delayed
    // acknowledgement.
    int on = 1;
    m_socket.setopt(IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<char*>(&on), sizeof on);
}

int UpstreamConnection::connect(const std::string& host, int port)
{
    if (m_socket.connect(host.c_str(), port) != 0)
        return -1;
    m_connected = true;
    touched();
    return 0;
}

bool UpstreamConnection::startTls(const TlsOptions& options, std::string& error)
{
    return m_socket.startTls(options, error);
}

void UpstreamConnection::touched()
{
    m_activityTick = CVDateTime::tickCount();
}

uint32_t UpstreamConnection::idleMs() const
{
    return static_cast<uint32_t>(CVDateTime::tickCount() - m_activityTick);
}

void UpstreamConnection::log(const char* prefix, const std::string& text, bool isPassword)
{
    m_logCopy.assign(text, 0, text.find('\r'));
    if (isPassword)
        CEventLog().LogEvent(64, "%s %s<secret>", prefix, ::strncasecmp(m_logCopy.c_str(), "PASS ", 5) == 0 ? "PASS " : "");
    else
        CEventLog().LogEvent(64, "%s %s", prefix, m_logCopy.c_str());
}

void UpstreamConnection::send(const std::string& text, bool isPassword)
{
    try {
        m_socket.send(text.data(), static_cast<unsigned>(text.size()));
    } catch (...) {
        connectionFailed();
    }
    touched();
    log(">s", text, isPassword);
    if (m_hook)
        m_hook();
}

std::string UpstreamConnection::readLine(size_t maxLength)
{
    std::string line;
    char piece[kPiece];
    bool found = false;
    size_t total = 0;
    try {
        do {
            const unsigned n = m_socket.getline(piece, sizeof piece, found, "\n");
            total += n;
            if (line.size() <= maxLength)
                line.append(piece, std::min<size_t>(n, maxLength + 1 - line.size()));
        } while (!found);
    } catch (...) {
        connectionFailed();
    }
    touched();
    if (!line.empty() && line.back() == '\r' && line.size() == total)
        line.pop_back();
    line.resize(std::min(line.size(), maxLength));
    log("<s", line, false);
    if (m_hook)
        m_hook();
    return line;
}

unsigned UpstreamConnection::readPiece(char* buf, unsigned room, bool& complete)
{
    unsigned length = 0;
    try {
        if (m_pendingCR) {
            buf[length++] = '\r';
            m_pendingCR = false;
        }
        length += m_socket.getline(buf + length, room + 1 - length, complete, "\n");
    } catch (...) {
        connectionFailed();
    }
    touched();
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
    if (m_hook)
        m_hook();
    return length;
}

void UpstreamConnection::drop()
{
    m_socket.SetTimeout(1, 1);
    m_socket.reset(1, 0);
    m_socket.SetTimeout(kTimeoutMs, kTimeoutMs);
    noDelay();
    m_pendingCR = false;
    m_connected = false;
}

void UpstreamConnection::close(int drainMs)
{
    m_socket.SetTimeout(drainMs, drainMs);
    m_socket.reset(1, 0);
}
