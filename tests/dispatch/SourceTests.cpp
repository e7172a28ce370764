// Timer and descriptor sources: suspension, cancellation, shared registrations.
#include "dispatch/Source.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include <sys/socket.h>
#include <unistd.h>

using namespace std::chrono_literals;
using dispatch::Clock;
using dispatch::Queue;

namespace {

template <class Pred> bool waitFor(Pred pred, std::chrono::milliseconds timeout = 5000ms) {
    const auto deadline = Clock::now() + timeout;
    while (!pred()) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

} // namespace

TEST(TimerSource, StartsSuspendedAndCountsEveryFiring) {
    auto q = Queue::makeSerial("test.timer");
    auto timer = dispatch::TimerSource::make(q);
    std::atomic<int> events{0};
    std::atomic<uint64_t> firings{0};
    timer->setEventHandler([&] {
        ++events;
        firings += timer->data();
    });
    const auto start = Clock::now();
    timer->schedule(start, 2ms);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(events.load(), 0) << "nothing before resume";
    timer->resume();
    ASSERT_TRUE(waitFor([&] { return firings.load() >= 10; }));
    // The firings owed for the time spent suspended come with the first event.
    timer->cancel();
    const auto elapsed = Clock::now() - start;
    const auto expectedMax = elapsed / 2ms + 1;
    EXPECT_LE(firings.load(), static_cast<uint64_t>(expectedMax));
    EXPECT_LE(events.load(), static_cast<int>(firings.load()));
}

TEST(TimerSource, NoEventsWhileSuspended) {
    auto q = Queue::makeSerial("test.suspend");
    auto timer = dispatch::TimerSource::make(q);
    std::atomic<int> events{0};
    std::atomic<bool> suspended{false};
    std::atomic<bool> violated{false};
    timer->setEventHandler([&] {
        if (suspended) {
            violated = true;
        }
        ++events;
    });
    timer->schedule(Clock::now(), 1ms);
    timer->resume();
    ASSERT_TRUE(waitFor([&] { return events.load() >= 3; }));
    q->sync([&] {
        timer->suspend();
        timer->suspend(); // counted: two resumes needed
        suspended = true;
    });
    std::this_thread::sleep_for(20ms);
    q->sync([&] {
        suspended = false;
        timer->resume();
    });
    const int before = events.load();
    std::this_thread::sleep_for(10ms);
    EXPECT_EQ(events.load(), before) << "still suspended once";
    timer->resume();
    EXPECT_TRUE(waitFor([&] { return events.load() > before; }));
    EXPECT_FALSE(violated);
}

TEST(TimerSource, ReschedulingReplacesTheEarlierDeadline) {
    auto q = Queue::makeSerial("test.rearm");
    auto timer = dispatch::TimerSource::make(q);
    std::promise<Clock::time_point> fired;
    std::atomic<int> events{0};
    timer->setEventHandler([&] {
        if (events++ == 0) {
            fired.set_value(Clock::now());
        }
    });
    timer->schedule(Clock::now() + 10s);
    const auto rearmed = Clock::now();
    timer->schedule(rearmed + 5ms);
    timer->resume();
    auto future = fired.get_future();
    ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
    EXPECT_GE(future.get(), rearmed + 5ms);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(events.load(), 1) << "an interval of zero fires once";
}

TEST(SourceCancel, NoEventHandlerStartsAfterCancelReturns) {
    // A timer hammering a concurrent queue, cancelled from another thread, many times over.
    for (int round = 0; round < 50; ++round) {
        auto timer = dispatch::TimerSource::make(dispatch::globalQueue());
        std::atomic<bool> cancelReturned{false};
        std::atomic<bool> lateEvent{false};
        std::atomic<int> events{0};
        timer->setEventHandler([&] {
            if (cancelReturned) {
                lateEvent = true;
            }
            ++events;
        });
        timer->schedule(Clock::now(), 100us);
        timer->resume();
        ASSERT_TRUE(waitFor([&] { return events.load() > 0; }));
        std::thread([&] {
            timer->cancel();
            cancelReturned = true;
        }).join();
        std::this_thread::sleep_for(2ms);
        ASSERT_FALSE(lateEvent) << "round " << round;
    }
}

TEST(SourceCancel, CancelHandlerRunsExactlyOnceAfterTheRunningHandler) {
    auto q = Queue::makeSerial("test.cancel");
    auto timer = dispatch::TimerSource::make(q);
    std::atomic<int> cancels{0};
    std::atomic<bool> inHandler{false};
    std::atomic<bool> overlapped{false};
    std::promise<void> started;
    std::atomic<bool> once{false};
    timer->setEventHandler([&] {
        inHandler = true;
        if (!once.exchange(true)) {
            started.set_value();
        }
        std::this_thread::sleep_for(5ms);
        inHandler = false;
    });
    timer->setCancelHandler([&] {
        if (inHandler) {
            overlapped = true;
        }
        ++cancels;
    });
    timer->schedule(Clock::now(), 1ms);
    timer->resume();
    started.get_future().wait();
    std::vector<std::thread> cancellers;
    for (int i = 0; i < 4; ++i) {
        cancellers.emplace_back([&] { timer->cancel(); });
    }
    for (auto& t : cancellers) {
        t.join();
    }
    timer->cancel();
    q->sync([] {});
    EXPECT_EQ(cancels.load(), 1);
    EXPECT_FALSE(overlapped);
    EXPECT_TRUE(timer->isCancelled());
}

TEST(SourceCancel, ASuspendedSourceStillRunsItsCancelHandler) {
    auto q = Queue::makeSerial("test.suspended-cancel");
    std::promise<void> cancelled;
    {
        auto timer = dispatch::TimerSource::make(q);
        timer->setCancelHandler([&] { cancelled.set_value(); });
        // Never resumed; dropping the handle cancels.
    }
    EXPECT_EQ(cancelled.get_future().wait_for(5s), std::future_status::ready);
}

// A handler that owns its source (a cycle) is released after cancel, also when it holds the
// last handle while its queue is busy: no deadlock, no leak.
TEST(SourceCancel, AHandlerHoldingTheLastHandleIsReleasedWithoutDeadlock) {
    for (const bool busy : {false, true}) {
        auto q = Queue::makeSerial("test.last-handle");
        std::promise<void> gate;
        if (busy) {
            q->async([f = gate.get_future().share()] { f.wait(); });
        }
        std::promise<void> cancelled;
        std::weak_ptr<dispatch::TimerSource> weak;
        {
            auto timer = dispatch::TimerSource::make(q);
            weak = timer;
            timer->setEventHandler([timer] {});
            timer->setCancelHandler([&] { cancelled.set_value(); });
            timer->cancel();
        }
        gate.set_value();
        EXPECT_EQ(cancelled.get_future().wait_for(5s), std::future_status::ready) << busy;
        EXPECT_TRUE(waitFor([&] { return weak.expired(); })) << busy;
        std::promise<void> after;
        q->async([&] { after.set_value(); });
        EXPECT_EQ(after.get_future().wait_for(5s), std::future_status::ready) << "the queue still runs";
    }
}

// A connected pair; the sources get [0] and their cancel handlers close it.
struct SocketPair {
    SocketPair() { EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0); }
    ~SocketPair() {
        if (fds[1] >= 0) {
            close(fds[1]);
        }
    }
    int fds[2] = {-1, -1};
};

