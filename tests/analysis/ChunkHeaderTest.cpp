// The header block of a chunk: parsing, lookups, macros and user macros.
#include "MessageFile.h"

#include <gtest/gtest.h>

namespace {

TEST(ChunkHeader, RepeatedHeaderKeepsTheLastValue)
{
    ParsedMessage message("Received: from a\r\nReceived: from b\r\nSubject: x\r\n\r\nbody\r\n");
    EXPECT_EQ(message.header(1, "RECEIVED"), "from b");
}

TEST(ChunkHeader, FoldedLinesAreJoinedWithOneSpaceAndTheirOwnWhiteSpace)
{
    ParsedMessage message("Subject: a\r\n b\r\n"
                          "Content-Type: multipart/mixed;\r\n\tboundary=x\r\n"
                          "\r\n");
    EXPECT_EQ(message.header(1, "SUBJECT"), "a  b");
    EXPECT_EQ(message.header(1, "CONTENT-TYPE"), "multipart/mixed; \tboundary=x");
}

TEST(ChunkHeader, NamesAreUpperCasedAndNotTrimmed)
{
    ParsedMessage message("Subject : spaced\r\ncontent-type: Text/Plain\r\nX-Empty:\r\n\r\n");
    EXPECT_EQ(message.header(1, "SUBJECT "), "spaced");
    EXPECT_EQ(message.header(1, "SUBJECT"), "<absent>");
    EXPECT_EQ(message.header(1, "CONTENT-TYPE"), "Text/Plain");
    EXPECT_EQ(message.header(1, "content-type"), "<absent>") << "lookups are exact";
    EXPECT_EQ(message.header(1, "X-EMPTY"), "");
}

TEST(ChunkHeader, ValueSkipsLeadingWhiteSpaceAndEndsAtTheLineEnd)
{
    ParsedMessage message("To: \t  bob@example.org  \r\n\r\n");
    EXPECT_EQ(message.header(1, "TO"), "bob@example.org  ");
}

TEST(ChunkHeader, LineWithoutColonLeavesThePendingHeader)
{
    ParsedMessage message("Subject: kept\r\nno colon here\r\n\r\n");
    EXPECT_EQ(message.header(1, "SUBJECT"), "kept");
    EXPECT_EQ(message.whole().headers().size(), 1u);
}

TEST(ChunkHeader, NthHeaderFollowsByteOrderOfTheNames)
{
    ParsedMessage message("Subject: s\r\nFrom: f\r\nDate: d\r\n\r\n");
    Chunk& chunk = message.whole();
    FILE* file = message.file();
    std::string out = "unchanged";
    EXPECT_FALSE(chunk.getHeaderName(file, 0, out));
    EXPECT_FALSE(chunk.getHeaderName(file, 4, out));
    EXPECT_FALSE(chunk.getHeaderValue(file, -1, out));
    EXPECT_EQ(out, "unchanged");
    ASSERT_TRUE(chunk.getHeaderName(file, 1, out));
    EXPECT_EQ(out, "DATE");
    ASSERT_TRUE(chunk.getHeaderValue(file, 1, out));
    EXPECT_EQ(out, "d");
    ASSERT_TRUE(chunk.getHeaderName(file, 3, out));
    EXPECT_EQ(out, "SUBJECT");
    EXPECT_EQ(chunk.headerCount(file), 3);
}

TEST(ChunkHeader, HeaderTextAndBodyStartCoverTheBlockAndItsBlankLine)
{
    const std::string head = "From: a\r\nSubject: b\r\n\r\n";
    ParsedMessage message(head + "Body line\r\n");
    Chunk& chunk = message.whole();
    ASSERT_NE(chunk.headerText(), nullptr);
    EXPECT_EQ(std::string(chunk.headerText()), head);
    EXPECT_EQ(chunk.bodyStart(), static_cast<int64_t>(head.size()));
    EXPECT_EQ(std::ftell(message.file()), static_cast<long>(head.size()));
}

TEST(ChunkHeader, BlockWithoutBlankLineEndsAtTheEndOfTheFile)
{
    const std::string text = "From: a\r\nSubject: last";
    ParsedMessage message(text);
    EXPECT_EQ(message.header(1, "SUBJECT"), "last");
    EXPECT_EQ(message.whole().bodyStart(), static_cast<int64_t>(text.size()));
    EXPECT_TRUE(message.whole().matchRawBody(message.file(), ""));
    EXPECT_STREQ(message.whole().rawBody(), "");
}

TEST(ChunkHeader, DotLineEndsTheMessageAndDropsThePendingHeader)
{
    ParsedMessage message("From: a\r\nSubject: dropped\r\n.\r\n");
    EXPECT_EQ(message.header(1, "FROM"), "a");
    EXPECT_EQ(message.header(1, "SUBJECT"), "<absent>");
    EXPECT_EQ(message.whole().bodyStart(), 27);
    EXPECT_EQ(message.whole().headerText(), nullptr);
}

TEST(ChunkHeader, LongLinesKeepTheirWholeValueAndNeverStartAHeader)
{
    const std::string subject = std::string(300, 's') + " http://x.example/";
    const std::string longColon(253, 'p');
    ParsedMessage message("Subject: " + subject + "\r\n"
                          "X-Long: " + longColon + "Fake: header\r\n"
                          "\r\n");
    EXPECT_EQ(message.header(1, "SUBJECT"), subject);
    EXPECT_EQ(message.header(1, "X-LONG"), longColon + "Fake: header");
    EXPECT_EQ(message.whole().headers().size(), 2u);
}

TEST(ChunkHeader, TailOfALongLineWithoutColonIsIgnoredLikeItsStart)
{
    ParsedMessage message("Subject: kept\r\n" + std::string(300, 'x') + "\r\nFrom: f\r\n\r\n");
    EXPECT_EQ(message.header(1, "SUBJECT"), "kept");
    EXPECT_EQ(message.header(1, "FROM"), "f");
}

TEST(ChunkHeader, TailOfALongLineIsNeverTheBlankOrDotLine)
{
    // The second piece of this line is exactly CR LF, then ".": neither ends
    // the block, which ends at the real blank line.
    const std::string first = "X-A: " + std::string(249, 'a');
    ASSERT_EQ(first.size(), 254u);
    ParsedMessage message(first + "\r\nX-B: " + std::string(249, 'b') + ".\r\nX-C: c\r\n\r\nbody");
    EXPECT_EQ(message.header(1, "X-C"), "c");
    EXPECT_EQ(message.header(1, "X-A"), std::string(249, 'a'));
}

TEST(ChunkHeader, BareLineFeedsEndLinesToo)
{
    ParsedMessage message("Subject: lf\nFrom: x\n\nbody\n");
    EXPECT_EQ(message.header(1, "SUBJECT"), "lf");
    EXPECT_EQ(message.whole().bodyStart(), 21);
}

TEST(ChunkHeader, NulBytesAreKeptAsData)
{
    ParsedMessage message(std::string("Subject: a\0b\r\nFrom: c\r\n\r\n", 25));
    EXPECT_EQ(message.header(1, "SUBJECT"), std::string("a\0b", 3));
    EXPECT_EQ(message.header(1, "FROM"), "c");
}

TEST(ChunkHeader, NoFileGivesNothingFound)
{
    Chunk chunk(0);
    std::string out = "kept";
    EXPECT_FALSE(chunk.getHeader(nullptr, "SUBJECT", out));
    EXPECT_FALSE(chunk.expandMacros(nullptr, "%%SUBJECT%%", out));
    EXPECT_EQ(out, "");
    EXPECT_FALSE(chunk.matchRawBody(nullptr, "*"));
    EXPECT_FALSE(chunk.matchDecodedBody(nullptr, "*"));
    EXPECT_EQ(chunk.bodyWordCount(nullptr, "X"), 0);
}

struct MacroCase {
    const char* name;
    const char* templateText;
    const char* expanded;
    bool lineEndInTail;
};

class ChunkMacros : public ::testing::TestWithParam<MacroCase> {};

TEST_P(ChunkMacros, ExpandsAgainstTheHeaderMap)
{
    const MacroCase& row = GetParam();
    ParsedMessage message("Subject: Hello\r\nFrom: Ann <a@b.example>\r\n\r\n");
    std::string out = "stale";
    EXPECT_EQ(message.whole().expandMacros(message.file(), row.templateText, out), row.lineEndInTail);
    EXPECT_EQ(out, row.expanded);
}

INSTANTIATE_TEST_SUITE_P(
    Templates, ChunkMacros,
    ::testing::Values(MacroCase{"Subject", "[SPAM] %%subject%%", "[SPAM] Hello", false},
                      MacroCase{"Unknown", "%%NOSUCH%%x", "x", false},
                      MacroCase{"Unmatched", "50%% off", "50%% off", false},
                      MacroCase{"Two", "%%FROM%%: %%Subject%%!", "Ann <a@b.example>: Hello!", false},
                      MacroCase{"EmptyName", "a%%%%b", "ab", false},
                      MacroCase{"TailWithLineEnd", "%%SUBJECT%%\r\nX-Added: 1\r\n", "Hello\r\nX-Added: 1\r\n", true},
                      MacroCase{"LineEndBeforeMacro", "a\r\n%%SUBJECT%%", "a\r\nHello", false},
                      MacroCase{"Empty", "", "", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ChunkUserMacros, AreHeaderEntriesAndTheLastStoredWins)
{
    MessageFile file("USER1: from the message\r\nSubject: s\r\n\r\n");
    Chunk chunk(0);
    for (int n = 1; n <= 4; ++n)
        chunk.setUserMacro(n, "macro" + std::to_string(n));
    chunk.setUserMacro(0, "ignored");
    chunk.setUserMacro(5, "ignored");

    std::string out;
    ASSERT_TRUE(chunk.getHeader(file.get(), "USER1", out));
    EXPECT_EQ(out, "from the message") << "a USER1 header replaces the macro set before the parse";
    ASSERT_TRUE(chunk.getHeader(file.get(), "USER2", out));
    EXPECT_EQ(out, "macro2");
    EXPECT_EQ(chunk.headerCount(file.get()), 5) << "USER1-4 and SUBJECT; n = 0 and 5 add nothing";
    EXPECT_FALSE(chunk.getHeader(file.get(), "USER5", out));
    EXPECT_FALSE(chunk.getHeader(file.get(), "USER0", out));

    chunk.setUserMacro(1, "set by a rule");
    chunk.expandMacros(file.get(), "%%user1%%/%%USER4%%", out);
    EXPECT_EQ(out, "set by a rule/macro4");
    ASSERT_TRUE(chunk.getHeaderName(file.get(), 2, out));
    EXPECT_EQ(out, "USER1");
}

} // namespace
