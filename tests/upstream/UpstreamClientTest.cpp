// The upstream client's listings and message reading against a scripted
// peer on a real loopback connection: the script is written before the
// client reads, so the peer needs no thread.
#include "upstream/UpstreamClient.h"

#include "support/Loopback.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <string>
#include <vector>

namespace {

class Scripted : public ::testing::Test
{
protected:
    // Connects the client and has the peer send script.
    void serve(const std::string& script)
    {
        ASSERT_EQ(m_client.connect("127.0.0.1", m_listener.port()), 0);
        m_peer = m_listener.accept();
        ASSERT_EQ(::send(m_peer.get(), script.data(), script.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(script.size()));
    }

    LoopbackListener m_listener;
    UpstreamClient m_client;
    UniqueFd m_peer;   // closed first, so the client's close need not wait
};

TEST_F(Scripted, AListingFailsOnABadLineOrPastItsLimitAndARefusalIsNoListing)
{
    serve("+OK\r\n1 100\r\n2 x\r\n.\r\n"
          "+OK\r\n1 1\r\n2 2\r\n3 3\r\n.\r\n"
          "-ERR no\r\n");
    std::vector<long> sizes;
    const auto quiet = [](int, long) {};
    EXPECT_EQ(m_client.list(1000, 10, sizes, quiet), UpstreamClient::Listing::Malformed);
    EXPECT_EQ(sizes, std::vector<long>{100});
    // The rest of a failed listing is the caller's to drop with the connection.
    while (m_client.connection().readLine() != ".") {
    }
    sizes.clear();
    EXPECT_EQ(m_client.list(1000, 2, sizes, quiet), UpstreamClient::Listing::Malformed) << "past maxCount";
    while (m_client.connection().readLine() != ".") {
    }
    EXPECT_EQ(m_client.list(1000, 10, sizes, quiet), UpstreamClient::Listing::Refused);
}

TEST_F(Scripted, UidlMustNameEveryMessageOnceNoMoreNoFewer)
{
    serve("+OK\r\n1 a\r\n2 b\r\n.\r\n"
          "+OK\r\n1 a\r\n.\r\n"
          "+OK\r\n1 a\r\n2 b\r\n3 c\r\n.\r\n"
          "-ERR not here\r\n");
    const auto quiet = [](int) {};
    std::vector<std::string> ids;
    EXPECT_EQ(m_client.uidl(2, ids, quiet), UpstreamClient::Listing::Done);
    EXPECT_EQ(ids, (std::vector<std::string>{"a", "b"}));
    ids.clear();
    EXPECT_EQ(m_client.uidl(2, ids, quiet), UpstreamClient::Listing::Malformed) << "fewer";
    ids.clear();
    EXPECT_EQ(m_client.uidl(2, ids, quiet), UpstreamClient::Listing::Malformed) << "more";
    EXPECT_EQ(m_client.connection().readLine(), ".") << "the line past the count was read as the end";
    EXPECT_EQ(m_client.uidl(2, ids, quiet), UpstreamClient::Listing::Refused);
}

TEST_F(Scripted, AMessageEndsAtTheDotLineAfterAWholeLineAndLeavesNothingBehind)
{
    const std::string longLine(UpstreamClient::kPiece, 'x');
    serve("line\r\n..stuffed\r\n" + longLine + ".\r\nbare\n.\r\n+OK next\r\n");
    std::string text;
    int lasts = 0;
    m_client.readMessage([&](const char* piece, unsigned length, bool, bool last) {
        text.append(piece, length);
        lasts += last ? 1 : 0;
    });
    EXPECT_EQ(text, "line\r\n..stuffed\r\n" + longLine + ".\r\nbare\r\n.\r\n")
        << "a '.' that ends a long line is no end; a bare LF is made CR LF; stuffing stays";
    EXPECT_EQ(lasts, 1);
    EXPECT_EQ(m_client.connection().readLine(), "+OK next");
}

} // namespace
