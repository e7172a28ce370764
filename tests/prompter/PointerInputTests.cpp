// Clicks, drags and the wheel on the prompter view, through the view controller to the project.
#include "prompter/ControllerFixture.h"

#include "cuewright/model/SettingsKeys.h"
#include "cuewright/prompter/LineUpDownLayer.h"
#include "cuewright/prompter/RewindControlLayer.h"
#include "cuewright/prompter/SpeedControlLayer.h"
#include "cuewright/prompter/SpeedLabelLayer.h"
#include "cuewright/prompter/TimestampLayer.h"
#include "cuewright/prompter/TransportControlLayer.h"
#include "platform/ui/CursorHider.h"

#include <QMenu>

#include <QMouseEvent>

#include <cmath>
#include <functional>
#include <limits>
#include <optional>

namespace k = cw::settings;

namespace {

const QColor red = QColor::fromRgbF(1, 0, 0, 0.5);
const QColor black = QColor::fromRgbF(0, 0, 0, 0.5);

class PointerInput : public cwtest::ControllerFixture {
protected:
    PointerInput() { start(); }

    double percent() const { return project->document().speedProperties.scrollSpeedPerc; }
    double progress() const { return project->transportState().progress; }
    // Progress that puts line `index` under the reading position after a step.
    double stepTarget(int index) const { return lineProgress(index); }
    QPointF speedPoint(double fromBottom) const {
        const QRectF f = view->controls().speedLayer().frame();
        return QPointF(f.center().x(), f.top() + fromBottom);
    }
    // A clock that does not advance, so that playing leaves the position alone.
    void holdStill() { project->setScrollSpeed(50, 0, 0); }

