// A session on a real loopback connection, talking to a scripted upstream;
// the collection seam fills its mailbox: 1 a spooled text, 2 a header-only
// text of a server message, 3 a local file, 4 a server message not spooled.
#pragma once

#include "common/ProgramContext.h"
#include "proxy/CSession.h"
#include "proxy/SessionList.h"

#include "support/FakeUpstream.h"
#include "TestJudge.h"
#include "support/Loopback.h"
#include "support/PopClient.h"
#include "support/TestHelpers.h"

#include <chrono>
#include <thread>

inline const std::string kText1 = "Subject: one\r\n\r\nbody line 1\r\nbody line 2\r\n.\r\n";
inline const std::string kHeader2 = "Subject: two\r\nFrom: a@b\r\n\r\n.\r\n";
inline const std::string kFile3 = "Subject: report\r\n\r\nline a\r\nline b\r\nline c\r\n.\r\n";
inline const std::string kServer2 = "+OK 60 octets\r\nSubject: two\r\nFrom: a@b\r\n\r\nthe body\r\n..dot\r\n.\r\n";
inline const std::string kServer4 = "+OK 1234 octets\r\nSubject: four\r\n\r\nfour body\r\n.\r\n";

class SessionDialogue : public ::testing::Test
{
protected:
    void SetUp() override
    {
        writeFile(virtualPath(), kFile3);
        startUpstream(FakeUpstream::kGreeting);
    }

    void startUpstream(const std::string& greeting)
    {
        m_upstream = std::make_unique<FakeUpstream>(std::map<std::string, std::string>{
            {"RETR 7", kServer2},
            {"RETR 9", kServer4},
            {"TOP 7 0", "+OK top\r\nSubject: two\r\nFrom: a@b\r\n\r\n.\r\n"},
            {"TOP 9 1", "+OK top\r\nSubject: four\r\n\r\nfour body\r\n.\r\n"},
            {"DELE 9", "+OK message 9 deleted\r\n"},
            {"DELE 7", "-ERR cannot delete\r\n"},
            {"RSET", m_rsetReply},
            {"USER me", "+OK hello me\r\n"},
            {"PASS secret", "+OK logged in\r\n"},
            {"PASS  word", "+OK spaced\r\n"},
            {"PASS wrong", "-ERR [AUTH] Authentication failed.\r\n"},
            {"APOP mrose c4c9334bac560ecc979e58001b3e22fb", "+OK maildrop has 0 messages\r\n"},
            {"QUIT", "+OK upstream says bye\r\n"}},
            greeting);
    }

    void TearDown() override
    {
        m_client.reset();
        // The session ends once its client has gone.
        EXPECT_TRUE(SessionList::waitUntilEmpty(std::chrono::milliseconds(5000)));
        EXPECT_EQ(CWorkerThread::TerminateAllThreads(), 0);
    }

    std::string virtualPath() const { return m_dir / "virtual.txt"; }

    void fill(CSession& session)
    {
        auto add = [&](auto setup) {
            auto message = std::make_unique<CMessage>();
            setup(*message);
            session.mailbox.push_back(std::move(message));
        };
        add([&](CMessage& m) {
            writeFile(m_dir / "spool1.msg", kText1);
            m.readText(m_dir / "spool1.msg");
            m.uid = "uid-1";
            m.serverNumber = 1;
        });
        add([&](CMessage& m) {
            writeFile(m_dir / "spool2.msg", kHeader2);
            m.readText(m_dir / "spool2.msg");
            m.headerOnly = true;
            m.size = 60;
            m.uid = "uid-2";
            m.serverNumber = 7;
        });
        add([&](CMessage& m) {
            m.local = true;
            m.path = virtualPath();
            m.uid = "QF-local-3";
        });
        add([&](CMessage& m) {
            m.size = 1234;
            m.uid = "uid-4";
            m.serverNumber = 9;
        });
        session.uidlSupported = m_uidlSupported;
        session.analysisFailed = m_analysisFailed;
    }

    // Starts a session and reads its greeting.
    PopClient& connect()
    {
        LoopbackListener listener;
        m_client = std::make_unique<PopClient>(listener.port());
        UniqueFd accepted = listener.accept();
        new CSession(accepted.release(), SessionSetup{.judge = &testJudge(), .collection = m_collection});
        EXPECT_EQ(m_client->line(), "+OK Quillfence\r\n");
        return *m_client;
    }

    std::string upstreamUser(const std::string& user, const std::string& suffix = "") const
    {
        return user + "@127.0.0.1:" + std::to_string(m_upstream->port()) + suffix;
    }

    // Logs in upstream with USER/PASS; the test's collection fills the mailbox.
    PopClient& login()
    {
        m_collection = [this](CSession& session) {
            fill(session);
            return !m_analysisFailed;
        };
        PopClient& client = connect();
        EXPECT_EQ(client.command("USER " + upstreamUser("me")), "+OK hello me\r\n");
        EXPECT_EQ(client.command("PASS secret"), "+OK\r\n");
        return client;
    }

    TempDir m_dir;
    std::unique_ptr<FakeUpstream> m_upstream;
    std::unique_ptr<PopClient> m_client;
    // Given to the sessions in place of a collection from the server.
    std::function<bool(CSession&)> m_collection;
    bool m_uidlSupported = true;
    bool m_analysisFailed = false;
    std::string m_rsetReply = "+OK maildrop has 4 messages\r\n";
};

