// peerOwner on real connections: the owner of either end of a loopback
// connection made here is this process's user, over IPv4 and IPv6; a client
// run as another user is told as that user; what is not a connected TCP
// socket, or a peer that has closed its socket, has no owner.
#include "common/PeerOwner.h"
#include "common/UniqueFd.h"

#include "support/Loopback.h"
#include "support/OtherUser.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// Both ends of a TCP connection on the loopback address of family.
struct Connection {
    UniqueFd connecting;
    UniqueFd accepted;
};

std::optional<Connection> loopbackConnection(int family)
{
    UniqueFd listener(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_storage address{};
    socklen_t length;
    if (family == AF_INET) {
        auto& v4 = reinterpret_cast<sockaddr_in&>(address);
        v4.sin_family = AF_INET;
        v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof v4;
    } else {
        auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
        v6.sin6_family = AF_INET6;
        v6.sin6_addr = in6addr_loopback;
        length = sizeof v6;
    }
    if (!listener || ::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener.get(), 1) != 0 ||
        ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return std::nullopt;
    Connection connection;
    connection.connecting.reset(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (::connect(connection.connecting.get(), reinterpret_cast<sockaddr*>(&address), length) != 0)
        return std::nullopt;
    connection.accepted.reset(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!connection.accepted)
        return std::nullopt;
    return connection;
}

struct FamilyRow {
    const char* name;
    int family;
};

void PrintTo(const FamilyRow& row, std::ostream* out)
{
    *out << row.name;
}

class PeerOwnerOfOwnConnection : public ::testing::TestWithParam<FamilyRow>
{};

TEST_P(PeerOwnerOfOwnConnection, IsThisProcesssUserFromEitherEnd)
{
    std::optional<Connection> connection = loopbackConnection(GetParam().family);
    if (!connection)
        GTEST_SKIP() << "no " << GetParam().name << " loopback connection on this machine";
    for (const int fd : {connection->accepted.get(), connection->connecting.get()}) {
        SCOPED_TRACE(fd == connection->accepted.get() ? "the accepted end" : "the connecting end");
        std::string why;
        const std::optional<uid_t> owner = peerOwner(fd, why);
        ASSERT_TRUE(owner.has_value()) << why;
        EXPECT_EQ(*owner, ::geteuid());
    }
}

INSTANTIATE_TEST_SUITE_P(Families, PeerOwnerOfOwnConnection,
                         ::testing::Values(FamilyRow{"IPv4", AF_INET}, FamilyRow{"IPv6", AF_INET6}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PeerOwner, NoOwnerOnceThePeerHasClosedItsSocket)
{
    std::optional<Connection> connection = loopbackConnection(AF_INET);
    ASSERT_TRUE(connection.has_value());
    connection->connecting.reset();
    std::string why;
    const std::optional<uid_t> owner = peerOwner(connection->accepted.get(), why);
    EXPECT_FALSE(owner.has_value()) << "got uid " << *owner << " for a closed socket";
    EXPECT_EQ(why, "the connecting socket has been closed");
}

TEST(PeerOwner, IsToldForAClientOfAnotherUser)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root: a client is run as the user " << kOtherUserName << " with runuser";
    std::string why;
    const std::optional<uid_t> other = otherTestUser(why);
    ASSERT_TRUE(other.has_value()) << why;
    ASSERT_NE(*other, ::geteuid());

    LoopbackListener listener;
    const std::unique_ptr<Subprocess> client = otherUserClient(listener.port(), false);
    std::string line;
    ASSERT_TRUE(client->readLine(line, 10000) && line == "connected") << "the client said '" << line << "'";
    UniqueFd accepted = listener.accept();
    ASSERT_TRUE(accepted);
    const std::optional<uid_t> owner = peerOwner(accepted.get(), why);
    ASSERT_TRUE(owner.has_value()) << why;
    EXPECT_EQ(*owner, *other) << "got uid " << *owner << ", want " << kOtherUserName << "'s " << *other;
}

TEST(PeerOwner, NoOwnerForWhatIsNotAConnectedTcpSocket)
{
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    const UniqueFd unixEnd(pair[0]), unixOther(pair[1]);
    int pipeEnds[2];
    ASSERT_EQ(::pipe2(pipeEnds, O_CLOEXEC), 0);
    const UniqueFd pipeRead(pipeEnds[0]), pipeWrite(pipeEnds[1]);
    const UniqueFd unconnected(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const UniqueFd datagram(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const struct {
        const char* name;
        int fd;
    } rows[] = {
        {"a Unix socket", unixEnd.get()},
        {"a pipe", pipeRead.get()},
        {"an unconnected TCP socket", unconnected.get()},
        {"a UDP socket", datagram.get()},
        {"a closed descriptor", -1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::string why;
        const std::optional<uid_t> owner = peerOwner(row.fd, why);
        EXPECT_FALSE(owner.has_value()) << "got uid " << *owner;
        EXPECT_FALSE(why.empty()) << "no reason given";
    }
}

} // namespace
