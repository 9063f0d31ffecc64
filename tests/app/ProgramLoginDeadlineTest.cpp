// The program against servers that trickle a byte at a time through a part
// of the login (the greeting, the TLS handshake of $TLS or of STLS, the
// reply to PASS), with UpstreamDeadline at 2 seconds: the client is told,
// the server's connection is dropped while it is still trickling, and the
// client waiting behind that session is served.
#include "ProxyProgram.h"

#include <poll.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

// 200 bytes at one every 0.3 s: a minute of trickle, against 2 seconds.
constexpr int kTrickleMs = 300;
constexpr size_t kTrickleBytes = 200;
constexpr int kDeadlineSeconds = 2;

// One step of the scripted server: wait for a command line, send a reply
// whole, or trickle it.
struct Step {
    enum Kind { Expect, Send, Trickle } kind;
    std::string text;
};

// A scripted POP3 server for one connection on a loopback port the kernel
// picks.  A trickle sends a byte every kTrickleMs and stops when the proxy
// closes the connection, which is then recorded as dropped.
class TricklingServer
{
public:
    explicit TricklingServer(std::vector<Step> script) : m_script(std::move(script))
    {
        m_thread = std::thread([this] { serve(); });
    }
    ~TricklingServer()
    {
        ::shutdown(m_listener.fd(), SHUT_RDWR);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
            if (m_fd >= 0)
                ::shutdown(m_fd, SHUT_RDWR);
        }
        m_thread.join();
    }
    TricklingServer(const TricklingServer&) = delete;
    TricklingServer& operator=(const TricklingServer&) = delete;

    int port() const { return m_listener.port(); }
    // Waits (bounded) until the server has stopped; whether the proxy
    // dropped it during a trickle, and how many bytes it trickled.
    bool dropped(size_t& trickled)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_done.wait_for(lock, std::chrono::seconds(30), [this] { return m_finished; });
        trickled = m_trickled;
        return m_dropped;
    }

private:
    void serve()
    {
        UniqueFd connection = m_listener.accept();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_fd = connection.get();
        }
        bool dropped = false;
        std::string pending;
        for (const Step& step : m_script) {
            if (!connection || dropped)
                break;
            if (step.kind == Step::Expect) {
                if (!readLine(connection.get(), pending, step.text))
                    break;
            } else if (step.kind == Step::Send) {
                sendAll(connection.get(), step.text);
            } else {
                dropped = trickle(connection.get(), step.text);
            }
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_fd = -1;
        m_dropped = dropped;
        m_finished = true;
        m_done.notify_all();
    }

    // Reads up to the line want; false when the connection ended first.
    static bool readLine(int fd, std::string& pending, const std::string& want)
    {
        for (;;) {
            const size_t end = pending.find("\r\n");
            if (end != std::string::npos) {
                const std::string line = pending.substr(0, end);
                pending.erase(0, end + 2);
                if (line == want)
                    return true;
                continue;
            }
            char chunk[4096];
            const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0)
                return false;
            pending.append(chunk, static_cast<size_t>(n));
        }
    }

    // True when the proxy closed the connection before the text was all sent.
    bool trickle(int fd, const std::string& text)
    {
        for (size_t at = 0; at < text.size();) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (m_stop)
                    return false;
            }
            // The pause between two bytes, cut short by whatever the proxy
            // sends (a TLS hello, read and dropped) or by its close.
            pollfd entry{fd, POLLIN, 0};
            if (::poll(&entry, 1, kTrickleMs) > 0) {
                char chunk[4096];
                if (::recv(fd, chunk, sizeof chunk, 0) <= 0)
                    return true;
                continue;
            }
            if (::send(fd, text.data() + at, 1, MSG_NOSIGNAL) != 1)
                return true;
            ++at;
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_trickled;
        }
        return false;
    }

    LoopbackListener m_listener;
    std::vector<Step> m_script;
    std::mutex m_mutex;
    std::condition_variable m_done;
    int m_fd = -1;
    bool m_stop = false;
    bool m_finished = false;
    bool m_dropped = false;
    size_t m_trickled = 0;
    std::thread m_thread;
};

const std::string kSlowGreeting = "+OK " + std::string(kTrickleBytes, 'g') + "\r\n";
// A TLS handshake record that announces 16 KB and comes a byte at a time.
const std::string kSlowHandshake = std::string("\x16\x03\x03\x40\x00", 5) + std::string(kTrickleBytes, '\x02');
const std::string kSlowReply = "+OK " + std::string(kTrickleBytes, 'p') + "\r\n";

struct Row {
    const char* name;
    const char* suffix;               // of the user name
    std::vector<Step> script;
    bool userAccepted;                // USER gets its reply; PASS is the one cut short
};

void PrintTo(const Row& row, std::ostream* out)
{
    *out << row.name;
}

class ProgramLoginDeadline : public ::testing::TestWithParam<Row>
{};

TEST_P(ProgramLoginDeadline, ATricklingServerIsDroppedAndTheNextClientServed)
{
    const Row& row = GetParam();
    TricklingServer server(row.script);
    ProxyProgram program;
    program.setting("UPSTREAMDEADLINE", std::to_string(kDeadlineSeconds));
    auto process = program.start();

    auto owned = std::make_unique<PopClient>(program.port(), 20000);
    PopClient& first = *owned;
    ASSERT_EQ(first.line(), "+OK Quillfence\r\n");
    // Waits behind the first session.
    PopClient next(program.port(), 20000);

    const std::string user = "USER me@127.0.0.1:" + std::to_string(server.port()) + row.suffix;
    const std::string timedOut = "-ERR The mail server did not complete the login within " +
                                 std::to_string(kDeadlineSeconds) + " seconds\r\n";
    if (row.userAccepted) {
        EXPECT_EQ(first.command(user), "+OK hello\r\n");
        EXPECT_EQ(first.command("PASS secret"), timedOut);
    } else {
        EXPECT_EQ(first.command(user), timedOut);
    }
    size_t trickled = 0;
    EXPECT_TRUE(server.dropped(trickled)) << "the proxy never closed the server's connection";
    EXPECT_LT(trickled, kTrickleBytes) << "the whole trickle was sent: nothing cut it short";
    EXPECT_TRUE(program.logShows("did not complete the login within 2 seconds, connection dropped"));

    EXPECT_EQ(first.command("QUIT"), "+OK Session closed.\r\n");
    owned.reset();   // gone, as a mail client goes after QUIT
    EXPECT_EQ(next.line(), "+OK Quillfence\r\n") << "the client behind the session was not served";
    EXPECT_EQ(next.command("QUIT"), "+OK Session closed.\r\n");
    EXPECT_EQ(program.stop(*process), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Trickles, ProgramLoginDeadline,
    ::testing::Values(
        Row{"Greeting", "", {{Step::Trickle, kSlowGreeting}}, false},
        Row{"ImplicitTlsHandshake", "$TLS", {{Step::Trickle, kSlowHandshake}}, false},
        Row{"StlsHandshake",
            "$STLS",
            {{Step::Send, "+OK ready\r\n"}, {Step::Expect, "STLS"}, {Step::Send, "+OK begin TLS\r\n"},
             {Step::Trickle, kSlowHandshake}},
            false},
        Row{"PassReply",
            "",
            {{Step::Send, "+OK ready\r\n"}, {Step::Expect, "CAPA"}, {Step::Send, "-ERR no capabilities\r\n"},
             {Step::Expect, "USER me"}, {Step::Send, "+OK hello\r\n"}, {Step::Expect, "PASS secret"},
             {Step::Trickle, kSlowReply}},
            true}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
