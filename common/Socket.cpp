#include "common/Socket.h"

#include "common/StopToken.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

struct Socket::Handle {
    explicit Handle(int descriptor) : fd(descriptor) {}
    ~Handle()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    int fd;
};

namespace {

// Counters wrap like the 32-bit values they are, without signed overflow.
void addCount(int& counter, long n)
{
    counter = static_cast<int>(static_cast<unsigned>(counter) + static_cast<unsigned long>(n));
}

int newSocket(int type, int protocol)
{
    return ::socket(AF_INET, type | SOCK_CLOEXEC, protocol);
}

} // namespace

Socket::Socket(int type, int protocol, int readTimeout, int writeTimeout)
    : m_recvBuf(new char[RECVBUF_SIZE]), m_readTimeout(readTimeout), m_writeTimeout(writeTimeout)
{
    const int fd = newSocket(type, protocol);
    if (fd < 0)
        throw static_cast<unsigned long>(errno);
    m_socket = std::make_shared<Handle>(fd);
}

Socket::Socket(const Socket& other, int readTimeout, int writeTimeout)
    : m_recvBuf(new char[RECVBUF_SIZE]), m_socket(other.m_socket), m_readTimeout(readTimeout),
      m_writeTimeout(writeTimeout), m_connected(other.m_connected)
{}

Socket::Socket(const SocketHandle& handle, bool connected, int readTimeout, int writeTimeout)
    : m_recvBuf(new char[RECVBUF_SIZE]), m_readTimeout(readTimeout), m_writeTimeout(writeTimeout),
      m_connected(connected)
{
    if (handle != kInvalidSocket)
        m_socket = std::make_shared<Handle>(handle);
}

Socket::~Socket()
{
    release();
}

void Socket::release()
{
    if (m_socket && m_socket.use_count() == 1) {
        try {
            disconnect();
        } catch (...) {
            // A peer that will not close, or has gone: the handle is closed
            // all the same.
        }
    }
    m_tls.reset();
    m_socket.reset();
}

Socket& Socket::operator=(const Socket& other)
{
    if (this == &other)
        return *this;
    std::shared_ptr<Handle> keep = other.m_socket;   // other may share ours
    release();
    m_readPos = m_readEnd = 0;
    m_socket = std::move(keep);
    m_connected = other.m_connected;
    return *this;
}

int Socket::reset(int type, int protocol)
{
    if (m_socket && m_socket.use_count() == 1) {
        try {
            disconnect();
        } catch (...) {
            // The connection is being dropped either way.
        }
        m_tls.reset();
        const int fd = m_socket->fd;
        m_socket->fd = -1;
        m_socket.reset();
        if (fd >= 0 && ::close(fd) != 0)
            return -1;
    }
    m_tls.reset();
    m_socket.reset();
    const int fd = newSocket(type, protocol);
    if (fd < 0)
        return -1;
    m_socket = std::make_shared<Handle>(fd);
    return 0;
}

void Socket::socket(SocketHandle handle, bool connected)
{
    m_tls.reset();
    m_socket.reset();
    if (handle != kInvalidSocket)
        m_socket = std::make_shared<Handle>(handle);
    m_connected = connected;
}

SocketHandle Socket::socket() const
{
    return m_socket ? m_socket->fd : kInvalidSocket;
}

int Socket::bind(int port, const char* address)
{
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<uint16_t>(port));
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (address && ::inet_pton(AF_INET, address, &local.sin_addr) != 1)
        return -1;
    return ::bind(socket(), reinterpret_cast<sockaddr*>(&local), sizeof local);
}

int Socket::listen()
{
    return ::listen(socket(), 5);
}

