// The filter engine over the developers' mail corpus: every message of
// dev-mail.tar.gz spooled as the proxy spools it and judged by evaluate()
// with the real script engine and rule functions, in one thread, as a
// session judges its messages.  Three rule sets: thirty header rules
// (bench/data/header-rules.sfr), those followed by thirty body rules
// (bench/data/body-rules.sfr), with the word and pattern lists of
// bench/data/lists; and the shipped rules and lists of data/rules, which a
// new user runs (the goal: 5,000 messages a second).  Each is rated with MaxSpamSize at 1 MB (every message
// of the corpus is judged) and at the shipped 30 KB (larger ones are let
// through unjudged); those runs only rate (FilterContext::ratingOnly).  One
// more run adds what the shipped band settings do with the verdicts (report
// entries, subject rewrites, archive copies) to the second and third sets,
// the spool restored between passes outside the timing.
//
// Figures: messages per second of thread CPU time ("msgs/s"), and summary
// lines at the end.  Before the timed runs, one untimed pass per rule set
// prints how the corpus's folders fared (spam verdicts and band 5), so the
// figures can be read against what the rules did; those rules are
// examples, not a tuned set.  QF_RULE_COSTS=1 adds a table of where a
// message's time goes, rule by rule.
//
// The corpus is QF_DEV_CORPUS unless the environment variable QF_CORPUS
// names another; without it the program says so and ends with status 0.
#include "common/CEventLog.h"
#include "common/CRegistry.h"
#include "common/ProgramContext.h"
#include "filter/Archive.h"
#include "filter/Evaluation.h"
#include "filter/FilterContext.h"
#include "filter/FilterSettings.h"
#include "filter/ListStore.h"
#include "filter/RuleStore.h"
#include "filter/SessionLink.h"
#include "scriptkit/ScriptKit.h"

#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

// The corpus's folders, in the order they are judged.
const char* const kFolders[] = {"spam-1", "easy-ham-1", "hard-ham-1"};
constexpr int kFolderCount = 3;

// Both rule sets are run with these MaxSpamSize settings (kilobytes): one
// above the corpus's largest message, and the shipped default.
constexpr int kWholeCorpusKb = 1024;
constexpr int kShippedKb = 30;

// The example sets of bench/data (as user.sfr), or the shipped rules and
// lists of data/rules (as system.sfr), which a new user runs.
enum class RuleMix { Header, HeaderAndBody, Shipped };

const char* ruleSetName(RuleMix set)
{
    switch (set) {
    case RuleMix::Header:
        return "header rules";
    case RuleMix::HeaderAndBody:
        return "header+body rules";
    case RuleMix::Shipped:
        break;
    }
    return "shipped rules";
}

struct SpooledMessage {
    std::string path;
    std::string text;   // as spooled, to put back what a subject rewrite changed
    long size = 0;
    int folder = 0;     // index into kFolders
};

// What the filter asks of the session: the size of the message, and that
// it is spooled whole (nothing is ever fetched).
class SpoolLink : public SessionLink
{
public:
    long currentMessageSize() const override { return size; }
    bool isCurrentHeaderOnly() const override { return false; }
    void fetchWholeMessage() override {}

    long size = 0;
};

