// Control geometry, mirroring, hit testing, window opacity and applying the display state.
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
    EXPECT_DOUBLE_EQ(view->controls().controlScale(), 1.0);
    EXPECT_TRUE(view->controls().drawsControlLabels());
    EXPECT_EQ(view->controls().transportLayer().frame(), QRectF(600 - 225, 10, 450, 75));
    EXPECT_EQ(view->controls().rewindLayer().frame(), QRectF(1200 - 10 - 66, 700 - 10 - 66, 66, 66));
    EXPECT_EQ(view->controls().speedLayer().frame(), QRectF(1200 - 76, 350 - 198 - 20, 66, 396));
    EXPECT_EQ(view->controls().speedLabelLayer().frame(), QRectF(1200 - 76, 350 + 198 - 20 - 1, 66, 24));
    EXPECT_EQ(view->controls().timestampLayer().frame(), QRectF(1200 - 230, 10, 220, 48));
    EXPECT_DOUBLE_EQ(view->controls().timestampLayer().fontSize(), 40);
    EXPECT_EQ(view->controls().lineDownLayer().frame(), QRectF(10, 10, 66, 66));
    EXPECT_EQ(view->controls().lineUpLayer().frame(), QRectF(10, 86, 66, 66));
    EXPECT_EQ(view->controls().progressLayer().frame(), QRectF(0, 0, 1200, 5));
    EXPECT_TRUE(view->controls().transportLayer().drawsLabel());
}

// Small views hold the scale at its floor; below a scale of 0.7 the controls draw no labels.
TEST(PrompterControls, SmallViewsHoldTheScaleAtItsFloorAndDropLabels) {
    auto view = cwtest::makeView(400, 300);
    EXPECT_DOUBLE_EQ(view->controls().controlScale(), 0.32);
    EXPECT_FALSE(view->controls().drawsControlLabels());
    EXPECT_FALSE(view->controls().lineUpLayer().drawsLabel());
    EXPECT_NEAR(view->controls().rewindLayer().frame().width(), 21.12, 1e-9);
    EXPECT_NEAR(view->controls().lineUpLayer().frame().width(), 21, 0.5); // pixel-aligned
    EXPECT_NEAR(view->controls().transportLayer().frame().width(), 144, 1e-9);
    // 753894 × 0.7 = 527725.8: 1000 × 527.7258 points.
    for (const auto& [height, labels] : {std::pair{528, true}, {527, false}}) {
        auto edge = cwtest::makeView(1000, height);
        EXPECT_EQ(edge->controls().controlScale() > 0.7, labels) << height;
        EXPECT_EQ(edge->controls().drawsControlLabels(), labels) << height;
    }
}

// Linux key names are long: every hint is whole and read at a glance, from the full-size controls
// down to the smallest that show hints. On a control it lies inside, clear of the symbol and of
// the other hints; a binding a control has no room for goes beside it, over no other control.
TEST(PrompterControls, LongKeyNamesAreWholeAndClearOfEverythingElse) {
    cw::KeyHints hints;
    hints.playPause = QStringLiteral("Shift+Super+F12");
    hints.rewind = QStringLiteral("Alt+P");
    hints.incSpeed = QStringLiteral("Super+K");
    hints.decSpeed = QStringLiteral("Space");
    hints.lineUp = QStringLiteral("Shift+Super+F12");
    hints.lineDown = QStringLiteral("Backspace");
    for (const QSize size : {QSize(1200, 700), QSize(1000, 528)}) {
        auto view = cwtest::makeView(size.width(), size.height());
        view->controls().setKeyHints(hints);
        const cw::PrompterControlPanel& c = view->controls();
        const cw::ControlLayer* layers[] = {&c.transportLayer(), &c.rewindLayer(), &c.speedLayer(),
                                            &c.lineUpLayer(), &c.lineDownLayer()};
        for (const cw::ControlLayer* layer : layers) {
            const std::vector<cw::controls::PlacedHint> placed = layer->placedHints();
            const std::vector<cw::controls::PlacedHint> beside = layer->besideHints();
            std::size_t texts = beside.size();
            for (const auto& hint : placed) {
                SCOPED_TRACE(hint.text.toStdString() + " at " + std::to_string(size.width()));
                ++texts;
                EXPECT_TRUE(layer->bounds().contains(hint.box)) << "cut off at the control's edge";
                EXPECT_FALSE(hint.box.intersects(layer->symbolBounds())) << "over the symbol";
                EXPECT_GE(hint.font.pointSizeF(), cw::controls::minimumHintPointSize) << "too small to read";
                for (const auto& other : placed) {
                    EXPECT_TRUE(&other == &hint || !hint.box.intersects(other.box))
                        << "over " << other.text.toStdString();
                }
            }
            for (const auto& hint : beside) {
                SCOPED_TRACE(hint.text.toStdString() + " beside, at " + std::to_string(size.width()));
                EXPECT_GE(hint.font.pointSizeF(), cw::controls::minimumHintPointSize) << "too small to read";
                const QRectF inPanel = hint.box.translated(layer->frame().topLeft());
                EXPECT_TRUE(c.uiLayer().bounds().contains(inPanel)) << "off the view";
                for (const cw::ControlLayer* other : layers) {
                    EXPECT_FALSE(inPanel.intersects(other->frame())) << "over a control";
                }
            }
            EXPECT_EQ(texts, layer == &c.speedLayer() ? 4u : 2u) << "a hint went missing";
        }
    }
}

