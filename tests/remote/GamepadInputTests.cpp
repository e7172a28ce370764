// Game controllers on the active script, driven through SDL virtual game controllers.
#include "cuewright/remote/GamepadInput.h"

#include "cuewright/model/SettingsKeys.h"

#include "remote/InputTestSupport.h"

#include <gtest/gtest.h>

#include <SDL.h>

namespace {

using inputtest::PerformedAction;
using Action = cw::KeyBindings::Action;

// Counts how often the poll was started; never ticks by itself (the tests call poll()).
class ManualTimer : public cw::KQTimer {
public:
    explicit ManualTimer(int& starts)
        : KQTimer(dispatch::mainQueue())
        , starts_(starts) {}
    void start(double, Closure) override { ++starts_; }
    void stop() override {}

private:
    int& starts_;
};

// A virtual controller with every button and axis of SDL's game-controller mapping.
class VirtualPad {
public:
    VirtualPad() {
        SDL_VirtualJoystickDesc desc{};
        desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
        desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
        desc.naxes = SDL_CONTROLLER_AXIS_MAX;
        desc.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
        desc.name = "Cuewright Test Pad";
        const int index = SDL_JoystickAttachVirtualEx(&desc);
        joystick_ = SDL_JoystickOpen(index);
        // A virtual axis rests at the middle, which the mapping reads as a half-pulled trigger.
        axis(SDL_CONTROLLER_AXIS_TRIGGERLEFT, -32768);
        axis(SDL_CONTROLLER_AXIS_TRIGGERRIGHT, -32768);
    }
    ~VirtualPad() { detach(); }

    void detach() {
        if (joystick_ == nullptr) {
            return;
        }
        const SDL_JoystickID id = SDL_JoystickInstanceID(joystick_);
        SDL_JoystickClose(joystick_);
        joystick_ = nullptr;
        for (int i = 0; i < SDL_NumJoysticks(); ++i) {
            if (SDL_JoystickGetDeviceInstanceID(i) == id) {
                SDL_JoystickDetachVirtual(i);
            }
        }
    }
    void button(SDL_GameControllerButton which, bool pressed) {
        SDL_JoystickSetVirtualButton(joystick_, which, pressed ? 1 : 0);
    }
    void axis(SDL_GameControllerAxis which, Sint16 value) {
        SDL_JoystickSetVirtualAxis(joystick_, which, value);
    }
    bool isAttached() const { return joystick_ != nullptr; }

private:
    SDL_Joystick* joystick_ = nullptr;
};

class GamepadInputTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(gamepads, nullptr) << "SDL's game-controller subsystem did not start";
        input = std::make_unique<cw::GamepadInput>(
            scripts.workspace, *gamepads, performer,
            cw::GamepadInput::Options{[this] { return std::make_unique<ManualTimer>(timerStarts); }});
        pad = std::make_unique<VirtualPad>();
        ASSERT_TRUE(pad->isAttached()) << SDL_GetError();
        input->pumpDevices();
    }
    void TearDown() override {
        pad.reset();
        input.reset();
        dispatch::drainMainQueue();
    }

    double speed() const { return project->document().speedProperties.scrollSpeedPerc; }

    inputtest::ScriptWorkspace scripts;
    std::shared_ptr<cw::Project> project = scripts.activeScript();
    std::unique_ptr<platform::Gamepads> gamepads = platform::Gamepads::open();
    std::shared_ptr<inputtest::RecordingPerformer> performer =
        std::make_shared<inputtest::RecordingPerformer>();
    int timerStarts = 0;
    std::unique_ptr<cw::GamepadInput> input;
    std::unique_ptr<VirtualPad> pad;
};

TEST_F(GamepadInputTest, ShouldersWindWhileHeldAndButtonsActOnPress) {
    project->setFfwdFactor(-1.0);
    pad->button(SDL_CONTROLLER_BUTTON_RIGHTSHOULDER, true);
    input->pumpDevices();
    EXPECT_EQ(project->transportState().ffwdFactor, 5.0);
    pad->button(SDL_CONTROLLER_BUTTON_RIGHTSHOULDER, false);
    input->pumpDevices();
    EXPECT_EQ(project->transportState().ffwdFactor, 1.0) << "release returns to normal, not to reversed";
    pad->button(SDL_CONTROLLER_BUTTON_LEFTSHOULDER, true);
    input->pumpDevices();
    EXPECT_EQ(project->transportState().ffwdFactor, -5.0);
    pad->button(SDL_CONTROLLER_BUTTON_LEFTSHOULDER, false);

    for (const auto b : {SDL_CONTROLLER_BUTTON_A, SDL_CONTROLLER_BUTTON_X, SDL_CONTROLLER_BUTTON_DPAD_UP,
                         SDL_CONTROLLER_BUTTON_DPAD_DOWN}) {
        pad->button(b, true);
        input->pumpDevices();
        pad->button(b, false);
        input->pumpDevices();
    }
    EXPECT_TRUE(project->transportState().isPlaying()) << "A on press only";
    EXPECT_EQ(project->transportState().ffwdFactor, -1.0) << "X reverses once";
    EXPECT_EQ(performer->calls, (std::vector<PerformedAction>{{Action::scrollLineUp, true, 0},
                                                              {Action::scrollLineDown, true, 0}}));
}

