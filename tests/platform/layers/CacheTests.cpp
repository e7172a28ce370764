// Drawing caches: layers redraw only when marked; tiles render lazily and stay under the byte cap.
#include "LayerTestSupport.h"

#include "platform/layers/Layer.h"
#include "platform/layers/LayerRenderer.h"
#include "platform/layers/TextLayer.h"
#include "platform/layers/TileCache.h"
#include "platform/layers/TiledTextLayer.h"

#include <gtest/gtest.h>

#include <QPainter>

using namespace platform::layers;
using layertest::at;
using layertest::box;

namespace {

class CountingLayer : public Layer {
public:
    int draws = 0;

protected:
    void draw(QPainter& painter) override {
        ++draws;
        painter.fillRect(bounds(), Qt::red);
    }
};

std::shared_ptr<CountingLayer> counting(const QRectF& frame) {
    auto layer = std::make_shared<CountingLayer>();
    layer->setAnchorPoint(QPointF(0, 0));
    layer->setFrame(frame);
    return layer;
}

QImage render(Layer& root, QSize size = QSize(100, 100)) {
    return LayerRenderer::renderToImage(root, size, 1.0, Qt::black);
}

// Moving, fading and resizing reuse the cached picture (stretched); only a mark redraws it, or a
// resize when the layer asks for that.
TEST(DrawCache, ALayerRedrawsOnlyWhenMarked) {
    auto root = box(QRectF(0, 0, 100, 100));
    auto layer = counting(QRectF(0, 0, 50, 50));
    root->addSublayer(layer);
    render(*root);
    EXPECT_EQ(layer->draws, 0); // never marked: nothing drawn

    layer->setNeedsDisplay();
    render(*root);
    render(*root);
    EXPECT_EQ(layer->draws, 1);

    layer->setPosition(QPointF(10, 10));
    layer->setOpacity(0.5);
    EXPECT_NEAR(at(render(*root), 20, 20).red(), 128, 2);
    EXPECT_EQ(layer->draws, 1);

    layer->setOpacity(1);
    layer->setFrame(QRectF(0, 0, 100, 100));
    EXPECT_COLOR(at(render(*root), 90, 90), QColor(Qt::red));
    EXPECT_EQ(layer->draws, 1);

    layer->setNeedsDisplay();
    render(*root);
    EXPECT_EQ(layer->draws, 2);
    layer->setNeedsDisplayOnBoundsChange(true);
    layer->setFrame(QRectF(0, 0, 80, 80));
    render(*root);
    EXPECT_EQ(layer->draws, 3);
}

TEST(DrawCache, HiddenAndOffscreenLayersDoNotDraw) {
    auto root = box(QRectF(0, 0, 100, 100));
    root->setMasksToBounds(true);
    auto offscreen = counting(QRectF(0, 500, 50, 50));
    auto hidden = counting(QRectF(0, 0, 50, 50));
    hidden->setHidden(true);
    for (const auto& layer : {offscreen, hidden}) {
        layer->setNeedsDisplay();
        root->addSublayer(layer);
    }
    render(*root);
    EXPECT_EQ(offscreen->draws, 0);
    EXPECT_EQ(hidden->draws, 0);

    offscreen->setFrame(QRectF(0, 0, 50, 50)); // scrolled into view: drawn now
    render(*root);
    EXPECT_EQ(offscreen->draws, 1);
}

TEST(DrawCache, TextLayersRedrawOnRealChangesOnly) {
    auto root = box(QRectF(0, 0, 100, 100));
    auto text = std::make_shared<TextLayer>();
    text->setFrame(QRectF(0, 0, 100, 100));
    text->setString(QStringLiteral("50 %"));
    root->addSublayer(text);
    render(*root);
    EXPECT_EQ(text->displayCount(), 1);
    text->setString(QStringLiteral("50 %"));
    text->setForegroundColor(text->foregroundColor());
    render(*root);
    EXPECT_EQ(text->displayCount(), 1);
    text->setString(QStringLiteral("51 %"));
    render(*root);
    EXPECT_EQ(text->displayCount(), 2);
}

TEST(TileCache, DropsTheLeastRecentlyUsedTileFirst) {
    QImage tile(10, 10, QImage::Format_ARGB32_Premultiplied); // 400 bytes
    TileCache cache(1000);
    cache.insert(TileKey{1, 0, 0, 1000}, tile);
    cache.insert(TileKey{1, 0, 1, 1000}, tile);
    EXPECT_TRUE(cache.find(TileKey{1, 0, 0, 1000})); // tile 0 is now the most recent
    cache.insert(TileKey{1, 0, 2, 1000}, tile);
    EXPECT_EQ(cache.tileCount(), 2u);
    EXPECT_FALSE(cache.find(TileKey{1, 0, 1, 1000}));
    EXPECT_TRUE(cache.find(TileKey{1, 0, 0, 1000}));
    EXPECT_LE(cache.bytesUsed(), cache.byteLimit());

    QImage huge(100, 100, QImage::Format_ARGB32_Premultiplied);
    cache.insert(TileKey{2, 0, 0, 1000}, huge); // larger than the cap: not kept, nothing evicted
    EXPECT_EQ(cache.tileCount(), 2u);

    cache.removeOwner(1);
    EXPECT_EQ(cache.tileCount(), 0u);
    EXPECT_EQ(cache.bytesUsed(), 0u);
}

// A tall "text" of horizontal bands: band n (40 points high from the top) is red when n is even.
class StripedSource : public TextLayoutSource {
public:
    explicit StripedSource(QSizeF size)
        : size_(size) {}
    QSizeF size() const override { return size_; }
    void paint(QPainter& painter, const QRectF& rect) const override {
        ++paints;
        const int first = static_cast<int>(rect.top() / 40);
        const int last = static_cast<int>(rect.bottom() / 40);
        for (int band = first; band <= last; ++band) {
            painter.fillRect(QRectF(0, band * 40, size_.width(), 40), band % 2 == 0 ? Qt::red : Qt::blue);
        }
    }
    mutable int paints = 0;

private:
    QSizeF size_;
};

class TiledText : public ::testing::Test {
protected:
    void SetUp() override {
        root = box(QRectF(0, 0, 200, 300));
        root->setMasksToBounds(true);
        scroll = box(QRectF(0, 0, 200, 300));
        root->addSublayer(scroll);
        text = std::make_shared<TiledTextLayer>();
        text->setAnchorPoint(QPointF(0, 0));
        text->setFrame(QRectF(0, 300 - 20000, 200, 20000)); // its top at the view's top
        text->setSource(source);
        text->setTileHeight(100);
        text->setTileCache(cache);
        scroll->addSublayer(text);
    }
    // Scrolls so that `offset` points of text have passed the top edge.
    QImage showAt(double offset) {
        scroll->setPosition(QPointF(0, offset));
        return render(*root, QSize(200, 300));
    }

