// Geometry of layers: frames, bounds origins, order, mirroring, conversion and hit tests.
#include "LayerTestSupport.h"

#include "platform/layers/Layer.h"

#include <gtest/gtest.h>

using layertest::box;
using platform::layers::Layer;

namespace {

std::vector<Layer*> order(const Layer& layer) {
    return layer.sublayersInPaintOrder();
}

// The frame follows position, anchor, bounds and a transform about the anchor; setting it keeps the
// bounds origin.
TEST(LayerFrame, FollowsPositionAnchorAndBounds) {
    Layer layer;
    layer.setBounds(QRectF(0, 30, 100, 50));
    layer.setPosition(QPointF(200, 100));
    EXPECT_EQ(layer.frame(), QRectF(150, 75, 100, 50)); // anchor defaults to the centre
    layer.setTransform(QTransform::fromScale(2, 2));
    EXPECT_EQ(layer.frame(), QRectF(100, 50, 200, 100));
    layer.setTransform(QTransform());

    layer.setAnchorPoint(QPointF(0, 0));
    EXPECT_EQ(layer.frame(), QRectF(200, 100, 100, 50));
    layer.setAnchorPoint(QPointF(1, 1));
    layer.setFrame(QRectF(10, 20, 30, 40));
    EXPECT_EQ(layer.position(), QPointF(40, 60));
    EXPECT_EQ(layer.bounds(), QRectF(0, 30, 30, 40));
    EXPECT_EQ(layer.frame(), QRectF(10, 20, 30, 40));
}

TEST(LayerFrame, BoundsOriginScrollsTheSublayers) {
    auto parent = box(QRectF(0, 0, 100, 100));
    auto child = box(QRectF(0, 0, 10, 10));
    parent->addSublayer(child);
    EXPECT_EQ(child->convertPointTo(QPointF(5, 5), nullptr), QPointF(5, 5));

    parent->setBounds(QRectF(0, 40, 100, 100));
    EXPECT_EQ(child->convertPointTo(QPointF(5, 5), nullptr), QPointF(5, -35));
    EXPECT_EQ(parent->frame(), QRectF(0, 0, 100, 100)); // the parent itself does not move
}

TEST(LayerFrame, AutoresizingFollowsTheSuperlayerSize) {
    auto parent = box(QRectF(0, 0, 100, 100));
    auto stretchy = box(QRectF(10, 10, 80, 80));
    stretchy->setAutoresizingMask(platform::layers::widthSizable | platform::layers::heightSizable);
    auto pinnedRight = box(QRectF(80, 0, 20, 20));
    pinnedRight->setAutoresizingMask(platform::layers::minXMargin);
    auto fixed = box(QRectF(0, 0, 5, 5));
    parent->addSublayer(stretchy);
    parent->addSublayer(pinnedRight);
    parent->addSublayer(fixed);

    parent->setBounds(QRectF(0, 0, 200, 150));
    EXPECT_EQ(stretchy->frame(), QRectF(10, 10, 180, 130));
    EXPECT_EQ(pinnedRight->frame(), QRectF(180, 0, 20, 20));
    EXPECT_EQ(fixed->frame(), QRectF(0, 0, 5, 5));
}

TEST(LayerOrder, ZPositionFirstThenInsertionOrder) {
    Layer parent;
    std::vector<std::shared_ptr<Layer>> l;
    for (const double z : {0, 5, 0, -1}) {
        l.push_back(std::make_shared<Layer>());
        l.back()->setZPosition(z);
        parent.addSublayer(l.back());
    }
    EXPECT_EQ(order(parent), (std::vector<Layer*>{l[3].get(), l[0].get(), l[2].get(), l[1].get()}));
    l[0]->setZPosition(10);
    EXPECT_EQ(order(parent), (std::vector<Layer*>{l[3].get(), l[2].get(), l[1].get(), l[0].get()}));
}

TEST(LayerTree, InsertRemoveAndReparent) {
    auto parent = std::make_shared<Layer>();
    auto other = std::make_shared<Layer>();
    auto a = std::make_shared<Layer>();
    auto b = std::make_shared<Layer>();
    auto c = std::make_shared<Layer>();
    parent->addSublayer(a);
    parent->addSublayer(c);
    parent->insertSublayerAbove(b, a.get());
    ASSERT_EQ(parent->sublayers().size(), 3u);
    EXPECT_EQ(parent->sublayers()[1], b);

    other->addSublayer(b); // moving takes it out of its old superlayer
    EXPECT_EQ(b->superlayer(), other.get());
    EXPECT_EQ(parent->sublayers().size(), 2u);

    parent->insertSublayer(b, 0);
    EXPECT_EQ(parent->sublayers().front(), b);
    parent->insertSublayerBelow(std::make_shared<Layer>(), c.get());
    EXPECT_EQ(parent->sublayers().size(), 4u);
    EXPECT_EQ(parent->sublayers()[3], c);

    std::weak_ptr<Layer> weak = a;
    a->removeFromSuperlayer();
    EXPECT_EQ(a->superlayer(), nullptr);
    a.reset();
    EXPECT_TRUE(weak.expired()); // the superlayer held the only other reference

    // A layer cannot become its own descendant.
    c->addSublayer(parent);
    EXPECT_EQ(parent->superlayer(), nullptr);
    EXPECT_TRUE(c->sublayers().empty());
}

TEST(LayerTree, RemovingTheLastReferenceFromWithinIsSafe) {
    auto parent = std::make_shared<Layer>();
    parent->addSublayer(std::make_shared<Layer>());
    Layer* child = parent->sublayers().front().get();
    child->removeFromSuperlayer(); // destroys the child after the call returns
    EXPECT_TRUE(parent->sublayers().empty());
}

TEST(LayerMirroring, FlipsPointsAboutTheOwnBoundsWithoutMovingTheFrame) {
    auto layer = box(QRectF(100, 0, 200, 100));
    layer->setMirroring(/*horizontal=*/true, /*vertical=*/false);
    EXPECT_EQ(layer->frame(), QRectF(100, 0, 200, 100));
    EXPECT_EQ(layer->convertPointToSuperlayer(QPointF(10, 30)), QPointF(290, 30));

    layer->setMirroring(false, true);
    EXPECT_EQ(layer->convertPointToSuperlayer(QPointF(10, 30)), QPointF(110, 70));
    layer->setMirroring(true, true);
    EXPECT_EQ(layer->convertPointFromSuperlayer(QPointF(290, 70)), QPointF(10, 30));
}

TEST(LayerHitTest, FindsTheControlDrawnUnderAMirroredPointer) {
    auto root = box(QRectF(0, 0, 400, 200));
    auto ui = box(QRectF(0, 0, 400, 200));
    auto button = box(QRectF(10, 10, 50, 50));
    root->addSublayer(ui);
    ui->addSublayer(button);

    EXPECT_EQ(root->hitTest(QPointF(30, 30)), button.get());
    ui->setMirroring(true, false);
    EXPECT_EQ(root->hitTest(QPointF(370, 30)), button.get());
    EXPECT_EQ(root->hitTest(QPointF(30, 30)), ui.get());
    EXPECT_EQ(root->hitTest(QPointF(500, 30)), nullptr);
}

TEST(LayerHitTest, ThroughNestedOffsetAndMirroredLayers) {
    auto root = box(QRectF(0, 0, 400, 300));
    auto content = box(QRectF(100, 0, 200, 200));
    content->setBounds(QRectF(0, 50, 200, 200)); // scrolled by 50
    content->setMirroring(false, true);
    auto child = box(QRectF(0, 100, 20, 20));
    root->addSublayer(content);
    content->addSublayer(child);

    // Content space maps to the root as (x + 100, 250 - y): the child covers x 100...120, y 130...150.
    EXPECT_EQ(child->convertPointTo(QPointF(0, 0), nullptr), QPointF(100, 150));
    EXPECT_EQ(root->hitTest(QPointF(110, 140)), child.get());
    EXPECT_EQ(root->hitTest(QPointF(110, 100)), content.get());
    EXPECT_EQ(child->convertPoint(QPointF(110, 140), nullptr), QPointF(10, 10));
}

TEST(LayerHitTest, HonoursHiddenLayersAndMasking) {
    auto root = box(QRectF(0, 0, 100, 100));
    auto clip = box(QRectF(0, 0, 50, 50));
    auto overhang = box(QRectF(40, 40, 40, 40));
    root->addSublayer(clip);
    clip->addSublayer(overhang);

    EXPECT_EQ(root->hitTest(QPointF(70, 70)), overhang.get()); // sublayers may stick out...
    clip->setMasksToBounds(true);
    EXPECT_EQ(root->hitTest(QPointF(70, 70)), root.get()); // ...unless the superlayer clips them
    EXPECT_EQ(root->hitTest(QPointF(45, 45)), overhang.get());
    overhang->setHidden(true);
    EXPECT_EQ(root->hitTest(QPointF(45, 45)), clip.get());
}

} // namespace
