// A client that sends what no mail client should: lines over the limit,
// a second login on a logged-in session, a disconnect in the middle of a
// collection.  None of it may reach the server or another account.
#include "common/CRegistry.h"

#include "filter/SessionLink.h"
#include "proxy/Collection.h"
#include "store/VirtualMessage.h"
#include "support/SpoolRecords.h"
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
    // Every record names the whole header of its message.
    for (const std::string& line : splitLines(readFile(accountFile()))) {
        const std::string field = line.substr(line.find(' ') + 1, line.rfind(' ') - line.find(' ') - 1);
        const std::string header = text(std::atoi(line.c_str() + 4));
        EXPECT_EQ(spoolText(stateFolder(), field), header.substr(0, header.find("\r\n\r\n") + 4) + ".\r\n")
            << line;
    }
}

} // namespace

namespace {

using SessionFaults = UpstreamSession;

TEST_F(SessionFaults, ClientsThatJustGoAreNoFault)
{
    serve(mailbox(3), FakeUpstream::kGreeting, {{"TOP 2 0", 200}});
    const size_t traps = count(logText(), "Exception trap");
    // Gone in the middle of a collection, gone after a greeting, gone in
    // the middle of a command line.
    ASSERT_EQ(connect(), "+OK Quillfence\r\n");
    m_client->command("USER " + userName());
    m_client->send("PASS secret\r\n");
    hangUp();
    ASSERT_EQ(connect(), "+OK Quillfence\r\n");
    hangUp();
    ASSERT_EQ(connect(), "+OK Quillfence\r\n");
    m_client->send("LIS");
    hangUp();
    EXPECT_EQ(count(logText(), "Exception trap"), traps);
}

TEST_F(SessionFaults, UnknownHostsAndPortsGiveTheirReason)
{
    ASSERT_EQ(connect(30000), "+OK Quillfence\r\n");   // the resolver may take its time
    EXPECT_EQ(m_client->command("USER me@no-such-host.invalid"),
              "-ERR Unable to connect to no-such-host.invalid:110, error 11001\r\n");
    EXPECT_EQ(m_client->command("USER me@127.0.0.1:70000"),
              "-ERR Unable to connect to 127.0.0.1:70000, error 22\r\n");
}

// A spool that cannot be written: nothing is asked of the server that the
// proxy cannot take in, and the client is served by relaying instead.
TEST_F(SessionFaults, WithoutASpoolFolderMessagesAreRelayed)
{
    serve(mailbox(2));
    const std::string away = stateFolder() + ".away";
    std::filesystem::rename(stateFolder(), away);
    writeFile(stateFolder(), "not a folder");
    ASSERT_EQ(login(), "+OK\r\n");
    EXPECT_EQ(upstreamAfterLogin(), (std::vector<std::string>{"LIST", "UIDL"}));
    EXPECT_EQ(m_client->command("RETR 2"), "+OK\r\n");
    EXPECT_EQ(m_client->body(), text(2) + ".\r\n");
    EXPECT_EQ(m_client->command("TOP 1 0"), "+OK\r\n");
    EXPECT_EQ(m_client->body(), "Subject: 1\r\n\r\n.\r\n");
    EXPECT_EQ(m_client->command("NOOP"), "+OK\r\n");
    hangUp();
    std::filesystem::remove(stateFolder());
    std::filesystem::rename(away, stateFolder());
}

TEST_F(SessionFaults, AWholeMessageThatCannotBeHadLeavesTheHeaderAsItWas)
{
    // The server refuses message 1 whole; for message 2 it sends a header
    // far larger than the one TOP gave, which is written over the spooled
    // header before it is found too large.
    auto replies = mailbox(2);
    replies["RETR 1"] = "-ERR busy\r\n";
    replies["RETR 2"] = "+OK\r\nSubject: 2\r\nX-Filler: " + std::string(Collection::kMaxHeaderBytes, 'f') +
                        "\r\n\r\nbody 2\r\n.\r\n";
    serve(replies);
    std::vector<std::string> afterFetch;
    setEvaluationSeam([&](const MessageDescriptor& message, int) {
        currentSession()->filter->session()->fetchWholeMessage();
        afterFetch.push_back(readFile(message.path));
        return true;
    });
    ASSERT_EQ(login(), "+OK\r\n");
    EXPECT_EQ(upstreamAfterLogin(), (std::vector<std::string>{"LIST", "UIDL", "TOP 1 0", "RETR 1", "TOP 2 0", "RETR 2"}));
    EXPECT_EQ(afterFetch, (std::vector<std::string>{"Subject: 1\r\n\r\n.\r\n", "Subject: 2\r\n\r\n.\r\n"}))
        << "the rules read the header as it was spooled";
    for (int n = 1; n <= 2; ++n) {
        const std::string k = std::to_string(n);
        EXPECT_EQ(m_client->command("TOP " + k + " 0"), "+OK top of message follows.\r\n");
        EXPECT_EQ(m_client->body(), "Subject: " + k + "\r\n\r\n.\r\n") << "kept as the header it is";
    }
}

TEST_F(SessionFaults, SpoolNamesInUseAreNeverReplaced)
{
    serve(mailbox(3));
    // The next names the counter will give are someone else's already.
    const int next = GetNextId();
    std::vector<std::string> taken;
    for (int i = 1; i <= 5; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/msg%05x.msg", static_cast<unsigned>((next + i) & 0xFFFFF));
        taken.push_back(stateFolder() + name);
        writeFile(taken.back(), "someone else's\r\n.\r\n");
    }
    ASSERT_EQ(login(), "+OK\r\n");
    for (int n = 1; n <= 3; ++n) {
        EXPECT_EQ(m_client->command("TOP " + std::to_string(n) + " 0"), "+OK top of message follows.\r\n");
        EXPECT_EQ(m_client->body(), "Subject: " + std::to_string(n) + "\r\n\r\n.\r\n");
    }
    EXPECT_EQ(m_client->command("QUIT"), "+OK bye\r\n");
    hangUp();
    for (const std::string& path : taken)
        EXPECT_EQ(readFile(path), "someone else's\r\n.\r\n") << path;
}

TEST_F(SessionFaults, AVirtualMessageKeepsItsHeaderWhateverItsSubject)
{
    const std::string subject = "Report " + std::string(700, 's');
    m_collection = [&](CSession& session) {
        return addVirtualMessage(session.mailbox, session.stateFolder(), subject, "body line\r\n");
    };
    serve(mailbox(0));
    ASSERT_EQ(login(), "+OK\r\n");
    EXPECT_EQ(m_client->command("RETR 1").substr(0, 4), "+OK ");
    const std::string message = m_client->body();
    EXPECT_NE(message.find("Subject: " + subject + "\r\n\r\nbody line\r\n.\r\n"), std::string::npos) << message;
}

} // namespace
