// Hides the mouse cursor over a widget while the mouse rests.
#pragma once

#include <QCursor>
#include <QObject>
#include <QPointer>

#include <chrono>

class QTimer;
#include <QWidget>

namespace platform {

// Hides the cursor over one widget, in two ways:
//  - hideUntilMouseMoves(): at once, until the next mouse movement over the widget;
//  - auto-hide: while on, every movement shows the cursor and (re)starts a countdown of
//    `delay`; when it runs out without movement the cursor hides until the mouse moves again.
//
// The states: shown (countdown idle or running) and hidden. mouseMoved() and countdownElapsed()
// are the two transitions; the event filter and the timer call them, and tests may too.
// Hiding sets a blank cursor on the widget and showing puts back the cursor it had; children
// that set their own cursor keep it. The widget gets mouse tracking, so that movements reach it
// without a button held.
//
// Main thread only. The hider is a child of the widget and dies with it.
class CursorHider : public QObject {
    Q_OBJECT

public:
    explicit CursorHider(QWidget* widget, std::chrono::milliseconds delay = std::chrono::seconds(2));

    std::chrono::milliseconds delay() const { return delay_; }

    // Turning auto-hide off cancels a running countdown; a hidden cursor stays hidden until the
    // mouse moves.
    void setAutoHide(bool on);

    void hideUntilMouseMoves();
    // Shows the cursor now and cancels a running countdown.
    void showCursor();

    bool isCursorHidden() const { return hidden_; }
    bool isCountdownRunning() const;

    // The mouse moved over the widget: show the cursor; with auto-hide, restart the countdown.
    void mouseMoved();
    // The countdown ran out: hide the cursor until the mouse moves.
    void countdownElapsed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void hide();

    QPointer<QWidget> widget_;
    QTimer* timer_;
    std::chrono::milliseconds delay_;
    bool autoHide_ = false;
    bool hidden_ = false;
    bool hadOwnCursor_ = false;
    QCursor savedCursor_;
};

} // namespace platform
