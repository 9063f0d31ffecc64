// Loading the rules: the rule file format, ratings, disabling, the order
// they run in, user ratings from the settings, and compilation.
#include "FilterHarness.h"

#include <sstream>

namespace {

using RuleLoading = FilterHarness;

std::vector<std::string> names() { return ruleStore().names; }

TEST_F(RuleLoading, HeaderLinesAndRatings)
{
    const struct {
        const char* header;
        const char* name;   // as stored
        int rating;
    } cases[] = {
        {"#rule \"Junk\" 150", "Junk", 50},
        {"#rule \"NoNumber\"", "NoNumber", 50},
        {"#rule \"Negative\" -3", "Negative", 50},
        {"#rule \"Zero\" 0", "Zero", 0},
        {"#rule \"Hundred\" 100", "Hundred", 100},
        {"#rule \"Words\" abc", "Words", 0},
        {"   #RULE      \"Spaced\" 75", "Spaced", 75},
        {"\t#Rule \"Two%20Words\" 10", "Two Words", 10},
        {"#rule \"  Leading\" 20", "Leading", 20},
        {"#rule \"\" \"Second piece\" 30", "Second piece", 30},
        {"#rule \"Pct%zz%4\" 40", "Pctx\x04", 40},
    };
    std::string file;
    for (const auto& c : cases)
        file += std::string(c.header) + "\nisspam()\n#endrule\n";
    rules(file);
    loadRules();
    std::vector<std::string> expected;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.header);
        expected.push_back(c.name);
        EXPECT_EQ(ruleStore().rating(c.name, -1), c.rating);
        EXPECT_NE(ruleStore().script(c.name), nullptr) << "compiled";
    }
    EXPECT_EQ(names(), expected);
}

TEST_F(RuleLoading, WhatIsNotAHeaderLine)
{
    rules("#rule\"x\" 10\nisspam()\n#endrule\n"       // no blank after the keyword
          "x #rule \"y\" 10\n"                          // not the first word
          "#rule\n"                                     // no name
          "#rule \"Real\" 60\nisspam()\nrem #endrule is the second word here\n#endrule\n"
          "after the block, ignored\n");
    loadRules();
    EXPECT_EQ(names(), std::vector<std::string>{"Real"});
    EXPECT_NE(ruleStore().texts[0].find("rem #endrule is the second word here\n"), std::string::npos);
}

