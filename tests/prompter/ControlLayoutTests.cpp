// Control geometry, mirroring, hit testing, window opacity and the property observers.
#include "prompter/PrompterTestSupport.h"

#include "cuewright/model/ScriptProperties.h"
#include "cuewright/prompter/IndicatorLayer.h"
#include "cuewright/prompter/LineUpDownLayer.h"
#include "cuewright/prompter/OverlayLayer.h"
#include "cuewright/prompter/RewindControlLayer.h"
#include "cuewright/prompter/ScrollProgressLayer.h"
#include "cuewright/prompter/SpeedControlLayer.h"
#include "cuewright/prompter/SpeedLabelLayer.h"
#include "cuewright/prompter/TimestampLayer.h"
#include "cuewright/prompter/TransportControlLayer.h"
#include "platform/layers/TiledTextLayer.h"

#include <gtest/gtest.h>

using cw::PrompterControl;
using cw::PrompterView;

namespace {

TEST(PrompterControls, FullScaleAtLargeViews) {
    auto view = cwtest::makeView(1200, 700);
    EXPECT_DOUBLE_EQ(view->controlScale(), 1.0);
    EXPECT_TRUE(view->drawsControlLabels());
    EXPECT_EQ(view->transportLayer().frame(), QRectF(600 - 225, 10, 450, 75));
    EXPECT_EQ(view->rewindLayer().frame(), QRectF(1200 - 10 - 66, 700 - 10 - 66, 66, 66));
    EXPECT_EQ(view->speedLayer().frame(), QRectF(1200 - 76, 350 - 198 - 20, 66, 396));
    EXPECT_EQ(view->speedLabelLayer().frame(), QRectF(1200 - 76, 350 + 198 - 20 - 1, 66, 24));
    EXPECT_EQ(view->timestampLayer().frame(), QRectF(1200 - 230, 10, 220, 48));
    EXPECT_DOUBLE_EQ(view->timestampLayer().fontSize(), 40);
    EXPECT_EQ(view->lineDownLayer().frame(), QRectF(10, 10, 66, 66));
    EXPECT_EQ(view->lineUpLayer().frame(), QRectF(10, 86, 66, 66));
    EXPECT_EQ(view->progressLayer().frame(), QRectF(0, 0, 1200, 5));
    EXPECT_TRUE(view->transportLayer().drawsLabel());
}

TEST(PrompterControls, SmallViewsHoldTheScaleAtItsFloorAndDropLabels) {
    auto view = cwtest::makeView(400, 300);
    EXPECT_DOUBLE_EQ(view->controlScale(), 0.32);
    EXPECT_FALSE(view->drawsControlLabels());
    EXPECT_FALSE(view->lineUpLayer().drawsLabel());
    EXPECT_NEAR(view->rewindLayer().frame().width(), 21.12, 1e-9);
    EXPECT_NEAR(view->lineUpLayer().frame().width(), 21, 0.5); // pixel-aligned
    EXPECT_NEAR(view->transportLayer().frame().width(), 144, 1e-9);
}

TEST(PrompterControls, ScaleOfExactlySevenTenthsDrawsNoLabels) {
    // 753894 × 0.7 = 527725.8: 1000 × 527.7258 points.
    auto view = cwtest::makeView(1000, 528);
    EXPECT_GT(view->controlScale(), 0.7);
    EXPECT_TRUE(view->drawsControlLabels());
    auto exact = cwtest::makeView(1000, 527);
    EXPECT_LT(exact->controlScale(), 0.7);
    EXPECT_FALSE(exact->drawsControlLabels());
}

TEST(PrompterControls, BothFlipsMoveTheReadOutAndTheBar) {
    auto view = cwtest::makeView(1200, 700);
    view->setFlipHorizontal(true);
    view->setFlipVertical(true);
    view->relayout(false);
    EXPECT_EQ(view->timestampLayer().frame(), QRectF(10, 700 - 48 - 10, 220, 48));
    EXPECT_TRUE(view->timestampLayer().isFlippedHorizontally());
    EXPECT_TRUE(view->timestampLayer().isFlippedVertically());
    EXPECT_EQ(view->progressLayer().frame(), QRectF(0, 695, 1200, 5));
    EXPECT_TRUE(view->progressLayer().isFlippedHorizontally());
    EXPECT_TRUE(view->backgroundLayer().isFlippedHorizontally());
    EXPECT_TRUE(view->uiLayer().isFlippedVertically());
}

TEST(PrompterControls, MirroredReadOutStaysOnScreen) {
    auto view = cwtest::makeView(1200, 700);
    view->setFlipHorizontal(true);
    view->relayout(false);
    // Mirrored in place: its picture covers its own frame, inside the view.
    const QRectF shown = view->timestampLayer().convertRect(view->timestampLayer().bounds(), nullptr);
    const QRectF inRoot =
        view->rootLayer().convertRect(view->timestampLayer().bounds(), &view->timestampLayer());
    EXPECT_TRUE(QRectF(0, 0, 1200, 700).contains(inRoot)) << inRoot.x() << " " << shown.x();
    EXPECT_EQ(inRoot, QRectF(10, 10, 220, 48));
}

TEST(PrompterControls, HitTestsFollowTheMirroring) {
    auto view = cwtest::makeView(1200, 700);
    EXPECT_EQ(view->controlAt(QPointF(40, 40)), PrompterControl::lineDown);
    EXPECT_EQ(view->controlAt(QPointF(1160, 660)), PrompterControl::rewind);
    EXPECT_EQ(view->controlAt(QPointF(600, 40)), PrompterControl::transport);
    EXPECT_EQ(view->controlAt(QPointF(1160, 300)), PrompterControl::speed);
    EXPECT_EQ(view->controlAt(QPointF(1100, 30)), PrompterControl::timestamp);
    EXPECT_EQ(view->controlAt(QPointF(40, 110)), PrompterControl::lineUp);
    EXPECT_EQ(view->controlAt(QPointF(1160, 540)), PrompterControl::speedLabel);
    EXPECT_EQ(view->controlAt(QPointF(600, 350)), PrompterControl::none);

    view->setFlipHorizontal(true);
    view->relayout(false);
    // The line-down button is drawn at the right now, the rewind button at the top left.
    EXPECT_EQ(view->controlAt(QPointF(1160, 40)), PrompterControl::lineDown);
    EXPECT_EQ(view->controlAt(QPointF(40, 660)), PrompterControl::rewind);
    EXPECT_EQ(view->controlAt(QPointF(100, 30)), PrompterControl::timestamp);
    EXPECT_EQ(view->controlAt(QPointF(300, 300)), PrompterControl::none);

    view->setShowsControls(false);
    EXPECT_EQ(view->controlAt(QPointF(1160, 40)), PrompterControl::lineDown);
}

TEST(PrompterAppearance, SeeThroughWindowShowsOnlyTheFill) {
    auto view = cwtest::makeView(400, 300);
    view->setBackgroundImage(QImage(10, 10, QImage::Format_RGB32));
    view->setShowsBackgroundImage(true);
    view->setBackgroundColor(Qt::blue);
    view->setWindowOpacity(0.25f);
    view->applyWindowOpacity();
    view->relayout(false);
    EXPECT_TRUE(view->imageLayer().isHidden());
    EXPECT_FALSE(view->fillLayer().isHidden());
    EXPECT_DOUBLE_EQ(view->fillLayer().opacity(), 0.25);
    EXPECT_EQ(view->fillLayer().backgroundColor(), QColor(Qt::blue));
    EXPECT_EQ(view->rootLayer().backgroundColor().alpha(), 0);
    EXPECT_FALSE(view->rootLayer().isOpaque());

    view->setWindowOpacity(1.0f);
    view->applyWindowOpacity();
    EXPECT_TRUE(view->fillLayer().isHidden());
    EXPECT_FALSE(view->imageLayer().isHidden());
    EXPECT_EQ(view->backgroundLayer().backgroundColor(), QColor(Qt::blue));
}

TEST(PrompterAppearance, EqualBackgroundColourChangesNothing) {
    auto view = cwtest::makeView(400, 300);
    view->setBackgroundColor(Qt::darkGreen);
    view->overlayLayer().setGradientColor(Qt::red); // a marker the observer would overwrite
    view->setBackgroundColor(Qt::darkGreen);
    EXPECT_EQ(view->overlayLayer().gradientColor(), QColor(Qt::red));
    view->setBackgroundColor(Qt::darkBlue);
    EXPECT_EQ(view->overlayLayer().gradientColor(), QColor(Qt::darkBlue));
    EXPECT_EQ(view->fillLayer().backgroundColor(), QColor(Qt::darkBlue));
}

TEST(PrompterAppearance, WhiteIndicatorWithoutStoredTextColourGivesYellowLine) {
    auto view = cwtest::makeView(400, 300);
    view->setIndicatorColor(cw::IndicatorColor::white);
    EXPECT_EQ(view->readingLineColor(), QColor::fromRgbF(1, 1, 0));
    EXPECT_EQ(view->readingLineLayer().backgroundColor(), QColor::fromRgbF(1, 1, 0));
}

TEST(PrompterAppearance, IndicatorSitsAtTheReadingPosition) {
    auto view = cwtest::makeView(1000, 600);
    view->setPrompterWordCountFactor(0.5f);
    view->setPrompterMargin(0.1);
    view->layoutText();
    view->setIndicatorPosition(0.25f);
    view->relayout(false);
    EXPECT_EQ(view->indicatorLayer().frame(), QRectF(4, 150 - 44.5, 89, 89));
    EXPECT_DOUBLE_EQ(view->readingLineLayer().frame().left(), 20);
    EXPECT_DOUBLE_EQ(view->readingLineLayer().frame().width(), 960);
    EXPECT_DOUBLE_EQ(view->readingLineLayer().frame().height(), 1);
    EXPECT_NEAR(view->readingLineLayer().frame().center().y(), 150, 0.5);
    EXPECT_DOUBLE_EQ(view->overlayLayer().verticalCenter(), 0.25);
}

TEST(PrompterAppearance, PropertyPushSkipsUnchangedValues) {
    auto view = cwtest::makeView(800, 600);
    cw::DocumentScriptProperties properties;
    view->applyScriptProperties(properties, cw::TextAlignment::center, true);
    ASSERT_FALSE(view->textLayers().empty());
    std::weak_ptr<platform::layers::TiledTextLayer> first = view->textLayers()[0];
    // Forced again with the same margins: no new layout.
    view->applyScriptProperties(properties, cw::TextAlignment::center, true);
    EXPECT_EQ(view->textLayers()[0], first.lock());
    properties.prompterMargin = 0.3f;
    view->applyScriptProperties(properties, cw::TextAlignment::center, false);
    EXPECT_TRUE(first.expired());
    EXPECT_NEAR(view->textWidth(), 800 * 0.7 - 10, 1e-3);
    properties.overlayType = cw::OverlayType::blackOut;
    properties.overlayOpacity = 0.5f;
    view->applyScriptProperties(properties, cw::TextAlignment::left, false);
    EXPECT_EQ(view->overlayType(), cw::OverlayType::blackOut);
    EXPECT_DOUBLE_EQ(view->overlayOpacity(), 0.5);
    EXPECT_EQ(view->textAlignment(), cw::TextAlignment::left);
}

TEST(PrompterAppearance, LineStepTintsFollowTheRunningDirection) {
    auto view = cwtest::makeView(400, 300);
    const QColor lit = QColor::fromRgbF(1, 0, 0, 0.5);
    const QColor dark = QColor::fromRgbF(0, 0, 0, 0.5);
    view->setTransportState({cw::PrompterTransport::Status::playing, 0.1, 1.0});
    EXPECT_EQ(view->lineDownLayer().backgroundColor(), lit);
    EXPECT_EQ(view->lineUpLayer().backgroundColor(), dark);
    EXPECT_EQ(view->transportLayer().transportState(), cw::PrompterTransport::Status::playing);

    view->setMouseDown(true);
    view->setTransportState({cw::PrompterTransport::Status::playing, 0.1, -1.0});
    EXPECT_EQ(view->lineDownLayer().backgroundColor(), lit) << "held mouse keeps the tints";
    view->setMouseDown(false);
    view->updateLineStepHighlight();
    EXPECT_EQ(view->lineUpLayer().backgroundColor(), lit);
    EXPECT_EQ(view->lineDownLayer().backgroundColor(), dark);

    view->setTransportState({cw::PrompterTransport::Status::stopped, 0.1, -1.0});
    EXPECT_EQ(view->lineUpLayer().backgroundColor(), dark);
}

TEST(PrompterAppearance, ProgressMovesTheBar) {
    auto view = cwtest::makeView(400, 300);
    view->setTransportProgress(0.25);
    EXPECT_EQ(view->progressLayer().progressLayer()->frame(),
              QRectF(0, 0, 100, view->progressLayer().bounds().height()));
    view->setFlipHorizontal(true);
    view->relayout(false);
    EXPECT_DOUBLE_EQ(view->progressLayer().progressLayer()->frame().left(), 300);
}

} // namespace
