// Pattern and word lists: loading from the rules folder, the caches, and the
// matching procedures over real spooled messages.
#include "filter/ListStore.h"

#include "common/ProgramContext.h"
#include "filter/FilterContext.h"
#include "filter/MessageDescriptor.h"

#include "support/TestHelpers.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <sstream>
#include <thread>

namespace {

std::string rulesPath(const std::string& file)
{
    return programContext().dataRoot + "/rules/" + file;
}

// Every test starts and ends with empty caches and takes its list files
// away again, so that tests never see each other's lists.
class ListStoreTest : public ::testing::Test
{
protected:
    void SetUp() override { clearListCaches(); }
    void TearDown() override
    {
        clearListCaches();
        for (const std::string& path : m_written)
            std::filesystem::remove(path);
    }

    // Writes rules/<file> and returns its path.
    std::string writeList(const std::string& file, const std::string& text)
    {
        const std::string path = rulesPath(file);
        writeFile(path, text);
        m_written.push_back(path);
        return path;
    }

private:
    std::vector<std::string> m_written;
};

// The event log lines at level 2 ("W") whose message is text.
int warningsSaying(const std::string& text)
{
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(programContext().dataRoot + "/log")) {
        for (const std::string& line : splitLines(readFile(entry.path().string()))) {
            std::istringstream fields(line);
            std::string category;
            std::string level;
            fields >> category >> level;
            const std::string tail = " " + text;
            if (level == "W" && line.size() > tail.size() &&
                line.compare(line.size() - tail.size(), tail.size(), tail) == 0)
                ++count;
        }
    }
    return count;
}

// An open descriptor of path holding a flock of the given kind.
class HeldFile
{
public:
    HeldFile(const std::string& path, int operation)
        : m_fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC))
    {
        if (m_fd < 0 || ::flock(m_fd, operation | LOCK_NB) != 0)
            throw std::runtime_error("cannot lock " + path);
    }
    ~HeldFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

private:
    int m_fd;
};

// ---------------------------------------------------------------- loading

using ListStoreLoad = ListStoreTest;

TEST_F(ListStoreLoad, UserFileWinsOverSystemFile)
{
    writeList("Chooser.sls", "system pattern\n");
    writeList("Chooser.swd", "systemword\n");
    const PatternList* patterns = loadPatternList("Chooser");
    const WordList* words = loadWordList("Chooser");
    ASSERT_NE(patterns, nullptr);
    ASSERT_NE(words, nullptr);
    EXPECT_EQ(*patterns, (PatternList{"system pattern"}));
    EXPECT_EQ(*words, (WordList{"SYSTEMWORD"}));

    clearListCaches();
    writeList("Chooser.lst", "user pattern\n");
    writeList("Chooser.wrd", "userword\n");
    patterns = loadPatternList("Chooser");
    words = loadWordList("Chooser");
    ASSERT_NE(patterns, nullptr);
    ASSERT_NE(words, nullptr);
    EXPECT_EQ(*patterns, (PatternList{"user pattern"}));
    EXPECT_EQ(*words, (WordList{"USERWORD"}));
}

TEST_F(ListStoreLoad, PatternAndWordListsOfOneNameAreSeparate)
{
    writeList("Twin.lst", "*twin*\n");
    ASSERT_NE(loadPatternList("Twin"), nullptr);
    EXPECT_EQ(loadWordList("Twin"), nullptr);
}

TEST_F(ListStoreLoad, PatternLinesAreKeptAsWritten)
{
    const std::string longLine = std::string(300, 'x') + "TAIL";
    writeList("Shapes.lst", "\r\n"
                            "  *viagra*\r\n"
                            "\t \r\n"
                            "plain\n"
                            "   \n"
                            "with trailing  \r\n" +
                                longLine + "\r\n"
                                           "mid\rline\n"
                                           "last without line end");
    const PatternList* patterns = loadPatternList("Shapes");
    ASSERT_NE(patterns, nullptr);
    EXPECT_EQ(*patterns, (PatternList{"  *viagra*", "plain", "with trailing  ", longLine,
                                      "mid\rline", "last without line end"}));
}

