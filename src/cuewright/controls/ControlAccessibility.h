// How assistive technologies see the hand-drawn controls: a role and, for clickable ones, a press.
#pragma once

#include <QAccessible>

namespace cw::controls {

// Implemented by a control (next to QWidget) so that screen readers announce it by its role
// and can press it. The control's accessible name is the widget's accessibleName().
class AccessibleControl {
public:
    virtual ~AccessibleControl() = default;
    virtual QAccessible::Role accessibleRole() const = 0;
    // Whether accessiblePress() does anything; plain labels cannot be pressed.
    virtual bool isPressable() const { return false; }
    // Does what a click does.
    virtual void accessiblePress() {}
};

// Registers the accessibility factory for AccessibleControl widgets; later calls do nothing.
// Main thread only.
void installControlAccessibility();

} // namespace cw::controls
