#include "cuewright/prompter/RewindControlLayer.h"

#include "platform/keys/KeyNames.h"

#include <QPainter>
#include <QPainterPath>

namespace cw {

RewindControlLayer::RewindControlLayer()
    : ControlLayer(4.0) {}

void RewindControlLayer::draw(QPainter& painter) {
    const QRectF b = bounds();
    const double s = 0.5 * b.height();
    const double q = s / 2;
    const double cx = b.center().x() - 6;
    const double midY = b.center().y();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(Qt::red, 1.0));
    QPainterPath path;
    path.moveTo(cx + q, midY - q);
    path.lineTo(cx - q, midY);
    path.lineTo(cx + q, midY + q);
    path.closeSubpath();
    painter.drawPath(path);
    painter.drawRect(QRectF(cx + q + 4, midY - q, s / 4, s));
    drawTopHints(painter, QString::fromStdString(platform::keySymbol(platform::keycode::deleteKey)),
                 keyHints().deleteBound, keyHints().rewind);
}

} // namespace cw
