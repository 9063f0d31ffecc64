// Several accounts at once in the running program: a slow server holds back
// no other account's session, and two connections for one account take
// turns, the second told "-ERR [IN-USE]" when its wait runs out.
#include "MailboxServer.h"
#include "ProxyProgram.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>

namespace {

std::string message(int n)
{
    return "From: Sender <sender@example.org>\r\nSubject: message " + std::to_string(n) +
           "\r\nDate: Sat, 05 Jul 2003 09:51:33 +0100\r\n\r\nbody " + std::to_string(n) + "\r\n";
}

std::vector<std::string> messages(int count)
{
    std::vector<std::string> out;
    for (int n = 1; n <= count; ++n)
        out.push_back(message(n));
    return out;
}

std::string userOf(const MailboxServer& server)
{
    return "USER me@127.0.0.1:" + std::to_string(server.port());
}

// Logs client in on its own thread; done is set once PASS is answered.
std::thread loginAside(PopClient& client, const MailboxServer& server, std::string& reply, std::atomic<bool>& done)
{
    return std::thread([&client, &server, &reply, &done] {
        client.command(userOf(server));
        reply = client.command("PASS secret");
        done = true;
    });
}

// The sessions also share the pending folder: its message reaches one
// client, not both.
TEST(ProgramAccounts, ASlowServerHoldsBackNoOtherAccount)
{
    MailboxServer slow(messages(3), 1500);
    MailboxServer fast(messages(2), 0);
    ProxyProgram program;
    auto process = program.start();
    const std::string pending = program.dataRoot() + "/pending/note.msg";
    std::filesystem::create_directories(program.dataRoot() + "/pending");
    writeFile(pending, "From: proxy@localhost\r\nSubject: pending note\r\n\r\nkept for you\r\n");

    PopClient first(program.port(), 30000);
    ASSERT_EQ(first.line(), "+OK Quillfence\r\n");
    std::string firstReply;
    std::atomic<bool> firstDone{false};
    std::thread aside = loginAside(first, slow, firstReply, firstDone);
    ASSERT_TRUE(slow.waitForCommand("TOP 1 0", 0, 10000)) << "the slow account is being collected";

    PopClient second(program.port(), 30000);
    EXPECT_EQ(second.line(), "+OK Quillfence\r\n");
    second.command(userOf(fast));
    EXPECT_EQ(second.command("PASS secret"), "+OK\r\n");
    EXPECT_FALSE(firstDone) << "the other account was collected while the slow one still was";
    EXPECT_EQ(second.command("STAT").substr(0, 6), "+OK 3 ") << "two messages and the pending one";

    aside.join();
    EXPECT_EQ(firstReply, "+OK\r\n");
    EXPECT_EQ(first.command("STAT").substr(0, 6), "+OK 3 ") << "its own three: the pending one is served beside";
    EXPECT_EQ(first.command("QUIT").substr(0, 3), "+OK");
    EXPECT_EQ(second.command("RETR 3").substr(0, 3), "+OK");
    const std::string note = second.body();
    EXPECT_NE(note.find("kept for you"), std::string::npos) << note;
    EXPECT_EQ(second.command("QUIT").substr(0, 3), "+OK");
    EXPECT_TRUE(second.closedByServer());
    EXPECT_FALSE(std::filesystem::exists(pending)) << "gone once a client had it";
    EXPECT_EQ(program.stop(*process), 0);
}

TEST(ProgramAccounts, TwoConnectionsForOneAccountTakeTurns)
{
    MailboxServer server(messages(2), 1500);
    ProxyProgram program;
    program.setting("ACCOUNTWAIT", "1");
    auto process = program.start();

    PopClient first(program.port(), 30000);
    ASSERT_EQ(first.line(), "+OK Quillfence\r\n");
    std::string firstReply;
    std::atomic<bool> firstDone{false};
    std::thread aside = loginAside(first, server, firstReply, firstDone);
    ASSERT_TRUE(server.waitForCommand("TOP 1 0", 0, 10000));

    PopClient second(program.port(), 30000);
    EXPECT_EQ(second.line(), "+OK Quillfence\r\n");
    second.command(userOf(server));
    EXPECT_EQ(second.command("PASS secret"),
              "-ERR [IN-USE] Quillfence Pro is collecting this account for another client, try again later\r\n");
    const auto sent = server.commands();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "PASS secret"), 1) << "the second login never reached the server";
    EXPECT_FALSE(firstDone);

    aside.join();
    EXPECT_EQ(firstReply, "+OK\r\n");
    EXPECT_EQ(first.command("QUIT").substr(0, 3), "+OK");
    EXPECT_TRUE(first.closedByServer());
    // Once the first session has ended, the account is free again.
    std::string reply;
    for (int attempt = 0; attempt < 20 && reply.rfind("+OK", 0) != 0; ++attempt)
        reply = second.command("PASS secret");
    EXPECT_EQ(reply, "+OK\r\n");
    EXPECT_EQ(second.command("STAT").substr(0, 6), "+OK 2 ");
    EXPECT_EQ(second.command("QUIT").substr(0, 3), "+OK");
    EXPECT_EQ(program.stop(*process), 0);
}

} // namespace
