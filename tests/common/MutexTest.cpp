#include "common/CVMutex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

TEST(CVMutex, RecursiveLockNeedsMatchingUnlocks)
{
    CVMutex mutex;
    EXPECT_TRUE(mutex.lock());
    EXPECT_TRUE(mutex.lock());
    EXPECT_EQ(mutex.count(), 2u);
    EXPECT_TRUE(mutex.unlock());
    EXPECT_TRUE(mutex.unlock());
    EXPECT_FALSE(mutex.unlock()) << "nothing left to unlock";
}

TEST(CVMutex, OnlyTheHolderMayUnlock)
{
    CVMutex mutex;
    ASSERT_TRUE(mutex.lock());
    bool otherUnlocked = true;
    std::thread([&] { otherUnlocked = mutex.unlock(); }).join();
    EXPECT_FALSE(otherUnlocked);
    EXPECT_EQ(mutex.count(), 1u);
    EXPECT_TRUE(mutex.unlock());
}

TEST(CVMutex, ExcludesOtherThreads)
{
    CVMutex mutex;
    long counter = 0;
    std::atomic<int> inside{0};
    bool overlapped = false;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                CVMutexLocker lock(mutex);
                ASSERT_TRUE(lock.locked());
                if (inside.fetch_add(1) != 0)
                    overlapped = true;
                ++counter;
                inside.fetch_sub(1);
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_FALSE(overlapped);
    EXPECT_EQ(counter, 80000);
}

TEST(CVMutex, WaitsForTheHolder)
{
    CVMutex mutex;
    ASSERT_TRUE(mutex.lock());
    std::atomic<bool> acquired{false};
    std::thread other([&] {
        CVMutexLocker lock(mutex);
        acquired = lock.locked();
    });
    // The other thread cannot get in while we hold the lock; release and
    // it must.
    EXPECT_FALSE(acquired.load());
    EXPECT_TRUE(mutex.unlock());
    other.join();
    EXPECT_TRUE(acquired.load());
    EXPECT_EQ(mutex.count(), 0u);
}

TEST(CVMutex, HolderThatDiesIsReportedOnceAndTheLockRecovers)
{
    CVMutex mutex;
    std::thread([&] { ASSERT_TRUE(mutex.lock()); }).join();
    EXPECT_FALSE(mutex.lock()) << "a mutex abandoned by a dead thread counts as failure";
    EXPECT_TRUE(mutex.lock());
    EXPECT_EQ(mutex.count(), 1u);
    EXPECT_TRUE(mutex.unlock());
}

} // namespace
