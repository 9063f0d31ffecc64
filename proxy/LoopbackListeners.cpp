#include "proxy/LoopbackListeners.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr int kBacklog = 16;

// A listening socket on address (of its family) at port; -1 with errno set.
int listenOn(const sockaddr* address, socklen_t length)
{
    UniqueFd fd(::socket(address->sa_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd)
        return -1;
    int on = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (address->sa_family == AF_INET6)
        ::setsockopt(fd.get(), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    if (::bind(fd.get(), address, length) != 0 || ::listen(fd.get(), kBacklog) != 0) {
        const int error = errno;
        fd.reset();
        errno = error;   // the caller reports the bind's or the listen's
        return -1;
    }
    return fd.release();
}

} // namespace

bool LoopbackListeners::open(int port, int& error, std::string& ipv6Trouble)
{
    m_sockets.clear();
    m_port = 0;
    error = 0;
    ipv6Trouble.clear();
    if (port < 0 || port > 65535) {
        error = EINVAL;
        return false;
    }
    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    v4.sin_port = htons(static_cast<uint16_t>(port));
    v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    UniqueFd first(listenOn(reinterpret_cast<sockaddr*>(&v4), sizeof v4));
    if (!first) {
        error = errno;
        return false;
    }
    socklen_t length = sizeof v4;
    if (::getsockname(first.get(), reinterpret_cast<sockaddr*>(&v4), &length) != 0) {
        error = errno;
        return false;
    }
    m_port = ntohs(v4.sin_port);
    m_sockets.push_back(std::move(first));

    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(static_cast<uint16_t>(m_port));
    v6.sin6_addr = in6addr_loopback;
    UniqueFd second(listenOn(reinterpret_cast<sockaddr*>(&v6), sizeof v6));
    if (second)
        m_sockets.push_back(std::move(second));
    else
        ipv6Trouble = std::strerror(errno);
    return true;
}

int LoopbackListeners::accept(int ms)
{
    pollfd entries[2] = {};
    const size_t count = m_sockets.size();
    if (count == 0)
        return -1;
    for (size_t i = 0; i < count; ++i)
        entries[i] = {m_sockets[i].get(), POLLIN, 0};
    if (::poll(entries, count, ms) <= 0)
        return -1;
    // Each address in turn, so that a flood on one never starves the other.
    for (size_t k = 0; k < count; ++k) {
        const size_t i = (m_next + k) % count;
        if (!(entries[i].revents & POLLIN))
            continue;
        m_next = (i + 1) % count;
        int fd;
        do {
            fd = ::accept4(m_sockets[i].get(), nullptr, nullptr, SOCK_CLOEXEC);
        } while (fd < 0 && errno == EINTR);
        return fd;
    }
    return -1;
}
