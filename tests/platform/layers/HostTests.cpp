// The host widget: y-up conversion, painting on change, a frame tick only while animating.
#include "LayerTestSupport.h"

#include "platform/layers/Layer.h"
#include "platform/layers/LayerHost.h"
#include "platform/layers/LayerRenderer.h"
#include "platform/layers/Transaction.h"

#include <gtest/gtest.h>

#include <QApplication>

#include <functional>
#include <vector>

using namespace platform::layers;
using layertest::at;
using layertest::box;

namespace {

class Host : public ::testing::Test {
protected:
    void SetUp() override {
        host.resize(200, 100);
        root = std::make_shared<Layer>();
        root->setBackgroundColor(Qt::black);
        marker = box(QRectF(0, 0, 20, 10), Qt::red);
        root->addSublayer(marker);
        host.setRootLayer(root);
        host.show();
    }
    // Starts a move of the marker to x 150 over 0.15 s.
    void animateMarker() {
        TransactionScope animated(0.15);
        marker->setPosition(QPointF(150, 0));
    }
    layertest::FakeClock clock;
    LayerHost host;
    std::shared_ptr<Layer> root;
    std::shared_ptr<Layer> marker;
};

TEST_F(Host, TheRootFollowsTheWidgetAndYGrowsUpwards) {
    EXPECT_EQ(root->frame(), QRectF(0, 0, 200, 100));
    const QImage image = host.grab().toImage();
    EXPECT_COLOR(image.pixelColor(5, 95), QColor(Qt::red)); // bottom-left in widget pixels
    EXPECT_COLOR(image.pixelColor(5, 5), QColor(Qt::black));
    EXPECT_EQ(host.renderToImage().pixelColor(5, 95), image.pixelColor(5, 95));

    EXPECT_EQ(host.hostPointFromWidget(QPointF(5, 95)), QPointF(5, 5));
    EXPECT_EQ(host.widgetPointFromHost(QPointF(5, 5)), QPointF(5, 95));
    EXPECT_EQ(host.layerAt(QPointF(5, 95)), marker.get());
    EXPECT_EQ(host.layerAt(QPointF(5, 5)), root.get());

    host.resize(300, 120);
    host.grab(); // a hidden widget learns its size when painted or shown
    EXPECT_EQ(root->frame(), QRectF(0, 0, 300, 120));
}

// The host ticks only while an animation runs in its tree, and not while hidden.
TEST_F(Host, TicksOnlyWhileAnAnimationRuns) {
    host.grab();
    EXPECT_FALSE(host.isTicking());
    marker->setPosition(QPointF(50, 0)); // immediate: one update, no tick
    EXPECT_FALSE(host.isTicking());

    animateMarker();
    EXPECT_TRUE(host.isTicking());
    clock.advance(0.075);
    const int frames = host.framesPainted();
    QImage image = host.grab().toImage();
    EXPECT_EQ(host.framesPainted(), frames + 1);
    EXPECT_TRUE(host.isTicking());
    EXPECT_COLOR(image.pixelColor(105, 95), QColor(Qt::red)); // halfway: at x 100...120
    clock.advance(0.1);
    image = host.grab().toImage();
    EXPECT_FALSE(host.isTicking()); // the first frame without animation stops the tick
    EXPECT_COLOR(image.pixelColor(155, 95), QColor(Qt::red));

    auto loose = box(QRectF(0, 0, 10, 10), Qt::green);
    {
        TransactionScope animated(0.15);
        loose->setPosition(QPointF(100, 50));
    }
    host.grab();
    EXPECT_FALSE(host.isTicking());
    root->addSublayer(loose); // an animated layer joining the tree starts the tick
    EXPECT_TRUE(host.isTicking());
}

TEST_F(Host, AHiddenHostDoesNotTick) {
    host.hide();
    animateMarker();
    EXPECT_FALSE(host.isTicking());
    host.show();
    host.grab(); // the first frame after showing finds the animation and starts the tick
    EXPECT_TRUE(host.isTicking());
}

// Frames from the owner's clock: changes wait for its step, each step paints one frame at that
// step's time, the last frame of an animation comes even when the animation ended between two
// steps, and a step with nothing new paints nothing.
TEST_F(Host, ClockedExternallyEachStepPaintsTheFrameOfItsTime) {
    host.setClockedExternally(true);
    QApplication::processEvents(); // the first frame, asked for before
    const auto framesAfter = [&](const std::function<void()>& step) {
        const int before = host.framesPainted();
        step();
        for (int i = 0; i < 3; ++i) {
            QApplication::processEvents();
        }
        return host.framesPainted() - before;
    };
    EXPECT_EQ(framesAfter([&] { animateMarker(); }), 0);
    EXPECT_FALSE(host.isTicking());
    clock.advance(0.075);
    EXPECT_EQ(framesAfter([&] { host.advanceFrame(); }), 1);
    clock.advance(0.01);
    EXPECT_COLOR(host.grab().toImage().pixelColor(80, 95), QColor(Qt::red)); // the step's time: halfway

    clock.advance(0.1); // the animation ended since the last step
    EXPECT_EQ(framesAfter([&] { host.advanceFrame(); }), 1);
    EXPECT_COLOR(host.grab().toImage().pixelColor(155, 95), QColor(Qt::red));
    EXPECT_EQ(framesAfter([&] { host.advanceFrame(); }), 0);
}

TEST_F(Host, AnotherTreesLayerCannotBecomeTheRoot) {
    LayerHost other;
    other.setRootLayer(marker); // it has a superlayer
    EXPECT_EQ(other.rootLayer(), nullptr);
    other.setRootLayer(root); // it belongs to the first host
    EXPECT_EQ(other.rootLayer(), nullptr);
}

} // namespace

