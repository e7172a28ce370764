// LayerRenderer: paints a layer tree with QPainter, for the host, tests and benchmarks.
#pragma once

#include <QColor>
#include <QImage>
#include <QRectF>
#include <QSize>
#include <QTransform>

class QPainter;

namespace platform::layers {

class Layer;

// Paints a tree at its presentation values: z order then insertion order, opacity multiplied down the
// tree, clipping for masksToBounds (rounded by the corner radius), borders above sublayers. Layers
// wholly outside the painted area are skipped, and only visible layers draw their caches. Main thread.
class LayerRenderer {
public:
    // `painter` maps the root's superlayer space (y up) to the device; `deviceClip` is the device area
    // being painted. Returns true when an animation still runs at `now` (another frame is wanted).
    static bool render(QPainter& painter, Layer& root, const QRectF& deviceClip, double now);

    // True when painting the tree through `deviceTransform` puts an opaque colour over every pixel of
    // `deviceRect` before anything else (a plain root whose first shown sublayer fills it opaquely), so
    // that what lies there before does not show.
    static bool coversOpaquely(Layer& root, const QTransform& deviceTransform, const QRect& deviceRect,
                               double now);

    // Renders `root` into a new image of `size` points at `devicePixelRatio`, with the root's superlayer
    // space mapped y-up onto it (point (0, 0) is the image's bottom-left corner), at the clock's now.
    static QImage renderToImage(Layer& root, QSize size, double devicePixelRatio = 1.0,
                                const QColor& background = Qt::transparent);
};

} // namespace platform::layers
