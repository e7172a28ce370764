// The one table of binding actions: what each does to a project, pressed and released, and the
// numbers each place that runs them has of its own.
#include "ProjectTestSupport.h"

#include "cuewright/model/BindingActions.h"

#include <cmath>
#include <sstream>

using namespace projecttest;
using Action = cw::KeyBindings::Action;
using cw::BindingContext;

namespace {

class BindingActionsTest : public ScriptProject {
protected:
    // Stopped in the middle of 100 lines marked at 20 and 80, at `speed` percent, running
    // backwards.
    void reset(double speed) {
        project->pause();
        project->setProgress(0.5, false, true);
        project->setScrollSpeed(speed, 1, 3);
        project->setFfwdFactor(-1.0);
    }
    // What changed since reset(), as short texts.
    std::string changes(double speed) const {
        std::ostringstream seen;
        const cw::TransportState state = project->transportState();
        if (state.isPlaying()) {
            seen << "playing ";
        }
        if (std::fabs(state.progress - 0.5) > 0.01) { // playing moves it a little
            seen << "at " << state.progress << ' ';
        }
        if (const double now = project->document().speedProperties.scrollSpeedPerc; now != speed) {
            seen << "speed " << now << ' ';
        }
        if (state.ffwdFactor != -1.0) {
            seen << "factor " << state.ffwdFactor << ' ';
        }
        seen << lineSteps;
        return seen.str();
    }

    std::string lineSteps;
};

TEST_F(BindingActionsTest, EachActionOnTheProject) {
    setHundredLines({20, 80});
    struct Row {
        Action action;
        bool isDown;
        BindingContext context;
        double speed;
        std::string changes;
    };
    const auto app = BindingContext::application;
    const Row rows[] = {
        {Action::playPause, true, app, 50, "playing "},
        {Action::playPause, false, app, 50, "playing "}, // the caller picks the edge
        {Action::rewind, true, app, 50, "at 0 "},
        {Action::incSpeed, true, app, 50, "speed 55 "},
        {Action::incSpeed, true, BindingContext::editor, 50, "speed 55 "},
        {Action::incSpeed, true, BindingContext::prompter, 50, "speed 52.5 "},
        {Action::incSpeed, true, app, 98, "speed 100 "},
        {Action::decSpeed, true, app, 50, "speed 45 "},
        {Action::decSpeed, true, BindingContext::prompter, 50, "speed 47.5 "},
        {Action::decSpeed, true, app, 3, "speed 0 "},
        {Action::reverse, true, app, 50, "factor 1 "},
        {Action::scrollLineUp, true, app, 50, "up"},
        {Action::scrollLineDown, false, app, 50, "down"},
        {Action::jumpNextBookmark, true, app, 50, "at 0.79155 "},
        {Action::jumpPrevBookmark, true, app, 50, "at 0.19155 "},
        {Action::ffwd, true, app, 50, "factor 5 "},
        {Action::ffwd, false, app, 50, "factor 1 "}, // forwards at normal speed, though it ran backwards
        {Action::bbwd, true, app, 50, "factor -5 "},
        {Action::bbwd, false, app, 50, "factor 1 "},
    };
    cw::ProjectBindingTarget target(*project, [&](cw::BindingActionTarget::LineStep step) {
        lineSteps += step == cw::BindingActionTarget::LineStep::up ? "up" : "down";
        return true;
    });
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message()
                     << cw::KeyBindings::actionName(row.action) << (row.isDown ? " down" : " up")
                     << " in context " << static_cast<int>(row.context));
        reset(row.speed);
        lineSteps.clear();
        EXPECT_TRUE(cw::runBindingAction(target, row.action, row.isDown, row.context));
        EXPECT_EQ(changes(row.speed), row.changes);
    }
}

TEST_F(BindingActionsTest, ALineStepWithNothingToTakeItIsNotCarriedOut) {
    cw::ProjectBindingTarget target(*project);
    EXPECT_FALSE(cw::runBindingAction(target, Action::scrollLineDown, true, BindingContext::editor));
}

// Shift pressed while a plain F winds: its repeats arrive as Shift+F, bound elsewhere, and stay the
// wind's; the release with Shift held ends the wind. A new press of F is a press again.
TEST(BindingKeys, RepeatsAndTheReleaseBelongToThePressWhateverModifiersCome) {
    cw::BindingKeys keys(BindingContext::editor);
    const auto event = [](platform::KeyEvent::Type type, platform::ModifierFlags flags, bool repeat) {
        platform::KeyEvent e;
        e.type = type;
        e.keyCode = platform::keycode::f;
        e.modifierFlags = flags;
        e.isARepeat = repeat;
        return e;
    };
    using Type = platform::KeyEvent::Type;
    const platform::ModifierFlags shift = platform::modifier::shift;
    std::string seen;
    const auto note = [&](const std::optional<cw::BindingKeys::Decision>& d) {
        seen += !d ? "-" : std::string(cw::KeyBindings::actionName(d->action)) + (d->runs ? "!" : "") + " ";
        if (d) {
            EXPECT_EQ(d->event.modifierFlags, 0u) << "the binding knows the event as its press";
        }
    };
    note(keys.keyDown(event(Type::keyDown, 0, false), Action::ffwd, true));
    note(keys.keyDown(event(Type::keyDown, shift, true), Action::incSpeed, true));
    EXPECT_TRUE(keys.holdsPress(platform::keycode::f));
    note(keys.keyUp(event(Type::keyUp, shift, false), true));
    note(keys.keyDown(event(Type::keyDown, shift, true), std::nullopt, true));
    EXPECT_EQ(seen, "ffwd! ffwd ffwd! -");
    EXPECT_FALSE(keys.holdsPress(platform::keycode::f));
}

} // namespace