TEST(HostBackground, LeftOutOnlyWhereTheLayersCoverItOpaquely) {
    // The host's own fill may be left out only when the first thing painted is an opaque colour over
    // every pixel of the area.
    struct Case {
        const char* name;
        std::function<void(Layer& root, Layer& cover)> change;
        bool covered;
    };
    const QTransform device(1, 0, 0, -1, 0, 100); // y up onto a 200 × 100 device
    const QRect all(0, 0, 200, 100);
    const auto layerBefore = [](bool hidden) {
        return [hidden](Layer& root, Layer&) {
            auto first = box(QRectF(0, 0, 5, 5), Qt::red);
            root.insertSublayer(first, 0);
            first->setHidden(hidden);
        };
    };
    const std::vector<Case> cases{
        {"an opaque first sublayer over it all", [](Layer&, Layer&) {}, true},
        {"a hidden layer before it", layerBefore(/*hidden=*/true), true},
        {"a shown layer before it", layerBefore(/*hidden=*/false), false},
        {"a translucent colour", [](Layer&, Layer& cover) { cover.setBackgroundColor(QColor(0, 0, 0, 254)); },
         false},
        {"a translucent layer", [](Layer&, Layer& cover) { cover.setOpacity(0.99); }, false},
        {"rounded corners", [](Layer&, Layer& cover) { cover.setCornerRadius(4); }, false},
        {"a pixel short", [](Layer&, Layer& cover) { cover.setFrame(QRectF(0, 0, 199, 100)); }, false},
        {"edges between pixels", [](Layer&, Layer& cover) { cover.setFrame(QRectF(0, 0.5, 200, 100)); },
         false},
        {"larger than the area", [](Layer&, Layer& cover) { cover.setFrame(QRectF(-3, -3, 210, 110)); },
         true},
        {"a root with a colour", [](Layer& root, Layer&) { root.setBackgroundColor(QColor(0, 0, 0, 10)); },
         false},
        {"a translucent root", [](Layer& root, Layer&) { root.setOpacity(0.5); }, false},
        {"a root that clips it short",
         [](Layer& root, Layer&) {
             root.setMasksToBounds(true);
             root.setBounds(QRectF(0, 0, 150, 100));
         },
         false},
        {"a rotated cover", [](Layer&, Layer& cover) { cover.setTransform(QTransform().rotate(1)); }, false},
    };
    for (const Case& c : cases) {
        auto root = box(QRectF(0, 0, 200, 100));
        auto hidden = box(QRectF(0, 0, 5, 5), Qt::green);
        hidden->setHidden(true);
        root->addSublayer(hidden);
        auto cover = box(QRectF(0, 0, 200, 100), Qt::darkBlue);
        root->addSublayer(cover);
        c.change(*root, *cover);
        EXPECT_EQ(LayerRenderer::coversOpaquely(*root, device, all, LayerClock::now()), c.covered) << c.name;
    }
}

TEST(HostBackground, ACoveredFramePaintsAsWithTheFill) {
    // The host paints over a backing store of garbage as the renderer paints over a filled image.
    LayerHost host;
    host.resize(60, 40);
    auto root = std::make_shared<Layer>();
    auto cover = box(QRectF(0, 0, 60, 40), QColor(20, 40, 90));
    cover->setAutoresizingMask(widthSizable | heightSizable);
    cover->addSublayer(box(QRectF(10, 10, 20, 10), QColor(255, 0, 0, 128)));
    root->addSublayer(cover);
    host.setRootLayer(root);
    QImage painted(60, 40, QImage::Format_ARGB32_Premultiplied);
    painted.fill(qRgba(1, 2, 3, 4));
    host.render(&painted);
    EXPECT_TRUE(painted == LayerRenderer::renderToImage(*root, QSize(60, 40), 1.0, Qt::black));
}
