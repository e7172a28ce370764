#include "cuewright/controls/LinkLabel.h"

#include <QPainter>

namespace cw::controls {

LinkLabel::LinkLabel(QWidget* parent)
    : ClickableControl(SendOn::anyRelease, QAccessible::Link, defaultAddress, 17.0, parent) {}

void LinkLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QFont font = textFont();
    font.setUnderline(true);
    QColor color = palette().color(QPalette::Link);
    if (isMouseDown())
        color.setAlphaF(0.7f);
    painter.setFont(font);
    painter.setPen(color);
    painter.drawText(QRectF(rect()), Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, address());
    paintKeyboardFocus(painter, *this);
}

} // namespace cw::controls
