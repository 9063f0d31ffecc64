#include "common/ProgramContext.h"
#include "proxy/CSession.h"
#include "proxy/SessionList.h"

#include "SessionFixture.h"

namespace {

TEST_F(SessionDialogue, StatAndList)
{
    PopClient& client = login();
    const long total = static_cast<long>(kText1.size()) + 60 + static_cast<long>(kFile3.size()) + 1234;
    EXPECT_EQ(client.command("STAT"), "+OK 4 " + std::to_string(total) + "\r\n");
    EXPECT_EQ(client.command("LIST"), "+OK 4 " + std::to_string(total) + "\r\n");
    EXPECT_EQ(client.body(), "1 " + std::to_string(kText1.size()) + "\r\n2 60\r\n3 " +
                                 std::to_string(kFile3.size()) + "\r\n4 1234\r\n.\r\n");
    EXPECT_EQ(client.command("LIST 2"), "+OK 2 60\r\n");
    EXPECT_EQ(client.command("LIST 0"), "-ERR Invalid message number\r\n");
    EXPECT_EQ(client.command("LIST abc"), "-ERR Invalid message number\r\n");
    EXPECT_EQ(client.command("LIST 99"), "-ERR No such message\r\n");
    EXPECT_EQ(client.command("LIST -3"), "-ERR Invalid message number\r\n");
    EXPECT_EQ(client.command("LIST 99999999999999999999"), "-ERR No such message\r\n");
}

TEST_F(SessionDialogue, RetrTakesEachOfItsThreeWays)
{
    PopClient& client = login();
    EXPECT_EQ(client.command("RETR 1"), "+OK " + std::to_string(kText1.size()) + " octets\r\n");
    EXPECT_EQ(client.body(), kText1);
    EXPECT_EQ(client.command("RETR 3"), "+OK " + std::to_string(kFile3.size()) + " octets\r\n");
    EXPECT_EQ(client.body(), kFile3);
    // Header-only and unspooled server messages come from the server as is.
    EXPECT_EQ(client.command("RETR 2"), "+OK 60 octets\r\n");
    EXPECT_EQ(client.body(), kServer2.substr(kServer2.find("\r\n") + 2));
    EXPECT_EQ(client.command("RETR 4"), "+OK 1234 octets\r\n");
    EXPECT_EQ(client.body(), kServer4.substr(kServer4.find("\r\n") + 2));
    EXPECT_EQ(client.command("RETR 99"), "-ERR Invalid message number\r\n");
    EXPECT_EQ(client.command("RETR"), "-ERR Invalid message number\r\n");
    EXPECT_EQ(client.command("RETR 0"), "-ERR Invalid message number\r\n");
    const auto sent = m_upstream->received();
    EXPECT_EQ(sent, (std::vector<std::string>{"CAPA", "USER me", "PASS secret", "RETR 7", "RETR 9"}));
}

TEST_F(SessionDialogue, TopOfTextsFilesAndServerMessages)
{
    PopClient& client = login();
    EXPECT_EQ(client.command("TOP 1"), "-ERR Invalid line count\r\n");
    EXPECT_EQ(client.command("TOP 9 1"), "-ERR Invalid message number\r\n");
    EXPECT_EQ(client.command("TOP 1 0"), "+OK top of message follows.\r\n");
    EXPECT_EQ(client.body(), "Subject: one\r\n\r\n.\r\n");
    EXPECT_EQ(client.command("TOP 1 1"), "+OK top of message follows.\r\n");
    EXPECT_EQ(client.body(), "Subject: one\r\n\r\nbody line 1\r\n.\r\n");
    for (const char* many : {"TOP 1 2", "TOP 1 3", "TOP 1 50"}) {
        EXPECT_EQ(client.command(many), "+OK top of message follows.\r\n");
        EXPECT_EQ(client.body(), kText1) << many << ": exactly one terminating line";
    }
    EXPECT_EQ(client.command("TOP 2 0"), "+OK top of message follows.\r\n");
    EXPECT_EQ(client.body(), kHeader2);
    EXPECT_EQ(client.command("TOP 3 2"), "+OK top of message follows.\r\n");
    EXPECT_EQ(client.body(), "Subject: report\r\n\r\nline a\r\nline b\r\n.\r\n");
    EXPECT_EQ(client.command("TOP 3 9"), "+OK top of message follows.\r\n");
    EXPECT_EQ(client.body(), kFile3);
    EXPECT_EQ(client.command("TOP 4 1"), "+OK top\r\n");
    EXPECT_EQ(client.body(), "Subject: four\r\n\r\nfour body\r\n.\r\n");
    EXPECT_EQ(client.command("NOOP"), "+OK\r\n") << "nothing is left over in the stream";
}

TEST_F(SessionDialogue, UidlListsEveryEntry)
{
    PopClient& client = login();
    EXPECT_EQ(client.command("UIDL"), "+OK Unique id list follows\r\n");
    EXPECT_EQ(client.body(), "1 uid-1\r\n2 uid-2\r\n3 QF-local-3\r\n4 uid-4\r\n.\r\n");
    EXPECT_EQ(client.command("UIDL 3"), "+OK 3 QF-local-3\r\n");
    EXPECT_EQ(client.command("UIDL 0"), "-ERR Invalid message number\r\n");
    EXPECT_EQ(client.command("UIDL x"), "-ERR Invalid message number\r\n");
    EXPECT_EQ(client.command("UIDL 5"), "-ERR No such message\r\n");
}

TEST_F(SessionDialogue, DeletedEntriesKeepTheirNumbers)
{
    PopClient& client = login();
    EXPECT_EQ(client.command("DELE 3"), "+OK Message deleted\r\n");
    EXPECT_EQ(client.command("DELE 3"), "-ERR Message doesn't exist\r\n");
    EXPECT_EQ(client.command("DELE 4"), "+OK message 9 deleted\r\n");
    EXPECT_EQ(client.command("DELE 2"), "-ERR cannot delete\r\n") << "the server's answer is passed on";
    EXPECT_EQ(client.command("DELE 5"), "-ERR Invalid message number\r\n");
    EXPECT_EQ(client.command("DELE"), "-ERR Invalid message number\r\n");
    const long total = static_cast<long>(kText1.size()) + 60;
    EXPECT_EQ(client.command("STAT"), "+OK 4 " + std::to_string(total) + "\r\n");
    EXPECT_EQ(client.command("LIST"), "+OK 4 " + std::to_string(total) + "\r\n");
    EXPECT_EQ(client.body(), "1 " + std::to_string(kText1.size()) + "\r\n2 60\r\n3 0\r\n4 0\r\n.\r\n");
    EXPECT_EQ(client.command("LIST 3"), "-ERR Message doesn't exist\r\n");
    EXPECT_EQ(client.command("RETR 4"), "-ERR Message doesn't exist\r\n");
    EXPECT_EQ(client.command("TOP 3 1"), "-ERR Message doesn't exist\r\n");
    EXPECT_EQ(client.command("UIDL 3"), "+OK 3 QF-local-3\r\n");
    EXPECT_TRUE(std::filesystem::exists(virtualPath())) << "local files go only at QUIT";
    const auto sent = m_upstream->received();
    EXPECT_EQ(sent, (std::vector<std::string>{"CAPA", "USER me", "PASS secret", "DELE 9", "DELE 7"}));
}

TEST_F(SessionDialogue, QuitEndsTheUpstreamSessionToo)
{
    PopClient& client = login();
    EXPECT_EQ(client.command("quit"), "+OK upstream says bye\r\n");
    EXPECT_TRUE(client.closedByServer());
    const auto sent = m_upstream->received();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back(), "QUIT");
}

