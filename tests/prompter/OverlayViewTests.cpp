// The editor's overlay view and the overlay pane's preview: geometry, pass-through clicks,
// rendering per overlay type, and the preview following its properties.
#include "prompter/PrompterTestSupport.h"

#include "cuewright/model/UserDefaults.h"
#include "cuewright/prompter/IndicatorLayer.h"
#include "cuewright/prompter/OverlayLayer.h"
#include "cuewright/prompter/OverlayPreviewView.h"
#include "cuewright/prompter/OverlayView.h"
#include "platform/layers/GradientLayer.h"
#include "platform/layers/TextLayer.h"
#include "platform/text/Color.h"

#include <QApplication>
#include <QMouseEvent>
#include <QWindow>

#include <gtest/gtest.h>

using cw::IndicatorColor;
using cw::IndicatorType;
using cw::OverlayType;

namespace {

using cwtest::resizeView;

// Whether every pixel of rows [y0, y1) and columns [x0, x1) (image pixels, y down) is pure black.
bool allBlack(const QImage& image, int y0, int y1, int x0, int x1) {
    return cwtest::brightPixels(image, QRect(x0, y0, x1 - x0, y1 - y0), 0) == 0;
}

// ---- OverlayView

TEST(OverlayView, StartsAsAHighlightFollowingTheViewSizeAndCentre) {
    cw::OverlayView view;
    resizeView(view, 600, 400);
    const cw::OverlayLayer& overlay = view.overlayLayer();
    EXPECT_EQ(view.overlayType(), OverlayType::highlight);
    EXPECT_DOUBLE_EQ(overlay.lineHeight(), 95);
    EXPECT_DOUBLE_EQ(overlay.zPosition(), 15);
    EXPECT_FALSE(overlay.isOpaque());
    EXPECT_EQ(overlay.frame(), QRectF(0, 0, 600, 400));
    // One 95-point line centred on half the height.
    EXPECT_EQ(overlay.highlightLayer()->frame(), QRectF(0, 200 - 47.5, 600, 95));

    resizeView(view, 300, 1000);
    EXPECT_EQ(overlay.frame(), QRectF(0, 0, 300, 1000));
    EXPECT_EQ(overlay.highlightLayer()->frame(), QRectF(0, 500 - 47.5, 300, 95));
}

TEST(OverlayView, SameTypeOrColourDoesNotLayOutAgain) {
    cw::OverlayView view;
    resizeView(view, 600, 400);
    cw::OverlayLayer& overlay = view.overlayLayer();
    const QRectF before = overlay.highlightLayer()->frame();
    // Changed behind the view's back: only a real re-layout shows it.
    overlay.setVerticalCenter(0.25);
    view.setOverlayType(OverlayType::highlight);
    view.setGradientColor(overlay.gradientColor());
    EXPECT_EQ(overlay.highlightLayer()->frame(), before);

    view.setOverlayType(OverlayType::blackOut);
    EXPECT_TRUE(overlay.highlightLayer()->isHidden());
    // Band of max(80, 95) points around y = 100.
    EXPECT_EQ(overlay.upperBlackoutLayer()->frame(), QRectF(0, 147.5, 600, 252.5));
    EXPECT_EQ(overlay.lowerBlackoutLayer()->frame(), QRectF(0, 0, 600, 52.5));

    view.setOverlayType(OverlayType::fadeOut);
    view.setGradientColor(Qt::blue);
    EXPECT_EQ(overlay.upperGradientLayer()->colors().back(), QColor(Qt::blue));
    EXPECT_EQ(view.gradientColor(), QColor(Qt::blue));
}

TEST(OverlayView, VerticalCenterMovesTheBand) {
    cw::OverlayView view;
    resizeView(view, 400, 1000);
    view.setVerticalCenter(0.75f);
    EXPECT_FLOAT_EQ(view.verticalCenter(), 0.75f);
    EXPECT_DOUBLE_EQ(view.overlayLayer().verticalCenter(), 0.75);
    EXPECT_EQ(view.overlayLayer().highlightLayer()->frame(), QRectF(0, 750 - 47.5, 400, 95));
}

TEST(OverlayView, RendersBlackOutAndLeavesTheBandClear) {
    cw::OverlayView view;
    resizeView(view, 200, 400);
    view.setOverlayType(OverlayType::blackOut);
    const QImage image = view.renderToImage();
    // Band: 95 points around y 200 (from the bottom), i.e. image rows 152..247.
    EXPECT_EQ(qAlpha(image.pixel(100, 20)), 255);
    EXPECT_EQ(qAlpha(image.pixel(100, 380)), 255);
    EXPECT_EQ(image.pixel(100, 20) & 0xffffff, 0u);
    EXPECT_EQ(qAlpha(image.pixel(100, 200)), 0) << "the band shows what lies below";

    view.setOverlayType(OverlayType::none);
    const QImage none = view.renderToImage();
    EXPECT_EQ(qAlpha(none.pixel(100, 20)), 0);
    EXPECT_EQ(qAlpha(none.pixel(100, 380)), 0);
}

// Counts presses that reach the widget under the overlay.
class ClickTarget : public QWidget {
public:
    using QWidget::QWidget;
    int presses = 0;

protected:
    void mousePressEvent(QMouseEvent* event) override {
        ++presses;
        event->accept();
    }
};

TEST(OverlayView, ClicksReachTheTextBelow) {
    QWidget window;
    window.resize(300, 300);
    auto* text = new ClickTarget(&window);
    text->setGeometry(0, 0, 300, 300);
    auto* overlay = new cw::OverlayView(&window);
    overlay->setGeometry(0, 0, 300, 300);
    overlay->raise();
    window.show();
    QApplication::processEvents();
    ASSERT_NE(window.windowHandle(), nullptr);

    EXPECT_EQ(window.childAt(150, 150), text);
    // Through the window, so that Qt picks the receiver as it does for a real click.
    const QPointF at(150, 150);
    QMouseEvent press(QEvent::MouseButtonPress, at, at, window.mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.windowHandle(), &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, at, window.mapToGlobal(at), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(window.windowHandle(), &release);
    EXPECT_EQ(text->presses, 1);
    EXPECT_EQ(overlay->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(overlay->overlayLayer().frame(), QRectF(0, 0, 300, 300));
}

// ---- OverlayPreviewView

TEST(OverlayPreview, SetUpWithTheSampleText) {
    cw::OverlayPreviewView view;
    resizeView(view, 300, 200);
    EXPECT_DOUBLE_EQ(view.lineHeight(), 14);
    EXPECT_TRUE(view.sampleText().startsWith(QStringLiteral("Lorem ipsum dolor sit amet, consectetur")));
    EXPECT_TRUE(view.sampleText().endsWith(QStringLiteral("Proin et elit nulla.")));
    const auto& text = view.textLayer();
    EXPECT_EQ(text.string(), view.sampleText());
    EXPECT_DOUBLE_EQ(text.fontSize(), 14);
    EXPECT_TRUE(text.isWrapped());
    EXPECT_EQ(text.alignmentMode(), platform::layers::TextAlignmentMode::center);
    EXPECT_EQ(text.foregroundColor(), cw::defaultTextColor().toQColor());
    // The overlay's own default, with a black fade and the preview's line height.
    EXPECT_EQ(view.display().overlayType, OverlayType::highlight);
    EXPECT_EQ(view.overlayLayer().gradientColor(), QColor(Qt::black));
    EXPECT_DOUBLE_EQ(view.overlayLayer().lineHeight(), 14);
    EXPECT_EQ(view.display().indicatorType, IndicatorType::none);
    EXPECT_FALSE(view.readingLineLayer().isHidden());
    EXPECT_EQ(view.readingLineLayer().backgroundColor(), QColor::fromRgbF(0, 1, 0));
}

TEST(OverlayPreview, GeometryFollowsTheSize) {
    cw::OverlayPreviewView view;
    for (const QSize size : {QSize(300, 200), QSize(520, 90), QSize(41, 400)}) {
        resizeView(view, size.width(), size.height());
        const double w = size.width();
        const double h = size.height();
        EXPECT_EQ(view.textLayer().frame(), QRectF(20, -h, w - 40, 2 * h));
        EXPECT_EQ(view.overlayLayer().frame(), QRectF(0, 0, w, h));
        EXPECT_EQ(view.indicatorLayer().frame(), QRectF(0, h / 2 - 7, 14, 14));
        const QRectF line = view.readingLineLayer().frame();
        EXPECT_DOUBLE_EQ(line.left(), 10);
        EXPECT_DOUBLE_EQ(line.right(), w - 10);
        EXPECT_DOUBLE_EQ(line.height(), 1);
        EXPECT_NEAR(line.center().y(), h / 2, 0.5);
        EXPECT_EQ(view.overlayLayer().highlightLayer()->frame(), QRectF(0, h / 2 - 7, w, 14));
    }
}

class OverlayPreviewRendering : public ::testing::Test {
protected:
    void SetUp() override {
        // The sample text (about ten lines at 14 points) reaches past the bottom edge.
        resizeView(view, 300, 150);
        view.setShowsReadingLine(false);
    }
    int bright(const QImage& image, int y0, int y1) {
        return cwtest::brightPixels(image, QRect(20, y0, 260, y1 - y0));
    }
    cw::OverlayPreviewView view;
};

TEST_F(OverlayPreviewRendering, BlackOutsKeepOnlyTheBand) {
    view.setOverlayType(OverlayType::blackOut);
    const QImage image = view.renderToImage();
    cwtest::saveImage(image, "preview-blackout");
    // Band: a fifth of 150 around the middle, image rows 60..90.
    EXPECT_TRUE(allBlack(image, 2, 58, 2, 298));
    EXPECT_TRUE(allBlack(image, 92, 148, 2, 298));
    EXPECT_GT(bright(image, 62, 88), 50);

    view.setLineHeight(20);
    view.setOverlayType(OverlayType::blackOut3Lines);
    const QImage three = view.renderToImage();
    cwtest::saveImage(three, "preview-blackout3");
    // Three 20-point lines: rows 45..105.
    EXPECT_TRUE(allBlack(three, 2, 43, 2, 298));
    EXPECT_TRUE(allBlack(three, 107, 148, 2, 298));
    EXPECT_GT(bright(three, 47, 58), 20);
}

// Without an overlay the text shows everywhere; a highlight lightens one line.
TEST_F(OverlayPreviewRendering, NoneShowsTheTextAndHighlightLightensOneLine) {
    view.setOverlayType(OverlayType::none);
    const QImage plain = view.renderToImage();
    cwtest::saveImage(plain, "preview-none");
    EXPECT_GT(bright(plain, 0, 50), 50);
    EXPECT_GT(bright(plain, 60, 90), 50);
    EXPECT_GT(bright(plain, 100, 150), 50);
    EXPECT_EQ(qAlpha(plain.pixel(0, 0)), 0) << "rounded corner";
    EXPECT_EQ(plain.pixel(5, 75) & 0xffffff, 0u) << "black beside the text";
    view.setOverlayType(OverlayType::highlight);
    const QImage lit = view.renderToImage();
    cwtest::saveImage(lit, "preview-highlight");
    // Beside the text, the band (rows 68..82) turns grey; elsewhere nothing changes.
    const auto grey = [](const QImage& image, int y) { return qGreen(image.pixel(5, y)); };
    EXPECT_EQ(grey(plain, 75), 0);
    EXPECT_NEAR(grey(lit, 75), 77, 2);
    EXPECT_EQ(grey(lit, 64), 0);
    EXPECT_EQ(grey(lit, 86), 0);
    EXPECT_EQ(plain.copy(0, 0, 300, 66), lit.copy(0, 0, 300, 66));
    EXPECT_EQ(plain.copy(0, 84, 300, 66), lit.copy(0, 84, 300, 66));
}

TEST_F(OverlayPreviewRendering, FadesDarkenTowardsTheEdges) {
    view.setOverlayType(OverlayType::none);
    const QImage plain = view.renderToImage();
    view.setOverlayType(OverlayType::fadeOut);
    const QImage faded = view.renderToImage();
    cwtest::saveImage(faded, "preview-fadeout");
    EXPECT_EQ(faded.copy(0, 61, 300, 28), plain.copy(0, 61, 300, 28)) << "the band is untouched";
    EXPECT_LT(bright(faded, 0, 15), bright(plain, 0, 15) / 4);
    EXPECT_LT(bright(faded, 135, 150), bright(plain, 135, 150) / 4);

    view.setOverlayType(OverlayType::expanse);
    const QImage expanse = view.renderToImage();
    cwtest::saveImage(expanse, "preview-expanse");
    EXPECT_LT(bright(expanse, 0, 50), bright(plain, 0, 50) / 4) << "already read: darkened";
    EXPECT_EQ(expanse.copy(0, 61, 300, 89), plain.copy(0, 61, 300, 89)) << "still to read: as is";
}

TEST(OverlayPreview, FollowsPropertyChanges) {
    cw::OverlayPreviewView view;
    resizeView(view, 300, 400);

    view.setIndicatorPosition(0.25f);
    EXPECT_DOUBLE_EQ(view.overlayLayer().verticalCenter(), 0.25);
    EXPECT_EQ(view.overlayLayer().highlightLayer()->frame(), QRectF(0, 100 - 7, 300, 14));
    EXPECT_EQ(view.indicatorLayer().frame(), QRectF(0, 100 - 7, 14, 14));
    EXPECT_NEAR(view.readingLineLayer().frame().center().y(), 100, 0.5);

    view.setOverlayType(OverlayType::none);
    view.setIndicatorType(IndicatorType::arrow);
    view.setIndicatorColor(IndicatorColor::red);
    EXPECT_EQ(view.readingLineLayer().backgroundColor(), QColor::fromRgbF(1, 0, 0));
    const QImage image = view.renderToImage();
    cwtest::saveImage(image, "preview-indicator");
    // Reading line at 100 points from the bottom: image row 300 (or the row just above it).
    const QRgb line =
        image.pixel(150, 299) == image.pixel(150, 250) ? image.pixel(150, 300) : image.pixel(150, 299);
    EXPECT_EQ(qRed(line), 255);
    EXPECT_EQ(qGreen(line), 0);
    // The arrow at the left edge, in red.
    EXPECT_GT(qRed(image.pixel(4, 300)), 200);

    view.setShowsReadingLine(false);
    EXPECT_TRUE(view.readingLineLayer().isHidden());

    view.setOverlayType(OverlayType::highlight);
    view.setLineHeight(30);
    EXPECT_DOUBLE_EQ(view.textLayer().fontSize(), 30);
    EXPECT_DOUBLE_EQ(view.overlayLayer().lineHeight(), 30);
    EXPECT_EQ(view.indicatorLayer().frame(), QRectF(0, 100 - 15, 30, 30));
    EXPECT_EQ(view.overlayLayer().highlightLayer()->frame(), QRectF(0, 100 - 15, 300, 30));
}

} // namespace