// Mirrored, the read-out is flipped in place and stays on screen; both flips move it and the bar.
TEST(PrompterControls, FlipsMoveTheReadOutAndTheBarAndKeepThemOnScreen) {
    auto view = cwtest::makeView(1200, 700);
    const cw::TimestampLayer& readout = view->controls().timestampLayer();
    view->updateDisplay([](auto& s) { s.flipHorizontal = true; });
    view->relayout(false);
    const QRectF inRoot = view->rootLayer().convertRect(readout.bounds(), &readout);
    EXPECT_TRUE(QRectF(0, 0, 1200, 700).contains(inRoot)) << inRoot.x();
    EXPECT_EQ(inRoot, QRectF(10, 10, 220, 48));

    view->updateDisplay([](auto& s) { s.flipVertical = true; });
    view->relayout(false);
    EXPECT_EQ(readout.frame(), QRectF(10, 700 - 48 - 10, 220, 48));
    EXPECT_TRUE(readout.isFlippedHorizontally());
    EXPECT_TRUE(readout.isFlippedVertically());
    EXPECT_EQ(view->controls().progressLayer().frame(), QRectF(0, 695, 1200, 5));
    EXPECT_TRUE(view->controls().progressLayer().isFlippedHorizontally());
    EXPECT_TRUE(view->backgroundLayer().isFlippedHorizontally());
    EXPECT_TRUE(view->controls().uiLayer().isFlippedVertically());
}

TEST(PrompterControls, HitTestsFollowTheMirroring) {
    auto view = cwtest::makeView(1200, 700);
    EXPECT_EQ(view->controls().controlAt(QPointF(40, 40)), PrompterControl::lineDown);
    EXPECT_EQ(view->controls().controlAt(QPointF(1160, 660)), PrompterControl::rewind);
    EXPECT_EQ(view->controls().controlAt(QPointF(600, 40)), PrompterControl::transport);
    EXPECT_EQ(view->controls().controlAt(QPointF(1160, 300)), PrompterControl::speed);
    EXPECT_EQ(view->controls().controlAt(QPointF(1100, 30)), PrompterControl::timestamp);
    EXPECT_EQ(view->controls().controlAt(QPointF(40, 110)), PrompterControl::lineUp);
    EXPECT_EQ(view->controls().controlAt(QPointF(1160, 540)), PrompterControl::speedLabel);
    EXPECT_EQ(view->controls().controlAt(QPointF(600, 350)), PrompterControl::none);

    view->updateDisplay([](auto& s) { s.flipHorizontal = true; });
    view->relayout(false);
    // The line-down button is drawn at the right now, the rewind button at the top left.
    EXPECT_EQ(view->controls().controlAt(QPointF(1160, 40)), PrompterControl::lineDown);
    EXPECT_EQ(view->controls().controlAt(QPointF(40, 660)), PrompterControl::rewind);
    EXPECT_EQ(view->controls().controlAt(QPointF(100, 30)), PrompterControl::timestamp);
    EXPECT_EQ(view->controls().controlAt(QPointF(300, 300)), PrompterControl::none);

    view->updateDisplay([](auto& s) { s.showsControls = false; });
    EXPECT_EQ(view->controls().controlAt(QPointF(1160, 40)), PrompterControl::lineDown);
}

