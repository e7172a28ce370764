#include "cuewright/controls/ActionableLabelDivider.h"

#include "cuewright/controls/ClickableControl.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>

namespace cw::controls {

ActionableLabelDivider::ActionableLabelDivider(QWidget* parent)
    : LabeledDivider(parent) {
    makeClickable(*this);
}

void ActionableLabelDivider::press() {
    platform::sendAction(binding_, this);
}

void ActionableLabelDivider::pressRight() {
    if (!rightAction_.empty())
        platform::sendAction(rightAction_, binding_.target.data(), this);
}

void ActionableLabelDivider::mousePressEvent(QMouseEvent* event) {
    // Taken so that the release comes here; the divider has no pressed look.
    const Qt::MouseButton button = event->button();
    event->setAccepted(button == Qt::LeftButton || button == Qt::RightButton);
}

void ActionableLabelDivider::mouseReleaseEvent(QMouseEvent* event) {
    switch (event->button()) {
    case Qt::LeftButton:
        press();
        break;
    case Qt::RightButton:
        pressRight();
        break;
    default:
        event->ignore();
        return;
    }
    event->accept();
}

void ActionableLabelDivider::keyPressEvent(QKeyEvent* event) {
    if (!isPressKey(*event)) {
        LabeledDivider::keyPressEvent(event);
        return;
    }
    event->accept();
    press();
}

void ActionableLabelDivider::contextMenuEvent(QContextMenuEvent* event) {
    // A right click already acted on release; the menu key stands for it from the keyboard.
    if (event->reason() == QContextMenuEvent::Keyboard)
        pressRight();
    event->setAccepted(!rightAction_.empty());
}

void ActionableLabelDivider::focusInEvent(QFocusEvent* event) {
    update();
    LabeledDivider::focusInEvent(event);
}

void ActionableLabelDivider::focusOutEvent(QFocusEvent* event) {
    update();
    LabeledDivider::focusOutEvent(event);
}

} // namespace cw::controls
