// UpstreamConnection: the socket to the mail server, read and written by
// POP3 lines.
//
// Every send and every reply line is written to the traffic log (">s",
// "<s"; a password or token masked).  Any failure of the connection (dropped, timed
// out, a send refused) is raised as UpstreamLost; a stop request of the
// worker thread stays Socket::kInterrupted.  A reply line is read whole:
// what passes maxLength is read and dropped, so that it is never taken for
// the next reply.  Message lines are read in pieces (readPiece) with their
// line ends made CR LF.  One thread at a time.
#pragma once

#include "common/Socket.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

struct UpstreamLost {
    long error;   // the socket layer's number
};

class UpstreamConnection
{
public:
    // A reply line is passed on or examined up to this many characters.
    static constexpr size_t kMaxReplyLine = 2046;
    static constexpr int kTimeoutMs = 60000;

    UpstreamConnection();

    // 0, or -1 with lastError() (see Socket::connect).
    int connect(const std::string& host, int port);
    int lastError() const { return m_socket.getLastError(); }
    bool isConnected() const { return m_connected; }
    // The connection runs over TLS.
    bool secure() const { return m_socket.secure(); }
    // TLS on the connected socket; false with error, a sentence for the user.
    bool startTls(const TlsOptions& options, std::string& error);

    void send(const std::string& text, bool isPassword = false);
    std::string readLine(size_t maxLength = kMaxReplyLine);
    // The next piece of a message line: at most room bytes of it into buf
    // (which has room + 3 bytes), NUL-ended, with its line end, when
    // complete, made CR LF (a bare LF is taken as a line end).  Returns the
    // bytes stored.
    unsigned readPiece(char* buf, unsigned room, bool& complete);
    // A whole line waits in the buffer: the next read needs no network.
    bool hasBufferedLine() const { return m_socket.hasBufferedLine(); }

    // Called after every send and read while set (the collection keeps the
    // mail client's connection alive with it); empty to clear.
    void setActivityHook(std::function<void()> hook) { m_hook = std::move(hook); }
    // Milliseconds since the server last sent or was sent anything.
    uint32_t idleMs() const;

    // Every wait ends by when at the latest (see Socket::setDeadline).
    void setDeadline(std::chrono::steady_clock::time_point when) { m_socket.setDeadline(when); }
    void clearDeadline() { m_socket.clearDeadline(); }
    bool deadlinePassed() const { return m_socket.deadlinePassed(); }

    // Closes at once, without QUIT or drain (the server may be the one that
    // stopped answering); the connection can be made again.
    void drop();
    // At the session's end: waits at most drainMs for the server to close.
    void close(int drainMs);
    SocketHandle handle() const { return m_socket.socket(); }

private:
    void log(const char* prefix, const std::string& text, bool isPassword);
    void touched();
    void noDelay();

    Socket m_socket;
    bool m_connected = false;
    bool m_pendingCR = false;    // a piece ended in CR (readPiece)
    uint32_t m_activityTick = 0; // CVDateTime::tickCount()
    std::string m_logCopy;
    std::function<void()> m_hook;
};
