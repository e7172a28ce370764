// Game controllers driving the active script: buttons, the pad, triggers and sticks.
#pragma once

#include "cuewright/model/KQTimer.h"
#include "platform/gamepad/Gamepads.h"

#include <functional>
#include <memory>

namespace cw {

class BindingActionPerformer;
class Project;
class Workspace;

struct GamepadInputOptions {
    // Makes the poll timer (and the device watch); unset: a KQTimer delivering on the main queue.
    std::function<std::unique_ptr<KQTimer>()> makeTimer;
    double deadZone = 0.15; // of full deflection, for sticks and triggers
};

// Acts on the workspace's active project (nothing without one):
//  - A plays or pauses, X reverses the direction, Y rewinds; the pad's up and down step a line
//    through the binding-action performer, left and right jump between bookmarks; the shoulders
//    set the fast-forward factor to -5 (left) or 5 (right) while held and 1 on release.
//  - A 60 Hz poll runs while any controller is attached: the triggers change the speed by
//    2 x their value per tick (one alone; both or neither do nothing), the left stick's larger
//    axis adds itself to the speed, the right stick scrubs (x by lines, y at up to playback pace,
//    pushing up moves back). Stick and trigger values within the dead zone count as rest, and a
//    speed or position that would not change is not written, so a resting controller never marks
//    the script unsaved nor writes the settings.
//
// While no controller is attached a slow device watch pumps SDL for new controllers (start()).
// Main thread only. The workspace and the gamepads must outlive this object.
class GamepadInput {
public:
    static constexpr double pollInterval = 1.0 / 60.0;
    static constexpr double watchInterval = 0.5;

    using Options = GamepadInputOptions;

    GamepadInput(Workspace& workspace, platform::Gamepads& gamepads,
                 std::weak_ptr<BindingActionPerformer> performer, Options options = {});
    ~GamepadInput();
    GamepadInput(const GamepadInput&) = delete;
    GamepadInput& operator=(const GamepadInput&) = delete;

    // Starts watching for controllers; stop() ends the watch and the poll.
    void start();
    void stop();

    // Handles the device events SDL has pending (connections, buttons).
    void pumpDevices();
    // One poll tick, `elapsed` seconds after the previous one: pumps, then reads every controller.
    void poll(double elapsed);
    bool isPolling() const { return pollTimer_ != nullptr; }

private:
    void handle(const platform::Gamepads::Event& event);
    void button(platform::Gamepads::Button button, bool pressed);
    void pollController(Project& project, const platform::Gamepads::State& state, double elapsed);
    void setSpeed(Project& project, double percent);
    double deadZoned(double value) const;
    std::unique_ptr<KQTimer> makeTimer();
    void updateTimers();

    Workspace& workspace_;
    platform::Gamepads& gamepads_;
    std::weak_ptr<BindingActionPerformer> performer_;
    Options options_;
    bool started_ = false;
    std::unique_ptr<KQTimer> pollTimer_;
    std::unique_ptr<KQTimer> watchTimer_;
};

} // namespace cw
