// The read-outs, the indicator mark, the overlay bands and the progress bar.
#include "prompter/PrompterTestSupport.h"

#include "cuewright/prompter/IndicatorLayer.h"
#include "cuewright/prompter/IndicatorShape.h"
#include "cuewright/prompter/OverlayLayer.h"
#include "cuewright/prompter/ScrollProgressLayer.h"
#include "cuewright/prompter/SpeedLabelLayer.h"
#include "cuewright/prompter/TimestampLayer.h"
#include "platform/layers/GradientLayer.h"

#include <gtest/gtest.h>

#include <QImage>

#include <cstdlib>
#include <string>

using cw::IndicatorSize;
using cw::IndicatorType;
using cw::OverlayType;
using cw::SpeedDisplayMode;

namespace {

TEST(SpeedReadOut, TextOfEachModeRoundsAsPrintf) {
    struct Case {
        SpeedDisplayMode mode;
        cw::SpeedFigures figures;
        const char* text;
    };
    const Case cases[] = {
        {SpeedDisplayMode::percentage, {50, 2.5, 150, 1.25, 75}, "50 %"},
        {SpeedDisplayMode::linesPerSecond, {50, 2.5, 150, 1.25, 75}, "1.25 l/s"},
        {SpeedDisplayMode::linesPerMinute, {50, 2.5, 150, 1.25, 75}, "75.00 l/m"},
        {SpeedDisplayMode::wordsPerSecond, {50, 2.5, 150, 1.25, 75}, "2.50 w/s"},
        {SpeedDisplayMode::wordsPerMinute, {50, 2.5, 150, 1.25, 75}, "150.00 w/m"},
        // Halves go to the even neighbour, as the C library's printf does.
        {SpeedDisplayMode::percentage, {38.5, 0, 0, 0, 0}, "38 %"},
        {SpeedDisplayMode::percentage, {39.5, 0, 0, 0, 0}, "40 %"},
        {SpeedDisplayMode::wordsPerSecond, {0, 0.125, 0, 0, 0}, "0.12 w/s"},
        {SpeedDisplayMode::linesPerMinute, {0, 0, 0, 0, 0.375}, "0.38 l/m"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(cw::SpeedLabelLayer::text(c.mode, c.figures), QString::fromUtf8(c.text));
    }
}

TEST(SpeedReadOut, ViewShowsTheScalePercentageAndTheRates) {
    auto view = cwtest::makeView(1200, 700);
    view->controls().setScrollSpeed(50);
    view->updateDisplay([&](auto& s) { s.speedDisplayMode = SpeedDisplayMode::percentage; });
    view->controls().updateSpeedLabel();
    EXPECT_EQ(view->controls().speedLabelLayer().string(), QStringLiteral("50 %"));
    view->controls().setScrollSpeedFigures(1.25, 75, 10, 600);
    view->updateDisplay([&](auto& s) { s.speedDisplayMode = SpeedDisplayMode::linesPerSecond; });
    view->controls().updateSpeedLabel();
    EXPECT_EQ(view->controls().speedLabelLayer().string(), QStringLiteral("1.25 l/s"));
    EXPECT_DOUBLE_EQ(view->controls().speedLabelLayer().fontSize(), 14);
}

// Rows of red ink inside `box` (image pixels), the border's outer two pixels left out.
std::pair<int, int> inkRows(const QImage& image, const QRect& box) {
    int top = box.bottom();
    int bottom = box.top();
    for (int y = box.top() + 2; y <= box.bottom() - 2; ++y) {
        for (int x = box.left() + 3; x <= box.right() - 3; ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() > 110 && c.green() < 60) {
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    return {top, bottom};
}

TEST(SpeedReadOut, EachModeIsCentredInItsBox) {
    auto view = cwtest::makeView(1200, 700);
    view->controls().setScrollSpeed(50);
    view->controls().setScrollSpeedFigures(1.25, 75, 2.5, 150);
    for (const auto mode :
         {SpeedDisplayMode::percentage, SpeedDisplayMode::wordsPerSecond, SpeedDisplayMode::wordsPerMinute,
          SpeedDisplayMode::linesPerSecond, SpeedDisplayMode::linesPerMinute}) {
        view->updateDisplay([&](auto& s) { s.speedDisplayMode = mode; });
        view->controls().updateSpeedLabel();
        const QImage image = view->renderToImage();
        const QRectF frame = view->controls().speedLabelLayer().frame();
        const QRect box(int(frame.x()), 700 - int(frame.y() + frame.height()), int(frame.width()),
                        int(frame.height()));
        const QImage crop = image.copy(box.adjusted(-4, -4, 4, 4));
        cwtest::saveImage(crop.scaled(crop.size() * 4), ("speed-mode-" + std::to_string(int(mode))).c_str());
        const auto [top, bottom] = inkRows(image, box);
        SCOPED_TRACE(view->controls().speedLabelLayer().string().toStdString());
        ASSERT_LE(top, bottom);
        EXPECT_GT(top, box.top() + 2);
        EXPECT_LT(bottom, box.bottom() - 2);
        // Equal space above and below the ink, within a pixel of the centre.
        EXPECT_LE(std::abs((top - box.top()) - (box.bottom() - bottom)), 2) << top << " " << bottom;
    }
}

TEST(TimeReadOut, RemainingTimeAndSwitchedOff) {
    auto view = cwtest::makeView(1200, 700);
    view->controls().setTotalRuntime(60);
    view->controls().setTimestamp(15);
    view->controls().updateTimestampLabel();
    EXPECT_EQ(view->controls().timestampLayer().string(), QStringLiteral("00:00:15.0"));
    view->updateDisplay([](auto& s) { s.timestampShowsRemainingTime = true; });
    view->controls().updateTimestampLabel();
    EXPECT_EQ(view->controls().timestampLayer().string(), QStringLiteral("-00:00:45.0"));

    view->updateDisplay([](auto& s) { s.showsTimestamp = false; });
    EXPECT_TRUE(view->controls().timestampLayer().isHidden());
    view->controls().setTimestamp(30);
    view->controls().updateTimestampLabel();
    EXPECT_EQ(view->controls().timestampLayer().string(), QStringLiteral("-00:00:45.0"));
}

TEST(IndicatorMark, FramesInAFortyPointSquare) {
    const QRectF bounds(0, 0, 40, 40);
    EXPECT_EQ(cw::IndicatorShape::frame(IndicatorType::arrow, IndicatorSize::medium, bounds),
              QRectF(4, 10, 15, 20));
    EXPECT_EQ(cw::IndicatorShape::frame(IndicatorType::dot, IndicatorSize::large, bounds),
              QRectF(4, 8.75, 22.5, 22.5));
    EXPECT_EQ(cw::IndicatorShape::frame(IndicatorType::line, IndicatorSize::small, bounds),
              QRectF(4, 19.5, 10, 1));
    EXPECT_TRUE(cw::IndicatorShape::frame(IndicatorType::none, IndicatorSize::large, bounds).isEmpty());
}

TEST(IndicatorMark, ColoursAndRedrawOnlyOnChange) {
    EXPECT_EQ(cw::IndicatorShape::resolvedColor(cw::IndicatorColor::white), QColor::fromRgbF(1, 1, 0));
    EXPECT_EQ(cw::IndicatorShape::resolvedColor(cw::IndicatorColor::red), QColor::fromRgbF(1, 0, 0));
    auto view = cwtest::makeView(400, 300);
    view->updateDisplay([&](auto& s) { s.indicatorType = IndicatorType::dot; });
    auto& layer = view->indicatorLayer();
    layer.displayIfNeeded();
    const int draws = layer.displayCount();
    layer.setIndicatorColor(layer.indicatorColor());
    layer.displayIfNeeded();
    EXPECT_EQ(layer.displayCount(), draws);
    layer.setIndicatorColor(cw::IndicatorColor::blue);
    layer.displayIfNeeded();
    EXPECT_EQ(layer.displayCount(), draws + 1);
}

struct OverlayFixture : ::testing::Test {
    OverlayFixture() {
        overlay->setFrame(QRectF(0, 0, 500, 1000));
        overlay->setVerticalCenter(0.5);
        overlay->setLineHeight(50);
    }
    std::shared_ptr<cw::OverlayLayer> overlay = std::make_shared<cw::OverlayLayer>();
    int shown() const {
        int n = 0;
        for (const auto& layer : overlay->sublayers()) {
            n += layer->isHidden() ? 0 : 1;
        }
        return n;
    }
};

TEST_F(OverlayFixture, NoneShowsNothing) {
    overlay->setOverlayType(OverlayType::none);
    overlay->updateOverlay();
    EXPECT_EQ(shown(), 0);
}

TEST_F(OverlayFixture, FadeOutKeepsAFifthOfTheHeightClear) {
    overlay->setOverlayType(OverlayType::fadeOut);
    overlay->updateOverlay();
    EXPECT_EQ(shown(), 2);
    EXPECT_EQ(overlay->upperGradientLayer()->frame(), QRectF(0, 600, 500, 400));
    EXPECT_EQ(overlay->lowerGradientLayer()->frame(), QRectF(0, 0, 500, 400));
    EXPECT_EQ(overlay->upperGradientLayer()->colors().size(), 2);
    EXPECT_EQ(overlay->upperGradientLayer()->colors()[0].alpha(), 0);
}

TEST_F(OverlayFixture, HighlightIsExactlyOneLine) {
    overlay->setOverlayType(OverlayType::highlight);
    overlay->updateOverlay();
    EXPECT_EQ(shown(), 1);
    EXPECT_EQ(overlay->highlightLayer()->frame(), QRectF(0, 475, 500, 50));
    overlay->setLineHeight(0);
    overlay->updateOverlay();
    EXPECT_DOUBLE_EQ(overlay->highlightLayer()->frame().height(), 0);
}

TEST_F(OverlayFixture, BlackOutWidensToTallLines) {
    overlay->setOverlayType(OverlayType::blackOut);
    overlay->setLineHeight(300);
    overlay->updateOverlay();
    EXPECT_EQ(overlay->upperBlackoutLayer()->frame(), QRectF(0, 650, 500, 350));
    EXPECT_EQ(overlay->lowerBlackoutLayer()->frame(), QRectF(0, 0, 500, 350));
    overlay->setOverlayType(OverlayType::blackOut3Lines);
    overlay->setLineHeight(100);
    overlay->updateOverlay();
    EXPECT_EQ(overlay->upperBlackoutLayer()->frame(), QRectF(0, 650, 500, 350));
}

TEST_F(OverlayFixture, ExpanseFadesTheUpperSideOnly) {
    overlay->setOverlayType(OverlayType::expanse);
    overlay->updateOverlay();
    EXPECT_EQ(shown(), 1);
    EXPECT_FALSE(overlay->upperGradientLayer()->isHidden());
    EXPECT_NEAR(overlay->upperGradientLayer()->colors()[0].alphaF(), 0.8, 0.01);
    overlay->setOverlayType(OverlayType::fadeOut);
    overlay->updateOverlay();
    EXPECT_EQ(overlay->upperGradientLayer()->colors()[1], overlay->gradientColor());
}

TEST(ProgressBar, QuarterOfFourHundredPoints) {
    cw::ScrollProgressLayer bar;
    bar.setFrame(QRectF(0, 0, 400, 5));
    bar.setProgress(0.25);
    bar.updateBar(bar.bounds());
    EXPECT_EQ(bar.progressLayer()->frame(), QRectF(0, 0, 100, 5));
    bar.setFlippedHorizontally(true);
    bar.updateBar(bar.bounds());
    EXPECT_EQ(bar.progressLayer()->frame(), QRectF(300, 0, 100, 5));
}

} // namespace
