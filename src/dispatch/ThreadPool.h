// The elastic worker pool behind the global queues and the drains of serial queues.
#pragma once

#include <functional>

namespace dispatch {

// Runs submitted jobs on worker threads. When every worker is busy (or blocked) a new one is
// started, so blocking work cannot starve the rest; workers idle for a while exit. Internal to
// the dispatch library: application code uses queues.
class ThreadPool {
public:
    using Job = std::function<void()>;

    static ThreadPool& shared();

    void submit(Job job);

    // Like submit, but a worker keeps one handed-off job for itself and runs it as soon as its
    // current job ends, instead of waking another worker (a chain of hops between queues then
    // stays on one thread). A watchdog gives a job kept longer than a few tens of microseconds
    // to another worker, so a long or blocking current job delays it only briefly and never
    // dead-locks on it. From other threads, or while the slot is taken, this is submit.
    void handOff(Job job);

    // Gives the calling thread's kept job to another worker. Called before blocking.
    void flushHandOff();

    // Lets a thread outside the pool keep a hand-off like a worker while `body` runs, then run
    // it (and what it hands off in turn) itself for up to the hand-off limit; what is left then
    // goes to the workers. When one of those jobs itself runs past the limit, the watchdog
    // calls `stalled` once, from its own thread, so the caller's other duties can move on.
    void runKeeping(const std::function<void()>& body, const std::function<void()>& stalled);

    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

private:
    ThreadPool() = default;
    struct State;
    void workerLoop();
    void watchdogLoop();
    void wakeOrSpawn(bool spawn);
    State* state_ = nullptr;
};

} // namespace dispatch
