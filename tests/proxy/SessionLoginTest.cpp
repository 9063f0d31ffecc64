#include "SessionFixture.h"

#include "common/CVDateTime.h"

namespace {

using SessionLogin = SessionDialogue;

const std::string kSyntax =
    "-ERR Quillfence requires USER <username>@<server>[:<port>][$APOP|$MSN]\r\n";

TEST_F(SessionLogin, BadUserNamesGetTheSyntaxReply)
{
    PopClient& client = connect();
    for (const char* bad : {"USER", "USER a", "USER @mailhost", "USER a@", "USER a@mailhost$XYZ",
                            "USER a@$APOP"})
        EXPECT_EQ(client.command(bad), kSyntax) << bad;
    EXPECT_TRUE(m_upstream->received().empty());
}

TEST_F(SessionLogin, TheLastSeparatorCountsAndTheServerSpeaksForItself)
{
    PopClient& client = connect();
    EXPECT_EQ(client.command("USER " + upstreamUser("me@home")), "-ERR unknown\r\n")
        << "the server's own reply to USER is passed on";
    EXPECT_EQ(m_upstream->received(), (std::vector<std::string>{"CAPA", "USER me@home"}))
        << "asked for its capabilities (no STLS here), then the user";
}

TEST_F(SessionLogin, UnreachableServerIsReported)
{
    PopClient& client = connect();
    const int closed = freeLoopbackPort();
    EXPECT_EQ(client.command("USER me@127.0.0.1:" + std::to_string(closed)),
              "-ERR Unable to connect to 127.0.0.1:" + std::to_string(closed) + ", error " +
                  std::to_string(ECONNREFUSED) + "\r\n");
    EXPECT_EQ(client.command("PASS secret"), "-ERR Send USER <username>@<server> first\r\n");
}

TEST_F(SessionLogin, RefusedPasswordLeavesTheSessionWaitingForAnother)
{
    m_collection = [](CSession&) { return true; };
    PopClient& client = connect();
    client.command("USER " + upstreamUser("me"));
    EXPECT_EQ(client.command("PASS wrong"), "-ERR [AUTH] Authentication failed.\r\n");
    EXPECT_EQ(client.command("STAT"), "-ERR Permission denied\r\n");
    EXPECT_EQ(client.command("PASS secret"), "+OK\r\n");
    EXPECT_EQ(client.command("STAT"), "+OK 0 0\r\n");
    client.command("QUIT");
    EXPECT_TRUE(client.closedByServer());
    // The passwords never reach the log.
    CVDateTime now;
    char name[32];
    std::snprintf(name, sizeof name, "/log/qf%02d%02d%02d.log", now.year() % 100, now.month(), now.day());
    const std::string log = readFile(programContext().dataRoot + name);
    EXPECT_NE(log.find(">s PASS <secret>"), std::string::npos);
    EXPECT_EQ(log.find("wrong"), std::string::npos);
    EXPECT_EQ(log.find("PASS secret"), std::string::npos);
}

TEST_F(SessionLogin, PasswordsKeepLeadingBlanksButNotTrailingOnes)
{
    m_collection = [](CSession&) { return true; };
    PopClient& client = connect();
    client.command("USER " + upstreamUser("me"));
    EXPECT_EQ(client.command("PASS"), "-ERR password required\r\n");
    EXPECT_EQ(client.command("PASS    "), "-ERR password required\r\n");
    EXPECT_EQ(client.command("PASS  word  "), "+OK\r\n");
    EXPECT_EQ(m_upstream->received().back(), "PASS  word");
}

TEST_F(SessionLogin, ApopDigestCoversTheTimestampWithItsBrackets)
{
    std::string account;
    m_collection = [&](CSession& session) {
        account = session.accountFile;
        return true;
    };
    PopClient& client = connect();
    EXPECT_EQ(client.command("USER " + upstreamUser("mrose", "$apop")), "+OK user accepted\r\n");
    EXPECT_EQ(client.command("PASS tanstaaf"), "+OK\r\n");   // RFC 1939's example
    EXPECT_EQ(m_upstream->received(),
              (std::vector<std::string>{"CAPA", "APOP mrose c4c9334bac560ecc979e58001b3e22fb"}));
    EXPECT_EQ(account, "mrose@127.0.0.1#" + std::to_string(m_upstream->port()) + ".dat");
}

TEST_F(SessionLogin, ApopNeedsATimestamp)
{
    startUpstream("+OK no timestamp here\r\n");
    PopClient& client = connect();
    EXPECT_EQ(client.command("USER " + upstreamUser("me", "$APOP")),
              "-ERR Apop login not available, no timestamp\r\n");
}

TEST_F(SessionLogin, ARefusingServerIsReportedAtSignon)
{
    startUpstream("-ERR too busy\r\n");
    PopClient& client = connect();
    EXPECT_EQ(client.command("USER " + upstreamUser("me")), "-ERR Server signon -ERR too busy\r\n");
}

TEST_F(SessionLogin, MsnWithoutASecurityPackage)
{
    PopClient& client = connect();
    EXPECT_EQ(client.command("USER " + upstreamUser("me", "$msn")), "+OK user accepted\r\n");
    EXPECT_EQ(client.command("PASS secret"), "-ERR MSN authentication package not available\r\n");
}

TEST_F(SessionLogin, WithoutCollectionTheMailboxIsUnusable)
{
    PopClient& client = connect();
    client.command("USER " + upstreamUser("me"));
    EXPECT_EQ(client.command("PASS secret"), "+OK\r\n");
    EXPECT_EQ(client.command("STAT"), "-ERR Mailbox anaylsis failed\r\n");
    EXPECT_EQ(client.command("QUIT"), "+OK Session closed.\r\n") << "no QUIT on a stream not trusted";
}

TEST(SessionPassword, TakenFromTheRawLine)
{
    EXPECT_EQ(CSession::passwordOf("PASS secret"), "secret");
    EXPECT_EQ(CSession::passwordOf("PASS  word  "), " word");
    EXPECT_EQ(CSession::passwordOf("  pass\ttab pass"), "tab pass");
    EXPECT_EQ(CSession::passwordOf("PASS"), "");
    EXPECT_EQ(CSession::passwordOf("PASS \t "), "");
}

} // namespace
