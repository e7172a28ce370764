#include "cuewright/prompter/LineUpDownLayer.h"

#include "cuewright/prompter/ControlDrawing.h"

#include <QPainter>
#include <QPainterPath>

namespace cw {

LineUpDownLayer::LineUpDownLayer(Mode mode)
    : mode_(mode) {
    controls::applyControlLook(*this, 4.0);
}

void LineUpDownLayer::draw(QPainter& painter) {
    drawButton(painter, bounds());
}

void LineUpDownLayer::drawButton(QPainter& painter, const QRectF& b) {
    const double mx = b.center().x();
    const double my = b.center().y();
    const double a = b.height() / 4;
    const double c = my + 4 * scaleFactor_;
    QPainterPath path;
    if (mode_ == Mode::up) {
        path.moveTo(mx - a, c - a);
        path.lineTo(mx + a, c - a);
        path.lineTo(mx, c + a);
    } else {
        path.moveTo(mx, c - a);
        path.lineTo(mx + a, c + a);
        path.lineTo(mx - a, c + a);
    }
    path.closeSubpath();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(Qt::red, 1.0));
    painter.drawPath(path);
    if (!drawsLabel_) {
        return;
    }
    const bool up = mode_ == Mode::up;
    const bool arrowBound = up ? hints_.upArrowBound : hints_.downArrowBound;
    if (!arrowBound) {
        controls::drawHint(painter, up ? QStringLiteral("↑") : QStringLiteral("↓"),
                           QPointF(b.left() + 2, b.top() + 2), controls::hintColor());
    }
    const QString& binding = up ? hints_.lineUp : hints_.lineDown;
    if (!binding.isEmpty()) {
        const QSizeF size = controls::measureHint(binding);
        controls::drawHint(painter, binding, QPointF(b.right() - size.width() - 4, b.top() + 2),
                           controls::hintColor());
    }
}

} // namespace cw
