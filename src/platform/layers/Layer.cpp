#include "platform/layers/Layer.h"

#include "base/Log.h"
#include "dispatch/MainThreadChecker.h"
#include "platform/layers/LayerHost.h"
#include "platform/layers/LayerPainting.h"

#include <QPainter>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>

namespace platform::layers {

namespace {

// Caches above this size are not kept: such layers draw straight into the frame.
constexpr qsizetype maxCacheBytes = 64 * 1024 * 1024;

std::uint64_t nextLayerId() {
    static std::atomic<std::uint64_t> counter{0};
    return ++counter;
}

double ease(double t, TimingFunction timing) {
    switch (timing) {
    case TimingFunction::linear:
        return t;
    case TimingFunction::easeInEaseOut:
        return t * t * (3 - 2 * t);
    }
    return t;
}

QPointF lerp(QPointF a, QPointF b, double f) {
    return a + (b - a) * f;
}
double lerp(double a, double b, double f) {
    return a + (b - a) * f;
}
QRectF lerp(const QRectF& a, const QRectF& b, double f) {
    return {lerp(a.x(), b.x(), f), lerp(a.y(), b.y(), f), lerp(a.width(), b.width(), f),
            lerp(a.height(), b.height(), f)};
}

template <typename Slot, typename T> void startAnimation(Slot& slot, const T& from, const T& to) {
    const double duration = Transaction::effectiveDuration();
    if (duration <= 0) {
        return;
    }
    slot = typename Slot::value_type{from, to, LayerClock::now(), duration, Transaction::timingFunction()};
}

// Where an image of `natural` size goes inside `bounds` (y up: the visual top is the maximum y).
QRectF gravityRect(QSizeF natural, const QRectF& bounds, ContentsGravity gravity) {
    const double minX = bounds.left();
    const double minY = bounds.top();
    const double maxX = bounds.left() + bounds.width();
    const double maxY = bounds.top() + bounds.height();
    const double w = natural.width();
    const double h = natural.height();
    const double cx = bounds.center().x() - w / 2;
    const double cy = bounds.center().y() - h / 2;
    switch (gravity) {
    case ContentsGravity::resize:
        return bounds;
    case ContentsGravity::resizeAspect:
    case ContentsGravity::resizeAspectFill: {
        if (w <= 0 || h <= 0) {
            return bounds;
        }
        const double sx = bounds.width() / w;
        const double sy = bounds.height() / h;
        const double s = gravity == ContentsGravity::resizeAspect ? std::min(sx, sy) : std::max(sx, sy);
        return {bounds.center().x() - w * s / 2, bounds.center().y() - h * s / 2, w * s, h * s};
    }
    case ContentsGravity::center:
        return {cx, cy, w, h};
    case ContentsGravity::top:
        return {cx, maxY - h, w, h};
    case ContentsGravity::bottom:
        return {cx, minY, w, h};
    case ContentsGravity::left:
        return {minX, cy, w, h};
    case ContentsGravity::right:
        return {maxX - w, cy, w, h};
    case ContentsGravity::topLeft:
        return {minX, maxY - h, w, h};
    case ContentsGravity::topRight:
        return {maxX - w, maxY - h, w, h};
    case ContentsGravity::bottomLeft:
        return {minX, minY, w, h};
    case ContentsGravity::bottomRight:
        return {maxX - w, minY, w, h};
    }
    return bounds;
}

} // namespace

Layer::Layer()
    : id_(nextLayerId()) {
    CW_DCHECK_MAIN_THREAD();
}

Layer::~Layer() {
    for (const auto& child : sublayers_) {
        child->superlayer_ = nullptr;
    }
}

// ---- geometry

void Layer::setPosition(QPointF position) {
    if (position == position_) {
        return;
    }
    startAnimation(positionAnimation_, presentationPosition(), position);
    position_ = position;
    notifyChanged(positionAnimation_.has_value());
}

void Layer::setAnchorPoint(QPointF anchor) {
    if (anchor == anchorPoint_) {
        return;
    }
    anchorPoint_ = anchor;
    notifyChanged(false);
}

void Layer::setBounds(const QRectF& requested) {
    const QRectF bounds(requested.topLeft(),
                        QSizeF(std::max(0.0, requested.width()), std::max(0.0, requested.height())));
    if (bounds == bounds_) {
        return;
    }
    const QSizeF oldSize = bounds_.size();
    startAnimation(boundsAnimation_, presentationBounds(), bounds);
    bounds_ = bounds;
    if (oldSize != bounds.size()) {
        if (needsDisplayOnBoundsChange_) {
            needsDisplay_ = true;
            didMarkForDisplay();
        }
        resizeSublayers(oldSize);
    }
    notifyChanged(boundsAnimation_.has_value());
}

QRectF Layer::frame() const {
    return transformToSuperlayer().mapRect(bounds_);
}

void Layer::setFrame(const QRectF& frame) {
    const QSizeF size(std::max(0.0, frame.width()), std::max(0.0, frame.height()));
    setPosition(
        QPointF(frame.x() + anchorPoint_.x() * size.width(), frame.y() + anchorPoint_.y() * size.height()));
    setBounds(QRectF(bounds_.topLeft(), size));
}

void Layer::setTransform(const QTransform& transform) {
    if (transform == transform_) {
        return;
    }
    transform_ = transform;
    notifyChanged(false);
}

void Layer::setZPosition(double z) {
    if (z == zPosition_) {
        return;
    }
    zPosition_ = z;
    if (superlayer_) {
        superlayer_->paintOrderChanged();
    }
    notifyChanged(false);
}

void Layer::setMirroring(bool horizontal, bool vertical) {
    if (horizontal == flipH_ && vertical == flipV_) {
        return;
    }
    flipH_ = horizontal;
    flipV_ = vertical;
    notifyChanged(false);
}

void Layer::resizeSublayers(QSizeF oldSize) {
    for (const auto& child : sublayers_) {
        child->resizeWithOldSuperlayerSize(oldSize, bounds_.size());
    }
}

void Layer::resizeWithOldSuperlayerSize(QSizeF oldSize, QSizeF newSize) {
    if (autoresizingMask_ == notSizable) {
        return;
    }
    // The change in each direction is shared equally among the flexible parts of that direction.
    auto share = [](double delta, unsigned mask, unsigned low, unsigned size, unsigned high) {
        const int parts = ((mask & low) ? 1 : 0) + ((mask & size) ? 1 : 0) + ((mask & high) ? 1 : 0);
        return parts == 0 ? 0.0 : delta / parts;
    };
    QRectF f = frame();
    const double dx =
        share(newSize.width() - oldSize.width(), autoresizingMask_, minXMargin, widthSizable, maxXMargin);
    const double dy =
        share(newSize.height() - oldSize.height(), autoresizingMask_, minYMargin, heightSizable, maxYMargin);
    if (autoresizingMask_ & minXMargin) {
        f.moveLeft(f.left() + dx);
    }
    if (autoresizingMask_ & widthSizable) {
        f.setWidth(std::max(0.0, f.width() + dx));
    }
    if (autoresizingMask_ & minYMargin) {
        f.moveTop(f.top() + dy);
    }
    if (autoresizingMask_ & heightSizable) {
        f.setHeight(std::max(0.0, f.height() + dy));
    }
    setFrame(f);
}

// ---- appearance

void Layer::setHidden(bool hidden) {
    if (hidden == hidden_) {
        return;
    }
    hidden_ = hidden;
    notifyChanged(false);
}

void Layer::setOpacity(double opacity) {
    opacity = std::clamp(opacity, 0.0, 1.0);
    if (opacity == opacity_) {
        return;
    }
    startAnimation(opacityAnimation_, presentationOpacity(), opacity);
    opacity_ = opacity;
    notifyChanged(opacityAnimation_.has_value());
}

void Layer::setBackgroundColor(const QColor& color) {
    if (color == backgroundColor_) {
        return;
    }
    backgroundColor_ = color;
    notifyChanged(false);
}

void Layer::setBorderWidth(double width) {
    width = std::max(0.0, width);
    if (width == borderWidth_) {
        return;
    }
    borderWidth_ = width;
    notifyChanged(false);
}

void Layer::setBorderColor(const QColor& color) {
    if (color == borderColor_) {
        return;
    }
    borderColor_ = color;
    notifyChanged(false);
}

void Layer::setCornerRadius(double radius) {
    radius = std::max(0.0, radius);
    if (radius == cornerRadius_) {
        return;
    }
    cornerRadius_ = radius;
    notifyChanged(false);
}

void Layer::setMasksToBounds(bool masks) {
    if (masks == masksToBounds_) {
        return;
    }
    masksToBounds_ = masks;
    notifyChanged(false);
}

void Layer::setContents(const QImage& image) {
    // Same image data (QImage shares it): nothing to repaint.
    if (image.cacheKey() == contents_.cacheKey() && image.isNull() == contents_.isNull()) {
        return;
    }
    contents_ = image;
    notifyChanged(false);
}

void Layer::setContentsGravity(ContentsGravity gravity) {
    if (gravity == gravity_) {
        return;
    }
    gravity_ = gravity;
    notifyChanged(false);
}

void Layer::setContentsScale(double scale) {
    if (!(scale > 0) || scale == contentsScale_) {
        return;
    }
    contentsScale_ = scale;
    // The drawn picture is kept at the old resolution until redrawn.
    if (!cache_.isNull() || drawFunction_) {
        setNeedsDisplay();
    }
    notifyChanged(false);
}

// ---- drawing

void Layer::setNeedsDisplay() {
    CW_DCHECK_MAIN_THREAD();
    needsDisplay_ = true;
    didMarkForDisplay();
    notifyChanged(false);
}

void Layer::setDrawFunction(DrawFunction draw) {
    drawFunction_ = std::move(draw);
    drawsNothing_ = false;
    setNeedsDisplay();
}

void Layer::draw(QPainter& painter) {
    if (drawFunction_) {
        drawFunction_(*this, painter);
        return;
    }
    baseDrawCalled_ = true;
}

void Layer::displayIfNeeded() {
    CW_DCHECK_MAIN_THREAD();
    const QSizeF size = bounds_.size();
    const bool resized = !cache_.isNull() && cacheSize_ != size;
    if (!needsDisplay_ && !(resized && needsDisplayOnBoundsChange_)) {
        return;
    }
    needsDisplay_ = false;
    cacheSize_ = size;
    tooLargeToCache_ = false;
    cache_ = QImage();
    if ((drawsNothing_ && !drawFunction_) || size.isEmpty()) {
        return;
    }
    const double bytes = size.width() * contentsScale_ * size.height() * contentsScale_ * 4;
    if (bytes > maxCacheBytes) {
        // Drawn straight into each frame instead (see paintContent).
        tooLargeToCache_ = true;
        ++displayCount_;
        return;
    }
    QImage image = makeLayerImage(size, contentsScale_);
    if (image.isNull()) {
        return;
    }
    {
        QPainter painter(&image);
        painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                               QPainter::SmoothPixmapTransform);
        painter.translate(0, size.height());
        painter.scale(1, -1);
        painter.translate(-bounds_.x(), -bounds_.y());
        baseDrawCalled_ = false;
        draw(painter);
    }
    ++displayCount_;
    if (baseDrawCalled_ && !drawFunction_) {
        // A plain layer: it never draws, so it never needs a cache.
        drawsNothing_ = true;
        return;
    }
    cache_ = std::move(image);
}

