// The prompter view controller: what start pushes, the two loops and playback, the read-outs,
// the project's notifications and the scroll moves.
#include "prompter/ControllerFixture.h"

#include "cuewright/model/KQTimer.h"
#include "cuewright/model/TimeFormat.h"
#include "cuewright/prompter/ScrollProgressLayer.h"
#include "cuewright/prompter/SpeedControlLayer.h"
#include "cuewright/prompter/SpeedLabelLayer.h"
#include "cuewright/prompter/TimestampLayer.h"
#include "platform/layers/Layer.h"

#include <string>
#include <thread>
#include <utility>

using cw::PrompterViewController;
using platform::layers::AnimationKey;
using platform::layers::LayerClock;

namespace {

class ViewController : public cwtest::ControllerFixture {};

TEST(ViewControllerCreation, RefusesToBeMadeWithoutAProject) {
    EXPECT_DEATH(PrompterViewController::create(nullptr), "use init\\(project:\\) instead!");
}

#ifndef NDEBUG
// The view, its controller, its control panel and the layers stop a debug build when used off the
// main thread, naming the operation.
TEST_F(ViewController, MainThreadOperationsStopOffTheMainThread) {
    const std::pair<const char*, std::function<void()>> operations[] = {
        {"PrompterView::setScrollPosition", [&] { view->setScrollPosition(0.5, false, true); }},
        {"PrompterViewController::setShowsTimestamp", [&] { controller->setShowsTimestamp(false); }},
        {"PrompterControlPanel::showProgress", [&] { view->controls().showProgress(0.5); }},
        // Every layer's base constructor checks first.
        {"layers::Layer::Layer", [] { cw::ScrollProgressLayer layer; }},
    };
    for (const auto& [name, operation] : operations) {
        EXPECT_DEATH(std::thread(operation).join(), std::string(name) + ".* called off the main thread");
    }
}
#endif

TEST_F(ViewController, StartPushesTheScriptAndListensFirst) {
    auto properties = project->document().scriptProperties;
    properties.flipHorizontal = true;
    properties.textAlignment = cw::TextAlignment::right;
    project->setScriptProperties(properties);
    project->setProgress(0.25, false, true);
    start();

    EXPECT_EQ(view->text(), project->document().text);
    EXPECT_DOUBLE_EQ(view->textHeight(), 20 * shownLine());
    EXPECT_TRUE(view->display().flipHorizontal);
    EXPECT_EQ(view->display().textAlignment, cw::TextAlignment::right);
    EXPECT_DOUBLE_EQ(view->controls().scrollSpeed(), 50);
    EXPECT_DOUBLE_EQ(view->transportProgress(), 0.25);
    EXPECT_DOUBLE_EQ(view->scrollOffset(), 0.25 * 20 * shownLine());
    EXPECT_FALSE(view->scrollLayer().hasAnimation(AnimationKey::position));
    EXPECT_EQ(view->delegate().get(), static_cast<cw::PrompterViewDelegate*>(controller.get()));

    const auto listeners = project->sortedEventListeners();
    ASSERT_EQ(listeners.size(), 2u);
    EXPECT_EQ(listeners.front().get(), static_cast<cw::ProjectEventListener*>(controller.get()));
}

TEST_F(ViewController, BothLoopsRunFromStartWhetherPlayingOrNot) {
    start();
    ASSERT_NE(controller->scrollTimer(), nullptr);
    ASSERT_NE(controller->telemetryTimer(), nullptr);
    EXPECT_TRUE(controller->scrollTimer()->isRunning());
    EXPECT_TRUE(controller->telemetryTimer()->isRunning());
    EXPECT_DOUBLE_EQ(controller->scrollTimer()->interval(), 1.0 / 60);
    EXPECT_DOUBLE_EQ(controller->telemetryTimer()->interval(), 0.1);

    project->play();
    // The loops follow the clock: the view moves along while playing.
    ASSERT_TRUE(waitFor([&] { return view->transportProgress() > 0; }));
    EXPECT_TRUE(view->transportState().isPlaying());

    project->pause();
    EXPECT_TRUE(controller->scrollTimer()->isRunning()) << "stopping playback does not stop the loops";
    // Whatever the last ticks moved is shown by the next scroll tick.
    ASSERT_TRUE(waitFor([&] { return view->transportProgress() == project->transportState().progress; }));
    ASSERT_TRUE(waitFor([&] { return !view->transportState().isPlaying(); }));
}

TEST_F(ViewController, StartingWhilePlayingStartsTheLoopsAndStopEndsThemForGood) {
    project->play();
    start();
    EXPECT_TRUE(controller->scrollTimer()->isRunning());
    EXPECT_TRUE(controller->telemetryTimer()->isRunning());

    controller->stop();
    EXPECT_FALSE(controller->scrollTimer()->isRunning());
    EXPECT_FALSE(controller->telemetryTimer()->isRunning());
    project->pause();
    project->play();
    EXPECT_FALSE(controller->scrollTimer()->isRunning());
    EXPECT_FALSE(controller->isPrompting());
    // Nor is the text of a closed window laid out, until it shows again.
    const int layouts = view->layoutPasses();
    project->setText(platform::AttributedString(QStringLiteral("After the close")));
    EXPECT_EQ(view->layoutPasses(), layouts);
    start();
    EXPECT_EQ(view->text(), project->document().text);
}

// The time read-out: not rewritten while hidden but refreshed when shown again, elapsed or remaining
// time of the running time at the script's speed.
TEST_F(ViewController, TimestampAndRunningTime) {
    setScript(20, 120); // 120 lines at one line a second
    start();
    controller->setShowsTimestamp(false);
    EXPECT_TRUE(view->controls().timestampLayer().isHidden());
    const QString before = view->controls().timestampLayer().string();
    project->setProgress(0.5, false, false);
    drain();
    EXPECT_EQ(view->controls().timestampLayer().string(), before);
    controller->setShowsTimestamp(true);
    EXPECT_FALSE(view->controls().timestampLayer().isHidden());
    EXPECT_EQ(view->controls().timestampLayer().string(), QString::fromStdString(cw::formatTimestamp(60)));

    project->setProgress(0.25, false, false);
    ASSERT_TRUE(waitFor([&] { return view->controls().timestamp() == 30; }));
    EXPECT_DOUBLE_EQ(view->controls().totalRuntime(), 120);
    EXPECT_EQ(view->controls().timestampLayer().string(), QString::fromStdString(cw::formatTimestamp(30)));

    view->updateDisplay([](auto& s) { s.timestampShowsRemainingTime = true; });
    project->setProgress(0.5, false, false);
    ASSERT_TRUE(waitFor([&] { return view->controls().timestamp() == 60; }));
    EXPECT_EQ(view->controls().timestampLayer().string(),
              QStringLiteral("-") + QString::fromStdString(cw::formatTimestamp(60)));

    // A speed of 0 lines a second, or no lines, gives no time at all.
    project->setScrollSpeed(0, 0, 2);
    ASSERT_TRUE(waitFor([&] { return view->controls().totalRuntime() == 0; }));
    EXPECT_DOUBLE_EQ(view->controls().timestamp(), 0);
    project->setScrollSpeed(50, 0, 2);
    ASSERT_TRUE(waitFor([&] { return view->controls().totalRuntime() > 0; }));
    setScript(20, 0);
    ASSERT_TRUE(waitFor([&] { return view->controls().totalRuntime() == 0; }));
}

// A new text or margin lays the text out again at the same progress.
TEST_F(ViewController, TextAndMarginChangesLayOutAgainAtTheSameProgress) {
    start();
    project->setProgress(0.5, false, true);
    drain();
    const auto atHalf = [&] {
        EXPECT_DOUBLE_EQ(view->scrollOffset(), 0.5 * view->textHeight());
        EXPECT_DOUBLE_EQ(view->scrollLayer().position().y(),
                         0.5 * view->textHeight() - height * (1 - view->display().indicatorPosition));
    };
    setScript(40, 40);
    drain();
    EXPECT_EQ(view->text(), project->document().text);
    EXPECT_DOUBLE_EQ(view->textHeight(), 40 * shownLine());
    atHalf();

    view->setTypesetter(nullptr); // real wrapping: the margin changes the text's height
    project->setText(cwtest::script(300));
    drain();
    const double before = view->textHeight();
    auto properties = project->document().scriptProperties;
    properties.prompterMargin = 0.3f;
    project->setScriptProperties(properties);
    drain();
    EXPECT_DOUBLE_EQ(view->display().prompterMargin, properties.prompterMargin);
    EXPECT_NE(view->textHeight(), before);
    atHalf();
}

// The published line metrics give the words per line; a speed change updates the scale, the
// figures and the label.
TEST_F(ViewController, LineMetricsAndSpeedChangesUpdateTheFiguresAndTheLabel) {
    project->setText(platform::AttributedString(QStringLiteral("a b c\nd  e f\ng h i j k l\n")));
    start();
    view->updateDisplay([](auto& s) { s.speedDisplayMode = cw::SpeedDisplayMode::wordsPerSecond; });
    controller->publishLineMetrics();
    EXPECT_EQ(project->editor().lineCount, 3);
    EXPECT_DOUBLE_EQ(project->averageWordsPerLine(), 4);
    EXPECT_DOUBLE_EQ(view->controls().speedFigures().wordsPerMinute, 240);
    EXPECT_EQ(view->controls().speedLabelLayer().string(), QStringLiteral("4.00 w/s"));

    view->updateDisplay([](auto& s) { s.speedDisplayMode = cw::SpeedDisplayMode::percentage; });
    project->setScrollSpeed(25, 0, 4); // one line a second again
    drain();
    EXPECT_DOUBLE_EQ(view->controls().scrollSpeed(), 25);
    EXPECT_DOUBLE_EQ(view->controls().speedFigures().linesPerSecond, 1);
    EXPECT_DOUBLE_EQ(view->controls().speedFigures().linesPerMinute, 60);
    EXPECT_DOUBLE_EQ(view->controls().speedFigures().wordsPerSecond, 4);
    EXPECT_DOUBLE_EQ(view->controls().speedFigures().wordsPerMinute, 240);
    EXPECT_EQ(view->controls().speedLabelLayer().string(), QStringLiteral("25 %"));
}

TEST_F(ViewController, JumpsWhileStoppedMoveTheView) {
    start();
    project->setProgress(0.5, /*animated=*/true, /*immediate=*/false);
    drain();
    EXPECT_DOUBLE_EQ(view->transportProgress(), 0.5);
    EXPECT_TRUE(view->scrollLayer().hasAnimation(AnimationKey::position));

    // A rewind cancels the running move and lands at once.
    project->rewind();
    drain();
    EXPECT_DOUBLE_EQ(view->transportProgress(), 0);
    EXPECT_FALSE(view->scrollLayer().hasAnimations());
    EXPECT_EQ(view->scrollLayer().presentationPosition(), view->scrollLayer().position());

    // A plain jump (the wheel) lands at once too, even over a running move.
    project->setProgress(0.5, true, false);
    project->setProgress(0.25, false, false);
    drain();
    EXPECT_FALSE(view->scrollLayer().hasAnimation(AnimationKey::position));
    EXPECT_DOUBLE_EQ(view->scrollLayer().position().y(),
                     0.25 * 20 * shownLine() - height * (1 - view->display().indicatorPosition));
}

TEST_F(ViewController, PlayAndPauseAloneNeverMoveTheView) {
    project->setScrollSpeed(0, 0, 2); // the clock does not advance
    start();
    project->setProgress(0.4, false, true);
    drain();
    const QPointF before = view->scrollLayer().position();
    project->play();
    ASSERT_TRUE(waitFor([&] { return view->transportState().isPlaying(); }));
    project->pause();
    drain();
    controller->scrollTick();
    EXPECT_EQ(view->scrollLayer().position(), before);
    EXPECT_FALSE(view->scrollLayer().hasAnimations());
}

TEST_F(ViewController, EachTickChasesFromWhereTheTextIsShown) {
    double now = 100;
    LayerClock::setOverride([&now] { return now; });
    start();
    const double y0 = view->scrollLayer().position().y();

    project->setFfwdFactor(1);
    project->tick(2.0); // two lines of twenty
    controller->scrollTick();
    const double y1 = view->scrollLayer().position().y();
    EXPECT_DOUBLE_EQ(y1 - y0, 2 * shownLine());
    EXPECT_DOUBLE_EQ(view->scrollLayer().presentationPosition().y(), y0);

    now += 0.05; // a third of the 0.15 s chase
    const double shown = view->scrollLayer().presentationPosition().y();
    EXPECT_NEAR(shown, y0 + (y1 - y0) / 3, 1e-9);

    project->tick(2.0);
    controller->scrollTick();
    // The next move starts where the text is on screen, not where the last one began or ended.
    EXPECT_NEAR(view->scrollLayer().presentationPosition().y(), shown, 1e-9);
    now += 0.15;
    EXPECT_DOUBLE_EQ(view->scrollLayer().presentationPosition().y(), y0 + 4 * shownLine());

    // Nothing moved: no new chase.
    controller->scrollTick();
    EXPECT_FALSE(view->scrollLayer().hasAnimation(AnimationKey::position));
}

// One clock: while playing, the view paints on the scroll step alone, so each move is painted once
// and no frame falls between two steps.
TEST_F(ViewController, WhilePlayingEachScrollStepPaintsOneFrame) {
    start();
    ASSERT_TRUE(waitFor([&] { return view->framesPainted() > 0; }));
    project->setScrollSpeed(100, 0, 2);
    project->play();
    ASSERT_TRUE(waitFor([&] { return view->transportProgress() > 0; }));
    const int ticks0 = controller->scrollTicks();
    const int frames0 = view->framesPainted();
    bool hostTicked = false;
    ASSERT_TRUE(waitFor([&] {
        hostTicked = hostTicked || view->isTicking();
        return controller->scrollTicks() - ticks0 >= 60;
    }));
    const int ticks = controller->scrollTicks() - ticks0;
    const int frames = view->framesPainted() - frames0;
    EXPECT_FALSE(hostTicked) << "the view ran a frame clock of its own";
    EXPECT_LE(frames, ticks + 1) << frames << " frames for " << ticks << " scroll steps";
    EXPECT_GE(frames, ticks / 2) << "the steps were not painted";
}

TEST_F(ViewController, DisplaySettingsFromTheWindow) {
    start();
    controller->setControlsOpacity(0.4f);
    EXPECT_FLOAT_EQ(view->display().controlsOpacity, 0.4f);
    EXPECT_DOUBLE_EQ(view->controls().uiLayer().opacity(), 0.4f);
    EXPECT_DOUBLE_EQ(view->controls().timestampLayer().opacity(), 0.4f);

    controller->setShowsProgress(false);
    EXPECT_TRUE(view->controls().progressLayer().isHidden());

    controller->setMirroring(true, true);
    EXPECT_TRUE(view->display().flipHorizontal);
    EXPECT_TRUE(view->display().flipVertical);
    // Each flip the script changes reaches the view over the window's own; unlinked, none does.
    const struct {
        bool linked, scriptV, shownV;
    } mirrors[] = {{true, true, true}, {true, false, false}, {false, true, false}};
    for (const auto& row : mirrors) {
        controller->setMirroringLinkedToDocument(row.linked);
        auto properties = project->document().scriptProperties;
        properties.flipVertical = row.scriptV;
        project->setScriptProperties(properties);
        drain();
        EXPECT_EQ(view->display().flipVertical, row.shownV) << row.linked << row.scriptV;
        EXPECT_TRUE(view->display().flipHorizontal);
    }
}

TEST_F(ViewController, ControllerGoneLeavesTheProjectAndTheView) {
    start();
    std::weak_ptr<PrompterViewController> weak = controller;
    controller.reset();
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(project->sortedEventListeners().size(), 1u);
    project->setProgress(0.5, false, false); // nobody left to call
    drain();
}

} // namespace
