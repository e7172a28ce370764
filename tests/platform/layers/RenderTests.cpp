// Rendering into images: colours, opacity, clipping, mirroring, gradients, contents gravity, text.
#include "LayerTestSupport.h"

#include "platform/layers/GradientLayer.h"
#include "platform/layers/Layer.h"
#include "platform/layers/LayerRenderer.h"
#include "platform/layers/TextLayer.h"

#include <gtest/gtest.h>

#include <QPainter>

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

TEST(Rendering, YGrowsUpwardsAndLaterSiblingsPaintOnTop) {
    auto root = box(QRectF(0, 0, 100, 100), black);
    root->addSublayer(box(QRectF(0, 0, 50, 20), red));
    auto top = box(QRectF(0, 80, 100, 20), blue);
    root->addSublayer(top);
    auto overlapping = box(QRectF(40, 0, 20, 20), green);
    root->addSublayer(overlapping);
    const QImage image = render(*root);
    EXPECT_COLOR(at(image, 5, 5), red);
    EXPECT_COLOR(image.pixelColor(5, 5), blue); // image row 0 is the top
    EXPECT_COLOR(at(image, 45, 5), green);
    EXPECT_COLOR(at(image, 75, 50), black);

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
    QImage image = render(*root);
    EXPECT_COLOR(at(image, 10, 10), black);
    EXPECT_COLOR(at(image, 70, 70), black);
    EXPECT_COLOR(at(image, 21, 21), red);

    clip->setCornerRadius(10);
    image = render(*root);
    EXPECT_COLOR(at(image, 20, 20), black); // the corner is cut off
    EXPECT_COLOR(at(image, 40, 20), red);   // the edge's middle is not
}

TEST(Rendering, BordersLieInsideTheBoundsAboveSublayers) {
    auto root = box(QRectF(0, 0, 100, 100), black);
    auto framed = box(QRectF(10, 10, 50, 50), blue);
    framed->addSublayer(box(QRectF(0, 0, 50, 50), green));
    framed->setBorderWidth(4);
    framed->setBorderColor(red);
    root->addSublayer(framed);
    const QImage image = render(*root);
    EXPECT_COLOR(at(image, 11, 30), red);
    EXPECT_COLOR(at(image, 58, 30), red);
    EXPECT_COLOR(at(image, 30, 30), green);
    EXPECT_COLOR(at(image, 8, 30), black);
    layertest::savePng(image, "border");
}

TEST(Rendering, MirroringSwapsSides) {
    auto root = box(QRectF(0, 0, 100, 100), black);
    auto mirrored = box(QRectF(0, 0, 100, 100));
    mirrored->addSublayer(box(QRectF(0, 0, 30, 100), red));   // left
    mirrored->addSublayer(box(QRectF(0, 80, 100, 20), blue)); // top
    root->addSublayer(mirrored);
    QImage image = render(*root);
    EXPECT_COLOR(at(image, 10, 50), red);
    EXPECT_COLOR(at(image, 90, 50), black);

    mirrored->setMirroring(true, false);
    image = render(*root);
    EXPECT_COLOR(at(image, 10, 50), black);
    EXPECT_COLOR(at(image, 90, 50), red);
    EXPECT_COLOR(at(image, 50, 90), blue);

    mirrored->setMirroring(false, true);
    image = render(*root);
    EXPECT_COLOR(at(image, 50, 10), blue);
    EXPECT_COLOR(at(image, 10, 50), red);
    EXPECT_COLOR(at(image, 50, 90), black);
}

TEST(Rendering, MirroringFlipsDrawnPictures) {
    auto root = box(QRectF(0, 0, 100, 100), black);
    auto drawn = box(QRectF(0, 0, 100, 100));
    drawn->setDrawFunction([](Layer&, QPainter& painter) {
        painter.fillRect(QRectF(0, 0, 20, 20), Qt::red); // bottom-left in the layer's y-up space
    });
    root->addSublayer(drawn);
    EXPECT_COLOR(at(render(*root), 10, 10), red);
    drawn->setMirroring(true, true);
    const QImage image = render(*root);
    EXPECT_COLOR(at(image, 10, 10), black);
    EXPECT_COLOR(at(image, 90, 90), red);
}

TEST(Rendering, ScrolledBoundsMoveTheContent) {
    auto root = box(QRectF(0, 0, 100, 100), black);
    auto scroller = box(QRectF(0, 0, 100, 100));
    scroller->addSublayer(box(QRectF(0, 50, 100, 10), red));
    root->addSublayer(scroller);
    scroller->setBounds(QRectF(0, 30, 100, 100));
    const QImage image = render(*root);
    EXPECT_COLOR(at(image, 50, 25), red);
    EXPECT_COLOR(at(image, 50, 55), black);
}