void Layer::paintContent(QPainter& painter, const QRectF& bounds, const QRectF& visible) {
    (void)visible;
    displayIfNeeded();
    if (tooLargeToCache_) {
        painter.save();
        painter.setClipRect(bounds, Qt::IntersectClip);
        baseDrawCalled_ = false;
        draw(painter);
        painter.restore();
        if (baseDrawCalled_ && !drawFunction_) {
            drawsNothing_ = true;
            tooLargeToCache_ = false;
        }
        return;
    }
    if (!cache_.isNull()) {
        const QRectF target =
            cacheSize_ == bounds.size() ? bounds : gravityRect(cacheSize_, bounds, gravity_);
        drawImageUpright(painter, target, cache_);
        return;
    }
    if (!contents_.isNull()) {
        const QSizeF natural(contents_.width() / contentsScale_, contents_.height() / contentsScale_);
        drawImageUpright(painter, gravityRect(natural, bounds, gravity_), contents_);
    }
}

void Layer::setNeedsRedraw() {
    notifyChanged(false);
}

// ---- tree

void Layer::addSublayer(std::shared_ptr<Layer> layer) {
    CW_DCHECK_MAIN_THREAD();
    insertAt(std::move(layer), sublayers_.size());
}

void Layer::insertSublayer(std::shared_ptr<Layer> layer, std::size_t index) {
    CW_DCHECK_MAIN_THREAD();
    insertAt(std::move(layer), index);
}

