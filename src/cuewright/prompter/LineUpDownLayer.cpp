#include "cuewright/prompter/LineUpDownLayer.h"

#include "platform/keys/KeyNames.h"

#include <QPainter>
#include <QPainterPath>

namespace cw {

namespace {

QString symbol(platform::keycode::KeyCode code) {
    return QString::fromStdString(platform::keySymbol(code));
}

} // namespace

LineUpDownLayer::LineUpDownLayer(Mode mode)
    : ControlLayer(4.0)
    , mode_(mode) {}

void LineUpDownLayer::draw(QPainter& painter) {
    const QRectF symbol = symbolBounds();
    const double mx = symbol.center().x();
    const double a = symbol.width() / 2;
    const double c = symbol.center().y();
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
    drawHints(painter);
}

QRectF LineUpDownLayer::symbolBounds() const {
    const QRectF b = bounds();
    const double a = b.height() / 4;
    const double c = b.center().y() + 4 * scaleFactor_;
    return QRectF(b.center().x() - a, c - a, 2 * a, 2 * a);
}

controls::HintLayout LineUpDownLayer::layoutHints() const {
    const QRectF b = bounds();
    const QRectF shape = symbolBounds();
    const QRectF band(b.left() + 2, b.top() + 2, b.width() - 6, shape.top() - 1 - (b.top() + 2));
    const QRectF above(b.left() + 2, shape.bottom() + 1, b.width() - 6,
                       b.bottom() - 2 - (shape.bottom() + 1));
    const KeyHints& hints = keyHints();
    const bool up = mode_ == Mode::up;
    const bool bound = up ? hints.upArrowBound : hints.downArrowBound;
    const QString fixed =
        bound ? QString() : symbol(up ? platform::keycode::upArrow : platform::keycode::downArrow);
    // At the view's left edge: a binding too long for the button goes to its right.
    return controls::placeHintsOrBeside(b, controls::HintSide::right, band, controls::HintEdge::bottom, fixed,
                                        up ? hints.lineUp : hints.lineDown,
                                        controls::HintBand{above, controls::HintEdge::top});
}

} // namespace cw