// A read source's data is the byte count waiting, and 0 at the end of the stream.
TEST(DescriptorSources, ReadSourceReportsTheReadableByteCountAndEndOfStreamAsZero) {
    for (const bool end : {false, true}) {
        SocketPair pair;
        auto& fds = pair.fds;
        auto q = Queue::makeSerial("test.read");
        auto source = dispatch::ReadSource::make(fds[0], q);
        std::promise<uint64_t> available;
        source->setEventHandler([&] {
            available.set_value(source->data());
            source->suspend();
        });
        source->setCancelHandler([fd = fds[0]] { close(fd); });
        source->resume();
        if (end) {
            close(fds[1]);
            fds[1] = -1;
        } else {
            ASSERT_EQ(write(fds[1], "hello", 5), 5);
        }
        auto future = available.get_future();
        ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
        EXPECT_EQ(future.get(), end ? 0u : 5u);
        source->cancel();
    }
}

TEST(DescriptorSources, ReadAndWriteSourcesShareADescriptorAndCloseItOnce) {
    SocketPair pair;
    auto& fds = pair.fds;
    auto q = Queue::makeSerial("test.pair");
    auto reader = dispatch::ReadSource::make(fds[0], q);
    auto writer = dispatch::WriteSource::make(fds[0], q);
    std::atomic<int> remaining{2};
    std::atomic<int> closes{0};
    auto cancelHandler = [&] {
        if (--remaining == 0) {
            ++closes;
            close(fds[0]);
        }
    };
    reader->setCancelHandler(cancelHandler);
    writer->setCancelHandler(cancelHandler);
    std::atomic<int> writable{0};
    std::promise<std::string> received;
    writer->setEventHandler([&] {
        ++writable;
        (void)write(fds[0], "ping", 4);
        writer->suspend(); // nothing more to write
    });
    reader->setEventHandler([&] {
        char buf[16] = {};
        ssize_t n = read(fds[0], buf, sizeof buf);
        if (n > 0) {
            received.set_value(std::string(buf, static_cast<size_t>(n)));
            reader->suspend();
        }
    });
    reader->resume();
    writer->resume();
    char buf[16] = {};
    ASSERT_TRUE(waitFor([&] { return read(fds[1], buf, sizeof buf) == 4; }));
    EXPECT_STREQ(buf, "ping");
    ASSERT_EQ(write(fds[1], "pong", 4), 4);
    auto future = received.get_future();
    ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(future.get(), "pong");
    EXPECT_EQ(writable.load(), 1);
    reader->cancel();
    writer->cancel();
    q->sync([] {});
    ASSERT_TRUE(waitFor([&] { return closes.load() == 1; }));
    EXPECT_EQ(remaining.load(), 0);
}
