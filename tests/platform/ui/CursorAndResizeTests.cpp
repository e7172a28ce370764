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

// Hidden until the mouse moves, then the widget's own cursor (from before the first hiding) is back;
// a widget without its own cursor gets none.
TEST(CursorHider, HidesUntilTheMouseMovesAndPutsBackTheWidgetsOwnCursor) {
    QWidget widget;
    widget.setCursor(Qt::CrossCursor);
    auto* hider = new CursorHider(&widget, 10s);
    EXPECT_TRUE(widget.hasMouseTracking());
    hider->hideUntilMouseMoves();
    hider->hideUntilMouseMoves();
    EXPECT_TRUE(hider->isCursorHidden());
    EXPECT_EQ(widget.cursor().shape(), Qt::BlankCursor);
    moveMouse(&widget);
    EXPECT_FALSE(hider->isCursorHidden());
    EXPECT_EQ(widget.cursor().shape(), Qt::CrossCursor);
    EXPECT_FALSE(hider->isCountdownRunning()) << "without auto-hide a movement starts no countdown";

    QWidget window;
    auto* child = new QWidget(&window);
    CursorHider childHider(child, 10s);
    childHider.hideUntilMouseMoves();
    childHider.showCursor();
    EXPECT_FALSE(child->testAttribute(Qt::WA_SetCursor));
    EXPECT_EQ(child->cursor().shape(), Qt::ArrowCursor);
}

// With auto-hide each movement restarts the countdown that hides the cursor; turning it off cancels it.
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

// A burst of resizes of a shown widget ends once; resizing a hidden widget is no live resize.
TEST(LiveResizeWatcher, ABurstOfResizesEndsOnce) {
    QWidget widget;
    LiveResizeWatcher watcher(&widget, 10s);
    widget.resize(300, 300);
    EXPECT_FALSE(watcher.isResizing());
    widget.show();
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
