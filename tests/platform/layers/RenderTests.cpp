// Rendering into images: colours, opacity, clipping, mirroring, gradients, contents gravity, text.
#include "LayerTestSupport.h"

#include "platform/layers/GradientLayer.h"
#include "platform/layers/Layer.h"
#include "platform/layers/LayerRenderer.h"
#include "platform/layers/TextLayer.h"

#include <gtest/gtest.h>

#include <QPainter>

#include <vector>

using namespace platform::layers;
using layertest::at;
using layertest::box;

namespace {

const QColor black(0, 0, 0);
const QColor red(255, 0, 0);
const QColor green(0, 255, 0);
const QColor blue(0, 0, 255);
const QColor white(255, 255, 255);

QImage render(Layer& root, QSize size = QSize(100, 100), double ratio = 1.0) {
    return LayerRenderer::renderToImage(root, size, ratio, Qt::black);
}

// Whether any pixel of the y-up rectangle differs from the background colour.
bool hasInk(const QImage& image, const QRect& yUpRect, const QColor& background) {
    for (int y = yUpRect.top(); y <= yUpRect.bottom(); ++y) {
        for (int x = yUpRect.left(); x <= yUpRect.right(); ++x) {
            if (!layertest::near(at(image, x, y), background, 40)) {
                return true;
            }
        }
    }
    return false;
}

struct Probe {
    int x;
    int y;
    QColor color;
};

// The colours at y-up points of the image.
void expectPixels(const QImage& image, const std::vector<Probe>& probes) {
    for (const Probe& p : probes) {
        EXPECT_COLOR(at(image, p.x, p.y), p.color) << " at " << p.x << ", " << p.y;
    }
}

std::shared_ptr<TextLayer> textLayer(const QRectF& frame, const QString& string, double points,
                                     const QColor& color) {
    auto text = std::make_shared<TextLayer>();
    text->setAnchorPoint(QPointF(0, 0));
    text->setFrame(frame);
    text->setString(string);
    text->setFontSize(points);
    text->setForegroundColor(color);
    return text;
}

std::shared_ptr<GradientLayer> gradientLayer(const QRectF& frame, const QList<QColor>& colors) {
    auto gradient = std::make_shared<GradientLayer>();
    gradient->setAnchorPoint(QPointF(0, 0));
    gradient->setFrame(frame);
    gradient->setColors(colors);
    return gradient;
}

TEST(Rendering, YGrowsUpwardsAndLaterSiblingsPaintOnTop) {
    auto root = box(QRectF(0, 0, 100, 100), black);
    root->addSublayer(box(QRectF(0, 0, 50, 20), red));
    root->addSublayer(box(QRectF(0, 80, 100, 20), blue));
    auto overlapping = box(QRectF(40, 0, 20, 20), green);
    root->addSublayer(overlapping);
    const QImage image = render(*root);
    expectPixels(image, {{5, 5, red}, {45, 5, green}, {75, 50, black}});
    EXPECT_COLOR(image.pixelColor(5, 5), blue); // image row 0 is the top

    overlapping->setZPosition(-1); // now behind the red layer
    EXPECT_COLOR(at(render(*root), 45, 5), red);
}

TEST(Rendering, OpacityMultipliesDownTheTree) {
    auto root = box(QRectF(0, 0, 100, 100), black);
    auto parent = box(QRectF(0, 0, 100, 100));
    parent->setOpacity(0.5);
    auto child = box(QRectF(0, 0, 50, 100), white);
    child->setOpacity(0.5);
    parent->addSublayer(child);
    root->addSublayer(parent);
    const QImage image = render(*root);
    EXPECT_NEAR(at(image, 10, 50).red(), 64, 2);
    EXPECT_COLOR(at(image, 80, 50), black);

    parent->setOpacity(0);
    EXPECT_COLOR(at(render(*root), 10, 50), black);
}

TEST(Rendering, MasksToBoundsClipsSublayersAndRoundsCorners) {
    auto root = box(QRectF(0, 0, 100, 100), black);
    auto clip = box(QRectF(20, 20, 40, 40));
    clip->addSublayer(box(QRectF(-20, -20, 100, 100), red));
    root->addSublayer(clip);
    EXPECT_COLOR(at(render(*root), 10, 10), red); // not clipped yet

    clip->setMasksToBounds(true);
    expectPixels(render(*root), {{10, 10, black}, {70, 70, black}, {21, 21, red}});
    clip->setCornerRadius(10); // the corner is cut off, the edge's middle is not
    expectPixels(render(*root), {{20, 20, black}, {40, 20, red}});
}

TEST(Rendering, BordersLieInsideTheBoundsAboveSublayers) {
    auto root = box(QRectF(0, 0, 100, 100), black);
    auto framed = box(QRectF(10, 10, 50, 50), blue);
    framed->addSublayer(box(QRectF(0, 0, 50, 50), green));
    framed->setBorderWidth(4);
    framed->setBorderColor(red);
    root->addSublayer(framed);
    const QImage image = render(*root);
    expectPixels(image, {{11, 30, red}, {58, 30, red}, {30, 30, green}, {8, 30, black}});
    layertest::savePng(image, "border");
}

TEST(Rendering, MirroringSwapsSidesOfSublayersAndDrawnPictures) {
    auto root = box(QRectF(0, 0, 100, 100), black);
    auto mirrored = box(QRectF(0, 0, 100, 100));
    mirrored->addSublayer(box(QRectF(0, 0, 30, 100), red));   // left
    mirrored->addSublayer(box(QRectF(0, 80, 100, 20), blue)); // top
    root->addSublayer(mirrored);
    expectPixels(render(*root), {{10, 50, red}, {90, 50, black}});
    mirrored->setMirroring(true, false);
    expectPixels(render(*root), {{10, 50, black}, {90, 50, red}, {50, 90, blue}});
    mirrored->setMirroring(false, true);
    expectPixels(render(*root), {{50, 10, blue}, {10, 50, red}, {50, 90, black}});

    auto drawn = box(QRectF(0, 0, 100, 100));
    drawn->setDrawFunction([](Layer&, QPainter& painter) {
        painter.fillRect(QRectF(0, 0, 20, 20), Qt::red); // bottom-left in the layer's y-up space
    });
    mirrored->removeFromSuperlayer();
    root->addSublayer(drawn);
    EXPECT_COLOR(at(render(*root), 10, 10), red);
    drawn->setMirroring(true, true);
    expectPixels(render(*root), {{10, 10, black}, {90, 90, red}});
}

TEST(Rendering, ScrolledBoundsMoveTheContent) {
    auto root = box(QRectF(0, 0, 100, 100), black);
    auto scroller = box(QRectF(0, 0, 100, 100));
    scroller->addSublayer(box(QRectF(0, 50, 100, 10), red));
    root->addSublayer(scroller);
    scroller->setBounds(QRectF(0, 30, 100, 100));
    expectPixels(render(*root), {{50, 25, red}, {50, 55, black}});
}

TEST(Rendering, GradientRunsFromStartToEndPoint) {
    auto root = box(QRectF(0, 0, 100, 100), black);
    auto gradient = gradientLayer(QRectF(0, 0, 100, 100), {red, blue});
    root->addSublayer(gradient);
    QImage image = render(*root);
    expectPixels(image, {{50, 0, red}, {50, 99, blue}}); // default start: the middle of the bottom edge
    EXPECT_NEAR(at(image, 50, 50).red(), 127, 6);
    layertest::savePng(image, "gradient-vertical");

    gradient->setStartPoint(QPointF(1, 0.5));
    gradient->setEndPoint(QPointF(0, 0.5));
    gradient->setColors({QColor(255, 0, 0, 0), red}); // clear at the right, full at the left
    expectPixels(render(*root), {{99, 50, black}, {0, 50, red}});

    gradient->setColors({red, green, blue});
    gradient->setLocations({0.0, 0.2, 1.0});
    gradient->setStartPoint(QPointF(0.5, 0));
    gradient->setEndPoint(QPointF(0.5, 1));
    EXPECT_NEAR(at(render(*root), 50, 20).green(), 255, 8);
}

TEST(Rendering, ContentsGravityPlacesTheImage) {
    QImage contents(20, 10, QImage::Format_ARGB32_Premultiplied);
    contents.fill(green);
    auto root = box(QRectF(0, 0, 100, 100), black);
    auto layer = box(QRectF(0, 0, 100, 100));
    layer->setContents(contents);
    root->addSublayer(layer);
    EXPECT_COLOR(at(render(*root), 50, 95), green); // resize by default: fills the bounds

    const struct {
        ContentsGravity gravity;
        std::vector<Probe> probes;
    } cases[] = {
        {ContentsGravity::center, {{50, 50, green}, {50, 60, black}, {35, 50, black}}},
        {ContentsGravity::top, {{50, 95, green}, {50, 50, black}}},
        {ContentsGravity::bottomRight, {{95, 5, green}, {75, 5, black}}},
        {ContentsGravity::left, {{5, 50, green}, {5, 60, black}}},
        {ContentsGravity::resizeAspect, {{5, 50, green}, {5, 80, black}}}, // 100 x 50, centred vertically
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.gravity));
        layer->setContentsGravity(c.gravity);
        expectPixels(render(*root), c.probes);
    }

    layer->setContentsGravity(ContentsGravity::resizeAspectFill); // 200 x 100, spilling sideways
    layer->setMasksToBounds(false);
    layer->setFrame(QRectF(25, 25, 50, 50));
    expectPixels(render(*root), {{5, 50, green}, {50, 80, black}});
    layer->setMasksToBounds(true);
    EXPECT_COLOR(at(render(*root), 5, 50), black);

    // The contents scale sets the image's size in points.
    QImage scaled(40, 40, QImage::Format_ARGB32_Premultiplied);
    scaled.fill(green);
    layer->setContents(scaled);
    layer->setFrame(QRectF(0, 0, 100, 100));
    layer->setContentsGravity(ContentsGravity::bottomLeft);
    layer->setContentsScale(2);
    expectPixels(render(*root), {{18, 18, green}, {25, 5, black}});
}

