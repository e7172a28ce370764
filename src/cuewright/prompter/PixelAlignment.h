// Snapping layer frames to whole device pixels, so one-point lines and control edges stay sharp.
#pragma once

#include <QRectF>

#include <cmath>

namespace cw {

// The rectangle with its origin and far edges rounded to the nearest device pixel at `scale`.
inline QRectF alignedToPixels(const QRectF& rect, double scale) {
    const auto snap = [scale](double v) { return std::round(v * scale) / scale; };
    const double left = snap(rect.left());
    const double bottom = snap(rect.top());
    return QRectF(left, bottom, snap(rect.right()) - left, snap(rect.bottom()) - bottom);
}

} // namespace cw
