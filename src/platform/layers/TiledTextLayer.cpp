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
    ink_.clear();
}

// Bands of rows (at most `bandRows` tall, clear rows left out), each as wide as the ink on its rows.
static std::vector<QRect> inkBands(const QImage& tile) {
    constexpr int bandRows = 16;
    std::vector<QRect> bands;
    QRect band;
    const int width = tile.width();
    for (int y = 0; y < tile.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(tile.constScanLine(y));
        int left = 0;
        while (left < width && line[left] == 0) {
            ++left;
        }
        if (left == width || (band.isValid() && band.height() == bandRows)) {
            if (band.isValid()) {
                bands.push_back(band);
            }
            band = QRect();
        }
        if (left == width) {
            continue;
        }
        int right = width - 1;
        while (line[right] == 0) {
            --right;
        }
        const QRect row(left, y, right - left + 1, 1);
        band = band.isValid() ? band.united(row) : row;
    }
    if (band.isValid()) {
        bands.push_back(band);
    }
    return bands;
}

const std::vector<QRect>& TiledTextLayer::inkOf(int index, int scaleMilli, const QImage& tile) {
    auto it = ink_.find({index, scaleMilli});
    if (it == ink_.end()) {
        it = ink_.emplace(std::make_pair(index, scaleMilli), inkBands(tile)).first;
    }
    return it->second;
}

bool TiledTextLayer::drawsInkOnly(QPainter& painter, const QRectF& target, const QImage& tile,
                                  const std::vector<QRect>& ink) const {
    // Leaving clear pixels out changes nothing only where they would blend in as they are.
    if (!skipsClearAreas_ || painter.compositionMode() != QPainter::CompositionMode_SourceOver ||
        isPaintingUnderSoftClip() || !canDrawImages(painter)) {
        return false;
    }
    const std::optional<QPoint> origin = uprightImageDeviceOrigin(painter, target, tile);
    if (!origin) {
        return false;
    }
    painter.save();
    painter.resetTransform();
    for (const QRect& band : ink) {
        painter.drawImage(*origin + band.topLeft(), tile, band);
    }
    painter.restore();
    return true;
}

QImage TiledTextLayer::renderTile(int index, double scale, QSizeF sourceSize) {
    const double top = index * tileHeight_;
    const double height = std::min(tileHeight_, sourceSize.height() - top);
    const QSizeF points(sourceSize.width(), height);
    const QSize pixels = layerImagePixels(points, scale);
    QImage tile = cache_->reclaim(pixels, static_cast<std::size_t>(pixels.width()) * pixels.height() * 4);
    tile = tile.isNull() ? makeLayerImage(points, scale) : resetLayerImage(std::move(tile), scale);
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
            ink_.erase({index, key.scaleMilli});
            cache_->insert(key, tile);
        }
        const double tileTop = index * tileHeight_;
        const double tileHeight = std::min(tileHeight_, sourceSize.height() - tileTop);
        const QRectF target(bounds.left(), top - tileTop - tileHeight, sourceSize.width(), tileHeight);
        if (tile.isNull() || !drawsInkOnly(painter, target, tile, inkOf(index, key.scaleMilli, tile))) {
            drawImageUpright(painter, target, tile);
        }
    }
}

} // namespace platform::layers
