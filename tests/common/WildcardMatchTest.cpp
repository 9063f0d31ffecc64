#include "common/WildcardList.h"
#include "common/WildcardMatch.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

bool match(std::string text, const std::string& pattern)
{
    return WildcardMatch(text.data(), pattern.c_str());
}

// Up to maxLength bytes drawn from alphabet.
std::string randomText(std::mt19937& random, const std::string& alphabet, size_t maxLength)
{
    std::string text(random() % (maxLength + 1), ' ');
    for (char& c : text)
        c = alphabet[random() % alphabet.size()];
    return text;
}

struct Case {
    const char* name;
    std::string text;
    std::string pattern;
    bool expected;
    friend void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }
};

class WildcardCases : public ::testing::TestWithParam<Case> {};

TEST_P(WildcardCases, MatchesAsDefined)
{
    const Case& c = GetParam();
    EXPECT_EQ(match(c.text, c.pattern), c.expected)
        << "text '" << c.text << "' pattern '" << c.pattern << "'";
}

// The same cases, with the pattern analysed once (WildcardPattern).
TEST_P(WildcardCases, AnAnalysedPatternMatchesAsDefined)
{
    const Case& c = GetParam();
    EXPECT_EQ(WildcardPattern(c.pattern).matches(c.text.data(), c.text.size()), c.expected)
        << "text '" << c.text << "' pattern '" << c.pattern << "'";
}

const std::string k30kOfA(30000, 'a');

