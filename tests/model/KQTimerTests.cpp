// The repeating timer: elapsed times, restarts and stops with their generation guarantee.
#include "cuewright/model/KQTimer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using cw::KQTimer;

namespace {

template <class Pred> bool waitFor(Pred pred, std::chrono::milliseconds timeout = 5000ms) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

} // namespace

TEST(KQTimer, SixtyHertzElapsedTimesAddUpToTheWallTime) {
    auto q = dispatch::Queue::makeSerial("test.tick");
    KQTimer timer(q);
    std::mutex m;
    std::vector<double> elapsed;
    const double started = cw::mediaTime();
    timer.start(1.0 / 60.0, [&](double e) {
        std::lock_guard lock(m);
        elapsed.push_back(e);
    });
    EXPECT_TRUE(timer.isRunning());
    std::this_thread::sleep_for(1s);
    timer.stop();
    const double stopped = cw::mediaTime();
    q->sync([] {});
    std::lock_guard lock(m);
    ASSERT_FALSE(elapsed.empty());
    EXPECT_LT(elapsed.front(), 0.5) << "the first event comes with the start, not an interval later";
    double sum = 0;
    for (double e : elapsed) {
        EXPECT_GE(e, 0.0);
        sum += e;
    }
    // The sum spans start to last event: never more than the wall time, and short of it by
    // less than a few intervals (whatever the scheduling delays were).
    EXPECT_LE(sum, stopped - started + 1e-6);
    EXPECT_GT(sum, stopped - started - 0.5);
    // About 60 a second; bounds wide enough for a loaded machine, this is not a latency test.
    EXPECT_GT(elapsed.size(), 15u);
    EXPECT_LT(elapsed.size(), 120u);
    EXPECT_FALSE(timer.isRunning());
}

TEST(KQTimer, AfterStartReturnsTheOldClosureNeverRuns) {
    auto q = dispatch::Queue::makeSerial("test.restart");
    KQTimer timer(q);
    for (int round = 0; round < 30; ++round) {
        std::atomic<bool> restarted{false};
        std::atomic<bool> oldAfterRestart{false};
        std::atomic<int> newCalls{0};
        timer.start(0.0005, [&](double) {
            if (restarted) {
                oldAfterRestart = true;
            }
        });
        std::this_thread::sleep_for(2ms);
        timer.start(0.001, [&](double) { ++newCalls; });
        restarted = true;
        ASSERT_TRUE(waitFor([&] { return newCalls.load() > 2; }));
        ASSERT_FALSE(oldAfterRestart) << "round " << round;
        timer.stop(); // the closure refers to this round's counters
    }
}

TEST(KQTimer, AfterStopReturnsNoClosureRuns) {
    auto q = dispatch::Queue::makeSerial("test.stop");
    for (int round = 0; round < 30; ++round) {
        KQTimer timer(q);
        std::atomic<bool> stopped{false};
        std::atomic<bool> late{false};
        std::atomic<int> calls{0};
        timer.start(0.0002, [&](double) {
            if (stopped) {
                late = true;
            }
            ++calls;
            std::this_thread::sleep_for(100us); // widen the window for the race
        });
        ASSERT_TRUE(waitFor([&] { return calls.load() > 0; }));
        std::thread([&] {
            timer.stop();
            stopped = true;
        }).join();
        q->sync([] {});
        std::this_thread::sleep_for(2ms);
        q->sync([] {});
        ASSERT_FALSE(late) << "round " << round;
    }
}

TEST(KQTimer, ClosureMayStopOrRestartItsOwnTimer) {
    auto q = dispatch::Queue::makeSerial("test.self");
    KQTimer timer(q);
    std::atomic<int> first{0};
    std::atomic<int> second{0};
    timer.start(0.001, [&](double) {
        if (++first == 3) {
            timer.start(0.001, [&](double) {
                if (++second == 3) {
                    timer.stop();
                }
            });
        }
    });
    ASSERT_TRUE(waitFor([&] { return second.load() >= 3 && !timer.isRunning(); }));
    q->sync([] {});
    std::this_thread::sleep_for(10ms);
    q->sync([] {});
    EXPECT_EQ(first.load(), 3);
    EXPECT_EQ(second.load(), 3);
}

TEST(KQTimer, OddIntervalsAreClampedNotFatal) {
    auto q = dispatch::Queue::makeSerial("test.odd");
    KQTimer timer(q);
    for (double interval : {0.0, -1.0, std::numeric_limits<double>::quiet_NaN(), 1e300}) {
        std::atomic<int> calls{0};
        timer.start(interval, [&](double) { ++calls; });
        EXPECT_TRUE(waitFor([&] { return calls.load() > 0; })) << interval;
        timer.stop();
    }
}

TEST(KQTimer, DestroyingARunningTimerStopsIt) {
    auto q = dispatch::Queue::makeSerial("test.destroy");
    std::atomic<int> calls{0};
    {
        KQTimer timer(q);
        timer.start(0.0005, [&](double) { ++calls; });
        ASSERT_TRUE(waitFor([&] { return calls.load() > 0; }));
    }
    q->sync([] {});
    const int after = calls.load();
    std::this_thread::sleep_for(10ms);
    q->sync([] {});
    EXPECT_EQ(calls.load(), after);
}