TEST(PrompterAppearance, SeeThroughWindowShowsOnlyTheFill) {
    auto view = cwtest::makeView(400, 300);
    view->updateDisplay([](auto& s) {
        s.backgroundImage = QImage(10, 10, QImage::Format_RGB32);
        s.showsBackgroundImage = true;
        s.backgroundColor = Qt::blue;
        s.windowOpacity = 0.25f;
    });
    view->relayout(false);
    EXPECT_TRUE(view->imageLayer().isHidden());
    EXPECT_FALSE(view->fillLayer().isHidden());
    EXPECT_DOUBLE_EQ(view->fillLayer().opacity(), 0.25);
    EXPECT_EQ(view->fillLayer().backgroundColor(), QColor(Qt::blue));
    EXPECT_EQ(view->rootLayer().backgroundColor().alpha(), 0);
    EXPECT_FALSE(view->rootLayer().isOpaque());

    view->updateDisplay([](auto& s) { s.windowOpacity = 1.0f; });
    EXPECT_TRUE(view->fillLayer().isHidden());
    EXPECT_FALSE(view->imageLayer().isHidden());
    EXPECT_EQ(view->backgroundLayer().backgroundColor(), QColor(Qt::blue));
}

TEST(PrompterAppearance, EqualBackgroundColourChangesNothing) {
    auto view = cwtest::makeView(400, 300);
    view->updateDisplay([](auto& s) { s.backgroundColor = Qt::darkGreen; });
    view->overlayLayer().setGradientColor(Qt::red); // a marker the observer would overwrite
    view->updateDisplay([](auto& s) { s.backgroundColor = Qt::darkGreen; });
    EXPECT_EQ(view->overlayLayer().gradientColor(), QColor(Qt::red));
    view->updateDisplay([](auto& s) { s.backgroundColor = Qt::darkBlue; });
    EXPECT_EQ(view->overlayLayer().gradientColor(), QColor(Qt::darkBlue));
    EXPECT_EQ(view->fillLayer().backgroundColor(), QColor(Qt::darkBlue));
}

TEST(PrompterAppearance, WhiteIndicatorWithoutStoredTextColourGivesYellowLine) {
    auto view = cwtest::makeView(400, 300);
    view->updateDisplay([](auto& s) { s.indicatorColor = cw::IndicatorColor::white; });
    EXPECT_EQ(view->readingLineColor(), QColor::fromRgbF(1, 1, 0));
    EXPECT_EQ(view->readingLineLayer().backgroundColor(), QColor::fromRgbF(1, 1, 0));
}

TEST(PrompterAppearance, IndicatorSitsAtTheReadingPosition) {
    auto view = cwtest::makeView(1000, 600);
    view->updateDisplay([](auto& s) {
        s.prompterWordCountFactor = 0.5f;
        s.prompterMargin = 0.1;
    });
    view->layoutText();
    view->updateDisplay([](auto& s) { s.indicatorPosition = 0.25f; });
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
    view->applyScriptProperties(properties, cw::TextAlignment::center);
    ASSERT_FALSE(view->textLayers().empty());
    std::weak_ptr<platform::layers::TiledTextLayer> first = view->textLayers()[0];
    // Forced again with the same margins: no new layout.
    view->applyScriptProperties(properties, cw::TextAlignment::center);
    EXPECT_EQ(view->textLayers()[0], first.lock());
    properties.prompterMargin = 0.3f;
    view->applyScriptProperties(properties, cw::TextAlignment::center);
    EXPECT_TRUE(first.expired());
    EXPECT_NEAR(view->textWidth(), 800 * 0.7 - 10, 1e-3);
    properties.overlayType = cw::OverlayType::blackOut;
    properties.overlayOpacity = 0.5f;
    view->applyScriptProperties(properties, cw::TextAlignment::left);
    EXPECT_EQ(view->display().overlayType, cw::OverlayType::blackOut);
    EXPECT_DOUBLE_EQ(view->display().overlayOpacity, 0.5);
    EXPECT_EQ(view->display().textAlignment, cw::TextAlignment::left);
}