std::string readText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool writeText(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

// A temporary folder, removed with everything in it.
class ScratchFolder
{
public:
    ScratchFolder()
    {
        std::string pattern = (fs::temp_directory_path() / "qfbench.XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr)
            m_path = pattern;
    }
    ~ScratchFolder()
    {
        std::error_code ignored;
        if (!m_path.empty())
            fs::remove_all(m_path, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

// tar -xzf archive -C folder; true when tar ran and succeeded.
bool unpack(const std::string& archive, const std::string& folder)
{
    const char* argv[] = {"tar", "-xzf", archive.c_str(), "-C", folder.c_str(), nullptr};
    pid_t pid = 0;
    if (::posix_spawnp(&pid, "tar", nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0)
        return false;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The message as the proxy spools it: lines as received from the server,
// so dot-stuffed, and the closing "." line.
std::string spoolText(const std::string& message)
{
    std::string out;
    out.reserve(message.size() + message.size() / 64 + 8);
    bool lineStart = true;
    for (char c : message) {
        if (lineStart && c == '.')
            out += '.';
        out += c;
        lineStart = c == '\n';
    }
    if (!out.empty() && !lineStart)
        out += "\r\n";
    out += ".\r\n";
    return out;
}

// Spool copies of every .eml of the unpacked corpus, folder by folder and
// by name within a folder.
std::vector<SpooledMessage> spoolCorpus(const std::string& unpacked, const std::string& spool)
{
    std::vector<SpooledMessage> messages;
    for (int folder = 0; folder < kFolderCount; ++folder) {
        const fs::path source = fs::path(unpacked) / kFolders[folder];
        if (!fs::is_directory(source))
            continue;
        std::vector<fs::path> names;
        for (const auto& entry : fs::directory_iterator(source))
            if (entry.path().extension() == ".eml")
                names.push_back(entry.path());
        std::sort(names.begin(), names.end());
        const fs::path target = fs::path(spool) / kFolders[folder];
        fs::create_directories(target);
        for (const fs::path& name : names) {
            SpooledMessage message;
            message.text = spoolText(readText(name.string()));
            message.path = (target / name.stem()).string() + ".msg";
            message.size = static_cast<long>(message.text.size());
            message.folder = folder;
            if (writeText(message.path, message.text))
                messages.push_back(std::move(message));
        }
    }
    return messages;
}

void setSetting(const char* name, int value)
{
    CRegistry reg;
    if (reg.CreateKey(eRegUser, "quilfpro", "/", true))
        reg.SetValue(name, value);
}

// The rule file of set, from bench/data.
std::string ruleFileText(RuleMix set)
{
    std::string text = readText(std::string(QF_BENCH_DATA) + "/header-rules.sfr");
    if (set == RuleMix::HeaderAndBody) {
        text += '\n';
        text += readText(std::string(QF_BENCH_DATA) + "/body-rules.sfr");
    }
    return text;
}

// Writes set as user.sfr (or the shipped rules as system.sfr), sets the
// size limit and reloads; an empty text when every rule compiled, else why
// the first that did not.
std::string loadRuleSet(RuleMix set, int maxSpamKb)
{
    const std::string rules = programContext().dataRoot + "/rules";
    const bool shipped = set == RuleMix::Shipped;
    writeText(rules + "/system.sfr", shipped ? readText(std::string(QF_SHIPPED_RULES) + "/system.sfr") : "");
    writeText(rules + "/user.sfr", shipped ? "" : ruleFileText(set));
    setSetting("MaxSpamSize", maxSpamKb);
    loadRules();
    const RuleStore& store = ruleStore();
    if (store.names.empty())
        return "no rules were read";
    for (size_t i = 0; i < store.names.size(); ++i) {
        if (store.script(store.names[i]) != nullptr)
            continue;
        HSCRIPT script = CreateScript();
        std::string why = "rule '" + store.names[i] + "' does not compile";
        if (script && !ParseScript(script, store.texts[i].c_str())) {
            const char* message = "";
            int line = 0;
            GetError(script, &message, &line, nullptr, nullptr);
            why += ": " + std::string(message ? message : "") + " (line " + std::to_string(line) + " with the include)";
        }
        CloseScript(script);
        return why;
    }
    return "";
}

struct Corpus {
    std::vector<SpooledMessage> messages;
    long bytes = 0;
};

Corpus& corpus()
{
    static Corpus c;
    return c;
}

// The judging of one message, as a session does it.
bool judge(FilterContext& context, SpoolLink& link, const SpooledMessage& message)
{
    link.size = message.size;
    MessageDescriptor descriptor;
    descriptor.path = message.path.c_str();
    return evaluate(context, descriptor, static_cast<int>(message.size));
}

// One untimed pass: the share of each folder with a spam verdict (a total
// above 0) and in band 5; rule run failures come from the log.
void printVerdicts(RuleMix set, int maxSpamKb)
{
    const std::string problem = loadRuleSet(set, maxSpamKb);
    if (!problem.empty()) {
        std::printf("verdicts (%s): %s\n", ruleSetName(set), problem.c_str());
        return;
    }
    int count[kFolderCount] = {}, spam[kFolderCount] = {}, held[kFolderCount] = {};
    {
        SpoolLink link;
        FilterContext context(&link);
        context.ratingOnly = true;
        ContextRegistration registration(context);
        for (const SpooledMessage& message : corpus().messages) {
            judge(context, link, message);
            ++count[message.folder];
            spam[message.folder] += context.lastTotal > 0.0;
            held[message.folder] += context.lastBand == FilterSettings::kBands - 1;
        }
    }
    std::printf("verdicts (%s, %zu rules, MaxSpamSize %d KB):", ruleSetName(set), ruleStore().scripts.size(),
                maxSpamKb);
    for (int f = 0; f < kFolderCount; ++f) {
        const double n = count[f] > 0 ? count[f] : 1;
        std::printf("%s %s %d: %.1f%% spam verdict, %.1f%% band 5", f ? ";" : "", kFolders[f], count[f],
                    100.0 * spam[f] / n, 100.0 * held[f] / n);
    }
    std::printf("\n");
}

double threadSeconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Where a message's time goes (QF_RULE_COSTS=1): the steps of evaluate
// done one by one over the whole corpus with thread CPU time taken around
// each, every rule run on every message.  Work a rule leaves cached for the
// later ones (the MIME parts, decoded bodies, word sets) is charged to the
// first rule that asks for it.  Opening the message (and parsing its
// header) is charged to "open"; the rules' verdicts are ignored.
void printRuleCosts(RuleMix set)
{
    const std::string problem = loadRuleSet(set, kWholeCorpusKb);
    if (!problem.empty()) {
        std::printf("rule costs (%s): %s\n", ruleSetName(set), problem.c_str());
        return;
    }
    const RuleStore& store = ruleStore();
    std::vector<double> seconds(store.order.size(), 0.0);
    double open = 0.0;
    const std::vector<SpooledMessage>& messages = corpus().messages;
    {
        SpoolLink link;
        FilterContext context(&link);
        ContextRegistration registration(context);
        for (const SpooledMessage& message : messages) {
            link.size = message.size;
            MessageDescriptor descriptor;
            descriptor.path = message.path.c_str();
            context.currentMessage = &descriptor;
            double start = threadSeconds();
            context.message.reset(&descriptor);
            context.message.open(&descriptor);
            double end = threadSeconds();
            open += end - start;
            for (size_t i = 0; i < store.order.size(); ++i) {
                HSCRIPT script = store.script(store.order[i]);
                if (script == nullptr)
                    continue;
                start = end;
                context.message.selectSegment(1);
                context.addressCopy.clear();
                context.addressCursor = std::string::npos;
                context.decisionDetails.clear();
                ResetScript(script);
                RunScript(script);
                end = threadSeconds();
                seconds[i] += end - start;
            }
            context.message.closeFile();
        }
    }
    double total = open;
    for (double s : seconds)
        total += s;
    const double perMessage = 1e6 / static_cast<double>(messages.size());
    std::printf("rule costs (%s, every rule on every message): %.1f us a message in all, "
                "%.1f us opening and header parse\n",
                ruleSetName(set), total * perMessage, open * perMessage);
    std::vector<size_t> byCost(seconds.size());
    for (size_t i = 0; i < byCost.size(); ++i)
        byCost[i] = i;
    std::stable_sort(byCost.begin(), byCost.end(), [&](size_t a, size_t b) { return seconds[a] > seconds[b]; });
    for (size_t i : byCost)
        std::printf("  %7.1f us %5.1f%%  %s\n", seconds[i] * perMessage, 100.0 * seconds[i] / total,
                    store.order[i].c_str());
}

void BM_Filter(benchmark::State& state, RuleMix set, int maxSpamKb)
{
    const std::string problem = loadRuleSet(set, maxSpamKb);
    if (!problem.empty()) {
        state.SkipWithError(problem.c_str());
        return;
    }
    const std::vector<SpooledMessage>& messages = corpus().messages;
    SpoolLink link;
    FilterContext context(&link);
    context.ratingOnly = true;
    ContextRegistration registration(context);
    int through = 0;
    for (auto _ : state) {
        for (const SpooledMessage& message : messages)
            through += judge(context, link, message);
        benchmark::DoNotOptimize(through);
    }
    const double judged = static_cast<double>(state.iterations()) * static_cast<double>(messages.size());
    state.counters["msgs/s"] = benchmark::Counter(judged, benchmark::Counter::kIsRate);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * corpus().bytes);
}

// Puts every spool file back as it was spooled and drops the archive's
// staging files, as the next session would find them.
void restoreSpool(FilterContext& context)
{
    for (const SpooledMessage& message : corpus().messages)
        writeText(message.path, message.text);
    discardStagedArchives(context);
}

// Rating and the shipped band actions: the report entry, the subject
// rewrite (a new spool file) and the archive's staging copy of every
// message in bands 2 to 5.
void BM_FilterWithBandActions(benchmark::State& state, RuleMix set, int maxSpamKb)
{
    const std::string problem = loadRuleSet(set, maxSpamKb);
    if (!problem.empty()) {
        state.SkipWithError(problem.c_str());
        return;
    }
    const std::vector<SpooledMessage>& messages = corpus().messages;
    SpoolLink link;
    FilterContext context(&link);
    ContextRegistration registration(context);
    int through = 0;
    for (auto _ : state) {
        state.PauseTiming();
        restoreSpool(context);
        state.ResumeTiming();
        for (const SpooledMessage& message : messages)
            through += judge(context, link, message);
        benchmark::DoNotOptimize(through);
    }
    restoreSpool(context);
    const double judged = static_cast<double>(state.iterations()) * static_cast<double>(messages.size());
    state.counters["msgs/s"] = benchmark::Counter(judged, benchmark::Counter::kIsRate);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * corpus().bytes);
}

// The console output, keeping each run's msgs/s for the summary.
class SummaryReporter : public benchmark::ConsoleReporter
{
public:
    // Colours only on a terminal.
    SummaryReporter() : ConsoleReporter(::isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            const auto rate = run.counters.find("msgs/s");
            if (!run.error_occurred && run.run_type == Run::RT_Iteration && rate != run.counters.end())
                rates[run.benchmark_name()] = rate->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    std::map<std::string, double> rates;
};

std::string benchmarkName(RuleMix set, int maxSpamKb, bool bandActions = false)
{
    const char* names[] = {"header_rules", "header_body_rules", "shipped_rules"};
    return std::string("filter/") + names[static_cast<int>(set)] +
           "/max_" + std::to_string(maxSpamKb) + "KB" + (bandActions ? "/band_actions" : "");
}

std::string rateText(const SummaryReporter& reporter, const std::string& name)
{
    const auto found = reporter.rates.find(name);
    return found == reporter.rates.end() ? std::string("(not run)")
                                         : std::to_string(static_cast<long>(found->second)) + " msgs/s";
}

void printSummary(const SummaryReporter& reporter, int maxSpamKb)
{
    std::printf("filter (MaxSpamSize %d KB, rating only): header rules %s; header+body rules %s (goal 2,000)\n",
                maxSpamKb, rateText(reporter, benchmarkName(RuleMix::Header, maxSpamKb)).c_str(),
                rateText(reporter, benchmarkName(RuleMix::HeaderAndBody, maxSpamKb)).c_str());
    std::printf("filter (MaxSpamSize %d KB, rating only): shipped rules %s (goal 5,000)\n", maxSpamKb,
                rateText(reporter, benchmarkName(RuleMix::Shipped, maxSpamKb)).c_str());
}

// The shipped band settings (data/default.dat): bands 2 to 5 mark the
// subject and archive, band 1 does neither, every band lets mail through.
void useShippedBandSettings()
{
    for (int band = 1; band <= FilterSettings::kBands; ++band) {
        const std::string n = std::to_string(band);
        setSetting(("Subject" + n).c_str(), band > 1);
        setSetting(("Archive" + n).c_str(), band > 1);
        setSetting(("AllowThrough" + n).c_str(), 1);
    }
}

// Copies the list files of bench/data/lists, and the shipped lists (.sls,
// .swd: other names), into the rules folder.
void copyLists(const std::string& rules)
{
    for (const auto& entry : fs::directory_iterator(std::string(QF_BENCH_DATA) + "/lists"))
        fs::copy_file(entry.path(), fs::path(rules) / entry.path().filename(), fs::copy_options::overwrite_existing);
    for (const auto& entry : fs::directory_iterator(QF_SHIPPED_RULES))
        if (entry.path().extension() == ".sls" || entry.path().extension() == ".swd")
            fs::copy_file(entry.path(), fs::path(rules) / entry.path().filename(),
                          fs::copy_options::overwrite_existing);
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;

    const char* fromEnvironment = std::getenv("QF_CORPUS");
    const std::string archive = fromEnvironment && *fromEnvironment ? fromEnvironment : QF_DEV_CORPUS;
    if (!fs::is_regular_file(archive)) {
        std::printf("bench_filter: corpus %s not found (set QF_CORPUS); skipped\n", archive.c_str());
        return 0;
    }

    ScratchFolder scratch;
    if (scratch.path().empty()) {
        std::fprintf(stderr, "bench_filter: cannot create a temporary folder\n");
        return 1;
    }
    const std::string root = scratch.path();
    fs::create_directories(root + "/corpus");
    if (!unpack(archive, root + "/corpus")) {
        std::fprintf(stderr, "bench_filter: tar -xzf %s failed\n", archive.c_str());
        return 1;
    }
    corpus().messages = spoolCorpus(root + "/corpus", root + "/spool");
    for (const SpooledMessage& message : corpus().messages)
        corpus().bytes += message.size;
    fs::remove_all(root + "/corpus");
    if (corpus().messages.empty()) {
        std::printf("bench_filter: no .eml files in %s; skipped\n", archive.c_str());
        return 0;
    }
    std::printf("corpus: %zu messages, %ld bytes spooled\n", corpus().messages.size(), corpus().bytes);

    // Settings hives and the data root inside the scratch folder.
    ::setenv("QUILLFENCE_GLOBAL_ROOT", (root + "/global").c_str(), 1);
    ::setenv("QUILLFENCE_COMMON_ROOT", (root + "/common").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (root + "/user").c_str(), 1);
    programContext().dataRoot = root + "/user/" + kProductName;
    programContext().settingsHive = eRegUser;
    const std::string rules = programContext().dataRoot + "/rules";
    for (const char* folder : {"/rules", "/state", "/log"})
        fs::create_directories(programContext().dataRoot + folder);
    fs::copy_file(QF_SHIPPED_INCLUDE, rules + "/spamfltr.inc");
    writeText(rules + "/system.sfr", "");
    copyLists(rules);
    useShippedBandSettings();

    // The untimed passes log errors only (a rule that fails as it runs);
    // the timed runs log nothing, as with the shipped settings.
    const std::string logFolder = programContext().dataRoot + "/log";
    CEventLog::Initialize(logFolder.c_str(), "quilfpro", "qf");
    CEventLog::SetLogging(1);
    for (RuleMix set : {RuleMix::Header, RuleMix::HeaderAndBody, RuleMix::Shipped})
        for (int kb : {kWholeCorpusKb, kShippedKb})
            printVerdicts(set, kb);
    CEventLog::SetLogging(0);
    int errorLines = 0;
    for (const auto& entry : fs::directory_iterator(logFolder)) {
        std::istringstream lines(readText(entry.path().string()));
        for (std::string line; std::getline(lines, line);)
            if (++errorLines <= 5)
                std::printf("log: %s\n", line.c_str());
    }
    std::printf("rule errors logged in the untimed passes: %d\n", errorLines);
    if (const char* costs = std::getenv("QF_RULE_COSTS"); costs && std::string(costs) == "1")
        for (RuleMix set : {RuleMix::Header, RuleMix::HeaderAndBody, RuleMix::Shipped})
            printRuleCosts(set);
    std::fflush(stdout);

    for (int kb : {kWholeCorpusKb, kShippedKb})
        for (RuleMix set : {RuleMix::Header, RuleMix::HeaderAndBody, RuleMix::Shipped})
            benchmark::RegisterBenchmark(benchmarkName(set, kb).c_str(), BM_Filter, set, kb)
                ->Unit(benchmark::kMillisecond);
    for (RuleMix set : {RuleMix::HeaderAndBody, RuleMix::Shipped})
        benchmark::RegisterBenchmark(benchmarkName(set, kWholeCorpusKb, true).c_str(), BM_FilterWithBandActions, set,
                                     kWholeCorpusKb)
            ->Unit(benchmark::kMillisecond);
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    for (int kb : {kWholeCorpusKb, kShippedKb})
        printSummary(reporter, kb);
    std::printf("filter (MaxSpamSize %d KB, shipped band actions): header+body rules %s; shipped rules %s "
                "(goal 5,000)\n",
                kWholeCorpusKb, rateText(reporter, benchmarkName(RuleMix::HeaderAndBody, kWholeCorpusKb, true)).c_str(),
                rateText(reporter, benchmarkName(RuleMix::Shipped, kWholeCorpusKb, true)).c_str());

    freeRules();
    clearListCaches();
    CEventLog::Uninitialize();
    return 0;
}
