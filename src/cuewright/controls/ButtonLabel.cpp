#include "cuewright/controls/ButtonLabel.h"

#include "cuewright/controls/ControlPainting.h"

#include <QPainter>

namespace cw::controls {

QColor accentColor(double brightness) {
    return QColor::fromHsvF(0.57f, 0.99f, float(brightness));
}

ButtonLabel::ButtonLabel(QWidget* parent)
    : ClickableControl(SendOn::releaseInside, QAccessible::Button, "No Thanks", 17.0, parent) {}

void ButtonLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QColor color = accentColor();
    if (isMouseDown())
        color.setAlphaF(0.7f);
    painter.setFont(textFont());
    painter.setPen(color);
    painter.drawText(alignedToDevicePixels(QRectF(rect()), devicePixelRatioF()),
                     Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, title());
    paintKeyboardFocus(painter, *this);
}

} // namespace cw::controls