TEST_F(SessionDialogue, UidlRefusedWhenTheServerHasNone)
{
    m_uidlSupported = false;
    PopClient& client = login();
    EXPECT_EQ(client.command("UIDL"), "-ERR Unknown command\r\n");
    EXPECT_EQ(client.command("UIDL 1"), "-ERR Unknown command\r\n");
}

TEST_F(SessionDialogue, AfterAFailedCollectionOnlyQuitWorks)
{
    m_analysisFailed = true;
    PopClient& client = login();
    EXPECT_EQ(client.command("NOOP"), "-ERR Mailbox anaylsis failed\r\n");
    EXPECT_EQ(client.command("STAT"), "-ERR Mailbox anaylsis failed\r\n");
    EXPECT_EQ(client.command("QUIT"), "+OK Session closed.\r\n") << "no QUIT on a stream not trusted";
}

TEST_F(SessionDialogue, RsetListsEveryDeletedMessageAgainOnceTheServerHas)
{
    PopClient& client = connect();
    EXPECT_EQ(client.command("RSET"), "-ERR Permission denied\r\n");
    client.command("QUIT");
    m_client.reset();
    ASSERT_TRUE(SessionList::waitUntilEmpty(std::chrono::milliseconds(5000)));

    PopClient& again = login();
    const std::string full = again.command("STAT");
    EXPECT_EQ(again.command("DELE 3"), "+OK Message deleted\r\n");
    EXPECT_EQ(again.command("DELE 4"), "+OK message 9 deleted\r\n");
    EXPECT_EQ(again.command("RSET"), "+OK maildrop has 4 messages\r\n") << "the server's reply is passed on";
    EXPECT_EQ(again.command("STAT"), full);
    EXPECT_EQ(again.command("LIST 3"), "+OK 3 " + std::to_string(kFile3.size()) + "\r\n");
    EXPECT_EQ(again.command("LIST 4"), "+OK 4 1234\r\n");
    EXPECT_EQ(again.command("RETR 3"), "+OK " + std::to_string(kFile3.size()) + " octets\r\n");
    EXPECT_EQ(again.body(), kFile3);
    EXPECT_EQ(again.command("DELE 4"), "+OK message 9 deleted\r\n") << "deletable again";
    EXPECT_EQ(again.command("QUIT"), "+OK upstream says bye\r\n");
    EXPECT_TRUE(again.closedByServer());
    EXPECT_EQ(m_upstream->received(), (std::vector<std::string>{"CAPA", "USER me", "PASS secret", "DELE 9", "RSET",
                                                                "DELE 9", "QUIT"}));
}

