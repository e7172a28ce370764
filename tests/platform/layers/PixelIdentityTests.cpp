// Shortcuts that put down pixels another way than blending a cached picture must give the same image.
#include "LayerTestSupport.h"

#include "platform/layers/GradientLayer.h"
#include "platform/layers/Layer.h"
#include "platform/layers/LayerRenderer.h"
#include "platform/layers/TileCache.h"
#include "platform/layers/TiledTextLayer.h"

#include <gtest/gtest.h>

#include <QPainter>
#include <QPainterPath>

#include <functional>

using namespace platform::layers;

namespace {

// A gradient painted the general way: its cached picture blended into the frame.
class PictureGradient : public GradientLayer {
protected:
    void paintContent(QPainter& painter, const QRectF& bounds, const QRectF& visible) override {
        Layer::paintContent(painter, bounds, visible);
    }
};

// Every colour and alpha somewhere, so that each blend shows its rounding.
QImage noise(QSize size) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    unsigned seed = 12345;
    for (int y = 0; y < size.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            seed = seed * 1103515245u + 12345u;
            const int a = (y % 3 == 0) ? 255 : static_cast<int>((seed >> 24) & 0xff);
            const auto c = [&](int shift) { return static_cast<int>((seed >> shift) & 0xff) * a / 255; };
            line[x] = qRgba(c(4), c(10), c(16), a);
        }
    }
    return image;
}

std::shared_ptr<Layer> noiseBackground(QSize size) {
    auto root = layertest::box(QRectF(QPointF(0, 0), QSizeF(size)));
    root->setContents(noise(size));
    return root;
}

template <typename Gradient>
std::shared_ptr<Gradient> gradient(const QRectF& frame, const QList<QColor>& colors,
                                   QPointF start = QPointF(0.5, 0), QPointF end = QPointF(0.5, 1)) {
    auto layer = std::make_shared<Gradient>();
    layer->setAnchorPoint(QPointF(0, 0));
    layer->setFrame(frame);
    layer->setColors(colors);
    layer->setStartPoint(start);
    layer->setEndPoint(end);
    layer->setMasksToBounds(true);
    return layer;
}

// Renders the same scene with the shortcut and with plain picture blending, and wants equal pixels.
void expectSamePixels(const std::function<void(Layer& root, bool general)>& build,
                      QSize size = QSize(120, 300), double ratio = 1.0) {
    auto fast = noiseBackground(size * ratio);
    fast->setContentsScale(ratio);
    build(*fast, false);
    auto general = noiseBackground(size * ratio);
    general->setContentsScale(ratio);
    build(*general, true);
    const QImage a = LayerRenderer::renderToImage(*fast, size, ratio, Qt::darkCyan);
    const QImage b = LayerRenderer::renderToImage(*general, size, ratio, Qt::darkCyan);
    ASSERT_EQ(a.size(), b.size());
    int differing = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            differing += a.pixel(x, y) != b.pixel(x, y) ? 1 : 0;
        }
    }
    EXPECT_EQ(differing, 0);
}

void addFades(Layer& root, bool general, const QRectF& upper, const QRectF& lower,
              const QList<QColor>& colors, const QList<double>& locations = {}) {
    const auto add = [&](const QRectF& frame, QPointF start, QPointF end) {
        std::shared_ptr<GradientLayer> layer = general ? gradient<PictureGradient>(frame, colors, start, end)
                                                       : gradient<GradientLayer>(frame, colors, start, end);
        layer->setLocations(locations);
        root.addSublayer(layer);
    };
    add(upper, QPointF(0.5, 0), QPointF(0.5, 1));
    add(lower, QPointF(0.5, 1), QPointF(0.5, 0));
}

const QList<QColor> fadeToBlack{QColor(0, 0, 0, 0), QColor(0, 0, 0)};

} // namespace

TEST(PixelIdentity, ASolidFillInThePixelsColourBlendsLikeThePixel) {
    // Every premultiplied (alpha, value) pair, over a background of every colour and alpha.
    QImage source(256, 256, QImage::Format_ARGB32_Premultiplied);
    source.fill(Qt::transparent);
    for (int a = 0; a < 256; ++a) {
        for (int v = 0; v <= a; ++v) {
            source.setPixel(v, a, qRgba(v, (v * 7) % (a + 1), a - v, a));
        }
    }
    QImage blended = noise(source.size());
    QImage filled = blended.copy();
    {
        QPainter painter(&blended);
        painter.drawImage(0, 0, source);
    }
    {
        QPainter painter(&filled);
        for (int y = 0; y < source.height(); ++y) {
            for (int x = 0; x < source.width(); ++x) {
                painter.fillRect(QRect(x, y, 1, 1), QColor::fromRgba(qUnpremultiply(source.pixel(x, y))));
            }
        }
    }
    EXPECT_TRUE(blended == filled);
}