    static constexpr QPointF empty{600, 350};
    static constexpr QPointF transport{600, 40};
    static constexpr QPointF rewind{1150, 650};
    static constexpr QPointF lineDown{40, 40};
    static constexpr QPointF lineUp{40, 110};
    static constexpr QPointF timestamp{1100, 30};
    static constexpr QPointF speedLabel{1160, 540};
};

TEST_F(PointerInput, SpeedScaleMapsItsUsableHeightToOneToHundredAndFollowsADrag) {
    const double h = view->controls().speedLayer().frame().height();
    ASSERT_DOUBLE_EQ(h, 396);
    click(speedPoint(h / 2));
    EXPECT_DOUBLE_EQ(percent(), 51);
    EXPECT_DOUBLE_EQ(view->controls().scrollSpeed(), 51);
    EXPECT_EQ(view->controls().speedLabelLayer().string(), QStringLiteral("51 %"));
    click(speedPoint(h / 18 - 2));
    EXPECT_DOUBLE_EQ(percent(), 1);
    click(speedPoint(h - h / 18 + 2));
    EXPECT_DOUBLE_EQ(percent(), 100);

    // The percentage already shown sends nothing.
    const int sent = counter->speed;
    click(speedPoint(h - 5));
    EXPECT_EQ(counter->speed, sent);
    EXPECT_FALSE(view->controls().isHeld(cw::PrompterControlPanel::PressSource::pointer));

    // Dragging on the scale follows the pointer.
    const QRectF f = view->controls().speedLayer().frame();
    QTest::mousePress(view, Qt::LeftButton, {}, widgetPoint(speedPoint(30)));
    const QPointF at = widgetPoint(speedPoint(f.height() / 2));
    QMouseEvent move(QEvent::MouseMove, at, view->mapToGlobal(at), Qt::NoButton, Qt::LeftButton, {});
    QApplication::sendEvent(view, &move);
    EXPECT_DOUBLE_EQ(percent(), 51);
    // Moving without a button held changes nothing.
    const QPointF high = widgetPoint(speedPoint(f.height() - 30));
    QMouseEvent hover(QEvent::MouseMove, high, view->mapToGlobal(high), Qt::NoButton, Qt::NoButton, {});
    QApplication::sendEvent(view, &hover);
    EXPECT_DOUBLE_EQ(percent(), 51);
    QTest::mouseRelease(view, Qt::LeftButton, {}, widgetPoint(speedPoint(f.height() / 2)));
}

TEST_F(PointerInput, SpeedLockHoldsScaleAndWheelButNotScrolling) {
    view->updateDisplay([](auto& s) { s.speedLocked = true; });
    click(speedPoint(300));
    EXPECT_DOUBLE_EQ(percent(), 50);
    project->setProgress(0.5, false, true);
    drain();
    wheelNotches(3, Qt::ShiftModifier); // speed while stopped: locked, and it does not scroll instead
    drain();
    EXPECT_DOUBLE_EQ(percent(), 50);
    EXPECT_DOUBLE_EQ(progress(), 0.5);
    wheelNotches(3); // scrolling still scrolls
    drain();
    EXPECT_LT(progress(), 0.5);
}

// Shift and the wheel change the speed by the held sensitivity, in turn from 50 %.
TEST_F(PointerInput, WheelSpeedGainFollowsTheHeldSensitivity) {
    const struct {
        double sensitivity;
        bool inverted;
        double change;
    } cases[] = {
        {5.0, false, 3},
        {0.0, false, 0.01},
        // The settings file can carry a NaN; it is taken as the smallest sensitivity.
        {std::numeric_limits<double>::quiet_NaN(), false, 0.01},
        {1.0, true, -1},
    };
    for (const auto& c : cases) {
        defaults.set(k::speedSliderSensitivityFactor, c.sensitivity);
        defaults.set(k::invertScrollWheelInTeleprompterView, c.inverted);
        const double before = percent();
        wheelNotches(10, Qt::ShiftModifier);
        EXPECT_NEAR(percent(), before + c.change, 1e-9) << c.sensitivity;
        EXPECT_FALSE(std::isnan(view->controls().scrollSpeed()));
    }
    // Held to 0...100.
    wheelNotches(-2000, Qt::ShiftModifier);
    EXPECT_DOUBLE_EQ(percent(), 100);
    EXPECT_EQ(view->controls().speedLabelLayer().string(), QStringLiteral("100 %"));
}

TEST_F(PointerInput, WhilePlayingThePlainWheelIsSpeedAndShiftScrolls) {
    holdStill();
    project->setProgress(0.5, false, true);
    project->play();
    drain();
    ASSERT_TRUE(view->transportState().isPlaying());
    wheelNotches(1);
    EXPECT_NEAR(percent(), 50.1, 1e-9);
    EXPECT_DOUBLE_EQ(progress(), 0.5);
    wheelNotches(1, Qt::ShiftModifier);
    drain();
    EXPECT_LT(progress(), 0.5);
    EXPECT_NEAR(percent(), 50.1, 1e-9);

    defaults.set(k::scrollWheelChangesSpeed, false);
    const double before = progress();
    wheelNotches(1);
    drain();
    EXPECT_LT(progress(), before);
    EXPECT_NEAR(percent(), 50.1, 1e-9);
}

TEST_F(PointerInput, OneNotchMovesATenthOfTheFontSizeAndStopsAtTheStart) {
    project->setProgress(0.5, false, true);
    drain();
    const double offset = view->scrollOffset();
    const double notch = 0.1 * view->lineHeight();
    wheelNotches(1); // away from the user: towards the start
    drain();
    EXPECT_DOUBLE_EQ(progress(), (offset - notch) / view->textHeight());
    EXPECT_FALSE(counter->animated);
    EXPECT_FALSE(counter->immediate);
    EXPECT_DOUBLE_EQ(view->scrollOffset(), offset - notch);

    defaults.set(k::invertScrollWheelInTeleprompterView, true);
    wheelNotches(1);
    drain();
    EXPECT_DOUBLE_EQ(progress(), offset / view->textHeight());

    // A precise device scrolls by its points.
    defaults.set(k::invertScrollWheelInTeleprompterView, false);
    const QPointF at(600, 350);
    QWheelEvent precise(at, view->mapToGlobal(at), QPoint(0, -30), QPoint(0, -30), Qt::NoButton, {},
                        Qt::ScrollUpdate, false);
    QApplication::sendEvent(view, &precise);
    drain();
    EXPECT_DOUBLE_EQ(progress(), (offset + 30) / view->textHeight());

    // Scrolling above the start stops at the start.
    project->setProgress(0.01, false, true);
    drain();
    wheelNotches(50);
    drain();
    EXPECT_DOUBLE_EQ(progress(), 0);
}

// A click on line up or down from line `from` reads line `to`. The editor lays the script out at its
// own font size, so its line count says nothing of the prompter's twenty lines. The line count is the
// user's to set, so it may be anything an integer holds; a step stops at the first and last line.
TEST_F(PointerInput, LineStepsMoveByTheSetLineCountWithinThePrompterLines) {
    constexpr std::int64_t most = std::numeric_limits<int>::max(), least = std::numeric_limits<int>::min();
    const struct {
        const char* name;
        int editorLines;
        std::optional<std::int64_t> count; // none: as registered
        int from;
        bool down;
        int to;
    } cases[] = {
        {"one line down", 20, {}, 10, true, 11},
        {"three up", 20, 3, 10, false, 7},
        {"three down", 20, 3, 10, true, 13},
        {"three up from line 1", 20, 3, 1, false, 0},
        {"editor sees five lines", 5, 1, 10, true, 11},
        {"editor sees forty lines", 40, 3, 18, true, 19},
        {"down from the last line", 40, 3, 19, true, 19},
        {"int's most", 20, most, 10, true, 19},
        {"int's least steps the other way", 20, least, 10, false, 19},
        {"beyond an int: not its low 32 bits", 20, std::int64_t{1} << 32 | 1, 10, true, 19},
    };
    ASSERT_EQ(view->lineOffsets().size(), 20u);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        setScript(20, c.editorLines);
        if (c.count) {
            defaults.set(k::manualScrollingLineCount, *c.count);
        }
        readLine(c.from);
        ASSERT_EQ(view->currentLineIndex(), c.from);
        click(c.down ? lineDown : lineUp);
        drain();
        EXPECT_DOUBLE_EQ(progress(), stepTarget(c.to));
        EXPECT_TRUE(counter->animated); // manual scrolling off: an animated jump
    }
}