    std::shared_ptr<StripedSource> source = std::make_shared<StripedSource>(QSizeF(200, 20000));
    std::shared_ptr<TileCache> cache = std::make_shared<TileCache>(1024 * 1024);
    std::shared_ptr<Layer> root;
    std::shared_ptr<Layer> scroll;
    std::shared_ptr<TiledTextLayer> text;
};

// Only the visible tiles render, once, and show the part of the text that is scrolled into view.
TEST_F(TiledText, RendersOnlyTheVisibleTilesOnce) {
    QImage image = showAt(0);
    EXPECT_EQ(text->tilesRendered(), 3);                 // 300 points of 100-point tiles
    EXPECT_COLOR(at(image, 100, 299), QColor(Qt::red));  // band 0 at the top
    EXPECT_COLOR(at(image, 100, 250), QColor(Qt::blue)); // band 1 (40...80 from the top)
    showAt(0);
    EXPECT_EQ(text->tilesRendered(), 3);
    EXPECT_EQ(cache->hits(), 3u);

    image = showAt(1030); // the top edge shows text y 1030: band 25, blue, until y 1040
    EXPECT_COLOR(at(image, 100, 299), QColor(Qt::blue));
    EXPECT_COLOR(at(image, 100, 285), QColor(Qt::red)); // y 1044: band 26
    layertest::savePng(image, "tiles-scrolled");
}

TEST_F(TiledText, TheCacheStaysUnderItsCapWhileScrollingALongText) {
    // Each tile is 200 x 100 x 4 bytes = 80000 bytes; the cap holds 13 of them.
    for (double offset = 0; offset < 19700; offset += 50) {
        const QImage image = showAt(offset);
        ASSERT_LE(cache->bytesUsed(), cache->byteLimit());
        const int band = static_cast<int>((offset + 5.5) / 40);
        ASSERT_TRUE(layertest::near(at(image, 100, 294), band % 2 == 0 ? QColor(Qt::red) : QColor(Qt::blue)))
            << "offset " << offset;
    }
    EXPECT_GT(cache->evictions(), 150u);
    EXPECT_LE(cache->tileCount(), 13u);
    // New tiles were drawn into the dropped ones' pixels, not into fresh memory.
    EXPECT_GT(cache->reclaimed(), 150u);

    // Scrolling back a little finds the recent tiles still there.
    const int rendered = text->tilesRendered();
    showAt(19500);
    EXPECT_EQ(text->tilesRendered(), rendered);
}

// Marking the layer drops its tiles, and so does its leaving.
TEST_F(TiledText, SetNeedsDisplayAndRemovalDropTheTiles) {
    showAt(0);
    EXPECT_EQ(cache->tileCount(), 3u);
    text->setNeedsDisplay();
    EXPECT_EQ(cache->tileCount(), 0u);
    showAt(0);
    EXPECT_EQ(text->tilesRendered(), 6);
    text->removeFromSuperlayer();
    text.reset();
    EXPECT_EQ(cache->tileCount(), 0u);
}

TEST_F(TiledText, TilesMeetWithoutSeamsAtFractionalOffsets) {
    // A source of one colour: any seam between tiles would show a lighter line.
    class Solid : public TextLayoutSource {
    public:
        QSizeF size() const override { return {200, 20000}; }
        void paint(QPainter& painter, const QRectF& rect) const override {
            painter.fillRect(rect, Qt::white);
        }
    };
    text->setSource(std::make_shared<Solid>());
    const QImage image = showAt(33.3);
    for (int y = 0; y < 300; ++y) {
        ASSERT_TRUE(layertest::near(at(image, 100, y), QColor(Qt::white))) << "row " << y;
    }
}

} // namespace