INSTANTIATE_TEST_SUITE_P(
    Syntax, WildcardCases,
    ::testing::Values(
        Case{"LettersIgnoreCase", "abc", "ABC", true},
        Case{"SetsAreCaseSensitive", "abc", "[A-C]bc", false},
        Case{"SetRangeMatches", "bbc", "[a-c]bc", true},
        Case{"QuestionAtTextEndSucceeds", "ab", "ab?x", true},
        Case{"QuestionNeedsNoMoreText", "ab", "ab?", true},
        Case{"QuestionSkipsNoCR", "a\rb", "a?b", false},
        Case{"QuestionSkipsNoLF", "a\nb", "a?b", false},
        Case{"TrailingStarTakesRest", "abc", "abc*", true},
        Case{"StarBeforeMoreNeverAtEnd", "abc", "abc*d", false},
        Case{"StarThenQuestionNotAtEnd", "a", "a*?", false},
        Case{"StarThenQuestionWithText", "ab", "a*?", true},
        Case{"DoubleStarNeedsText", "abc", "abc**", false},
        Case{"StarCrossesLineBreaks", "a\r\nb", "a*b", true},
        Case{"FreeAnywhere", "Get FREE stuff", "*free*", true},
        Case{"FreeMissing", "Get fee stuff", "*free*", false},
        Case{"LineModeSecondLine", "x\r\ny", "_y", true},
        Case{"WholeTextNotLine", "x\r\ny", "y", false},
        Case{"CaretConsumesCrLf", "x\r\ny", "x^y", true},
        Case{"CaretAtStart", "a", "^a", true},
        Case{"CaretInMiddleFails", "ab", "a^b", false},
        Case{"CaretNeedsLf", "a\rb", "a^b", false},
        Case{"SubjectLine", "From: a@b\r\nSubject: cheap PILLS here\r\nTo: c", "_Subject:*pills*",
             true},
        Case{"SubjectLineMissing", "From: pills\r\nSubject: hello\r\nTo: c", "_Subject:*pills*",
             false},
        Case{"LineModeLoneLfIsNoBreak", "x\ny", "_y", false},
        Case{"LineModeEmptyLastLine", "a\r\n", "_", true},
        Case{"LineModeEmptyText", "", "_", true},
        Case{"NegatedSetFirstChar", "Hello", "![a-z]*", true},
        Case{"NegatedSetFirstCharLower", "hello", "![a-z]*", false},
        Case{"MultipartType", "Multipart/Mixed; boundary=x", "*multipart/*", true},
        Case{"LeadingDashIsNoMember", "-", "[-a]", false},
        Case{"LeadingDashSetHoldsA", "a", "[-a]", true},
        Case{"TrailingDashIsNoMember", "-", "[a-]", false},
        Case{"NegatedSet", "x", "[^abc]", true},
        Case{"NegatedSetMember", "b", "[^abc]", false},
        Case{"NegatedSetAtEnd", "", "[^abc]", false},
        Case{"SetMatchesCr", "\r", "[^a]", true},
        Case{"SignedRangeHighBytes", "\x90", "[\x80-\xff]", true},
        Case{"SignedRangeExcludesAscii", "a", "[\x80-\xff]", false},
        Case{"SignedRangeUpsideDown", "b", "[a-\xff]", false},
        Case{"UnclosedSetEndsPattern", "a", "[abc", true},
        Case{"EscapedStar", "*", "\\*", true},
        Case{"EscapedStarIsLiteral", "a", "\\*", false},
        Case{"EscapedLetterIgnoresCase", "A", "\\a", true},
        Case{"TrailingBackslash", "a\\", "a\\", true},
        Case{"NegationOnlyFirst", "a!", "a!", true},
        Case{"UnderscoreOrdinaryAfterBang", "_x", "!_x", false},
        Case{"UnderscoreOrdinaryAfterBangOther", "y", "!_x", true},
        Case{"LineModeOnlyFirst", "a_b", "a_b", true},
        Case{"EmptyPatternEmptyText", "", "", true},
        Case{"EmptyPatternText", "a", "", false},
        Case{"PatternEndNeedsTextEnd", "abc", "ab", false},
        Case{"HostileStarsFail", k30kOfA, "*a*a*a*a*a*b", false},
        Case{"HostileStarsMatch", k30kOfA + "b", "*a*a*a*a*a*b", true},
        Case{"ManyStarsOnShortText", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaac",
             "a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b", false}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(WildcardMatch, EndReportsWhereMatchingStopped)
{
    std::string text = "abc";
    char* end = nullptr;
    EXPECT_TRUE(WildcardMatch(text.data(), "abc", &end));
    EXPECT_EQ(end, text.data() + 3);
    EXPECT_FALSE(WildcardMatch(text.data(), "abx", &end));
    EXPECT_EQ(end, text.data() + 2);
}

TEST(WildcardMatch, LeavesTextUnchanged)
{
    std::string text = "one\r\ntwo\r\nthree";
    const std::string before = text;
    EXPECT_TRUE(WildcardMatch(text.data(), "_two"));
    EXPECT_EQ(text, before);
}

TEST(WildcardMatch, NullArgumentsGiveFalse)
{
    std::string text = "a";
    EXPECT_FALSE(WildcardMatch(nullptr, "a"));
    EXPECT_FALSE(WildcardMatch(text.data(), nullptr));
}

TEST(WildcardMatch, LongTextsDoNotRecurse)
{
    // 4 MB walked literally, and a star tried at every one of its positions.
    std::string text(4 << 20, 'x');
    EXPECT_TRUE(match(text, text));
    EXPECT_FALSE(match(text, text + "y"));
    EXPECT_FALSE(match(text, "*xy"));
    EXPECT_TRUE(match(text, "*x?x*x"));
}

// A literal reading of the pattern language: recursion at every "*" with no
// memory of earlier failures.  Exponential, so only for short inputs.
class ReferenceMatcher
{
public:
    ReferenceMatcher(const std::string& text, const std::string& pattern)
        : m_text(text), m_pattern(pattern)
    {}

    bool matches() const
    {
        if (!m_pattern.empty() && m_pattern[0] == '!')
            return !matchAt(m_text, 0, 1);
        if (!m_pattern.empty() && m_pattern[0] == '_') {
            std::string rest = m_text;
            for (;;) {
                size_t crlf = rest.find("\r\n");
                if (matchAt(rest.substr(0, crlf), 0, 1))
                    return true;
                if (crlf == std::string::npos)
                    return false;
                rest = rest.substr(crlf + 2);
            }
        }
        return matchAt(m_text, 0, 0);
    }

private:
    static char lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; }

    bool inSet(char c, size_t& p) const
    {
        const std::string& pat = m_pattern;
        bool negate = p < pat.size() && pat[p] == '^';
        if (negate)
            ++p;
        bool found = false;
        std::optional<char> before;
        while (p < pat.size() && pat[p] != ']') {
            if (pat[p] == '-') {
                if (before && p + 1 < pat.size() && pat[p + 1] != ']') {
                    signed char lo = *before, hi = pat[p + 1], x = c;
                    found = found || (x >= lo && x <= hi);
                    before.reset();
                    p += 2;
                } else {
                    ++p;
                }
                continue;
            }
            found = found || pat[p] == c;
            before = pat[p++];
        }
        if (p < pat.size())
            ++p;
        return found != negate;
    }

    bool matchAt(const std::string& text, size_t t, size_t p) const
    {
        const std::string& pat = m_pattern;
        if (p == pat.size())
            return t == text.size();
        switch (pat[p]) {
        case '*':
            if (p + 1 == pat.size())
                return true;
            for (size_t i = t; i < text.size(); ++i)
                if (matchAt(text, i, p + 1))
                    return true;
            return false;
        case '?':
            if (t == text.size())
                return true;
            return text[t] != '\r' && text[t] != '\n' && matchAt(text, t + 1, p + 1);
        case '[': {
            if (t == text.size())
                return false;
            size_t after = p + 1;
            return inSet(text[t], after) && matchAt(text, t + 1, after);
        }
        case '^':
            if (t == 0)
                return matchAt(text, t, p + 1);
            return text.compare(t, 2, "\r\n") == 0 && matchAt(text, t + 2, p + 1);
        case '\\':
            if (p + 1 < pat.size())
                return t < text.size() && lower(text[t]) == lower(pat[p + 1]) &&
                       matchAt(text, t + 1, p + 2);
            [[fallthrough]];
        default:
            return t < text.size() && lower(text[t]) == lower(pat[p]) &&
                   matchAt(text, t + 1, p + 1);
        }
    }

    const std::string& m_text;
    const std::string& m_pattern;
};

TEST(WildcardMatch, AgreesWithReferenceOnGeneratedInputs)
{
    std::mt19937 random(20261207);
    const std::string textAlphabet = "abA\r\n-";
    const std::string patternAlphabet = "ab*?*[]^-\\A\r\n";
    auto pick = [&](const std::string& from, size_t maxLength) { return randomText(random, from, maxLength); };
    int disagreements = 0;
    for (int i = 0; i < 40000; ++i) {
        std::string text = pick(textAlphabet, 12);
        std::string pattern = pick(patternAlphabet, 9);
        if (i % 7 == 0)
            pattern = "_" + pattern;
        else if (i % 11 == 0)
            pattern = "!" + pattern;
        const bool want = ReferenceMatcher(text, pattern).matches();
        const bool got = match(text, pattern);
        if (got != want && ++disagreements <= 10)
            ADD_FAILURE() << "text '" << text << "' pattern '" << pattern << "': got " << got
                          << ", want " << want;
    }
    EXPECT_EQ(disagreements, 0);
}

// Patterns of the forms WildcardPattern searches for directly (and some it
// does not), each alone and as one indexed list, give what WildcardMatch
// gives on every text.
TEST(WildcardPattern, AnalysedPatternsAndListsAgreeWithWildcardMatch)
{
    std::mt19937 random(20261209);
    const std::string textAlphabet = "abAB\r\n-";
    auto pick = [&](const std::string& from, size_t maxLength) { return randomText(random, from, maxLength); };
    auto pattern = [&] {
        const std::string word = pick("abAB-", 4);
        switch (random() % 7) {
        case 0:
            return "*" + word + "*";
        case 1:
            return "*" + word;
        case 2:
            return word + "*";
        case 3:
            return word;
        case 4:
            return "!*" + word + "*";
        case 5:
            return "*" + word + "*" + word + "*";   // not a direct form
        default:
            return "_" + word + "*";
        }
    };
    int disagreements = 0;
    for (int i = 0; i < 3000; ++i) {
        WildcardList list;
        for (int n = 0; n < 8; ++n)
            list.emplace_back(pattern());
        list.index();
        for (int t = 0; t < 10; ++t) {
            std::string text = pick(textAlphabet, 14);
            std::vector<bool> matched;
            list.match(text.data(), text.size(), matched);
            ASSERT_EQ(matched.size(), list.size());
            for (size_t n = 0; n < list.size(); ++n) {
                const bool want = match(text, list[n].text());
                const bool alone = list[n].matches(text.data(), text.size());
                if ((alone != want || matched[n] != want) && ++disagreements <= 10)
                    ADD_FAILURE() << "text '" << text << "' pattern '" << list[n].text() << "': alone " << alone
                                  << ", in the list " << matched[n] << ", want " << want;
            }
        }
    }
    EXPECT_EQ(disagreements, 0);
}

TEST(WildcardPattern, AListFindsEachWordWhereverAndHoweverOftenItStands)
{
    WildcardList list{"*act now*", "*ACT*", "*risk free*", "*dear friend*", "*now*", "x"};
    list.index();
    const std::string text = std::string(100000, ' ') + "Dear Friend, ACT NOW!" + std::string(5000, 'n') + "now";
    std::vector<bool> matched;
    list.match(text.data(), text.size(), matched);
    EXPECT_EQ(matched, (std::vector<bool>{true, true, false, true, true, false}));
    list.match(text.data(), 3, matched);
    EXPECT_EQ(matched, (std::vector<bool>(6, false))) << "only the length given is searched";
}

} // namespace
