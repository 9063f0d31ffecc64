// The proxy end to end on loopback: sequential sessions (connect, greeting,
// QUIT) and RETR of a 20 MB spooled message, each beside a plain loopback
// server that sends the same bytes.  The proxy runs in this process: its
// listener, sessions and settings, with the mailbox filled by the login seam.
#include "common/CRegistry.h"
#include "common/CWorkerThread.h"
#include "common/ProgramContext.h"
#include "common/UniqueFd.h"
#include "proxy/CAcceptor.h"
#include "proxy/CSession.h"

#include "RatioReporter.h"
#include "support/Loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

namespace {

constexpr size_t kMessageBytes = 20 << 20;
std::string g_message;   // the spooled text: lines of 78 characters
int g_port = 0;
int g_upstreamPort = 0;

// Reads until the data read so far ends with end; false when the peer closed.
bool readUntil(int fd, std::string& got, const std::string& end)
{
    char chunk[65536];
    while (got.size() < end.size() || got.compare(got.size() - end.size(), end.size(), end) != 0) {
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            return false;
        got.append(chunk, static_cast<size_t>(n));
    }
    return true;
}

void sendText(int fd, const std::string& text)
{
    size_t sent = 0;
    while (sent < text.size()) {
        ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += static_cast<size_t>(n);
    }
}

// One session from the client's side: greeting, QUIT, the server closes.
void clientSession(int port, benchmark::State& state)
{
    UniqueFd fd = dialLoopback(port);
    std::string got;
    if (!fd || !readUntil(fd.get(), got, "\r\n")) {
        state.SkipWithError("no greeting");
        return;
    }
    sendText(fd.get(), "QUIT\r\n");
    got.clear();
    readUntil(fd.get(), got, "Session closed.\r\n");
    char c;
    while (::recv(fd.get(), &c, 1, 0) > 0) {
    }
}

// A plain server: accepts, and answers like the proxy with the same bytes.
class PlainServer
{
public:
    explicit PlainServer(std::function<void(int)> serve) : m_serve(std::move(serve))
    {
        m_thread = std::thread([this] {
            for (;;) {
                UniqueFd client = m_listener.accept();
                if (!client)
                    return;
                m_serve(client.get());
            }
        });
    }
    ~PlainServer()
    {
        ::shutdown(m_listener.fd(), SHUT_RDWR);
        m_thread.join();
    }
    int port() const { return m_listener.port(); }

private:
    LoopbackListener m_listener;
    std::function<void(int)> m_serve;
    std::thread m_thread;
};

void BM_ProxySessions(benchmark::State& state)
{
    for (auto _ : state)
        clientSession(g_port, state);
}
BENCHMARK(BM_ProxySessions)->Iterations(1000)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_PlainSessions(benchmark::State& state)
{
    PlainServer server([](int fd) {
        sendText(fd, "+OK Quillfence\r\n");
        std::string got;
        readUntil(fd, got, "\r\n");
        sendText(fd, "+OK Session closed.\r\n");
    });
    for (auto _ : state)
        clientSession(server.port(), state);
}
BENCHMARK(BM_PlainSessions)->Iterations(1000)->Unit(benchmark::kMicrosecond)->UseRealTime();

void retrieve(int port, bool login, benchmark::State& state)
{
    UniqueFd fd = dialLoopback(port);
    std::string got;
    readUntil(fd.get(), got, "\r\n");
    if (login) {
        sendText(fd.get(), "USER bench@127.0.0.1:" + std::to_string(g_upstreamPort) + "\r\n");
        got.clear();
        readUntil(fd.get(), got, "\r\n");
        sendText(fd.get(), "PASS x\r\n");
        got.clear();
        readUntil(fd.get(), got, "\r\n");
    }
    sendText(fd.get(), "RETR 1\r\n");
    got.clear();
    got.reserve(kMessageBytes + 64);
    if (!readUntil(fd.get(), got, "\r\n.\r\n") || got.size() < g_message.size())
        state.SkipWithError("short message");
    sendText(fd.get(), "QUIT\r\n");
    got.clear();
    readUntil(fd.get(), got, "\r\n");
}

void BM_ProxyRetr20MB(benchmark::State& state)
{
    for (auto _ : state)
        retrieve(g_port, true, state);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * g_message.size()));
}
BENCHMARK(BM_ProxyRetr20MB)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PlainRetr20MB(benchmark::State& state)
{
    PlainServer server([](int fd) {
        sendText(fd, "+OK Quillfence\r\n");
        std::string got;
        readUntil(fd, got, "\r\n");
        sendText(fd, "+OK " + std::to_string(g_message.size()) + " octets\r\n");
        sendText(fd, g_message);
        got.clear();
        readUntil(fd, got, "\r\n");
        sendText(fd, "+OK Session closed.\r\n");
    });
    for (auto _ : state)
        retrieve(server.port(), false, state);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * g_message.size()));
}
BENCHMARK(BM_PlainRetr20MB)->Unit(benchmark::kMillisecond)->UseRealTime();

