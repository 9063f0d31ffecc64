// Body decoding: the decoders on their own, then through a chunk's body.
#include "analysis/BodyDecoding.h"

#include "MessageFile.h"

#include <gtest/gtest.h>

namespace {

struct TextCase {
    const char* name;
    std::string in;
    std::string out;
};

std::string rowName(const ::testing::TestParamInfo<TextCase>& info)
{
    return info.param.name;
}

class QuotedPrintable : public ::testing::TestWithParam<TextCase> {};

TEST_P(QuotedPrintable, DecodesInPlace)
{
    std::string text = GetParam().in;
    text.resize(decodeQuotedPrintable(text.data(), text.size(), text.data()));
    EXPECT_EQ(text, GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Escapes, QuotedPrintable,
    ::testing::Values(TextCase{"SoftBreak", "caf=E9 =\r\nlatte", "caf\xE9 latte"},
                      TextCase{"LowerCaseHex", "=e9=3d", "\xE9="},
                      TextCase{"BareLineFeedSoftBreak", "a=\nb", "ab"},
                      TextCase{"MalformedKept", "=4G and =G4", "=4G and =G4"},
                      TextCase{"EqualsEquals", "==41", "==41"},
                      TextCase{"TrailingEquals", "end=", "end="},
                      TextCase{"EqualsCr", "a=\rb", "a=\rb"},
                      TextCase{"LineEndsKept", "a\r\nb\r\n", "a\r\nb\r\n"},
                      TextCase{"Nul", std::string("a=00b", 5), std::string("a\0b", 3)}),
    rowName);

class MarkupStripping : public ::testing::TestWithParam<TextCase> {};

TEST_P(MarkupStripping, DropsTagsAndSpacesBreaks)
{
    std::string text = GetParam().in;
    text.resize(stripMarkup(text.data()));
    EXPECT_EQ(text, GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Tags, MarkupStripping,
    ::testing::Values(TextCase{"Example", "<b>FREE</b>money<br>now", "FREEmoney now"},
                      TextCase{"BreakTagsAnyCase", "a<BR>b<Td>c</TD>d<P>e<li>f<hR>g", "a b c d e f g"},
                      TextCase{"BreakTagWithAttributesIsOrdinary", "a<br/>b<p class=x>c", "abc"},
                      TextCase{"UnclosedTagDropsTheRest", "keep<a href=", "keep"},
                      TextCase{"LoneGreaterThan", "1 > 0", "1 > 0"},
                      TextCase{"Enriched", "<bold>big</bold> deal", "big deal"}),
    rowName);

TEST(Base64Lines, EachLineDecodesOnItsOwn)
{
    std::string text = "SGVs\r\nbG8g\r\nd29y!!bGQ=\r\n";
    const size_t length = text.size();
    text.resize(decodeBase64Lines(text.data(), length));
    EXPECT_EQ(text, "Hello world");

    // An unfinished group ends with its line: "SGVsbA" gives "Hel" and "l", "bw==" gives "o".
    std::string split = "SGVsbA\r\nbw==\r\n";
    split.resize(decodeBase64Lines(split.data(), split.size()));
    EXPECT_EQ(split, "Hello");
}

std::string message(const std::string& headers, const std::string& body)
{
    return headers + "\r\n" + body;
}

TEST(ChunkBody, Base64TextGivesWordsOfTheDecodedText)
{
    ParsedMessage msg(message("Content-Type: text/plain\r\nContent-Transfer-Encoding: BASE64\r\n",
                              "RnJlZSBtb25leSwgZnJlZSE=\r\n"));
    Chunk& chunk = msg.whole();
    EXPECT_EQ(chunk.bodyWordCount(msg.file(), "FREE"), 2);
    EXPECT_EQ(chunk.bodyWordCount(msg.file(), "MONEY"), 1);
    EXPECT_EQ(chunk.bodyWordCount(msg.file(), "RNJLZSBTB25LEWWGZNJLZSE="), 0);
    EXPECT_TRUE(chunk.matchDecodedBody(msg.file(), "Free money, free!"));
    EXPECT_FALSE(chunk.matchRawBody(msg.file(), "Free*"));
    EXPECT_TRUE(chunk.matchRawBody(msg.file(), "RnJlZSBtb25leSwgZnJlZSE=*"));
}

TEST(ChunkBody, QuotedPrintableJoinsSoftBreaks)
{
    ParsedMessage msg(message("Content-Transfer-Encoding: quoted-printable\r\n", "caf=E9 =\r\nlatte"));
    msg.whole().decodeBody(msg.file());
    EXPECT_STREQ(msg.whole().decodedBody(), "caf\xE9 latte");
    EXPECT_EQ(msg.whole().bodyWordCount(msg.file(), "CAF\xE9"), 1);
}

TEST(ChunkBody, HtmlIsStrippedAndTheRawTextReloaded)
{
    ParsedMessage msg(message("Content-Type: text/html\r\n", "<b>FREE</b>money<br>now"));
    Chunk& chunk = msg.whole();
    chunk.decodeBody(msg.file());
    EXPECT_STREQ(chunk.decodedBody(), "FREEmoney now");
    EXPECT_EQ(chunk.rawBody(), nullptr);
    EXPECT_EQ(chunk.bodyWordCount(msg.file(), "FREEMONEY"), 1);
    EXPECT_EQ(chunk.bodyWordCount(msg.file(), "NOW"), 1);
    EXPECT_EQ(chunk.bodyWords().size(), 2u);
    EXPECT_TRUE(chunk.matchRawBody(msg.file(), "<b>FREE</b>*"));
    EXPECT_STREQ(chunk.rawBody(), "<b>FREE</b>money<br>now");
}

TEST(ChunkBody, PlainTextRawAndDecodedAreOneBuffer)
{
    ParsedMessage msg(message("Content-Type: text/plain\r\n", "just text\r\n"));
    Chunk& chunk = msg.whole();
    EXPECT_TRUE(chunk.matchDecodedBody(msg.file(), "just text\r\n"));
    EXPECT_TRUE(chunk.matchRawBody(msg.file(), "just text\r\n"));
    EXPECT_EQ(chunk.rawBody(), chunk.decodedBody());
}

TEST(ChunkBody, RawBodyLoadedFirstStaysItsOwn)
{
    ParsedMessage msg(message("Content-Type: text/plain\r\n", "x\r\n"));
    Chunk& chunk = msg.whole();
    EXPECT_TRUE(chunk.matchRawBody(msg.file(), "x\r\n"));
    chunk.decodeBody(msg.file());
    EXPECT_NE(chunk.rawBody(), chunk.decodedBody());
    EXPECT_STREQ(chunk.rawBody(), chunk.decodedBody());
}

TEST(ChunkBody, WholeMessageRawMatchBeforeItsEndIsKnownRunsToTheEndOfTheFile)
{
    ParsedMessage msg(message("Subject: s\r\n", "line one\r\nline two\r\n.\r\n"));
    Chunk& chunk = msg.whole();
    ASSERT_EQ(chunk.chunkEnd(), 0);
    EXPECT_TRUE(chunk.matchRawBody(msg.file(), "*line two\r\n.\r\n"));
    EXPECT_EQ(chunk.chunkEnd(), 0) << "the raw match does not decide the chunk's end";
    chunk.decodeBody(msg.file());
    EXPECT_EQ(chunk.chunkEnd(), chunk.bodyStart() + 23);
}

TEST(ChunkBody, MultipartHasNoDecodedBody)
{
    ParsedMessage msg(message("Content-Type: multipart/mixed; boundary=b\r\n", "--b\r\n\r\nx\r\n--b--\r\n"));
    Chunk& chunk = msg.whole();
    EXPECT_FALSE(chunk.matchDecodedBody(msg.file(), "*"));
    EXPECT_EQ(chunk.decodedBody(), nullptr);
    EXPECT_EQ(chunk.bodyWordCount(msg.file(), "X"), 0);
    EXPECT_TRUE(chunk.bodyWords().empty());
    EXPECT_TRUE(chunk.matchRawBody(msg.file(), "--b*"));
}

TEST(ChunkBody, APartDecodesOnlyItsOwnText)
{
    ParsedMessage msg(message("Content-Type: multipart/mixed; boundary=b\r\n",
                              "--b\r\nContent-Transfer-Encoding: base64\r\n\r\nb25l\r\n"
                              "--b\r\nContent-Type: text/html\r\n\r\n<i>two</i>\r\n"
                              "--b--\r\nepilogue\r\n"));
    ASSERT_EQ(msg.count(), 3u);
    msg.chunk(2).decodeBody(msg.file());
    EXPECT_STREQ(msg.chunk(2).decodedBody(), "one");
    EXPECT_TRUE(msg.chunk(3).matchDecodedBody(msg.file(), "two\r\n"));
    EXPECT_TRUE(msg.chunk(3).matchRawBody(msg.file(), "<i>two</i>\r\n"));
    EXPECT_EQ(msg.chunk(3).bodyWordCount(msg.file(), "EPILOGUE"), 0);
}

TEST(ChunkBody, ATwentyMegabyteBase64LineDecodesUpToTheReadLimit)
{
    std::string line;
    line.reserve(20 * 1000 * 1000);
    while (line.size() < 20 * 1000 * 1000)
        line += "enp6";   // "zzz"
    ParsedMessage msg(message("Content-Transfer-Encoding: base64\r\n", line + "\r\n"));
    msg.whole().decodeBody(msg.file());
    ASSERT_NE(msg.whole().decodedBody(), nullptr);
    const std::string decoded = msg.whole().decodedBody();
    EXPECT_EQ(decoded.size(), static_cast<size_t>(Chunk::kMaxBodyRead) / 4 * 3);
    EXPECT_EQ(decoded.find_first_not_of('z'), std::string::npos);
    EXPECT_EQ(msg.whole().bodyWordCount(msg.file(), "ZZZ"), 0) << "runs of z are far over 40 bytes";
}

TEST(ChunkBody, ABodyBeyondTheReadLimitIsJudgedByItsBeginning)
{
    // A text part far larger than the limit, then a small part after it.
    std::string filler;
    while (filler.size() < static_cast<size_t>(Chunk::kMaxBodyRead) * 3)
        filler += "plain ordinary words of a long report\r\n";
    ParsedMessage msg(message("Content-Type: multipart/mixed; boundary=\"b\"\r\n",
                              "--b\r\nContent-Type: text/plain\r\n\r\nopening viagra\r\n" + filler +
                                  "closing casino\r\n--b\r\nContent-Type: text/plain\r\n\r\nlast part\r\n--b--\r\n"));
    ASSERT_EQ(msg.structure().size(), 3u) << "the parts are found past the limit";
    Chunk& large = msg.chunk(2);
    EXPECT_TRUE(large.matchDecodedBody(msg.file(), "*viagra*"));
    EXPECT_FALSE(large.matchDecodedBody(msg.file(), "*casino*"));
    EXPECT_LE(large.decodedLength(), static_cast<size_t>(Chunk::kMaxBodyRead));
    EXPECT_EQ(large.bodyWordCount(msg.file(), "VIAGRA"), 1);
    EXPECT_EQ(large.bodyWordCount(msg.file(), "CASINO"), 0);
    EXPECT_TRUE(msg.whole().matchRawBody(msg.file(), "*opening viagra*"));
    EXPECT_FALSE(msg.whole().matchRawBody(msg.file(), "*last part*"));
    EXPECT_TRUE(msg.chunk(3).matchDecodedBody(msg.file(), "last part*"));
}

TEST(ChunkBody, TextStopsAtTheFirstNulByte)
{
    ParsedMessage msg(message("Content-Type: text/plain\r\n", std::string("word\0hidden\r\n", 13)));
    EXPECT_EQ(msg.whole().bodyWordCount(msg.file(), "WORD"), 1);
    EXPECT_EQ(msg.whole().bodyWordCount(msg.file(), "HIDDEN"), 0);
}

} // namespace
