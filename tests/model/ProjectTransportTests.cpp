// The transport: jumps, the clock's arithmetic, playback with its activity, the running-time
// setter and the animated seek.
#include "ProjectTestSupport.h"

#include "cuewright/model/SettingsKeys.h"

#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

using namespace projecttest;
using cw::TransportState;
using Strings = std::vector<std::string>;

// --- Jumps ------------------------------------------------------------------------------------

TEST_F(ProjectTest, SetProgressClampsAndNotifiesEvenWithoutChangeAndIgnoresNaN) {
    project->setProgress(-0.5, false, true);
    EXPECT_EQ(project->transportState().progress, 0.0);
    project->setProgress(-0.5, true, false);
    project->setProgress(1.7, false, false);
    EXPECT_EQ(project->transportState().progress, 1.0);
    EXPECT_EQ(log, (Strings{"transport", "jump(-i)", "transport", "jump(a-)", "transport", "jump(--)"}));
    project->setProgress(0.4, false, true);
    project->setProgress(std::nan(""), false, true);
    EXPECT_EQ(project->transportState().progress, 0.4);
}

TEST_F(ProjectTest, RewindAndJumpToEndKeepPlayingAndReportAnImmediateJump) {
    project->setScrollSpeed(0, 0, 0); // a tick meanwhile moves nothing (an empty script runs to its end)
    project->play();
    log.clear();
    project->jumpToEnd();
    EXPECT_EQ(project->transportState().progress, 1.0);
    project->rewind();
    EXPECT_EQ(project->transportState().progress, 0.0);
    EXPECT_TRUE(project->transportState().isPlaying());
    // Drop whatever the running clock sent meanwhile; our own notifications come in order.
    std::erase(log, "transport");
    EXPECT_EQ(log, (Strings{"jump(-i)", "jump(-i)"}));
}

// --- The clock's arithmetic (tick called directly) --------------------------------------------

