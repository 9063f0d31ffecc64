// Socket: one stream socket (IPv4, or IPv6 once connected to an IPv6
// address) with a 4096-byte receive buffer, line reading, complete sends,
// per-direction time-outs, byte counters, and TLS on request (startTls):
// every read and write then goes through the TLS session.
//
// Data-path errors are thrown as plain integers, told apart by type:
//   int            errno of a failed receive, send or readiness wait
//   unsigned long  errno of socket creation, accept or shutdown
//   long 10057     the peer closed the connection (kNotConnected)
//   long 10060     a readiness wait ran out its time-out (kTimedOut)
//   long 10004     the calling worker thread was asked to stop
//                  (kInterrupted; see CWorkerThread)
// Set-up calls (connect, bind, listen, reset, options) return -1 instead.
// A send to a peer that has gone raises int EPIPE; it never raises SIGPIPE.
//
// Time-outs are in milliseconds; 0 waits without limit (still ending on a
// stop request).  A deadline (setDeadline) bounds every wait further: each
// waits at most until then, whatever its time-out, so that a peer that
// sends a byte now and then cannot stretch a whole exchange.  A Socket is
// used by one thread at a time.
//
// Handles: the constructor from another Socket and operator= share the
// other's handle.  A shared handle belongs to all the Sockets holding it and
// is shut down and closed once, by the last of them to let it go.
#pragma once

#include "common/CommonExport.h"
#include "common/TlsChannel.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <memory>

using SocketHandle = int;
inline constexpr SocketHandle kInvalidSocket = -1;

class COMMONKIT_API Socket
{
public:
    static constexpr unsigned RECVBUF_SIZE = 4096;
    static constexpr long kNotConnected = 10057;
    static constexpr long kTimedOut = 10060;
    static constexpr long kInterrupted = 10004;
    // getLastError() after a connect whose host name could not be resolved.
    static constexpr int kHostNotFound = 11001;
    static constexpr int kDefaultTimeoutMs = 60000;
    // A graceful disconnect reads and discards at most this much of what the
    // peer still sends: a peer that never stops cannot hold it for ever.
    static constexpr int kMaxDrainBytes = 1 << 20;

    enum Command { SetNonBlocking = 0, BytesReadable = 1, AtMark = 2 };

    // A new socket (type 1 is a stream socket); throws unsigned long errno.
    explicit Socket(int type = 1, int protocol = 0, int readTimeout = kDefaultTimeoutMs,
                    int writeTimeout = kDefaultTimeoutMs);
    // Shares other's handle; nothing of other's buffer is taken.
    Socket(const Socket& other, int readTimeout = kDefaultTimeoutMs,
           int writeTimeout = kDefaultTimeoutMs);
    // Adopts handle (for example an accepted connection).
    Socket(const SocketHandle& handle, bool connected, int readTimeout = kDefaultTimeoutMs,
           int writeTimeout = kDefaultTimeoutMs);
    // Disconnects and closes when this is the handle's last holder; never
    // throws, however the drain ends.
    ~Socket();

    Socket& operator=(const Socket& other);

    // disconnect, close, and open a fresh socket; 0 or -1.  Unread bytes,
    // counters and the connected flag stay.
    int reset(int type = 1, int protocol = 0);
    // Lets go of the current handle and adopts handle.
    void socket(SocketHandle handle, bool connected);
    SocketHandle socket() const;
    operator SocketHandle() const { return socket(); }

    // Binds to port on address (dotted; null for every local address).
    int bind(int port, const char* address = nullptr);
    int listen();
    // The accepted connection's handle; throws unsigned long errno.
    SocketHandle accept(sockaddr* addr, int* addrlen);
    // host: an IPv4 or IPv6 address or a name (IPv4 or IPv6 addresses, tried
    // in the resolver's order); 0, or -1 when it cannot be resolved or
    // reached (getLastError() then tells why: kHostNotFound, EINVAL for a
    // port outside 0..65535, else the connect's errno).  Waits at most the
    // write time-out (when set) per address and ends early with -1 on a
    // stop request.
    int connect(const char* host, int port, const char* protocol = nullptr);
    int connect(const char* host, const char* service, const char* protocol = nullptr);
    int shutdown(int how);
    // Starts TLS on the connected socket (the client's side) and waits, per
    // step, at most the time-outs for the handshake.  False with error, a
    // sentence for the user, when it fails or when the peer had sent
    // anything not yet read (which must not pass for protected data).
    bool startTls(const TlsOptions& options, std::string& error);
    bool secure() const { return static_cast<bool>(m_tls); }
    // Shuts down sending and reads until the peer closes: 0 then, -1 when a
    // receive fails or kMaxDrainBytes were drained; a silent peer raises
    // long kTimedOut.  Does nothing (0) unless connected.
    int disconnect();