TEST_F(RuleLoading, EndruleEndsABlockWhateverItsCaseAndIndent)
{
    rules("#rule \"A\" 10\nisspam()\n   #ENDRULE trailing words\n#rule \"B\" 20\nisok()\n");
    loadRules();
    EXPECT_EQ(names(), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(ruleStore().texts[1].substr(ruleStore().texts[1].size() - 7), "isok()\n") << "to the end of the file";
}

TEST_F(RuleLoading, TheIncludeComesFirstInEveryRule)
{
    rules(rule("A", 10, "isspam()"));
    loadRules();
    const std::string include = readFile(rulesFolder() + "/spamfltr.inc");
    ASSERT_EQ(ruleStore().texts.size(), 1u);
    EXPECT_EQ(ruleStore().texts[0], include + "isspam()\n");
}

TEST_F(RuleLoading, LongLinesAreNeverTakenForHeaderLines)
{
    // A 300-byte line whose tail would read "#rule ..." if lines were cut
    // into 255-byte pieces.
    const std::string longLine = "rem " + std::string(251, 'x') + "#rule \"Ghost\" 90";
    rules(rule("Real", 30, longLine + "\nisspam()"));
    loadRules();
    EXPECT_EQ(names(), std::vector<std::string>{"Real"});
    EXPECT_NE(ruleStore().texts[0].find(longLine + "\n"), std::string::npos);
}

TEST_F(RuleLoading, DisabledRulesMatchTheNameExactly)
{
    rules(rule("Junk", 10, "isspam()") + rule("Other", 20, "isspam()"));
    CRegistry reg;
    ASSERT_TRUE(reg.CreateKey(eRegUser, "quilfpro", "/", true));
    reg.SetValue("DisabledRules", CRegistry::StringList{"junk", "Other"});
    loadRules();
    EXPECT_EQ(names(), std::vector<std::string>{"Junk"});
    EXPECT_EQ(ruleStore().rating("Other", -1), 20) << "rated even when disabled";
}

TEST_F(RuleLoading, TheOrderIsRuleOrderCompletedIgnoringCase)
{
    rules(rule("Junk", 10, "isspam()") + rule("Alpha", 20, "isspam()") + rule("Beta", 30, "isspam()"),
          "system.sfr");
    CRegistry reg;
    ASSERT_TRUE(reg.CreateKey(eRegUser, "quilfpro", "/", true));
    reg.SetValue("RuleOrder", CRegistry::StringList{"Beta", "junk"});
    loadRules();
    EXPECT_EQ(ruleStore().order, (std::vector<std::string>{"Beta", "junk", "Alpha"}));
    EXPECT_EQ(ruleStore().script("junk"), nullptr) << "the order's spelling finds no script";
}

TEST_F(RuleLoading, AUserRuleReplacesTheSystemRuleOfItsName)
{
    rules(rule("Same", 10, "isspam()") + rule("System only", 20, "isspam()"), "system.sfr");
    rules(rule("Same", 70, "isok()"));
    loadRules();
    EXPECT_EQ(ruleStore().order, (std::vector<std::string>{"Same", "System only"}));
    EXPECT_EQ(ruleStore().rating("SAME"), 70);
    ASSERT_EQ(ruleStore().texts.size(), 3u);
    EXPECT_EQ(ruleStore().scripts.size(), 2u);
}

TEST_F(RuleLoading, RatingsFromTheSettingsWin)
{
    rules(rule("Two Words", 10, "isspam()") + rule("Plain", 20, "isspam()"));
    CRegistry reg;
    ASSERT_TRUE(reg.CreateKey(eRegUser, "quilfpro", "/PRIORITY", true));
    reg.SetValue("Two Words", 85u);
    reg.SetValue("Plain", 250u);
    loadRules();
    EXPECT_EQ(ruleStore().rating("two words"), 85);
    EXPECT_EQ(ruleStore().rating("Plain"), 250) << "no range check on the user's own rating";
}

TEST_F(RuleLoading, ARuleThatDoesNotCompileIsLoggedAndSkipped)
{
    rules(rule("Broken", 10, "if then") + rule("Fine", 20, "isspam()"));
    loadRules();
    EXPECT_EQ(ruleStore().order, (std::vector<std::string>{"Broken", "Fine"}));
    EXPECT_EQ(ruleStore().script("Broken"), nullptr);
    EXPECT_NE(ruleStore().script("Fine"), nullptr);
}

TEST_F(RuleLoading, MissingFilesAreLoggedAndLoadingGoesOn)
{
    std::filesystem::remove(rulesFolder() + "/system.sfr");
    std::filesystem::remove(rulesFolder() + "/spamfltr.inc");
    rules(rule("Bare", 10, "#declare ISSPAM()\nisspam()"));
    loadRules();
    EXPECT_NE(ruleStore().script("Bare"), nullptr) << "compiled without an include";
}

TEST(DecodePercent, EscapesAndTheEndOfTheText)
{
    const struct {
        const char* in;
        std::string out;
    } cases[] = {
        {"Two%20Words", "Two Words"}, {"%41%42", "AB"},   {"%4", "\x04"},  {"%", "x"},
        {"%zz", "x"},                 {"100%", "100x"},  {"%2", "\x02"}, {"a%4Gb", std::string("a\x04") + "b"},
        {"%z", "x"},                  {"plain", "plain"},
    };
    for (const auto& c : cases) {
        std::string text = c.in;
        decodePercent(text);
        EXPECT_EQ(text, c.out) << c.in;
    }
}

TEST(RuleNames, EncodingTheCharactersARuleLineCannotHoldAndBack)
{
    const struct {
        const char* name;
        const char* encoded;
    } cases[] = {
        {"a/b", "a%2fb"},
        {"say \"hi\"", "say %22hi%22"},
        {"100%", "100%25"},
        {"%2f", "%252f"},
        {"plain <New user rule #1>", "plain <New user rule #1>"},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(encodePercent(c.name), c.encoded);
        std::string back = encodePercent(c.name);
        decodePercent(back);
        EXPECT_EQ(back, c.name);
        std::string name;
        int rating = 0;
        EXPECT_TRUE(readRuleLine("#rule \"" + encodePercent(c.name) + "x\" 12", name, rating));
        EXPECT_EQ(name, std::string(c.name) + "x");
        EXPECT_EQ(rating, 12);
    }
}

} // namespace
