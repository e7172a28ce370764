// The one repeating timer of the application: ticks with the time that really passed.
#pragma once

#include "dispatch/Queue.h"
#include "dispatch/Source.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

namespace cw {

// A repeating timer on a strict timer source firing on the user-interactive global queue.
// Each event measures the seconds elapsed since the previous one (or since start) on the
// monotonic clock and hands them to the closure on the callback queue, in order.
//
// Guarantees:
//  - After `start` or `stop` returns, no closure call of an earlier start begins. A call that
//    is running on another thread at that moment is waited for, so a closure must not wait for
//    a thread that starts or stops its own timer. Starting or stopping from inside the closure
//    is fine.
//  - The first event comes at once after start, with an elapsed time of almost 0.
//  - Elapsed times are measured at the event, so a late callback still gets its own event's time.
//
// `start` and `stop` may be called from any thread. Destroying the timer stops it.
class KQTimer {
public:
    using Closure = std::function<void(double elapsedSeconds)>;

    explicit KQTimer(dispatch::QueuePtr callbackQueue);
    virtual ~KQTimer();
    KQTimer(const KQTimer&) = delete;
    KQTimer& operator=(const KQTimer&) = delete;

    virtual void start(double interval, Closure closure);
    virtual void stop();

    bool isRunning() const { return running_.load(); }
    double interval() const;
    const dispatch::QueuePtr& callbackQueue() const { return callbackQueue_; }

protected:
    // The event handler; runs on the timer's lock queue.
    virtual void tick(uint64_t generation);

private:
    struct Shared;

    std::atomic<bool> running_{false};
    dispatch::QueuePtr callbackQueue_;
    dispatch::QueuePtr timerLockQueue_;
    std::shared_ptr<Shared> shared_;

    mutable std::mutex stateMutex_; // guards the fields below
    double interval_ = 1.0 / 30.0;
    double lastTime_ = 0;
    std::shared_ptr<dispatch::TimerSource> dispatchSource_;
};

// Seconds on the media (monotonic) clock.
double mediaTime();

} // namespace cw