TEST_F(PointerInput, LineButtonsWhilePlayingSetTheDirection) {
    holdStill();
    project->play();
    drain();
    click(lineUp);
    drain();
    EXPECT_DOUBLE_EQ(project->transportState().ffwdFactor, -1.0);
    EXPECT_EQ(view->controls().lineUpLayer().backgroundColor(), red);
    EXPECT_EQ(view->controls().lineDownLayer().backgroundColor(), black);
    click(lineDown);
    drain();
    EXPECT_DOUBLE_EQ(project->transportState().ffwdFactor, 1.0);
    EXPECT_EQ(view->controls().lineDownLayer().backgroundColor(), red);
}

TEST_F(PointerInput, OneClickPromptingAndTheTransportAndRewindControls) {
    holdStill();
    click(empty);
    EXPECT_TRUE(project->transportState().isPlaying());
    click(empty);
    EXPECT_FALSE(project->transportState().isPlaying());

    view->setIgnoresOneClickPrompting(true);
    click(empty);
    EXPECT_FALSE(project->transportState().isPlaying());
    view->setIgnoresOneClickPrompting(false);
    defaults.set(k::isOneClickPromptingEnabled, false);
    click(empty);
    EXPECT_FALSE(project->transportState().isPlaying());
    EXPECT_FALSE(view->transportState().isPlaying());

    // The transport and rewind controls.
    holdStill();
    project->setProgress(0.6, false, true);
    drain();
    click(transport);
    EXPECT_TRUE(project->transportState().isPlaying());
    EXPECT_EQ(view->controls().transportLayer().transportState(), cw::PrompterTransport::Status::playing);
    click(rewind);
    drain();
    EXPECT_DOUBLE_EQ(progress(), 0);
    EXPECT_TRUE(counter->immediate);
    EXPECT_DOUBLE_EQ(view->transportProgress(), 0);
    click(transport);
    EXPECT_FALSE(project->transportState().isPlaying());
}

TEST_F(PointerInput, PressedControlsTintUntilRelease) {
    for (const QPointF at : {rewind, lineDown}) {
        auto& layer = at == rewind ? static_cast<cw::ControlLayer&>(view->controls().rewindLayer())
                                   : view->controls().lineDownLayer();
        QTest::mousePress(view, Qt::LeftButton, {}, widgetPoint(at));
        EXPECT_EQ(layer.backgroundColor(), red);
        EXPECT_TRUE(view->controls().isHeld(cw::PrompterControlPanel::PressSource::pointer));
        project->setProgress(0.2, false, false); // a tint refresh while held leaves it alone
        drain();
        EXPECT_EQ(layer.backgroundColor(), red);
        QTest::mouseRelease(view, Qt::LeftButton, {}, widgetPoint(at));
        EXPECT_EQ(layer.backgroundColor(), black);
    }
}