TEST(PrompterAppearance, LineStepTintsFollowTheRunningDirection) {
    auto view = cwtest::makeView(400, 300);
    const QColor lit = QColor::fromRgbF(1, 0, 0, 0.5);
    const QColor dark = QColor::fromRgbF(0, 0, 0, 0.5);
    view->setTransportState({cw::PrompterTransport::Status::playing, 0.1, 1.0});
    EXPECT_EQ(view->controls().lineDownLayer().backgroundColor(), lit);
    EXPECT_EQ(view->controls().lineUpLayer().backgroundColor(), dark);
    EXPECT_EQ(view->controls().transportLayer().transportState(), cw::PrompterTransport::Status::playing);

    view->controls().setHeld(cw::PrompterControlPanel::PressSource::pointer, true);
    view->setTransportState({cw::PrompterTransport::Status::playing, 0.1, -1.0});
    EXPECT_EQ(view->controls().lineDownLayer().backgroundColor(), lit) << "held mouse keeps the tints";
    view->controls().setHeld(cw::PrompterControlPanel::PressSource::pointer, false);
    view->controls().updateLineStepHighlight();
    EXPECT_EQ(view->controls().lineUpLayer().backgroundColor(), lit);
    EXPECT_EQ(view->controls().lineDownLayer().backgroundColor(), dark);

    view->setTransportState({cw::PrompterTransport::Status::stopped, 0.1, -1.0});
    EXPECT_EQ(view->controls().lineUpLayer().backgroundColor(), dark);
}

TEST(PrompterAppearance, ProgressMovesTheBar) {
    auto view = cwtest::makeView(400, 300);
    view->setTransportProgress(0.25);
    EXPECT_EQ(view->controls().progressLayer().progressLayer()->frame(),
              QRectF(0, 0, 100, view->controls().progressLayer().bounds().height()));
    view->updateDisplay([](auto& s) { s.flipHorizontal = true; });
    view->relayout(false);
    EXPECT_DOUBLE_EQ(view->controls().progressLayer().progressLayer()->frame().left(), 300);
}

// A display change does the work it needs and no more: a text layout (and relayout) for the text's
// layout values, a relayout for the geometry, otherwise only the layers concerned are redrawn.
TEST(PrompterDisplay, ApplyDoesTheWorkTheChangeNeeds) {
    using Change = cw::DisplayChange;
    struct Case {
        const char* what;
        void (*change)(cw::PrompterDisplayState&);
        Change expected;
    };
    const Case cases[] = {
        {"nothing", [](auto&) {}, Change::none},
        {"alignment", [](auto& s) { s.textAlignment = cw::TextAlignment::right; }, Change::layout},
        {"margin", [](auto& s) { s.prompterMargin = 0.2; }, Change::layout},
        {"margin alignment", [](auto& s) { s.prompterMarginAlignment = 1; }, Change::layout},
        {"words per line", [](auto& s) { s.prompterWordCountFactor = 0.4f; }, Change::layout},
        {"margin and mirroring", [](auto& s) { s.prompterMargin = 0.2, s.flipVertical = true; },
         Change::layout},
        {"mirroring", [](auto& s) { s.flipHorizontal = true; }, Change::relayout},
        {"reading position", [](auto& s) { s.indicatorPosition = 0.3f; }, Change::relayout},
        {"window opacity", [](auto& s) { s.windowOpacity = 0.5f; }, Change::relayout},
        {"background", [](auto& s) { s.backgroundColor = Qt::blue; }, Change::redraw},
        {"overlay", [](auto& s) { s.overlayType = cw::OverlayType::fadeOut; }, Change::redraw},
        {"indicator", [](auto& s) { s.indicatorColor = cw::IndicatorColor::white; }, Change::redraw},
        {"controls", [](auto& s) { s.showsControls = false, s.controlsOpacity = 0.5f; }, Change::redraw},
        {"speed lock", [](auto& s) { s.speedLocked = true; }, Change::redraw},
    };
    for (const Case& c : cases) {
        auto view = cwtest::makeView(800, 600);
        const int layouts = view->layoutPasses();
        const int relayouts = view->relayoutPasses();
        EXPECT_EQ(view->updateDisplay(c.change), c.expected) << c.what;
        EXPECT_EQ(view->layoutPasses() - layouts, c.expected == Change::layout ? 1 : 0) << c.what;
        EXPECT_EQ(view->relayoutPasses() - relayouts, c.expected >= Change::relayout ? 1 : 0) << c.what;
        EXPECT_EQ(view->apply(view->display()), Change::none) << c.what << ": applied again";
    }
}

} // namespace
