// Errors: what ParseScript and RunScript report, and where.  Positions count
// from the start of the full text, include file first.
#include "ScriptRunner.h"

#include <gtest/gtest.h>

namespace {

struct ErrorCase {
    const char* name;
    const char* body;
    const char* message;   // a part of the message
    int bodyLine;          // line within the body, from 1
    const char* span;      // the text the error points at
};

void PrintTo(const ErrorCase& row, std::ostream* out)
{
    *out << row.name;
}

std::string errorRowName(const ::testing::TestParamInfo<ErrorCase>& info)
{
    return info.param.name;
}

int linesOf(const std::string& text)
{
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

class ParseErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ParseErrors, AreReportedAtTheirSource)
{
    const ErrorCase& row = GetParam();
    ScriptHandle script;
    const std::string text = fullText(row.body);
    ASSERT_FALSE(ParseScript(script.get(), text.c_str()));
    const ScriptError error = lastError(script.get(), text);
    EXPECT_NE(error.message.find(row.message), std::string::npos) << "got \"" << error.message << "\"";
    EXPECT_EQ(error.line, linesOf(kTestDeclarations) + row.bodyLine);
    EXPECT_EQ(error.span, row.span);
}

INSTANTIATE_TEST_SUITE_P(
    Compile, ParseErrors,
    ::testing::Values(
        ErrorCase{"UnknownFunction", "a% = 1\nx% = nosuch(1)", "Unknown function 'nosuch'", 2, "nosuch"},
        ErrorCase{"NotExported", "n% = TEST_MISSING(\"a\")", "'TEST_MISSING' is not exported", 1, "TEST_MISSING"},
        ErrorCase{"TypeMismatch", "a% = \"text\"", "Type mismatch", 1, "\"text\""},
        ErrorCase{"TextPlusNumber", "a$ = \"x\" + 1", "Type mismatch", 1, "1"},
        ErrorCase{"ArgumentType", "test_note(5)", "argument 1 of 'test_note'", 1, "5"},
        ErrorCase{"ArgumentCount", "test_add(1)", "Wrong number of arguments", 1, "test_add"},
        ErrorCase{"NoValue", "a% = test_throw()", "gives no value", 1, "test_throw"},
        ErrorCase{"MissingEndif", "if 1 then\n test_note(\"x\")", "'if' without 'endif'", 1, "if"},
        ErrorCase{"NextWithoutFor", "a% = 1\nnext", "'next' without 'for'", 2, "next"},
        ErrorCase{"NextOfAnotherLoop", "for i% = 1 to 2\nnext j%", "does not close", 2, "j%"},
        ErrorCase{"UntilWithoutRepeat", "until 1", "'until' without 'repeat'", 1, "until"},
        ErrorCase{"ElseWithoutIf", "else", "'else' without 'if'", 1, "else"},
        ErrorCase{"Async", "async", "'async' is reserved", 1, "async"},
        ErrorCase{"UnknownLabel", "goto nowhere", "Unknown label 'nowhere'", 1, "nowhere"},
        ErrorCase{"DuplicateLabel", "here:\nhere:", "defined twice", 2, "here"},
        ErrorCase{"UnterminatedString", "a$ = \"open", "Unterminated string", 1, "\"open"},
        ErrorCase{"NumberTooLarge", "a% = 2147483648", "Number too large", 1, "2147483648"},
        ErrorCase{"UnknownBareName", "a% = count + 1", "Unknown name 'count'", 1, "count"},
        ErrorCase{"MissingThen", "if 1 test_note(\"x\")", "Expected 'then'", 1, "test_note"},
        ErrorCase{"TrailingTokens", "a% = 1 2", "Unexpected '2'", 1, "2"},
        ErrorCase{"StrayCharacter", "a% = 1 ; 2", "Unexpected character", 1, ";"},
        ErrorCase{"UnknownDirective", "#include \"x\"", "Unknown directive", 1, "#include"},
        ErrorCase{"BlockInOneLineIf", "if 1 then for i% = 1 to 2", "cannot stand in a one-line 'if'", 1, "for"},
        ErrorCase{"ConditionIsText", "if \"a\" then\nendif", "a condition must be a number", 1, "\"a\""},
        ErrorCase{"ForOverText", "for s$ = 1 to 2\nnext", "must be a number variable", 1, "s$"},
        ErrorCase{"RedeclaredOtherType", "string x\ninteger x", "already declared", 2, "x"},
        ErrorCase{"ConstantAssigned", "#const K = 1\nK = 2", "constant", 2, "K"},
        ErrorCase{"DeclaredTwiceDifferently", "#declare TEST_ADD(integer) as integer", "declared twice", 1, "TEST_ADD"},
        ErrorCase{"BuiltinRedeclared", "#declare LEN(string) as integer", "built-in", 1, "LEN"}),
    errorRowName);

TEST(ParseErrors, DeepNestingIsRefusedNotRecursedInto)
{
    ScriptHandle script;
    const std::string deep = "a% = " + std::string(100000, '(') + "1" + std::string(100000, ')');
    EXPECT_FALSE(ParseScript(script.get(), deep.c_str()));
    EXPECT_NE(lastError(script.get(), deep).message.find("nested too deeply"), std::string::npos);

    std::string blocks;
    for (int i = 0; i < 5000; ++i)
        blocks += "if 1 then\n";
    EXPECT_FALSE(ParseScript(script.get(), blocks.c_str()));
    EXPECT_NE(lastError(script.get(), blocks).message.find("nested too deeply"), std::string::npos);

    const std::string nots = "a% = " + [] {
        std::string text;
        for (int i = 0; i < 100000; ++i)
            text += "not ";
        return text;
    }() + "1";
    EXPECT_FALSE(ParseScript(script.get(), nots.c_str()));
}

TEST(ParseErrors, AnErrorInARuleAfterAFortyLineIncludeIsAtTheRulesOwnLine)
{
    std::string include = kTestDeclarations;
    while (linesOf(include) < 40)
        include += "// include line " + std::to_string(linesOf(include) + 1) + "\n";
    ASSERT_EQ(linesOf(include), 40);
    const std::string body = "if test_five_if_long(\"abcd\") then\n  x% = 1 +\nendif\n";
    const std::string text = include + body;
    ScriptHandle script;
    ASSERT_FALSE(ParseScript(script.get(), text.c_str()));
    const ScriptError error = lastError(script.get(), text);
    // The rule editor subtracts the include's line count and length.
    EXPECT_EQ(error.line - 40, 2);
    EXPECT_EQ(error.start - static_cast<int>(include.size()), static_cast<int>(body.find("\nendif")));
    EXPECT_EQ(error.span, "\n");
}

TEST(ParseErrors, AScriptOver16MegabytesIsRefused)
{
    ScriptHandle script;
    std::string text(16 * 1024 * 1024, ' ');
    EXPECT_TRUE(ParseScript(script.get(), text.c_str()));
    text += "a% = 1";
    EXPECT_FALSE(ParseScript(script.get(), text.c_str()));
    EXPECT_EQ(lastError(script.get(), text).message, "Script too long");
}

TEST(ParseErrors, ASuccessfulParseClearsTheError)
{
    ScriptHandle script;
    EXPECT_FALSE(ParseScript(script.get(), "goto x"));
    EXPECT_TRUE(GetError(script.get(), nullptr, nullptr, nullptr, nullptr));
    EXPECT_TRUE(ParseScript(script.get(), "a% = 1"));
    EXPECT_FALSE(GetError(script.get(), nullptr, nullptr, nullptr, nullptr));
}

class RunErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(RunErrors, EndTheRunWithTheirPosition)
{
    const ErrorCase& row = GetParam();
    ScriptHandle script;
    const std::string text = fullText(row.body);
    ASSERT_TRUE(ParseScript(script.get(), text.c_str())) << lastError(script.get(), text).message;
    SetScriptStepBudget(script.get(), 1'000'000);
    ASSERT_TRUE(ResetScript(script.get()));
    threadNotes().clear();
    EXPECT_FALSE(RunScript(script.get()));
    const ScriptError error = lastError(script.get(), text);
    EXPECT_NE(error.message.find(row.message), std::string::npos) << "got \"" << error.message << "\"";
    EXPECT_EQ(error.line, linesOf(kTestDeclarations) + row.bodyLine);
    EXPECT_EQ(error.span, row.span);
    EXPECT_TRUE(threadNotes().empty()) << "the run stopped at the fault";
}

INSTANTIATE_TEST_SUITE_P(
    Run, RunErrors,
    ::testing::Values(
        ErrorCase{"DivisionByZero", "z% = 0\na% = 7 / z%\ntest_note(\"after\")", "Division by zero", 2, "/"},
        ErrorCase{"ModByZero", "a% = mod(7, 0)\ntest_note(\"after\")", "Division by zero", 1, "mod"},
        ErrorCase{"EndlessLoop", "top:\ngoto top\ntest_note(\"after\")", "too many steps", 2, "goto"},
        ErrorCase{"StepZero", "for i% = 1 to 2 step 0\nnext\ntest_note(\"after\")", "too many steps", 1, "for"},
        ErrorCase{"GosubTooDeep", "down:\ngosub down\ntest_note(\"after\")", "deeper than 256", 2, "gosub"},
        ErrorCase{"TextTooLong", "s$ = \"xxxxxxxxxxxxxxxx\"\nrepeat\n s$ = s$ + s$\nuntil len(s$) = 0\ntest_note(\"after\")",
                  "Text too long", 3, "+"},
        ErrorCase{"RuleFunctionThrows", "test_throw()\ntest_note(\"after\")", "'TEST_THROW' failed", 1, "test_throw"}),
    errorRowName);

TEST(RunErrors, TheDefaultBudgetStopsAnEndlessLoop)
{
    ScriptHandle script;
    ASSERT_TRUE(ParseScript(script.get(), "n% = 0\nrepeat\n n% = n% + 1\nuntil false"));
    ResetScript(script.get());
    EXPECT_FALSE(RunScript(script.get()));
    const char* message = nullptr;
    ASSERT_TRUE(GetError(script.get(), &message, nullptr, nullptr, nullptr));
    EXPECT_NE(std::string(message).find("too many steps"), std::string::npos);
}

TEST(RunErrors, ABudgetJustLargeEnoughLetsTheScriptFinish)
{
    ScriptHandle script;
    ASSERT_TRUE(ParseScript(script.get(), "a% = 1\nb% = 2"));
    SetScriptStepBudget(script.get(), 5);   // four stores and pushes, then the end
    EXPECT_TRUE(RunScript(script.get()));
    SetScriptStepBudget(script.get(), 4);
    EXPECT_FALSE(RunScript(script.get()));
}

TEST(RunErrors, RunningAnUncompiledScriptFails)
{
    ScriptHandle script;
    EXPECT_FALSE(RunScript(script.get()));
    EXPECT_FALSE(ResetScript(script.get()));
    EXPECT_TRUE(GetError(script.get(), nullptr, nullptr, nullptr, nullptr));
    EXPECT_FALSE(ParseScript(script.get(), "goto nowhere"));
    EXPECT_FALSE(RunScript(script.get()));
    EXPECT_FALSE(ParseScript(nullptr, "a% = 1"));
    EXPECT_FALSE(RunScript(nullptr));
    EXPECT_FALSE(ParseScript(script.get(), nullptr));
    EXPECT_FALSE(GetError(nullptr, nullptr, nullptr, nullptr, nullptr));
    CloseScript(nullptr);
}

} // namespace
