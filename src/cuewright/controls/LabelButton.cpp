#include "cuewright/controls/LabelButton.h"

#include "cuewright/controls/ControlPainting.h"

#include <QPainter>

namespace cw::controls {

LabelButton::LabelButton(QWidget* parent)
    : ClickableControl(SendOn::anyRelease, QAccessible::Button, "Reset", smallFontSize, parent) {}

void LabelButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QColor color = palette().color(QPalette::WindowText);
    if (isMouseDown())
        color.setAlphaF(0.7f);
    painter.setFont(textFont());
    painter.setPen(color);
    const QRectF textBox = QRectF(rect()).translated(0, textDrop);
    painter.drawText(alignedToDevicePixels(textBox, devicePixelRatioF()),
                     Qt::AlignRight | Qt::AlignTop | Qt::TextWordWrap, title());
    paintKeyboardFocus(painter, *this);
}

} // namespace cw::controls