TEST_F(PointerInput, IgnoredMouseEventsDoNothing) {
    view->setIgnoresMouseEvents(true);
    project->setProgress(0.5, false, true);
    drain();
    click(transport);
    click(speedPoint(300));
    wheelNotches(5);
    wheelNotches(5, Qt::ShiftModifier);
    drain();
    EXPECT_FALSE(project->transportState().isPlaying());
    EXPECT_DOUBLE_EQ(percent(), 50);
    EXPECT_DOUBLE_EQ(progress(), 0.5);
}

TEST_F(PointerInput, ReadOutClicksCycleTheSpeedModesAndSwitchToRemainingTime) {
    view->updateDisplay([](auto& s) { s.speedDisplayMode = cw::SpeedDisplayMode::percentage; });
    const cw::SpeedDisplayMode first = view->display().speedDisplayMode;
    std::vector<std::string> stored;
    for (int i = 0; i < 5; ++i) {
        click(speedLabel);
        stored.push_back(defaults.stringForKey(k::preferredScrollSpeedDisplayMode).value_or(""));
    }
    EXPECT_EQ(view->display().speedDisplayMode, first);
    EXPECT_EQ(stored, (std::vector<std::string>{"wordspersecond", "wordsperminute", "linespersecond",
                                                "linesperminute", "percentage"}));
    EXPECT_EQ(view->controls().speedLabelLayer().backgroundColor(), black);

    // A click on the time switches to the remaining time.
    click(timestamp);
    EXPECT_TRUE(view->display().timestampShowsRemainingTime);
    EXPECT_TRUE(defaults.boolForKey(k::timestampInPrompterShowsRemainingTime));
    EXPECT_TRUE(view->controls().timestampLayer().string().startsWith(QLatin1Char('-')));
    EXPECT_EQ(view->controls().timestampLayer().backgroundColor(), QColor::fromRgbF(0, 0, 0, 0.75));
    click(timestamp);
    EXPECT_FALSE(defaults.boolForKey(k::timestampInPrompterShowsRemainingTime));
}

TEST_F(PointerInput, ManualScrollingSeeksToTheLineWhileStoppedOnly) {
    defaults.set(k::manualScrollingEnabled, true);
    defaults.set(k::manualScrollingDuration, 0.05);
    readLine(10);
    const int jumps = counter->jumps;
    click(lineDown);
    EXPECT_TRUE(project->isClockRunning());
    ASSERT_TRUE(waitFor([&] { return !project->isClockRunning(); }));
    drain();
    EXPECT_DOUBLE_EQ(progress(), stepTarget(11));
    EXPECT_DOUBLE_EQ(view->transportProgress(), stepTarget(11));
    EXPECT_EQ(counter->jumps, jumps + 1); // the seek reports one animated jump at its end
    EXPECT_TRUE(counter->animated);

    // A duration of 0 jumps at once, without animation.
    defaults.set(k::manualScrollingDuration, 0.0);
    readLine(11);
    click(lineDown);
    drain();
    EXPECT_FALSE(project->isClockRunning());
    EXPECT_DOUBLE_EQ(progress(), stepTarget(12));
    EXPECT_FALSE(counter->animated);

    // Steps faster than the view hears of each move, jumping or seeking: one line each.
    for (const double duration : {0.0, 0.05}) {
        defaults.set(k::manualScrollingDuration, duration);
        readLine(12);
        for (int key = 0; key < 3; ++key) {
            view->stepLines(cw::PrompterView::StepDirection::down, 1); // as the keys do
        }
        ASSERT_TRUE(waitFor([&] { return !project->isClockRunning(); }));
        drain();
        EXPECT_DOUBLE_EQ(progress(), stepTarget(15)) << "duration " << duration;
    }

    // While playing, line steps do not seek.
    holdStill();
    readLine(10);
    project->play();
    drain();
    const int playingJumps = counter->jumps;
    view->stepLines(cw::PrompterView::StepDirection::down, 1);
    drain();
    EXPECT_EQ(counter->jumps, playingJumps);
    EXPECT_DOUBLE_EQ(progress(), lineProgress(10));
}

