// TiledTextLayer: shows a long laid-out text through fixed-height tiles rendered on demand.
#pragma once

#include "platform/layers/Layer.h"

#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace platform::layers {

class TileCache;

// A laid-out piece of text that can paint any horizontal band of itself. The prompter hands in the same
// layouts it measured with, so the tiles show exactly what was measured.
class TextLayoutSource {
public:
    virtual ~TextLayoutSource() = default;
    // Size of the laid-out text in points.
    virtual QSizeF size() const = 0;
    // Paints what lies inside `rect`, in text coordinates: points, origin at the text's top-left, y down.
    // The painter is set up that way already and clipped to `rect`; it targets a layerMetricsDevice()-like
    // image (72 dpi), so layouts measured against layerMetricsDevice() draw at their measured size.
    virtual void paint(QPainter& painter, const QRectF& rect) const = 0;
};

// Draws its source from the visual top-left of its bounds, in tiles of `tileHeight` points spanning the
// source's width. Only tiles that intersect the painted area are rendered, at `contentsScale` pixels
// per point, and kept in a TileCache (by default TileCache::shared(), bounded by bytes, least recently
// used first out). setNeedsDisplay() or a new source drops this layer's tiles; destroying the layer too.
class TiledTextLayer : public Layer {
public:
    TiledTextLayer();
    ~TiledTextLayer() override;

    const std::shared_ptr<const TextLayoutSource>& source() const { return source_; }
    void setSource(std::shared_ptr<const TextLayoutSource> source);
    double tileHeight() const { return tileHeight_; }
    // At least 16 points.
    void setTileHeight(double points);
    const std::shared_ptr<TileCache>& tileCache() const { return cache_; }
    // Null selects the shared cache.
    void setTileCache(std::shared_ptr<TileCache> cache);

    // Tiles rendered so far (for tests and diagnostics).
    int tilesRendered() const { return tilesRendered_; }
    // Whether a tile drawn one to one puts down only its inked bands (on by default; off draws whole
    // tiles, for comparison). The pixels are the same: blending a clear pixel changes nothing.
    bool skipsClearAreas() const { return skipsClearAreas_; }
    void setSkipsClearAreas(bool skips) { skipsClearAreas_ = skips; }

protected:
    void paintContent(QPainter& painter, const QRectF& bounds, const QRectF& visible) override;
    void didMarkForDisplay() override;

private:
    QImage renderTile(int index, double scale, QSizeF sourceSize);
    // The inked bands of a tile, in its pixels; made once per rendered tile.
    const std::vector<QRect>& inkOf(int index, int scaleMilli, const QImage& tile);
    bool drawsInkOnly(QPainter& painter, const QRectF& target, const QImage& tile,
                      const std::vector<QRect>& ink) const;

    std::shared_ptr<const TextLayoutSource> source_;
    std::shared_ptr<TileCache> cache_;
    double tileHeight_ = 256;
    std::uint64_t generation_ = 0;
    int tilesRendered_ = 0;
    bool skipsClearAreas_ = true;
    // By tile index and scale (× 1000), for the current generation.
    std::map<std::pair<int, int>, std::vector<QRect>> ink_;
};

} // namespace platform::layers