TEST(PixelIdentity, VerticalFadesOnWholePixels) {
    expectSamePixels([](Layer& root, bool general) {
        addFades(root, general, QRectF(0, 200, 120, 100), QRectF(0, 0, 120, 120), fadeToBlack);
    });
}

TEST(PixelIdentity, VerticalFadeKeepsNoPictureOfItsSize) {
    // At 4K a fade band's picture is 13 MB; its rows are all the shortcut needs.
    struct Inspectable : GradientLayer {
        using GradientLayer::cachedImage;
    };
    auto root = noiseBackground(QSize(120, 300));
    auto fade = gradient<Inspectable>(QRectF(0, 100, 120, 200), fadeToBlack);
    root->addSublayer(fade);
    (void)LayerRenderer::renderToImage(*root, QSize(120, 300));
    EXPECT_TRUE(fade->cachedImage().isNull());
}

TEST(PixelIdentity, VerticalFadesBetweenPixels) {
    // Bands starting and ending inside a pixel row, as at window sizes that do not divide evenly.
    for (const double y : {0.25, 0.5, 0.75}) {
        expectSamePixels([y](Layer& root, bool general) {
            addFades(root, general, QRectF(0, 180 + y, 120, 120 - y), QRectF(0, 0, 120, 97.5 + y),
                     fadeToBlack);
        });
    }
}

TEST(PixelIdentity, ManyStopsTranslucentColoursAndTallBands) {
    // Taller than 256 rows: every alpha of the fade, and runs of equal rows.
    expectSamePixels(
        [](Layer& root, bool general) {
            addFades(
                root, general, QRectF(0, 300.5, 70, 599.5), QRectF(3, 0, 64, 299.5),
                {QColor(255, 0, 0, 10), QColor(0, 255, 0, 128), QColor(30, 60, 255, 255), QColor(0, 0, 0, 0)},
                {0.0, 0.1, 0.7, 1.0});
        },
        QSize(70, 900));
    expectSamePixels([](Layer& root, bool general) {
        addFades(root, general, QRectF(0, 150, 120, 150), QRectF(0, 0, 120, 150), {QColor(200, 100, 50, 77)});
    });
}

TEST(PixelIdentity, ShapesTheShortcutDoesNotTakeStayUnchanged) {
    // A slanted gradient, a partly covered last column, a mirrored band, a translucent parent, a rounded
    // mask, a high pixel ratio.
    expectSamePixels([](Layer& root, bool general) {
        addFades(root, general, QRectF(0, 150, 120, 150), QRectF(0, 0, 119.5, 150), fadeToBlack);
        auto slanted =
            general
                ? gradient<PictureGradient>(QRectF(10, 10, 50, 50), fadeToBlack, QPointF(0, 0), QPointF(1, 1))
                : gradient<GradientLayer>(QRectF(10, 10, 50, 50), fadeToBlack, QPointF(0, 0), QPointF(1, 1));
        root.addSublayer(slanted);
    });
    expectSamePixels([](Layer& root, bool general) {
        auto parent = layertest::box(QRectF(5, 5, 110, 290));
        parent->setOpacity(0.6);
        addFades(*parent, general, QRectF(0, 150, 110, 140), QRectF(0, 0, 110, 140), fadeToBlack);
        root.addSublayer(parent);
    });
    expectSamePixels([](Layer& root, bool general) {
        auto parent = layertest::box(QRectF(5, 5, 110, 290));
        parent->setMasksToBounds(true);
        parent->setCornerRadius(20);
        parent->setMirroring(false, true);
        addFades(*parent, general, QRectF(0, 150, 110, 140), QRectF(0, 0, 110, 140), fadeToBlack);
        root.addSublayer(parent);
    });
    for (const double ratio : {2.0, 1.5}) {
        expectSamePixels(
            [ratio](Layer& root, bool general) {
                addFades(root, general, QRectF(0, 200.5, 120, 99.5), QRectF(0, 0, 120, 120), fadeToBlack);
                for (const auto& layer : root.sublayers()) {
                    layer->setContentsScale(ratio);
                }
            },
            QSize(120, 300), ratio);
    }
}

