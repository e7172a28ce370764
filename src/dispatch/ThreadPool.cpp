#include "dispatch/ThreadPool.h"

#include "base/Log.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace dispatch {

namespace {
using Clock = std::chrono::steady_clock;
constexpr int kMaxThreads = 512;
constexpr int kKeptThreads = 4;
constexpr auto kIdleExit = std::chrono::seconds(15);
// How long a handed-off job may wait for its worker before the watchdog gives it to another
// (plus the timer slack of the watchdog's wait, 50 µs by default).
constexpr auto kHandOffLimit = std::chrono::microseconds(50);

// A worker's handed-off job, guarded by the pool's mutex. Only its own worker fills it; the
// worker or the watchdog empties it.
struct Slot {
    ThreadPool::Job job;
    Clock::time_point since;
    // runKeeping: since when the guest runs its current job, and whom to tell when that lasts.
    Clock::time_point busySince;
    std::function<void()> stalled;
};
thread_local Slot* tlsSlot = nullptr; // set on pool workers, and in runKeeping
} // namespace

struct ThreadPool::State {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Job> jobs;
    int idle = 0;                  // workers waiting for a job
    int total = 0;                 // workers alive
    std::vector<Slot*> kept;       // slots holding a job
    std::vector<Slot*> busyGuests; // runKeeping threads running a kept job, not yet reported
    uint64_t handOffs = 0;         // hand-offs so far: the watchdog keeps watching while they go on
    bool watchdogRunning = false;
    bool watchdogSleeping = false; // waiting without a deadline: the next hand-off wakes it
    std::condition_variable watchdogWake;

    // Queues a job; true when a worker must be started for it, else one must be woken.
    bool enqueueLocked(Job job) {
        jobs.push_back(std::move(job));
        // Every waiting worker takes one job; start another when they cannot take them all.
        if (jobs.size() > static_cast<size_t>(idle) && total < kMaxThreads) {
            ++total;
            return true;
        }
        return false;
    }
};

ThreadPool& ThreadPool::shared() {
    // Never destroyed: detached workers may still wait on it while the process exits.
    static auto* pool = [] {
        auto* p = new ThreadPool;
        p->state_ = new State;
        try {
            std::thread([p] { p->watchdogLoop(); }).detach();
            p->state_->watchdogRunning = true;
        } catch (const std::system_error& e) {
            base::log(std::string("dispatch: cannot start the hand-off watchdog: ") + e.what());
        }
        return p;
    }();
    return *pool;
}

void ThreadPool::wakeOrSpawn(bool spawn) {
    if (!spawn) {
        state_->wake.notify_one();
        return;
    }
    try {
        std::thread([this] { workerLoop(); }).detach();
    } catch (const std::system_error& e) {
        std::lock_guard lock(state_->mutex);
        --state_->total;
        base::log(std::string("dispatch: cannot start a worker: ") + e.what());
    }
}

void ThreadPool::submit(Job job) {
    bool spawn = false;
    {
        std::lock_guard lock(state_->mutex);
        spawn = state_->enqueueLocked(std::move(job));
    }
    wakeOrSpawn(spawn);
}

void ThreadPool::handOff(Job job) {
    Slot* slot = tlsSlot;
    bool kept = false;
    bool spawn = false;
    bool wakeWatchdog = false;
    {
        std::lock_guard lock(state_->mutex);
        if (slot != nullptr && !slot->job && state_->watchdogRunning) {
            slot->job = std::move(job);
            slot->since = Clock::now();
            state_->kept.push_back(slot);
            ++state_->handOffs;
            wakeWatchdog = std::exchange(state_->watchdogSleeping, false);
            kept = true;
        } else {
            spawn = state_->enqueueLocked(std::move(job));
        }
    }
    if (!kept) {
        wakeOrSpawn(spawn);
    } else if (wakeWatchdog) {
        state_->watchdogWake.notify_one();
    }
}

