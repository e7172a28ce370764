#include "cuewright/model/TransportClock.h"

#include "dispatch/MainThreadChecker.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace cw {

namespace {

// Held to 0...1; a NaN keeps the current position rather than poisoning every later step.
double clampProgress(double value, double current) {
    if (std::isnan(value)) {
        return current;
    }
    return std::clamp(value, 0.0, 1.0);
}

} // namespace

TransportClock::TransportClock()
    : tickQueue_(dispatch::Queue::makeSerial(std::string(tickQueueLabel)))
    , timer_(tickQueue_) {}

TransportClock::~TransportClock() {
    timer_.stop();
    // Normally paused before it goes; never leave the machine kept awake.
    if (isPlaying() && activityInhibitor_ && activityInfo_) {
        activityInhibitor_->end(*activityInfo_);
    }
}

TransportState TransportClock::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

std::optional<double> TransportClock::seekTarget() const {
    std::lock_guard lock(mutex_);
    return seekTarget_;
}

bool TransportClock::isPlaying() const {
    std::lock_guard lock(mutex_);
    return state_.isPlaying();
}

void TransportClock::setFfwdFactor(double factor) {
    std::lock_guard lock(mutex_);
    state_.ffwdFactor = factor;
}

void TransportClock::play() {
    CW_DCHECK_MAIN_THREAD();
    if (isPlaying()) {
        return;
    }
    activityInhibitor_ = platform::sharedActivityInhibitor();
    activityInfo_ = activityInhibitor_->begin(std::string(playActivityReason));
    {
        std::lock_guard lock(mutex_);
        state_.transportStatus = TransportState::TransportStatus::playing;
        seekTarget_.reset(); // playback takes the clock from a seek
    }
    if (auto delegate = delegate_.lock()) {
        delegate->transportStateDidChange();
        delegate->transportDidStartPlayback();
    }
    timer_.start(tickInterval, [this, weak = delegate_](double elapsed) {
        if (auto delegate = weak.lock()) {
            tick(elapsed);
        }
    });
}

void TransportClock::pause() {
    CW_DCHECK_MAIN_THREAD();
    if (!isPlaying()) {
        return;
    }
    if (activityInhibitor_ && activityInfo_) {
        activityInhibitor_->end(*activityInfo_); // the token stays; ending it again is harmless
    }
    {
        std::lock_guard lock(mutex_);
        state_.transportStatus = TransportState::TransportStatus::stopped;
    }
    auto delegate = delegate_.lock();
    if (delegate) {
        delegate->transportStateDidChange();
    }
    timer_.stop();
    if (delegate) {
        delegate->transportDidStopPlayback();
    }
}

void TransportClock::setProgress(double progress, bool animated, bool immediate) {
    {
        std::lock_guard lock(mutex_);
        state_.progress = clampProgress(progress, state_.progress);
    }
    if (auto delegate = delegate_.lock()) {
        delegate->transportStateDidChange();
        delegate->transportPositionDidJump(animated, immediate);
    }
}

bool TransportClock::placeProgress(double progress) {
    std::lock_guard lock(mutex_);
    const double previous = state_.progress;
    state_.progress = clampProgress(progress, previous);
    return state_.progress != previous;
}

void TransportClock::tick(double elapsedSeconds) {
    auto delegate = delegate_.lock();
    if (!delegate) {
        return;
    }
    const TransportPace pace = delegate->transportPace();
    if (pace.linesPerSecond == 0 || std::isnan(pace.linesPerSecond)) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        const double delta = state_.ffwdFactor * elapsedSeconds;
        const double current = state_.progress;
        double next = current;
        if (pace.runningTime == 0) {
            // Nothing to pace by: go to the end the clock runs towards (∞ × 0 would give NaN).
            next = current + (delta > 0 ? 1.0 : delta < 0 ? -1.0 : 0.0);
        } else {
            next = current + delta / pace.runningTime;
        }
        state_.progress = clampProgress(next, current);
    }
    delegate->transportStateDidChange();
}

void TransportClock::animateSeek(double target, double secondsPerLine, double lineCount) {
    CW_DCHECK_MAIN_THREAD();
    if (isPlaying()) {
        return;
    }
    const double start = state().progress;
    // A target outside the script would never be reached, and the seek would never end.
    target = clampProgress(target, start);
    const double step = (target - start) / (secondsPerLine * lineCount) / 60.0;
    const bool reachesTarget =
        std::isfinite(step) && (step != 0 || target == start) && step * (target - start) >= 0;
    if (!reachesTarget) {
        {
            std::lock_guard lock(mutex_);
            seekTarget_.reset();
        }
        setProgress(target, /*animated=*/false, /*immediate=*/true);
        return;
    }
    {
        std::lock_guard lock(mutex_);
        seekTarget_ = target;
    }
    timer_.start(tickInterval, [this, weak = delegate_, start, target, step](double) {
        if (auto delegate = weak.lock()) {
            seekStep(start, target, step);
        }
    });
}

void TransportClock::seekStep(double from, double to, double step) {
    bool finished = false;
    {
        std::lock_guard lock(mutex_);
        const double target = clampProgress(to, state_.progress);
        double next = state_.progress + step;
        next = from < target ? std::min(next, target) : std::max(next, target);
        state_.progress = clampProgress(next, state_.progress);
        finished = from < target ? state_.progress >= target : state_.progress <= target;
        if (finished) {
            seekTarget_.reset();
        }
    }
    auto delegate = delegate_.lock();
    if (delegate) {
        delegate->transportStateDidChange();
        delegate->transportSeekDidStep(from, to, step);
    }
    if (finished) {
        timer_.stop();
        if (delegate) {
            delegate->transportPositionDidJump(/*animated=*/true, /*immediate=*/false);
        }
    }
}

} // namespace cw