SocketHandle Socket::accept(sockaddr* addr, int* addrlen)
{
    socklen_t length = (addr && addrlen) ? static_cast<socklen_t>(*addrlen) : 0;
    int fd;
    do {
        fd = ::accept4(socket(), addr, addr ? &length : nullptr, SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        throw static_cast<unsigned long>(errno);
    if (addr && addrlen)
        *addrlen = static_cast<int>(length);
    return fd;
}

int Socket::connect(const char* host, int port, const char* /*protocol*/)
{
    if (host == nullptr || port < 0 || port > 65535) {
        errno = EINVAL;
        return -1;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (::getaddrinfo(host, service.c_str(), &hints, &found) != 0 || found == nullptr) {
        errno = kHostNotFound;
        return -1;
    }
    int rc = -1;
    int error = EHOSTUNREACH;
    for (addrinfo* address = found; address != nullptr && rc != 0; address = address->ai_next) {
        rc = connectTo(address->ai_addr, address->ai_addrlen);
        if (rc != 0)
            error = errno;
        if (StopToken::requested())
            break;
    }
    ::freeaddrinfo(found);
    if (rc != 0)
        errno = error;
    return rc;
}

int Socket::connect(const char* host, const char* service, const char* protocol)
{
    if (service == nullptr)
        return -1;
    char* end = nullptr;
    const long number = std::strtol(service, &end, 10);
    if (*service != '\0' && *end == '\0')
        return connect(host, static_cast<int>(number), protocol);
    servent entry{};
    servent* result = nullptr;
    char buffer[1024];
    if (::getservbyname_r(service, protocol, &entry, buffer, sizeof buffer, &result) != 0 ||
        result == nullptr)
        return -1;
    return connect(host, ntohs(static_cast<uint16_t>(result->s_port)), protocol);
}

int Socket::connectTo(const sockaddr* address, socklen_t length)
{
    // A socket of the address's family: a fresh one when the family differs
    // or an earlier attempt used this one up.
    int fd = socket();
    sockaddr_storage own{};
    socklen_t ownLength = sizeof own;
    if (fd < 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&own), &ownLength) != 0 ||
        own.ss_family != address->sa_family || m_connected) {
        const int fresh = ::socket(address->sa_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fresh < 0)
            return -1;
        m_socket = std::make_shared<Handle>(fresh);
        m_connected = false;
        fd = fresh;
        int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)
        return -1;
    int rc = ::connect(fd, address, length);
    if (rc != 0 && errno == EINPROGRESS) {
        // Waited for in slices, so that a stop request is seen.
        try {
            waitReady(POLLOUT, m_writeTimeout);
            int error = 0;
            socklen_t errorLength = sizeof error;
            rc = ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &errorLength);
            if (rc == 0 && error != 0) {
                errno = error;
                rc = -1;
            }
        } catch (long) {
            errno = ETIMEDOUT;
            rc = -1;
        } catch (int error) {
            errno = error;
            rc = -1;
        }
    }
    const int saved = errno;
    ::fcntl(fd, F_SETFL, flags);
    errno = saved;
    if (rc != 0) {
        // A failed connect leaves the socket unusable for the next address.
        m_socket = std::make_shared<Handle>(::socket(address->sa_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
        errno = saved;
        return -1;
    }
    // A new connection starts with nothing unread from an earlier one.
    m_readPos = m_readEnd = 0;
    m_tls.reset();
    m_connected = true;
    return 0;
}

bool Socket::hasBufferedLine() const
{
    return !empty() && std::memchr(m_recvBuf.get() + m_readPos, '\n', unreadlen()) != nullptr;
}

bool Socket::startTls(const TlsOptions& options, std::string& error)
{
    if (!m_connected || socket() < 0) {
        error = "not connected";
        return false;
    }
    if (!empty()) {
        error = "the server " + options.host + " sent data before TLS began";
        return false;
    }
    const int fd = socket();
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) {
        error = "TLS cannot be set up";
        return false;
    }
    auto channel = std::make_unique<TlsChannel>(fd, options);
    if (!channel->ready(error))
        return false;
    try {
        for (;;) {
            const TlsChannel::Result step = channel->handshake(error);
            if (step == TlsChannel::Done)
                break;
            if (step == TlsChannel::Failed || step == TlsChannel::Closed)
                return false;
            waitFor(step);
        }
    } catch (long code) {
        if (code == kInterrupted)
            throw;
        error = "the TLS handshake with " + options.host + " timed out";
        return false;
    } catch (int number) {
        error = "the TLS handshake with " + options.host + " failed: " + std::strerror(number);
        return false;
    }
    m_tls = std::move(channel);
    return true;
}

void Socket::waitFor(TlsChannel::Result want) const
{
    if (want == TlsChannel::WantWrite)
        writetimeout();
    else
        readtimeout();
}

int Socket::shutdown(int how)
{
    if (::shutdown(socket(), how) != 0)
        throw static_cast<unsigned long>(errno);
    return 0;
}

int Socket::disconnect()
{
    if (!m_connected)
        return 0;
    if (m_tls) {
        m_tls->close();
        m_tls.reset();
    }
    if (::shutdown(socket(), SHUT_WR) != 0)
        return -1;
    char scratch[128];
    long drained = 0;
    for (;;) {
        readtimeout();
        const ssize_t n = ::recv(socket(), scratch, sizeof scratch, 0);
        if (n == 0)
            return 0;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        addCount(m_bytesIn, n);
        drained += n;
        if (drained > kMaxDrainBytes)
            return -1;
    }
}

void Socket::waitReady(short events, int timeoutMs) const
{
    if (StopToken::requested())
        throw kInterrupted;
    const int fd = socket();
    if (fd < 0)
        throw static_cast<int>(EBADF);
    const auto now = std::chrono::steady_clock::now();
    bool unlimited = timeoutMs <= 0;
    auto deadline = now + std::chrono::milliseconds(timeoutMs);
    if (m_hasDeadline && (unlimited || m_deadline < deadline)) {
        deadline = m_deadline;
        unlimited = false;
    }
    for (;;) {
        int slice = StopToken::kSliceMs;
        if (!unlimited) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            slice = static_cast<int>(std::clamp<long>(left, 0, StopToken::kSliceMs));
        }
        pollfd entry{fd, events, 0};
        const int rc = ::poll(&entry, 1, slice);
        if (rc < 0) {
            if (errno == EINTR)
                continue;
            throw static_cast<int>(errno);
        }
        if (rc > 0)
            return;   // ready, or an error the receive or send will report
        if (StopToken::requested())
            throw kInterrupted;
        if (!unlimited && std::chrono::steady_clock::now() >= deadline)
            throw kTimedOut;
    }
}