TEST(Rendering, GradientRunsFromStartToEndPoint) {
    auto root = box(QRectF(0, 0, 100, 100), black);
    auto gradient = std::make_shared<GradientLayer>();
    gradient->setAnchorPoint(QPointF(0, 0));
    gradient->setFrame(QRectF(0, 0, 100, 100));
    gradient->setColors({red, blue});
    root->addSublayer(gradient);
    QImage image = render(*root);
    EXPECT_COLOR(at(image, 50, 0), red); // default start: the middle of the bottom edge
    EXPECT_COLOR(at(image, 50, 99), blue);
    EXPECT_NEAR(at(image, 50, 50).red(), 127, 6);
    layertest::savePng(image, "gradient-vertical");

    gradient->setStartPoint(QPointF(1, 0.5));
    gradient->setEndPoint(QPointF(0, 0.5));
    gradient->setColors({QColor(255, 0, 0, 0), red}); // clear at the right, full at the left
    image = render(*root);
    EXPECT_COLOR(at(image, 99, 50), black);
    EXPECT_COLOR(at(image, 0, 50), red);

    gradient->setColors({red, green, blue});
    gradient->setLocations({0.0, 0.2, 1.0});
    gradient->setStartPoint(QPointF(0.5, 0));
    gradient->setEndPoint(QPointF(0.5, 1));
    image = render(*root);
    EXPECT_NEAR(at(image, 50, 20).green(), 255, 8);
}

