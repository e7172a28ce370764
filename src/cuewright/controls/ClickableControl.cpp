#include "cuewright/controls/ClickableControl.h"

#include "cuewright/controls/ControlPainting.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace cw::controls {

void makeClickable(QWidget& widget) {
    installControlAccessibility();
    widget.setCursor(Qt::PointingHandCursor);
    widget.setFocusPolicy(Qt::StrongFocus);
}

bool isPressKey(const QKeyEvent& event) {
    if (event.isAutoRepeat() || event.modifiers() & ~Qt::KeypadModifier)
        return false;
    const int key = event.key();
    return key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter;
}

bool changesLook(const QEvent& event) {
    const QEvent::Type type = event.type();
    return type == QEvent::PaletteChange || type == QEvent::ActivationChange || type == QEvent::EnabledChange;
}

void paintKeyboardFocus(QPainter& painter, const QWidget& widget) {
    // Like the platform's buttons: the ring shows once the keyboard moved the focus.
    if (!widget.hasFocus() || !widget.window()->testAttribute(Qt::WA_KeyboardFocusChange))
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(widget.palette().color(QPalette::Highlight), 1));
    painter.setBrush(Qt::NoBrush);
    const QRectF ring = alignedToDevicePixels(QRectF(widget.rect()), widget.devicePixelRatioF());
    painter.drawRoundedRect(ring.adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
    painter.restore();
}

QFont fontOfPixelSize(const QWidget& widget, double pixels) {
    QFont font = widget.font();
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(pixels))));
    return font;
}

ClickableControl::ClickableControl(SendOn sendOn, QAccessible::Role role, QString text, double fontSize,
                                   QWidget* parent)
    : QWidget(parent)
    , text_(std::move(text))
    , fontSize_(fontSize)
    , sendOn_(sendOn)
    , role_(role) {
    makeClickable(*this);
    setAccessibleName(text_);
}

void ClickableControl::setFontSize(double size) {
    size = std::max(size, 1.0);
    if (size == fontSize_)
        return;
    fontSize_ = size;
    updateGeometry();
    update();
}

void ClickableControl::setText(const QString& text) {
    if (text == text_)
        return;
    text_ = text;
    setAccessibleName(text_);
    updateGeometry();
    update();
}

QFont ClickableControl::textFont() const {
    return fontOfPixelSize(*this, fontSize_);
}

QSize ClickableControl::textSizeHint() const {
    const QSize text = QFontMetrics(textFont()).size(Qt::TextSingleLine, text_);
    return text + QSize(8, 4);
}

void ClickableControl::press() {
    platform::sendAction(binding_, this);
}

void ClickableControl::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    isMouseDown_ = true;
    update();
    event->accept();
}

void ClickableControl::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !isMouseDown_) {
        event->ignore();
        return;
    }
    isMouseDown_ = false;
    update();
    event->accept();
    if (sendOn_ == SendOn::anyRelease || rect().contains(event->position().toPoint()))
        press();
}

void ClickableControl::keyPressEvent(QKeyEvent* event) {
    if (!isPressKey(*event)) {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    press();
}

void ClickableControl::changeEvent(QEvent* event) {
    if (changesLook(*event))
        update();
    QWidget::changeEvent(event);
}

void ClickableControl::focusInEvent(QFocusEvent* event) {
    update();
    QWidget::focusInEvent(event);
}

void ClickableControl::focusOutEvent(QFocusEvent* event) {
    update();
    QWidget::focusOutEvent(event);
}

} // namespace cw::controls
