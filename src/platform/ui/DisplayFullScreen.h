// Full screen on one chosen display.
#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>

#include <QScreen>
#include <QWidget>

namespace platform {

// Where a window in full screen on a display goes: the display's whole geometry.
QRect fullScreenFrame(const QRect& screenGeometry);

// Brings a frame onto a display's available area: the size is cut to fit, then the frame is
// moved just far enough to lie inside. An empty area leaves the frame as it is.
QRect fitFrameIntoArea(const QRect& frame, const QRect& area);

// Puts one top-level window in full screen on a chosen display and back.
//
// enter() remembers the window's normal frame, moves the window onto the display and shows it
// in full screen there. exit() leaves full screen and puts the remembered frame back, fitted
// into the available area of the display the window is then on. When the display goes away
// while the window is in full screen on it, displayLost() is emitted first: a window its owner
// hides there stays hidden; one still shown afterwards leaves full screen onto another display
// of the same desktop, else the primary one (screenInPlaceOf).
//
// Main thread only. The object is a child of the window and dies with it.
class DisplayFullScreen : public QObject {
    Q_OBJECT

public:
    explicit DisplayFullScreen(QWidget* window);

    void enter(QScreen* screen);
    void exit();

    bool isFullScreen() const;
    // The frame the window had before it entered full screen or was maximised, while it is so;
    // its present frame otherwise.
    QRect normalFrame() const;
    // The display entered on; null when not in full screen or the display is gone.
    QScreen* screen() const { return screen_; }

    // What the removal of a display does; connected to the application's screenRemoved.
    void screenRemoved(QScreen* screen);

signals:
    void displayLost();

private:
    QPointer<QWidget> window_;
    QPointer<QScreen> screen_;
    QRect normalFrame_;
};

} // namespace platform
