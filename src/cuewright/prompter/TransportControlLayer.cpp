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
    drawHints(painter);
}

QRectF TransportControlLayer::symbolBounds() const {
    // The play triangle's reach and the pause bars', so that the hints stay put when it changes.
    const QRectF b = bounds();
    const double s = 0.75 * b.height();
    const double left = b.center().x() - s * 0.3125;
    const double right = b.center().x() + s * 0.7;
    return QRectF(left, b.center().y() - s / 2, right - left, s);
}

controls::HintLayout TransportControlLayer::layoutHints() const {
    const QRectF b = bounds();
    const QRectF symbol = symbolBounds();
    const QRectF leftBand(b.left() + 2, b.top() + 2, symbol.left() - 4 - (b.left() + 2), b.height() - 4);
    const QRectF rightBand(symbol.right() + 4, b.top() + 2, b.right() - 4 - (symbol.right() + 4),
                           b.height() - 4);
    const QString space = keyHints().spaceBound ? QString() : QStringLiteral("S P A C E B A R");
    // Wide enough for any key name beside the symbol: nothing goes beside the control.
    controls::HintLayout hints{controls::placeHints(leftBand, controls::HintEdge::bottom, space, {}), {}};
    for (controls::PlacedHint& hint :
         controls::placeHints(rightBand, controls::HintEdge::bottom, {}, keyHints().playPause)) {
        hints.inside.push_back(std::move(hint));
    }
    return hints;
}

} // namespace cw
