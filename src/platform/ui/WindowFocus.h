// Which window a widget is in, and whether that window is the main one.
#pragma once

class QEvent;
class QWidget;

namespace platform {

// Whether the widget is shown by some window: it has a parent, or it is a window of its own that
// was made (shown once) or was given an appearance of its own (Appearance::applyToWindow). A control that was
// never placed anywhere is in no window: it is never dark and never main.
bool isInWindow(const QWidget* widget);

// Whether the widget's window is the main window, the one the user works in (the active window).
bool isWindowMain(const QWidget* widget);

// For a hand-drawn control's event(): marks it for redrawing when its window became or stopped
// being the main window, when its appearance changed, or when it moved to another window (each
// answer is asked again at paint time). The caller goes on handling the event:
//     bool event(QEvent* e) override { platform::redrawOnWindowChange(this, e); return QWidget::event(e); }
void redrawOnWindowChange(QWidget* widget, const QEvent* event);

// Shows and raises a top-level window and gives it the keyboard, unless what runs came from
// outside the application (base::OutsideInputScope): then it comes forward without the keyboard,
// which stays with the application the person is in (activating would take it, on X11 too).
// Main thread only.
void bringForward(QWidget* window);

} // namespace platform
