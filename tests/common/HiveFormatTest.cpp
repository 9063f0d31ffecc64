#include "common/CRegistry.h"
#include "common/HiveFormat.h"

#include <gtest/gtest.h>

namespace {

using hiveformat::Entries;

TEST(HiveFormat, EncodeEscapesQuotePercentControlsAndHighBytes)
{
    std::string out;
    EXPECT_TRUE(CRegistry::encode("a \"b\" 100% \n\r\t\x7F\xE9~", out));
    EXPECT_EQ(out, "\"a %22b%22 100%25 %0a%0d%09%7f%e9~\"");
}

TEST(HiveFormat, DecodeUndoesEncodeForEveryByte)
{
    std::string all;
    for (int b = 1; b < 256; ++b)
        all += static_cast<char>(b);
    std::string encoded, decoded;
    CRegistry::encode(all, encoded);
    ASSERT_TRUE(CRegistry::decode(encoded, decoded));
    EXPECT_EQ(decoded, all);
}

TEST(HiveFormat, DecodeEdges)
{
    std::string out = "stale";
    EXPECT_FALSE(CRegistry::decode("no quote", out));
    EXPECT_EQ(out, "");
    EXPECT_TRUE(CRegistry::decode("junk \"x%41y\" tail \"z\"", out));
    EXPECT_EQ(out, "xAy");
    EXPECT_TRUE(CRegistry::decode("\"100%\"", out));
    EXPECT_EQ(out, "100%") << "a % without two hex digits is kept";
    EXPECT_TRUE(CRegistry::decode("\"%4", out));
    EXPECT_EQ(out, "%4");
    EXPECT_TRUE(CRegistry::decode("\"%zz\"", out));
    EXPECT_EQ(out, "%zz");
    EXPECT_TRUE(CRegistry::decode("\"unterminated", out));
    EXPECT_EQ(out, "unterminated");
}

TEST(HiveFormat, WrapAtEightyCharacters)
{
    std::string out;
    CRegistry::wrap(std::string(80, 'a'), out);
    EXPECT_EQ(out, std::string(80, 'a'));
    CRegistry::wrap(std::string(81, 'a'), out);
    EXPECT_EQ(out, std::string(80, 'a') + "\n+a");
    CRegistry::wrap(std::string(170, 'b'), out);
    EXPECT_EQ(out, std::string(80, 'b') + "\n+" + std::string(80, 'b') + "\n+" + std::string(10, 'b'));
    CRegistry::wrap("", out);
    EXPECT_EQ(out, "");
}

TEST(HiveFormat, WritesTheDocumentedLayout)
{
    Entries entries{{"/", ""}, {"/NEXTID", "17"}, {"/LONG", std::string(81, 'x')}};
    EXPECT_EQ(hiveformat::formatHive(41, entries),
              "41\r\n\"/\"\r\n\"/LONG\" = " + std::string(80, 'x') +
                  "\r\n+x\r\n\"/NEXTID\" = 17\r\n~\r\n");
}

TEST(HiveFormat, ParsesTheDocumentedExample)
{
    auto parsed = hiveformat::parseHive("41\r\n\"/\"\r\n\"/NEXTID\" = 17\r\n~\r\n");
    EXPECT_TRUE(parsed.hasSequence);
    EXPECT_EQ(parsed.sequence, 41u);
    EXPECT_EQ(parsed.entries, (Entries{{"/", ""}, {"/NEXTID", "17"}}));
}

TEST(HiveFormat, RoundTripOfEveryShape)
{
    Entries entries{{"/", ""},
                    {"/A", ""},
                    {"/A/EMPTYLIST", "{}"},
                    {"/A/EIGHTY", std::string(80, '8')},
                    {"/A/EIGHTYONE", std::string(81, '9')},
                    {"/A/LONG", std::string(1000, 'l')},
                    {"/A/TEXT", "\"quote %22 percent %25 lf %0a high %e9\""},
                    {"/A B/C%20D", "1"}};
    auto parsed = hiveformat::parseHive(hiveformat::formatHive(7, entries));
    EXPECT_EQ(parsed.sequence, 7u);
    EXPECT_EQ(parsed.entries, entries);
    EXPECT_TRUE(parsed.whole) << "whatever the writer writes reads whole";
}

struct FileCase {
    const char* name;
    std::string data;
    bool hasSequence;
    Entries entries;
    bool whole;   // read whole, as a writer of the format leaves a file
    friend void PrintTo(const FileCase& c, std::ostream* os) { *os << c.name; }
};

class HandWrittenFiles : public ::testing::TestWithParam<FileCase> {};

TEST_P(HandWrittenFiles, LoadAsExpected)
{
    auto parsed = hiveformat::parseHive(GetParam().data);
    EXPECT_EQ(parsed.hasSequence, GetParam().hasSequence);
    EXPECT_EQ(parsed.entries, GetParam().entries);
    EXPECT_EQ(parsed.whole, GetParam().whole);
}

INSTANTIATE_TEST_SUITE_P(
    Loading, HandWrittenFiles,
    ::testing::Values(
        FileCase{"Empty", "", false, {}, false},
        FileCase{"NoSequenceNumber", "\"/A\" = 1\r\n~\r\n", false, {}, false},
        FileCase{"LineFeedsOnly", "3\n\"/A\" = 1\n\"/B\"\n~\n", true, {{"/A", "1"}, {"/B", ""}}, true},
        FileCase{"BytesAfterEndMarkerIgnored", "3\r\n\"/A\" = 1\r\n~\r\n\"/B\" = 2\r\n~\r\n", true,
                 {{"/A", "1"}}, true},
        FileCase{"NoEndMarker", "3\r\n\"/A\" = 1\r\n\"/B\" = 2", true, {{"/A", "1"}, {"/B", "2"}}, false},
        FileCase{"NoClosingQuoteDropped", "3\r\n\"/A = 1\r\n\"/B\" = 2\r\n~\r\n", true,
                 {{"/B", "2"}}, false},
        FileCase{"EqualsWithNothingDropped", "3\r\n\"/A\" =   \r\n\"/B\" = 2\r\n~\r\n", true,
                 {{"/B", "2"}}, false},
        FileCase{"OtherLinesIgnored", "3\r\n; comment\r\n\"/A\" = 1\r\njunk\r\n~\r\n", true,
                 {{"/A", "1"}}, false},
        FileCase{"BlankLinesSkipped", "3\r\n\r\n\"/A\" = 1\r\n\r\n\r\n\"/B\"\r\n~", true,
                 {{"/A", "1"}, {"/B", ""}}, true},
        FileCase{"ContinuationJoinsWithoutBreak", "3\r\n\"/A\" = abc\r\n+def\r\n+g\r\n~\r\n", true,
                 {{"/A", "abcdefg"}}, true},
        FileCase{"FirstRecordForAPathWins", "3\r\n\"/A\" = 1\r\n\"/a\" = 2\r\n~\r\n", true,
                 {{"/A", "1"}}, true},
        FileCase{"PathsAreUpperCased", "3\r\n\"/key/value\" = x\r\n~\r\n", true,
                 {{"/KEY/VALUE", "x"}}, true},
        FileCase{"OverlongLineDropsItsRecord",
                 "3\r\n\"/A\" = " + std::string(2000, 'z') + "\r\n+more\r\n\"/B\" = 2\r\n~\r\n", true,
                 {{"/B", "2"}}, false},
        FileCase{"SequenceOnlyIsEmptyHiveButNotWhole", "12\r\n", true, {}, false},
        FileCase{"HugeSequenceDoesNotOverflow", "99999999999999999999999\r\n\"/A\"\r\n~", true,
                 {{"/A", ""}}, true}),
    [](const ::testing::TestParamInfo<FileCase>& info) { return std::string(info.param.name); });

TEST(HiveFormat, RecordLimit)
{
    EXPECT_TRUE(hiveformat::recordFits("/" + std::string(1000, 'a'), ""));
    EXPECT_FALSE(hiveformat::recordFits("/" + std::string(1020, 'a'), ""));
    EXPECT_FALSE(hiveformat::recordFits("/" + std::string(400, '\x01'), ""))
        << "the encoded size counts: 400 bytes take 1200 characters";
    EXPECT_TRUE(hiveformat::recordFits("/A", std::string(100000, 'v')))
        << "long values wrap onto continuation lines";
}

} // namespace
