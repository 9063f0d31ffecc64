#include "common/ParseAddress.h"
#include "common/TextUtils.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Stristr, FindsFirstOccurrenceIgnoringCase)
{
    const char* haystack = "Content-Type: TEXT/Html; charset=x";
    EXPECT_EQ(stristr(haystack, "text/html"), haystack + 14);
    const char* twice = "abcABC";
    EXPECT_EQ(stristr(twice, "ABC"), twice);
    EXPECT_STREQ(stristr("xxAbCxx", "abc"), "AbCxx");
    EXPECT_EQ(stristr("abc", "abcd"), nullptr);
    EXPECT_EQ(stristr("abc", "x"), nullptr);
}

TEST(Stristr, EmptyInputs)
{
    const char* haystack = "abc";
    EXPECT_EQ(stristr("", "a"), nullptr);
    EXPECT_EQ(stristr("", ""), nullptr);
    EXPECT_EQ(stristr(haystack, ""), haystack);
}

TEST(CaseConversion, OnlyAsciiLettersChange)
{
    std::string text = "MiXeD 123 \xC4\xE4 z";
    stringUpper(text);
    EXPECT_EQ(text, "MIXED 123 \xC4\xE4 Z");
    stringLower(text);
    EXPECT_EQ(text, "mixed 123 \xC4\xE4 z");
}

struct AddressCase {
    const char* name;
    std::string value;
    std::string expected;
    friend void PrintTo(const AddressCase& c, std::ostream* os) { *os << c.name; }
};

class ParseAddressCases : public ::testing::TestWithParam<AddressCase> {};

TEST_P(ParseAddressCases, ExtractsAddress)
{
    std::string value = GetParam().value;
    const std::string before = value;
    std::string out = "stale";
    ParseAddress(value.data(), out);
    EXPECT_EQ(out, GetParam().expected);
    EXPECT_EQ(value, before) << "the header value must be left as it was";
}

INSTANTIATE_TEST_SUITE_P(
    Values, ParseAddressCases,
    ::testing::Values(
        AddressCase{"QuotedNameWithComma", "\"Smith, John\" <john@example.com>", "john@example.com"},
        AddressCase{"BareWithComment", "john@example.com (John Smith)", "john@example.com"},
        AddressCase{"Empty", "", ""},
        AddressCase{"OnlyBlanks", "  \t ", ""},
        AddressCase{"LeadingBlanks", " \t a@b.c", "a@b.c"},
        AddressCase{"EndsAtCr", "a@b.c\r\nX-Other: <z@z>", "a@b.c"},
        AddressCase{"FoldedValueKeepsSearching", "Name\r\n <x@y.z>", "x@y.z"},
        AddressCase{"EndsAtSemicolon", "a@b;c@d", "a@b"},
        AddressCase{"EndsAtComma", "a@b, c@d", "a@b"},
        AddressCase{"EndsAtHighByte", "ab\xE9@x", "ab"},
        AddressCase{"EndsAtControl", "ab\x01@x", "ab"},
        AddressCase{"UnclosedAngle", "Name <a@b", "a@b"},
        AddressCase{"CutAt158", std::string(300, 'a'), std::string(158, 'a')}),
    [](const ::testing::TestParamInfo<AddressCase>& info) { return std::string(info.param.name); });

} // namespace
