// The pattern the clickable text controls share: a pressed look while the mouse is down and the
// action sent on release.
#pragma once

#include "cuewright/controls/ControlAccessibility.h"
#include "platform/ui/ActionRoute.h"

#include <QWidget>

#include <utility>

class QKeyEvent;
class QPainter;

namespace cw::controls {

// A control showing one text in a font of `fontSize` pixels. It shows a pointing hand, looks
// pressed from mouse-down to mouse-up and then sends its action through platform::sendAction
// with itself as sender (nothing when no action is set). Space and Return press it when it has
// the keyboard focus, and so does the accessibility press action. Main thread only.
class ClickableControl : public QWidget, public AccessibleControl {
    Q_OBJECT

public:
    // Where a left-button release must happen for the action to go out.
    enum class SendOn { anyRelease, releaseInside };

    const platform::ActionBinding& actionBinding() const { return binding_; }
    void setActionBinding(platform::ActionBinding binding) { binding_ = std::move(binding); }
    bool isMouseDown() const { return isMouseDown_; }
    double fontSize() const { return fontSize_; }
    // Clamped to at least 1 pixel; redraws.
    void setFontSize(double size);

    // Sends the action as a click does.
    void press();

    QAccessible::Role accessibleRole() const override { return role_; }
    bool isPressable() const override { return true; }
    void accessiblePress() override { press(); }

protected:
    ClickableControl(SendOn sendOn, QAccessible::Role role, QString text, double fontSize, QWidget* parent);

    const QString& text() const { return text_; }
    void setText(const QString& text);
    // The widget's font family at `fontSize` pixels.
    QFont textFont() const;
    QSize textSizeHint() const;

    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    platform::ActionBinding binding_;
    QString text_;
    double fontSize_;
    SendOn sendOn_;
    QAccessible::Role role_;
    bool isMouseDown_ = false;
};

// Helpers for the hand-drawn controls that do not derive from ClickableControl.

// Makes `widget` look and behave clickable: pointing hand, Tab focus, accessibility factory.
void makeClickable(QWidget& widget);
// Space, Return and Enter press a focused control; auto-repeat does not.
bool isPressKey(const QKeyEvent& event);
// Events after which a control's colours may differ: palette, window activation, enabled state.
bool changesLook(const QEvent& event);
// A highlight outline inside the widget while it has the focus from the keyboard.
void paintKeyboardFocus(QPainter& painter, const QWidget& widget);
// `widget`'s font family at `pixels` (the text sizes of the controls are given in pixels).
QFont fontOfPixelSize(const QWidget& widget, double pixels);

} // namespace cw::controls
