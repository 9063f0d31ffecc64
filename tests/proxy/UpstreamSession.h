// A session of the proxy inside the test process, between a test client and
// a scripted upstream server, both on real loopback connections; with
// readers for the state folder and the event log.
#pragma once

#include "common/CWorkerThread.h"
#include "common/ProgramContext.h"
#include "proxy/CSession.h"
#include "proxy/SessionList.h"

#include "support/FakeUpstream.h"
#include "TestJudge.h"
#include "support/Loopback.h"
#include "support/PopClient.h"
#include "support/TestHelpers.h"

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

class UpstreamSession : public ::testing::Test
{
protected:
    void TearDown() override
    {
        m_client.reset();
        waitForSessionEnd();
        EXPECT_EQ(SessionList::size(), 0u);
        setEvaluationSeam(nullptr);
        m_upstream.reset();
        for (const auto& entry : std::filesystem::directory_iterator(stateFolder()))
            std::filesystem::remove_all(entry.path());
        EXPECT_EQ(CWorkerThread::TerminateAllThreads(), 0);
    }

    static std::string stateFolder() { return programContext().dataRoot + "/state"; }

    // The client goes, and with it its session.
    void hangUp()
    {
        m_client.reset();
        waitForSessionEnd();
    }

    static void waitForSessionEnd()
    {
        SessionList::waitUntilEmpty(std::chrono::milliseconds(5000));
    }

    // Everything the event log holds so far.
    static std::string logText()
    {
        std::string all;
        for (const auto& entry : std::filesystem::directory_iterator(programContext().dataRoot + "/log"))
            all += readFile(entry.path());
        return all;
    }

    static size_t count(const std::string& text, const std::string& what)
    {
        size_t n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            ++n;
        return n;
    }

    void serve(std::map<std::string, std::string> replies, std::string greeting = FakeUpstream::kGreeting,
               std::map<std::string, int> delays = {})
    {
        m_upstream = std::make_unique<FakeUpstream>(std::move(replies), std::move(greeting), std::move(delays));
    }

    std::string userName(const std::string& user = "me") const
    {
        return user + "@127.0.0.1:" + std::to_string(m_upstream->port());
    }

    std::string accountFile(const std::string& user = "me") const
    {
        return stateFolder() + "/" + user + "@127.0.0.1#" + std::to_string(m_upstream->port()) + ".dat";
    }

    // A new client connection with its own session; the greeting it got.
    std::string connect(int timeoutMs = 5000)
    {
        m_client.reset();
        waitForSessionEnd();
        LoopbackListener listener;
        m_client = std::make_unique<PopClient>(listener.port(), timeoutMs);
        UniqueFd accepted = listener.accept();
        new CSession(accepted.release(), SessionSetup{.judge = &testJudge(), .collection = m_collection});
        return m_client->line();
    }

    // Connects and logs in with USER/PASS; the reply to PASS.
    std::string login(int timeoutMs = 10000)
    {
        connect(timeoutMs);
        m_client->command("USER " + userName());
        return m_client->command("PASS secret");
    }

    // What the upstream received after USER and PASS of its last login.
    std::vector<std::string> upstreamAfterLogin() const
    {
        const auto all = m_upstream->received();
        size_t start = 0;
        for (size_t i = 0; i < all.size(); ++i)
            if (all[i].rfind("PASS", 0) == 0)
                start = i + 1;
        return std::vector<std::string>(all.begin() + static_cast<long>(start), all.end());
    }

    std::unique_ptr<FakeUpstream> m_upstream;
    std::unique_ptr<PopClient> m_client;
    // Given to the sessions in place of a collection from the server.
    std::function<bool(CSession&)> m_collection;
};
