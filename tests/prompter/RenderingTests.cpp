// The whole picture rendered offscreen: text at the reading position, mirroring, overlays,
// indicators and see-through windows. Images go to $CW_TEST_OUTPUT_DIR/prompter/.
#include "prompter/PrompterTestSupport.h"

#include "base/EnumTable.h"
#include "cuewright/prompter/OverlayLayer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr int W = 800;
constexpr int H = 500;

std::unique_ptr<cw::PrompterView> scriptView() {
    auto view = cwtest::makeView(W, H);
    view->setText(cwtest::script(600));
    view->updateDisplay([](auto& s) {
        s.prompterMargin = 0.1;
        s.prompterWordCountFactor = 0.6f;
    });
    view->setTransportProgress(0.3);
    view->controls().setTimestamp(12.5);
    view->controls().updateTimestampLabel();
    view->controls().setScrollSpeed(40);
    view->controls().updateSpeedLabel();
    view->layoutText();
    view->relayout(false);
    view->setScrollPosition(0.3, false, true);
    return view;
}

// Bright text pixels of the left and right halves over the text area (controls excluded).
std::pair<int, int> halves(const QImage& image) {
    const int left = cwtest::brightPixels(image, QRect(100, 100, W / 2 - 100, H - 200));
    const int right = cwtest::brightPixels(image, QRect(W / 2, 100, W / 2 - 100, H - 200));
    return {left, right};
}

TEST(PrompterRendering, TextShowsAtTheReadingPosition) {
    auto view = scriptView();
    const QImage image = view->renderToImage();
    cwtest::saveImage(image, "plain");
    // The band around mid-height (the reading position) carries text.
    EXPECT_GT(cwtest::brightPixels(image, QRect(100, H / 2 - 40, W - 200, 80)), 200);

    // At progress 0 nothing lies above the reading position.
    view->setScrollPosition(0, false, true);
    const QImage top = view->renderToImage();
    cwtest::saveImage(top, "progress-0");
    EXPECT_EQ(cwtest::brightPixels(top, QRect(100, 100, W - 200, H / 2 - 110)), 0);
    EXPECT_GT(cwtest::brightPixels(top, QRect(100, H / 2, W - 200, 60)), 100);
}

TEST(PrompterRendering, MirroringSwapsSides) {
    auto view = scriptView();
    view->updateDisplay([](auto& s) {
        s.textAlignment = cw::TextAlignment::left;
        s.prompterMargin = 0.5;
        s.prompterMarginAlignment = -1;
    });
    view->layoutText();
    view->relayout(false);
    view->setScrollPosition(0.3, false, true);
    const auto [left, right] = halves(view->renderToImage());
    EXPECT_GT(left, 10 * std::max(right, 1));

    view->updateDisplay([](auto& s) { s.flipHorizontal = true; });
    view->relayout(false);
    const QImage mirrored = view->renderToImage();
    cwtest::saveImage(mirrored, "mirrored");
    const auto [mLeft, mRight] = halves(mirrored);
    EXPECT_GT(mRight, 10 * std::max(mLeft, 1));
    // The mirrored time read-out is on screen, at the left.
    EXPECT_GT(cwtest::brightPixels(mirrored, QRect(10, H - 58, 220, 48), 120), 50);
}

TEST(PrompterRendering, OverlayBandsDarkenAwayFromTheReadingLine) {
    auto view = scriptView();
    const QRect upper(100, 20, W - 200, 120); // well above the clear band
    const int plain = cwtest::brightPixels(view->renderToImage(), upper);
    ASSERT_GT(plain, 200);
    for (int i = 0; i < 6; ++i) {
        const auto type = base::fromMenuIndex<cw::OverlayType>(i);
        view->updateDisplay([&](auto& s) { s.overlayType = type; });
        const QImage image = view->renderToImage();
        cwtest::saveImage(image, ("overlay-" + std::string(base::rawValue(type))).c_str());
        const int shaded = cwtest::brightPixels(image, upper);
        switch (type) {
        case cw::OverlayType::none:
        case cw::OverlayType::highlight:
            EXPECT_GT(shaded, plain / 2) << i;
            break;
        case cw::OverlayType::blackOut:
        case cw::OverlayType::blackOut3Lines:
            EXPECT_EQ(shaded, 0) << i;
            break;
        case cw::OverlayType::fadeOut:
        case cw::OverlayType::expanse:
            EXPECT_LT(shaded, plain) << i;
            break;
        }
    }
}

TEST(PrompterRendering, IndicatorsDrawAtTheLeftEdge) {
    auto view = scriptView();
    view->updateDisplay([](auto& s) {
        s.overlayType = cw::OverlayType::none;
        s.showsReadingLine = false;
    });
    view->relayout(false);
    const QRect mark(0, H / 2 - 40, 50, 80);
    for (int i = 0; i < 4; ++i) {
        const auto type = base::fromMenuIndex<cw::IndicatorType>(i);
        view->updateDisplay([&](auto& s) {
            s.indicatorType = type;
            s.indicatorColor = cw::IndicatorColor::green;
        });
        const QImage image = view->renderToImage();
        cwtest::saveImage(image, ("indicator-" + std::string(base::rawValue(type))).c_str());
        int green = 0;
        for (int y = mark.top(); y <= mark.bottom(); ++y) {
            for (int x = mark.left(); x <= mark.right(); ++x) {
                const QColor c = image.pixelColor(x, y);
                green += (c.green() > 90 && c.red() < 80) ? 1 : 0;
            }
        }
        if (type == cw::IndicatorType::none) {
            EXPECT_EQ(green, 0);
        } else {
            EXPECT_GT(green, 10) << i;
        }
    }
}

TEST(PrompterRendering, SeeThroughWindowAtAQuarter) {
    auto view = scriptView();
    view->updateDisplay([](auto& s) {
        s.backgroundColor = QColor(0, 0, 255);
        s.windowOpacity = 0.25f;
    });
    view->relayout(false);
    const QImage image = view->renderToImage();
    cwtest::saveImage(image, "opacity-0.25");
    // In the margin, away from text and controls: the background colour at a quarter.
    const QColor corner = image.pixelColor(10, 100);
    EXPECT_NEAR(corner.alpha(), 64, 3);
    EXPECT_EQ(corner.red(), 0);
    EXPECT_GT(corner.blue(), 200);
}

} // namespace
