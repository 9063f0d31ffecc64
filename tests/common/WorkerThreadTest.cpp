#include "common/CEventLog.h"
#include "common/CVDateTime.h"
#include "common/CWorkerThread.h"
#include "common/Socket.h"

#include "support/Loopback.h"
#include "support/TestHelpers.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

size_t registered()
{
    CVMutexLocker lock(CWorkerThread::m_mutex);
    return CWorkerThread::m_Threads.size();
}

bool isRegistered(const CWorkerThread* thread)
{
    CVMutexLocker lock(CWorkerThread::m_mutex);
    for (auto* t : CWorkerThread::m_Threads)
        if (t == thread)
            return true;
    return false;
}

// Waits (polling a condition, bounded) until every worker has gone.
bool allGone(int seconds = 5)
{
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    while (registered() != 0 && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return registered() == 0;
}

// A worker whose body is a function; calls start() unless told not to.
class FunctionThread : public CWorkerThread
{
public:
    FunctionThread(std::function<unsigned()> body, bool startNow = true, int constructionDelayMs = 0)
        : m_body(std::move(body))
    {
        // Work that follows the base constructor: the body must not run
        // before it is done.
        std::this_thread::sleep_for(std::chrono::milliseconds(constructionDelayMs));
        m_ready = 42;
        if (startNow)
            start();
    }
    unsigned run() override
    {
        seenReady = m_ready;
        return m_body();
    }
    void startLater() { start(); }

    static std::atomic<int> seenReady;

private:
    std::function<unsigned()> m_body;
    int m_ready = 0;
};

std::atomic<int> FunctionThread::seenReady{0};

class WorkerThreadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        CEventLog::dayno = -1;
        CEventLog::SetLogging(0x2007 | 1024);
        CEventLog::Initialize(m_dir.path().c_str(), "test", "qf");
        FunctionThread::seenReady = 0;
    }
    void TearDown() override
    {
        EXPECT_EQ(CWorkerThread::TerminateAllThreads(), 0);
        CEventLog::Uninitialize();
        CEventLog::loginit = false;
        CEventLog::dayno = -1;
        CEventLog::SetLogging(0x2007);
    }
    std::string log() const
    {
        CVDateTime now;
        char name[32];
        std::snprintf(name, sizeof name, "/qf%02d%02d%02d.log", now.year() % 100, now.month(),
                      now.day());
        return readFile(m_dir.path() + name);
    }

    TempDir m_dir;
};

TEST_F(WorkerThreadTest, GateHoldsTheBodyUntilConstructionEnds)
{
    std::promise<void> done;
    new FunctionThread([&] { done.set_value(); return 0u; }, true, 100);
    done.get_future().wait();
    EXPECT_EQ(FunctionThread::seenReady.load(), 42);
    EXPECT_TRUE(allGone());
}

TEST_F(WorkerThreadTest, BodyEndsAndObjectLeavesTheRegistry)
{
    std::promise<CWorkerThread*> inside;
    std::promise<void> release;
    auto released = release.get_future().share();
    auto* thread = new FunctionThread([&] {
        inside.set_value(CWorkerThread::FindThread());
        released.wait();
        return 7u;
    });
    EXPECT_EQ(inside.get_future().get(), thread) << "FindThread inside the body finds itself";
    EXPECT_TRUE(isRegistered(thread));
    EXPECT_EQ(CWorkerThread::FindThread(), nullptr) << "the test thread is no worker";
    release.set_value();
    EXPECT_TRUE(allGone());
    EXPECT_NE(log().find("ended with exit code 7"), std::string::npos) << log();
}

TEST_F(WorkerThreadTest, ExceptionInBodyIsTrappedWithExitCodeZero)
{
    new FunctionThread([]() -> unsigned { throw 5; });
    ASSERT_TRUE(allGone());
    const std::string text = log();
    EXPECT_NE(text.find("Exception trap - CWorkerThread.cpp:"), std::string::npos) << text;
    EXPECT_NE(text.find("ended with exit code 0"), std::string::npos) << text;
}

TEST_F(WorkerThreadTest, NeverStartedObjectIsRemovedWithoutRunning)
{
    std::atomic<bool> ran{false};
    auto* thread = new FunctionThread([&] { ran = true; return 1u; }, false);
    EXPECT_TRUE(isRegistered(thread));
    EXPECT_EQ(CWorkerThread::TerminateAllThreads(), 0);
    EXPECT_EQ(registered(), 0u);
    EXPECT_FALSE(ran);
}

