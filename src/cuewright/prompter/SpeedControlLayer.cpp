#include "cuewright/prompter/SpeedControlLayer.h"

#include "cuewright/prompter/ControlDrawing.h"
#include "platform/keys/KeyNames.h"

#include <QPainter>

namespace cw {

namespace {

// The fixed speed keys by where they are: W and S on a US keyboard.
QString keyName(platform::keycode::KeyCode code) {
    return QString::fromStdString(platform::keyDisplayName(code));
}

} // namespace

SpeedControlLayer::SpeedControlLayer()
    : ControlLayer(4.0) {}

double SpeedControlLayer::markerY(const QRectF& b, double percent) {
    const double span = b.height() * 8.0 / 9.0;
    const double base = b.top() + b.height() / 2 - span / 2;
    return base + span * (percent / 101.0);
}

void SpeedControlLayer::draw(QPainter& painter) {
    const QRectF b = bounds();
    const double w = b.width();
    const double h = b.height();
    const double span = h * 8.0 / 9.0;
    const double base = b.top() + h / 2 - span / 2;
    const double midX = b.left() + w / 2;
    const QColor scale = QColor::fromRgbF(1, 0, 0, 0.7);
    painter.fillRect(QRectF(midX - 1, base, 2, span), scale);
    const double tickWidth = w * 2.0 / 3.0;
    for (int i = 1; i <= 33; ++i) {
        painter.fillRect(QRectF(midX - tickWidth / 2, base + span * (3.0 * i / 101.0) - 0.5, tickWidth, 1),
                         scale);
    }
    painter.fillRect(QRectF(midX - tickWidth / 2, markerY(b, scrollSpeed_) - 2.5, tickWidth, 5), Qt::red);
    drawHints(painter);
}

QRectF SpeedControlLayer::symbolBounds() const {
    // The bar, its ticks and the marker at either end of its travel.
    const QRectF b = bounds();
    const double span = b.height() * 8.0 / 9.0;
    const double base = b.top() + b.height() / 2 - span / 2;
    const double tickWidth = b.width() * 2.0 / 3.0;
    return QRectF(b.center().x() - tickWidth / 2, base - 2.5, tickWidth, span + 5);
}

controls::HintLayout SpeedControlLayer::layoutHints() const {
    // W and the faster binding above the scale, S and the slower one below it.
    const QRectF b = bounds();
    const QRectF scale = symbolBounds();
    const QRectF above(b.left() + 4, scale.bottom() + 1, b.width() - 8,
                       b.bottom() - 2 - (scale.bottom() + 1));
    const QRectF below(b.left() + 4, b.top() + 2, b.width() - 8, scale.top() - 1 - (b.top() + 2));
    const KeyHints& hints = keyHints();
    // The scale stands at the view's right edge: a binding too long for it goes to its left.
    controls::HintLayout placed =
        controls::placeHintsOrBeside(b, controls::HintSide::left, above, controls::HintEdge::top,
                                     keyName(platform::keycode::w), hints.incSpeed);
    const controls::HintLayout lower =
        controls::placeHintsOrBeside(b, controls::HintSide::left, below, controls::HintEdge::bottom,
                                     keyName(platform::keycode::s), hints.decSpeed);
    placed.inside.insert(placed.inside.end(), lower.inside.begin(), lower.inside.end());
    placed.beside.insert(placed.beside.end(), lower.beside.begin(), lower.beside.end());
    return placed;
}

} // namespace cw