// A step after the text was laid out again counts from the line the new layout shows at the
// reading position, not from the line the step before it asked for in the old one.
TEST_F(PointerInput, ALineStepAfterANewLayoutCountsFromTheLineShown) {
    defaults.set(k::manualScrollingEnabled, true);
    defaults.set(k::manualScrollingDuration, 0.0);
    const struct {
        const char* name;
        std::function<void()> layOutAgain;
    } cases[] = {
        {"more words per line",
         [&] {
             auto properties = project->document().scriptProperties;
             properties.prompterWordCountFactor = 0.6f;
             project->setScriptProperties(properties);
         }},
        {"fewer words per line",
         [&] {
             auto properties = project->document().scriptProperties;
             properties.prompterWordCountFactor = 0.0f;
             project->setScriptProperties(properties);
         }},
        {"the text doubled", [&] { project->setText(cwtest::script(2400, 30)); }},
        {"a narrower window", [&] { cwtest::resizeView(*view, 800, 700); }},
    };
    view->setTypesetter(nullptr); // lines that follow the words per line
    project->setText(cwtest::script(1200, 30));
    drain();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        readLine(static_cast<int>(view->lineStarts().size()) * 3 / 4);
        view->stepLines(cw::PrompterView::StepDirection::down, 1);
        drain();
        const std::size_t before = view->lineStarts().size();
        c.layOutAgain();
        drain();
        view->layoutText(); // as the end of a live resize does
        const int shown = view->lineAtProgress(progress());
        view->stepLines(cw::PrompterView::StepDirection::down, 1);
        drain();
        EXPECT_EQ(view->lineAtProgress(progress()), shown + 1)
            << "lines before " << before << ", after " << view->lineStarts().size();
        EXPECT_DOUBLE_EQ(progress(), stepTarget(shown + 1));
    }

    // A chase still running towards a place in the old layout ends with the layout.
    view->setScrollPosition(0.3, /*animated=*/true, /*force=*/false);
    ASSERT_NE(view->scrollLayer().presentationPosition(), view->scrollLayer().position());
    view->updateDisplay([](auto& s) { s.prompterWordCountFactor = 0.3f; });
    EXPECT_EQ(view->scrollLayer().presentationPosition(), view->scrollLayer().position());
}

TEST_F(PointerInput, PointerHidesAfterRestingOnlyInFullScreen) {
    auto* hider = view->findChild<platform::CursorHider*>();
    ASSERT_NE(hider, nullptr);
    const QPointF at = widgetPoint(empty);
    QMouseEvent move(QEvent::MouseMove, at, view->mapToGlobal(at), Qt::NoButton, Qt::NoButton, {});
    QApplication::sendEvent(view, &move);
    EXPECT_FALSE(hider->isCountdownRunning());

    view->fullScreenDidChange(true);
    QApplication::sendEvent(view, &move);
    EXPECT_FALSE(hider->isCursorHidden());
    EXPECT_TRUE(hider->isCountdownRunning());
    EXPECT_EQ(hider->delay(), std::chrono::milliseconds(2000));
    hider->countdownElapsed();
    EXPECT_TRUE(hider->isCursorHidden());

    view->fullScreenDidChange(false);
    EXPECT_FALSE(hider->isCursorHidden());
    QApplication::sendEvent(view, &move);
    EXPECT_FALSE(hider->isCountdownRunning());
}

TEST_F(PointerInput, RightClickPopsUpTheMenuAndNothingElse) {
    QMenu menu;
    menu.addAction(QStringLiteral("Rewind"));
    view->setContextMenu(&menu);
    QContextMenuEvent event(QContextMenuEvent::Mouse, widgetPoint(empty),
                            view->mapToGlobal(widgetPoint(empty)));
    QApplication::sendEvent(view, &event);
    EXPECT_TRUE(menu.isVisible());
    menu.hide();
    QTest::mouseClick(view, Qt::RightButton, {}, widgetPoint(empty));
    EXPECT_FALSE(project->transportState().isPlaying());
    view->setContextMenu(nullptr);
}

} // namespace
