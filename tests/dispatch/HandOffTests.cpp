// Work submitted from a pool thread is kept for that thread: it must still run when the
// submitting task blocks or keeps running, and each serial queue keeps its order.
#include "dispatch/Source.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <future>
#include <latch>
#include <mutex>
#include <numeric>
#include <thread>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

using namespace std::chrono_literals;
using dispatch::Queue;

namespace {

// Hang guard only: every wait below finishes at once unless the work is never run.
constexpr auto kHang = 10s;

bool finished(std::future<void>& f) {
    return f.wait_for(kHang) == std::future_status::ready;
}

// Busy without blocking until `flag` is set: only another thread can set it.
bool spinUntil(const std::atomic<bool>& flag) {
    const auto giveUp = dispatch::Clock::now() + kHang;
    while (!flag && dispatch::Clock::now() < giveUp) {
    }
    return flag;
}

enum class Wait { blocking, busy };

// The handler of a first source waits until a second source's handler has run: events must
// keep flowing while a handler holds the thread that received its event.
bool handlerWaitingForAnotherSourceCompletes(Wait how) {
    int a[2], b[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, a) != 0 ||
        socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, b) != 0) {
        return false;
    }
    auto first = dispatch::ReadSource::make(a[0], Queue::makeSerial("test.stall.first"));
    auto second = dispatch::ReadSource::make(b[0], Queue::makeSerial("test.stall.second"));
    std::latch firstStarted(1);
    std::promise<void> secondRan, done;
    std::atomic<bool> secondDone{false};
    first->setEventHandler([&] {
        first->suspend();
        firstStarted.count_down();
        if (how == Wait::blocking ? secondRan.get_future().wait_for(kHang) == std::future_status::ready
                                  : spinUntil(secondDone)) {
            done.set_value();
        }
    });
    second->setEventHandler([&] {
        second->suspend();
        secondDone = true;
        secondRan.set_value();
    });
    first->setCancelHandler([fd = a[0]] { close(fd); });
    second->setCancelHandler([fd = b[0]] { close(fd); });
    first->resume();
    second->resume();
    const bool wrote = write(a[1], "x", 1) == 1;
    firstStarted.wait();
    const bool wroteSecond = write(b[1], "y", 1) == 1;
    auto f = done.get_future();
    const bool ok = wrote && wroteSecond && finished(f);
    first->cancel();
    second->cancel();
    close(a[1]);
    close(b[1]);
    return ok;
}

} // namespace

// Stalls of both kinds in turn: each calls back the spare thread the previous one left.
TEST(HandOff, BlockedOrLongHandlersDoNotHoldBackOtherSources) {
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(handlerWaitingForAnotherSourceCompletes(i % 2 == 0 ? Wait::blocking : Wait::busy)) << i;
    }
}

// A task that waits for work it submitted to another queue (blocked on a latch or a condition
// variable, or busy without blocking) must see that work run on another thread.
TEST(HandOff, TaskThatWaitsForWorkItSubmittedCompletes) {
    const struct {
        const char* name;
        std::function<bool(const dispatch::QueuePtr&)> submitAndWait; // answers whether it ran
    } cases[] = {
        {"latch",
         [](const dispatch::QueuePtr& b) {
             std::latch ran(1);
             b->async([&] { ran.count_down(); });
             ran.wait();
             return true;
         }},
        {"condition variable",
         [](const dispatch::QueuePtr& b) {
             std::mutex m;
             std::condition_variable cv;
             bool ran = false;
             b->async([&] {
                 std::lock_guard lock(m);
                 ran = true;
                 cv.notify_one();
             });
             std::unique_lock lock(m);
             cv.wait(lock, [&] { return ran; });
             return true;
         }},
        {"busy",
         [](const dispatch::QueuePtr& b) {
             std::atomic<bool> ran{false};
             b->async([&] { ran = true; });
             return spinUntil(ran);
         }},
    };
    for (const auto& c : cases) {
        auto a = Queue::makeSerial("test.handoff.a");
        auto b = Queue::makeSerial("test.handoff.b");
        std::promise<void> done;
        a->async([&] {
            if (c.submitAndWait(b)) {
                done.set_value();
            }
        });
        auto f = done.get_future();
        EXPECT_TRUE(finished(f)) << c.name;
    }
}