void ThreadPool::flushHandOff() {
    Slot* slot = tlsSlot;
    if (slot == nullptr) {
        return;
    }
    bool spawn = false;
    {
        std::lock_guard lock(state_->mutex);
        if (!slot->job) {
            return;
        }
        std::erase(state_->kept, slot);
        spawn = state_->enqueueLocked(std::exchange(slot->job, nullptr));
    }
    wakeOrSpawn(spawn);
}

void ThreadPool::runKeeping(const std::function<void()>& body, const std::function<void()>& stalled) {
    Slot slot;
    slot.stalled = stalled;
    tlsSlot = &slot;
    body();
    std::unique_lock lock(state_->mutex);
    if (!slot.job) {
        tlsSlot = nullptr;
        return;
    }
    const auto start = Clock::now();
    state_->busyGuests.push_back(&slot);
    while (slot.job) {
        slot.busySince = Clock::now();
        if (slot.busySince - start >= kHandOffLimit) {
            lock.unlock();
            flushHandOff();
            lock.lock();
            break;
        }
        std::erase(state_->kept, &slot);
        Job job = std::exchange(slot.job, nullptr);
        lock.unlock();
        job();
        job = nullptr;
        lock.lock();
    }
    std::erase(state_->busyGuests, &slot);
    tlsSlot = nullptr;
}

void ThreadPool::workerLoop() {
    Slot slot;
    tlsSlot = &slot;
    std::unique_lock lock(state_->mutex);
    for (;;) {
        Job job;
        if (slot.job) {
            // The job this worker handed off runs first: it continues what the last one did.
            std::erase(state_->kept, &slot);
            job = std::exchange(slot.job, nullptr);
        } else if (!state_->jobs.empty()) {
            job = std::move(state_->jobs.front());
            state_->jobs.pop_front();
        } else {
            ++state_->idle;
            bool woke = state_->wake.wait_for(lock, kIdleExit, [this] { return !state_->jobs.empty(); });
            --state_->idle;
            if (!woke && state_->total > kKeptThreads) {
                --state_->total;
                tlsSlot = nullptr;
                return;
            }
            continue;
        }
        lock.unlock();
        job();
        job = nullptr; // release captures before taking the lock again
        lock.lock();
    }
}

// Moves handed-off jobs that waited too long (their worker is busy or blocked) to the shared
// queue. Ticks every kHandOffLimit while hand-offs go on and sleeps once they stop.
void ThreadPool::watchdogLoop() {
    std::unique_lock lock(state_->mutex);
    uint64_t seen = 0;
    for (;;) {
        const auto now = Clock::now();
        auto next = now + kHandOffLimit;
        int spawns = 0;
        int wakes = 0;
        std::erase_if(state_->kept, [&](Slot* s) {
            if (now - s->since < kHandOffLimit) {
                next = std::min(next, s->since + kHandOffLimit);
                return false;
            }
            ++(state_->enqueueLocked(std::exchange(s->job, nullptr)) ? spawns : wakes);
            return true;
        });
        std::vector<std::function<void()>> stalled;
        std::erase_if(state_->busyGuests, [&](Slot* s) {
            if (now - s->busySince < kHandOffLimit) {
                next = std::min(next, s->busySince + kHandOffLimit);
                return false;
            }
            stalled.push_back(s->stalled);
            return true;
        });
        if (spawns + wakes > 0 || !stalled.empty()) {
            lock.unlock();
            for (const auto& f : stalled) {
                f();
            }
            for (int i = 0; i < spawns; ++i) {
                wakeOrSpawn(true);
            }
            for (int i = 0; i < wakes; ++i) {
                wakeOrSpawn(false);
            }
            lock.lock();
            continue;
        }
        if (state_->kept.empty() && state_->busyGuests.empty() && state_->handOffs == seen) {
            state_->watchdogSleeping = true;
            state_->watchdogWake.wait(lock, [this] { return !state_->watchdogSleeping; });
            continue;
        }
        seen = state_->handOffs;
        state_->watchdogWake.wait_until(lock, next);
    }
}

} // namespace dispatch