TEST_F(GamepadInputTest, TriggersAndSticksChangeSpeedAndProgress) {
    struct Case {
        const char* name;
        double startSpeed;
        int ticks;
        std::vector<std::pair<SDL_GameControllerAxis, Sint16>> axes;
        double speed;
        double progress;
    };
    const Case cases[] = {
        {"left trigger lowers 2 % a tick", 50, 2, {{SDL_CONTROLLER_AXIS_TRIGGERLEFT, 32767}}, 46, 0.5},
        {"and stops at 0", 3, 3, {{SDL_CONTROLLER_AXIS_TRIGGERLEFT, 32767}}, 0, 0.5},
        {"right trigger raises", 50, 1, {{SDL_CONTROLLER_AXIS_TRIGGERRIGHT, 32767}}, 52, 0.5},
        {"both triggers do nothing",
         50,
         3,
         {{SDL_CONTROLLER_AXIS_TRIGGERLEFT, 32767}, {SDL_CONTROLLER_AXIS_TRIGGERRIGHT, 32767}},
         50,
         0.5},
        {"left stick up adds its value", 50, 2, {{SDL_CONTROLLER_AXIS_LEFTY, -32768}}, 52, 0.5},
        {"right stick x moves a line a tick", 50, 2, {{SDL_CONTROLLER_AXIS_RIGHTX, 32767}}, 50, 0.52},
        // 100 lines at 2 lines per second: 50 s; a full push up for 1 s moves back by 1/50.
        {"right stick up moves back", 50, 1, {{SDL_CONTROLLER_AXIS_RIGHTY, -32768}}, 50, 0.48},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        project->setScrollSpeed(c.startSpeed, 1, 3);
        project->setProgress(0.5, false, true);
        for (const auto& [axis, value] : c.axes) {
            pad->axis(axis, value);
        }
        for (int i = 0; i < c.ticks; ++i) {
            input->poll(1.0);
        }
        EXPECT_NEAR(speed(), c.speed, 1e-9);
        EXPECT_NEAR(project->transportState().progress, c.progress, 1e-9);
        for (const auto& [axis, value] : c.axes) {
            const bool trigger =
                axis == SDL_CONTROLLER_AXIS_TRIGGERLEFT || axis == SDL_CONTROLLER_AXIS_TRIGGERRIGHT;
            pad->axis(axis, trigger ? -32768 : 0);
        }
    }
}

TEST_F(GamepadInputTest, ControllerAtRestWritesNothing) {
    // A worn stick never rests at exactly 0.
    pad->axis(SDL_CONTROLLER_AXIS_LEFTX, 2000);
    pad->axis(SDL_CONTROLLER_AXIS_LEFTY, -3000);
    pad->axis(SDL_CONTROLLER_AXIS_RIGHTY, 1500);
    pad->axis(SDL_CONTROLLER_AXIS_TRIGGERLEFT, -30000);
    scripts.defaults.removeObject(cw::settings::defaultScrollSpeed);
    for (int i = 0; i < 60; ++i) {
        input->poll(1.0 / 60);
    }
    EXPECT_EQ(speed(), 50.0);
    EXPECT_FALSE(project->hasUnsavedChanges());
    EXPECT_FALSE(scripts.defaults.persistentObject(cw::settings::defaultScrollSpeed))
        << "no settings written";
}

TEST_F(GamepadInputTest, PollRunsWhileAnyControllerIsAttached) {
    EXPECT_TRUE(input->isPolling());
    VirtualPad second;
    input->pumpDevices();
    EXPECT_EQ(gamepads->controllers().size(), 2u);
    EXPECT_EQ(timerStarts, 1) << "one poll serves every controller";
    pad->detach();
    input->pumpDevices();
    EXPECT_TRUE(input->isPolling()) << "the other controller still works";
    second.detach();
    input->pumpDevices();
    EXPECT_FALSE(input->isPolling());
    EXPECT_TRUE(gamepads->controllers().empty());
}

} // namespace
