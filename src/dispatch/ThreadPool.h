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

    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

private:
    ThreadPool() = default;
    struct State;
    void workerLoop();
    State* state_ = nullptr;
};

} // namespace dispatch
