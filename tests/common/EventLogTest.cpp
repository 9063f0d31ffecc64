#include "common/CEventLog.h"
#include "common/EventLogBlock.h"
#include "common/EventLogGather.h"
#include "common/CVDateTime.h"

#include "support/TestHelpers.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <ctime>
#include <regex>
#include <thread>
#include <vector>

namespace {

// Every test starts from an initialised log in a fresh folder, with the
// class-wide state put back afterwards.
class EventLogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        CEventLog::dayno = -1;
        CEventLog::SetLogging(0x2007);
        CEventLog::Initialize(m_dir.path().c_str(), "quilfpro", "qf");
    }
    void TearDown() override
    {
        CEventLog::Uninitialize();
        CEventLog::dayno = -1;
        CEventLog::loginit = false;
        CEventLog::SetLogging(0x2007);
    }

    static std::string todaysName(const char* prefix = "qf")
    {
        CVDateTime now;
        char name[64];
        std::snprintf(name, sizeof name, "%s%02d%02d%02d.log", prefix, now.year() % 100,
                      now.month(), now.day());
        return name;
    }
    std::string todaysLog() const { return readFile(m_dir / todaysName()); }

    TempDir m_dir;
};

TEST_F(EventLogTest, LineHasCategoryLetterTimeAndThreadId)
{
    CEventLog log("quilfpro");
    EXPECT_TRUE(log.LogEvent(4, "Initialised rule '%s'", "x"));

    char tid[16];
    std::snprintf(tid, sizeof tid, "%08x", static_cast<unsigned>(::gettid()));
    const std::regex line("quilfpro I \\d\\d:\\d\\d:\\d\\d " + std::string(tid) +
                          " Initialised rule 'x'\n");
    const std::string text = todaysLog();
    EXPECT_TRUE(std::regex_match(text, line)) << "got '" << text << "'";
}

TEST_F(EventLogTest, ShortCategoryIsPaddedAndDefaultIsUsed)
{
    CEventLog().LogEvent(1, "a");
    CEventLog("ab").LogEvent(1, "b");
    CEventLog("averylongcategory").LogEvent(1, "c");
    auto lines = splitLines(todaysLog());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].substr(0, 11), "quilfpro E ");
    EXPECT_EQ(lines[1].substr(0, 11), "ab       E ");
    EXPECT_EQ(lines[2].substr(0, 20), "averylongcategory E ");
}

TEST_F(EventLogTest, EachLevelHasItsLetter)
{
    CEventLog::SetLogging(0xFFFF);
    const std::pair<unsigned short, char> levels[] = {
        {1, 'E'},   {2, 'W'},   {4, 'I'},    {8, 'S'},    {16, '<'},   {32, '>'},
        {64, '*'},  {128, '*'}, {256, '*'},  {512, '*'},  {1024, 'D'}, {4096, '!'},
        {8192, '~'}, {3, '!'},  {2048, '!'}, {0x8001, '!'}};
    for (auto [level, letter] : levels)
        EXPECT_TRUE(CEventLog("c").LogEvent(level, "level %u", level));
    auto lines = splitLines(todaysLog());
    ASSERT_EQ(lines.size(), std::size(levels));
    for (size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(lines[i]);
        EXPECT_EQ(lines[i][9], levels[i].second);
        EXPECT_EQ(lines[i].substr(lines[i].rfind(' ') + 1), std::to_string(levels[i].first));
    }
}

TEST_F(EventLogTest, DefaultMaskWritesOnlyErrorsWarningsInfoAndScriptLines)
{
    for (unsigned short level : {8, 16, 32, 64, 128, 256, 512, 1024, 4096})
        EXPECT_TRUE(CEventLog().LogEvent(level, "hidden %u", level));
    EXPECT_FALSE(std::filesystem::exists(m_dir / todaysName()));
    EXPECT_TRUE(CEventLog().LogEvent(3, "two bits"));
    EXPECT_TRUE(CEventLog().LogEvent(8192, "script"));
    auto lines = splitLines(todaysLog());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find(" ! "), std::string::npos);
    EXPECT_NE(lines[1].find(" ~ "), std::string::npos);
}

TEST_F(EventLogTest, NothingBeforeInitialize)
{
    CEventLog::loginit = false;
    EXPECT_FALSE(CEventLog().LogEvent(1, "lost"));
    EXPECT_FALSE(std::filesystem::exists(m_dir / todaysName()));
}

TEST_F(EventLogTest, LogEventTextIsNeverAFormat)
{
    LOGEVENT("100% sure: %s %n %d");
    auto lines = splitLines(todaysLog());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].substr(0, 11), "quilfpro ~ ");
    EXPECT_EQ(lines[0].substr(lines[0].size() - 19), "100% sure: %s %n %d");
}

