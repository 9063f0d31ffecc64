// Prints benchmark results as usual and, at the end, the ratio of one
// benchmark's throughput to another's (ours against a plain baseline).
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            m_seconds[run.benchmark_name()] = run.GetAdjustedRealTime() /
                                              benchmark::GetTimeUnitMultiplier(run.time_unit);
            auto it = run.counters.find("bytes_per_second");
            if (it != run.counters.end())
                m_rates[run.benchmark_name()] = it->second.value;
        }
    }

    // Throughput of ours against plain.
    void printRatio(const char* what, const std::string& ours, const std::string& plain) const
    {
        auto a = m_rates.find(ours), b = m_rates.find(plain);
        if (a == m_rates.end() || b == m_rates.end() || b->second <= 0)
            return;
        std::printf("%s: %.1f MB/s against %.1f MB/s plain, ratio %.2f\n", what, a->second / 1e6,
                    b->second / 1e6, a->second / b->second);
    }

    // Time per iteration of ours against plain, scaled to count iterations.
    void printTimes(const char* what, const std::string& ours, const std::string& plain,
                    int count) const
    {
        auto a = m_seconds.find(ours), b = m_seconds.find(plain);
        if (a == m_seconds.end() || b == m_seconds.end() || a->second <= 0)
            return;
        std::printf("%s: %.3f s for %d against %.3f s plain, ratio %.2f\n", what, a->second * count,
                    count, b->second * count, b->second / a->second);
    }

private:
    std::map<std::string, double> m_rates;
    std::map<std::string, double> m_seconds;
};
