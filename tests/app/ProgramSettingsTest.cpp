// quillfnc --get, --set and --settings: values of every type through the
// program's own settings file, bad values refused with exit status 2 and
// nothing written, and a change made while the proxy runs counting from
// its next connection.
#include "MailboxServer.h"
#include "ProxyProgram.h"
#include "support/SettingSamples.h"

#include <sys/wait.h>

namespace {

std::string message(const std::string& subject, const std::string& body)
{
    return "From: a@example.com\r\nSubject: " + subject + "\r\n\r\n" + body + "\r\n";
}

class SettingsCommand : public ::testing::Test
{
protected:
    std::string hivePath() const { return m_program.folder() / "data/Corvanta Ltd/config/quilfpro_usr.dat"; }

    std::string quillfnc(const std::vector<std::string>& args, int& exitStatus)
    {
        int status = 0;
        const std::string output = m_program.run(args, status);
        exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return output;
    }

    ProxyProgram m_program;
};

TEST_F(SettingsCommand, ValuesOfEveryTypeAreStoredReadAndListed)
{
    int status = -1;
    EXPECT_EQ(quillfnc({"--set", "MaxSessions=3", "SubjectMacro2=JUNK: %%SUBJECT%%", "TidyLogs=on",
                        "SeparatorChar=#", "DisabledRules=Some rule, another", "Rating1=25"},
                       status),
              "");
    EXPECT_EQ(status, 0);
    const std::pair<const char*, const char*> expected[] = {
        {"MaxSessions", "3\n"},      {"maxsessions", "3\n"},   {"SubjectMacro2", "JUNK: %%SUBJECT%%\n"},
        {"TidyLogs", "1\n"},         {"SeparatorChar", "#\n"}, {"DisabledRules", "Some rule,another\n"},
        {"Rating1", "25\n"},         {"Rating2", "40\n"},      {"TlsVerify", "1\n"},
    };
    for (const auto& [name, value] : expected) {
        EXPECT_EQ(quillfnc({"--get", name}, status), value) << name;
        EXPECT_EQ(status, 0);
    }
    const std::string hive = readFile(hivePath());
    EXPECT_NE(hive.find("\"/MAXSESSIONS\" = 3"), std::string::npos) << hive;
    EXPECT_NE(hive.find("\"/SEPARATORCHAR\" = 35"), std::string::npos) << hive;

    const std::string listed = quillfnc({"--settings"}, status);
    EXPECT_EQ(status, 0);
    for (const std::string& line : std::vector<std::string>{"MaxSessions = 3    (default 8)", "Rating1 = 25    (default 20)",
                                   "Rating4 = 80", "ListenPort = " + std::to_string(m_program.port()) + "    (default 110)",
                                   "# Anti-virus", "Quarantine = 0", "SharedMode = 0"})
        EXPECT_NE(listed.find("\n" + line + "\n"), std::string::npos) << line << " in\n" << listed;
}

// Every value of the table, each band of a per-band one: set in one call,
// then read back one by one and in the listing.  All but SharedMode, which
// moves the program to the shared settings.
TEST_F(SettingsCommand, EveryValueOfTheTableRoundTripsThroughSetAndGet)
{
    std::vector<SettingSample> all = everySetting();
    std::erase_if(all, [](const SettingSample& sample) { return sample.info->id == Setting::SharedMode; });
    std::vector<std::string> args{"--set"};
    for (const SettingSample& sample : all)
        args.push_back(sample.name() + "=" + sample.otherText());
    int status = -1;
    EXPECT_EQ(quillfnc(args, status), "");
    ASSERT_EQ(status, 0);
    const std::string listed = quillfnc({"--settings"}, status);
    EXPECT_EQ(status, 0);
    for (const SettingSample& sample : all) {
        SCOPED_TRACE(sample.name());
        EXPECT_EQ(quillfnc({"--get", sample.name()}, status), sample.otherText() + "\n");
        EXPECT_EQ(status, 0);
        EXPECT_NE(listed.find("\n" + sample.name() + " = " + sample.otherText() + "    (default "), std::string::npos);
    }
}

TEST_F(SettingsCommand, ABadValueIsRefusedWithExitStatus2AndNothingIsWritten)
{
    int status = -1;
    quillfnc({"--set", "TidyDays=9"}, status);
    ASSERT_EQ(status, 0);
    const std::string before = readFile(hivePath());
    const struct {
        std::vector<std::string> args;
        const char* said;
    } rows[] = {
        {{"--set", "ListenPort=70000"}, "ListenPort: 70000 is out of range (1 to 65535); nothing was changed"},
        {{"--set", "TidyLogs=1", "MaxSessions=lots"}, "MaxSessions: \"lots\" is not a whole number"},
        {{"--set", "TidyLogs=perhaps"}, "TidyLogs: \"perhaps\" is not 1 or 0"},
        {{"--set", "Rating5=10"}, "no setting is called \"Rating5\""},
        {{"--set", "NoSuchThing=1"}, "no setting is called \"NoSuchThing\""},
        {{"--set", "TidyDays"}, "\"TidyDays\" is not NAME=VALUE"},
        {{"--set"}, "usage: quillfnc --set"},
        {{"--get", "NoSuchThing"}, "no setting is called"},
        {{"--get"}, "usage: quillfnc --get NAME"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args.back());
        const std::string said = quillfnc(row.args, status);
        EXPECT_EQ(status, 2);
        EXPECT_NE(said.find(row.said), std::string::npos) << said;
    }
    EXPECT_EQ(readFile(hivePath()), before);
}

// The session greeted before the change judges with the settings it began
// with; the next connection with the changed ones.
TEST_F(SettingsCommand, AChangeWhileTheProxyRunsCountsFromTheNextConnection)
{
    MailboxServer server({message("Hello", "first"), message("cheap viagra", "cheap")}, 0);
    m_program.withoutShippedRules();
    writeFile(m_program.dataRoot() + "/rules/user.sfr",
              "#rule \"Viagra\" 100\nif \"viagra\" in HEADERFIELDVALUE(\"Subject\") then ISSPAM()\n#endrule\n");
    auto process = m_program.start();

    PopClient first(m_program.port(), 20000);
    EXPECT_EQ(first.line(), "+OK Quillfence\r\n");
    int status = -1;
    quillfnc({"--set", "AllowThrough5=0"}, status);
    EXPECT_EQ(status, 0);

    PopClient second(m_program.port(), 20000);
    EXPECT_EQ(second.line(), "+OK Quillfence\r\n");
    second.command("USER me@127.0.0.1:" + std::to_string(server.port()));
    EXPECT_EQ(second.command("PASS secret"), "+OK\r\n");
    auto sent = server.commands();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "DELE 2"), 1) << "held back as the changed setting says";
    EXPECT_EQ(second.command("QUIT").substr(0, 3), "+OK");

    first.command("USER me@127.0.0.1:" + std::to_string(server.port()));
    EXPECT_EQ(first.command("PASS secret"), "+OK\r\n");
    sent = server.commands();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "DELE 2"), 1) << "the first session keeps the settings it began with";
    EXPECT_EQ(first.command("QUIT").substr(0, 3), "+OK");
    EXPECT_EQ(m_program.stop(*process), 0);
}

} // namespace