    // The next byte; throws as described above.
    char get();
    // Reads one line into buf (size bytes, NUL included, at least 1) up to
    // terminator, which is not stored.  found tells whether the terminator
    // was met; a line longer than size - 1 comes back cut (found false) and
    // continues at the next call.  A cut piece never ends with the start of
    // the terminator: those bytes come first in the next piece, so a
    // terminator is always found whole.  Returns the number of bytes stored.
    unsigned getline(char* buf, unsigned size, bool& found, const char* terminator = "\r\n");
    // One raw receive into recvBuffer(); the count, or -1.
    int recv();
    const char* recvBuffer() const { return m_recvBuf.get(); }

    // Sends all len bytes; returns len.  Throws int errno.
    int send(const char* data, unsigned len);
    int send(const char* text);
    int write(const char* data, int len);
    Socket& operator<<(const char* text);
    Socket& operator<<(char c);
    Socket& operator<<(int value);
    Socket& operator<<(long value);
    Socket& operator<<(unsigned value);
    Socket& operator<<(unsigned long value);

    void SetTimeout(int readMs, int writeMs);
    // From now on every readiness wait (reads, sends, connect, the TLS
    // handshake, the drain of a disconnect) ends by when at the latest and
    // then raises long kTimedOut (connect and startTls report it their
    // way); one already past lets only what is ready at once through.  Kept
    // across reset and connect, until clearDeadline.
    void setDeadline(std::chrono::steady_clock::time_point when);
    void clearDeadline();
    // A deadline is set and has passed.
    bool deadlinePassed() const;
    int GetBytesIn() const { return m_bytesIn; }
    int GetBytesOut() const { return m_bytesOut; }
    void ResetBytesIn() { m_bytesIn = 0; }
    void ResetBytesOut() { m_bytesOut = 0; }
    bool isbuffered() const { return !empty(); }
    // A whole line (up to its LF) is waiting in the buffer: the next
    // getline returns it without waiting for the network.
    bool hasBufferedLine() const;
    bool connected() const { return m_connected; }

    int getLastError() const;
    int getopt(int level, int name, char* value, int* len) const;
    int setopt(int level, int name, char* value, int len) const;
    int ioctlsocket(Command cmd, unsigned long* arg);

    static unsigned long _htonl(unsigned long value);
    static unsigned short _htons(unsigned short value);
    static unsigned long _ntohl(unsigned long value);
    static unsigned short _ntohs(unsigned short value);
    static unsigned long inet_addr(const char* text);
    static const char* inet_ntoa(in_addr address);

private:
    struct Handle;   // closes its descriptor when the last holder lets go

    bool empty() const { return m_readPos == m_readEnd; }
    unsigned unreadlen() const { return m_readEnd - m_readPos; }
    void readtimeout() const;
    void writetimeout() const;
    void waitReady(short events, int timeoutMs) const;
    // Receives the next block into the empty buffer; throws like get().
    void refill();
    // One receive of up to size bytes, waiting (per the read time-out) only
    // when nothing is queued; the recv result.
    ssize_t receive(char* buffer, size_t size);
    void release();
    int connectTo(const sockaddr* address, socklen_t length);
    // Waits as a TLS step asks (readable or writable).
    void waitFor(TlsChannel::Result want) const;

    std::unique_ptr<char[]> m_recvBuf;
    unsigned m_readPos = 0;
    unsigned m_readEnd = 0;
    std::shared_ptr<Handle> m_socket;
    int m_readTimeout;
    int m_writeTimeout;
    int m_bytesIn = 0;
    int m_bytesOut = 0;
    bool m_connected = false;
    bool m_hasDeadline = false;
    std::chrono::steady_clock::time_point m_deadline;
    std::unique_ptr<TlsChannel> m_tls;
};
