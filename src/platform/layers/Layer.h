// Layer: one node of the retained picture that a LayerHost paints (our stand-in for a Core Animation layer).
#pragma once

#include "platform/layers/Transaction.h"

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QTransform>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QPainter;

namespace platform::layers {

class LayerHost;
class LayerRendererWalk;

// Where a contents image sits inside the bounds when their sizes differ. "top" is the visual top.
enum class ContentsGravity {
    center,
    top,
    bottom,
    left,
    right,
    topLeft,
    topRight,
    bottomLeft,
    bottomRight,
    resize,
    resizeAspect,
    resizeAspectFill,
};

// Autoresizing against the superlayer's bounds size, in the classic bit values (18 = width and height).
enum AutoresizingMask : unsigned {
    notSizable = 0,
    minXMargin = 1,
    widthSizable = 2,
    maxXMargin = 4,
    minYMargin = 8,
    heightSizable = 16,
    maxYMargin = 32,
};

// The properties that transactions animate.
enum class AnimationKey { position, bounds, opacity };

// A rectangular layer with geometry, appearance and sublayers.
//
// Coordinates are y-up: (0, 0) is the bottom-left corner of the host, as in a non-flipped view. A layer's
// `bounds` is its own coordinate space (a bounds origin of (0, 100) shows its sublayers 100 points lower,
// which is how content scrolls); `position` is where its `anchorPoint` (unit coordinates of the bounds)
// sits in the superlayer's space; `transform` applies about the anchor point; `frame` is derived.
// Mirroring flips the layer's whole picture (contents, sublayers, hit tests) about its own bounds without
// moving its frame.
//
// Drawing: a layer that overrides draw() (or has a draw function) is drawn into a cached image only when
// it was marked with setNeedsDisplay() (or its size changed and needsDisplayOnBoundsChange is set); the
// painter handed to draw() is in bounds coordinates with y up. Otherwise the layer shows `contents`.
//
// Sublayers are owned by their superlayer; a layer is always held in a std::shared_ptr. Changes inside a
// Transaction with a duration animate position, bounds and opacity; nothing else animates.
//
// Main thread only. Copying is disabled.
class Layer : public std::enable_shared_from_this<Layer> {
public:
    Layer();
    virtual ~Layer();
    Layer(const Layer&) = delete;
    Layer& operator=(const Layer&) = delete;

    // Identity and debugging.
    std::uint64_t id() const { return id_; }

    // Geometry (model values).
    QPointF position() const { return position_; }
    void setPosition(QPointF position);
    void setAnchorPoint(QPointF anchor);
    QRectF bounds() const { return bounds_; }
    void setBounds(const QRectF& bounds);
    // The bounding box of the layer in its superlayer; setting it sets position and bounds size.
    QRectF frame() const;
    void setFrame(const QRectF& frame);
    const QTransform& transform() const { return transform_; }
    void setTransform(const QTransform& transform);
    double zPosition() const { return zPosition_; }
    void setZPosition(double z);
    void setAutoresizingMask(unsigned mask) { autoresizingMask_ = mask; }

    // In-place mirroring about the layer's own bounds.
    bool isFlippedHorizontally() const { return flipH_; }
    bool isFlippedVertically() const { return flipV_; }
    void setMirroring(bool horizontal, bool vertical);

    // Appearance.
    bool isHidden() const { return hidden_; }
    void setHidden(bool hidden);
    double opacity() const { return opacity_; }
    void setOpacity(double opacity);
    QColor backgroundColor() const { return backgroundColor_; }
    void setBackgroundColor(const QColor& color);
    double borderWidth() const { return borderWidth_; }
    void setBorderWidth(double width);
    void setBorderColor(const QColor& color);
    double cornerRadius() const { return cornerRadius_; }
    void setCornerRadius(double radius);
    void setMasksToBounds(bool masks);
    // Hints kept for callers; they do not change what is painted.
    bool isOpaque() const { return opaque_; }
    void setOpaque(bool opaque) { opaque_ = opaque; }
    bool drawsAsynchronously() const { return drawsAsynchronously_; }
    void setDrawsAsynchronously(bool value) { drawsAsynchronously_ = value; }

    // Contents image, placed by gravity; its size in points is its pixel size / contentsScale.
    const QImage& contents() const { return contents_; }
    void setContents(const QImage& image);
    void setContentsGravity(ContentsGravity gravity);
    // Pixels per point of the contents image and of the drawn cache; set it to the screen's pixel ratio.
    double contentsScale() const { return contentsScale_; }
    void setContentsScale(double scale);

    // Drawing.
    void setNeedsDisplay();
    void setNeedsDisplayOnBoundsChange(bool value) { needsDisplayOnBoundsChange_ = value; }
    // A draw function for layers that are not subclassed (the delegate pattern); painter as for draw().
    using DrawFunction = std::function<void(Layer&, QPainter&)>;
    void setDrawFunction(DrawFunction draw);
    // Draws the cached image now if the layer is marked; the host does this before painting.
    void displayIfNeeded();
    // How many times the layer drew into its cache (for tests and diagnostics).
    int displayCount() const { return displayCount_; }