TEST(Rendering, ImagesWithinHalfAPixelOfTheirSizeDrawOneToOne) {
    // Each column its own colour: resampling would drop or repeat one.
    QImage contents(100, 4, QImage::Format_ARGB32_Premultiplied);
    for (int x = 0; x < 100; ++x) {
        for (int y = 0; y < 4; ++y) {
            contents.setPixel(x, y, qRgb(x, 255 - x, 7));
        }
    }
    auto root = box(QRectF(0, 0, 120, 20), black);
    auto layer = box(QRectF(10, 10, 99.6, 4));
    layer->setContents(contents);
    root->addSublayer(layer);
    const QImage image = render(*root, QSize(120, 20));
    for (int x = 0; x < 100; ++x) {
        ASSERT_EQ(image.pixel(10 + x, 7), qRgb(x, 255 - x, 7)) << "column " << x;
    }
}

TEST(Rendering, TextStartsAtTheTopAndFollowsItsAlignment) {
    auto root = box(QRectF(0, 0, 300, 100), black);
    auto text = textLayer(QRectF(0, 0, 300, 100), QStringLiteral("Hi"), 30, white);
    root->addSublayer(text);
    QImage image = render(*root, QSize(300, 100));
    EXPECT_TRUE(hasInk(image, QRect(0, 60, 60, 40), black));
    EXPECT_FALSE(hasInk(image, QRect(0, 0, 300, 50), black));
    EXPECT_FALSE(hasInk(image, QRect(200, 50, 100, 50), black));

    text->setAlignmentMode(TextAlignmentMode::right);
    image = render(*root, QSize(300, 100));
    EXPECT_TRUE(hasInk(image, QRect(240, 60, 60, 40), black));
    EXPECT_FALSE(hasInk(image, QRect(0, 0, 200, 100), black));

    text->setMirroring(true, false); // mirrored text reads from the other side
    EXPECT_TRUE(hasInk(render(*root, QSize(300, 100)), QRect(0, 60, 60, 40), black));
}

