// Plays the input as everything a mail server says in one session (its
// greeting and all its replies) to a real session on loopback, while a
// client sends a fixed run of commands: login, listing, retrieval, TOP,
// DELE and QUIT.  Traps when the session has not ended a few seconds after
// both peers have said all they will: a session must never hang on what a
// server sends.
#include "common/CRegistry.h"
#include "common/CWorkerThread.h"
#include "common/ProgramContext.h"
#include "filter/FilterContext.h"
#include "proxy/CSession.h"
#include "proxy/SessionList.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

namespace {

void check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

// The listeners live for the whole run: one bound anew for every input
// would take an ephemeral port each time, and the ports left in TIME_WAIT
// run out after some ten thousand inputs.
int listenOnLoopback(int& port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    check(fd >= 0 && ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    check(fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
          ::listen(fd, 4) == 0 && ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0);
    port = ntohs(address.sin_port);
    return fd;
}

void sendAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        data += n;
        size -= static_cast<size_t>(n);
    }
}

// Reads until the peer closes; false when it stays open past timeoutMs.
bool drainUntilClosed(int fd, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char buffer[65536];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            return false;
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, static_cast<int>(left)) <= 0)
            continue;
        if (::recv(fd, buffer, sizeof buffer, 0) <= 0)
            return true;
    }
}

std::string g_root;
int g_proxyPort = 0;

// A client connection to the proxy's listener.  Hundreds of sessions a
// second leave their ports in TIME_WAIT (the proxy closes first), and
// loopback runs out of ephemeral ports now and then: a connect that finds
// none waits for some to come free, as the harness's fault, not the
// session's.
int connectToProxy()
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(g_proxyPort));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int attempt = 0;; ++attempt) {
        const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        check(client >= 0);
        if (::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
            return client;
        const int error = errno;
        ::close(client);
        if (error != EADDRNOTAVAIL || attempt == 600) {
            std::fprintf(stderr, "connect to the proxy failed: %s\n", std::strerror(error));
            check(false);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}
int g_upstreamListener = -1;
int g_upstreamPort = 0;
int g_proxyListener = -1;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    char pattern[] = "/tmp/qffuzz.XXXXXX";
    check(::mkdtemp(pattern) != nullptr);
    g_root = pattern;
    ::setenv("XDG_DATA_HOME", (g_root + "/data").c_str(), 1);
    ::setenv("QUILLFENCE_COMMON_ROOT", (g_root + "/common").c_str(), 1);
    programContext().dataRoot = g_root + "/data/" + kProductName;
    programContext().settingsHive = eRegUser;
    std::filesystem::create_directories(programContext().dataRoot + "/state");
    initialiseFilter();   // the settings and rules, as the program loads them
    g_upstreamListener = listenOnLoopback(g_upstreamPort);
    g_proxyListener = listenOnLoopback(g_proxyPort);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::atomic<bool> clientDone{false};
    std::thread server([&] {
        // A session that could not connect (no port free) never comes:
        // the wait ends with the client's side.
        for (;;) {
            pollfd waiting{g_upstreamListener, POLLIN, 0};
            if (::poll(&waiting, 1, 100) > 0)
                break;
            if (clientDone)
                return;
        }
        const int fd = ::accept4(g_upstreamListener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            return;
        sendAll(fd, reinterpret_cast<const char*>(data), size);
        ::shutdown(fd, SHUT_WR);
        drainUntilClosed(fd, 10000);
        ::close(fd);
    });

    const int client = connectToProxy();
    new CSession(::accept4(g_proxyListener, nullptr, nullptr, SOCK_CLOEXEC));

    const std::string commands = "USER fuzz@127.0.0.1:" + std::to_string(g_upstreamPort) +
                                 "\r\nPASS secret\r\nSTAT\r\nLIST\r\nUIDL\r\nRETR 1\r\nTOP 1 3\r\nTOP 2 0\r\n"
                                 "RETR 2\r\nDELE 1\r\nNOOP\r\nQUIT\r\n";
    sendAll(client, commands.data(), commands.size());
    const bool ended = drainUntilClosed(client, 8000);
    clientDone = true;
    ::close(client);
    server.join();
    check(SessionList::waitUntilEmpty(std::chrono::milliseconds(10000)) && ended);
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(programContext().dataRoot + "/state", ignored))
        std::filesystem::remove_all(entry.path(), ignored);
    return 0;
}