TEST_F(SessionDialogue, ARsetTheServerRefusesLeavesTheMarksAsTheyWere)
{
    m_rsetReply = "-ERR not now\r\n";
    startUpstream(FakeUpstream::kGreeting);
    PopClient& client = login();
    EXPECT_EQ(client.command("DELE 3"), "+OK Message deleted\r\n");
    EXPECT_EQ(client.command("DELE 4"), "+OK message 9 deleted\r\n");
    EXPECT_EQ(client.command("RSET"), "-ERR not now\r\n");
    EXPECT_EQ(client.command("LIST 3"), "-ERR Message doesn't exist\r\n");
    EXPECT_EQ(client.command("LIST 4"), "-ERR Message doesn't exist\r\n");
}

TEST_F(SessionDialogue, CapaNamesWhatTheProxyOffersBeforeAndAfterLogin)
{
    const std::string everything =
        "USER\r\nTOP\r\nUIDL\r\nPIPELINING\r\nRESP-CODES\r\nIMPLEMENTATION Quillfence-Pro\r\n.\r\n";
    PopClient& client = connect();
    EXPECT_EQ(client.command("CAPA"), "+OK Capability list follows\r\n");
    EXPECT_EQ(client.body(), everything);
    client.command("QUIT");
    m_client.reset();
    ASSERT_TRUE(SessionList::waitUntilEmpty(std::chrono::milliseconds(5000)));

    PopClient& again = login();
    EXPECT_EQ(again.command("capa"), "+OK Capability list follows\r\n");
    EXPECT_EQ(again.body(), everything);
    // The proxy's own list, never the server's: nothing went upstream for it.
    EXPECT_EQ(m_upstream->received(), (std::vector<std::string>{"CAPA", "USER me", "PASS secret"}));
}

TEST_F(SessionDialogue, CapaLeavesOutUidlWhenTheServerHasNone)
{
    m_uidlSupported = false;
    PopClient& client = login();
    EXPECT_EQ(client.command("CAPA"), "+OK Capability list follows\r\n");
    EXPECT_EQ(client.body(), "USER\r\nTOP\r\nPIPELINING\r\nRESP-CODES\r\nIMPLEMENTATION Quillfence-Pro\r\n.\r\n");
}

TEST_F(SessionDialogue, PipelinedCommandsAreAnsweredInOrder)
{
    m_collection = [this](CSession& session) {
        fill(session);
        return true;
    };
    PopClient& client = connect();
    // A whole session in one write, as a pipelining client sends it.
    client.send("USER " + upstreamUser("me") + "\r\nPASS secret\r\nSTAT\r\nRETR 1\r\nRETR 2\r\nTOP 3 1\r\n"
                "LIST 4\r\nDELE 3\r\nDELE 4\r\nUIDL 1\r\nQUIT\r\n");
    EXPECT_EQ(client.line(), "+OK hello me\r\n");
    EXPECT_EQ(client.line(), "+OK\r\n");
    EXPECT_EQ(client.line().substr(0, 6), "+OK 4 ");
    EXPECT_EQ(client.line(), "+OK " + std::to_string(kText1.size()) + " octets\r\n");
    EXPECT_EQ(client.body(), kText1);
    EXPECT_EQ(client.line(), "+OK 60 octets\r\n");
    EXPECT_EQ(client.body(), kServer2.substr(kServer2.find("\r\n") + 2));
    EXPECT_EQ(client.line(), "+OK top of message follows.\r\n");
    EXPECT_EQ(client.body(), "Subject: report\r\n\r\nline a\r\n.\r\n");
    EXPECT_EQ(client.line(), "+OK 4 1234\r\n");
    EXPECT_EQ(client.line(), "+OK Message deleted\r\n");
    EXPECT_EQ(client.line(), "+OK message 9 deleted\r\n");
    EXPECT_EQ(client.line(), "+OK 1 uid-1\r\n");
    EXPECT_EQ(client.line(), "+OK upstream says bye\r\n");
    EXPECT_TRUE(client.closedByServer());
}

TEST_F(SessionDialogue, CurrentSessionIsTheCallingThreads)
{
    EXPECT_EQ(currentSession(), nullptr);
    CSession* seen = nullptr;
    m_collection = [&](CSession& session) {
        seen = currentSession();
        return seen == &session;
    };
    PopClient& client = connect();
    client.command("USER " + upstreamUser("me"));
    EXPECT_EQ(client.command("PASS secret"), "+OK\r\n");
    EXPECT_NE(seen, nullptr);
    EXPECT_EQ(client.command("STAT"), "+OK 0 0\r\n");
}

} // namespace
