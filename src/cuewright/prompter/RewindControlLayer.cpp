#include "cuewright/prompter/RewindControlLayer.h"

#include "cuewright/prompter/ControlDrawing.h"

#include <QPainter>
#include <QPainterPath>

namespace cw {

RewindControlLayer::RewindControlLayer() {
    controls::applyControlLook(*this, 4.0);
}

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
    if (!drawsLabel_) {
        return;
    }
    if (!hints_.deleteBound) {
        controls::drawHint(painter, QString(QChar(0x232B)), QPointF(b.left() + 2, b.top() + 2),
                           controls::hintColor());
    }
    if (!hints_.rewind.isEmpty()) {
        const QSizeF size = controls::measureHint(hints_.rewind);
        controls::drawHint(painter, hints_.rewind, QPointF(b.right() - size.width() - 4, b.top() + 2),
                           controls::hintColor());
    }
}

} // namespace cw
