// A client that sends what no mail client should: lines over the limit,
// a second login on a logged-in session, a disconnect in the middle of a
// collection.  None of it may reach the server or another account.
#include "UpstreamSession.h"

namespace {

std::string text(int n) { return "Subject: " + std::to_string(n) + "\r\n\r\nbody " + std::to_string(n) + "\r\n"; }

std::map<std::string, std::string> mailbox(int count)
{
    std::map<std::string, std::string> replies{{"USER me", "+OK\r\n"},   {"PASS secret", "+OK\r\n"},
                                               {"USER other", "+OK\r\n"}, {"PASS another", "+OK\r\n"},
                                               {"QUIT", "+OK bye\r\n"},   {"NOOP", "+OK\r\n"}};
    std::string list = "+OK\r\n", uidl = "+OK\r\n";
    for (int n = 1; n <= count; ++n) {
        const std::string k = std::to_string(n);
        list += k + " " + std::to_string(text(n).size() + 3) + "\r\n";
        uidl += k + " uid-" + k + "\r\n";
        replies["TOP " + k + " 0"] = "+OK\r\nSubject: " + k + "\r\n\r\n.\r\n";
        replies["RETR " + k] = "+OK\r\n" + text(n) + ".\r\n";
        replies["DELE " + k] = "+OK deleted\r\n";
    }
    replies["LIST"] = list + ".\r\n";
    replies["UIDL"] = uidl + ".\r\n";
    return replies;
}

using HostileClient = UpstreamSession;

TEST_F(HostileClient, OverLongLinesAreRefusedWholeAndNeverRun)
{
    serve(mailbox(2));
    ASSERT_EQ(login(), "+OK\r\n");
    // Cut into pieces, the tail of this line would be a command of its own.
    EXPECT_EQ(m_client->command("NOOP" + std::string(249, ' ') + "DELE 1"), "-ERR Line too long\r\n");
    EXPECT_EQ(m_client->command("NOOP" + std::string(250, ' ')), "+OK\r\n") << "254 characters are a line";
    EXPECT_EQ(m_client->command(std::string(100000, 'Z')), "-ERR Line too long\r\n");
    EXPECT_EQ(m_client->command("LIST 1"), "+OK 1 " + std::to_string(text(1).size() + 3) + "\r\n");
    for (const std::string& command : m_upstream->received())
        EXPECT_NE(command.rfind("DELE", 0), 0u) << command;
}

TEST_F(HostileClient, AnOverLongPasswordGoesNowhere)
{
    serve(mailbox(1));
    ASSERT_EQ(connect(), "+OK Quillfence\r\n");
    ASSERT_EQ(m_client->command("USER " + userName()), "+OK\r\n");
    const std::string password = "hunter" + std::string(258, '7') + "TAILSECRET";
    EXPECT_EQ(m_client->command("PASS " + password), "-ERR Line too long\r\n");
    EXPECT_EQ(m_client->command("NOOP"), "+OK\r\n");
    const auto sent = m_upstream->received();
    EXPECT_EQ(sent.back(), "USER me") << "no piece of the password went upstream";
    EXPECT_EQ(logText().find("TAILSECRET"), std::string::npos);
    EXPECT_EQ(logText().find("hunter777"), std::string::npos);
}

TEST_F(HostileClient, PasswordsAreMaskedWhateverComesBeforeThem)
{
    serve(mailbox(1));
    ASSERT_EQ(connect(), "+OK Quillfence\r\n");
    ASSERT_EQ(m_client->command("USER " + userName()), "+OK\r\n");
    EXPECT_EQ(m_client->command(" \t PASS secret"), "+OK\r\n");
    hangUp();
    const std::string log = logText();
    EXPECT_EQ(count(log, "secret"), count(log, "<secret>")) << "the password only ever masked";
    EXPECT_NE(log.find("<c PASS <secret>"), std::string::npos);
}

TEST_F(HostileClient, BareLineFeedsFromTheClientAreLinesToo)
{
    serve(mailbox(1));
    ASSERT_EQ(connect(), "+OK Quillfence\r\n");
    m_client->send("NOOP\n");
    EXPECT_EQ(m_client->line(), "+OK\r\n");
    m_client->send("QUIT\n");
    EXPECT_EQ(m_client->line(), "+OK Session closed.\r\n");
}

TEST_F(HostileClient, ASecondLoginChangesNothing)
{
    serve(mailbox(2));
    ASSERT_EQ(login(), "+OK\r\n");
    EXPECT_EQ(m_client->command("USER " + userName("other")), "-ERR Already logged in\r\n");
    EXPECT_EQ(m_client->command("PASS another"), "-ERR Already logged in\r\n");
    EXPECT_EQ(m_client->command("STAT"), "+OK 2 " + std::to_string(text(1).size() + text(2).size() + 6) + "\r\n");
    EXPECT_EQ(m_client->command("QUIT"), "+OK bye\r\n");
    hangUp();
    const auto sent = m_upstream->received();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "USER other"), 0);
    EXPECT_TRUE(std::filesystem::exists(accountFile("me")));
    EXPECT_FALSE(std::filesystem::exists(accountFile("other")));
    EXPECT_EQ(splitLines(readFile(accountFile("me"))).size(), 2u);
}

TEST_F(HostileClient, GoneDuringACollectionTheNextSessionLosesNothing)
{
    serve(mailbox(4), FakeUpstream::kGreeting, {{"TOP 2 0", 300}});
    ASSERT_EQ(connect(), "+OK Quillfence\r\n");
    ASSERT_EQ(m_client->command("USER " + userName()), "+OK\r\n");
    m_client->send("PASS secret\r\n");
    m_client.reset();   // gone while the headers are fetched

    ASSERT_EQ(login(), "+OK\r\n");
    EXPECT_EQ(m_client->command("STAT").substr(0, 6), "+OK 4 ");
    for (int n = 1; n <= 4; ++n) {
        EXPECT_EQ(m_client->command("RETR " + std::to_string(n)).substr(0, 3), "+OK");
        EXPECT_EQ(m_client->body(), text(n) + ".\r\n");
    }
    EXPECT_EQ(m_client->command("QUIT"), "+OK bye\r\n");
    hangUp();
    for (const std::string& command : m_upstream->received())
        EXPECT_NE(command.rfind("DELE", 0), 0u) << command;
    // Every record names a spool that exists.
    for (const std::string& line : splitLines(readFile(accountFile()))) {
        const std::string id = line.substr(line.find(' ') + 1, line.rfind(' ') - line.find(' ') - 1);
        EXPECT_TRUE(std::filesystem::exists(stateFolder() + "/msg" + id + ".msg")) << line;
    }
}

} // namespace
