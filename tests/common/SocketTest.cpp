#include "common/Socket.h"
#include "common/SocketsAPI.h"

#include "support/Loopback.h"
#include "support/TestHelpers.h"

#include <fcntl.h>
#include <netinet/tcp.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <random>
#include <thread>

namespace {

std::string readLine(Socket& socket, unsigned size, bool& found)
{
    std::vector<char> buf(size, '#');
    const unsigned n = socket.getline(buf.data(), size, found, "\r\n");
    EXPECT_EQ(buf[n], '\0');
    return std::string(buf.data(), n);
}

template <typename T>
T thrown(const std::function<void()>& action)
{
    try {
        action();
    } catch (T value) {
        return value;
    } catch (...) {
        ADD_FAILURE() << "wrong exception type";
        return T{};
    }
    ADD_FAILURE() << "nothing thrown";
    return T{};
}

TEST(SocketLines, ReadsLinesWithoutTerminator)
{
    auto pair = connectLoopback();
    sendAll(pair.peer.get(), "+OK ready\r\n\r\nlast line\r\n");
    bool found = false;
    EXPECT_EQ(readLine(*pair.socket, 100, found), "+OK ready");
    EXPECT_TRUE(found);
    EXPECT_EQ(readLine(*pair.socket, 100, found), "");
    EXPECT_TRUE(found);
    EXPECT_EQ(readLine(*pair.socket, 100, found), "last line");
    EXPECT_TRUE(found);
    EXPECT_EQ(pair.socket->GetBytesIn(), 24);
}

TEST(SocketLines, EverySplitOfTheStreamGivesTheSameLines)
{
    const std::string script =
        "USER a@b\r\nPASS p\r\r\n\r\nline with \n inside\r\nRETR 1\r\n..stuffed\r\n.\r\n";
    const std::vector<std::string> expected = {"USER a@b", "PASS p\r", "", "line with \n inside",
                                               "RETR 1", "..stuffed", "."};
    for (size_t chunk = 1; chunk <= script.size(); ++chunk) {
        SCOPED_TRACE("pieces of " + std::to_string(chunk));
        auto pair = connectLoopback();
        std::thread peer(sendInChunks, pair.peer.get(), pair.socket->socket(), script, chunk);
        std::vector<std::string> lines;
        for (size_t i = 0; i < expected.size(); ++i) {
            bool found = false;
            lines.push_back(readLine(*pair.socket, 64, found));
            EXPECT_TRUE(found);
        }
        peer.join();
        EXPECT_EQ(lines, expected);
    }
}

TEST(SocketLines, LongLineIsCutAndContinues)
{
    auto pair = connectLoopback();
    sendAll(pair.peer.get(), "abcdefghij\r\n");
    bool found = true;
    EXPECT_EQ(readLine(*pair.socket, 6, found), "abcde");
    EXPECT_FALSE(found);
    EXPECT_EQ(readLine(*pair.socket, 6, found), "fghij");
    EXPECT_FALSE(found) << "cut again at size - 1, before the terminator is seen";
    EXPECT_EQ(readLine(*pair.socket, 6, found), "");
    EXPECT_TRUE(found);
}

TEST(SocketLines, CutNeverSplitsTheTerminator)
{
    auto pair = connectLoopback();
    sendAll(pair.peer.get(), "abcd\r\nxy\r\n");
    bool found = true;
    EXPECT_EQ(readLine(*pair.socket, 6, found), "abcd");
    EXPECT_FALSE(found);
    EXPECT_EQ(readLine(*pair.socket, 6, found), "");
    EXPECT_TRUE(found) << "the terminator comes whole in the next piece";
    EXPECT_EQ(readLine(*pair.socket, 6, found), "xy");
    EXPECT_TRUE(found);
}

// Lines of every length against every piece size: the pieces join to the
// line, only the last one has found set, and the line after it is intact.
TEST(SocketLines, EveryLengthAtEveryPieceSize)
{
    std::vector<std::string> lines;
    for (size_t length = 0; length <= 20; ++length)
        lines.push_back(std::string(length, static_cast<char>('a' + length % 26)));
    lines.push_back(".");
    std::string stream;
    for (const std::string& line : lines)
        stream += line + "\r\n";
    for (unsigned size = 3; size <= 9; ++size) {   // room for the terminator at least
        auto pair = connectLoopback();
        sendAll(pair.peer.get(), stream);
        for (const std::string& expected : lines) {
            SCOPED_TRACE("piece size " + std::to_string(size) + ", line length " +
                         std::to_string(expected.size()));
            std::string line;
            bool found = false;
            for (int pieces = 0; !found && pieces < 100; ++pieces) {
                const std::string piece = readLine(*pair.socket, size, found);
                EXPECT_TRUE(found || !piece.empty()) << "an empty piece that ends nothing";
                line += piece;
            }
            EXPECT_TRUE(found);
            EXPECT_EQ(line, expected);
        }
    }
}

TEST(SocketLines, CarriageReturnBeforeTerminatorIsData)
{
    auto pair = connectLoopback();
    sendAll(pair.peer.get(), "\r\r\n");
    bool found = false;
    EXPECT_EQ(readLine(*pair.socket, 10, found), "\r");
    EXPECT_TRUE(found);
}

TEST(SocketLines, OtherTerminators)
{
    auto pair = connectLoopback();
    sendAll(pair.peer.get(), "a.b..c...\n.\n");
    char buf[16];
    bool found = false;
    EXPECT_EQ(pair.socket->getline(buf, sizeof buf, found, ".."), 3u);
    EXPECT_STREQ(buf, "a.b");
    EXPECT_EQ(pair.socket->getline(buf, sizeof buf, found, ".."), 1u);
    EXPECT_STREQ(buf, "c");
    EXPECT_EQ(pair.socket->getline(buf, sizeof buf, found, "\n"), 1u);
    EXPECT_STREQ(buf, ".");
}

TEST(SocketLines, SizeOneReadsNothing)
{
    auto pair = connectLoopback(0, 0);
    char buf[1] = {'x'};
    bool found = true;
    EXPECT_EQ(pair.socket->getline(buf, 1, found, "\r\n"), 0u);
    EXPECT_EQ(buf[0], '\0');
    EXPECT_FALSE(found);
    EXPECT_EQ(pair.socket->GetBytesIn(), 0);
}

TEST(SocketErrors, PeerClosingDuringGetlineRaisesNotConnected)
{
    auto pair = connectLoopback();
    sendAll(pair.peer.get(), "partial line without end");
    pair.peer.reset();
    bool found = false;
    char buf[64];
    EXPECT_EQ(thrown<long>([&] { pair.socket->getline(buf, sizeof buf, found, "\r\n"); }),
              Socket::kNotConnected);
}

TEST(SocketErrors, SilentPeerRaisesTimedOut)
{
    auto pair = connectLoopback(200, 200);
    bool found = false;
    char buf[64];
    EXPECT_EQ(thrown<long>([&] { pair.socket->getline(buf, sizeof buf, found, "\r\n"); }),
              Socket::kTimedOut);
}

TEST(SocketErrors, ZeroTimeoutWaitsWithoutLimit)
{
    auto pair = connectLoopback(0, 0);
    std::thread late([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        sendAll(pair.peer.get(), "late\r\n");
    });
    bool found = false;
    EXPECT_EQ(readLine(*pair.socket, 16, found), "late");
    late.join();
}

TEST(SocketErrors, SendToAGonePeerRaisesAnErrorNotASignal)
{
    auto pair = connectLoopback();
    pair.peer.reset();
    const std::string block(64 * 1024, 'x');
    const int error = thrown<int>([&] {
        for (int i = 0; i < 100; ++i)
            pair.socket->send(block.data(), static_cast<unsigned>(block.size()));
    });
    EXPECT_TRUE(error == EPIPE || error == ECONNRESET) << error;
}

TEST(SocketSend, LargeSendToASlowReaderArrivesWhole)
{
    auto pair = connectLoopback();
    std::string data(8 << 20, '\0');
    std::mt19937 random(3);
    for (char& c : data)
        c = static_cast<char>(random());
    std::string received;
    std::thread reader([&] {
        char buffer[1000];
        for (;;) {
            ssize_t n = ::recv(pair.peer.get(), buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            received.append(buffer, static_cast<size_t>(n));
            if (received.size() % 100000 < 1000)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    EXPECT_EQ(pair.socket->send(data.data(), static_cast<unsigned>(data.size())),
              static_cast<int>(data.size()));
    EXPECT_EQ(pair.socket->GetBytesOut(), static_cast<int>(data.size()));
    ::shutdown(pair.socket->socket(), SHUT_WR);
    reader.join();
    EXPECT_TRUE(received == data) << "got " << received.size() << " bytes";
}

TEST(SocketSend, EmptySendTouchesNothing)
{
    Socket unconnected;
    EXPECT_EQ(unconnected.send("", 0u), 0);
    EXPECT_EQ(unconnected.send(""), 0);
    EXPECT_EQ(unconnected.GetBytesOut(), 0);
}

TEST(SocketSend, StreamOperatorsFormat)
{
    auto pair = connectLoopback();
    *pair.socket << "+OK " << 3 << ' ' << 120L << ' ' << 7u << ' ' << 4000000000ul << ' ' << -5
                 << "\r\n";
    char buffer[64] = {};
    size_t got = 0;
    while (got < 32) {
        ssize_t n = ::recv(pair.peer.get(), buffer + got, sizeof buffer - 1 - got, 0);
        ASSERT_GT(n, 0);
        got += static_cast<size_t>(n);
        if (std::string(buffer).find("\r\n") != std::string::npos)
            break;
    }
    EXPECT_STREQ(buffer, "+OK 3 120 7 4000000000 -5\r\n");
    pair.socket->ResetBytesOut();
    EXPECT_EQ(pair.socket->GetBytesOut(), 0);
}

TEST(SocketRecv, BufferedBytesComeFirst)
{
    auto pair = connectLoopback();
    sendAll(pair.peer.get(), "HEAD\r\nrest of the data");
    bool found = false;
    EXPECT_EQ(readLine(*pair.socket, 64, found), "HEAD");
    ASSERT_TRUE(pair.socket->isbuffered());
    std::string rest;
    while (rest.size() < 16) {
        const int n = pair.socket->recv();
        ASSERT_GT(n, 0);
        rest.append(pair.socket->recvBuffer(), static_cast<size_t>(n));
    }
    EXPECT_EQ(rest, "rest of the data");
    EXPECT_FALSE(pair.socket->isbuffered());
}

TEST(SocketConnect, FailuresReturnMinusOne)
{
    LoopbackListener closed;
    const int port = closed.port();
    { LoopbackListener gone = std::move(closed); }
    Socket socket;
    EXPECT_EQ(socket.connect("127.0.0.1", port), -1);
    Socket another;
    EXPECT_EQ(another.connect("nonexistent.invalid", 110), -1);
    Socket third;
    EXPECT_EQ(third.connect("127.0.0.1", "no-such-service"), -1);
    EXPECT_FALSE(third.connected());
}

TEST(SocketConnect, ByNameAndByService)
{
    LoopbackListener listener;
    Socket byName;
    EXPECT_EQ(byName.connect("localhost", listener.port()), 0);
    EXPECT_TRUE(byName.connected());
    Socket byService;
    EXPECT_EQ(byService.connect("127.0.0.1", std::to_string(listener.port()).c_str()), 0);
    auto first = listener.accept();
    auto second = listener.accept();
    EXPECT_TRUE(first && second);
}

TEST(SocketDisconnect, NeverConnectedReturnsAtOnce)
{
    Socket socket;
    EXPECT_EQ(socket.disconnect(), 0);
}

TEST(SocketDisconnect, DrainsUntilThePeerCloses)
{
    auto pair = connectLoopback();
    std::thread peer([&] {
        // Wait for our end-of-file, send a little more, then close.
        char buffer[16];
        while (::recv(pair.peer.get(), buffer, sizeof buffer, 0) > 0) {
        }
        sendAll(pair.peer.get(), "+OK bye\r\nleft over");
        pair.peer.reset();
    });
    EXPECT_EQ(pair.socket->disconnect(), 0);
    peer.join();
    EXPECT_EQ(pair.socket->GetBytesIn(), 18);
    EXPECT_TRUE(pair.socket->connected()) << "disconnect leaves the state as it was";
}

TEST(SocketDisconnect, DestructorSurvivesASilentPeer)
{
    auto pair = connectLoopback(200, 200);
    pair.socket.reset();   // the drain times out inside the destructor
    char c;
    EXPECT_EQ(::recv(pair.peer.get(), &c, 1, 0), 0) << "the handle was closed";
}

TEST(SocketDisconnect, EndlessPeerCannotHoldTheDrain)
{
    auto pair = connectLoopback(2000, 2000);
    std::atomic<bool> stop{false};
    std::thread flood([&] {
        const std::string block(4096, 'f');
        while (!stop && ::send(pair.peer.get(), block.data(), block.size(), MSG_NOSIGNAL) > 0) {
        }
    });
    EXPECT_EQ(pair.socket->disconnect(), -1);
    EXPECT_GT(pair.socket->GetBytesIn(), Socket::kMaxDrainBytes);
    stop = true;
    pair.socket.reset();
    flood.join();
}

TEST(SocketHandles, SharedHandleIsClosedOnceByTheLastHolder)
{
    auto pair = connectLoopback();
    const int fd = pair.socket->socket();
    {
        Socket copy(*pair.socket);
        EXPECT_EQ(copy.socket(), fd);
        EXPECT_TRUE(copy.connected());
        Socket assigned;
        assigned = copy;
        EXPECT_EQ(assigned.socket(), fd);
    }
    EXPECT_NE(::fcntl(fd, F_GETFD), -1) << "still open while one holder is left";
    sendAll(pair.peer.get(), "still here\r\n");
    bool found = false;
    EXPECT_EQ(readLine(*pair.socket, 32, found), "still here");
    ::shutdown(pair.peer.get(), SHUT_WR);
    pair.socket.reset();
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1) << "closed with the last holder";
}

TEST(SocketHandles, ResetGivesAFreshSocket)
{
    auto pair = connectLoopback(500, 500);
    ::shutdown(pair.peer.get(), SHUT_WR);
    EXPECT_EQ(pair.socket->reset(1, 0), 0);
    EXPECT_NE(pair.socket->socket(), kInvalidSocket);
    char c;
    EXPECT_EQ(::recv(pair.peer.get(), &c, 1, 0), 0) << "the old connection was closed";
}

TEST(SocketHandles, AdoptAndListen)
{
    Socket listener;
    int on = 1;
    EXPECT_EQ(listener.setopt(SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<char*>(&on), sizeof on), 0);
    ASSERT_EQ(listener.bind(0, "127.0.0.1"), 0);
    ASSERT_EQ(listener.listen(), 0);
    sockaddr_in local{};
    socklen_t length = sizeof local;
    ::getsockname(listener.socket(), reinterpret_cast<sockaddr*>(&local), &length);

    Socket client;
    ASSERT_EQ(client.connect("127.0.0.1", ntohs(local.sin_port)), 0);
    sockaddr_in remote{};
    int remoteLength = sizeof remote;
    Socket accepted(listener.accept(reinterpret_cast<sockaddr*>(&remote), &remoteLength), true);
    EXPECT_STREQ(Socket::inet_ntoa(remote.sin_addr), "127.0.0.1");
    client << "ping\r\n";
    bool found = false;
    EXPECT_EQ(readLine(accepted, 16, found), "ping");
    unsigned long readable = 99;
    EXPECT_EQ(accepted.ioctlsocket(Socket::BytesReadable, &readable), 0);
    EXPECT_EQ(readable, 0u);
    EXPECT_EQ(listener.bind(1, "not an address"), -1);
    // Both ends close gracefully: each drain sees the other's end of file.
    client.shutdown(SHUT_WR);
}

TEST(SocketHandles, AcceptFailureThrowsUnsignedLong)
{
    Socket notListening;
    EXPECT_EQ(thrown<unsigned long>([&] { notListening.accept(nullptr, nullptr); }),
              static_cast<unsigned long>(EINVAL));
}

TEST(SocketHelpers, ByteOrderAndAddresses)
{
    EXPECT_EQ(Socket::_ntohs(Socket::_htons(0x1234)), 0x1234);
    EXPECT_EQ(Socket::_ntohl(Socket::_htonl(0x12345678ul)), 0x12345678ul);
    EXPECT_EQ(Socket::inet_addr("127.0.0.1"), Socket::_htonl(0x7F000001ul));
}

} // namespace
