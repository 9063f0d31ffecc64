// A Socket's deadline against peers that trickle: a line, a TLS handshake
// and a connect each end by the deadline, whatever the time-outs say, while
// the peer is still sending; a cleared deadline waits as before.
#include "common/Socket.h"

#include "support/Loopback.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Sends text to fd one byte every intervalMs, until it is all sent, a send
// fails or the Trickler goes.
class Trickler
{
public:
    Trickler(int fd, std::string text, int intervalMs) : m_text(std::move(text))
    {
        m_thread = std::thread([this, fd, intervalMs] {
            std::unique_lock<std::mutex> lock(m_mutex);
            while (m_sent < m_text.size() && !m_stop) {
                if (::send(fd, m_text.data() + m_sent, 1, MSG_NOSIGNAL) != 1)
                    return;
                ++m_sent;
                // Pacing, not synchronisation: the pause between two bytes.
                m_wake.wait_for(lock, milliseconds(intervalMs), [this] { return m_stop; });
            }
        });
    }
    ~Trickler()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }
    Trickler(const Trickler&) = delete;
    Trickler& operator=(const Trickler&) = delete;

    bool finished()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_sent == m_text.size();
    }

private:
    std::string m_text;
    size_t m_sent = 0;
    bool m_stop = false;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::thread m_thread;
};

// 400 bytes at 20 ms each: 8 seconds of trickle, against a 300 ms deadline.
constexpr int kIntervalMs = 20;
constexpr int kDeadlineMs = 300;
const std::string kLongLine = "+OK " + std::string(400, 'x') + "\r\n";

struct TimeoutRow {
    const char* name;
    int timeoutMs;
};

void PrintTo(const TimeoutRow& row, std::ostream* out)
{
    *out << row.name;
}

class SocketDeadline : public ::testing::TestWithParam<TimeoutRow>
{};

TEST_P(SocketDeadline, ALineTrickledByteByByteEndsAtTheDeadline)
{
    auto pair = connectLoopback(GetParam().timeoutMs, GetParam().timeoutMs);
    Trickler trickle(pair.peer.get(), kLongLine, kIntervalMs);
    pair.socket->setDeadline(Clock::now() + milliseconds(kDeadlineMs));
    char buf[1024];
    bool found = false;
    long code = 0;
    try {
        pair.socket->getline(buf, sizeof buf, found, "\r\n");
    } catch (long thrown) {
        code = thrown;
    }
    EXPECT_EQ(code, Socket::kTimedOut);
    EXPECT_FALSE(found);
    EXPECT_TRUE(pair.socket->deadlinePassed());
    EXPECT_FALSE(trickle.finished()) << "the line was read to its end: the deadline held nothing";
}

TEST_P(SocketDeadline, ATlsHandshakeTrickledByteByByteEndsAtTheDeadline)
{
    auto pair = connectLoopback(GetParam().timeoutMs, GetParam().timeoutMs);
    // A handshake record that announces 16 KB and delivers a byte at a time.
    Trickler trickle(pair.peer.get(), std::string("\x16\x03\x03\x40\x00", 5) + std::string(400, '\x02'),
                     kIntervalMs);
    pair.socket->setDeadline(Clock::now() + milliseconds(kDeadlineMs));
    std::string error;
    EXPECT_FALSE(pair.socket->startTls(TlsOptions{"localhost", "", false}, error));
    EXPECT_EQ(error, "the TLS handshake with localhost timed out");
    EXPECT_FALSE(pair.socket->secure());
    EXPECT_FALSE(trickle.finished());
}

TEST_P(SocketDeadline, AConnectThatIsNeverAnsweredEndsAtTheDeadline)
{
    // A listener whose queue is full drops further connection requests:
    // the connect waits for an answer that never comes.
    UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener.get(), 0), 0);
    ASSERT_EQ(::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &length), 0);
    const int port = ntohs(address.sin_port);
    const UniqueFd queued = dialLoopback(port);
    ASSERT_TRUE(queued);

    Socket socket(1, 0, GetParam().timeoutMs, GetParam().timeoutMs);
    socket.setDeadline(Clock::now() + milliseconds(kDeadlineMs));
    EXPECT_EQ(socket.connect("127.0.0.1", port), -1);
    EXPECT_EQ(socket.getLastError(), ETIMEDOUT);
    EXPECT_FALSE(socket.connected());
}

INSTANTIATE_TEST_SUITE_P(ReadTimeouts, SocketDeadline,
                         ::testing::Values(TimeoutRow{"NoTimeout", 0}, TimeoutRow{"LongTimeout", 60000}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SocketDeadlineSet, APassedDeadlineLetsOnlyWhatIsThereThroughUntilCleared)
{
    auto pair = connectLoopback(0, 0);
    sendAll(pair.peer.get(), "here\r\n");
    pair.socket->setDeadline(Clock::now() - milliseconds(1));
    EXPECT_TRUE(pair.socket->deadlinePassed());
    char buf[64];
    bool found = false;
    pair.socket->getline(buf, sizeof buf, found, "\r\n");
    EXPECT_TRUE(found);
    EXPECT_STREQ(buf, "here");
    long code = 0;
    try {
        pair.socket->getline(buf, sizeof buf, found, "\r\n");
    } catch (long thrown) {
        code = thrown;
    }
    EXPECT_EQ(code, Socket::kTimedOut) << "nothing was there: the passed deadline ends the wait at once";

    pair.socket->clearDeadline();
    EXPECT_FALSE(pair.socket->deadlinePassed());
    std::thread late([&] {
        std::this_thread::sleep_for(milliseconds(200));
        sendAll(pair.peer.get(), "late\r\n");
    });
    pair.socket->getline(buf, sizeof buf, found, "\r\n");
    late.join();
    EXPECT_TRUE(found);
    EXPECT_STREQ(buf, "late");
}

} // namespace
