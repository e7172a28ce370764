// A section header that acts when clicked (the script pane's speed-unit switch).
#pragma once

#include "cuewright/controls/LabeledDivider.h"
#include "platform/ui/ActionRoute.h"

#include <string>

namespace cw::controls {

// Sends its action on a left-button release and its right action, to the same target, on a
// right-button release; nothing when the matching action is empty. It has no pressed look.
// From the keyboard, Space and Return send the action and the menu key the right action.
class ActionableLabelDivider : public LabeledDivider {
    Q_OBJECT

public:
    explicit ActionableLabelDivider(QWidget* parent = nullptr);

    const platform::ActionBinding& actionBinding() const { return binding_; }
    void setActionBinding(platform::ActionBinding binding) { binding_ = std::move(binding); }
    const std::string& rightAction() const { return rightAction_; }
    void setRightAction(std::string action) { rightAction_ = std::move(action); }

    void press();
    void pressRight();

    QAccessible::Role accessibleRole() const override { return QAccessible::Button; }
    bool isPressable() const override { return true; }
    void accessiblePress() override { press(); }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    platform::ActionBinding binding_;
    std::string rightAction_;
};

} // namespace cw::controls