void Layer::insertSublayerBelow(std::shared_ptr<Layer> layer, const Layer* sibling) {
    auto it =
        std::find_if(sublayers_.begin(), sublayers_.end(), [&](const auto& l) { return l.get() == sibling; });
    insertAt(std::move(layer),
             it == sublayers_.end() ? 0 : static_cast<std::size_t>(it - sublayers_.begin()));
}

void Layer::insertSublayerAbove(std::shared_ptr<Layer> layer, const Layer* sibling) {
    auto it =
        std::find_if(sublayers_.begin(), sublayers_.end(), [&](const auto& l) { return l.get() == sibling; });
    insertAt(std::move(layer), it == sublayers_.end()
                                   ? sublayers_.size()
                                   : static_cast<std::size_t>(it - sublayers_.begin()) + 1);
}

void Layer::insertAt(std::shared_ptr<Layer> layer, std::size_t index) {
    if (!layer) {
        return;
    }
    if (layer.get() == this || isDescendantOf(layer.get())) {
        base::log("layer not added: it would contain itself");
        return;
    }
    if (layer->superlayer_) {
        if (layer->superlayer_ == this) {
            // Moving within this layer: the index counts the sublayers without it.
            detachChild(layer.get());
        } else {
            layer->removeFromSuperlayer();
        }
    }
    if (layer->host_) {
        base::log("layer not added: it is the root layer of a host");
        return;
    }
    index = std::min(index, sublayers_.size());
    layer->superlayer_ = this;
    Layer* added = layer.get();
    sublayers_.insert(sublayers_.begin() + static_cast<std::ptrdiff_t>(index), std::move(layer));
    paintOrderChanged();
    notifyChanged(added->subtreeHasAnimations());
}

