#include "platform/gamepad/Gamepads.h"

#include "base/Log.h"

#include <SDL.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <utility>

namespace platform {

struct Gamepads::Controller {
    ControllerId id = 0;
    SDL_GameController* handle = nullptr;
};

namespace {

constexpr std::array<std::pair<SDL_GameControllerButton, Gamepads::Button>, 10> buttonTable{{
    {SDL_CONTROLLER_BUTTON_A, Gamepads::Button::a},
    {SDL_CONTROLLER_BUTTON_B, Gamepads::Button::b},
    {SDL_CONTROLLER_BUTTON_X, Gamepads::Button::x},
    {SDL_CONTROLLER_BUTTON_Y, Gamepads::Button::y},
    {SDL_CONTROLLER_BUTTON_DPAD_UP, Gamepads::Button::dpadUp},
    {SDL_CONTROLLER_BUTTON_DPAD_DOWN, Gamepads::Button::dpadDown},
    {SDL_CONTROLLER_BUTTON_DPAD_LEFT, Gamepads::Button::dpadLeft},
    {SDL_CONTROLLER_BUTTON_DPAD_RIGHT, Gamepads::Button::dpadRight},
    {SDL_CONTROLLER_BUTTON_LEFTSHOULDER, Gamepads::Button::leftShoulder},
    {SDL_CONTROLLER_BUTTON_RIGHTSHOULDER, Gamepads::Button::rightShoulder},
}};

std::optional<Gamepads::Button> buttonOf(std::uint8_t sdlButton) {
    for (const auto& [sdl, button] : buttonTable) {
        if (sdl == sdlButton) {
            return button;
        }
    }
    return std::nullopt;
}

double axis(SDL_GameController* handle, SDL_GameControllerAxis which) {
    // SDL's range is -32768...32767; both ends read as full deflection.
    return std::clamp(SDL_GameControllerGetAxis(handle, which) / 32767.0, -1.0, 1.0);
}

std::atomic<bool> loggedFailure{false};

} // namespace

std::unique_ptr<Gamepads> Gamepads::open() {
    // Our own process handles signals; the application has no SDL window, so controllers must
    // keep reporting while another application is in front.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
    if (SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) != 0) {
        if (!loggedFailure.exchange(true)) {
            base::log(std::string("game controllers unavailable: ") + SDL_GetError());
        }
        return nullptr;
    }
    return std::unique_ptr<Gamepads>(new Gamepads);
}

Gamepads::~Gamepads() {
    for (const auto& controller : controllers_) {
        SDL_GameControllerClose(controller->handle);
    }
    SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
}

void Gamepads::deliver(const Event& event) {
    if (handler_) {
        handler_(event);
    }
}

void Gamepads::pump() {
    SDL_Event event;
    while (SDL_PollEvent(&event) != 0) {
        switch (event.type) {
        case SDL_CONTROLLERDEVICEADDED: {
            SDL_GameController* handle = SDL_GameControllerOpen(event.cdevice.which);
            if (handle == nullptr) {
                break;
            }
            const ControllerId id = SDL_JoystickInstanceID(SDL_GameControllerGetJoystick(handle));
            const bool known = std::any_of(controllers_.begin(), controllers_.end(),
                                           [id](const auto& c) { return c->id == id; });
            if (known) {
                SDL_GameControllerClose(handle); // opened twice: SDL counts references
                break;
            }
            controllers_.push_back(std::make_unique<Controller>(Controller{id, handle}));
            deliver({Event::Type::connected, id});
            break;
        }
        case SDL_CONTROLLERDEVICEREMOVED: {
            const ControllerId id = event.cdevice.which;
            const auto found = std::find_if(controllers_.begin(), controllers_.end(),
                                            [id](const auto& c) { return c->id == id; });
            if (found == controllers_.end()) {
                break;
            }
            SDL_GameControllerClose((*found)->handle);
            controllers_.erase(found);
            deliver({Event::Type::disconnected, id});
            break;
        }
        case SDL_CONTROLLERBUTTONDOWN:
        case SDL_CONTROLLERBUTTONUP:
            if (const auto button = buttonOf(event.cbutton.button)) {
                deliver({Event::Type::button, event.cbutton.which, *button,
                         event.type == SDL_CONTROLLERBUTTONDOWN});
            }
            break;
        default:
            break;
        }
    }
}

std::vector<Gamepads::ControllerId> Gamepads::controllers() const {
    std::vector<ControllerId> ids;
    ids.reserve(controllers_.size());
    for (const auto& controller : controllers_) {
        ids.push_back(controller->id);
    }
    return ids;
}

std::optional<Gamepads::State> Gamepads::state(ControllerId controller) const {
    const auto found = std::find_if(controllers_.begin(), controllers_.end(),
                                    [controller](const auto& c) { return c->id == controller; });
    if (found == controllers_.end()) {
        return std::nullopt;
    }
    SDL_GameController* handle = (*found)->handle;
    State state;
    state.leftX = axis(handle, SDL_CONTROLLER_AXIS_LEFTX);
    state.leftY = -axis(handle, SDL_CONTROLLER_AXIS_LEFTY);
    state.rightX = axis(handle, SDL_CONTROLLER_AXIS_RIGHTX);
    state.rightY = -axis(handle, SDL_CONTROLLER_AXIS_RIGHTY);
    state.leftTrigger = std::max(0.0, axis(handle, SDL_CONTROLLER_AXIS_TRIGGERLEFT));
    state.rightTrigger = std::max(0.0, axis(handle, SDL_CONTROLLER_AXIS_TRIGGERRIGHT));
    return state;
}

} // namespace platform