TEST_F(EventLogTest, OverlongLinesAreCut)
{
    const std::string huge(3 * CEventLog::kMaxLine, 'x');
    CEventLog().LogEvent(1, "%s", huge.c_str());
    LOGEVENT(huge);
    const std::string text = todaysLog();
    auto lines = splitLines(text);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(text.size(), 2 * CEventLog::kMaxLine);
    for (const auto& line : lines)
        EXPECT_EQ(line.size() + 1, CEventLog::kMaxLine);
}

TEST_F(EventLogTest, ExceptionTrapNamesFileAndLine)
{
    CEventLog::logapp = "quilfpro";
    DebugX("/src/proxy/CSession.cpp", 412);
    DebugX("C:\\work\\filter\\Rules.cpp", 7);
    DebugX("utilities", 99);
    auto lines = splitLines(todaysLog());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].substr(0, 11), "quilfpro E ");
    EXPECT_EQ(lines[0].substr(lines[0].find("Exception")), "Exception trap - CSession.cpp:412");
    EXPECT_EQ(lines[1].substr(lines[1].find("Exception")), "Exception trap - Rules.cpp:7");
    EXPECT_EQ(lines[2].substr(lines[2].find("Exception")), "Exception trap - utilities:99");
}

TEST_F(EventLogTest, LinesAfterUninitializeAreLostThatDay)
{
    CEventLog().LogEvent(1, "kept");
    CEventLog::Uninitialize();
    EXPECT_TRUE(CEventLog().LogEvent(1, "lost"));
    auto lines = splitLines(todaysLog());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("kept"), std::string::npos);
}

TEST_F(EventLogTest, UnwritableFolderLosesLinesQuietly)
{
    CEventLog::Initialize((m_dir / "missing/deeper").c_str(), "quilfpro", "qf");
    EXPECT_TRUE(CEventLog().LogEvent(1, "nowhere to go"));
    EXPECT_FALSE(std::filesystem::exists(m_dir / "missing")) << "no folder made on the way";
    // A usable folder afterwards gets the next line, and only that one.
    CEventLog::Uninitialize();
    CEventLog::Initialize(m_dir.path().c_str(), "quilfpro", "qf");
    CEventLog().LogEvent(1, "somewhere now");
    const std::string log = readFile(m_dir / todaysName());
    EXPECT_NE(log.find("somewhere now"), std::string::npos);
    EXPECT_EQ(log.find("nowhere to go"), std::string::npos);
}

TEST_F(EventLogTest, FirstLineOfANewLocalDayOpensANewFile)
{
    // Moving the local zone from UTC-12 to UTC+14 moves the local date on by
    // one or two days, as midnight would.
    std::string before, after;
    {
        ScopedEnv zone("TZ", "<M12>12");
        ::tzset();
        before = todaysName();
        CEventLog().LogEvent(1, "late");
    }
    {
        ScopedEnv zone("TZ", "<P14>-14");
        ::tzset();
        after = todaysName();
        CEventLog().LogEvent(1, "early");
    }
    ::tzset();
    ASSERT_NE(before, after);
    EXPECT_NE(readFile(m_dir / before).find("late"), std::string::npos);
    EXPECT_EQ(readFile(m_dir / before).find("early"), std::string::npos);
    EXPECT_NE(readFile(m_dir / after).find("early"), std::string::npos);
}

TEST_F(EventLogTest, ThreadsNeverMixWithinALine)
{
    constexpr int kLines = 3000;
    auto writer = [](char mark) {
        const std::string body(200, mark);
        for (int i = 0; i < kLines; ++i)
            CEventLog("t").LogEvent(1, "%c%d %s", mark, i, body.c_str());
    };
    std::thread a(writer, 'a'), b(writer, 'b');
    a.join();
    b.join();
    const std::regex shape("t        E \\d\\d:\\d\\d:\\d\\d [0-9a-f]{8} ([ab])\\d+ ([ab]){200}");
    auto lines = splitLines(todaysLog());
    ASSERT_EQ(lines.size(), 2u * kLines);
    for (const auto& line : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, shape)) << line;
        ASSERT_EQ(m[1], m[2]) << line;
        ASSERT_EQ(line.find(m[1] == "a" ? 'b' : 'a', 30), std::string::npos) << line;
    }
}

