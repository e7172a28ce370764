// The read-outs, the indicator mark, the overlay bands and the progress bar.
#include "prompter/PrompterTestSupport.h"

#include "cuewright/prompter/IndicatorLayer.h"
#include "cuewright/prompter/IndicatorShape.h"
#include "cuewright/prompter/OverlayLayer.h"
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

// The view shows the scale percentage and the rates, each centred in its box.
TEST(SpeedReadOut, EachModeIsShownCentredInItsBox) {
    auto view = cwtest::makeView(1200, 700);
    view->controls().setScrollSpeed(50);
    view->controls().setScrollSpeedFigures(1.25, 75, 2.5, 150);
    const struct {
        SpeedDisplayMode mode;
        const char* text;
        double fontSize;
    } modes[] = {
        {SpeedDisplayMode::percentage, "50 %", 16},
        {SpeedDisplayMode::wordsPerSecond, "2.50 w/s", 14},
        {SpeedDisplayMode::wordsPerMinute, "150.00 w/m", 12},
        {SpeedDisplayMode::linesPerSecond, "1.25 l/s", 14},
        {SpeedDisplayMode::linesPerMinute, "75.00 l/m", 13},
    };
    for (const auto& [mode, text, fontSize] : modes) {
        view->updateDisplay([&](auto& s) { s.speedDisplayMode = mode; });
        view->controls().updateSpeedLabel();
        EXPECT_EQ(view->controls().speedLabelLayer().string(), QString::fromUtf8(text));
        EXPECT_DOUBLE_EQ(view->controls().speedLabelLayer().fontSize(), fontSize);
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

// Remaining time is the total less the time read, not the time read again.
TEST(TimeReadOut, RemainingTimeIsWhatIsLeft) {
    auto view = cwtest::makeView(1200, 700);
    view->controls().setTotalRuntime(60);
    view->controls().setTimestamp(15);
    view->controls().updateTimestampLabel();
    EXPECT_EQ(view->controls().timestampLayer().string(), QStringLiteral("00:00:15.0"));
    view->updateDisplay([](auto& s) { s.timestampShowsRemainingTime = true; });
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

// Each overlay type shows its own bands around the reading line, at half of 1000 points.
TEST(OverlayBands, EachTypeShowsItsBandsSizedByTheLineHeight) {
    const auto owner = std::make_shared<cw::OverlayLayer>();
    cw::OverlayLayer& overlay = *owner;
    overlay.setFrame(QRectF(0, 0, 500, 1000));
    overlay.setVerticalCenter(0.5);
    const auto show = [&](OverlayType type, double lineHeight = 50) {
        overlay.setOverlayType(type);
        overlay.setLineHeight(lineHeight);
        overlay.updateOverlay();
        int shown = 0;
        for (const auto& layer : overlay.sublayers()) {
            shown += layer->isHidden() ? 0 : 1;
        }
        return shown;
    };
    EXPECT_EQ(show(OverlayType::none), 0);
    // A fade keeps a fifth of the height clear.
    EXPECT_EQ(show(OverlayType::fadeOut), 2);
    EXPECT_EQ(overlay.upperGradientLayer()->frame(), QRectF(0, 600, 500, 400));
    EXPECT_EQ(overlay.lowerGradientLayer()->frame(), QRectF(0, 0, 500, 400));
    EXPECT_EQ(overlay.upperGradientLayer()->colors().size(), 2);
    EXPECT_EQ(overlay.upperGradientLayer()->colors()[0].alpha(), 0);
    EXPECT_EQ(overlay.upperGradientLayer()->colors()[1], overlay.gradientColor());
    // A highlight is exactly one line.
    EXPECT_EQ(show(OverlayType::highlight), 1);
    EXPECT_EQ(overlay.highlightLayer()->frame(), QRectF(0, 475, 500, 50));
    show(OverlayType::highlight, 0);
    EXPECT_DOUBLE_EQ(overlay.highlightLayer()->frame().height(), 0);
    // A black-out widens to tall lines.
    show(OverlayType::blackOut, 300);
    EXPECT_EQ(overlay.upperBlackoutLayer()->frame(), QRectF(0, 650, 500, 350));
    EXPECT_EQ(overlay.lowerBlackoutLayer()->frame(), QRectF(0, 0, 500, 350));
    show(OverlayType::blackOut3Lines, 100);
    EXPECT_EQ(overlay.upperBlackoutLayer()->frame(), QRectF(0, 650, 500, 350));
    // The expanse fades the upper side only.
    EXPECT_EQ(show(OverlayType::expanse), 1);
    EXPECT_FALSE(overlay.upperGradientLayer()->isHidden());
    EXPECT_NEAR(overlay.upperGradientLayer()->colors()[0].alphaF(), 0.8, 0.01);
}

} // namespace
