#include "cuewright/prompter/ControlLayer.h"

#include "cuewright/prompter/ControlDrawing.h"

#include <QPainter>

namespace cw {

ControlLayer::ControlLayer(double cornerRadius) {
    controls::applyControlLook(*this, cornerRadius);
}

void ControlLayer::drawTopHints(QPainter& painter, const QString& key, bool keyBound,
                                const QString& binding) const {
    if (!drawsLabel_) {
        return;
    }
    const QRectF b = bounds();
    if (!keyBound) {
        controls::drawHint(painter, key, QPointF(b.left() + 2, b.top() + 2), controls::hintColor());
    }
    if (!binding.isEmpty()) {
        const QSizeF size = controls::measureHint(binding);
        controls::drawHint(painter, binding, QPointF(b.right() - size.width() - 4, b.top() + 2),
                           controls::hintColor());
    }
}

} // namespace cw
