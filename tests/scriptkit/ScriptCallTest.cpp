// Calls into the program: the slot-block convention, truth and text results,
// FreeString, binding by name in any letter case, resets and threads.
#include "ScriptRunner.h"
#include "support/TestHelpers.h"

#include "filter/RuleFunctionTable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <thread>

namespace {

TEST(RuleCalls, ArgumentsArriveInSlotsInOrder)
{
    EXPECT_EQ(runBody("test_note(test_mixed(-5, \"mid\", 2147483647))\ntest_number(test_add(40, 2))"),
              (std::vector<std::string>{"-5:mid:2147483647", "42"}));
}

TEST(RuleCalls, NamesMatchInAnyLetterCase)
{
    EXPECT_EQ(runBody("Test_Number(TEST_ADD(1, 1))\ntest_number(tEsT_aDd(2, 2))"),
              (std::vector<std::string>{"2", "4"}));
}

TEST(RuleCalls, TruthResultsBecomeMinusOneOrZero)
{
    EXPECT_EQ(runBody("test_number(test_five_if_long(\"abcdef\"))\ntest_number(test_five_if_long(\"ab\"))\n"
                      "if test_five_if_long(\"long text\") = true then test_note(\"true\")"),
              (std::vector<std::string>{"-1", "0", "true"}));
}

TEST(RuleCalls, EachTextResultIsFreedOnce)
{
    const int freedBefore = freedTexts;
    const int returnedBefore = returnedTexts;
    EXPECT_EQ(runBody("s$ = test_join(\"a\", \"b\")\nfor i% = 1 to 10\n s$ = test_join(s$, \"c\")\nnext\n"
                      "test_join(\"dropped\", \"result\")\ntest_note(s$)\ntest_note(\"[\" + test_no_text() + \"]\")"),
              (std::vector<std::string>{"abcccccccccc", "[]"}));
    EXPECT_EQ(returnedTexts - returnedBefore, 12);
    EXPECT_EQ(freedTexts - freedBefore, 12) << "no more and no fewer frees than texts returned";
}

TEST(RuleCalls, TextArgumentsStopAtTheirFirstNul)
{
    EXPECT_EQ(runBody("test_note(\"a\" + chr(0) + \"b\")\ntest_number(len(\"a\" + chr(0) + \"b\"))"),
              (std::vector<std::string>{"a", "3"}));
}

TEST(ScriptLifecycle, ResetEmptiesTheVariables)
{
    ScriptHandle script;
    const std::string text = fullText("n% = n% + 1\ns$ = s$ + \"x\"\ntest_number(n%)\ntest_note(s$)");
    ASSERT_TRUE(ParseScript(script.get(), text.c_str()));
    threadNotes().clear();
    ASSERT_TRUE(ResetScript(script.get()));
    ASSERT_TRUE(RunScript(script.get()));
    ASSERT_TRUE(RunScript(script.get()));
    ASSERT_TRUE(ResetScript(script.get()));
    ASSERT_TRUE(RunScript(script.get()));
    EXPECT_EQ(threadNotes(), (std::vector<std::string>{"1", "x", "2", "xx", "1", "x"}));
    EXPECT_FALSE(GetError(script.get(), nullptr, nullptr, nullptr, nullptr));
}

TEST(ScriptLifecycle, AFailedRunLeavesTheScriptUsable)
{
    ScriptHandle script;
    const std::string text = fullText("if d% = 0 then test_note(\"zero\")\nx% = 1 / d%\ntest_number(x%)");
    ASSERT_TRUE(ParseScript(script.get(), text.c_str()));
    threadNotes().clear();
    EXPECT_FALSE(RunScript(script.get()));
    EXPECT_TRUE(GetError(script.get(), nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(ResetScript(script.get()));
    EXPECT_FALSE(RunScript(script.get()));
    EXPECT_EQ(threadNotes(), (std::vector<std::string>{"zero", "zero"}));
}

TEST(ScriptLifecycle, EngineStartAndStopAnswerTrue)
{
    EXPECT_TRUE(StartScriptEngine());
    ScriptHandle script;
    EXPECT_TRUE(ParseScript(script.get(), "a% = 1"));
    EXPECT_TRUE(StopScriptEngine());
}

TEST(ScriptThreads, DifferentScriptsRunAtTheSameTime)
{
    // Each thread parses and runs its own script many times; the notes are
    // per thread, so any mix-up between the two shows.
    auto worker = [](int id, std::vector<std::string>& result, bool& ok) {
        ok = true;
        const std::string body = "total% = 0\nfor i% = 1 to 100\n total% = test_add(total%, " + std::to_string(id) +
                                 ")\nnext\ntest_note(test_mixed(" + std::to_string(id) + ", \"t\", total%))";
        const std::string text = fullText(body);
        for (int round = 0; round < 200 && ok; ++round) {
            ScriptHandle script;
            threadNotes().clear();
            ok = ParseScript(script.get(), text.c_str()) && ResetScript(script.get()) && RunScript(script.get());
            result = threadNotes();
        }
    };
    std::vector<std::string> first;
    std::vector<std::string> second;
    bool firstOk = false;
    bool secondOk = false;
    std::thread a(worker, 3, std::ref(first), std::ref(firstOk));
    std::thread b(worker, 7, std::ref(second), std::ref(secondOk));
    a.join();
    b.join();
    EXPECT_TRUE(firstOk);
    EXPECT_TRUE(secondOk);
    EXPECT_EQ(first, (std::vector<std::string>{"3:t:300"}));
    EXPECT_EQ(second, (std::vector<std::string>{"7:t:700"}));
}

} // namespace

namespace {

std::string shippedInclude()
{
    return readFile(SHIPPED_INCLUDE);
}

TEST(ShippedInclude, CompilesAndKeepsRuleErrorsOnTheRulesOwnLines)
{
    const std::string include = shippedInclude();
    ASSERT_FALSE(include.empty());
    ASSERT_EQ(include.back(), '\n');
    const int includeLines = static_cast<int>(std::count(include.begin(), include.end(), '\n'));

    ScriptHandle script;
    const std::string good = include + "if WILDCARDMATCH(\"free money\", \"*money*\") then\n  x% = MAXRATING\nendif\n";
    EXPECT_TRUE(ParseScript(script.get(), good.c_str())) << lastError(script.get(), good).message;
    EXPECT_TRUE(RunScript(script.get()));

    const std::string bad = include + "if ISSPAM() then\nendif\n";
    ASSERT_FALSE(ParseScript(script.get(), bad.c_str()));
    const ScriptError error = lastError(script.get(), bad);
    EXPECT_EQ(error.message, "'ISSPAM' gives no value");
    EXPECT_EQ(error.line - includeLines, 1);
    EXPECT_EQ(error.start - static_cast<int>(include.size()), 3);
}

TEST(ShippedInclude, DeclaresEveryRuleFunction)
{
    const std::string include = shippedInclude();
#define NAME_OF_ROW(name, arguments, result) #name,
    for (const char* name : {QF_RULE_FUNCTIONS(NAME_OF_ROW)}) {
        // A call with the wrong number of arguments is refused only for a
        // declared name; an undeclared one is an unknown function.
        ScriptHandle script;
        const std::string text = include + name + "(1, 2, 3, 4, 5)\n";
        ASSERT_FALSE(ParseScript(script.get(), text.c_str()));
        EXPECT_EQ(lastError(script.get(), text).message, std::string("Wrong number of arguments for '") + name + "'");
    }
}

// Every example of the user documentation compiles after the shipped
// include and runs against the stand-in rule functions.
TEST(DocumentedExamples, CompileAndRun)
{
    std::ifstream in(RULE_LANGUAGE_DOC);
    ASSERT_TRUE(in);
    std::vector<std::string> examples;
    std::string line;
    std::string block;
    bool inBlock = false;
    while (std::getline(in, line)) {
        if (line.starts_with("```")) {
            if (inBlock)
                examples.push_back(block);
            block.clear();
            inBlock = !inBlock;
        } else if (inBlock) {
            block += line + "\n";
        }
    }
    ASSERT_GE(examples.size(), 10u);
    const std::string include = shippedInclude();
    for (const std::string& example : examples) {
        SCOPED_TRACE(example);
        ScriptHandle script;
        const std::string text = include + example;
        ASSERT_TRUE(ParseScript(script.get(), text.c_str())) << lastError(script.get(), text).message;
        ResetScript(script.get());
        EXPECT_TRUE(RunScript(script.get())) << lastError(script.get(), text).message;
    }
}

} // namespace
