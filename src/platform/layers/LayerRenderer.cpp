#include "platform/layers/LayerRenderer.h"

#include "dispatch/MainThreadChecker.h"

#include "platform/layers/Layer.h"
#include "platform/layers/LayerPainting.h"
#include "platform/layers/Transaction.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <map>
#include <tuple>
#include <typeinfo>
#include <utility>

namespace platform::layers {

namespace {

struct Frame {
    QPainter& painter;
    double now;
    bool animating = false;
    // How many rounded (anti-aliased) clips the walk has set around the current layer's sublayers.
    int softClips = 0;
};

QPainterPath roundedPath(const QRectF& rect, double radius) {
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

void fillRounded(QPainter& painter, const QRectF& bounds, double radius, const QColor& color) {
    painter.fillPath(roundedPath(bounds, radius), color);
}

// What a rounded background looks like on the device, up to where it sits.
struct RoundedShapeKey {
    double width;
    double height;
    double radius;
    QRgba64 color;
    double m11;
    double m22;
    bool antialiased;

    auto tied() const { return std::tie(width, height, radius, color, m11, m22, antialiased); }
    bool operator<(const RoundedShapeKey& other) const { return tied() < other.tied(); }
};

// Rounded backgrounds already drawn, on transparent; few sizes occur (the controls'), so a full cache is
// simply emptied. Main thread, like the renderer.
std::map<RoundedShapeKey, QImage>& roundedShapes() {
    static std::map<RoundedShapeKey, QImage> shapes;
    return shapes;
}
constexpr std::size_t maxRoundedShapes = 64;
constexpr int maxRoundedShapePixels = 512 * 512;

bool isWhole(double v) {
    return std::abs(v - std::round(v)) < 1e-9;
}

// Fills a rounded rectangle by copying a picture of it filled once, when that puts down the same pixels:
// a path filled in one colour over transparent blends like the fill itself (Qt scales the colour by each
// pixel's coverage either way), so only the coverage must match, and it does when the shape sits on whole
// device pixels under the same scale. Returns false when the shape must be filled directly (not on whole
// pixels, translucent painter, a soft clip, a large shape). Saves Qt's anti-aliased path fill, which
// hands the work to a thread pool and waits for it.
bool fillRoundedCached(QPainter& painter, const QRectF& bounds, double radius, const QColor& color,
                       bool softClip) {
    if (softClip || painter.opacity() < 1 ||
        painter.compositionMode() != QPainter::CompositionMode_SourceOver || !painter.device() ||
        painter.device()->devicePixelRatio() != 1 || !canDrawImages(painter)) {
        return false;
    }
    // Where the fill lands once the transform is reset (see uprightImageDeviceOrigin()).
    const QTransform t = painter.combinedTransform();
    if (t.type() > QTransform::TxScale) {
        return false;
    }
    const QRectF device = t.mapRect(bounds);
    if (!isWhole(device.left()) || !isWhole(device.top()) || !isWhole(device.width()) ||
        !isWhole(device.height())) {
        return false;
    }
    const int w = static_cast<int>(std::round(device.width()));
    const int h = static_cast<int>(std::round(device.height()));
    if (w <= 0 || h <= 0 || static_cast<qint64>(w) * h > maxRoundedShapePixels) {
        return false;
    }
    const int x = static_cast<int>(std::round(device.left()));
    const int y = static_cast<int>(std::round(device.top()));
    const bool antialiased = painter.testRenderHint(QPainter::Antialiasing);
    const RoundedShapeKey key{bounds.width(), bounds.height(), radius,     color.rgba64(),
                              t.m11(),        t.m22(),         antialiased};
    auto& shapes = roundedShapes();
    auto it = shapes.find(key);
    if (it == shapes.end()) {
        if (shapes.size() >= maxRoundedShapes) {
            shapes.clear();
        }
        QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
        if (image.isNull()) {
            return false;
        }
        image.fill(Qt::transparent);
        {
            QPainter shape(&image);
            shape.setRenderHint(QPainter::Antialiasing, antialiased);
            // The device's matrix moved by whole pixels, so the edges fall on the same fractions.
            shape.setTransform(QTransform(t.m11(), 0, 0, t.m22(), t.dx() - x, t.dy() - y));
            fillRounded(shape, bounds, radius, color);
        }
        it = shapes.emplace(key, std::move(image)).first;
    }
    painter.save();
    painter.resetTransform();
    painter.drawImage(QPoint(x, y), it->second);
    painter.restore();
    return true;
}

// Puts down a square-cornered border as its stroke would, when its edges lie on whole device pixels: the
// straight runs, wholly covered, as colour fills, and the corners copied from a small stroked picture.
// Saves Qt's stroker, whose anti-aliased fill of the outline hands the work of a whole-frame border to a
// thread pool and waits for it, every frame. Returns false when the border must be stroked.
bool fillSquareBorder(QPainter& painter, const QRectF& bounds, double width, const QColor& color,
                      bool softClip) {
    if (softClip || painter.opacity() < 1 ||
        painter.compositionMode() != QPainter::CompositionMode_SourceOver || !painter.device() ||
        painter.device()->devicePixelRatio() != 1) {
        return false;
    }
    // Where the fills land once the transform is reset (see uprightImageDeviceOrigin()).
    const QTransform t = painter.combinedTransform();
    if (t.type() > QTransform::TxScale || std::abs(std::abs(t.m11()) - 1) > 1e-9 ||
        std::abs(std::abs(t.m22()) - 1) > 1e-9) {
        return false;
    }
    const QRectF device = t.mapRect(bounds);
    if (!isWhole(device.left()) || !isWhole(device.top()) || !isWhole(device.width()) ||
        !isWhole(device.height()) || !isWhole(width) || width < 1 || 4 * width > device.width() ||
        4 * width > device.height()) {
        return false;
    }
    const QRect outer = device.toRect();
    const int w = static_cast<int>(std::round(width));
    const int across = outer.width() - 2 * w;
    const int down = outer.height() - 2 * w;
    painter.save();
    painter.resetTransform();
    painter.fillRect(QRect(outer.left() + w, outer.top(), across, w), color);
    painter.fillRect(QRect(outer.left() + w, outer.bottom() + 1 - w, across, w), color);
    painter.fillRect(QRect(outer.left(), outer.top() + w, w, down), color);
    painter.fillRect(QRect(outer.right() + 1 - w, outer.top() + w, w, down), color);
    // The corners, which the stroker covers only in part and blends in its own rounding: stroked, as a
    // small square sharing the corner, inside the corner alone.
    QPen pen(color, w);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const int side = 4 * w;
    const double inset = w / 2.0;
    for (const QPoint corner : {outer.topLeft(), QPoint(outer.right() + 1 - side, outer.top()),
                                QPoint(outer.left(), outer.bottom() + 1 - side),
                                QPoint(outer.right() + 1 - side, outer.bottom() + 1 - side)}) {
        const QRect square(corner, QSize(side, side));
        const QRect cornerPixels(corner.x() == outer.left() ? outer.left() : outer.right() + 1 - w,
                                 corner.y() == outer.top() ? outer.top() : outer.bottom() + 1 - w, w, w);
        painter.save();
        painter.setClipRect(cornerPixels, Qt::IntersectClip);
        painter.drawRect(QRectF(square).adjusted(inset, inset, -inset, -inset));
        painter.restore();
    }
    painter.restore();
    return true;
}

void strokeBorder(QPainter& painter, const QRectF& bounds, double radius, double width, const QColor& color) {
    const QRectF inner = bounds.adjusted(width / 2, width / 2, -width / 2, -width / 2);
    QPen pen(color, width);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    if (radius > 0) {
        const double r = std::max(0.0, radius - width / 2);
        painter.drawRoundedRect(inner, r, r);
    } else {
        painter.drawRect(inner);
    }
}

} // namespace

// Walks the tree; a friend of Layer.
class LayerRendererWalk {
public:
    static void paint(Frame& frame, Layer& layer, const QRectF& deviceClip, double parentOpacity);
    static bool covers(Layer& root, const QTransform& deviceTransform, const QRect& deviceRect, double now);
};

namespace {

// The device pixels a layer's bounds cover whole through `t` (scaled and moved only); empty otherwise.
QRect wholePixels(const QTransform& t, const QRectF& bounds) {
    if (t.type() > QTransform::TxScale) {
        return {};
    }
    const QRectF device = t.mapRect(bounds);
    const int left = static_cast<int>(std::ceil(device.left() - 1e-9));
    const int top = static_cast<int>(std::ceil(device.top() - 1e-9));
    const int right = static_cast<int>(std::floor(device.right() + 1e-9));
    const int bottom = static_cast<int>(std::floor(device.bottom() + 1e-9));
    return right > left && bottom > top ? QRect(left, top, right - left, bottom - top) : QRect();
}

} // namespace

bool LayerRendererWalk::covers(Layer& root, const QTransform& deviceTransform, const QRect& deviceRect,
                               double now) {
    // A plain root that paints nothing of its own, at full opacity and without a rounded clip.
    if (root.hidden_ || root.presentationOpacity(now) < 1 || root.cornerRadius_ > 0 || root.drawFunction_ ||
        !root.contents_.isNull() || !root.cache_.isNull() || root.tooLargeToCache_ ||
        (root.backgroundColor_.isValid() && root.backgroundColor_.alpha() > 0) || root.borderWidth_ > 0 ||
        typeid(root) != typeid(Layer)) {
        return false;
    }
    const QTransform rootTransform = root.presentationTransformToSuperlayer(now) * deviceTransform;
    if (root.masksToBounds_ &&
        !wholePixels(rootTransform, root.presentationBounds(now)).contains(deviceRect)) {
        return false;
    }
    for (Layer* child : root.sublayersInPaintOrder()) {
        if (child->hidden_) {
            continue;
        }
        // The first shown sublayer: its opaque background goes down first, over whole pixels.
        const QColor& color = child->backgroundColor_;
        return color.isValid() && color.alpha() == 255 && child->presentationOpacity(now) >= 1 &&
               child->cornerRadius_ <= 0 &&
               wholePixels(child->presentationTransformToSuperlayer(now) * rootTransform,
                           child->presentationBounds(now))
                   .contains(deviceRect);
    }
    return false;
}

void LayerRendererWalk::paint(Frame& frame, Layer& layer, const QRectF& deviceClip, double parentOpacity) {
    if (layer.hidden_) {
        return;
    }
    if (layer.updateAnimations(frame.now)) {
        frame.animating = true;
    }
    const double opacity = parentOpacity * layer.presentationOpacity(frame.now);
    if (opacity <= 0) {
        return;
    }
    QPainter& painter = frame.painter;
    painter.save();
    painter.setTransform(layer.presentationTransformToSuperlayer(frame.now), /*combine=*/true);
    const QRectF bounds = layer.presentationBounds(frame.now);
    const QRectF deviceRect = painter.worldTransform().mapRect(bounds);
    const QRectF visibleDevice = deviceRect.intersected(deviceClip);
    const bool visible = !visibleDevice.isEmpty();
    if (layer.masksToBounds_ && !visible) {
        painter.restore();
        return;
    }
    const double radius = std::min(layer.cornerRadius_, std::min(bounds.width(), bounds.height()) / 2);
    painter.setOpacity(opacity);
    if (visible) {
        if (layer.backgroundColor_.isValid() && layer.backgroundColor_.alpha() > 0) {
            if (radius > 0) {
                if (!fillRoundedCached(painter, bounds, radius, layer.backgroundColor_,
                                       frame.softClips > 0)) {
                    fillRounded(painter, bounds, radius, layer.backgroundColor_);
                }
            } else {
                painter.fillRect(bounds, layer.backgroundColor_);
            }
        }
        painter.save();
        if (layer.masksToBounds_) {
            if (radius > 0) {
                painter.setClipPath(roundedPath(bounds, radius), Qt::IntersectClip);
            } else {
                painter.setClipRect(bounds, Qt::IntersectClip);
            }
        }
        const QRectF visibleLocal =
            painter.worldTransform().inverted().mapRect(visibleDevice).intersected(bounds);
        layer.paintingUnderSoftClip_ = frame.softClips > 0 || (layer.masksToBounds_ && radius > 0);
        layer.paintContent(painter, bounds, visibleLocal);
        layer.paintingUnderSoftClip_ = false;
        painter.restore();
    }
    const auto& children = layer.sublayersInPaintOrder();
    if (!children.empty()) {
        QRectF childClip = deviceClip;
        const bool softClip = layer.masksToBounds_ && radius > 0;
        if (layer.masksToBounds_) {
            childClip = visibleDevice;
            if (radius > 0) {
                painter.setClipPath(roundedPath(bounds, radius), Qt::IntersectClip);
            } else {
                painter.setClipRect(bounds, Qt::IntersectClip);
            }
        }
        // Sublayers may reorder or leave while painting (a draw function is free to do so): walk a copy.
        const std::vector<Layer*> order = children;
        frame.softClips += softClip ? 1 : 0;
        for (Layer* child : order) {
            paint(frame, *child, childClip, opacity);
        }
        frame.softClips -= softClip ? 1 : 0;
    }
    if (visible && layer.borderWidth_ > 0 && layer.borderColor_.isValid()) {
        painter.setOpacity(opacity);
        // Always drawn: thin borders go through Qt's line stroker, which mixes each edge pixel in one
        // rounding, so a picture of the border blended afterwards would be off by one here and there.
        if (radius > 0 ||
            !fillSquareBorder(painter, bounds, layer.borderWidth_, layer.borderColor_, frame.softClips > 0)) {
            strokeBorder(painter, bounds, radius, layer.borderWidth_, layer.borderColor_);
        }
    }
    painter.restore();
}

bool LayerRenderer::coversOpaquely(Layer& root, const QTransform& deviceTransform, const QRect& deviceRect,
                                   double now) {
    return LayerRendererWalk::covers(root, deviceTransform, deviceRect, now);
}

bool LayerRenderer::render(QPainter& painter, Layer& root, const QRectF& deviceClip, double now) {
    CW_DCHECK_MAIN_THREAD();
    Frame frame{painter, now};
    painter.save();
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                           QPainter::SmoothPixmapTransform);
    LayerRendererWalk::paint(frame, root, deviceClip, 1.0);
    painter.restore();
    return frame.animating;
}

QImage LayerRenderer::renderToImage(Layer& root, QSize size, double devicePixelRatio,
                                    const QColor& background) {
    const double ratio = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    const QSize pixels = imagePixels(QSizeF(size), ratio);
    if (!imageFits(pixels)) {
        return {};
    }
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) {
        return image;
    }
    image.setDevicePixelRatio(ratio);
    image.fill(background);
    QPainter painter(&image);
    painter.translate(0, size.height());
    painter.scale(1, -1);
    render(painter, root, QRectF(QPointF(0, 0), QSizeF(size)), LayerClock::now());
    return image;
}

} // namespace platform::layers
