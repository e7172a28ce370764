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
    drawHints(painter);
}

QRectF RewindControlLayer::symbolBounds() const {
    const QRectF b = bounds();
    const double s = 0.5 * b.height();
    const double q = s / 2;
    const double cx = b.center().x() - 6;
    return QRectF(cx - q, b.center().y() - q, 2 * q + 4 + s / 4, s);
}

controls::HintLayout RewindControlLayer::layoutHints() const {
    // Under the symbol: the strip between its lower edge and the control's; above it when short.
    const QRectF b = bounds();
    const QRectF symbol = symbolBounds();
    const QRectF band(b.left() + 2, b.top() + 2, b.width() - 6, symbol.top() - 1 - (b.top() + 2));
    const QRectF above(b.left() + 2, symbol.bottom() + 1, b.width() - 6,
                       b.bottom() - 2 - (symbol.bottom() + 1));
    const QString fixed = keyHints().deleteBound
                              ? QString()
                              : QString::fromStdString(platform::keySymbol(platform::keycode::deleteKey));
    // In the view's top right corner: a binding too long for it goes to its left.
    return controls::placeHintsOrBeside(b, controls::HintSide::left, band, controls::HintEdge::bottom, fixed,
                                        keyHints().rewind,
                                        controls::HintBand{above, controls::HintEdge::top});
}

} // namespace cw
