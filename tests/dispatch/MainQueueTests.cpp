// The main queue without Qt: pumped by runMainUntil, woken once per batch.
#include "dispatch/Queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace std::chrono_literals;

// Tests run on the main thread, where a sync on the main queue runs inline, also nested.
TEST(MainQueue, TestsRunOnTheMainThreadWhereSyncRunsInline) {
    EXPECT_TRUE(dispatch::isMainThread());
    bool other = true;
    std::thread([&] { other = dispatch::isMainThread(); }).join();
    EXPECT_FALSE(other);
    EXPECT_EQ(dispatch::mainQueue()->label(), "main"); // what fatal messages name
    int depth = 0;
    dispatch::mainQueue()->sync([&] {
        ++depth;
        dispatch::mainQueue()->sync([&] { ++depth; });
    });
    EXPECT_EQ(depth, 2);
    EXPECT_TRUE(dispatch::mainQueue()->isCurrent());
}

TEST(MainQueue, SyncFromAWorkerRunsOnTheMainThreadWhileItPumps) {
    std::atomic<bool> done{false};
    bool ranOnMain = false;
    std::thread worker([&] {
        ranOnMain = dispatch::mainQueue()->sync([] { return dispatch::isMainThread(); });
        done = true;
    });
    EXPECT_TRUE(dispatch::runMainUntil([&] { return done.load(); }, 5s));
    worker.join();
    EXPECT_TRUE(ranOnMain);
}

TEST(MainQueue, WakesOncePerBatchAndRunsInOrder) {
    std::atomic<int> wakes{0};
    dispatch::setMainQueueWakeup([&] { ++wakes; });
    std::vector<int> order;
    std::thread poster([&] {
        for (int i = 0; i < 100; ++i) {
            dispatch::mainQueue()->async([&, i] { order.push_back(i); });
        }
    });
    poster.join();
    EXPECT_EQ(wakes.load(), 1);
    EXPECT_EQ(dispatch::drainMainQueue(), 100u);
    dispatch::mainQueue()->async([] {});
    EXPECT_EQ(wakes.load(), 2) << "a new batch after a drain wakes again";
    dispatch::drainMainQueue();
    dispatch::setMainQueueWakeup(nullptr);
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(order[i], i);
    }
}

TEST(MainQueue, RunMainUntilGivesUpAtTheTimeout) {
    EXPECT_FALSE(dispatch::runMainUntil([] { return false; }, 20ms));
}
