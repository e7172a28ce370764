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
    if (!drawsLabel()) {
        return;
    }
    const KeyHints& hints = keyHints();
    const QColor hint = controls::hintColor();
    if (!hints.incSpeed.isEmpty()) {
        const QSizeF size = controls::measureHint(hints.incSpeed);
        controls::drawHint(painter, hints.incSpeed, QPointF(b.right() - size.width() - 10, b.bottom() - 18),
                           hint);
    }
    controls::drawHint(painter, keyName(platform::keycode::w), QPointF(b.left() + 10, b.bottom() - 18), hint);
    if (!hints.decSpeed.isEmpty()) {
        const QSizeF size = controls::measureHint(hints.decSpeed);
        controls::drawHint(painter, hints.decSpeed, QPointF(b.right() - size.width() - 10, b.top() + 4),
                           hint);
    }
    controls::drawHint(painter, keyName(platform::keycode::s), QPointF(b.left() + 10, b.top() + 4), hint);
}

} // namespace cw
