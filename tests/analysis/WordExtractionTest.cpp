// Cutting text into words, on its own and over a chunk's header block.
#include "analysis/WordExtraction.h"

#include "MessageFile.h"

#include <gtest/gtest.h>

namespace {

struct Words {
    WordSet set;
    WordCounts counts;
};

Words wordsOf(const std::string& text)
{
    Words words;
    collectWords(text.c_str(), words.set, words.counts);
    return words;
}

TEST(WordExtraction, WordsAreUpperCasedAndCounted)
{
    const Words words = wordsOf("Buy buy BUY");
    EXPECT_EQ(words.set, (WordSet{"BUY"}));
    EXPECT_EQ(words.counts.at("BUY"), 3);
}

TEST(WordExtraction, FortyBytesIsAWordFortyOneIsNot)
{
    const std::string forty(40, 'a');
    const Words words = wordsOf(forty + " " + std::string(41, 'b') + " c");
    EXPECT_EQ(words.set, (WordSet{std::string(40, 'A'), "C"}));
}

TEST(WordExtraction, EveryDelimiterSplitsAndNoOtherByteDoes)
{
    const std::string delimiters = " \t\r\n.,/<>{}\\\"'!\xA3$%^&*()-+?|`\xAC_:;";
    ASSERT_EQ(delimiters.size(), 32u);
    for (unsigned byte = 1; byte < 256; ++byte) {
        const bool expected = delimiters.find(static_cast<char>(byte)) != std::string::npos;
        EXPECT_EQ(isWordDelimiter(static_cast<unsigned char>(byte)), expected) << "byte " << byte;
    }
    const Words words = wordsOf("a" + delimiters + "b");
    EXPECT_EQ(words.set, (WordSet{"A", "B"}));
}

TEST(WordExtraction, PoundSignBeforeANumber)
{
    EXPECT_EQ(wordsOf("only \xA3" "100 today").set, (WordSet{"100", "ONLY", "TODAY"}));
}

TEST(WordExtraction, AddressesBreakOnlyAtDelimiters)
{
    const Words words = wordsOf("mail jo.smith@mail-host.example or see http://www.x.example/a_b");
    EXPECT_EQ(words.set, (WordSet{"A", "B", "EXAMPLE", "HOST", "HTTP", "JO", "MAIL", "OR", "SEE",
                                  "SMITH@MAIL", "WWW", "X"}));
    EXPECT_EQ(words.counts.at("EXAMPLE"), 2);
}

TEST(WordExtraction, OnlyAsciiLettersChangeCase)
{
    EXPECT_EQ(wordsOf("caf\xE9 \xE9t\xE9 [x]#1=~").set, (WordSet{"CAF\xE9", "[X]#1=~", "\xE9T\xE9"}));
}

TEST(WordExtraction, PiecesAreCutAfter4096Bytes)
{
    // Runs of 4100 letters are cut into 4096 (too long for a word) and 4.
    const Words words = wordsOf(std::string(4096, 'x') + "tail" + "\r\n" + std::string(4090, 'y') + "abcdefghij");
    EXPECT_EQ(words.set, (WordSet{"GHIJ", "TAIL"}));
    // A word straddling the cut becomes two.
    const Words split = wordsOf(std::string(4094, ' ') + "abcd");
    EXPECT_EQ(split.set, (WordSet{"AB", "CD"}));
}

TEST(WordExtraction, NullOrEmptyTextGivesNoWords)
{
    WordSet set;
    WordCounts counts;
    collectWords(nullptr, set, counts);
    collectWords("", set, counts);
    collectWords("\r\n -- \r\n", set, counts);
    EXPECT_TRUE(set.empty());
    EXPECT_TRUE(counts.empty());
}

TEST(ChunkWords, HeaderNamesAreHeaderWords)
{
    ParsedMessage message("Subject: Cheap pills\r\nFrom: a@b.example\r\n\r\nbody words\r\n");
    Chunk& chunk = message.whole();
    EXPECT_EQ(chunk.headerWordCount(message.file(), "SUBJECT"), 1);
    EXPECT_EQ(chunk.headerWordCount(message.file(), "CHEAP"), 1);
    EXPECT_EQ(chunk.headerWordCount(message.file(), "PILLS"), 1);
    EXPECT_EQ(chunk.headerWordCount(message.file(), "pills"), 0) << "callers pass upper case";
    EXPECT_EQ(chunk.headerWordCount(message.file(), "BODY"), 0);
    EXPECT_EQ(chunk.headerWords(), (WordSet{"A@B", "CHEAP", "EXAMPLE", "FROM", "PILLS", "SUBJECT"}));
    EXPECT_EQ(chunk.bodyWordCount(message.file(), "BODY"), 1);
}

TEST(ChunkWords, HeaderEndedByADotLineHasNoHeaderWords)
{
    ParsedMessage message("Subject: x\r\n.\r\n");
    EXPECT_EQ(message.whole().headerWordCount(message.file(), "SUBJECT"), 0);
    EXPECT_TRUE(message.whole().headerWords().empty());
}

} // namespace