void Socket::readtimeout() const
{
    waitReady(POLLIN, m_readTimeout);
}

void Socket::writetimeout() const
{
    waitReady(POLLOUT, m_writeTimeout);
}

ssize_t Socket::receive(char* buffer, size_t size)
{
    if (StopToken::requested())
        throw kInterrupted;
    if (m_tls) {
        // Records already received are read first; the socket is waited on
        // only when the session needs more of it.
        for (;;) {
            size_t got = 0;
            const TlsChannel::Result step = m_tls->read(buffer, size, got);
            if (step == TlsChannel::Done)
                return static_cast<ssize_t>(got);
            if (step == TlsChannel::Closed)
                return 0;
            if (step == TlsChannel::Failed)
                return -1;
            waitFor(step);
        }
    }
    // Data already queued needs no readiness wait: one system call less
    // per block when the peer keeps up.
    ssize_t n = ::recv(socket(), buffer, size, MSG_DONTWAIT);
    while (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        readtimeout();
        n = ::recv(socket(), buffer, size, MSG_DONTWAIT);
    }
    return n;
}

void Socket::refill()
{
    const ssize_t n = receive(m_recvBuf.get(), RECVBUF_SIZE);
    if (n < 0)
        throw static_cast<int>(errno);
    addCount(m_bytesIn, n);
    if (n == 0)
        throw kNotConnected;
    m_readPos = 0;
    m_readEnd = static_cast<unsigned>(n);
}

char Socket::get()
{
    if (empty())
        refill();
    return m_recvBuf[m_readPos++];
}

unsigned Socket::getline(char* buf, unsigned size, bool& found, const char* terminator)
{
    found = false;
    if (buf == nullptr || size == 0)
        return 0;
    if (size == 1) {
        buf[0] = '\0';
        return 0;
    }
    const size_t length = terminator ? std::strlen(terminator) : 0;
    unsigned count = 0;
    size_t matched = 0;
    for (;;) {
        if (empty())
            refill();
        const char* data = m_recvBuf.get();
        while (m_readPos < m_readEnd) {
            if (matched == 0 && length > 0) {
                // Bytes before the next possible terminator start are plain
                // data: copy the run at once, up to the room left.
                const unsigned room = size - 1 - count;
                const unsigned span = std::min(m_readEnd - m_readPos, room);
                const void* hit = std::memchr(data + m_readPos, terminator[0], span);
                const unsigned run =
                    hit ? static_cast<unsigned>(static_cast<const char*>(hit) - (data + m_readPos))
                        : span;
                std::memcpy(buf + count, data + m_readPos, run);
                count += run;
                m_readPos += run;
                if (count == size - 1) {
                    buf[count] = '\0';
                    return count;
                }
                if (m_readPos == m_readEnd)
                    break;
            }
            const char c = data[m_readPos++];
            if (length > 0 && c == terminator[matched]) {
                if (++matched == length) {
                    found = true;
                    count -= static_cast<unsigned>(length - 1);
                    buf[count] = '\0';
                    return count;
                }
            } else {
                matched = (length > 0 && c == terminator[0]) ? 1 : 0;
            }
            buf[count++] = c;
            if (count == size - 1) {
                // A piece never ends inside the terminator: the start of one
                // that the buffer has no room to finish goes back to the
                // stream, so that the next piece holds it whole.
                if (matched > 0 && matched < count && m_readPos >= matched) {
                    m_readPos -= static_cast<unsigned>(matched);
                    count -= static_cast<unsigned>(matched);
                }
                buf[count] = '\0';
                return count;
            }
        }
    }
}

