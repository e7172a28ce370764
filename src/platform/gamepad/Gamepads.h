// Game controllers through SDL2's game-controller API: hot-plugging, buttons and analog state.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace platform {

// Owns SDL's game-controller subsystem (no video, no signal handlers) and every opened
// controller. Nothing happens behind the caller's back: pump() reads SDL's pending events and
// turns them into GamepadEvents, in order; state() reads a controller's axes as of the last pump.
//
// Main thread only. One instance at a time (SDL is process-wide).
class Gamepads {
public:
    using ControllerId = std::int32_t; // SDL's joystick instance id, unique for the run

    enum class Button { a, b, x, y, dpadUp, dpadDown, dpadLeft, dpadRight, leftShoulder, rightShoulder };

    struct Event {
        enum class Type { connected, disconnected, button };
        Type type = Type::connected;
        ControllerId controller = 0;
        Button button = Button::a; // for Type::button
        bool pressed = false;      // for Type::button
        bool operator==(const Event&) const = default;
    };

    // Sticks in -1...1 with y pointing up (SDL's points down); triggers in 0...1.
    struct State {
        double leftX = 0, leftY = 0, rightX = 0, rightY = 0;
        double leftTrigger = 0, rightTrigger = 0;
    };

    using EventHandler = std::function<void(const Event&)>;

    // Starts SDL's game-controller subsystem; null (logged once per process) when SDL cannot.
    // Controllers already attached are reported as connected by the first pump().
    static std::unique_ptr<Gamepads> open();
    ~Gamepads();
    Gamepads(const Gamepads&) = delete;
    Gamepads& operator=(const Gamepads&) = delete;

    void setEventHandler(EventHandler handler) { handler_ = std::move(handler); }

    // Reads SDL's pending events and calls the handler for each. The handler may call state()
    // and controllers(), but not pump().
    void pump();
    // Opened controllers, in the order they connected.
    std::vector<ControllerId> controllers() const;
    // nullopt for a controller that is not open.
    std::optional<State> state(ControllerId controller) const;

    struct Controller;

private:
    Gamepads() = default;
    void deliver(const Event& event);

    EventHandler handler_;
    std::vector<std::unique_ptr<Controller>> controllers_;
};

} // namespace platform
