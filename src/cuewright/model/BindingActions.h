// What each key-binding action does and which key events run it: the one table every place uses.
#pragma once

#include "cuewright/model/KeyBindings.h"
#include "platform/keys/KeyEvent.h"

#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace cw {

class Project;

// The speed multiplier of fast winding (negated backwards); normal running is 1 or -1.
inline constexpr double fastWindFactor = 5.0;

// When a binding's key runs its action.
enum class BindingTiming {
    oneShot, // once per press: on the key-down or the key-up, as "PerformCustomBindingActionOnKeyDown" says
    step,    // on the key-down, and again at each auto-repeat; the key-up runs nothing
    hold,    // starts on the key-down, ends on the key-up, whichever key of the binding goes up first
};
BindingTiming bindingTiming(KeyBindings::Action action);

// The places that run bindings; each has a line in the table of context rules.
enum class BindingContext {
    prompter,    // the prompter window's keys
    editor,      // the script editor's keys
    application, // the application's dispatcher, for the global key monitor and game controllers
};
struct BindingContextRules {
    double speedStep;    // percentage points of the script's speed range per speed step
    bool oneShotRepeats; // whether an auto-repeated key-down runs a one-shot action again
};
BindingContextRules bindingContextRules(BindingContext context);

// What the actions work on. Each context implements it over what it drives: the project itself,
// or the prompter view, which tells its delegate. Main thread only.
class BindingActionTarget {
public:
    enum class LineStep { up, down };

    virtual ~BindingActionTarget() = default;
    virtual void togglePlayback() = 0;
    virtual void rewind() = 0;
    // Moves the speed by `points`, held within 0...100 percent of the script's range.
    virtual void stepSpeed(double points) = 0;
    virtual double ffwdFactor() const = 0;
    virtual void setFfwdFactor(double factor) = 0;
    // Moves by "manualScrollingLineCount" lines; false when nothing could take the step.
    virtual bool stepLine(LineStep step) = 0;
    virtual void jumpToNextBookmark() = 0;
    virtual void jumpToPreviousBookmark() = 0;
};

// Carries out the action on the target: `isDown` matters only to the held actions (fast winding
// starts, then ends at 1, forwards at normal speed whichever way it wound). The caller decides on
// which key events to call (see BindingKeys). Returns false only for a line step not taken.
bool runBindingAction(BindingActionTarget& target, KeyBindings::Action action, bool isDown,
                      BindingContext context);

// The project as a target. Playback toggles, the speed keeps the document's range, the factor is
// announced (notifyTransportStateChanged); line steps belong to the prompter windows and go to
// `stepLine` (not taken without one). The project must outlive the target.
class ProjectBindingTarget final : public BindingActionTarget {
public:
    explicit ProjectBindingTarget(Project& project, std::function<bool(LineStep)> stepLine = {})
        : project_(project)
        , stepLine_(std::move(stepLine)) {}

    void togglePlayback() override;
    void rewind() override;
    void stepSpeed(double points) override;
    double ffwdFactor() const override;
    void setFfwdFactor(double factor) override;
    bool stepLine(LineStep step) override { return stepLine_ && stepLine_(step); }
    void jumpToNextBookmark() override;
    void jumpToPreviousBookmark() override;

private:
    Project& project_;
    std::function<bool(LineStep)> stepLine_;
};

// The application's dispatcher of binding actions: makes sure the project has a prompter window
// (opening one; callers pass depth 0) and runs the action there in the application's context.
// The application controller implements it; the editor, the global key monitor and the game
// controllers are handed it and hold it weakly. Returns whether the action was carried out.
// Main thread only.
class BindingActionPerformer {
public:
    virtual ~BindingActionPerformer() = default;
    virtual bool performBindingAction(Project& project, KeyBindings::Action action, bool isDown,
                                      int depth = 0) = 0;
};

// One context's keys for the bindings: which key events belong to a binding and whether each runs
// its action now. A release belongs to its press: a key-up belongs to the action its key-down
// matched, whatever went up before it (a modifier released first included), so a held action
// always ends; a key-up whose key-down matched no binding here (or went down elsewhere) belongs
// to none, whatever modifiers are held by then. An auto-repeat belongs to its press the same way:
// it repeats the press's action (acting again as its timing says) though a modifier went up or
// down since, and never wipes the press. Main thread only.
class BindingKeys {
public:
    struct Decision {
        KeyBindings::Action action;
        bool runs; // false: the event is the binding's, but its action runs on the other edge or ran already
        bool isDown; // the edge, for runBindingAction
        // The event as the binding knows it: a key-up carries the modifiers its key-down had.
        platform::KeyEvent event;
    };

    explicit BindingKeys(BindingContext context)
        : context_(context) {}

    // `bound` is the event's binding as the context matches it (nullopt: none). nullopt: the event
    // belongs to no binding and goes on.
    std::optional<Decision> keyDown(const platform::KeyEvent& event, std::optional<KeyBindings::Action> bound,
                                    bool actsOnKeyDown);
    std::optional<Decision> keyUp(const platform::KeyEvent& event, bool actsOnKeyDown);

    // Ends the held actions whose keys are still down, as if their keys went up now: the
    // context's keyboard focus went elsewhere, where their key-ups would not be seen. Presses of
    // other actions are forgotten; their key-ups then belong to no binding.
    std::vector<Decision> endHeld();

    // Whether a press of the key matched a binding and has not gone up yet.
    bool holdsPress(platform::keycode::KeyCode keyCode) const;

private:
    Decision pressDecision(KeyBindings::Action action, const platform::KeyEvent& press,
                           bool actsOnKeyDown) const;
    static Decision releaseDecision(KeyBindings::Action action, const platform::KeyEvent& release,
                                    bool actsOnKeyDown);

    BindingContext context_;
    std::vector<std::pair<platform::KeyEvent, KeyBindings::Action>> pressed_; // key-downs not yet up
};

} // namespace cw
