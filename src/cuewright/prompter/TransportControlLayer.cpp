#include "cuewright/prompter/TransportControlLayer.h"

#include <QPainter>
#include <QPainterPath>

namespace cw {

TransportControlLayer::TransportControlLayer()
    : ControlLayer(6.0) {}

void TransportControlLayer::draw(QPainter& painter) {
    const QRectF b = bounds();
    const double s = 0.75 * b.height();
    const double midX = b.center().x();
    const double midY = b.center().y();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    if (state_ == PrompterTransport::Status::stopped) {
        const double x0 = midX + s / 5 - s / 2;
        QPainterPath path;
        path.moveTo(x0, midY - s / 2);
        path.lineTo(x0 + s, midY);
        path.lineTo(x0, midY + s / 2);
        path.closeSubpath();
        painter.setPen(QPen(Qt::red, 1.0));
        painter.drawPath(path);
    } else {
        const double w = s / 4;
        painter.setPen(QPen(Qt::red, 1.0));
        painter.drawRect(QRectF(midX - w - w / 4, midY - s / 2, w, s));
        painter.drawRect(QRectF(midX + w / 4, midY - s / 2, w, s));
    }
    drawTopHints(painter, QStringLiteral("S P A C E B A R"), keyHints().spaceBound, keyHints().playPause);
}

} // namespace cw