namespace {

struct RoundedBox {
    QRectF frame;
    double radius;
    QColor fill;
    double borderWidth;
    QColor border;
};

// The rounded boxes drawn straight with QPainter, as a layer's background and border are, over `under`.
QImage drawnRoundedBoxes(const QImage& under, const std::vector<RoundedBox>& boxes, bool mirrored) {
    QImage image = under.copy();
    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                           QPainter::SmoothPixmapTransform);
    painter.translate(0, image.height());
    painter.scale(1, -1);
    if (mirrored) {
        painter.translate(image.width(), 0);
        painter.scale(-1, 1);
    }
    for (const RoundedBox& b : boxes) {
        painter.save();
        painter.translate(b.frame.x(), b.frame.y());
        const QRectF bounds(QPointF(0, 0), b.frame.size());
        const double r = std::min(b.radius, std::min(bounds.width(), bounds.height()) / 2);
        QPainterPath path;
        path.addRoundedRect(bounds, r, r);
        painter.fillPath(path, b.fill);
        const double w = b.borderWidth;
        QPen pen(b.border, w);
        pen.setJoinStyle(Qt::MiterJoin);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        const double inner = std::max(0.0, r - w / 2);
        painter.drawRoundedRect(bounds.adjusted(w / 2, w / 2, -w / 2, -w / 2), inner, inner);
        painter.restore();
    }
    return image;
}

std::shared_ptr<Layer> roundedLayer(const RoundedBox& b) {
    auto layer = layertest::box(b.frame, b.fill);
    layer->setCornerRadius(b.radius);
    layer->setBorderWidth(b.borderWidth);
    layer->setBorderColor(b.border);
    layer->setMasksToBounds(true);
    return layer;
}

void expectRoundedBoxesLikeDrawn(const std::vector<RoundedBox>& boxes, bool mirrored = false) {
    const QSize size(200, 500);
    auto root = noiseBackground(size);
    const QImage under = LayerRenderer::renderToImage(*root, size, 1.0, Qt::darkCyan);
    auto parent = layertest::box(QRectF(QPointF(0, 0), QSizeF(size)));
    parent->setMirroring(mirrored, false);
    root->addSublayer(parent);
    for (const RoundedBox& b : boxes) {
        parent->addSublayer(roundedLayer(b));
    }
    // Twice: the first frame draws the shapes, the second copies them.
    for (int frame = 0; frame < 2; ++frame) {
        const QImage rendered = LayerRenderer::renderToImage(*root, size, 1.0, Qt::darkCyan);
        EXPECT_TRUE(rendered == drawnRoundedBoxes(under, boxes, mirrored)) << "frame " << frame;
    }
}

const QColor halfBlack = QColor::fromRgbF(0, 0, 0, 0.5);
const QColor halfRed = QColor::fromRgbF(1, 0, 0, 0.5);

} // namespace

TEST(PixelIdentity, TilesDrawnByTheirInkedBandsOnly) {
    // Lines of anti-aliased text of several colours, some translucent, with clear rows and margins.
    class Lines : public TextLayoutSource {
    public:
        QSizeF size() const override { return {110, 700}; }
        void paint(QPainter& painter, const QRectF&) const override {
            const QColor colors[] = {Qt::yellow, QColor(0, 200, 255, 140), Qt::white};
            for (int line = 0; line < 20; ++line) {
                painter.setPen(colors[line % 3]);
                painter.drawText(QPointF(5 + line % 4 * 7, 30 + line * 34), QStringLiteral("Read it aloud"));
            }
        }
    };
    for (const double y : {-200.0, -233.4}) { // whole pixels, then between them (drawn whole)
        expectSamePixels([y](Layer& root, bool general) {
            auto text = std::make_shared<TiledTextLayer>();
            text->setAnchorPoint(QPointF(0, 0));
            text->setFrame(QRectF(5, y, 110, 700));
            text->setSource(std::make_shared<Lines>());
            text->setTileHeight(64);
            text->setTileCache(std::make_shared<TileCache>(8 << 20));
            text->setSkipsClearAreas(!general);
            root.addSublayer(text);
        });
    }
}

