#include "common/Base64.h"
#include "common/UUDecode.h"

#include "support/TestHelpers.h"

#include <cstring>
#include <random>

namespace {

std::string encode(const std::string& in)
{
    std::string out(4 * ((in.size() + 2) / 3) + 1, '?');
    MimeEncodeStr(in.data(), out.data(), static_cast<int>(in.size()));
    EXPECT_EQ(out.back(), '\0');
    out.pop_back();
    return out;
}

std::string decode(const std::string& in)
{
    std::string out(3 * (in.size() / 4) + 3, '?');
    int n = MimeDecodeLine(in.c_str(), out.data());
    EXPECT_EQ(out[n], '\0');
    return out.substr(0, n);
}

TEST(Base64, Rfc4648Vectors)
{
    const std::pair<std::string, std::string> vectors[] = {
        {"", ""},           {"f", "Zg=="},         {"fo", "Zm8="},         {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}};
    for (const auto& [plain, coded] : vectors) {
        EXPECT_EQ(encode(plain), coded);
        EXPECT_EQ(decode(coded), plain);
    }
}

TEST(Base64, EncodeStrTakesCStringWithMinusOne)
{
    char out[16];
    MimeEncodeStr("foobar", out, -1);
    EXPECT_STREQ(out, "Zm9vYmFy");
    MimeEncodeStr("", out, -1);
    EXPECT_STREQ(out, "");
}

TEST(Base64, DecodeSkipsEverythingOutsideTheAlphabet)
{
    char out[16];
    EXPECT_EQ(MimeDecodeLine("QQ==", out), 1);
    EXPECT_STREQ(out, "A");
    EXPECT_EQ(MimeDecodeLine("QU JD\r\n", out), 3);
    EXPECT_STREQ(out, "ABC");
    EXPECT_EQ(MimeDecodeLine("Q", out), 0);
    EXPECT_EQ(MimeDecodeLine("=Q=U=J=D=", out), 3);
    EXPECT_EQ(MimeDecodeLine("", out), 0);
}

TEST(Base64, BinaryRoundTrip)
{
    std::mt19937 random(7);
    for (size_t length = 0; length < 200; ++length) {
        std::string data(length, '\0');
        for (char& c : data)
            c = static_cast<char>(random());
        ASSERT_EQ(decode(encode(data)), data) << "length " << length;
    }
}

TEST(Base64, DecodeAcrossLinesWithCarry)
{
    char carry[4] = "";
    char out[16];
    EXPECT_EQ(MimeDecodeLineEx("QU", out, carry), 0);
    EXPECT_STREQ(carry, "QU");
    EXPECT_EQ(MimeDecodeLineEx("JD", out, carry), 3);
    EXPECT_STREQ(out, "ABC");
    EXPECT_STREQ(carry, "");
}

TEST(Base64, CarryStreamDecodesEverySplit)
{
    const std::string plain = "The quick brown fox jumps over the lazy dog, twice over.";
    const std::string coded = encode(plain);
    for (size_t step = 1; step <= coded.size(); ++step) {
        char carry[4] = "";
        std::string got;
        for (size_t pos = 0; pos < coded.size(); pos += step) {
            char out[128];
            int n = MimeDecodeLineEx(coded.substr(pos, step).c_str(), out, carry);
            got.append(out, n);
        }
        char out[8];
        got.append(out, MimeDecodeLine(carry, out));
        ASSERT_EQ(got, plain) << "pieces of " << step;
    }
}

TEST(Base64, CarryHandlesLongLines)
{
    const std::string plain(3000, 'z');
    char carry[4] = "e";
    std::string out(4000, '\0');
    const std::string coded = "np6" + encode(plain);  // "enp6" is "zzz"
    EXPECT_EQ(MimeDecodeLineEx(coded.c_str(), out.data(), carry), 3003);
    EXPECT_EQ(out.substr(0, 3003), std::string(3003, 'z'));
}

TEST(Base64, EncodeFileInLinesOf64)
{
    TempDir dir;
    std::string data(100, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 7);
    writeFile(dir / "in.bin", data);

    FILE* out = std::fopen((dir / "out.txt").c_str(), "wb");
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(MimeEncode(out, (dir / "in.bin").c_str()), 1);
    std::fclose(out);

    auto lines = splitLines(readFile(dir / "out.txt"));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].size(), 64u);
    EXPECT_EQ(lines[1].size(), 64u);
    EXPECT_EQ(lines[2], encode(data.substr(96)));
    EXPECT_EQ(decode(lines[0] + lines[1] + lines[2]), data);
}

TEST(Base64, EncodeMissingFileWritesNothing)
{
    TempDir dir;
    FILE* out = std::fopen((dir / "out.txt").c_str(), "wb");
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(MimeEncode(out, (dir / "absent").c_str()), 0);
    std::fclose(out);
    EXPECT_EQ(readFile(dir / "out.txt"), "");
}

struct UUCase {
    const char* name;
    std::string line;
    int expected;
    std::string bytes;
    friend void PrintTo(const UUCase& c, std::ostream* os) { *os << c.name; }
};

class UUDecodeCases : public ::testing::TestWithParam<UUCase> {};

TEST_P(UUDecodeCases, DecodesOnlyWholeDataLines)
{
    char out[kMaxUUDecodedLine];
    const UUCase& c = GetParam();
    ASSERT_EQ(UUDecodeLine(c.line.c_str(), out), c.expected);
    EXPECT_EQ(std::string(out, c.expected), c.bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, UUDecodeCases,
    ::testing::Values(UUCase{"ThreeBytes", "#86)C\n", 3, "abc"},
                      UUCase{"LeadingBlanks", "  #86)C\r\n", 3, "abc"},
                      UUCase{"EndLine", "end\r\n", 0, ""},
                      UUCase{"EmptyLine", "", 0, ""},
                      UUCase{"BlankLine", " \r\n", 0, ""},
                      UUCase{"BackquoteCountIsZero", "`\n", 0, ""},
                      UUCase{"TwoBytes", "\"86)C\n", 2, "ab"},
                      UUCase{"TooFewGroups", "&86)C\n", 0, ""},
                      UUCase{"TrailingText", "#86)C junk\n", 0, ""},
                      UUCase{"BadCharacter", "#8a)C\n", 0, ""},
                      UUCase{"HighByteCount", "\xE0" "86)C\n", 0, ""},
                      UUCase{"PlainText", "Hello world, this is text\r\n", 0, ""},
                      UUCase{"FullLine", "M86)C" + std::string(56, '`') + "\n", 45,
                             "abc" + std::string(42, '\0')}),
    [](const ::testing::TestParamInfo<UUCase>& info) { return std::string(info.param.name); });

TEST(UUDecode, LongestCountStaysInBuffer)
{
    // Count 0x5F (DEL) with plenty of data: at most 0x5F bytes are written.
    char out[kMaxUUDecodedLine + 8];
    std::memset(out, 0x55, sizeof out);
    std::string line = "\x7F" + std::string(200, '!');
    UUDecodeLine(line.c_str(), out);
    for (size_t i = kMaxUUDecodedLine; i < sizeof out; ++i)
        EXPECT_EQ(out[i], 0x55);
}

} // namespace
