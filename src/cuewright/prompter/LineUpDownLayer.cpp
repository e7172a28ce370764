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
    const KeyHints& hints = keyHints();
    if (mode_ == Mode::up) {
        drawTopHints(painter, symbol(platform::keycode::upArrow), hints.upArrowBound, hints.lineUp);
    } else {
        drawTopHints(painter, symbol(platform::keycode::downArrow), hints.downArrowBound, hints.lineDown);
    }
}

} // namespace cw
