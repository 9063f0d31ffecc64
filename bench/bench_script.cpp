// The script engine on rule-shaped work: parsing 100 rules of about 20 lines
// behind a 200-line include (what a filter reload does), and resetting and
// running a 50-line rule that calls a rule function 20 times and walks a
// text character by character (what every message costs, once per rule).
#include "scriptkit/ScriptKit.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#define BENCH_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::string subject = "Re: cheap meds and FREE money for you, act now!!!";

} // namespace

BENCH_EXPORT int32_t BENCH_HAS_HEADER(const void* slots)
{
    const char* name;
    std::memcpy(&name, slots, sizeof name);
    return std::strlen(name) % 2 == 0;
}

BENCH_EXPORT char* BENCH_HEADER_VALUE(int32_t* length, const void*)
{
    char* copy = static_cast<char*>(std::malloc(subject.size() + 1));
    std::memcpy(copy, subject.c_str(), subject.size() + 1);
    *length = static_cast<int32_t>(subject.size());
    return copy;
}

BENCH_EXPORT void BENCH_SPAM(const void*) {}

BENCH_EXPORT void FreeString(char* text)
{
    std::free(text);
}

namespace {

// The shipped include, its declarations of the bench's own functions, and
// comments and constants up to 200 lines.
std::string include()
{
    std::ifstream in(SHIPPED_INCLUDE, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf()
         << "#declare BENCH_HAS_HEADER(string) as truth\n"
            "#declare BENCH_HEADER_VALUE(string) as string\n"
            "#declare BENCH_SPAM()\n";
    std::string all = text.str();
    for (int n = 0; std::count(all.begin(), all.end(), '\n') < 200; ++n)
        all += n % 2 ? "// a comment line of the include file, as users write them\n"
                     : "#const LEVEL" + std::to_string(n) + " = " + std::to_string(n) + "\n";
    return all;
}

std::string twentyLineRule(int n)
{
    return "// rule " + std::to_string(n) + "\n"
           "string subject$ = BENCH_HEADER_VALUE(\"Subject\")\n"
           "integer score% = 0\n"
           "if BENCH_HAS_HEADER(\"X-Mailer\") then\n"
           "  score% = score% + 10\n"
           "endif\n"
           "if \"free\" in subject$ then score% = score% + 20\n"
           "if \"money\" in subject$ and len(subject$) > 20 then\n"
           "  score% = score% + 30\n"
           "else\n"
           "  score% = score% - 5\n"
           "endif\n"
           "for i% = 1 to 3\n"
           "  if mid(subject$, i%, 1) = \"!\" then score% = score% + 1\n"
           "next i%\n"
           "if score% > LEVEL" + std::to_string(n % 50 * 2) + " then\n"
           "  BENCH_SPAM()\n"
           "endif\n"
           "return\n";
}

std::string fiftyLineRule()
{
    std::string body = "integer hits% = 0\nstring s$\n";
    for (int i = 0; i < 20; ++i) {
        if (i % 2)
            body += "if BENCH_HAS_HEADER(\"X-Header-" + std::to_string(i) + "\") then hits% = hits% + 1\n";
        else
            body += "s$ = BENCH_HEADER_VALUE(\"Subject\")\n";
    }
    body += "integer bangs% = 0\n"
            "for i% = 1 to len(s$)\n"
            "  c$ = mid(s$, i%, 1)\n"
            "  if c$ = \"!\" then bangs% = bangs% + 1\n"
            "  if c$ = \"$\" then bangs% = bangs% + 2\n"
            "next i%\n";
    while (std::count(body.begin(), body.end(), '\n') < 48)
        body += "hits% = hits% + bangs% / 2\n";
    body += "if hits% > 5 then BENCH_SPAM()\nreturn\n";
    return body;
}

void BM_ParseHundredRules(benchmark::State& state)
{
    const std::string head = include();
    std::vector<std::string> rules;
    for (int n = 0; n < 100; ++n)
        rules.push_back(head + twentyLineRule(n));
    for (auto _ : state) {
        for (const std::string& rule : rules) {
            HSCRIPT script = CreateScript();
            if (!ParseScript(script, rule.c_str()))
                state.SkipWithError("a rule did not compile");
            CloseScript(script);
        }
    }
    // Seconds per rule, shown with its unit prefix (u: microseconds).
    state.counters["time_per_rule"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * 100, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ParseHundredRules)->Unit(benchmark::kMillisecond);

void BM_ResetAndRunFiftyLineRule(benchmark::State& state)
{
    const std::string text = include() + fiftyLineRule();
    HSCRIPT script = CreateScript();
    if (!ParseScript(script, text.c_str())) {
        const char* message = "";
        GetError(script, &message, nullptr, nullptr, nullptr);
        state.SkipWithError(message);
    }
    for (auto _ : state) {
        ResetScript(script);
        if (!RunScript(script))
            state.SkipWithError("the rule failed");
    }
    CloseScript(script);
}
BENCHMARK(BM_ResetAndRunFiftyLineRule)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