// Settings in a temporary folder, the listener on a free port.
void startProxy(const std::string& folder)
{
    ::setenv("XDG_DATA_HOME", folder.c_str(), 1);
    ::setenv("QUILLFENCE_COMMON_ROOT", folder.c_str(), 1);
    programContext().dataRoot = folder + "/" + kProductName;
    std::filesystem::create_directories(programContext().dataRoot + "/state");
    g_port = freeLoopbackPort();
    {
        CRegistry reg;
        reg.CreateKey(eRegUser, "quilfpro", "/", true);
        reg.SetValue("ListenPort", g_port);
        reg.SetValue("PopupStatus", false);
    }
    const std::string line = std::string(78, 'm') + "\r\n";
    while (g_message.size() + line.size() < kMessageBytes)
        g_message += line;
    g_message += ".\r\n";
    // The message is kept outside the state folder: each session is given
    // a link of its own to it there, which the session removes at its end
    // like any spool that no state record names.
    static const std::string master = folder + "/bench.msg";
    std::ofstream(master, std::ios::binary) << g_message;
    const auto collection = [](CSession& session) {
        static std::atomic<int> sessions{0};
        const std::string spool =
            programContext().dataRoot + "/state/bench" + std::to_string(++sessions) + ".msg";
        ::unlink(spool.c_str());   // left by an earlier run in the same folder
        if (::link(master.c_str(), spool.c_str()) != 0)
            return false;
        auto message = std::make_unique<CMessage>();
        message->readText(spool);
        message->uid = "bench";
        session.mailbox.push_back(std::move(message));
        return true;
    };
    // An upstream server that takes any login, has no mail and says goodbye
    // at QUIT; its lists (CAPA, UIDL, LIST) are empty.
    static PlainServer upstream([](int fd) {
        sendText(fd, "+OK stub\r\n");
        for (;;) {
            std::string got;
            if (!readUntil(fd, got, "\r\n"))
                return;
            if (got == "CAPA\r\n" || got == "UIDL\r\n" || got == "LIST\r\n")
                sendText(fd, "+OK\r\n.\r\n");
            else if (got == "STAT\r\n")
                sendText(fd, "+OK 0 0\r\n");
            else
                sendText(fd, "+OK\r\n");
            if (got.rfind("QUIT", 0) == 0)
                return;
        }
    });
    g_upstreamPort = upstream.port();
    new CAcceptor(SessionSetup{.judge = nullptr, .collection = collection});
    for (int i = 0; i < 100; ++i) {
        UniqueFd fd = dialLoopback(g_port);
        if (fd) {
            std::string got;
            readUntil(fd.get(), got, "\r\n");
            sendText(fd.get(), "QUIT\r\n");
            char c;
            while (::recv(fd.get(), &c, 1, 0) > 0) {
            }
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

} // namespace

int main(int argc, char** argv)
{
    char folder[] = "/tmp/qfbenchproxy.XXXXXX";
    if (::mkdtemp(folder) == nullptr)
        return 1;
    startProxy(folder);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printTimes("sequential sessions (connect, greeting, QUIT)", "BM_ProxySessions/iterations:1000/real_time",
                        "BM_PlainSessions/iterations:1000/real_time", 1000);
    reporter.printRatio("RETR of a 20 MB spooled message", "BM_ProxyRetr20MB/real_time",
                        "BM_PlainRetr20MB/real_time");
    benchmark::Shutdown();
    CWorkerThread::TerminateAllThreads();
    std::filesystem::remove_all(folder);
    return 0;
}
