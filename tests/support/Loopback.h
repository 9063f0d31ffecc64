// Real loopback connections for socket tests: a Socket connected to a plain
// kernel socket that the test drives directly.
#pragma once

#include "common/Socket.h"
#include "common/UniqueFd.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

// A listening socket on 127.0.0.1 at a port the kernel picks.
class LoopbackListener
{
public:
    LoopbackListener()
    {
        m_fd.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (!m_fd || ::bind(m_fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(m_fd.get(), 16) != 0 ||
            ::getsockname(m_fd.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("cannot listen on loopback");
        m_port = ntohs(address.sin_port);
    }

    int port() const { return m_port; }
    UniqueFd accept() { return UniqueFd(::accept4(m_fd.get(), nullptr, nullptr, SOCK_CLOEXEC)); }
    int fd() const { return m_fd.get(); }

private:
    UniqueFd m_fd;
    int m_port = 0;
};

// A plain connection to 127.0.0.1:port; empty when it is refused.
inline UniqueFd dialLoopback(int port)
{
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd && ::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        fd.reset();
    return fd;
}

// A port on 127.0.0.1 that was free a moment ago.
inline int freeLoopbackPort()
{
    return LoopbackListener().port();
}

struct LoopbackPair {
    std::unique_ptr<Socket> socket;   // the side under test
    UniqueFd peer;                    // the kernel socket the test drives
};

inline LoopbackPair connectLoopback(int readTimeout = 5000, int writeTimeout = 5000)
{
    LoopbackListener listener;
    LoopbackPair pair;
    pair.socket = std::make_unique<Socket>(1, 0, readTimeout, writeTimeout);
    if (pair.socket->connect("127.0.0.1", listener.port()) != 0)
        throw std::runtime_error("cannot connect on loopback");
    pair.peer = listener.accept();
    return pair;
}

inline void sendAll(int fd, const std::string& data)
{
    size_t sent = 0;
    while (sent < data.size()) {
        ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            throw std::runtime_error("peer send failed");
        sent += static_cast<size_t>(n);
    }
}

// Sends data in pieces of exactly chunk bytes as the reader sees them: the
// next piece goes out only when the reader (whose descriptor is readerFd)
// has taken everything queued so far.  Gives up after a few seconds.
inline void sendInChunks(int peerFd, int readerFd, const std::string& data, size_t chunk)
{
    for (size_t pos = 0; pos < data.size(); pos += chunk) {
        sendAll(peerFd, data.substr(pos, chunk));
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        for (;;) {
            int queued = 0;
            ::ioctl(readerFd, FIONREAD, &queued);
            if (queued == 0 || std::chrono::steady_clock::now() > deadline)
                break;
            std::this_thread::yield();
        }
    }
}
