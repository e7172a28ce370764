#include "platform/layers/TiledTextLayer.h"

#include "platform/layers/LayerPainting.h"
#include "platform/layers/TileCache.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace platform::layers {

TiledTextLayer::TiledTextLayer()
    : cache_(TileCache::shared()) {}

TiledTextLayer::~TiledTextLayer() {
    cache_->removeOwner(id());
}

void TiledTextLayer::setSource(std::shared_ptr<const TextLayoutSource> source) {
    source_ = std::move(source);
    setNeedsDisplay();
}

void TiledTextLayer::setTileHeight(double points) {
    points = std::max(16.0, points);
    if (points == tileHeight_) {
        return;
    }
    tileHeight_ = points;
    setNeedsDisplay();
}

void TiledTextLayer::setTileCache(std::shared_ptr<TileCache> cache) {
    if (!cache) {
        cache = TileCache::shared();
    }
    if (cache == cache_) {
        return;
    }
    cache_->removeOwner(id());
    cache_ = std::move(cache);
    setNeedsRedraw();
}

void TiledTextLayer::didMarkForDisplay() {
    ++generation_;
    cache_->removeOwner(id());
}

QImage TiledTextLayer::renderTile(int index, double scale, QSizeF sourceSize) {
    const double top = index * tileHeight_;
    const double height = std::min(tileHeight_, sourceSize.height() - top);
    QImage tile = makeLayerImage(QSizeF(sourceSize.width(), height), scale);
    if (tile.isNull()) {
        return tile;
    }
    QPainter painter(&tile);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    painter.translate(0, -top);
    const QRectF rect(0, top, sourceSize.width(), height);
    painter.setClipRect(rect);
    source_->paint(painter, rect);
    ++tilesRendered_;
    return tile;
}

void TiledTextLayer::paintContent(QPainter& painter, const QRectF& bounds, const QRectF& visible) {
    clearNeedsDisplay();
    if (!source_ || visible.isEmpty()) {
        return;
    }
    const QSizeF sourceSize = source_->size();
    if (sourceSize.isEmpty()) {
        return;
    }
    // Source y runs down from the bounds' visual top (the maximum y).
    const double top = bounds.top() + bounds.height();
    const double visibleTop = std::clamp(top - (visible.top() + visible.height()), 0.0, sourceSize.height());
    const double visibleBottom = std::clamp(top - visible.top(), 0.0, sourceSize.height());
    if (visibleBottom <= visibleTop) {
        return;
    }
    const int first = static_cast<int>(std::floor(visibleTop / tileHeight_));
    const int last = static_cast<int>(std::ceil(visibleBottom / tileHeight_)) - 1;
    const double scale = contentsScale();
    for (int index = first; index <= last; ++index) {
        const TileKey key{id(), generation_, index, static_cast<int>(std::lround(scale * 1000))};
        QImage tile;
        if (auto cached = cache_->find(key)) {
            tile = std::move(*cached);
        } else {
            tile = renderTile(index, scale, sourceSize);
            cache_->insert(key, tile);
        }
        const double tileTop = index * tileHeight_;
        const double tileHeight = std::min(tileHeight_, sourceSize.height() - tileTop);
        const QRectF target(bounds.left(), top - tileTop - tileHeight, sourceSize.width(), tileHeight);
        drawImageUpright(painter, target, tile);
    }
}

} // namespace platform::layers