    // Tree.
    Layer* superlayer() const { return superlayer_; }
    const std::vector<std::shared_ptr<Layer>>& sublayers() const { return sublayers_; }
    void addSublayer(std::shared_ptr<Layer> layer);
    // Inserts at `index` of sublayers (clamped to the end).
    void insertSublayer(std::shared_ptr<Layer> layer, std::size_t index);
    void insertSublayerBelow(std::shared_ptr<Layer> layer, const Layer* sibling);
    void insertSublayerAbove(std::shared_ptr<Layer> layer, const Layer* sibling);
    void replaceSublayer(const Layer* old, std::shared_ptr<Layer> replacement);
    void removeFromSuperlayer();
    void removeAllSublayers();
    // Sublayers in painting order: z position, then insertion order. Valid until the tree changes.
    const std::vector<Layer*>& sublayersInPaintOrder() const;
    Layer* rootLayer();
    bool isDescendantOf(const Layer* ancestor) const;

    // Coordinate conversion (model values). Layers without a common root convert as if their roots met.
    QTransform transformToSuperlayer() const;
    QPointF convertPointToSuperlayer(QPointF point) const;
    QPointF convertPointFromSuperlayer(QPointF point) const;
    QPointF convertPoint(QPointF point, const Layer* from) const;
    QPointF convertPointTo(QPointF point, const Layer* to) const;
    QRectF convertRect(const QRectF& rect, const Layer* from) const;
    bool containsPoint(QPointF pointInBounds) const;
    // The deepest visible layer under a point in the superlayer's coordinates (for a root: the host's),
    // front-most first; null when none. Mirroring, transforms and masksToBounds are honoured.
    Layer* hitTest(QPointF pointInSuperlayer);

    // Animations and presentation values (what is on screen at the clock's now).
    QPointF presentationPosition() const;
    QRectF presentationBounds() const;
    double presentationOpacity() const;
    bool hasAnimation(AnimationKey key) const;
    bool hasAnimations() const;
    void removeAnimation(AnimationKey key);
    void removeAllAnimations();

protected:
    // Draws the layer's own picture in bounds coordinates, y up. The default calls the draw function.
    virtual void draw(QPainter& painter);
    // Paints the layer's content (cache or contents image) during a frame; `visible` is the part of the
    // bounds that can reach the screen. Overridden by layers that manage their own caches.
    virtual void paintContent(QPainter& painter, const QRectF& bounds, const QRectF& visible);
    // Called when the layer was marked for display, after the mark is set.
    virtual void didMarkForDisplay() {}
    // Asks the host to paint a new frame.
    void setNeedsRedraw();
    // For layers that keep their own caches: the display mark has been dealt with.
    void clearNeedsDisplay() { needsDisplay_ = false; }
    // The picture drawn by displayIfNeeded() (null when none is kept) and the bounds size it was drawn at.
    const QImage& cachedImage() const { return cache_; }
    QSizeF cachedSize() const { return cacheSize_; }
    // True while paintContent() runs inside an anti-aliased clip (a rounded masksToBounds above or on the
    // layer): there, blending an image and filling a colour round differently at the clip's soft edge.
    bool isPaintingUnderSoftClip() const { return paintingUnderSoftClip_; }

private:
    friend class LayerRendererWalk;
    friend class LayerHost;

    // Always made whole by startAnimation(). No default member initialisers: clang cannot use them
    // for a nested aggregate held in an optional member of the class still being defined.
    template <typename T> struct Animation {
        T from;
        T to;
        double begin;
        double duration;
        TimingFunction timing;
    };
    template <typename T>
    T presentation(const std::optional<Animation<T>>& animation, const T& model, double now) const;

    QTransform transformToSuperlayer(QPointF position, const QRectF& bounds) const;
    QPointF presentationPosition(double now) const;
    QRectF presentationBounds(double now) const;
    double presentationOpacity(double now) const;
    QTransform presentationTransformToSuperlayer(double now) const;
    void insertAt(std::shared_ptr<Layer> layer, std::size_t index);
    void detachChild(Layer* child);
    void resizeSublayers(QSizeF oldSize);
    void resizeWithOldSuperlayerSize(QSizeF oldSize, QSizeF newSize);
    void paintOrderChanged();
    // Drops finished animations; true when one still runs at `now`.
    bool updateAnimations(double now);
    bool subtreeHasAnimations() const;
    void notifyChanged(bool animating);

    std::uint64_t id_;
    QPointF position_;
    QPointF anchorPoint_{0.5, 0.5};
    QRectF bounds_;
    QTransform transform_;
    double zPosition_ = 0;
    unsigned autoresizingMask_ = notSizable;
    bool flipH_ = false;
    bool flipV_ = false;
    bool hidden_ = false;
    double opacity_ = 1.0;
    QColor backgroundColor_;
    double borderWidth_ = 0;
    QColor borderColor_{Qt::black};
    double cornerRadius_ = 0;
    bool masksToBounds_ = false;
    bool opaque_ = false;
    bool drawsAsynchronously_ = false;
    QImage contents_;
    ContentsGravity gravity_ = ContentsGravity::resize;
    double contentsScale_ = 1.0;

    bool needsDisplay_ = false;
    bool needsDisplayOnBoundsChange_ = false;
    bool drawsNothing_ = false;
    bool baseDrawCalled_ = false;
    bool tooLargeToCache_ = false;
    bool paintingUnderSoftClip_ = false;
    DrawFunction drawFunction_;
    QImage cache_;
    QSizeF cacheSize_;
    int displayCount_ = 0;

    Layer* superlayer_ = nullptr;
    LayerHost* host_ = nullptr;
    std::vector<std::shared_ptr<Layer>> sublayers_;
    mutable std::vector<Layer*> paintOrder_;
    mutable bool paintOrderValid_ = false;

    std::optional<Animation<QPointF>> positionAnimation_;
    std::optional<Animation<QRectF>> boundsAnimation_;
    std::optional<Animation<double>> opacityAnimation_;
};

} // namespace platform::layers
