// Evaluation through real rule scripts on real spooled messages: the rating
// arithmetic, the cap, OK rules, STOPCHECKING, the bands and their
// AllowThrough settings, the size limit, failing rules, and the decision
// texts.
#include "FilterHarness.h"

namespace {

const std::string kMessage = crlf("From: Sender <sender@example.org>\nTo: me@example.net\nSubject: Hello\n\n"
                                  "Body line\n.\n");

using Evaluation = FilterHarness;

// The decision lines of the X-header block, without their details.
std::vector<std::string> decisions(const std::string& headers)
{
    std::vector<std::string> out;
    for (const std::string& line : splitLines(headers))
        if (line.rfind("X-Quillfence-Pro: ", 0) == 0)
            out.push_back(line.substr(18));
    return out;
}

TEST_F(Evaluation, NoRulesLetEverythingThroughInBandOne)
{
    setting("AllowThrough1", 0);   // band 1 held back: the result tells the band
    loadRules();
    EXPECT_FALSE(judge(kMessage));
    EXPECT_TRUE(context().decisionHeaders.empty());
    EXPECT_EQ(report(), "") << "no decision, no report entry";
}

TEST_F(Evaluation, SpamRatingsAddUpAndStopAtTen)
{
    rules(rule("A", 50, "isspam()") + rule("B", 30, "isspam()") + rule("C", 40, "isspam()") +
          rule("D", 10, "isspam()"));
    setting("AllowThrough5", 0);
    loadRules();
    EXPECT_FALSE(judge(kMessage)) << "band 5 holds it back";
    EXPECT_EQ(decisions(context().decisionHeaders),
              (std::vector<std::string>{"Rule 'A' detected spam from Sender <sender@example.org>, rating total 5.0",
                                        "Rule 'B' detected spam from Sender <sender@example.org>, rating total 8.0",
                                        "Rule 'C' detected spam from Sender <sender@example.org>, rating total 10.0",
                                        "Max spam rating reached, skipping further rules"}));
    EXPECT_EQ(context().currentRule, "C") << "D never ran";
    EXPECT_NE(report().find("SPAM - rating 10.0\n"), std::string::npos);
}

TEST_F(Evaluation, AnOkRuleWipesTheTotalAndStops)
{
    rules(rule("Spammy", 40, "isspam()") + rule("Friend", 50, "isok()") + rule("Never", 90, "isspam()"));
    setting("AllowThrough1", 0);
    setting("AllowThrough2", 1);
    loadRules();
    EXPECT_FALSE(judge(kMessage)) << "band 1 after the OK";
    EXPECT_EQ(decisions(context().decisionHeaders),
              (std::vector<std::string>{"Rule 'Spammy' detected spam from Sender <sender@example.org>, rating total 4.0",
                                        "Rule 'Friend' detected message from Sender <sender@example.org> OK"}));
    const std::string entry = report();
    EXPECT_NE(entry.find("Message OK\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("From: Sender <sender@example.org>\nSubject: Hello\n"), std::string::npos) << entry;
}

TEST_F(Evaluation, ATotalOnAThresholdBelongsToTheLowerBand)
{
    rules(rule("Twenty", 20, "isspam()") + rule("Another", 20, "isspam()"));
    for (int band = 1; band <= 5; ++band)
        setting(("AllowThrough" + std::to_string(band)).c_str(), band == 2 ? 0 : 1);
    loadRules();
    EXPECT_FALSE(judge(kMessage)) << "4.0 is in band 2";
}

TEST_F(Evaluation, BandsFollowTheThresholds)
{
    const struct {
        int rating;
        int band;   // 1 to 5
    } cases[] = {{20, 1}, {21, 2}, {80, 4}, {81, 5}, {100, 5}, {0, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE("rating " + std::to_string(c.rating));
        clearSettings();
        for (int band = 1; band <= 5; ++band)
            setting(("AllowThrough" + std::to_string(band)).c_str(), band == c.band ? 0 : 1);
        rules(rule("One", c.rating, "isspam()"));
        loadRules();
        EXPECT_FALSE(judge(kMessage));
    }
}

TEST_F(Evaluation, EqualThresholdsLeaveABandEmpty)
{
    setting("Rating1", 40);
    setting("Rating2", 40);
    setting("AllowThrough1", 0);
    setting("AllowThrough3", 0);
    rules(rule("Forty", 40, "isspam()"));
    loadRules();
    EXPECT_FALSE(judge(kMessage)) << "4.0 falls in band 1";
    rules(rule("FortyFive", 45, "isspam()"));
    loadRules();
    EXPECT_FALSE(judge(kMessage)) << "4.5 falls in band 3";
}

TEST_F(Evaluation, TheSizeLimitIsInclusive)
{
    setting("MaxSpamSize", 1);   // 1 KB
    setting("AllowThrough5", 0);
    rules(rule("All", 100, "isspam()"));
    loadRules();
    EXPECT_FALSE(judge(kMessage, false, 1024)) << "at the limit: checked";
    EXPECT_TRUE(judge(kMessage, false, 1025)) << "one byte over: not checked";
    EXPECT_TRUE(context().decisionHeaders.empty());
}

TEST_F(Evaluation, ARuleMayChangeItsOwnRating)
{
    rules(rule("Huge", 10, "setrulerating(250)\nisspam()") + rule("Zero", 50, "setrulerating(0)\nisspam()"));
    setting("AllowThrough5", 0);
    loadRules();
    EXPECT_FALSE(judge(kMessage));
    const auto lines = decisions(context().decisionHeaders);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("rating total 10.0"), std::string::npos);

    rules(rule("Zero", 50, "setrulerating(0)\nisspam()") + rule("Read", 30, "setrulerating(getrulerating() + 5)\nisspam()"));
    loadRules();
    judge(kMessage);
    EXPECT_EQ(decisions(context().decisionHeaders),
              (std::vector<std::string>{"Rule 'Zero' detected spam from Sender <sender@example.org>, rating total 0.0",
                                        "Rule 'Read' detected spam from Sender <sender@example.org>, rating total 3.5"}));
}

TEST_F(Evaluation, StopCheckingKeepsTheTotalSoFar)
{
    rules(rule("First", 30, "isspam()\nstopchecking()") + rule("Second", 70, "isspam()"));
    setting("AllowThrough2", 0);
    loadRules();
    EXPECT_FALSE(judge(kMessage)) << "3.0: band 2";
    EXPECT_EQ(decisions(context().decisionHeaders).size(), 1u);
}

TEST_F(Evaluation, ARuleThatFailsDecidesNothing)
{
    rules(rule("Faulty", 90, "isspam()\nx% = 1 / 0") + rule("Fine", 20, "isspam()"));
    loadRules();
    judge(kMessage);
    EXPECT_EQ(decisions(context().decisionHeaders),
              std::vector<std::string>{"Rule 'Fine' detected spam from Sender <sender@example.org>, rating total 2.0"});
    const std::string log = [] {
        std::string all;
        for (const auto& entry : std::filesystem::directory_iterator(programContext().dataRoot + "/log"))
            all += readFile(entry.path());
        return all;
    }();
    EXPECT_NE(log.find("Rule 'Faulty' failed: "), std::string::npos);
}

TEST_F(Evaluation, ARuleWithoutAScriptIsSkipped)
{
    rules(rule("Broken", 90, "if then") + rule("Fine", 20, "isspam()"));
    loadRules();
    judge(kMessage);
    EXPECT_EQ(decisions(context().decisionHeaders).size(), 1u);
}

TEST_F(Evaluation, SpamAndOkInOneRule)
{
    rules(rule("Both", 30, "isspam()\nisok()"));
    setting("AllowThrough1", 0);
    loadRules();
    EXPECT_FALSE(judge(kMessage));
    EXPECT_EQ(decisions(context().decisionHeaders).size(), 2u);
}

TEST_F(Evaluation, MessageTextNeverBreaksTheDecisionLines)
{
    const std::string message = crlf("From: =?x?= \"Evil\" <e@x.org>\nSubject: s\n\nbody\n.\n");
    rules(rule("Details", 50, "adddecisiondetails(\"one\" + chr(13) + chr(10) + \"X-Injected: yes\")\nisspam()"));
    loadRules();
    judge(message);
    for (const std::string& line : splitLines(context().decisionHeaders))
        EXPECT_TRUE(line.rfind("X-Quillfence-Pro: ", 0) == 0 || line[0] == '\t') << "a line of its own: " << line;
    EXPECT_NE(context().decisionHeaders.find("\tone  X-Injected: yes\n"), std::string::npos);
}

TEST_F(Evaluation, DetailsGoWithTheirDecision)
{
    rules(rule("Quiet", 10, "adddecisiondetails(\"not kept\")") +
          rule("Loud", 20, "adddecisiondetails(\"kept\")\nadddecisiondetails(\"   \")\nisspam()"));
    loadRules();
    judge(kMessage);
    EXPECT_EQ(context().decisionHeaders,
              "X-Quillfence-Pro: Rule 'Loud' detected spam from Sender <sender@example.org>, rating total 2.0\n"
              "\tkept\n");
    EXPECT_EQ(context().reportText, "Rule 'Loud' detected spam from Sender <sender@example.org>, rating total 2.0\n"
                                    "\tkept\n");
}

} // namespace