void Layer::removeFromSuperlayer() {
    CW_DCHECK_MAIN_THREAD();
    if (!superlayer_) {
        return;
    }
    std::shared_ptr<Layer> keepAlive = shared_from_this();
    superlayer_->detachChild(this);
}

void Layer::detachChild(Layer* child) {
    auto it =
        std::find_if(sublayers_.begin(), sublayers_.end(), [&](const auto& l) { return l.get() == child; });
    if (it == sublayers_.end()) {
        return;
    }
    child->superlayer_ = nullptr;
    sublayers_.erase(it);
    paintOrderChanged();
    notifyChanged(false);
}

const std::vector<Layer*>& Layer::sublayersInPaintOrder() const {
    if (!paintOrderValid_) {
        paintOrder_.clear();
        paintOrder_.reserve(sublayers_.size());
        for (const auto& child : sublayers_) {
            paintOrder_.push_back(child.get());
        }
        std::stable_sort(paintOrder_.begin(), paintOrder_.end(),
                         [](const Layer* a, const Layer* b) { return a->zPosition_ < b->zPosition_; });
        paintOrderValid_ = true;
    }
    return paintOrder_;
}

void Layer::paintOrderChanged() {
    paintOrderValid_ = false;
}

Layer* Layer::rootLayer() {
    Layer* layer = this;
    while (layer->superlayer_) {
        layer = layer->superlayer_;
    }
    return layer;
}

bool Layer::isDescendantOf(const Layer* ancestor) const {
    for (const Layer* layer = superlayer_; layer; layer = layer->superlayer_) {
        if (layer == ancestor) {
            return true;
        }
    }
    return false;
}

void Layer::notifyChanged(bool animating) {
    Layer* root = rootLayer();
    if (root->host_) {
        root->host_->layerTreeChanged(animating);
    }
}

// ---- coordinates

QTransform Layer::transformToSuperlayer(QPointF position, const QRectF& bounds) const {
    QTransform mirror;
    if (flipH_ || flipV_) {
        mirror = QTransform(flipH_ ? -1 : 1, 0, 0, flipV_ ? -1 : 1, flipH_ ? 2 * bounds.center().x() : 0,
                            flipV_ ? 2 * bounds.center().y() : 0);
    }
    const QPointF anchor(bounds.x() + anchorPoint_.x() * bounds.width(),
                         bounds.y() + anchorPoint_.y() * bounds.height());
    return mirror * QTransform::fromTranslate(-anchor.x(), -anchor.y()) * transform_ *
           QTransform::fromTranslate(position.x(), position.y());
}

QTransform Layer::transformToSuperlayer() const {
    return transformToSuperlayer(position_, bounds_);
}

QPointF Layer::convertPointToSuperlayer(QPointF point) const {
    return transformToSuperlayer().map(point);
}

QPointF Layer::convertPointFromSuperlayer(QPointF point) const {
    bool invertible = false;
    const QTransform inverse = transformToSuperlayer().inverted(&invertible);
    if (!invertible) {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        return {nan, nan};
    }
    return inverse.map(point);
}

static QTransform transformToHost(const Layer* layer) {
    QTransform t;
    for (; layer; layer = layer->superlayer()) {
        t = t * layer->transformToSuperlayer();
    }
    return t;
}