// A block's lines look like lines logged one by one, follow the logging
// mask, and reach the file when the block ends.
TEST_F(EventLogTest, ABlockWritesItsLinesAsLogEventWould)
{
    CEventLog::SetLogging(0x2007 | 64);
    {
        EventLogBlock block(64);
        block.add("<s %s", "Subject: one");
        block.add("<s %.*s", 3, "two lines");
        EventLogBlock masked(128);
        masked.add(">c not in the mask");
        EXPECT_EQ(todaysLog(), "") << "nothing written before the block ends";
    }
    CEventLog().LogEvent(64, "<s %s", "single");
    const auto lines = splitLines(todaysLog());
    ASSERT_EQ(lines.size(), 3u) << todaysLog();
    const std::regex prefix("quilfpro \\* \\d\\d:\\d\\d:\\d\\d [0-9a-f]{8} ");
    const char* texts[] = {"<s Subject: one", "<s two", "<s single"};
    for (size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(lines[i]);
        std::smatch match;
        ASSERT_TRUE(std::regex_search(lines[i], match, prefix) && match.position(0) == 0);
        EXPECT_EQ(lines[i].substr(static_cast<size_t>(match.length(0))), texts[i]);
    }
}

// Threads logging blocks of numbered lines at once: each block lands whole,
// its lines in order, never interleaved with another thread's.
TEST_F(EventLogTest, BlocksOfDifferentThreadsNeverMix)
{
    constexpr int kThreads = 4, kBlocks = 50, kLines = 40;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            for (int b = 0; b < kBlocks; ++b) {
                EventLogBlock block(4);
                for (int l = 0; l < kLines; ++l)
                    block.add("thread %d block %d line %d", t, b, l);
            }
        });
    for (auto& thread : threads)
        thread.join();
    const auto lines = splitLines(todaysLog());
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kBlocks * kLines));
    const std::regex numbered("thread (\\d+) block (\\d+) line (\\d+)$");
    for (size_t start = 0; start < lines.size(); start += kLines) {
        std::smatch first;
        ASSERT_TRUE(std::regex_search(lines[start], first, numbered)) << lines[start];
        for (int l = 0; l < kLines; ++l) {
            const std::string want = "thread " + first[1].str() + " block " + first[2].str() + " line " +
                                     std::to_string(l);
            const std::string& got = lines[start + static_cast<size_t>(l)];
            ASSERT_EQ(got.substr(got.size() - std::min(got.size(), want.size())), want)
                << "got " << got << ", want " << want;
        }
    }
}

// While a gather lives, its thread's lines (single ones and blocks, nested
// gathers included) wait and then reach the file together, in order; a
// line of another thread is written at once.
TEST_F(EventLogTest, GatheredLinesWaitForTheOutermostGather)
{
    CEventLog::SetLogging(0x2007 | 64);
    {
        const EventLogGather gather;
        CEventLog().LogEvent(4, "first");
        {
            const EventLogGather inner;
            EventLogBlock block(64);
            block.add("<s second");
            block.add("<s third");
        }
        CEventLog().LogEvent(2, "fourth");
        EXPECT_EQ(todaysLog(), "") << "nothing written before the outer gather ends";
        std::thread([] { CEventLog().LogEvent(1, "other thread"); }).join();
        const auto early = splitLines(todaysLog());
        ASSERT_EQ(early.size(), 1u) << todaysLog();
        EXPECT_NE(early[0].find(" other thread"), std::string::npos) << early[0];
    }
    CEventLog().LogEvent(4, "after");
    const auto lines = splitLines(todaysLog());
    const char* want[] = {"other thread", "first", "<s second", "<s third", "fourth", "after"};
    ASSERT_EQ(lines.size(), std::size(want)) << todaysLog();
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string tail = lines[i].substr(lines[i].size() - std::min(lines[i].size(), std::strlen(want[i])));
        EXPECT_EQ(tail, want[i]) << "line " << i << ": got " << lines[i];
    }
}

// More than the gather may hold: what is held goes to the file before the
// gather ends, and in the end every line is there once, in order.
TEST_F(EventLogTest, GatherPastItsBoundWritesEarlyAndLosesNothing)
{
    const std::string filler(4000, 'x');
    const int count = static_cast<int>(EventLogGather::kMaxHeld / filler.size()) + 20;
    {
        const EventLogGather gather;
        for (int n = 0; n < count; ++n)
            CEventLog().LogEvent(4, "line %d %s", n, filler.c_str());
        EXPECT_FALSE(todaysLog().empty()) << "the held text is bounded";
    }
    const auto lines = splitLines(todaysLog());
    ASSERT_EQ(lines.size(), static_cast<size_t>(count));
    for (int n = 0; n < count; ++n) {
        const std::string want = "line " + std::to_string(n) + " ";
        ASSERT_NE(lines[static_cast<size_t>(n)].find(want), std::string::npos)
            << "got " << lines[static_cast<size_t>(n)].substr(0, 60) << ", want " << want;
    }
}

} // namespace
