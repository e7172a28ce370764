#include "cuewright/controls/ProminentButton.h"

#include "cuewright/controls/ButtonLabel.h"
#include "cuewright/controls/ControlPainting.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace cw::controls {

ProminentButton::ProminentButton(QWidget* parent)
    : ClickableControl(SendOn::releaseInside, QAccessible::Button, "Rate us in the App Store", 17.0, parent) {
}

QSize ProminentButton::sizeHint() const {
    // Room for the text below the half-font offset, and as much again beneath it.
    return textSizeHint() + QSize(24, int(std::ceil(fontSize())));
}

void ProminentButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath body;
    body.addRoundedRect(QRectF(rect()), cornerRadius, cornerRadius);
    painter.fillPath(body, accentColor(isMouseDown() ? 0.9 : 0.78));

    // The text box starts half a font size down, which brings one line near the middle.
    const QRectF textBox(0, fontSize() / 2, width(), height());
    painter.setFont(textFont());
    painter.setPen(Qt::white);
    painter.drawText(alignedToDevicePixels(textBox, devicePixelRatioF()),
                     Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, title());
    paintKeyboardFocus(painter, *this);
}

} // namespace cw::controls