// Rounded controls on whole pixels, between them, and mirrored, as QPainter draws them.
TEST(PixelIdentity, RoundedControls) {
    expectRoundedBoxesLikeDrawn(
        {{QRectF(124, 52, 66, 396), 4, halfBlack, 1, Qt::red},
         {QRectF(10, 10, 66, 66), 4, halfBlack, 1, Qt::red},
         {QRectF(10, 96, 66, 66), 4, halfRed, 1, Qt::red},
         {QRectF(20, 300, 150, 75), 6, QColor(10, 200, 30, 77), 3, halfRed},
         {QRectF(90, 200, 20, 9), 30, QColor(255, 255, 255, 1), 2.5, QColor(0, 0, 255, 254)}});
    expectRoundedBoxesLikeDrawn({{QRectF(124.5, 52, 66, 396), 4, halfBlack, 1, Qt::red},
                                 {QRectF(10, 10.25, 66, 66), 4, halfBlack, 1, Qt::red},
                                 {QRectF(10, 96, 65.5, 66), 4, halfRed, 1, Qt::red}});
    expectRoundedBoxesLikeDrawn({{QRectF(124, 52, 66, 396), 4, halfBlack, 1, Qt::red},
                                 {QRectF(20, 300, 150, 75), 6, QColor(10, 200, 30, 77), 3, halfRed}},
                                /*mirrored=*/true);
}

TEST(PixelIdentity, SquareBordersFilledOnWholePixelsStrokedBetween) {
    struct Border {
        QRectF frame;
        double width;
        QColor color;
    };
    // The view's frame border, controls' borders, and ones between pixels (stroked as before).
    const std::vector<Border> borders{
        {QRectF(1, 1, 198, 498), 1, Qt::darkGray}, {QRectF(10, 10, 66, 66), 1, Qt::red},
        {QRectF(20, 300, 150, 75), 3, halfRed},    {QRectF(90, 200, 20, 9), 2, QColor(0, 0, 255, 254)},
        {QRectF(124.5, 52, 66, 96), 1, Qt::red},   {QRectF(10, 96.25, 66, 66), 1.5, Qt::red}};
    for (const bool mirrored : {false, true}) {
        const QSize size(200, 500);
        auto root = noiseBackground(size);
        QImage expected = LayerRenderer::renderToImage(*root, size, 1.0, Qt::darkCyan);
        auto parent = layertest::box(QRectF(QPointF(0, 0), QSizeF(size)));
        parent->setMirroring(mirrored, false);
        root->addSublayer(parent);
        QPainter painter(&expected);
        painter.setRenderHints(QPainter::Antialiasing);
        painter.translate(mirrored ? size.width() : 0, size.height());
        painter.scale(mirrored ? -1 : 1, -1);
        for (const Border& b : borders) {
            auto layer = layertest::box(b.frame);
            layer->setBorderWidth(b.width);
            layer->setBorderColor(b.color);
            parent->addSublayer(layer);
            // As the renderer strokes a border.
            QPen pen(b.color, b.width);
            pen.setJoinStyle(Qt::MiterJoin);
            painter.setPen(pen);
            painter.setBrush(Qt::NoBrush);
            const double w = b.width / 2;
            painter.drawRect(QRectF(b.frame.topLeft(), b.frame.size()).adjusted(w, w, -w, -w));
        }
        painter.end();
        EXPECT_TRUE(LayerRenderer::renderToImage(*root, size, 1.0, Qt::darkCyan) == expected) << mirrored;
    }
}

TEST(PixelIdentity, RoundedControlsFollowTheirColourAndSize) {
    const QSize size(200, 500);
    auto root = noiseBackground(size);
    const QImage under = LayerRenderer::renderToImage(*root, size, 1.0, Qt::darkCyan);
    RoundedBox b{QRectF(10, 10, 66, 66), 4, halfBlack, 1, Qt::red};
    auto layer = roundedLayer(b);
    root->addSublayer(layer);
    LayerRenderer::renderToImage(*root, size, 1.0, Qt::darkCyan);

    b.fill = halfRed;
    b.border = Qt::green;
    layer->setBackgroundColor(b.fill);
    layer->setBorderColor(b.border);
    EXPECT_TRUE(LayerRenderer::renderToImage(*root, size, 1.0, Qt::darkCyan) ==
                drawnRoundedBoxes(under, {b}, false));
    b.frame = QRectF(10, 10, 80, 40);
    layer->setFrame(b.frame);
    EXPECT_TRUE(LayerRenderer::renderToImage(*root, size, 1.0, Qt::darkCyan) ==
                drawnRoundedBoxes(under, {b}, false));
}
