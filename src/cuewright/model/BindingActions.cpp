#include "cuewright/model/BindingActions.h"

#include "cuewright/model/Project.h"
#include "dispatch/MainThreadChecker.h"

#include <algorithm>
#include <array>
#include <utility>

namespace cw {

namespace {

using Action = KeyBindings::Action;

struct ActionRow {
    Action action;
    BindingTiming timing;
};

// In field order.
constexpr std::array<ActionRow, KeyBindings::actionCount> actionTable{{
    {Action::playPause, BindingTiming::oneShot},
    {Action::rewind, BindingTiming::oneShot},
    {Action::incSpeed, BindingTiming::step},
    {Action::decSpeed, BindingTiming::step},
    {Action::reverse, BindingTiming::oneShot},
    {Action::scrollLineUp, BindingTiming::oneShot},
    {Action::scrollLineDown, BindingTiming::oneShot},
    {Action::jumpNextBookmark, BindingTiming::oneShot},
    {Action::jumpPrevBookmark, BindingTiming::oneShot},
    {Action::ffwd, BindingTiming::hold},
    {Action::bbwd, BindingTiming::hold},
}};

constexpr bool inFieldOrder() {
    for (std::size_t i = 0; i < actionTable.size(); ++i) {
        if (static_cast<std::size_t>(actionTable[i].action) != i) {
            return false;
        }
    }
    return true;
}
static_assert(inFieldOrder(), "the action table lists every action in field order");

struct ContextRow {
    BindingContext context;
    BindingContextRules rules;
};

// The prompter steps the speed by 2.5 and, as on its fixed keys, acts again at every repeat of a
// held key; elsewhere a step is 5 and a one-shot action runs once per press.
constexpr std::array<ContextRow, 3> contextTable{{
    {BindingContext::prompter, {2.5, true}},
    {BindingContext::editor, {5.0, false}},
    {BindingContext::application, {5.0, false}},
}};

} // namespace

BindingTiming bindingTiming(KeyBindings::Action action) {
    return actionTable[static_cast<std::size_t>(action)].timing;
}

BindingContextRules bindingContextRules(BindingContext context) {
    const auto row = std::find_if(contextTable.begin(), contextTable.end(),
                                  [&](const ContextRow& r) { return r.context == context; });
    return row->rules;
}

bool runBindingAction(BindingActionTarget& target, KeyBindings::Action action, bool isDown,
                      BindingContext context) {
    CW_DCHECK_MAIN_THREAD();
    const double step = bindingContextRules(context).speedStep;
    switch (action) {
    case Action::playPause:
        target.togglePlayback();
        return true;
    case Action::rewind:
        target.rewind();
        return true;
    case Action::incSpeed:
        target.stepSpeed(step);
        return true;
    case Action::decSpeed:
        target.stepSpeed(-step);
        return true;
    case Action::reverse:
        target.setFfwdFactor(-target.ffwdFactor());
        return true;
    case Action::scrollLineUp:
        return target.stepLine(BindingActionTarget::LineStep::up);
    case Action::scrollLineDown:
        return target.stepLine(BindingActionTarget::LineStep::down);
    case Action::jumpNextBookmark:
        target.jumpToNextBookmark();
        return true;
    case Action::jumpPrevBookmark:
        target.jumpToPreviousBookmark();
        return true;
    case Action::ffwd:
        target.setFfwdFactor(isDown ? fastWindFactor : 1.0);
        return true;
    case Action::bbwd:
        target.setFfwdFactor(isDown ? -fastWindFactor : 1.0);
        return true;
    }
    return false;
}

// ---- the project as target ----

void ProjectBindingTarget::togglePlayback() {
    if (project_.transportState().isPlaying()) {
        project_.pause();
    } else {
        project_.play();
    }
}

void ProjectBindingTarget::rewind() {
    project_.rewind();
}

void ProjectBindingTarget::stepSpeed(double points) {
    const DocumentSpeedProperties speed = project_.document().speedProperties;
    project_.setScrollSpeed(std::clamp(speed.scrollSpeedPerc + points, 0.0, 100.0), speed.minScrollSpeedLPS,
                            speed.maxScrollSpeedLPS);
}

double ProjectBindingTarget::ffwdFactor() const {
    return project_.transportState().ffwdFactor;
}

void ProjectBindingTarget::setFfwdFactor(double factor) {
    project_.setFfwdFactor(factor);
    project_.notifyTransportStateChanged();
}

void ProjectBindingTarget::jumpToNextBookmark() {
    project_.jumpToNextBookmark();
}

void ProjectBindingTarget::jumpToPreviousBookmark() {
    project_.jumpToPreviousBookmark();
}

// ---- which key events run the action ----

std::optional<BindingKeys::Decision> BindingKeys::keyDown(const platform::KeyEvent& event,
                                                          std::optional<KeyBindings::Action> bound,
                                                          bool actsOnKeyDown) {
    const auto pressed = std::find_if(pressed_.begin(), pressed_.end(),
                                      [&](const auto& p) { return p.first.keyCode == event.keyCode; });
    if (pressed != pressed_.end()) {
        if (event.isARepeat) {
            // The key is still held: Alt let go before F, or Shift added, changes the repeat's
            // modifiers but not whose press it is, and its release must still find the press.
            platform::KeyEvent repeat = event;
            repeat.modifierFlags = pressed->first.modifierFlags;
            return pressDecision(pressed->second, repeat, actsOnKeyDown);
        }
        // A new press of the key replaces its last one, whose release never came here.
        pressed_.erase(pressed);
    }
    if (!bound) {
        return std::nullopt;
    }
    pressed_.emplace_back(event, *bound);
    return pressDecision(*bound, event, actsOnKeyDown);
}

BindingKeys::Decision BindingKeys::pressDecision(KeyBindings::Action action, const platform::KeyEvent& press,
                                                 bool actsOnKeyDown) const {
    bool runs = false;
    switch (bindingTiming(action)) {
    case BindingTiming::oneShot:
        runs = actsOnKeyDown && (!press.isARepeat || bindingContextRules(context_).oneShotRepeats);
        break;
    case BindingTiming::step:
        runs = true;
        break;
    case BindingTiming::hold:
        runs = !press.isARepeat; // already winding
        break;
    }
    return Decision{action, runs, /*isDown=*/true, press};
}

bool BindingKeys::holdsPress(platform::keycode::KeyCode keyCode) const {
    return std::any_of(pressed_.begin(), pressed_.end(),
                       [&](const auto& p) { return p.first.keyCode == keyCode; });
}

std::optional<BindingKeys::Decision> BindingKeys::keyUp(const platform::KeyEvent& event, bool actsOnKeyDown) {
    const auto pressed = std::find_if(pressed_.begin(), pressed_.end(),
                                      [&](const auto& p) { return p.first.keyCode == event.keyCode; });
    if (pressed == pressed_.end()) {
        // Its press was no binding's, or went down elsewhere: a modifier pressed since does not
        // make the release a binding's.
        return std::nullopt;
    }
    // The press's action, though its modifier went up first.
    const KeyBindings::Action action = pressed->second;
    platform::KeyEvent release = event;
    release.modifierFlags = pressed->first.modifierFlags;
    pressed_.erase(pressed);
    return releaseDecision(action, release, actsOnKeyDown);
}

std::vector<BindingKeys::Decision> BindingKeys::endHeld() {
    std::vector<Decision> ended;
    for (const auto& [press, action] : std::exchange(pressed_, {})) {
        if (bindingTiming(action) != BindingTiming::hold) {
            continue; // a one-shot press left unreleased runs nothing
        }
        platform::KeyEvent release = press;
        release.type = platform::KeyEvent::Type::keyUp;
        release.isARepeat = false;
        ended.push_back(Decision{action, /*runs=*/true, /*isDown=*/false, release});
    }
    return ended;
}

BindingKeys::Decision BindingKeys::releaseDecision(KeyBindings::Action action,
                                                   const platform::KeyEvent& release, bool actsOnKeyDown) {
    bool runs = false;
    switch (bindingTiming(action)) {
    case BindingTiming::oneShot:
        runs = !actsOnKeyDown;
        break;
    case BindingTiming::step:
        runs = false; // it acted going down
        break;
    case BindingTiming::hold:
        runs = true;
        break;
    }
    return Decision{action, runs, /*isDown=*/false, release};
}

} // namespace cw
