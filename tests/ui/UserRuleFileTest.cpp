// The rule file operations on a real user.sfr: which rule a name finds,
// and that a failed rewrite leaves user.sfr as it was.
#include "RuleFixture.h"

#include "ui/UserRuleFile.h"

#include <sys/resource.h>

#include <csignal>

namespace {

class UserRuleFileTest : public RuleFixture
{
protected:
    UserRuleFile file() const { return UserRuleFile(rules); }
};

TEST_F(UserRuleFileTest, ANameFindsOnlyTheRuleOfExactlyThatName)
{
    writeFile(userPath(), "#rule \"Junk - Copy #1\"\ncopy\n#endrule\n"
                          "   #RULE \"Junk\" 20\njunk\n#EndRule\n"
                          "#rule \"Junk\"\nsecond of the name\n#endrule\n");
    EXPECT_EQ(UserRuleFile::readBody(userPath(), "Junk"), "junk\n");
    EXPECT_EQ(UserRuleFile::readBody(userPath(), "junk"), std::nullopt);
    EXPECT_EQ(UserRuleFile::readBody(userPath(), "Junk - Copy"), std::nullopt);
    ASSERT_TRUE(file().remove("Junk"));
    EXPECT_EQ(userText(), "#rule \"Junk - Copy #1\"\ncopy\n#endrule\n"
                          "#rule \"Junk\"\nsecond of the name\n#endrule\n");
    EXPECT_FALSE(file().remove("Missing"));
    EXPECT_FALSE(file().rename("Missing", "Other"));
    EXPECT_FALSE(file().saveBody("Missing", "x\n"));
    EXPECT_FALSE(file().copy(true, "Missing", "Other"));
    EXPECT_EQ(userText(), "#rule \"Junk - Copy #1\"\ncopy\n#endrule\n"
                          "#rule \"Junk\"\nsecond of the name\n#endrule\n");
}

TEST_F(UserRuleFileTest, ListingDecodesNamesAndKeepsInlineRatings)
{
    const std::vector<UserRuleFile::Rule> listed = UserRuleFile::listRules(userPath());
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].name, "Mine");
    EXPECT_EQ(listed[0].rating, 40);
    EXPECT_EQ(listed[1].name, "a/b");
    EXPECT_EQ(listed[1].rating, 50);
    EXPECT_TRUE(UserRuleFile::listRules(rules + "/none.sfr").empty());
}

TEST_F(UserRuleFileTest, ARuleWithoutEndruleRunsToTheEndOfTheFile)
{
    writeFile(userPath(), "#rule \"Open\"\nisspam()\n");
    EXPECT_EQ(UserRuleFile::readBody(userPath(), "Open"), "isspam()\n");
    ASSERT_TRUE(file().saveBody("Open", "stopchecking()\n"));
    EXPECT_EQ(userText(), "#rule \"Open\"\nstopchecking()\n#endrule\n");
}

TEST_F(UserRuleFileTest, NamesWithALineBreakAreRefused)
{
    for (const char* name : {"a\nb", "a\rb", "end\n", ""}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(UserRuleFile::isValidName(name));
        EXPECT_FALSE(file().append(name));
        EXPECT_FALSE(file().rename("Mine", name));
        EXPECT_FALSE(file().copy(false, "Mine", name));
    }
    EXPECT_EQ(userText(), kUserRules);
}

// Every way of failing to write the temporary file leaves user.sfr and
// everything else as it was; none of them depends on permissions, so they
// hold for root too.
TEST_F(UserRuleFileTest, AFailedRewriteLeavesUserSfrAsItWas)
{
    const std::string temp = rules + "/user.sfr_temp";
    {
        SCOPED_TRACE("the temporary name is a folder");
        std::filesystem::create_directory(temp);
        EXPECT_FALSE(file().append("New"));
        EXPECT_EQ(userText(), kUserRules);
        EXPECT_TRUE(std::filesystem::is_directory(temp));
        std::filesystem::remove(temp);
    }
    {
        SCOPED_TRACE("the temporary name is a link elsewhere");
        const std::string elsewhere = rules + "/elsewhere.txt";
        writeFile(elsewhere, "keep\n");
        std::filesystem::create_symlink(elsewhere, temp);
        EXPECT_FALSE(file().remove("Mine"));
        EXPECT_EQ(userText(), kUserRules);
        EXPECT_EQ(readFile(elsewhere), "keep\n");
        std::filesystem::remove(temp);
        std::filesystem::remove(elsewhere);
    }
    {
        SCOPED_TRACE("the file size limit stops the write half way");
        std::string big(8192, 'x');
        big += "\n";
        writeFile(userPath(), std::string(kUserRules) + big);
        const std::string before = userText();
        rlimit old {};
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
        auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = old;
        small.rlim_cur = 4096;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
        const bool renamed = file().rename("Mine", "Yours");
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
        EXPECT_FALSE(renamed);
        EXPECT_EQ(userText(), before);
        EXPECT_FALSE(std::filesystem::exists(temp)) << "the half-written file is removed";
    }
    ASSERT_TRUE(file().append("New")) << "and the next change goes through";
    EXPECT_NE(userText().find("#rule \"New\""), std::string::npos);
}

} // namespace
