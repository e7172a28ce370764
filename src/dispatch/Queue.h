// Dispatch queues: serial queues, the global concurrent queues and the main queue.
#pragma once

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

namespace dispatch {

using Task = std::function<void()>;
using Clock = std::chrono::steady_clock; // CLOCK_MONOTONIC on Linux
using Duration = std::chrono::nanoseconds;

enum class QoS { userInteractive, userInitiated, standard, utility, background };

class Queue;
using QueuePtr = std::shared_ptr<Queue>;

// A queue of tasks.
//
// Serial queues guarantee:
//  - FIFO: tasks run in the order they were submitted (from one thread, and as ordered
//    by the queue's lock between threads);
//  - one task at a time, and each task sees what the previous one wrote;
//  - `async` never runs the task inline;
//  - `sync` runs the task on the calling thread when the queue is idle or when the calling
//    thread is already running a task of this queue (so re-entry never dead-locks), and
//    otherwise waits until the queue has run it. Exceptions thrown by the task reach the caller.
//
// Concurrent queues (the global ones) run tasks on the shared elastic thread pool, several at
// once; `sync` on them runs inline.
//
// The main queue runs its tasks on the main thread: in the Qt application its event loop
// drains it (see setMainQueueWakeup), in tests without Qt `runMainUntil` pumps it.
//
// Every method is thread-safe. Queues are shared through QueuePtr; a queue stays alive while
// it has tasks to run.
class Queue : public std::enable_shared_from_this<Queue> {
public:
    enum class Kind { serial, concurrent, main };

    static QueuePtr makeSerial(std::string label);

    ~Queue();
    Queue(const Queue&) = delete;
    Queue& operator=(const Queue&) = delete;

    const std::string& label() const { return label_; }
    Kind kind() const { return kind_; }

    void async(Task task);
    void asyncAfter(Duration delay, Task task);

    // Runs `f` on the queue and returns its result (or rethrows what it threw).
    template <class F> auto sync(F&& f) -> std::invoke_result_t<F&> {
        using R = std::invoke_result_t<F&>;
        if constexpr (std::is_void_v<R>) {
            syncRaw([](void* ctx) { (*static_cast<std::remove_reference_t<F>*>(ctx))(); }, &f);
        } else {
            std::optional<R> result;
            auto call = [&] { result.emplace(f()); };
            syncRaw([](void* ctx) { (*static_cast<decltype(call)*>(ctx))(); }, &call);
            return std::move(*result);
        }
    }

    // True when the calling thread is running a task of this queue (also one run inline by
    // `sync` from another queue's task).
    bool isCurrent() const;

    // Queue-specific values: a key (any address) maps to a pointer. Read them for the queue
    // the caller runs on with dispatch::currentSpecific.
    void setSpecific(const void* key, void* value);
    void* specific(const void* key) const;

    // Debug builds stop the program when not called on this queue; release builds do nothing.
    void assertOnQueue() const {
#ifndef NDEBUG
        assertOnQueueSlow();
#endif
    }

    struct Impl;

private:
    Queue(std::string label, Kind kind);
    friend QueuePtr mainQueue();
    friend QueuePtr globalQueue(QoS);
    friend void setMainQueueWakeup(std::function<void()>);
    friend size_t drainMainQueue();
    friend bool runMainUntil(const std::function<bool()>&, Duration);

    void syncRaw(void (*fn)(void*), void* ctx);
    // Serial: hands the queue, which the caller owns, to a drain on the thread pool.
    void scheduleDrain();
    void assertOnQueueSlow() const;

    std::string label_;
    Kind kind_;
    std::unique_ptr<Impl> impl_;
};

// The queue whose tasks run on the main thread.
QueuePtr mainQueue();

// The concurrent queue of a quality of service. All share one elastic pool that grows when
// every worker is busy, so blocking tasks cannot starve the others.
QueuePtr globalQueue(QoS qos = QoS::standard);

// The value stored under `key` on the queue the calling thread runs a task of (the innermost
// one when `sync` nests), or null.
void* currentSpecific(const void* key);

// True on the process's main thread (the one that runs the Qt event loop).
bool isMainThread();

// Called (from any thread) each time the main queue goes from empty to non-empty, once per
// batch. The Qt bridge posts one event that calls drainMainQueue. Without a wake-up, tasks
// wait for runMainUntil.
void setMainQueueWakeup(std::function<void()> wakeup);

// Runs the tasks waiting on the main queue (and those they add) on the main thread.
// Returns the number of tasks run.
size_t drainMainQueue();

// Pumps the main queue on the main thread until `done` answers true or `timeout` passes.
// Returns the last answer of `done`.
bool runMainUntil(const std::function<bool()>& done, Duration timeout);

} // namespace dispatch
