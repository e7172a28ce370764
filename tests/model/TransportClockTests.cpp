// The clock on a delegate of its own: it reads its pace there and stops once the delegate goes.
#include "cuewright/model/TransportClock.h"

#include "platform/activity/FakeActivityInhibitor.h"

#include <gtest/gtest.h>

#include <atomic>

using namespace std::chrono_literals;

namespace {

struct Delegate : cw::TransportClockDelegate {
    cw::TransportPace transportPace() const override { return {2, 60}; }
    void transportStateDidChange() override { ++changes; }
    std::atomic<int> changes{0};
};

} // namespace

TEST(TransportClock, TicksArePacedByTheDelegateAndNeedIt) {
    auto inhibitor = std::make_shared<platform::FakeActivityInhibitor>();
    auto previous = platform::setSharedActivityInhibitor(inhibitor);
    {
        cw::TransportClock clock;
        clock.tick(30); // no delegate: no pace, no move
        EXPECT_EQ(clock.state().progress, 0.0);

        auto delegate = std::make_shared<Delegate>();
        clock.setDelegate(delegate);
        clock.tick(30);
        EXPECT_DOUBLE_EQ(clock.state().progress, 0.5);
        EXPECT_EQ(delegate->changes.load(), 1);

        delegate.reset(); // gone: nobody to pace the clock
        clock.tick(30);
        EXPECT_DOUBLE_EQ(clock.state().progress, 0.5);

        clock.play();
        EXPECT_TRUE(clock.isRunning());
        EXPECT_EQ(inhibitor->openCount(), 1);
    }
    EXPECT_EQ(inhibitor->openCount(), 0) << "a clock destroyed while playing ends its activity";
    platform::setSharedActivityInhibitor(previous);
}
