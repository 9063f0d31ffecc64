// quillfnc -rate: saved messages rated with the installed rules and band
// settings, nothing changed, a line per message and a count per band.
#include "ProxyProgram.h"

#include <filesystem>

namespace {

const char* const kRules =
    "#rule \"Pills\" 90\nif \"pills\" in HEADERFIELDVALUE(\"Subject\") then ISSPAM()\n#endrule\n"
    "#rule \"Offer\" 50\nif WILDCARDMATCHBODY(\"*special offer*\") then ISSPAM()\n#endrule\n"
    "#rule \"Friend\" 50\nif \"friend@example.org\" in HEADERFIELDVALUE(\"From\") then ISOK()\n#endrule\n";

class RateCommand : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_program.withoutShippedRules();
        writeFile(m_program.dataRoot() + "/rules/user.sfr", kRules);
        std::filesystem::create_directories(messages());
    }

    std::string messages() const { return m_program.folder() / "saved"; }

    std::string save(const std::string& name, const std::string& text)
    {
        const std::string path = messages() + "/" + name;
        writeFile(path, text);
        return path;
    }

    std::string rate(const std::vector<std::string>& paths, int& status)
    {
        std::vector<std::string> args{"-rate"};
        args.insert(args.end(), paths.begin(), paths.end());
        return m_program.run(args, status, false);
    }

    ProxyProgram m_program;
};

TEST_F(RateCommand, EachMessageGetsItsBandTotalAndFirstDecision)
{
    const std::string pills = save("a-pills.eml", "Subject: cheap pills\r\nFrom: x@example.com\r\n\r\nbuy\r\n");
    // LF line ends, as many mail programs save messages.
    const std::string both = save("b-both.eml", "Subject: pills\nFrom: y@example.com\n\nour special offer\n.\n");
    const std::string ham = save("c-ham.eml", "Subject: lunch\nFrom: z@example.net\n\nat noon?\n");
    const std::string friendly = save("d-friend.eml", "Subject: pills\nFrom: friend@example.org\n\njoke\n");
    int status = -1;
    const auto lines = splitLines(rate({pills, both, ham, friendly}, status));
    EXPECT_EQ(status, 0);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], pills + "\tband 5\t9.0\tRule 'Pills' detected spam from x@example.com, rating total 9.0");
    EXPECT_EQ(lines[1], both + "\tband 5\t10.0\tRule 'Pills' detected spam from y@example.com, rating total 9.0");
    EXPECT_EQ(lines[2], ham + "\tband 1\t0.0\t");
    EXPECT_EQ(lines[3], friendly + "\tband 1\t0.0\tRule 'Pills' detected spam from friend@example.org, rating total 9.0");
    EXPECT_EQ(lines[4].substr(0, 19), "rated 4 messages in");
    EXPECT_NE(lines[4].find("band 1: 2; band 2: 0; band 3: 0; band 4: 0; band 5: 2;"), std::string::npos) << lines[4];
}

TEST_F(RateCommand, AFolderStandsForItsFilesAndBadPathsAreReported)
{
    save("1.eml", "Subject: pills\r\n\r\nx\r\n");
    save("2.eml", "Subject: hello\r\n\r\nx\r\n");
    std::filesystem::create_directory(messages() + "/sub");   // not a message
    save("3.eml", "");                                        // an empty file is rated, band 1
    int status = -1;
    const std::string missing = m_program.folder() / "nowhere.eml";
    const std::string output = m_program.run({"-rate", missing, messages()}, status, true);
    EXPECT_EQ(status, 0);
    EXPECT_NE(output.find("quillfnc -rate: " + missing + ": No such file or directory"), std::string::npos) << output;
    EXPECT_NE(output.find(messages() + "/1.eml\tband 5\t9.0"), std::string::npos) << output;
    EXPECT_NE(output.find(messages() + "/3.eml\tband 1\t0.0"), std::string::npos) << output;
    EXPECT_NE(output.find("rated 3 messages"), std::string::npos) << output;
}

TEST_F(RateCommand, NothingIsChangedOrWrittenBesideTheMessages)
{
    m_program.setting("SUBJECT5", "1");
    m_program.setting("ARCHIVE5", "1");
    const std::string text = "Subject: pills\r\nFrom: x@example.com\r\n\r\nbuy\r\n";
    const std::string path = save("m.eml", text);
    int status = -1;
    rate({path}, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(readFile(path), text) << "the saved message as it was";
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(messages())) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 1u);
    const std::string archive = m_program.dataRoot() + "/archive/rating5";
    EXPECT_TRUE(!std::filesystem::exists(archive) || std::filesystem::is_empty(archive)) << "no archive copy";
}

TEST_F(RateCommand, NoMessagesIsAUsageError)
{
    int status = -1;
    const std::string output = m_program.run({"-rate"}, status, true);
    EXPECT_EQ(WEXITSTATUS(status), 2);
    EXPECT_NE(output.find("usage: quillfnc --rate FILE|FOLDER..."), std::string::npos) << output;
}

} // namespace
