#include "cuewright/controls/ControlPainting.h"

#include "platform/ui/Appearance.h"

#include <QWidget>

#include <cmath>

namespace cw::controls {

PaintContext paintContext(const QWidget& widget) {
    const QWidget* window = widget.window();
    return PaintContext{platform::isDarkMode(&widget), window && window->isActiveWindow()};
}

QRectF alignedToDevicePixels(const QRectF& rect, double ratio) {
    if (!(ratio > 0))
        ratio = 1;
    const double left = std::round(rect.left() * ratio) / ratio;
    const double top = std::round(rect.top() * ratio) / ratio;
    const double right = std::round(rect.right() * ratio) / ratio;
    const double bottom = std::round(rect.bottom() * ratio) / ratio;
    return QRectF(QPointF(left, top), QPointF(right, bottom));
}

} // namespace cw::controls