TEST_F(ListStoreLoad, WordListWords)
{
    const std::string forty(40, 'f');
    const std::string fortyOne(41, 'g');
    struct Row {
        const char* name;
        std::string text;
        WordList want;
    } rows[] = {
        {"two blanks between", "Cheap  pills", {"CHEAP", "PILLS"}},
        {"tabs and line ends", "one\ttwo\r\nthree\nfour\r", {"FOUR", "ONE", "THREE", "TWO"}},
        {"each word once", "spam Spam SPAM", {"SPAM"}},
        {"punctuation stays in the word", "cheap, pills.", {"CHEAP,", "PILLS."}},
        {"forty bytes kept, forty-one skipped", forty + " " + fortyOne + " x", {std::string(40, 'F'), "X"}},
        {"only ASCII letters change case", "caf\xE9 \xE9t\xE9", {"CAF\xE9", "\xE9T\xE9"}},
        {"blank file", " \r\n\t\n", {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        clearListCaches();
        writeList("Words.wrd", row.text);
        const WordList* words = loadWordList("Words");
        ASSERT_NE(words, nullptr);
        EXPECT_EQ(*words, row.want);
    }
}

TEST_F(ListStoreLoad, ThreadsLoadingListsAtOnceShareOneCopyEach)
{
    for (int n = 0; n < 8; ++n) {
        writeList("shared" + std::to_string(n) + ".lst", "pattern " + std::to_string(n) + "\n");
        writeList("shared" + std::to_string(n) + ".wrd", "word" + std::to_string(n) + "\n");
    }
    std::vector<const PatternList*> patterns[2];
    std::vector<const WordList*> words[2];
    std::thread threads[2];
    for (int t = 0; t < 2; ++t)
        threads[t] = std::thread([t, &patterns, &words] {
            for (int round = 0; round < 3; ++round)
                for (int n = 0; n < 8; ++n) {
                    patterns[t].push_back(loadPatternList("shared" + std::to_string(n)));
                    words[t].push_back(loadWordList("shared" + std::to_string(n)));
                    loadPatternList("missing" + std::to_string(n));
                }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(patterns[0], patterns[1]) << "each list is loaded once, whichever thread came first";
    EXPECT_EQ(words[0], words[1]);
    for (int n = 0; n < 8; ++n) {
        ASSERT_NE(patterns[0][n], nullptr);
        EXPECT_EQ(*patterns[0][n], (PatternList{"pattern " + std::to_string(n)}));
        ASSERT_NE(words[0][n], nullptr);
        EXPECT_EQ(*words[0][n], (WordList{"WORD" + std::to_string(n)}));
    }
}

TEST_F(ListStoreLoad, NamesDifferingInCaseShareOneEntry)
{
    const std::string path = writeList("Junk.lst", "first\n");
    const PatternList* first = loadPatternList("Junk");
    ASSERT_NE(first, nullptr);
    writeFile(path, "second\n");
    const PatternList* again = loadPatternList("JUNK");
    EXPECT_EQ(again, first);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(*again, (PatternList{"first"}));

    const std::string words = writeList("Junk.wrd", "first\n");
    ASSERT_NE(loadWordList("Junk"), nullptr);
    writeFile(words, "second\n");
    const WordList* wordsAgain = loadWordList("junk");
    ASSERT_NE(wordsAgain, nullptr);
    EXPECT_EQ(*wordsAgain, (WordList{"FIRST"}));
}

TEST_F(ListStoreLoad, ClearListCachesTakesAnEditedFileIntoUse)
{
    const std::string patterns = writeList("Edited.lst", "old\n");
    const std::string words = writeList("Edited.wrd", "old\n");
    ASSERT_NE(loadPatternList("Edited"), nullptr);
    ASSERT_NE(loadWordList("Edited"), nullptr);
    writeFile(patterns, "new\n");
    writeFile(words, "new\n");
    EXPECT_EQ(*loadPatternList("Edited"), (PatternList{"old"}));
    EXPECT_EQ(*loadWordList("Edited"), (WordList{"OLD"}));

    clearListCaches();
    const PatternList* reloaded = loadPatternList("Edited");
    const WordList* reloadedWords = loadWordList("Edited");
    ASSERT_NE(reloaded, nullptr);
    ASSERT_NE(reloadedWords, nullptr);
    EXPECT_EQ(*reloaded, (PatternList{"new"}));
    EXPECT_EQ(*reloadedWords, (WordList{"NEW"}));
}

TEST_F(ListStoreLoad, EmptyFileGivesAnEmptyListThatIsCached)
{
    const std::string path = writeList("Empty.lst", "");
    const PatternList* patterns = loadPatternList("Empty");
    ASSERT_NE(patterns, nullptr);
    EXPECT_TRUE(patterns->empty());
    writeFile(path, "*\n");
    const PatternList* again = loadPatternList("Empty");
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(again->empty());
    FilterContext context;
    EXPECT_FALSE(listMatchesText(context, "Empty", "anything"));
    EXPECT_EQ(context.decisionDetails, "");
}

TEST_F(ListStoreLoad, ReadersDoNotHoldEachOtherUp)
{
    const std::string path = writeList("Shared.lst", "*shared*\n");
    HeldFile reader(path, LOCK_SH);
    const PatternList* patterns = loadPatternList("Shared");
    ASSERT_NE(patterns, nullptr);
    EXPECT_EQ(*patterns, (PatternList{"*shared*"}));
}

// Takes about five seconds: the list is retried for as long as a writer
// may hold it.
TEST_F(ListStoreLoad, ListHeldByAWriterGivesNullAndIsNotCached)
{
    const std::string path = writeList("Held.lst", "*held*\n");
    writeList("Held.sls", "*system*\n");
    {
        HeldFile writer(path, LOCK_EX);
        // The user file exists, so the system file is no stand-in for it.
        EXPECT_EQ(loadPatternList("Held"), nullptr);
    }
    EXPECT_EQ(warningsSaying("List Held not found"), 0);
    const PatternList* patterns = loadPatternList("Held");
    ASSERT_NE(patterns, nullptr);
    EXPECT_EQ(*patterns, (PatternList{"*held*"}));
}

// ---------------------------------------------------------------- missing lists

using ListStoreMissing = ListStoreTest;

TEST_F(ListStoreMissing, MissingListIsNullUntilTheFileAppears)
{
    EXPECT_EQ(loadPatternList("Latecomer"), nullptr);
    EXPECT_EQ(loadWordList("Latecomer"), nullptr);
    writeList("Latecomer.lst", "*late*\n");
    writeList("Latecomer.swd", "late\n");
    const PatternList* patterns = loadPatternList("Latecomer");
    const WordList* words = loadWordList("Latecomer");
    ASSERT_NE(patterns, nullptr);
    ASSERT_NE(words, nullptr);
    EXPECT_EQ(*patterns, (PatternList{"*late*"}));
    EXPECT_EQ(*words, (WordList{"LATE"}));
}

TEST_F(ListStoreMissing, NamesNeverLeadOutOfTheRulesFolder)
{
    // A list beside the rules folder, named the way out.
    writeFile(programContext().dataRoot + "/outside.lst", "*\n");
    writeList("inside.lst", "*\n");
    for (const char* name : {"../outside", "sub/inside", "..", ""})
        EXPECT_EQ(loadPatternList(name), nullptr) << name;
    EXPECT_NE(loadPatternList("inside"), nullptr);
    std::filesystem::remove(programContext().dataRoot + "/outside.lst");
}

TEST_F(ListStoreMissing, NotFoundIsLoggedOncePerReload)
{
    EXPECT_EQ(warningsSaying("List Nowhere not found"), 0);
    EXPECT_EQ(loadPatternList("Nowhere"), nullptr);
    EXPECT_EQ(loadPatternList("Nowhere"), nullptr);
    EXPECT_EQ(loadPatternList("NOWHERE"), nullptr);
    EXPECT_EQ(warningsSaying("List Nowhere not found"), 1);
    EXPECT_EQ(warningsSaying("List NOWHERE not found"), 0);

    clearListCaches();
    EXPECT_EQ(loadPatternList("Nowhere"), nullptr);
    EXPECT_EQ(warningsSaying("List Nowhere not found"), 2);
}

TEST_F(ListStoreMissing, EveryProcedureAnswersNoWithoutDetails)
{
    FilterContext context;
    EXPECT_FALSE(listMatchesText(context, "Ghost", "text"));
    EXPECT_FALSE(listMatchesHeader(context, "Ghost"));
    EXPECT_FALSE(listMatchesBody(context, "Ghost"));
    EXPECT_EQ(countHeaderPatternHits(context, "Ghost"), 0);
    EXPECT_EQ(countBodyPatternHits(context, "Ghost"), 0);
    EXPECT_FALSE(findWordInHeader(context, "Ghost"));
    EXPECT_FALSE(findWordInBody(context, "Ghost"));
    EXPECT_EQ(countHeaderWordHits(context, "Ghost"), 0);
    EXPECT_EQ(countBodyWordHits(context, "Ghost"), 0);
    EXPECT_FALSE(findWordInString("Ghost", "text"));
    EXPECT_EQ(context.decisionDetails, "");
}

// ---------------------------------------------------------------- text and strings

using ListStoreText = ListStoreTest;

TEST_F(ListStoreText, ListMatchesText)
{
    writeList("Blanks.lst", "  *viagra*\r\n");
    writeList("Ordered.lst", "*zebra*\n*pill*\n*pills*\n");
    struct Row {
        const char* list;
        const char* text;
        bool want;
        std::string detail;
    } rows[] = {
        {"Blanks", "  cheap viagra", true, "\tPattern '  *viagra*' from list 'Blanks' matched '  cheap viagra'\n"},
        {"Blanks", "  viagra", true, "\tPattern '  *viagra*' from list 'Blanks' matched '  viagra'\n"},
        {"Blanks", "cheap viagra", false, ""},
        {"Blanks", " viagra", false, ""},
        {"Ordered", "blue pills", true, "\tPattern '*pill*' from list 'Ordered' matched 'blue pills'\n"},
        {"ordered", "a zebra", true, "\tPattern '*zebra*' from list 'ordered' matched 'a zebra'\n"},
        {"Ordered", "nothing here", false, ""},
        {"Ordered", nullptr, false, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.list) + ": " + (row.text ? row.text : "(null)"));
        FilterContext context;
        EXPECT_EQ(listMatchesText(context, row.list, row.text), row.want);
        EXPECT_EQ(context.decisionDetails, row.detail);
    }
}

TEST_F(ListStoreText, LongPatternMatchesWhole)
{
    const std::string pattern = std::string(300, 'x') + "*TAIL";
    writeList("Long.lst", pattern + "\r\n");
    FilterContext context;
    // Cut at 255 bytes, the rest of the line ("xxx...*TAIL", 49 bytes) would
    // be a pattern of its own and take this text.
    EXPECT_FALSE(listMatchesText(context, "Long", (std::string(45, 'x') + " TAIL").c_str()));
    const std::string text = std::string(300, 'x') + " and TAIL";
    EXPECT_TRUE(listMatchesText(context, "Long", text.c_str()));
    EXPECT_EQ(context.decisionDetails, "\tPattern '" + pattern + "' from list 'Long' matched '" + text + "'\n");
}

TEST_F(ListStoreText, FindWordInString)
{
    writeList("Offers.wrd", "cheap pills\n");
    struct Row {
        const char* name;
        const char* list;
        const char* text;
        bool want;
    } rows[] = {
        {"word among others", "Offers", "buy cheap stuff", true},
        {"any letter case", "OFFERS", "Buy CHEAP stuff", true},
        {"tab and line end separate", "Offers", "x\tpills\r\n", true},
        {"punctuation is part of the piece", "Offers", "cheap, pills.", false},
        {"longer word", "Offers", "cheapest", false},
        {"empty text", "Offers", "", false},
        {"null text", "Offers", nullptr, false},
        {"missing list", "NoOffers", "cheap", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(findWordInString(row.list, row.text), row.want);
    }
}

// ---------------------------------------------------------------- messages

// A message spooled into the state folder (or, without text, a spool file
// that does not exist) and a context judging it.
class JudgedMessage
{
public:
    JudgedMessage(const std::string& name, const std::optional<std::string>& text)
        : m_path(programContext().dataRoot + "/state/" + name + ".eml")
    {
        if (text)
            writeFile(m_path, *text);
        m_descriptor.path = m_path.c_str();
        context.currentMessage = &m_descriptor;
        context.message.reset(&m_descriptor);
    }
    ~JudgedMessage()
    {
        context.message.closeFile();
        std::filesystem::remove(m_path);
    }
    JudgedMessage(const JudgedMessage&) = delete;
    JudgedMessage& operator=(const JudgedMessage&) = delete;

private:
    std::string m_path;
    MessageDescriptor m_descriptor;

public:
    FilterContext context;
};

const std::string kOffer =
    "From: Dealer <dealer@shop.example>\r\n"
    "To: reader@home.example\r\n"
    "Subject: Cheap pills today\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: text/plain\r\n"
    "\r\n"
    "Buy cheap watches now. Cheap watches, cheap pills\r\n"
    "and more watches. Pills, pills, pills!\r\n";

const std::string kHeaderOnly =
    "From: Dealer <dealer@shop.example>\r\n"
    "Subject: Cheap pills today\r\n"
    "\r\n";

using ListStoreMessage = ListStoreTest;

TEST_F(ListStoreMessage, PatternListsOverHeaderAndBody)
{
    writeList("Patterns.lst", "*zebra*\r\n"
                              "*cheap watches*\r\n"
                              "*pills, pills*\r\n"
                              "*Subject: Cheap*\r\n"
                              "*To: reader@home.example*\r\n");
    {
        JudgedMessage message("patterns-first", kOffer);
        EXPECT_TRUE(listMatchesBody(message.context, "Patterns"));
        EXPECT_EQ(message.context.decisionDetails,
                  "\tPattern '*cheap watches*' from list 'Patterns' matched body\n");
    }
    {
        JudgedMessage message("patterns-count", kOffer);
        EXPECT_EQ(countBodyPatternHits(message.context, "Patterns"), 2);
        EXPECT_EQ(message.context.decisionDetails,
                  "\tPattern '*cheap watches*' from list 'Patterns' matched body\n"
                  "\tPattern '*pills, pills*' from list 'Patterns' matched body\n");
    }
    {
        JudgedMessage message("patterns-header", kOffer);
        EXPECT_TRUE(listMatchesHeader(message.context, "Patterns"));
        EXPECT_EQ(message.context.decisionDetails,
                  "\tPattern '*Subject: Cheap*' from list 'Patterns' matched header\n");
    }
    {
        JudgedMessage message("patterns-header-count", kOffer);
        EXPECT_EQ(countHeaderPatternHits(message.context, "Patterns"), 2);
        EXPECT_EQ(message.context.decisionDetails,
                  "\tPattern '*Subject: Cheap*' from list 'Patterns' matched header\n"
                  "\tPattern '*To: reader@home.example*' from list 'Patterns' matched header\n");
    }
}

TEST_F(ListStoreMessage, PatternListWithoutAHitAddsNothing)
{
    writeList("Elsewhere.lst", "*zebra*\n*Subject: Expensive*\n");
    JudgedMessage message("patterns-none", kOffer);
    EXPECT_FALSE(listMatchesHeader(message.context, "Elsewhere"));
    EXPECT_FALSE(listMatchesBody(message.context, "Elsewhere"));
    EXPECT_EQ(countHeaderPatternHits(message.context, "Elsewhere"), 0);
    EXPECT_EQ(countBodyPatternHits(message.context, "Elsewhere"), 0);
    EXPECT_EQ(message.context.decisionDetails, "");
}

TEST_F(ListStoreMessage, FindWordReportsTheSmallestCommonWord)
{
    // A list far larger than the message's word sets, so that the walk runs
    // over the message's words; the small lists walk their own.
    std::string many;
    for (int i = 0; i < 300; ++i)
        many += "filler" + std::to_string(i) + "\n";
    writeList("Small.wrd", "watches\npills\ncheap\nzebra\n");
    writeList("Large.wrd", many + "watches pills\n");
    writeList("Greeting.wrd", "today\n");
    struct Row {
        const char* list;
        bool body;
        bool want;
        std::string detail;
    } rows[] = {
        {"Small", true, true, "\tFound 'CHEAP' from list 'Small' in body\n"},
        {"Small", false, true, "\tFound 'CHEAP' from list 'Small' in header\n"},
        {"SMALL", true, true, "\tFound 'CHEAP' from list 'SMALL' in body\n"},
        {"Large", true, true, "\tFound 'PILLS' from list 'Large' in body\n"},
        {"Large", false, true, "\tFound 'PILLS' from list 'Large' in header\n"},
        {"Greeting", false, true, "\tFound 'TODAY' from list 'Greeting' in header\n"},
        {"Greeting", true, false, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.list) + (row.body ? " in body" : " in header"));
        JudgedMessage message("find-word", kOffer);
        const bool found = row.body ? findWordInBody(message.context, row.list)
                                    : findWordInHeader(message.context, row.list);
        EXPECT_EQ(found, row.want);
        EXPECT_EQ(message.context.decisionDetails, row.detail);
    }
}

TEST_F(ListStoreMessage, CountWordHitsCountsDistinctWords)
{
    writeList("Counted.wrd", "watches\npills\ncheap\nzebra\nWATCHES\n");
    {
        // CHEAP three times, PILLS four, WATCHES three.
        JudgedMessage message("count-body", kOffer);
        EXPECT_EQ(countBodyWordHits(message.context, "Counted"), 3);
        EXPECT_EQ(message.context.decisionDetails,
                  "\tFound 'CHEAP' from word list 'Counted' in body\n"
                  "\tFound 'PILLS' from word list 'Counted' in body\n"
                  "\tFound 'WATCHES' from word list 'Counted' in body\n");
    }
    {
        JudgedMessage message("count-header", kOffer);
        EXPECT_EQ(countHeaderWordHits(message.context, "Counted"), 2);
        EXPECT_EQ(message.context.decisionDetails,
                  "\tFound 'CHEAP' from word list 'Counted' in header\n"
                  "\tFound 'PILLS' from word list 'Counted' in header\n");
    }
}

TEST_F(ListStoreMessage, EmptyWordSetsFindNothing)
{
    writeList("Offer.wrd", "cheap\n");
    writeList("Nothing.wrd", "\r\n");
    {
        // Without a session the header-only spool stays as it is: no body words.
        JudgedMessage message("header-only", kHeaderOnly);
        EXPECT_FALSE(findWordInBody(message.context, "Offer"));
        EXPECT_EQ(countBodyWordHits(message.context, "Offer"), 0);
        EXPECT_EQ(message.context.decisionDetails, "");
        EXPECT_TRUE(findWordInHeader(message.context, "Offer"));
        EXPECT_EQ(message.context.decisionDetails, "\tFound 'CHEAP' from list 'Offer' in header\n");
    }
    {
        JudgedMessage message("empty-list", kOffer);
        EXPECT_FALSE(findWordInHeader(message.context, "Nothing"));
        EXPECT_FALSE(findWordInBody(message.context, "Nothing"));
        EXPECT_EQ(countBodyWordHits(message.context, "Nothing"), 0);
        EXPECT_EQ(message.context.decisionDetails, "");
    }
}

TEST_F(ListStoreMessage, MessageThatCannotBeOpenedMatchesNothing)
{
    writeList("Anything.lst", "*\n");
    writeList("Anything.wrd", "cheap\n");
    JudgedMessage message("absent", std::nullopt);
    EXPECT_FALSE(listMatchesHeader(message.context, "Anything"));
    EXPECT_FALSE(listMatchesBody(message.context, "Anything"));
    EXPECT_EQ(countHeaderPatternHits(message.context, "Anything"), 0);
    EXPECT_FALSE(findWordInHeader(message.context, "Anything"));
    EXPECT_FALSE(findWordInBody(message.context, "Anything"));
    EXPECT_EQ(countBodyWordHits(message.context, "Anything"), 0);
    EXPECT_EQ(message.context.decisionDetails, "");
}

} // namespace
