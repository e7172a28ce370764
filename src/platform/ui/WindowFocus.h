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

} // namespace platform
