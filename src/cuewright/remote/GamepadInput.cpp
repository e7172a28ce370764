#include "cuewright/remote/GamepadInput.h"

#include "base/OutsideInput.h"
#include "cuewright/model/BindingActions.h"
#include "cuewright/model/Project.h"
#include "cuewright/model/Workspace.h"
#include "dispatch/MainThreadChecker.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace cw {

using platform::Gamepads;

namespace {
constexpr double triggerSpeedStep = 2.0; // percent per tick at full pull

// The binding action each button stands for; B stands for none.
std::optional<KeyBindings::Action> buttonAction(Gamepads::Button button) {
    using Action = KeyBindings::Action;
    switch (button) {
    case Gamepads::Button::a:
        return Action::playPause;
    case Gamepads::Button::x:
        return Action::reverse;
    case Gamepads::Button::y:
        return Action::rewind;
    case Gamepads::Button::dpadUp:
        return Action::scrollLineUp;
    case Gamepads::Button::dpadDown:
        return Action::scrollLineDown;
    case Gamepads::Button::dpadLeft:
        return Action::jumpPrevBookmark;
    case Gamepads::Button::dpadRight:
        return Action::jumpNextBookmark;
    case Gamepads::Button::leftShoulder:
        return Action::bbwd;
    case Gamepads::Button::rightShoulder:
        return Action::ffwd;
    case Gamepads::Button::b:
        break;
    }
    return std::nullopt;
}
} // namespace

GamepadInput::GamepadInput(Workspace& workspace, Gamepads& gamepads,
                           std::weak_ptr<BindingActionPerformer> performer, Options options)
    : workspace_(workspace)
    , gamepads_(gamepads)
    , performer_(std::move(performer))
    , options_(std::move(options)) {
    gamepads_.setEventHandler([this](const Gamepads::Event& event) { handle(event); });
}

GamepadInput::~GamepadInput() {
    stop();
    gamepads_.setEventHandler({});
}

std::unique_ptr<KQTimer> GamepadInput::makeTimer() {
    return options_.makeTimer ? options_.makeTimer() : std::make_unique<KQTimer>(dispatch::mainQueue());
}

void GamepadInput::start() {
    CW_DCHECK_MAIN_THREAD();
    started_ = true;
    pumpDevices();
    updateTimers();
}

void GamepadInput::stop() {
    started_ = false;
    pollTimer_.reset();
    watchTimer_.reset();
}

// A timer may be stopped from inside its own closure (a controller gone during a poll's pump),
// so it is destroyed later, on the main queue.
static void retire(std::unique_ptr<KQTimer> timer) {
    timer->stop();
    dispatch::mainQueue()->async([timer = std::shared_ptr<KQTimer>(std::move(timer))] {});
}

// The poll runs while a controller is attached; the slower watch only while none is and we
// were started.
void GamepadInput::updateTimers() {
    const bool attached = !gamepads_.controllers().empty();
    if (attached && !pollTimer_) {
        pollTimer_ = makeTimer();
        pollTimer_->start(pollInterval, [this](double elapsed) { poll(elapsed); });
    } else if (!attached && pollTimer_) {
        retire(std::move(pollTimer_));
    }
    const bool watch = started_ && !attached;
    if (watch && !watchTimer_) {
        watchTimer_ = makeTimer();
        watchTimer_->start(watchInterval, [this](double) { pumpDevices(); });
    } else if (!watch && watchTimer_) {
        retire(std::move(watchTimer_));
    }
}

void GamepadInput::pumpDevices() {
    CW_DCHECK_MAIN_THREAD();
    gamepads_.pump();
}

void GamepadInput::handle(const Gamepads::Event& event) {
    switch (event.type) {
    case Gamepads::Event::Type::connected:
    case Gamepads::Event::Type::disconnected:
        // Polling stops only with the last controller, so another attached one keeps working.
        updateTimers();
        return;
    case Gamepads::Event::Type::button:
        button(event.button, event.pressed);
        return;
    }
}

void GamepadInput::button(Gamepads::Button which, bool pressed) {
    const auto project = workspace_.activeProject();
    const auto action = buttonAction(which);
    // Held actions (the shoulders' fast winding) end on the release; the others act on the press.
    if (!project || !action || (!pressed && bindingTiming(*action) != BindingTiming::hold)) {
        return;
    }
    // Line steps move the prompter window, which the application holds.
    ProjectBindingTarget target(*project, [&](BindingActionTarget::LineStep) {
        const auto performer = performer_.lock();
        return performer && performer->performBindingAction(*project, *action, /*isDown=*/true, /*depth=*/0);
    });
    const base::OutsideInputScope controller;
    runBindingAction(target, *action, pressed, BindingContext::application);
}

// Within the dead zone a value is rest (0); beyond it the rest of the travel is stretched back to
// 0...1, so full deflection still reads 1.
double GamepadInput::deadZoned(double value) const {
    const double zone = options_.deadZone;
    if (!std::isfinite(value) || std::fabs(value) <= zone) {
        return 0.0;
    }
    return std::copysign((std::min(std::fabs(value), 1.0) - zone) / (1.0 - zone), value);
}

void GamepadInput::setSpeed(Project& project, double percent) {
    const auto speed = project.document().speedProperties;
    percent = DocumentSpeedProperties::heldPercent(percent);
    if (!std::isfinite(percent) || percent == speed.scrollSpeedPerc) {
        return; // nothing to store: the script stays saved and the settings untouched
    }
    project.setScrollSpeed(percent, speed.minScrollSpeedLPS, speed.maxScrollSpeedLPS);
}

void GamepadInput::poll(double elapsed) {
    CW_DCHECK_MAIN_THREAD();
    pumpDevices();
    for (const auto id : gamepads_.controllers()) {
        const auto project = workspace_.activeProject();
        if (!project) {
            return;
        }
        if (const auto state = gamepads_.state(id)) {
            pollController(*project, *state, elapsed);
        }
    }
}

void GamepadInput::pollController(Project& project, const Gamepads::State& state, double elapsed) {
    const double left = deadZoned(state.leftTrigger);
    const double right = deadZoned(state.rightTrigger);
    if ((left > 0) != (right > 0)) {
        const double delta = left > 0 ? -triggerSpeedStep * left : triggerSpeedStep * right;
        setSpeed(project, project.document().speedProperties.scrollSpeedPerc + delta);
    }

    const double lx = deadZoned(state.leftX);
    const double ly = deadZoned(state.leftY);
    const double speedAxis = std::fabs(lx) > std::fabs(ly) ? lx : ly;
    if (speedAxis != 0) {
        setSpeed(project, project.document().speedProperties.scrollSpeedPerc + speedAxis);
    }

    const double rx = deadZoned(state.rightX);
    const double ry = deadZoned(state.rightY);
    const auto transport = project.transportState();
    const int lines = project.editor().lineCount;
    double progress = transport.progress;
    if (std::fabs(rx) > std::fabs(ry)) {
        // Without lines there is nothing to scrub through (x / 0 would jump to an end).
        if (lines > 0) {
            progress += rx / lines;
        }
    } else if (ry != 0) {
        const double runningTime = project.runningTime();
        progress = runningTime > 0 ? progress - ry * elapsed / runningTime : (ry > 0 ? 0.0 : 1.0);
    }
    progress = std::clamp(progress, 0.0, 1.0);
    if (std::isfinite(progress) && progress != transport.progress) {
        project.setProgress(progress, /*animated=*/false, /*immediate=*/false);
    }
}

} // namespace cw