TEST(HandOff, SyncAfterAsyncOnTheSameQueueCompletesInOrder) {
    auto a = Queue::makeSerial("test.handoff.sync-a");
    auto b = Queue::makeSerial("test.handoff.sync-b");
    std::promise<void> done;
    std::vector<int> order;
    a->async([&] {
        b->async([&] { order.push_back(1); }); // b's drain is kept by this thread
        b->sync([&] { order.push_back(2); });  // and must not wait for this task to end
        done.set_value();
    });
    auto f = done.get_future();
    ASSERT_TRUE(finished(f));
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST(HandOff, ChainOfTasksEachWaitingForTheNextCompletes) {
    constexpr int kDepth = 8;
    std::vector<dispatch::QueuePtr> queues;
    std::vector<std::unique_ptr<std::latch>> latches;
    for (int i = 0; i < kDepth; ++i) {
        queues.push_back(Queue::makeSerial("test.handoff.chain" + std::to_string(i)));
        latches.push_back(std::make_unique<std::latch>(1));
    }
    // Task i submits task i+1 and blocks until it has finished.
    std::function<void(int)> step = [&](int i) {
        if (i + 1 < kDepth) {
            queues[i + 1]->async([&, i] { step(i + 1); });
            latches[i + 1]->wait();
        }
        latches[i]->count_down();
    };
    queues[0]->async([&] { step(0); });
    std::promise<void> done;
    std::thread waiter([&] {
        latches[0]->wait();
        done.set_value();
    });
    auto f = done.get_future();
    const bool ok = finished(f);
    EXPECT_TRUE(ok);
    if (ok) {
        waiter.join();
    } else {
        waiter.detach();
    }
}

TEST(HandOff, CancelWaitingForAHandlerThatWaitsForKeptWorkCompletes) {
    auto q = Queue::makeSerial("test.handoff.source");
    auto b = Queue::makeSerial("test.handoff.source-b");
    auto c = Queue::makeSerial("test.handoff.source-c");
    auto timer = dispatch::TimerSource::make(q);
    std::latch handlerStarted(1);
    std::latch bRan(1);
    std::atomic<bool> first{true};
    timer->setEventHandler([&] {
        if (first.exchange(false)) {
            handlerStarted.count_down();
            bRan.wait();
        }
    });
    timer->schedule(dispatch::Clock::now());
    timer->resume();
    std::promise<void> done;
    c->async([&] {
        handlerStarted.wait();
        b->async([&] { bRan.count_down(); });
        timer->cancel(); // waits for the handler, which waits for b
        done.set_value();
    });
    auto f = done.get_future();
    EXPECT_TRUE(finished(f));
}

TEST(HandOff, PingPongBetweenQueuesKeepsEachQueuesOrder) {
    // Tasks bounce between two queues (every hop is kept by the thread that made it) while
    // outside threads also post to both; each sender's tasks must run in the order sent.
    auto a = Queue::makeSerial("test.handoff.ping");
    auto b = Queue::makeSerial("test.handoff.pong");
    constexpr int kHops = 4000;
    constexpr int kOutside = 2000;
    std::vector<int> bounced;  // on a
    std::vector<int> outsideA; // on a
    std::vector<int> outsideB; // on b
    std::promise<void> done;
    std::function<void(int)> ping = [&](int n) {
        bounced.push_back(n);
        if (n + 1 == kHops) {
            done.set_value();
            return;
        }
        b->async([&, n] { a->async([&, n] { ping(n + 1); }); });
    };
    a->async([&] { ping(0); });
    std::thread poster([&] {
        for (int i = 0; i < kOutside; ++i) {
            a->async([&, i] { outsideA.push_back(i); });
            b->async([&, i] { outsideB.push_back(i); });
        }
    });
    poster.join();
    auto f = done.get_future();
    ASSERT_TRUE(finished(f));
    a->sync([] {});
    b->sync([] {});
    a->sync([] {}); // b's last tasks may post to a
    const auto upTo = [](int n) {
        std::vector<int> v(static_cast<size_t>(n));
        std::iota(v.begin(), v.end(), 0);
        return v;
    };
    EXPECT_EQ(bounced, upTo(kHops));
    EXPECT_EQ(outsideA, upTo(kOutside));
    EXPECT_EQ(outsideB, upTo(kOutside));
}
