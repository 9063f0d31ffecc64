// The program and clients of other local users: a client run as another
// user (the account qftestpeer, run with runuser; the tests need root) is
// refused and closed at once, even while the user's own session runs, and
// never holds back the next session of the user; AllowOtherUsers lets it in.
#include "MailboxServer.h"
#include "ProxyProgram.h"
#include "support/OtherUser.h"

#include <unistd.h>

namespace {

class ProgramOtherUsers : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root: clients are run as the user " << kOtherUserName << " with runuser";
        std::string why;
        const std::optional<uid_t> uid = otherTestUser(why);
        ASSERT_TRUE(uid.has_value()) << why;
        m_otherUid = *uid;
    }

    // What the other user's client printed, line by line, up to its end.
    static std::vector<std::string> transcript(Subprocess& client)
    {
        std::vector<std::string> lines;
        for (std::string line; client.readLine(line, 15000);)
            lines.push_back(line);
        return lines;
    }

    uid_t m_otherUid = 0;
};

TEST_F(ProgramOtherUsers, AnotherUsersClientIsRefusedAtOnceWhileTheUsersOwnAreServed)
{
    ProxyProgram program;
    auto process = program.start();
    {
        // The user's own session runs, and goes on running, meanwhile.
        PopClient own(program.port());
        ASSERT_EQ(own.line(), "+OK Quillfence\r\n");
        // Connected while that session runs and also while nobody is served.
        for (const bool duringSession : {true, false}) {
            SCOPED_TRACE(duringSession ? "while the user's session runs" : "with no session running");
            const std::unique_ptr<Subprocess> other = otherUserClient(program.port(), false);
            EXPECT_EQ(transcript(*other), (std::vector<std::string>{
                                              "connected", "line -ERR Quillfence Pro serves only its own user",
                                              "closed"}));
            if (duringSession) {
                EXPECT_EQ(own.command("NOOP"), "+OK\r\n") << "the user's session goes on";
                EXPECT_EQ(own.command("QUIT"), "+OK Session closed.\r\n");
                EXPECT_TRUE(own.closedByServer());
            }
        }
    }
    // The user's next client is greeted: nothing of the other user's waits.
    program.expectServes();
    EXPECT_TRUE(program.logShows("Connection from user " + std::to_string(m_otherUid) + " refused"));
    EXPECT_EQ(program.stop(*process), 0);
}

TEST_F(ProgramOtherUsers, AllowOtherUsersServesEveryLocalUser)
{
    ProxyProgram program;
    program.setting("ALLOWOTHERUSERS", "1");
    auto process = program.start();
    const std::unique_ptr<Subprocess> other = otherUserClient(program.port(), true);
    EXPECT_EQ(transcript(*other),
              (std::vector<std::string>{"connected", "line +OK Quillfence", "line +OK Session closed.", "closed"}));
    program.expectServes();
    EXPECT_EQ(program.log().find("Connection from user"), std::string::npos);
    EXPECT_EQ(program.log().find("Connection refused"), std::string::npos);
    EXPECT_EQ(program.stop(*process), 0);
}

// Where other users are let in, a session of theirs is still not given the
// user's pending messages; the user's own session is, and the file stays
// until the user has it.
TEST_F(ProgramOtherUsers, TheUsersPendingMessagesGoToTheUsersOwnSessionsAlone)
{
    MailboxServer server({"Subject: on the server\r\n\r\nbody\r\n"}, 0);
    ProxyProgram program;
    program.setting("ALLOWOTHERUSERS", "1");
    program.setting("COLLECTIONREPORT", "0");
    auto process = program.start();
    const std::string pending = program.dataRoot() + "/pending/note.msg";
    std::filesystem::create_directories(program.dataRoot() + "/pending");
    writeFile(pending, "Subject: for the user\r\n\r\nprivate\r\n.\r\n");
    const std::string user = "USER me@127.0.0.1:" + std::to_string(server.port());
    const std::unique_ptr<Subprocess> other = otherUserClient(program.port(), {user, "PASS secret", "STAT", "QUIT"});
    const std::vector<std::string> seen = transcript(*other);
    ASSERT_EQ(seen.size(), 7u);
    EXPECT_EQ(seen[4].substr(0, 11), "line +OK 1 ") << "the server's message alone";
    EXPECT_TRUE(std::filesystem::exists(pending));
    {
        PopClient own(program.port(), 20000);
        ASSERT_EQ(own.line(), "+OK Quillfence\r\n");
        own.command(user);
        ASSERT_EQ(own.command("PASS secret"), "+OK\r\n");
        EXPECT_EQ(own.command("STAT").substr(0, 6), "+OK 2 ") << "and the pending one";
        EXPECT_EQ(own.command("RETR 2").substr(0, 3), "+OK");
        EXPECT_NE(own.body().find("private"), std::string::npos);
        EXPECT_EQ(own.command("QUIT").substr(0, 3), "+OK");
    }
    EXPECT_EQ(program.stop(*process), 0);
    EXPECT_FALSE(std::filesystem::exists(pending)) << "retrieved by the user, QUIT confirmed";
}

} // namespace
