// What every hand-drawn control shares: its colours' two facts and pixel-aligned rectangles.
#pragma once

#include <QRectF>

class QWidget;

namespace cw::controls {

// The two facts a control picks its colours from at paint time.
struct PaintContext {
    bool dark = false;       // the window is drawn in the dark appearance
    bool windowMain = false; // the control's window is the active (main) window
};
PaintContext paintContext(const QWidget& widget);

// `rect` with its edges moved to the nearest device pixel of a widget drawn at `ratio`
// (devicePixelRatioF), so hairlines and fills land on whole pixels.
QRectF alignedToDevicePixels(const QRectF& rect, double ratio);

} // namespace cw::controls
