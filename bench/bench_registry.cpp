// The settings store: a query served from memory, a set plus write-back of a
// 200-value hive, and GetNextId with one process and with four processes
// competing for the same counter.  Hives live in a temporary folder.
#include "common/CRegistry.h"

#include <benchmark/benchmark.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

void BM_QueryLoadedValue(benchmark::State& state)
{
    CRegistry reg;
    reg.CreateKey(eRegUser, "benchquery", "/Settings", true);
    reg.SetValue("ListenPort", 1110);
    reg.CloseKey();
    reg.OpenKey(eRegUser, "benchquery", "/Settings", true);
    for (auto _ : state) {
        int port = 0;
        reg.QueryValue("ListenPort", port);
        benchmark::DoNotOptimize(port);
    }
}
BENCHMARK(BM_QueryLoadedValue);

void BM_SetAndWriteBack200Values(benchmark::State& state)
{
    {
        CRegistry reg;
        reg.CreateKey(eRegUser, "benchwrite", "/Values", true);
        for (int i = 0; i < 200; ++i)
            reg.SetValue(("Value" + std::to_string(i)).c_str(), "a typical setting text");
    }
    int round = 0;
    for (auto _ : state) {
        CRegistry reg;
        reg.CreateKey(eRegUser, "benchwrite", "/Values", true);
        reg.SetValue("Value0", ++round);
        reg.CloseKey();
    }
}
BENCHMARK(BM_SetAndWriteBack200Values)->Unit(benchmark::kMicrosecond);

void BM_GetNextIdOneProcess(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(GetNextId());
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GetNextIdOneProcess)->Unit(benchmark::kMicrosecond);

// Each iteration: four processes take 100 identifiers each, at once.
void BM_GetNextIdFourProcesses(benchmark::State& state)
{
    constexpr int kProcesses = 4, kEach = 100;
    for (auto _ : state) {
        pid_t children[kProcesses];
        for (pid_t& child : children) {
            child = ::fork();
            if (child == 0) {
                for (int i = 0; i < kEach; ++i)
                    GetNextId();
                ::_exit(0);
            }
        }
        for (pid_t child : children)
            ::waitpid(child, nullptr, 0);
    }
    state.SetItemsProcessed(state.iterations() * kProcesses * kEach);
}
BENCHMARK(BM_GetNextIdFourProcesses)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    char folder[] = "/tmp/qfbench.XXXXXX";
    if (::mkdtemp(folder) == nullptr)
        return 1;
    ::setenv("XDG_DATA_HOME", folder, 1);
    ::setenv("QUILLFENCE_COMMON_ROOT", folder, 1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(folder);
    return 0;
}
