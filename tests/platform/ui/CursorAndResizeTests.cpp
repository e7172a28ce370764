// The cursor hider's states and the end of a live resize.
#include "platform/ui/CursorHider.h"
#include "platform/ui/LiveResizeWatcher.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMouseEvent>
#include <QResizeEvent>
#include <QWidget>

using namespace std::chrono_literals;
using platform::CursorHider;
using platform::LiveResizeWatcher;

namespace {

void moveMouse(QWidget* widget) {
    QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), widget->mapToGlobal(QPointF(5, 5)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &move);
}

// Runs the event loop until `done` holds or a generous bound passes.
template <class Predicate> bool eventually(Predicate done) {
    QDeadlineTimer deadline(5000);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return done();
}

void runEventsFor(int milliseconds) {
    QDeadlineTimer deadline(milliseconds);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

} // namespace

TEST(CursorHider, HidesUntilTheMouseMovesAndPutsBackTheWidgetsOwnCursor) {
    QWidget widget;
    widget.setCursor(Qt::CrossCursor);
    auto* hider = new CursorHider(&widget, 10s);
    EXPECT_TRUE(widget.hasMouseTracking());

    hider->hideUntilMouseMoves();
    EXPECT_TRUE(hider->isCursorHidden());
    EXPECT_EQ(widget.cursor().shape(), Qt::BlankCursor);

    moveMouse(&widget);
    EXPECT_FALSE(hider->isCursorHidden());
    EXPECT_EQ(widget.cursor().shape(), Qt::CrossCursor);
    EXPECT_FALSE(hider->isCountdownRunning()) << "without auto-hide a movement starts no countdown";
}

TEST(CursorHider, AWidgetWithoutItsOwnCursorGetsNoneBack) {
    QWidget window;
    auto* widget = new QWidget(&window);
    CursorHider hider(widget, 10s);
    hider.hideUntilMouseMoves();
    hider.showCursor();
    EXPECT_FALSE(widget->testAttribute(Qt::WA_SetCursor));
    EXPECT_EQ(widget->cursor().shape(), Qt::ArrowCursor);
}

TEST(CursorHider, WithAutoHideEachMovementRestartsTheCountdownThatHidesTheCursor) {
    QWidget widget;
    CursorHider hider(&widget, 10s);
    hider.setAutoHide(true);
    EXPECT_FALSE(hider.isCountdownRunning());

    moveMouse(&widget);
    EXPECT_TRUE(hider.isCountdownRunning());
    EXPECT_FALSE(hider.isCursorHidden());

    hider.countdownElapsed();
    EXPECT_TRUE(hider.isCursorHidden());
    EXPECT_FALSE(hider.isCountdownRunning());

    moveMouse(&widget);
    EXPECT_FALSE(hider.isCursorHidden());
    EXPECT_TRUE(hider.isCountdownRunning());
}

TEST(CursorHider, TurningAutoHideOffCancelsTheCountdown) {
    QWidget widget;
    CursorHider hider(&widget, 10s);
    hider.setAutoHide(true);
    moveMouse(&widget);
    hider.setAutoHide(false);
    EXPECT_FALSE(hider.isCountdownRunning());
    moveMouse(&widget);
    EXPECT_FALSE(hider.isCountdownRunning());
    EXPECT_FALSE(hider.isCursorHidden());
}

TEST(CursorHider, TheCountdownEventuallyHidesTheCursorByItself) {
    QWidget widget;
    CursorHider hider(&widget, 1ms);
    hider.setAutoHide(true);
    moveMouse(&widget);
    EXPECT_TRUE(eventually([&] { return hider.isCursorHidden(); }));
}

TEST(CursorHider, HidingTwiceRemembersTheCursorFromBeforeTheFirstTime) {
    QWidget widget;
    widget.setCursor(Qt::IBeamCursor);
    CursorHider hider(&widget, 10s);
    hider.hideUntilMouseMoves();
    hider.hideUntilMouseMoves();
    hider.showCursor();
    EXPECT_EQ(widget.cursor().shape(), Qt::IBeamCursor);
}

TEST(LiveResizeWatcher, ABurstOfResizesEndsOnce) {
    QWidget widget;
    widget.resize(200, 200);
    widget.show();
    LiveResizeWatcher watcher(&widget, 10s);
    int ended = 0;
    QObject::connect(&watcher, &LiveResizeWatcher::liveResizeEnded, [&] { ++ended; });
    for (int width = 210; width < 300; width += 10) {
        widget.resize(width, 200);
    }
    EXPECT_TRUE(watcher.isResizing());
    EXPECT_EQ(ended, 0);
    watcher.finishNow();
    watcher.finishNow();
    EXPECT_EQ(ended, 1);
    EXPECT_FALSE(watcher.isResizing());
}

TEST(LiveResizeWatcher, TheQuietPeriodEventuallyEndsTheBurstByItself) {
    QWidget widget;
    widget.resize(200, 200);
    widget.show();
    LiveResizeWatcher watcher(&widget, 1ms);
    int ended = 0;
    QObject::connect(&watcher, &LiveResizeWatcher::liveResizeEnded, [&] { ++ended; });
    widget.resize(300, 200);
    widget.resize(320, 200);
    EXPECT_TRUE(eventually([&] { return ended > 0; }));
    runEventsFor(20);
    EXPECT_EQ(ended, 1);
}

TEST(LiveResizeWatcher, ResizingAHiddenWidgetIsNoLiveResize) {
    QWidget widget;
    LiveResizeWatcher watcher(&widget, 10s);
    widget.resize(300, 300);
    EXPECT_FALSE(watcher.isResizing());
}
