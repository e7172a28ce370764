// Serial and global queues: ordering, re-entry, exceptions, specifics, the elastic pool.
#include "dispatch/Queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <latch>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using dispatch::Queue;

namespace {

void flush(const dispatch::QueuePtr& q) {
    q->sync([] {});
}

} // namespace

// Many threads submit at once: each thread's tasks run in the order submitted, one task at a
// time. Syncs that find the queue idle run inline, yet must still come after every task their
// own thread submitted before them.
TEST(SerialQueue, KeepsEachThreadsOrderAndRunsOneTaskAtATimeUnderContention) {
    const struct {
        const char* name;
        int threads;
        int rounds;
        int syncEvery; // 0: async only
    } cases[] = {{"async only", 6, 2000, 0}, {"every third a sync", 4, 3000, 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto q = Queue::makeSerial("test.fifo");
        std::vector<int> done(size_t(c.threads), 0); // written by tasks only: the queue serialises them
        std::atomic<int> inFlight{0};
        std::atomic<int> overlaps{0};
        std::atomic<int> misordered{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < c.threads; ++t) {
            threads.emplace_back([&, t] {
                for (int i = 1; i <= c.rounds; ++i) {
                    auto body = [&, t, i] {
                        overlaps += inFlight.fetch_add(1) != 0 ? 1 : 0;
                        misordered += done[t] != i - 1 ? 1 : 0;
                        done[t] = i;
                        inFlight.fetch_sub(1);
                    };
                    if (c.syncEvery != 0 && i % c.syncEvery == 0) {
                        q->sync(body);
                    } else {
                        q->async(body);
                    }
                }
            });
        }
        for (auto& th : threads) {
            th.join();
        }
        flush(q);
        EXPECT_EQ(overlaps.load(), 0);
        EXPECT_EQ(misordered.load(), 0);
        EXPECT_EQ(done, std::vector<int>(size_t(c.threads), c.rounds));
    }
}

// A sync from another thread waits for the work already queued, and work queued after it waits.
TEST(SerialQueue, SyncBetweenAsyncTasksKeepsOrder) {
    auto q = Queue::makeSerial("test.mixed");
    std::vector<int> order;
    q->async([&] {
        std::this_thread::sleep_for(5ms);
        order.push_back(1);
    });
    q->sync([&] { order.push_back(2); });
    q->async([&] { order.push_back(3); });
    flush(q);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(SerialQueue, AsyncNeverRunsInline) {
    auto q = Queue::makeSerial("test.inline");
    bool ranInside = false;
    bool ran = false;
    q->sync([&] {
        q->async([&] { ran = true; });
        ranInside = ran;
    });
    flush(q);
    EXPECT_FALSE(ranInside);
    EXPECT_TRUE(ran);
}

TEST(SerialQueue, SyncReentryOnTheSameQueueRunsInPlace) {
    auto a = Queue::makeSerial("test.a");
    auto b = Queue::makeSerial("test.b");
    int value = a->sync([&] {
        int inner = a->sync([] { return 20; });
        // a → b → a: the thread still holds a, so the innermost call runs in place too.
        return inner + b->sync([&] { return a->sync([] { return 22; }); });
    });
    EXPECT_EQ(value, 42);
}

TEST(SerialQueue, SyncReturnsValuesAndRethrows) {
    auto q = Queue::makeSerial("test.throw");
    EXPECT_EQ(q->sync([] { return std::string("value"); }), "value");
    EXPECT_THROW(q->sync([]() -> int { throw std::runtime_error("boom"); }), std::runtime_error);
    // Busy queue: the exception crosses threads.
    q->async([] { std::this_thread::sleep_for(5ms); });
    try {
        q->sync([] { throw std::invalid_argument("across"); });
        FAIL() << "no exception";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "across");
    }
    // The queue still works afterwards.
    EXPECT_EQ(q->sync([] { return 7; }), 7);
}

TEST(SerialQueue, IsCurrentAndSpecificsFollowTheRunningQueue) {
    auto q = Queue::makeSerial("test.specific");
    auto other = Queue::makeSerial("test.other");
    static int key;
    int marker = 0;
    q->setSpecific(&key, &marker);
    EXPECT_FALSE(q->isCurrent());
    EXPECT_EQ(dispatch::currentSpecific(&key), nullptr);
    std::promise<std::tuple<bool, void*, void*, bool>> seen;
    q->async([&] {
        bool current = q->isCurrent();
        void* mine = dispatch::currentSpecific(&key);
        auto inOther =
            other->sync([&] { return std::make_pair(dispatch::currentSpecific(&key), q->isCurrent()); });
        seen.set_value({current, mine, inOther.first, inOther.second});
    });
    auto [current, mine, inOther, stillHeld] = seen.get_future().get();
    EXPECT_TRUE(current);
    EXPECT_EQ(mine, &marker);
    EXPECT_EQ(inOther, nullptr) << "the innermost queue's value counts";
    EXPECT_TRUE(stillHeld) << "the thread still runs a task of q";
}

TEST(SerialQueue, StaysAliveWhileTasksAreQueued) {
    std::promise<void> done;
    {
        auto q = Queue::makeSerial("test.dropped");
        q->async([] { std::this_thread::sleep_for(5ms); });
        q->async([&] { done.set_value(); });
    }
    EXPECT_EQ(done.get_future().wait_for(5s), std::future_status::ready);
}

// Delayed tasks run in the order of their deadlines; a delay too large to add to the clock
// does not wrap around into the past.
TEST(SerialQueue, AsyncAfterRunsLaterInOrderOfDeadline) {
    auto q = Queue::makeSerial("test.after");
    std::mutex m;
    std::vector<int> order;
    std::promise<void> done;
    std::atomic<bool> hugeRan{false};
    q->asyncAfter(dispatch::Duration::max(), [&] { hugeRan = true; });
    q->asyncAfter(30ms, [&] {
        {
            std::lock_guard lock(m);
            order.push_back(2);
        }
        done.set_value();
    });
    q->asyncAfter(1ms, [&] {
        std::lock_guard lock(m);
        order.push_back(1);
    });
    ASSERT_EQ(done.get_future().wait_for(5s), std::future_status::ready);
    flush(q);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_FALSE(hugeRan);
}

// A sync runs inline on the caller's thread. Tasks run side by side: with more blocked tasks
// than cores, the task that unblocks them must still get a thread.
TEST(GlobalQueue, SyncRunsInlineAndBlockingTasksDoNotStarveTheOthers) {
    auto global = dispatch::globalQueue(dispatch::QoS::utility);
    EXPECT_EQ(global->sync([] { return std::this_thread::get_id(); }), std::this_thread::get_id());
    constexpr int kBlocked = 64;
    std::latch release(1);
    std::latch finished(kBlocked);
    for (int i = 0; i < kBlocked; ++i) {
        global->async([&] {
            release.wait();
            finished.count_down();
        });
    }
    global->async([&] { release.count_down(); });
    EXPECT_TRUE([&] {
        for (int i = 0; i < 500; ++i) {
            if (finished.try_wait()) {
                return true;
            }
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }());
}
