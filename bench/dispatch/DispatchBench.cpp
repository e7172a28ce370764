// Serial queue cost beside a plain mutex-and-condition-variable worker thread.
#include "dispatch/Queue.h"
#include "support/Ratios.h"

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <semaphore>
#include <thread>

namespace {

// The reference: one thread, one locked deque, one condition variable.
class PlainWorker {
public:
    PlainWorker()
        : thread_([this] { run(); }) {}
    ~PlainWorker() {
        post({});
        thread_.join();
    }
    void post(std::function<void()> task) {
        {
            std::lock_guard lock(mutex_);
            tasks_.push_back(std::move(task));
        }
        wake_.notify_one();
    }
    void postAndWait(const std::function<void()>& task) {
        std::binary_semaphore done{0};
        post([&] {
            task();
            done.release();
        });
        done.acquire();
    }

private:
    void run() {
        for (;;) {
            std::function<void()> task;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [this] { return !tasks_.empty(); });
                task = std::move(tasks_.front());
                tasks_.pop_front();
            }
            if (!task) {
                return;
            }
            task();
        }
    }
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    std::thread thread_;
};

constexpr int kBatch = 10000;

void BM_QueueAsyncThroughput(benchmark::State& state) {
    auto q = dispatch::Queue::makeSerial("bench.async");
    long counter = 0;
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) {
            q->async([&counter] { ++counter; });
        }
        q->sync([] {}); // wait for the batch
    }
    benchmark::DoNotOptimize(counter);
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_QueueAsyncThroughput)->UseRealTime();

void BM_PlainWorkerAsyncThroughput(benchmark::State& state) {
    PlainWorker worker;
    long counter = 0;
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) {
            worker.post([&counter] { ++counter; });
        }
        worker.postAndWait([] {});
    }
    benchmark::DoNotOptimize(counter);
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_PlainWorkerAsyncThroughput)->UseRealTime();

void BM_QueueSyncRoundTrip(benchmark::State& state) {
    auto q = dispatch::Queue::makeSerial("bench.sync");
    long counter = 0;
    for (auto _ : state) {
        q->sync([&counter] { ++counter; });
    }
    benchmark::DoNotOptimize(counter);
}
BENCHMARK(BM_QueueSyncRoundTrip)->UseRealTime();

// A sync that must cross threads: the queue is kept busy by a task of its own.
void BM_QueueSyncRoundTripContended(benchmark::State& state) {
    auto q = dispatch::Queue::makeSerial("bench.sync-busy");
    long counter = 0;
    for (auto _ : state) {
        q->async([] {});
        q->sync([&counter] { ++counter; });
    }
    benchmark::DoNotOptimize(counter);
}
BENCHMARK(BM_QueueSyncRoundTripContended)->UseRealTime();

void BM_PlainWorkerSyncRoundTrip(benchmark::State& state) {
    PlainWorker worker;
    long counter = 0;
    for (auto _ : state) {
        worker.postAndWait([&counter] { ++counter; });
    }
    benchmark::DoNotOptimize(counter);
}
BENCHMARK(BM_PlainWorkerSyncRoundTrip)->UseRealTime();

// A message bounced between two queues, each hop posted by a task of the other queue.
constexpr int kHops = 1000;

void BM_QueuePingPong(benchmark::State& state) {
    auto ping = dispatch::Queue::makeSerial("bench.ping");
    auto pong = dispatch::Queue::makeSerial("bench.pong");
    std::binary_semaphore done{0};
    std::function<void(int)> hop = [&](int n) {
        if (n == kHops) {
            done.release();
            return;
        }
        (n % 2 == 0 ? pong : ping)->async([&hop, n] { hop(n + 1); });
    };
    for (auto _ : state) {
        ping->async([&hop] { hop(0); });
        done.acquire();
    }
    state.SetItemsProcessed(state.iterations() * kHops);
}
BENCHMARK(BM_QueuePingPong)->UseRealTime();

void BM_PlainWorkerPingPong(benchmark::State& state) {
    PlainWorker ping;
    PlainWorker pong;
    std::binary_semaphore done{0};
    std::function<void(int)> hop = [&](int n) {
        if (n == kHops) {
            done.release();
            return;
        }
        (n % 2 == 0 ? pong : ping).post([&hop, n] { hop(n + 1); });
    };
    for (auto _ : state) {
        ping.post([&hop] { hop(0); });
        done.acquire();
    }
    state.SetItemsProcessed(state.iterations() * kHops);
}
BENCHMARK(BM_PlainWorkerPingPong)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    return benchsupport::runWithRatios(argc, argv,
                                       {{"BM_QueueAsyncThroughput", "BM_PlainWorkerAsyncThroughput"},
                                        {"BM_QueueSyncRoundTrip", "BM_PlainWorkerSyncRoundTrip"},
                                        // informational: a sync that has to wait for another thread
                                        {"BM_QueueSyncRoundTripContended", "BM_PlainWorkerSyncRoundTrip"},
                                        // hops between queues: a pool thread carries them on
                                        {"BM_QueuePingPong", "BM_PlainWorkerPingPong"}},
                                       "<= 1.0");
}
