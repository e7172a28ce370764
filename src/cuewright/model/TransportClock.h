// The transport: where a script stands, and the clock that plays it and animates seeks.
#pragma once

#include "cuewright/model/KQTimer.h"
#include "cuewright/model/TransportState.h"
#include "dispatch/Queue.h"
#include "platform/activity/ActivityInhibitor.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

namespace cw {

// How fast the script goes by at the current speed.
struct TransportPace {
    double linesPerSecond = 0;
    double runningTime = 0; // seconds for the whole script; 0 without lines or speed
};

// What the clock reads and reports. Called on the thread that made the change (the tick queue
// for ticks and seek steps), never with the clock's lock held.
class TransportClockDelegate {
public:
    virtual ~TransportClockDelegate() = default;

    virtual TransportPace transportPace() const = 0;
    // On every tick and seek step, play, pause and every jump.
    virtual void transportStateDidChange() {}
    virtual void transportDidStartPlayback() {}
    virtual void transportDidStopPlayback() {}
    virtual void transportPositionDidJump(bool /*animated*/, bool /*immediate*/) {}
    virtual void transportSeekDidStep(double /*from*/, double /*to*/, double /*step*/) {}
};

// Owns the transport state, the tick queue and the one KQTimer that both playback and the
// animated seek run on: starting playback replaces a running seek, and pausing ends one without
// its closing notification. Once play() or pause() has returned, no step of an earlier seek or
// tick of an earlier playback runs.
//
// Threads: play(), pause() and animateSeek() are for the main thread; tick() and seekStep() run
// on the tick queue (tests may call them directly); the rest may be called from any thread.
// The state is written under the clock's lock and read as a whole copy.
//
// The delegate is held weakly and set once, before the clock is used; a tick or step runs only
// while the delegate can be locked, and holds it for that long. Destroying the clock stops it
// and ends a "Play" activity still open.
class TransportClock {
public:
    static constexpr std::string_view tickQueueLabel = "project.tickqueue";
    static constexpr double tickInterval = 1.0 / 60.0;
    static constexpr std::string_view playActivityReason = "Play";

    TransportClock();
    ~TransportClock();
    TransportClock(const TransportClock&) = delete;
    TransportClock& operator=(const TransportClock&) = delete;

    void setDelegate(std::weak_ptr<TransportClockDelegate> delegate) { delegate_ = std::move(delegate); }

    TransportState state() const;
    bool isPlaying() const;
    // Writes the direction and speed factor without telling anyone.
    void setFfwdFactor(double factor);

    // Begins the "Play" activity and starts the clock (1/60 s). Nothing when already playing.
    void play();
    // Ends the activity and stops the clock (or a running seek). Nothing when stopped.
    void pause();
    // Moves to `progress` held to 0...1 (a NaN keeps the position); always reports.
    void setProgress(double progress, bool animated, bool immediate);
    // The same without reporting, for a caller that reports it with other news; whether it moved.
    bool placeProgress(double progress);

    // Advances the position by ffwdFactor × elapsed / runningTime. With a speed of 0 it does
    // nothing; with a running time of 0 it goes straight to the end (or the top when running
    // backwards).
    void tick(double elapsedSeconds);
    // Moves to `target` in equal steps over secondsPerLine × lineCount seconds, then reports an
    // animated jump. Nothing while playing. When no finite step reaches the target (a line count
    // or duration of 0) it jumps there at once instead.
    void animateSeek(double target, double secondsPerLine, double lineCount);
    void seekStep(double from, double to, double step);
    // Where a running seek goes; nullopt when none runs. Steps asked for while one runs count from
    // there, not from a position the seek is still passing.
    std::optional<double> seekTarget() const;

    // Whether playback or a seek is running.
    bool isRunning() const { return timer_.isRunning(); }
    const dispatch::QueuePtr& tickQueue() const { return tickQueue_; }

private:
    std::weak_ptr<TransportClockDelegate> delegate_;
    dispatch::QueuePtr tickQueue_;
    std::shared_ptr<platform::ActivityInhibitor> activityInhibitor_; // the one that gave the token
    std::optional<platform::ActivityToken> activityInfo_;
    mutable std::mutex mutex_; // guards state_ and seekTarget_
    TransportState state_;
    std::optional<double> seekTarget_;
    KQTimer timer_; // last: destroyed (and so stopped) first
};

} // namespace cw
