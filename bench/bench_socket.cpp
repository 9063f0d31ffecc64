// Socket throughput over loopback: getline over 80-byte lines and send of
// 1 MB blocks, each beside a plain recv/send loop doing the same work, and
// the ratio of the two printed at the end.
#include "common/Socket.h"
#include "common/UniqueFd.h"

#include "RatioReporter.h"
#include "support/Loopback.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>

namespace {

constexpr size_t kLinesPerRound = 50000;          // 4 MB of 80-byte lines
constexpr size_t kBlock = 1 << 20;
constexpr size_t kBlocksPerRound = 16;

std::string lines()
{
    std::string line(78, 'x');
    line += "\r\n";
    std::string all;
    for (size_t i = 0; i < kLinesPerRound; ++i)
        all += line;
    return all;
}

// A connected pair: fds[0] is the reader's side, fds[1] the writer's.
struct Connection {
    UniqueFd reader, writer;
};

Connection connectPair()
{
    LoopbackListener listener;
    Connection c;
    c.writer = dialLoopback(listener.port());
    c.reader = listener.accept();
    return c;
}

void writeAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        data += n;
        size -= static_cast<size_t>(n);
    }
}

void drain(int fd, size_t total)
{
    std::unique_ptr<char[]> buffer(new char[65536]);
    while (total > 0) {
        ssize_t n = ::recv(fd, buffer.get(), 65536, 0);
        if (n <= 0)
            return;
        total -= static_cast<size_t>(n);
    }
}

void BM_SocketGetline(benchmark::State& state)
{
    const std::string data = lines();
    Connection c = connectPair();
    Socket socket(c.reader.release(), true, 0, 0);
    char line[1024];
    for (auto _ : state) {
        std::thread writer(writeAll, c.writer.get(), data.data(), data.size());
        bool found = false;
        for (size_t i = 0; i < kLinesPerRound; ++i)
            socket.getline(line, sizeof line, found, "\r\n");
        writer.join();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
    ::shutdown(c.writer.get(), SHUT_WR);
}
BENCHMARK(BM_SocketGetline)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PlainRecvLines(benchmark::State& state)
{
    const std::string data = lines();
    Connection c = connectPair();
    char buffer[4096];
    std::string pending;
    for (auto _ : state) {
        std::thread writer(writeAll, c.writer.get(), data.data(), data.size());
        size_t found = 0;
        while (found < kLinesPerRound) {
            ssize_t n = ::recv(c.reader.get(), buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            pending.append(buffer, static_cast<size_t>(n));
            size_t start = 0, end;
            while ((end = pending.find("\r\n", start)) != std::string::npos) {
                benchmark::DoNotOptimize(pending.data() + start);
                ++found;
                start = end + 2;
            }
            pending.erase(0, start);
        }
        writer.join();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_PlainRecvLines)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SocketSendBlocks(benchmark::State& state)
{
    const std::string block(kBlock, 'b');
    Connection c = connectPair();
    Socket socket(c.writer.release(), true, 0, 0);
    for (auto _ : state) {
        std::thread reader(drain, c.reader.get(), kBlock * kBlocksPerRound);
        for (size_t i = 0; i < kBlocksPerRound; ++i)
            socket.send(block.data(), static_cast<unsigned>(block.size()));
        reader.join();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBlock * kBlocksPerRound));
    ::shutdown(c.reader.get(), SHUT_WR);
}
BENCHMARK(BM_SocketSendBlocks)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PlainSendBlocks(benchmark::State& state)
{
    const std::string block(kBlock, 'b');
    Connection c = connectPair();
    for (auto _ : state) {
        std::thread reader(drain, c.reader.get(), kBlock * kBlocksPerRound);
        for (size_t i = 0; i < kBlocksPerRound; ++i)
            writeAll(c.writer.get(), block.data(), block.size());
        reader.join();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBlock * kBlocksPerRound));
}
BENCHMARK(BM_PlainSendBlocks)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatio("getline, 80-byte lines", "BM_SocketGetline/real_time",
                        "BM_PlainRecvLines/real_time");
    reporter.printRatio("send, 1 MB blocks", "BM_SocketSendBlocks/real_time",
                        "BM_PlainSendBlocks/real_time");
    benchmark::Shutdown();
    return 0;
}