TEST(Rendering, ContentsGravityPlacesTheImage) {
    QImage contents(20, 10, QImage::Format_ARGB32_Premultiplied);
    contents.fill(green);
    auto root = box(QRectF(0, 0, 100, 100), black);
    auto layer = box(QRectF(0, 0, 100, 100));
    layer->setContents(contents);
    root->addSublayer(layer);

    EXPECT_COLOR(at(render(*root), 50, 95), green); // resize by default: fills the bounds

    layer->setContentsGravity(ContentsGravity::center);
    QImage image = render(*root);
    EXPECT_COLOR(at(image, 50, 50), green);
    EXPECT_COLOR(at(image, 50, 60), black);
    EXPECT_COLOR(at(image, 35, 50), black);

    layer->setContentsGravity(ContentsGravity::top);
    image = render(*root);
    EXPECT_COLOR(at(image, 50, 95), green);
    EXPECT_COLOR(at(image, 50, 50), black);

    layer->setContentsGravity(ContentsGravity::bottomRight);
    image = render(*root);
    EXPECT_COLOR(at(image, 95, 5), green);
    EXPECT_COLOR(at(image, 75, 5), black);

    layer->setContentsGravity(ContentsGravity::left);
    image = render(*root);
    EXPECT_COLOR(at(image, 5, 50), green);
    EXPECT_COLOR(at(image, 5, 60), black);

    layer->setContentsGravity(ContentsGravity::resizeAspect); // 100 x 50, centred vertically
    image = render(*root);
    EXPECT_COLOR(at(image, 5, 50), green);
    EXPECT_COLOR(at(image, 5, 80), black);

    layer->setContentsGravity(ContentsGravity::resizeAspectFill); // 200 x 100, spilling sideways
    layer->setMasksToBounds(false);
    layer->setFrame(QRectF(25, 25, 50, 50));
    image = render(*root);
    EXPECT_COLOR(at(image, 5, 50), green);
    EXPECT_COLOR(at(image, 50, 80), black);

    layer->setMasksToBounds(true);
    EXPECT_COLOR(at(render(*root), 5, 50), black);
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

TEST(Rendering, ContentsScaleSetsTheImagesSizeInPoints) {
    QImage contents(40, 40, QImage::Format_ARGB32_Premultiplied);
    contents.fill(green);
    auto root = box(QRectF(0, 0, 100, 100), black);
    auto layer = box(QRectF(0, 0, 100, 100));
    layer->setContents(contents);
    layer->setContentsGravity(ContentsGravity::bottomLeft);
    layer->setContentsScale(2);
    root->addSublayer(layer);
    const QImage image = render(*root);
    EXPECT_COLOR(at(image, 18, 18), green);
    EXPECT_COLOR(at(image, 25, 5), black);
}

TEST(Rendering, TextStartsAtTheTopAndFollowsItsAlignment) {
    auto root = box(QRectF(0, 0, 300, 100), black);
    auto text = std::make_shared<TextLayer>();
    text->setAnchorPoint(QPointF(0, 0));
    text->setFrame(QRectF(0, 0, 300, 100));
    text->setString(QStringLiteral("Hi"));
    text->setFontSize(30);
    text->setForegroundColor(white);
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
    image = render(*root, QSize(300, 100));
    EXPECT_TRUE(hasInk(image, QRect(0, 60, 60, 40), black));
}

TEST(Rendering, WrappedTextBreaksAtTheWidthAndTruncates) {
    auto text = std::make_shared<TextLayer>();
    text->setString(QStringLiteral("one two three four five six seven eight nine ten"));
    text->setFontSize(20);
    const QSizeF single = text->preferredSize();
    text->setWrapped(true);
    const QSizeF wrapped = text->preferredSize(120);
    EXPECT_LE(wrapped.width(), 120);
    EXPECT_GT(wrapped.height(), single.height() * 2);

    auto root = box(QRectF(0, 0, 120, 100), black);
    text->setAnchorPoint(QPointF(0, 0));
    text->setFrame(QRectF(0, 0, 120, 100));
    text->setTruncationMode(TruncationMode::end);
    root->addSublayer(text);
    const QImage image = render(*root, QSize(120, 100));
    layertest::savePng(image, "text-wrapped-truncated");
    EXPECT_TRUE(hasInk(image, QRect(0, 0, 120, 100), black));
}

TEST(Rendering, AttributedTextUsesItsFormats) {
    auto root = box(QRectF(0, 0, 200, 60), black);
    auto text = std::make_shared<TextLayer>();
    text->setAnchorPoint(QPointF(0, 0));
    text->setFrame(QRectF(0, 0, 200, 60));
    QTextCharFormat redFormat;
    redFormat.setForeground(red);
    text->setAttributedText(AttributedText{QStringLiteral("WWWW"), {{0, 2, redFormat}}});
    text->setForegroundColor(green);
    text->setFontSize(30);
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
    EXPECT_COLOR(at(image, 90, 30), red);
    EXPECT_COLOR(at(image, 110, 30), black);
}

TEST(Rendering, ASceneForPeopleToLookAt) {
    // Background, text column, fade overlay, an indicator and a mirrored control panel.
    auto root = box(QRectF(0, 0, 480, 270), QColor(20, 20, 30));
    auto background = box(QRectF(0, 0, 480, 270));
    background->setMasksToBounds(true);
    root->addSublayer(background);
    auto text = std::make_shared<TextLayer>();
    text->setAnchorPoint(QPointF(0, 0));
    text->setFrame(QRectF(40, -60, 400, 320));
    text->setWrapped(true);
    text->setAlignmentMode(TextAlignmentMode::center);
    text->setFontSize(28);
    text->setForegroundColor(QColor(240, 230, 120));
    text->setString(QStringLiteral("Good evening and welcome. Tonight we look at layers that scroll a "
                                   "long script smoothly past the reading line, mirrored for the glass."));
    text->setZPosition(10);
    background->addSublayer(text);
    auto upper = std::make_shared<GradientLayer>();
    upper->setAnchorPoint(QPointF(0, 0));
    upper->setFrame(QRectF(0, 170, 480, 100));
    upper->setColors({QColor(20, 20, 30, 0), QColor(20, 20, 30)});
    upper->setZPosition(15);
    background->addSublayer(upper);
    auto indicator = box(QRectF(4, 120, 30, 30));
    indicator->setZPosition(9);
    indicator->setDrawFunction([](Layer& layer, QPainter& painter) {
        const QRectF b = layer.bounds();
        QPolygonF arrow(
            {QPointF(b.left(), b.top()), QPointF(b.right(), b.center().y()), QPointF(b.left(), b.bottom())});
        painter.setBrush(Qt::red);
        painter.setPen(Qt::NoPen);
        painter.drawPolygon(arrow);
    });
    background->addSublayer(indicator);
    auto ui = box(QRectF(0, 0, 480, 270));
    ui->setZPosition(19);
    auto panel = box(QRectF(10, 10, 150, 40), QColor(0, 0, 0, 128));
    panel->setBorderColor(red);
    panel->setBorderWidth(1);
    panel->setCornerRadius(6);
    auto label = std::make_shared<TextLayer>();
    label->setAnchorPoint(QPointF(0, 0));
    label->setFrame(QRectF(0, 0, 150, 30));
    label->setString(QStringLiteral("S P A C E B A R"));
    label->setFontSize(14);
    label->setForegroundColor(QColor(255, 0, 0, 128));
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