// Ticks called directly. At 50 % of 1-3 lines per second, 120 lines last 60 s; the ends hold,
// nothing moves at 0 lines per second, an empty script runs to an end, and no tick makes NaN.
TEST_F(ProjectTest, TheClocksArithmetic) {
    const double nan = std::nan("");
    const struct {
        const char* name;
        int lines;
        double speed, minimum;
        double from, factor;
        std::vector<double> ticks;
        double progress;
        Strings heard;
    } cases[] = {
        {"half a second", 120, 50, 1, 0, 1, {0.5}, 1.0 / 120.0, {"transport"}},
        {"fast backward", 120, 50, 1, 0.5, -5, {0.5}, 0.5 - 1.0 / 24.0, {"transport"}},
        {"at the end", 120, 50, 1, 0.999, 1, {10, 10}, 1, {"transport", "transport"}},
        {"no speed", 120, 0, 0, 0.3, 1, {0.5}, 0.3, {}},
        {"empty forward", 0, 50, 1, 0.4, 1, {0.016}, 1, {"transport"}},
        {"empty backward", 0, 50, 1, 0.4, -1, {0.016}, 0, {"transport"}},
        {"empty, no time or a broken reading", 0, 50, 1, 0.4, 1, {0.0, nan}, 0.4, {"transport", "transport"}},
        {"empty, standing", 0, 50, 1, 0.4, 0, {0.016}, 0.4, {"transport"}},
        {"a broken reading", 120, 50, 1, 0.4, 1, {nan}, 0.4, {"transport"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        setLines(c.lines);
        project->setScrollSpeed(c.speed, c.minimum, 3);
        project->setFfwdFactor(c.factor);
        project->setProgress(c.from, false, true);
        log.clear();
        for (const double seconds : c.ticks) {
            project->tick(seconds);
        }
        EXPECT_DOUBLE_EQ(project->transportState().progress, c.progress);
        EXPECT_FALSE(std::isnan(project->transportState().progress));
        if (c.lines == 120 && !std::isnan(c.ticks.back())) {
            EXPECT_EQ(log, c.heard);
        }
        if (c.lines == 120 && c.speed == 50) {
            EXPECT_DOUBLE_EQ(project->currentTimestamp(), c.progress * 60.0);
        }
    }
    EXPECT_DOUBLE_EQ(project->runningTime(), 60.0);
}

// --- Playback ---------------------------------------------------------------------------------

TEST_F(ProjectTest, PlayTwiceBeginsOneActivityAndOneClockAndPauseWhileStoppedDoesNothing) {
    project->pause();
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(inhibitor->beginCount(), 0);
    project->play();
    project->play();
    EXPECT_TRUE(project->isClockRunning());
    EXPECT_EQ(inhibitor->reasons(), Strings{"Play"});
    EXPECT_EQ(inhibitor->openCount(), 1);
    project->pause();
    project->pause();
    EXPECT_FALSE(project->isClockRunning());
    EXPECT_EQ(inhibitor->endCount(), 1);
    EXPECT_EQ(inhibitor->openCount(), 0);
    std::erase(log, "transport");
    EXPECT_EQ(log, (Strings{"didStart", "didStop"}));
}

TEST_F(ProjectTest, PlayAndPauseSendTransportThenTheirOwnNotification) {
    project->setScrollSpeed(0, 0, 0); // the clock moves nothing and sends nothing
    log.clear();
    project->play();
    EXPECT_EQ(log, (Strings{"transport", "didStart"}));
    log.clear();
    project->pause();
    drainMain();
    EXPECT_EQ(log, (Strings{"transport", "didStop"}));
    EXPECT_EQ(project->transportState().transportStatus, TransportState::TransportStatus::stopped);
}

TEST_F(ProjectTest, ATickFromTheTickQueueReachesListenersOnTheMainThread) {
    setLines(10);
    project->setScrollSpeed(100, 1, 3);
    log.clear();
    project->play();
    EXPECT_TRUE(dispatch::runMainUntil(
        [&] { return recorder->progressSeen.size() > 5 && recorder->progressSeen.back() > 0; }, 5s));
    project->pause();
    EXPECT_EQ(recorder->offMainThreadCalls.load(), 0);
    for (size_t i = 1; i < recorder->progressSeen.size(); ++i) {
        EXPECT_GE(recorder->progressSeen[i], recorder->progressSeen[i - 1]) << "at " << i;
    }
}

TEST_F(ProjectTest, DestroyingAPlayingProjectEndsItsActivity) {
    project->play();
    EXPECT_EQ(inhibitor->openCount(), 1);
    project.reset(); // notifications still queued for the main thread hold it a little longer
    EXPECT_TRUE(dispatch::runMainUntil([&] { return inhibitor->openCount() == 0; }, 5s));
}

// --- Speed and running time -------------------------------------------------------------------

// The running time sets the speed within the range (held at its ends) and the default speed;
// zero applies the current speed again, and an empty or inverted range never stores NaN.
TEST_F(ProjectTest, TheRunningTimeSetsTheSpeed) {
    const struct {
        double seconds, minimum, maximum, percent;
    } cases[] = {{60, 1, 3, 50}, {10, 1, 3, 100}, {1e6, 1, 3, 0},
                 {0, 1, 3, 31},  {60, 2, 2, 31},  {60, 3, 1, 31}};
    setLines(120);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seconds);
        project->setScrollSpeed(31, c.minimum, c.maximum);
        project->setHasUnsavedChanges(false);
        log.clear();
        project->setTotalRuntime(c.seconds);
        EXPECT_DOUBLE_EQ(project->document().speedProperties.scrollSpeedPerc, c.percent);
        EXPECT_DOUBLE_EQ(defaults.doubleForKey(cw::settings::defaultScrollSpeed), c.percent);
        EXPECT_EQ(project->hasUnsavedChanges(), c.percent != 31) << "only a new speed is an edit";
        EXPECT_EQ(log, Strings{"speed"});
        EXPECT_FALSE(std::isnan(project->linesPerSecond()));
    }
}

// --- Animated seek ----------------------------------------------------------------------------

