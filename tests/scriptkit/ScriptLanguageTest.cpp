// The language, one small script per row: what the script notes is what it
// computed.
#include "ScriptRunner.h"

#include <gtest/gtest.h>

namespace {

struct LanguageCase {
    const char* name;
    const char* body;
    std::vector<std::string> notes;
};

void PrintTo(const LanguageCase& row, std::ostream* out)
{
    *out << row.name;
}

class ScriptLanguage : public ::testing::TestWithParam<LanguageCase> {};

TEST_P(ScriptLanguage, NotesWhatTheScriptComputes)
{
    EXPECT_EQ(runBody(GetParam().body), GetParam().notes);
}

using Notes = std::vector<std::string>;

const LanguageCase kArithmetic[] = {
    {"Precedence", "test_number(2 + 3 * 4 - (1 + 1))\ntest_number(-7 / 2)\ntest_number(7 - -2)", Notes{"12", "-3", "9"}},
    {"OverflowWraps", "a% = 2147483647\na% = a% + 1\ntest_number(a%)\ntest_number(a% - 1)\ntest_number(65536 * 65536)",
     Notes{"-2147483648", "2147483647", "0"}},
    {"SmallestNumber", "a% = -2147483648\ntest_number(a% / -1)\ntest_number(-a%)\ntest_number(abs(a%))",
     Notes{"-2147483648", "-2147483648", "-2147483648"}},
    {"TruthValues", "test_number(true)\ntest_number(false)\ntest_number(3 > 2)\ntest_number(not true)\n"
                    "test_number(true and false)\ntest_number(true or false)\ntest_number(true xor true)\n"
                    "test_number(not 1 = 2)",
     Notes{"-1", "0", "-1", "0", "0", "-1", "0", "-1"}},
    {"Bitwise", "test_number(12 and 10)\ntest_number(12 or 3)\ntest_number(6 xor 3)\ntest_number(not 0)",
     Notes{"8", "15", "5", "-1"}},
    {"Comparisons", "test_number(1 <> 2)\ntest_number(2 <= 2)\ntest_number(3 >= 4)\ntest_number(\"abc\" < \"abd\")\n"
                    "test_number(\"B\" = \"b\")\ntest_number(\"x\" <> \"y\")",
     Notes{"-1", "-1", "0", "-1", "0", "-1"}},
};

const LanguageCase kTexts[] = {
    {"Concatenation", "a$ = \"free\" + \" \" & \"money\"\ntest_note(a$)", Notes{"free money"}},
    {"QuoteInString", "test_note(\"say \"\"hi\"\"\")", Notes{"say \"hi\""}},
    {"InIgnoresCase", "test_number(\"VIAGRA\" in \"cheap viagra here\")\ntest_number(\"x\" in \"abc\")\n"
                      "test_number(\"\" in \"abc\")",
     Notes{"-1", "0", "-1"}},
    {"Builtins", "s$ = \"  Hello World  \"\nt$ = trim(s$)\ntest_note(t$)\ntest_number(len(t$))\n"
                 "test_note(left(t$, 5))\ntest_note(right(t$, 5))\ntest_note(mid(t$, 7, 3))\ntest_note(mid(t$, 7))\n"
                 "test_number(instr(t$, \"o\"))\ntest_number(instr(6, t$, \"o\"))\ntest_number(instr(t$, \"z\"))\n"
                 "test_note(upper(t$))\ntest_note(lower(t$))",
     Notes{"Hello World", "11", "Hello", "World", "Wor", "World", "5", "8", "0", "HELLO WORLD", "hello world"}},
    {"BuiltinsAtTheEdges", "test_note(left(\"abc\", 10))\ntest_note(left(\"abc\", -1))\ntest_note(right(\"abc\", 0))\n"
                           "test_note(mid(\"abc\", 0, 2))\ntest_note(mid(\"abc\", 9))\ntest_number(instr(99, \"abc\", \"a\"))",
     Notes{"abc", "", "", "ab", "", "0"}},
    {"Conversions", "test_note(str(-42))\ntest_number(val(\" -17abc\"))\ntest_number(val(\"x\"))\n"
                    "test_number(val(\"99999999999\"))\ntest_note(chr(65) + chr(322))\ntest_number(asc(\"a\"))\n"
                    "test_number(asc(\"\"))",
     Notes{"-42", "-17", "0", "2147483647", "AB", "97", "0"}},
    {"Numbers", "test_number(min(3, -4))\ntest_number(max(3, -4))\ntest_number(mod(17, 5))\ntest_number(mod(-17, 5))\n"
                "test_number(mod(-2147483648, -1))",
     Notes{"-4", "3", "2", "-2", "0"}},
};

const LanguageCase kControl[] = {
    {"BlockIf", "a% = 5\nif a% > 3 then\n  test_note(\"big\")\nelse\n  test_note(\"small\")\nendif\n"
                "if a% < 3 then\n  test_note(\"never\")\nendif\ntest_note(\"after\")",
     Notes{"big", "after"}},
    {"NestedBlockIf", "a% = 1\nb% = 2\nif a% = 1 then\n if b% = 3 then\n  test_note(\"x\")\n else\n  test_note(\"y\")\n endif\n"
                      "else\n test_note(\"z\")\nendif",
     Notes{"y"}},
    {"OneLineIf", "a% = 2\nif a% = 2 then test_note(\"yes\") else test_note(\"no\")\n"
                  "if a% = 3 then test_note(\"yes\") else test_note(\"no\")\nif a% = 3 then test_note(\"skipped\")\n"
                  "if a% = 2 then if a% > 1 then test_note(\"nested\") else test_note(\"inner else\")",
     Notes{"yes", "no", "nested"}},
    {"ForTo", "for i% = 1 to 3\n test_number(i%)\nnext i%\ntest_number(i%)", Notes{"1", "2", "3", "4"}},
    {"ForStep", "for i% = 0 to 10 step 4\n test_number(i%)\nnext", Notes{"0", "4", "8"}},
    {"ForDownto", "for i% = 3 downto 1\n test_number(i%)\nnext", Notes{"3", "2", "1"}},
    {"ForDowntoStep", "for i% = 10 downto 1 step 4\n test_number(i%)\nnext", Notes{"10", "6", "2"}},
    {"ForNegativeStep", "for i% = 2 to -2 step -2\n test_number(i%)\nnext", Notes{"2", "0", "-2"}},
    {"ForNeverEntered", "for i% = 5 to 1\n test_number(i%)\nnext\ntest_note(\"done\")", Notes{"done"}},
    {"ForAtTheTopOfTheRange", "n% = 0\nfor i% = 2147483646 to 2147483647\n n% = n% + 1\nnext\ntest_number(n%)",
     Notes{"2"}},
    {"NestedFor", "for i% = 1 to 2\n for j% = 1 to 2\n  test_number(i% * 10 + j%)\n next j%\nnext i%",
     Notes{"11", "12", "21", "22"}},
    {"RepeatUntil", "i% = 0\nrepeat\n i% = i% + 1\nuntil i% >= 3\ntest_number(i%)", Notes{"3"}},
    {"Goto", "goto skip\ntest_note(\"skipped\")\nskip:\ntest_note(\"landed\")\ni% = 0\nagain: i% = i% + 1\n"
             "if i% < 3 then goto :again\ntest_number(i%)",
     Notes{"landed", "3"}},
    {"GosubNested", "gosub outer\ntest_note(\"back\")\nreturn\nouter:\ntest_note(\"outer\")\ngosub inner\n"
                    "test_note(\"outer again\")\nreturn\ninner:\ntest_note(\"inner\")\nreturn",
     Notes{"outer", "inner", "outer again", "back"}},
    {"ReturnAtTopLevelEndsTheRun", "test_note(\"one\")\nreturn\ntest_note(\"two\")", Notes{"one"}},
    {"ForLoopLeftByGoto", "for i% = 1 to 10\n if i% = 3 then goto out\nnext\nout:\ntest_number(i%)", Notes{"3"}},
};

const LanguageCase kNames[] = {
    {"Declarations", "string s$ = \"a\", t$\ninteger n% = 4\ntest_note(s$ + t$)\ntest_number(n%)",
     Notes{"a", "4"}},
    {"BareNames", "string subject = \"hello\"\ninteger count\ncount = len(subject)\ntest_note(subject)\n"
                  "test_number(count)",
     Notes{"hello", "5"}},
    {"UndeclaredVariablesStartEmpty", "test_note(nothing$)\ntest_number(nothing%)", Notes{"", "0"}},
    {"DeclarationResets", "n% = 9\ninteger n%\ntest_number(n%)", Notes{"0"}},
    {"SameNameDifferentKinds", "a$ = \"t\"\na% = 1\ntest_note(a$)\ntest_number(a%)", Notes{"t", "1"}},
    {"AnyLetterCase", "IF 1 = 1 THEN Test_Note(\"x\")\nA% = 3\ntest_number(a%)\nString S = \"s\"\ntest_note(s)",
     Notes{"x", "3", "s"}},
    {"Constants", "#const LIMIT = 50\n#const LOW = -5\n#const WORD = \"spam\"\ntest_number(LIMIT + low)\ntest_note(word)",
     Notes{"45", "spam"}},
    {"Comments", "// a comment line\ntest_note(\"a\") // after a statement\n  // indented\ntest_note(\"// not a comment\")",
     Notes{"a", "// not a comment"}},
};

std::string rowName(const ::testing::TestParamInfo<LanguageCase>& info)
{
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Arithmetic, ScriptLanguage, ::testing::ValuesIn(kArithmetic), rowName);
INSTANTIATE_TEST_SUITE_P(Texts, ScriptLanguage, ::testing::ValuesIn(kTexts), rowName);
INSTANTIATE_TEST_SUITE_P(Control, ScriptLanguage, ::testing::ValuesIn(kControl), rowName);
INSTANTIATE_TEST_SUITE_P(Names, ScriptLanguage, ::testing::ValuesIn(kNames), rowName);

} // namespace