TEST_F(WorkerThreadTest, DeletingAGatedObjectEndsItsThread)
{
    std::atomic<bool> ran{false};
    auto* thread = new FunctionThread([&] { ran = true; return 1u; }, false);
    delete thread;
    EXPECT_EQ(registered(), 0u);
    EXPECT_FALSE(ran);
}

TEST_F(WorkerThreadTest, StopBeforeStartSkipsTheBody)
{
    std::atomic<bool> ran{false};
    auto* thread = new FunctionThread([&] { ran = true; return 1u; }, false);
    thread->requestStop();
    thread->startLater();
    EXPECT_TRUE(allGone());
    EXPECT_FALSE(ran);
}

TEST_F(WorkerThreadTest, TerminateWithNothingRegistered)
{
    EXPECT_EQ(registered(), 0u);
    EXPECT_EQ(CWorkerThread::TerminateAllThreads(), 0);
}

TEST_F(WorkerThreadTest, TerminateEndsThreadsBlockedOnSockets)
{
    // Three bodies blocked in reads that would wait for ever, one in a send
    // to a reader that never reads.
    std::vector<LoopbackPair> pairs;
    for (int i = 0; i < 4; ++i)
        pairs.push_back(connectLoopback(0, 0));
    std::atomic<int> interrupted{0};
    std::atomic<int> blocked{0};
    for (int i = 0; i < 3; ++i) {
        new FunctionThread([&, i] {
            char buf[64];
            bool found = false;
            try {
                ++blocked;
                pairs[i].socket->getline(buf, sizeof buf, found, "\r\n");
            } catch (long code) {
                if (code == Socket::kInterrupted)
                    ++interrupted;
            }
            return 0u;
        });
    }
    new FunctionThread([&] {
        const std::string block(1 << 20, 'x');
        try {
            ++blocked;
            for (;;)
                pairs[3].socket->send(block.data(), static_cast<unsigned>(block.size()));
        } catch (long code) {
            if (code == Socket::kInterrupted)
                ++interrupted;
        }
        return 0u;
    });
    while (blocked < 4)
        std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));   // into their waits

    const auto began = Clock::now();
    EXPECT_EQ(CWorkerThread::TerminateAllThreads(), 0);
    const auto took = Clock::now() - began;
    EXPECT_LT(took, std::chrono::seconds(3)) << "a generous bound; the slices are 100 ms";
    EXPECT_EQ(interrupted.load(), 4);
    EXPECT_EQ(registered(), 0u);
}

TEST_F(WorkerThreadTest, ABodyThatIgnoresStopIsLeftAloneNotFreed)
{
    std::atomic<bool> release{false};
    std::promise<void> entered;
    auto* thread = new FunctionThread([&] {
        entered.set_value();
        while (!release)   // never looks at its stop flag
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return 3u;
    });
    entered.get_future().wait();
    EXPECT_EQ(CWorkerThread::TerminateAllThreads(300), 1);
    EXPECT_TRUE(isRegistered(thread));
    EXPECT_NE(log().find("did not stop"), std::string::npos);
    release = true;
    EXPECT_TRUE(allGone()) << "it deletes itself once its body returns";
}

TEST_F(WorkerThreadTest, TerminateStopsBodiesThatWatchTheirFlag)
{
    std::atomic<int> entered{0};
    for (int i = 0; i < 5; ++i) {
        new FunctionThread([&] {
            ++entered;
            while (!CWorkerThread::FindThread()->stopRequested())
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            return 0u;
        });
    }
    while (entered < 5)
        std::this_thread::yield();
    EXPECT_EQ(CWorkerThread::TerminateAllThreads(), 0);
    EXPECT_EQ(registered(), 0u);
}

TEST_F(WorkerThreadTest, ManyShortThreadsDeleteThemselvesOnce)
{
    std::atomic<int> bodies{0};
    for (int i = 0; i < 200; ++i)
        new FunctionThread([&] { ++bodies; return 0u; });
    EXPECT_TRUE(allGone());
    EXPECT_EQ(bodies.load(), 200);
}

TEST_F(WorkerThreadTest, CurrentThreadIsTheKernelId)
{
    EXPECT_EQ(CWorkerThread::currentThread(), static_cast<unsigned long>(::gettid()));
    std::promise<std::pair<unsigned long, unsigned long>> ids;
    new FunctionThread([&] {
        ids.set_value({CWorkerThread::currentThread(), CWorkerThread::FindThread()->threadId()});
        return 0u;
    });
    auto [current, stored] = ids.get_future().get();
    EXPECT_EQ(current, stored);
    EXPECT_NE(current, CWorkerThread::currentThread());
}

} // namespace
