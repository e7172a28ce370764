// The host widget: y-up conversion, painting on change, a frame tick only while animating.
#include "LayerTestSupport.h"

#include "platform/layers/Layer.h"
#include "platform/layers/LayerHost.h"
#include "platform/layers/Transaction.h"

#include <gtest/gtest.h>

#include <QApplication>

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

    host.resize(300, 120);
    host.grab(); // a hidden widget learns its size when painted or shown
    EXPECT_EQ(root->frame(), QRectF(0, 0, 300, 120));
}

TEST_F(Host, ConvertsWidgetPointsAndHitTests) {
    EXPECT_EQ(host.hostPointFromWidget(QPointF(5, 95)), QPointF(5, 5));
    EXPECT_EQ(host.widgetPointFromHost(QPointF(5, 5)), QPointF(5, 95));
    EXPECT_EQ(host.layerAt(QPointF(5, 95)), marker.get());
    EXPECT_EQ(host.layerAt(QPointF(5, 5)), root.get());
}

TEST_F(Host, TicksOnlyWhileAnAnimationRuns) {
    host.grab();
    EXPECT_FALSE(host.isTicking());

    marker->setPosition(QPointF(50, 0)); // immediate: one update, no tick
    EXPECT_FALSE(host.isTicking());

    {
        TransactionScope animated(0.15);
        marker->setPosition(QPointF(150, 0));
    }
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
}

TEST_F(Host, AnAnimatedLayerJoiningTheTreeStartsTheTick) {
    auto loose = box(QRectF(0, 0, 10, 10), Qt::green);
    {
        TransactionScope animated(0.15);
        loose->setPosition(QPointF(100, 50));
    }
    host.grab();
    EXPECT_FALSE(host.isTicking());
    root->addSublayer(loose);
    EXPECT_TRUE(host.isTicking());
}

TEST_F(Host, AHiddenHostDoesNotTick) {
    host.hide();
    {
        TransactionScope animated(0.15);
        marker->setPosition(QPointF(150, 0));
    }
    EXPECT_FALSE(host.isTicking());
    host.show();
    host.grab(); // the first frame after showing finds the animation and starts the tick
    EXPECT_TRUE(host.isTicking());
}

TEST_F(Host, AnotherTreesLayerCannotBecomeTheRoot) {
    LayerHost other;
    other.setRootLayer(marker); // it has a superlayer
    EXPECT_EQ(other.rootLayer(), nullptr);
    other.setRootLayer(root); // it belongs to the first host
    EXPECT_EQ(other.rootLayer(), nullptr);
}

} // namespace
