#include "dispatch/ThreadPool.h"

#include "base/Log.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace dispatch {

namespace {
constexpr int kMaxThreads = 512;
constexpr int kKeptThreads = 4;
constexpr auto kIdleExit = std::chrono::seconds(15);
} // namespace

struct ThreadPool::State {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Job> jobs;
    int idle = 0;  // workers waiting for a job
    int total = 0; // workers alive
};

ThreadPool& ThreadPool::shared() {
    // Never destroyed: detached workers may still wait on it while the process exits.
    static auto* pool = [] {
        auto* p = new ThreadPool;
        p->state_ = new State;
        return p;
    }();
    return *pool;
}

void ThreadPool::submit(Job job) {
    bool spawn = false;
    {
        std::lock_guard lock(state_->mutex);
        state_->jobs.push_back(std::move(job));
        // Every waiting worker takes one job; start another when they cannot take them all.
        if (state_->jobs.size() > static_cast<size_t>(state_->idle) && state_->total < kMaxThreads) {
            ++state_->total;
            spawn = true;
        }
    }
    if (spawn) {
        try {
            std::thread([this] { workerLoop(); }).detach();
        } catch (const std::system_error& e) {
            std::lock_guard lock(state_->mutex);
            --state_->total;
            base::log(std::string("dispatch: cannot start a worker: ") + e.what());
        }
        return;
    }
    state_->wake.notify_one();
}

void ThreadPool::workerLoop() {
    std::unique_lock lock(state_->mutex);
    for (;;) {
        if (state_->jobs.empty()) {
            ++state_->idle;
            bool woke = state_->wake.wait_for(lock, kIdleExit, [this] { return !state_->jobs.empty(); });
            --state_->idle;
            if (!woke && state_->total > kKeptThreads) {
                --state_->total;
                return;
            }
            continue;
        }
        Job job = std::move(state_->jobs.front());
        state_->jobs.pop_front();
        lock.unlock();
        job();
        job = nullptr; // release captures before taking the lock again
        lock.lock();
    }
}

} // namespace dispatch
