#include "platform/layers/LayerRenderer.h"

#include "platform/layers/Layer.h"
#include "platform/layers/Transaction.h"

#include <QPainter>
#include <QPainterPath>

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

} // namespace

// Walks the tree; a friend of Layer.
class LayerRendererWalk {
public:
    static void paint(Frame& frame, Layer& layer, const QRectF& deviceClip, double parentOpacity);
};

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
                painter.fillPath(roundedPath(bounds, radius), layer.backgroundColor_);
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
        const double w = layer.borderWidth_;
        const QRectF inner = bounds.adjusted(w / 2, w / 2, -w / 2, -w / 2);
        QPen pen(layer.borderColor_, w);
        pen.setJoinStyle(Qt::MiterJoin);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        if (radius > 0) {
            painter.drawRoundedRect(inner, std::max(0.0, radius - w / 2), std::max(0.0, radius - w / 2));
        } else {
            painter.drawRect(inner);
        }
    }
    painter.restore();
}

bool LayerRenderer::render(QPainter& painter, Layer& root, const QRectF& deviceClip, double now) {
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
    QImage image(QSize(qRound(size.width() * ratio), qRound(size.height() * ratio)),
                 QImage::Format_ARGB32_Premultiplied);
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
