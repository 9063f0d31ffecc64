// The program and clients of other local users: a client run as another
// user (the account qftestpeer, run with runuser; the tests need root) is
// refused and closed at once, even while the user's own session runs, and
// never holds back the next session of the user; AllowOtherUsers lets it in.
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

} // namespace
