// Base of the controllers that own one top-level window.
#pragma once

#include "platform/ui/WindowAppearanceUpdatable.h"

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>

#include <memory>

#include <QWidget>

namespace platform {

// Owns one top-level window and turns its life into hooks for subclasses.
//
// The window is made lazily, on the first call of window() or showWindow():
// windowWillLoad(), makeWindow(), then windowDidLoad(). It opens on the display the user works on
// (workingScreen()), not on whichever display Qt counts as primary. The controller deletes the window when
// it is destroyed; closing only hides it, so a closed window may be shown again.
//
// Closing (the close button, close()): windowShouldClose() may refuse; otherwise
// windowWillClose() runs and windowDidClose is emitted, after which the window hides. Owners
// that let go of the controller from windowDidClose should use deleteLater(); a controller
// destroyed inside one of its window's events hides the window and deletes it later.
//
// Every controller can follow the user's appearance choice (WindowAppearanceUpdatable): call
// updateWindowAppearance() from windowDidLoad() and registerForAppearanceChanges() once.
//
// Main thread only.
class WindowController : public QObject, public WindowAppearanceUpdatable {
    Q_OBJECT

public:
    explicit WindowController(QObject* parent = nullptr);
    ~WindowController() override;
    WindowController(const WindowController&) = delete;
    WindowController& operator=(const WindowController&) = delete;

    // The window, made on first use.
    QWidget* window();
    bool isWindowLoaded() const { return window_ != nullptr; }

    // Makes the window if needed, shows it, raises and activates it (inside its screen's work
    // area first, when the subclass asked for that); from outside input it is not activated
    // (bringForward). Subclasses that extend it call the base first.
    virtual void showWindow();

    // Asks the window to close as its close button does. Returns whether it closed.
    bool close();

    // The window's frame: its geometry in screen coordinates, without the decorations.
    // An empty rectangle when the window was never made.
    QRect frame() const;
    void setFrame(const QRect& frame);

    // The frame as text (see WindowFrame.h); empty when the window was never made.
    QString frameString() const;
    // Applies a frame read from text, moved and made smaller into a work area of the displays
    // there are now (applyKeptFrame). Returns false, changing nothing, when there is no window
    // or the text gives no usable frame (no numbers, zero or negative size).
    bool setFrameFromString(const QString& text);

signals:
    // The window is closing; sent after windowWillClose().
    void windowDidClose();

protected:
    // The window to own; a plain QWidget unless a subclass makes another.
    // From then on showWindow() puts a hidden window inside its screen's work area before it
    // shows it: in the middle the first time, later only as far as it must move to be inside.
    void keepInWorkArea() { keepsInWorkArea_ = true; }

    virtual QWidget* makeWindow();
    virtual void windowWillLoad() {}
    virtual void windowDidLoad() {}
    virtual bool windowShouldClose() { return true; }
    virtual void windowWillClose() {}
    // The window became, or stopped being, the active window.
    virtual void windowDidBecomeMain() {}
    virtual void windowDidResignMain() {}
    // The window entered or left full screen.
    virtual void windowFullScreenDidChange(bool isFullScreen) { (void)isFullScreen; }

    bool eventFilter(QObject* watched, QEvent* event) override;
    QWidget* appearanceWindow() const override { return window_; }

private:
    QPointer<QWidget> window_;
    bool loading_ = false;
    bool keepsInWorkArea_ = false;
    bool shownOnce_ = false;
    std::shared_ptr<int> eventDepth_ = std::make_shared<int>(0);
};

} // namespace platform
