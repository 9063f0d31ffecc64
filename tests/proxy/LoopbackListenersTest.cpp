// The listening sockets: 127.0.0.1 and ::1 at one port and on no other
// address, ::1 given up without failing when it cannot be had.
#include "proxy/LoopbackListeners.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <string>

namespace {

// A connected socket to address (either family) at port, or an empty fd.
UniqueFd connectTo(const char* address, int port)
{
    sockaddr_storage where{};
    socklen_t length = 0;
    if (std::string(address).find(':') != std::string::npos) {
        auto& v6 = reinterpret_cast<sockaddr_in6&>(where);
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(static_cast<uint16_t>(port));
        ::inet_pton(AF_INET6, address, &v6.sin6_addr);
        length = sizeof v6;
    } else {
        auto& v4 = reinterpret_cast<sockaddr_in&>(where);
        v4.sin_family = AF_INET;
        v4.sin_port = htons(static_cast<uint16_t>(port));
        ::inet_pton(AF_INET, address, &v4.sin_addr);
        length = sizeof v4;
    }
    UniqueFd fd(::socket(where.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&where), length) != 0)
        fd.reset();
    return fd;
}

// The address a socket is bound to, as text.
std::string localAddress(int fd)
{
    sockaddr_storage own{};
    socklen_t length = sizeof own;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&own), &length);
    char text[INET6_ADDRSTRLEN] = "";
    if (own.ss_family == AF_INET)
        ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in&>(own).sin_addr, text, sizeof text);
    else
        ::inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6&>(own).sin6_addr, text, sizeof text);
    return text;
}

bool machineHasIpv6Loopback()
{
    UniqueFd probe(::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    v6.sin6_addr = in6addr_loopback;
    return probe && ::bind(probe.get(), reinterpret_cast<sockaddr*>(&v6), sizeof v6) == 0;
}

TEST(LoopbackListeners, ServeBothLoopbackAddressesAtOnePort)
{
    if (!machineHasIpv6Loopback())
        GTEST_SKIP() << "this machine has no ::1";
    LoopbackListeners listeners;
    int error = -1;
    std::string trouble = "unset";
    ASSERT_TRUE(listeners.open(0, error, trouble));
    EXPECT_EQ(trouble, "");
    EXPECT_TRUE(listeners.servesIpv6());
    ASSERT_GT(listeners.port(), 0);
    for (const char* address : {"127.0.0.1", "::1"}) {
        UniqueFd client = connectTo(address, listeners.port());
        ASSERT_TRUE(client) << address;
        UniqueFd served(listeners.accept(2000));
        ASSERT_TRUE(served) << address;
        EXPECT_EQ(localAddress(served.get()), address);
    }
    EXPECT_EQ(listeners.accept(50), -1) << "nobody else is waiting";
}

TEST(LoopbackListeners, AreNotReachedThroughAnyOtherAddress)
{
    LoopbackListeners listeners;
    int error = 0;
    std::string trouble;
    ASSERT_TRUE(listeners.open(0, error, trouble));
    // Another address of the loopback network: a socket bound to every
    // address would answer there too.
    EXPECT_FALSE(connectTo("127.0.0.2", listeners.port()));
}

TEST(LoopbackListeners, ATakenIpv4PortFailsAndATakenIpv6OneIsOnlyReported)
{
    LoopbackListeners first;
    int error = 0;
    std::string trouble;
    ASSERT_TRUE(first.open(0, error, trouble));

    LoopbackListeners second;
    EXPECT_FALSE(second.open(first.port(), error, trouble));
    EXPECT_EQ(error, EADDRINUSE);
    EXPECT_EQ(second.accept(10), -1) << "nothing listens after a failure";

    if (!machineHasIpv6Loopback())
        GTEST_SKIP() << "this machine has no ::1";
    // Only ::1 of a port taken: 127.0.0.1 is served alone.
    UniqueFd v6(::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
    int on = 1;
    ::setsockopt(v6.get(), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    ASSERT_EQ(::bind(v6.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(v6.get(), 1), 0);
    socklen_t length = sizeof address;
    ::getsockname(v6.get(), reinterpret_cast<sockaddr*>(&address), &length);
    const int port = ntohs(address.sin6_port);
    LoopbackListeners third;
    if (!third.open(port, error, trouble))
        GTEST_SKIP() << "the port is taken on 127.0.0.1 as well";
    EXPECT_FALSE(third.servesIpv6());
    EXPECT_NE(trouble, "");
    UniqueFd client = connectTo("127.0.0.1", port);
    ASSERT_TRUE(client);
    EXPECT_GE(UniqueFd(third.accept(2000)).get(), 0);
}

TEST(LoopbackListeners, RefuseAPortOutsideTheRange)
{
    LoopbackListeners listeners;
    int error = 0;
    std::string trouble;
    EXPECT_FALSE(listeners.open(65536, error, trouble));
    EXPECT_EQ(error, EINVAL);
    EXPECT_FALSE(listeners.open(-1, error, trouble));
    EXPECT_EQ(error, EINVAL);
}

} // namespace