TEST(Rendering, WrappedTextBreaksAtTheWidthAndTruncates) {
    auto text = textLayer(QRectF(0, 0, 120, 100),
                          QStringLiteral("one two three four five six seven eight nine ten"), 20, white);
    const QSizeF single = text->preferredSize();
    text->setWrapped(true);
    const QSizeF wrapped = text->preferredSize(120);
    EXPECT_LE(wrapped.width(), 120);
    EXPECT_GT(wrapped.height(), single.height() * 2);

    auto root = box(QRectF(0, 0, 120, 100), black);
    text->setTruncationMode(TruncationMode::end);
    root->addSublayer(text);
    const QImage image = render(*root, QSize(120, 100));
    layertest::savePng(image, "text-wrapped-truncated");
    EXPECT_TRUE(hasInk(image, QRect(0, 0, 120, 100), black));
}

TEST(Rendering, AttributedTextUsesItsFormats) {
    auto root = box(QRectF(0, 0, 200, 60), black);
    auto text = textLayer(QRectF(0, 0, 200, 60), {}, 30, green);
    QTextCharFormat redFormat;
    redFormat.setForeground(red);
    text->setAttributedText(AttributedText{QStringLiteral("WWWW"), {{0, 2, redFormat}}});
    root->addSublayer(text);
    const QImage image = render(*root, QSize(200, 60));
    bool sawRed = false;
    bool sawGreen = false;
    for (int x = 0; x < 200; ++x) {
        for (int y = 0; y < 60; ++y) {
            const QColor c = at(image, x, y);
            sawRed |= c.red() > 200 && c.green() < 60;
            sawGreen |= c.green() > 200 && c.red() < 60;
        }
    }
    EXPECT_TRUE(sawRed);
    EXPECT_TRUE(sawGreen);
}