QPointF Layer::convertPoint(QPointF point, const Layer* from) const {
    bool invertible = false;
    const QTransform toThis = transformToHost(this).inverted(&invertible);
    if (!invertible) {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        return {nan, nan};
    }
    return toThis.map(transformToHost(from).map(point));
}

QPointF Layer::convertPointTo(QPointF point, const Layer* to) const {
    if (!to) {
        return transformToHost(this).map(point);
    }
    return to->convertPoint(point, this);
}

QRectF Layer::convertRect(const QRectF& rect, const Layer* from) const {
    bool invertible = false;
    const QTransform toThis = transformToHost(this).inverted(&invertible);
    if (!invertible) {
        return {};
    }
    return (transformToHost(from) * toThis).mapRect(rect);
}

bool Layer::containsPoint(QPointF point) const {
    return point.x() >= bounds_.left() && point.x() < bounds_.left() + bounds_.width() &&
           point.y() >= bounds_.top() && point.y() < bounds_.top() + bounds_.height();
}

Layer* Layer::hitTest(QPointF pointInSuperlayer) {
    if (hidden_) {
        return nullptr;
    }
    const QPointF local = convertPointFromSuperlayer(pointInSuperlayer);
    const bool inside = containsPoint(local);
    if (masksToBounds_ && !inside) {
        return nullptr;
    }
    const auto& order = sublayersInPaintOrder();
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        if (Layer* hit = (*it)->hitTest(local)) {
            return hit;
        }
    }
    return inside ? this : nullptr;
}

// ---- animations

template <typename T>
T Layer::presentation(const std::optional<Animation<T>>& animation, const T& model, double now) const {
    if (!animation || now >= animation->begin + animation->duration) {
        return model;
    }
    const double t = std::clamp((now - animation->begin) / animation->duration, 0.0, 1.0);
    return lerp(animation->from, animation->to, ease(t, animation->timing));
}

QPointF Layer::presentationPosition() const {
    return presentationPosition(LayerClock::now());
}
QRectF Layer::presentationBounds() const {
    return presentationBounds(LayerClock::now());
}
double Layer::presentationOpacity() const {
    return presentationOpacity(LayerClock::now());
}

QPointF Layer::presentationPosition(double now) const {
    return presentation(positionAnimation_, position_, now);
}
QRectF Layer::presentationBounds(double now) const {
    return presentation(boundsAnimation_, bounds_, now);
}
double Layer::presentationOpacity(double now) const {
    return presentation(opacityAnimation_, opacity_, now);
}

QTransform Layer::presentationTransformToSuperlayer(double now) const {
    return transformToSuperlayer(presentationPosition(now), presentationBounds(now));
}

bool Layer::hasAnimation(AnimationKey key) const {
    const double now = LayerClock::now();
    auto running = [now](const auto& slot) { return slot && now < slot->begin + slot->duration; };
    switch (key) {
    case AnimationKey::position:
        return running(positionAnimation_);
    case AnimationKey::bounds:
        return running(boundsAnimation_);
    case AnimationKey::opacity:
        return running(opacityAnimation_);
    }
    return false;
}

bool Layer::hasAnimations() const {
    return hasAnimation(AnimationKey::position) || hasAnimation(AnimationKey::bounds) ||
           hasAnimation(AnimationKey::opacity);
}

void Layer::removeAnimation(AnimationKey key) {
    switch (key) {
    case AnimationKey::position:
        positionAnimation_.reset();
        break;
    case AnimationKey::bounds:
        boundsAnimation_.reset();
        break;
    case AnimationKey::opacity:
        opacityAnimation_.reset();
        break;
    }
    notifyChanged(false);
}

void Layer::removeAllAnimations() {
    if (!positionAnimation_ && !boundsAnimation_ && !opacityAnimation_) {
        return;
    }
    positionAnimation_.reset();
    boundsAnimation_.reset();
    opacityAnimation_.reset();
    notifyChanged(false);
}

bool Layer::updateAnimations(double now) {
    auto update = [now](auto& slot) {
        if (slot && now >= slot->begin + slot->duration) {
            slot.reset();
        }
        return slot.has_value();
    };
    const bool position = update(positionAnimation_);
    const bool bounds = update(boundsAnimation_);
    const bool opacity = update(opacityAnimation_);
    return position || bounds || opacity;
}

bool Layer::subtreeHasAnimations() const {
    if (hasAnimations()) {
        return true;
    }
    return std::any_of(sublayers_.begin(), sublayers_.end(),
                       [](const auto& child) { return child->subtreeHasAnimations(); });
}

} // namespace platform::layers
