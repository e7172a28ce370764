#include "platform/layers/LayerHost.h"

#include "base/Log.h"
#include "dispatch/MainThreadChecker.h"
#include "platform/layers/Layer.h"
#include "platform/layers/LayerPainting.h"
#include "platform/layers/LayerRenderer.h"
#include "platform/layers/Transaction.h"

#include <QPaintEvent>
#include <QPainter>

#include <utility>

namespace platform::layers {

LayerHost::LayerHost(QWidget* parent)
    : QWidget(parent) {
    CW_DCHECK_MAIN_THREAD();
    setAttribute(Qt::WA_OpaquePaintEvent, true);
    tick_.setTimerType(Qt::PreciseTimer);
    tick_.setInterval(16);
    connect(&tick_, &QTimer::timeout, this, [this] {
        // A hidden host paints nothing, so no frame would stop the tick; showing it paints and restarts it.
        if (!isVisible()) {
            tick_.stop();
            return;
        }
        update();
    });
}

LayerHost::~LayerHost() {
    if (root_) {
        root_->host_ = nullptr;
    }
}

void LayerHost::setRootLayer(std::shared_ptr<Layer> root) {
    CW_DCHECK_MAIN_THREAD();
    if (root == root_) {
        return;
    }
    if (root && (root->superlayer() || root->host_)) {
        base::log("layer host: the root layer already belongs to a tree");
        return;
    }
    if (root_) {
        root_->host_ = nullptr;
    }
    root_ = std::move(root);
    if (root_) {
        root_->host_ = this;
        fitRoot();
    }
    layerTreeChanged(root_ && root_->subtreeHasAnimations());
}

void LayerHost::setBackgroundColor(const QColor& color) {
    if (color == background_) {
        return;
    }
    background_ = color;
    setAttribute(Qt::WA_OpaquePaintEvent, color.alpha() == 255);
    update();
}

QPointF LayerHost::hostPointFromWidget(QPointF widgetPoint) const {
    return {widgetPoint.x(), height() - widgetPoint.y()};
}

QPointF LayerHost::widgetPointFromHost(QPointF hostPoint) const {
    return {hostPoint.x(), height() - hostPoint.y()};
}

Layer* LayerHost::layerAt(QPointF widgetPoint) const {
    return root_ ? root_->hitTest(hostPointFromWidget(widgetPoint)) : nullptr;
}

QImage LayerHost::renderToImage(double devicePixelRatio) const {
    CW_DCHECK_MAIN_THREAD();
    if (!root_) {
        const QSize pixels = imagePixels(QSizeF(size()), devicePixelRatio);
        if (!imageFits(pixels)) {
            return {};
        }
        QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(devicePixelRatio);
        image.fill(background_);
        return image;
    }
    return LayerRenderer::renderToImage(*root_, size(), devicePixelRatio, background_);
}

void LayerHost::setClockedExternally(bool clocked) {
    CW_DCHECK_MAIN_THREAD();
    if (clocked == clocked_) {
        return;
    }
    clocked_ = clocked;
    if (clocked) {
        tick_.stop();
        clockedFrameTime_ = LayerClock::now();
        return;
    }
    if (std::exchange(framePending_, false)) {
        update();
    }
    if (root_ && root_->subtreeHasAnimations() && isVisible()) {
        tick_.start();
    }
}

void LayerHost::advanceFrame() {
    CW_DCHECK_MAIN_THREAD();
    // An animation that ended after the last frame's time but before now still owes its last frame.
    if (!clocked_ || (!framePending_ && !lastFrameAnimating_ && !(root_ && root_->subtreeHasAnimations()))) {
        return;
    }
    framePending_ = false;
    clockedFrameTime_ = LayerClock::now();
    update();
}

double LayerHost::frameTime() const {
    return clocked_ ? clockedFrameTime_ : LayerClock::now();
}

void LayerHost::layerTreeChanged(bool animating) {
    CW_DCHECK_MAIN_THREAD();
    if (clocked_) {
        framePending_ = true;
        return;
    }
    update();
    if (animating && isVisible() && !tick_.isActive()) {
        tick_.start();
    }
}

void LayerHost::fitRoot() {
    if (root_ && root_->frame() != QRectF(0, 0, width(), height())) {
        TransactionScope immediate;
        root_->setFrame(QRectF(0, 0, width(), height()));
    }
}

void LayerHost::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    fitRoot();
}

void LayerHost::paintEvent(QPaintEvent* event) {
    // A hidden widget gets its resize event only when shown; grab() paints it before that.
    fitRoot();
    QPainter painter(this);
    const double now = frameTime();
    // y up, the root's superlayer space.
    const QTransform hostSpace(1, 0, 0, -1, 0, height());
    // A frame whose layers begin with an opaque fill of the whole area would hide this fill: at 4K it is
    // a full-screen write saved per frame.
    if (!root_ || !LayerRenderer::coversOpaquely(*root_, hostSpace * painter.deviceTransform(),
                                                 painter.deviceTransform().mapRect(event->rect()), now)) {
        // A see-through child lies over its siblings in the window's backing store: replacing
        // the pixels would wipe them out. Only a window (or an opaque fill) replaces them.
        if (isWindow() || background_.alpha() == 255) {
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            painter.fillRect(event->rect(), background_);
            painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        } else if (background_.alpha() > 0) {
            painter.fillRect(event->rect(), background_);
        }
    }
    bool animating = false;
    if (root_) {
        painter.setClipRect(event->rect());
        painter.setTransform(hostSpace, /*combine=*/true);
        animating = LayerRenderer::render(painter, *root_, QRectF(event->rect()), now);
    }
    ++framesPainted_;
    lastFrameAnimating_ = animating;
    if (clocked_) {
        return; // the owner's clock asks for the next frame
    }
    if (!animating) {
        tick_.stop();
    } else if (!tick_.isActive()) {
        tick_.start();
    }
}

} // namespace platform::layers
