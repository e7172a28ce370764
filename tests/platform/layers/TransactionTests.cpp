// Transactions and animations: no implicit animation, linear moves from the presentation value.
#include "LayerTestSupport.h"

#include "platform/layers/Layer.h"
#include "platform/layers/Transaction.h"

#include <gtest/gtest.h>

using platform::layers::AnimationKey;
using platform::layers::Layer;
using platform::layers::Transaction;
using platform::layers::TransactionScope;

namespace {

class Animations : public ::testing::Test {
protected:
    void SetUp() override {
        layer.setAnchorPoint(QPointF(0, 0));
        layer.setBounds(QRectF(0, 0, 100, 100));
    }
    void TearDown() override { EXPECT_EQ(Transaction::depth(), 0); }
    void moveTo(double y, double duration = 0.15) {
        TransactionScope animated(duration);
        layer.setPosition(QPointF(0, y));
    }
    layertest::FakeClock clock;
    Layer layer;
};

TEST_F(Animations, ChangesWithoutADurationTakeEffectAtOnce) {
    layer.setPosition(QPointF(0, 150));
    EXPECT_FALSE(layer.hasAnimations());
    EXPECT_EQ(layer.presentationPosition(), QPointF(0, 150));
    {
        TransactionScope immediate;
        layer.setPosition(QPointF(0, 300));
    }
    EXPECT_FALSE(layer.hasAnimations());
    EXPECT_EQ(layer.presentationPosition(), QPointF(0, 300));
}

TEST_F(Animations, ADurationMovesLinearlyToTheNewPosition) {
    moveTo(150);
    EXPECT_EQ(layer.position(), QPointF(0, 150)); // the model value changes at once
    EXPECT_TRUE(layer.hasAnimation(AnimationKey::position));
    EXPECT_EQ(layer.presentationPosition(), QPointF(0, 0));
    clock.advance(0.05);
    EXPECT_NEAR(layer.presentationPosition().y(), 50, 1e-9);
    clock.advance(0.05);
    EXPECT_NEAR(layer.presentationPosition().y(), 100, 1e-9);
    clock.advance(0.051);
    EXPECT_EQ(layer.presentationPosition(), QPointF(0, 150));
    EXPECT_FALSE(layer.hasAnimations());
}

// A new move starts from where the running one is shown; an immediate change lets the running move
// finish, then shows the model value.
TEST_F(Animations, ANewMoveReplacesTheRunningOneFromWhereItIsShown) {
    moveTo(150);
    clock.advance(0.075); // halfway: shown at 75
    moveTo(300);
    EXPECT_NEAR(layer.presentationPosition().y(), 75, 1e-9);
    clock.advance(0.075);
    EXPECT_NEAR(layer.presentationPosition().y(), 187.5, 1e-9);
    clock.advance(0.075);
    EXPECT_EQ(layer.presentationPosition(), QPointF(0, 300));

    moveTo(450);
    clock.advance(0.075);
    layer.setPosition(QPointF(0, 1000));
    EXPECT_NEAR(layer.presentationPosition().y(), 375, 1e-9);
    clock.advance(0.1);
    EXPECT_EQ(layer.presentationPosition(), QPointF(0, 1000));
}

TEST_F(Animations, SixtyMovesASecondChaseTheTarget) {
    // The scroll: every 1/60 s a new 0.15 s move towards a target that advances 1 point per tick.
    double target = 0;
    double previous = 0;
    for (int tick = 0; tick < 120; ++tick) {
        target += 1;
        moveTo(target);
        clock.advance(1.0 / 60);
        const double shown = layer.presentationPosition().y();
        EXPECT_GE(shown, previous); // never jumps back
        EXPECT_LE(shown, target);
        previous = shown;
    }
    EXPECT_GT(previous, target - 10); // close behind: about 0.15 s of movement
    clock.advance(0.15);
    EXPECT_EQ(layer.presentationPosition().y(), target);
}

TEST_F(Animations, DisabledActionsWinOverADuration) {
    TransactionScope animated(0.15);
    Transaction::setDisableActions(true);
    layer.setPosition(QPointF(0, 150));
    EXPECT_FALSE(layer.hasAnimations());
    EXPECT_EQ(layer.presentationPosition(), QPointF(0, 150));
}

TEST_F(Animations, NestedTransactionsInheritAndRestoreSettings) {
    EXPECT_EQ(Transaction::effectiveDuration(), 0);
    Transaction::begin();
    Transaction::setAnimationDuration(0.2);
    Transaction::begin();
    EXPECT_EQ(Transaction::effectiveDuration(), 0.2);
    Transaction::setDisableActions(true);
    EXPECT_EQ(Transaction::effectiveDuration(), 0);
    Transaction::commit();
    EXPECT_EQ(Transaction::effectiveDuration(), 0.2);
    Transaction::commit();
    EXPECT_EQ(Transaction::effectiveDuration(), 0);
    Transaction::commit(); // unbalanced: ignored
    EXPECT_EQ(Transaction::depth(), 0);
}

TEST_F(Animations, SettingTheFrameOriginAnimatesThePosition) {
    {
        TransactionScope animated(0.1);
        layer.setFrame(QRectF(0, -200, 100, 100)); // the size is unchanged: only the position moves
    }
    EXPECT_TRUE(layer.hasAnimation(AnimationKey::position));
    EXPECT_FALSE(layer.hasAnimation(AnimationKey::bounds));
    clock.advance(0.05);
    EXPECT_NEAR(layer.presentationPosition().y(), -100, 1e-9);
}

TEST_F(Animations, RemovingAnimationsShowsTheModelValueAtOnce) {
    {
        TransactionScope animated(0.15);
        layer.setPosition(QPointF(0, 150));
        layer.setOpacity(0.0);
    }
    clock.advance(0.05);
    EXPECT_NEAR(layer.presentationOpacity(), 2.0 / 3, 1e-9);
    layer.removeAnimation(AnimationKey::position);
    EXPECT_EQ(layer.presentationPosition(), QPointF(0, 150));
    EXPECT_TRUE(layer.hasAnimations());
    layer.removeAllAnimations();
    EXPECT_EQ(layer.presentationOpacity(), 0.0);
    EXPECT_FALSE(layer.hasAnimations());
}

TEST_F(Animations, BoundsAnimateToo) {
    {
        TransactionScope animated(0.2);
        layer.setBounds(QRectF(0, 0, 300, 100));
    }
    clock.advance(0.1);
    EXPECT_NEAR(layer.presentationBounds().width(), 200, 1e-9);
    EXPECT_EQ(layer.bounds().width(), 300);
}

} // namespace