TEST_F(ProjectTest, ASeekStepsToItsTargetWithoutOvershootAndEndsWithTheJump) {
    project->setProgress(0.2, false, true);
    log.clear();
    project->animateSeek(0.25, 1, 1);
    EXPECT_TRUE(dispatch::runMainUntil([&] { return !log.empty() && log.back() == "jump(a-)"; }, 10s));
    EXPECT_FALSE(project->isClockRunning());
    EXPECT_EQ(project->transportState().progress, 0.25);
    const auto steps = std::count(log.begin(), log.end(), "seekStep");
    EXPECT_GE(steps, 60); // 0.05 / (0.05 / 60), the last one cut at the target
    EXPECT_LE(steps, 61);
    for (double p : recorder->progressSeen) {
        EXPECT_LE(p, 0.25);
        EXPECT_GE(p, 0.2);
    }
    EXPECT_EQ(std::count(log.begin(), log.end(), "jump(a-)"), 1);
}

TEST_F(ProjectTest, ASeekStepCutsAtTheTargetAndFinishesBackwardsToo) {
    project->setProgress(0.5, false, true);
    log.clear();
    project->seekStep(0.5, 0.45, -0.03);
    EXPECT_DOUBLE_EQ(project->transportState().progress, 0.47);
    project->seekStep(0.5, 0.45, -0.03);
    EXPECT_DOUBLE_EQ(project->transportState().progress, 0.45);
    EXPECT_EQ(log, (Strings{"transport", "seekStep", "transport", "seekStep", "jump(a-)"}));
}

TEST_F(ProjectTest, ASeekWithoutAFiniteStepJumpsStraightToTheTarget) {
    project->animateSeek(0.5, 1, 0); // a line count of 0
    EXPECT_EQ(project->transportState().progress, 0.5);
    EXPECT_FALSE(project->isClockRunning());
    EXPECT_EQ(log, (Strings{"transport", "jump(-i)"}));
    log.clear();
    project->animateSeek(0.7, 1, -2); // a step pointing away would never arrive
    EXPECT_EQ(project->transportState().progress, 0.7);
    EXPECT_FALSE(project->isClockRunning());
}

TEST_F(ProjectTest, ASeekTargetBeyondTheEndStopsAtTheEnd) {
    project->setProgress(0.99, false, true);
    log.clear();
    project->animateSeek(1.5, 0.01, 1);
    EXPECT_TRUE(dispatch::runMainUntil([&] { return !log.empty() && log.back() == "jump(a-)"; }, 10s));
    EXPECT_EQ(project->transportState().progress, 1.0);
    EXPECT_FALSE(project->isClockRunning());
}

TEST_F(ProjectTest, NoSeekWhilePlaying) {
    project->play();
    project->animateSeek(0.5, 1, 1);
    EXPECT_TRUE(project->isClockRunning());
    project->pause();
    drainMain();
    EXPECT_EQ(std::count(log.begin(), log.end(), "seekStep"), 0);
}

TEST_F(ProjectTest, PauseEndsASeekWithoutItsClosingJump) {
    project->animateSeek(1.0, 5, 1); // five seconds long
    project->play();
    project->pause();
    drainMain();
    EXPECT_FALSE(project->isClockRunning());
    EXPECT_EQ(std::count(log.begin(), log.end(), "jump(a-)"), 0);
}

// Steps of a seek queued behind a busy tick queue must not stop the playback that replaced it.
TEST_F(ProjectTest, LateSeekStepsCannotStopAPlaybackThatJustStarted) {
    setLines(10);
    project->setScrollSpeed(100, 1, 3);
    std::mutex m;
    std::condition_variable cv;
    bool release = false;
    project->tickQueue()->async([&] {
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return release; });
    });
    // Each step of this seek finishes it (and would stop the shared timer).
    project->animateSeek(project->transportState().progress, 1, 1);
    std::this_thread::sleep_for(100ms); // let several steps queue up behind the blocker
    project->play();
    {
        std::lock_guard lock(m);
        release = true;
    }
    cv.notify_all();
    recorder->progressSeen.clear();
    EXPECT_TRUE(dispatch::runMainUntil(
        [&] { return recorder->progressSeen.size() > 10 && recorder->progressSeen.back() > 0.05; }, 10s));
    EXPECT_TRUE(project->transportState().isPlaying());
    EXPECT_TRUE(project->isClockRunning());
    EXPECT_EQ(std::count(log.begin(), log.end(), "seekStep"), 0);
    EXPECT_EQ(std::count(log.begin(), log.end(), "jump(a-)"), 0);
}