int Socket::recv()
{
    // Bytes already taken from the network come first, moved to the start
    // of the buffer, so that mixing recv with get never loses or reorders
    // data.
    if (!empty()) {
        const unsigned n = unreadlen();
        std::memmove(m_recvBuf.get(), m_recvBuf.get() + m_readPos, n);
        m_readPos = m_readEnd = 0;
        return static_cast<int>(n);
    }
    const ssize_t n = receive(m_recvBuf.get(), RECVBUF_SIZE);
    if (n > 0)
        addCount(m_bytesIn, n);
    return n < 0 ? -1 : static_cast<int>(n);
}

int Socket::send(const char* data, unsigned len)
{
    if (len == 0)
        return 0;
    if (StopToken::requested())
        throw kInterrupted;
    unsigned sent = 0;
    while (m_tls && sent < len) {
        size_t written = 0;
        const TlsChannel::Result step = m_tls->write(data + sent, len - sent, written);
        if (step == TlsChannel::Failed || step == TlsChannel::Closed)
            throw static_cast<int>(errno ? errno : EPIPE);
        if (step != TlsChannel::Done) {
            waitFor(step);
            continue;
        }
        addCount(m_bytesOut, static_cast<long>(written));
        sent += static_cast<unsigned>(written);
    }
    while (sent < len) {
        // Wait for room only when the socket has none.
        const ssize_t n = ::send(socket(), data + sent, len - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                writetimeout();
                continue;
            }
            throw static_cast<int>(errno);
        }
        addCount(m_bytesOut, n);
        sent += static_cast<unsigned>(n);
    }
    return static_cast<int>(len);
}

int Socket::send(const char* text)
{
    return send(text, text ? static_cast<unsigned>(std::strlen(text)) : 0);
}

int Socket::write(const char* data, int len)
{
    return send(data, len > 0 ? static_cast<unsigned>(len) : 0);
}

Socket& Socket::operator<<(const char* text)
{
    send(text);
    return *this;
}

Socket& Socket::operator<<(char c)
{
    send(&c, 1);
    return *this;
}

Socket& Socket::operator<<(int value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    return *this << text;
}

Socket& Socket::operator<<(long value)
{
    char text[24];
    std::snprintf(text, sizeof text, "%ld", value);
    return *this << text;
}

Socket& Socket::operator<<(unsigned value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%u", value);
    return *this << text;
}

Socket& Socket::operator<<(unsigned long value)
{
    char text[24];
    std::snprintf(text, sizeof text, "%lu", value);
    return *this << text;
}

void Socket::SetTimeout(int readMs, int writeMs)
{
    m_readTimeout = readMs;
    m_writeTimeout = writeMs;
}

void Socket::setDeadline(std::chrono::steady_clock::time_point when)
{
    m_deadline = when;
    m_hasDeadline = true;
}

void Socket::clearDeadline()
{
    m_hasDeadline = false;
}

bool Socket::deadlinePassed() const
{
    return m_hasDeadline && std::chrono::steady_clock::now() >= m_deadline;
}

int Socket::getLastError() const
{
    return errno;
}

int Socket::getopt(int level, int name, char* value, int* len) const
{
    socklen_t length = len ? static_cast<socklen_t>(*len) : 0;
    const int rc = ::getsockopt(socket(), level, name, value, &length);
    if (len)
        *len = static_cast<int>(length);
    return rc;
}

int Socket::setopt(int level, int name, char* value, int len) const
{
    return ::setsockopt(socket(), level, name, value, static_cast<socklen_t>(len));
}

int Socket::ioctlsocket(Command cmd, unsigned long* arg)
{
    const int fd = socket();
    switch (cmd) {
    case SetNonBlocking: {
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags < 0 || arg == nullptr)
            return -1;
        return ::fcntl(fd, F_SETFL, *arg ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK)) < 0 ? -1 : 0;
    }
    case BytesReadable:
    case AtMark: {
        int value = 0;
        if (arg == nullptr || ::ioctl(fd, cmd == BytesReadable ? FIONREAD : SIOCATMARK, &value) < 0)
            return -1;
        *arg = static_cast<unsigned long>(value);
        return 0;
    }
    }
    return ::ioctl(fd, static_cast<unsigned long>(cmd), arg);
}

unsigned long Socket::_htonl(unsigned long value) { return htonl(static_cast<uint32_t>(value)); }
unsigned short Socket::_htons(unsigned short value) { return htons(value); }
unsigned long Socket::_ntohl(unsigned long value) { return ntohl(static_cast<uint32_t>(value)); }
unsigned short Socket::_ntohs(unsigned short value) { return ntohs(value); }
unsigned long Socket::inet_addr(const char* text) { return ::inet_addr(text); }
const char* Socket::inet_ntoa(in_addr address) { return ::inet_ntoa(address); }
