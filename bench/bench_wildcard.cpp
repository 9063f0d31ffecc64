// Wildcard matching on the inputs that rules meet: 30 KB message bodies and
// patterns written to catch spam, including the ones that make a naive
// backtracking matcher take exponential time.
#include "common/WildcardMatch.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

constexpr size_t kBodySize = 30 * 1024;

void matchOnce(benchmark::State& state, std::string text, const char* pattern, bool expected)
{
    for (auto _ : state) {
        bool matched = WildcardMatch(text.data(), pattern);
        if (matched != expected)
            state.SkipWithError("unexpected match result");
        benchmark::DoNotOptimize(matched);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

std::string spamBody()
{
    const std::string line = "Get your free money today, act fast! Limited offer, free free free.\r\n";
    std::string body;
    while (body.size() + line.size() <= kBodySize)
        body += line;
    return body;
}

void BM_SixStarsOverRunOfA(benchmark::State& state)
{
    matchOnce(state, std::string(kBodySize, 'a'), "*a*a*a*a*a*b", false);
}
BENCHMARK(BM_SixStarsOverRunOfA)->Unit(benchmark::kMicrosecond);

void BM_FreeMoneyNowWithoutNow(benchmark::State& state)
{
    matchOnce(state, spamBody(), "*free*money*now*", false);
}
BENCHMARK(BM_FreeMoneyNowWithoutNow)->Unit(benchmark::kMicrosecond);

void BM_FreeMoneyFound(benchmark::State& state)
{
    matchOnce(state, spamBody(), "*free*money*", true);
}
BENCHMARK(BM_FreeMoneyFound)->Unit(benchmark::kMicrosecond);

void BM_LineModeSubject(benchmark::State& state)
{
    matchOnce(state, spamBody() + "Subject: cheap pills", "_Subject:*pills*", true);
}
BENCHMARK(BM_LineModeSubject)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