TEST(Rendering, HighResolutionFramesKeepTheGeometry) {
    auto root = box(QRectF(0, 0, 100, 100), black);
    root->addSublayer(box(QRectF(0, 0, 50, 20), red));
    const QImage image = render(*root, QSize(100, 100), 2.0);
    ASSERT_EQ(image.width(), 200);
    expectPixels(image, {{90, 30, red}, {110, 30, black}});
}

TEST(Rendering, ASceneForPeopleToLookAt) {
    // Background, text column, fade overlay, an indicator and a mirrored control panel.
    auto root = box(QRectF(0, 0, 480, 270), QColor(20, 20, 30));
    auto background = box(QRectF(0, 0, 480, 270));
    background->setMasksToBounds(true);
    root->addSublayer(background);
    auto text =
        textLayer(QRectF(40, -60, 400, 320),
                  QStringLiteral("Good evening and welcome. Tonight we look at layers that scroll a "
                                 "long script smoothly past the reading line, mirrored for the glass."),
                  28, QColor(240, 230, 120));
    text->setWrapped(true);
    text->setAlignmentMode(TextAlignmentMode::center);
    text->setZPosition(10);
    background->addSublayer(text);
    auto upper = gradientLayer(QRectF(0, 170, 480, 100), {QColor(20, 20, 30, 0), QColor(20, 20, 30)});
    upper->setZPosition(15);
    background->addSublayer(upper);
    auto indicator = box(QRectF(4, 120, 30, 30));
    indicator->setZPosition(9);
    indicator->setDrawFunction([](Layer& layer, QPainter& painter) {
        const QRectF b = layer.bounds();
        painter.setBrush(Qt::red);
        painter.setPen(Qt::NoPen);
        painter.drawPolygon(QPolygonF(
            {QPointF(b.left(), b.top()), QPointF(b.right(), b.center().y()), QPointF(b.left(), b.bottom())}));
    });
    background->addSublayer(indicator);
    auto ui = box(QRectF(0, 0, 480, 270));
    ui->setZPosition(19);
    auto panel = box(QRectF(10, 10, 150, 40), QColor(0, 0, 0, 128));
    panel->setBorderColor(red);
    panel->setBorderWidth(1);
    panel->setCornerRadius(6);
    auto label =
        textLayer(QRectF(0, 0, 150, 30), QStringLiteral("S P A C E B A R"), 14, QColor(255, 0, 0, 128));
    label->setAlignmentMode(TextAlignmentMode::center);
    panel->addSublayer(label);
    ui->addSublayer(panel);
    root->addSublayer(ui);

    layertest::savePng(render(*root, QSize(480, 270), 2.0), "scene");
    background->setMirroring(true, false);
    ui->setMirroring(true, false);
    const QImage mirrored = render(*root, QSize(480, 270));
    layertest::savePng(mirrored, "scene-mirrored");
    EXPECT_TRUE(hasInk(mirrored, QRect(330, 10, 140, 40), QColor(20, 20, 30))); // the panel moved right
    EXPECT_TRUE(layertest::near(at(mirrored, 470, 135), red, 60));              // the arrow too
}

} // namespace
