#include "cuewright/model/KQTimer.h"

#include <chrono>
#include <cmath>
#include <limits>

namespace cw {

// What callbacks on the callback queue share with the timer; outlives it while callbacks wait.
struct KQTimer::Shared {
    // Held while a closure runs, and by start/stop while they change the generation: this is
    // what keeps a closure of an earlier start from running after start or stop returned.
    std::recursive_mutex runLock;
    uint64_t generation = 0;
    Closure closure;
};

double mediaTime() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// Repeat interval in whole nanoseconds, kept within what a timer can take.
static dispatch::Duration intervalToNanoseconds(double interval) {
    constexpr double kMin = 1e3; // 1 µs
    constexpr double kMax = 1e18;
    double ns = interval * 1e9;
    if (!std::isfinite(ns)) {
        ns = std::isnan(ns) ? 1e9 / 30.0 : kMax;
    }
    ns = std::clamp(ns, kMin, kMax);
    return dispatch::Duration(static_cast<int64_t>(ns));
}

KQTimer::KQTimer(dispatch::QueuePtr callbackQueue)
    : callbackQueue_(std::move(callbackQueue))
    , timerLockQueue_(dispatch::globalQueue(dispatch::QoS::userInteractive))
    , shared_(std::make_shared<Shared>()) {}

KQTimer::~KQTimer() {
    KQTimer::stop();
}

double KQTimer::interval() const {
    std::lock_guard lock(stateMutex_);
    return interval_;
}

void KQTimer::start(double interval, Closure closure) {
    stop();
    uint64_t generation = 0;
    {
        std::lock_guard run(shared_->runLock);
        generation = ++shared_->generation;
        shared_->closure = std::move(closure);
    }
    auto source = dispatch::TimerSource::make(timerLockQueue_);
    // The handler may use `this`: cancelling the source (in stop, also from the destructor)
    // waits for a running handler, and none starts afterwards.
    source->setEventHandler([this, generation] { tick(generation); });
    const auto now = dispatch::Clock::now();
    {
        std::lock_guard lock(stateMutex_);
        interval_ = interval;
        lastTime_ = mediaTime();
        dispatchSource_ = source;
    }
    running_.store(true);
    source->schedule(now, intervalToNanoseconds(interval));
    source->resume();
}

void KQTimer::stop() {
    running_.store(false);
    std::shared_ptr<dispatch::TimerSource> source;
    {
        std::lock_guard lock(stateMutex_);
        source = std::move(dispatchSource_);
    }
    if (source) {
        source->cancel(); // outside stateMutex_: a running tick takes it
    }
    std::lock_guard run(shared_->runLock);
    ++shared_->generation;
    shared_->closure = nullptr;
}

void KQTimer::tick(uint64_t generation) {
    const double now = mediaTime();
    double elapsed = 0;
    {
        std::lock_guard lock(stateMutex_);
        elapsed = now - lastTime_;
        lastTime_ = now;
    }
    callbackQueue_->async([shared = shared_, generation, elapsed] {
        std::lock_guard run(shared->runLock);
        if (shared->generation != generation || !shared->closure) {
            return;
        }
        Closure closure = shared->closure; // the closure may restart the timer and replace it
        closure(elapsed);
    });
}

} // namespace cw
