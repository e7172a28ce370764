#include "cuewright/remote/GlobalKeyMonitoring.h"

#include "base/Log.h"
#include "cuewright/model/KeyBindings.h"
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/model/Workspace.h"
#include "cuewright/remote/BindingActionPerformer.h"
#include "dispatch/MainThreadChecker.h"
#include "platform/defaults/Defaults.h"

namespace cw {

namespace {

enum class ActionClass { oneShot, step, hold };

ActionClass actionClass(KeyBindings::Action action) {
    switch (action) {
    case KeyBindings::Action::incSpeed:
    case KeyBindings::Action::decSpeed:
        return ActionClass::step;
    case KeyBindings::Action::ffwd:
    case KeyBindings::Action::bbwd:
        return ActionClass::hold;
    case KeyBindings::Action::playPause:
    case KeyBindings::Action::rewind:
    case KeyBindings::Action::reverse:
    case KeyBindings::Action::scrollLineUp:
    case KeyBindings::Action::scrollLineDown:
    case KeyBindings::Action::jumpNextBookmark:
    case KeyBindings::Action::jumpPrevBookmark:
        break;
    }
    return ActionClass::oneShot;
}

} // namespace

GlobalKeyMonitoring::GlobalKeyMonitoring(Workspace& workspace,
                                         std::weak_ptr<BindingActionPerformer> performer, Options options)
    : workspace_(workspace)
    , performer_(std::move(performer))
    , options_(std::move(options)) {
    if (options_.defaults == nullptr) {
        options_.defaults = &platform::Defaults::standard();
    }
}

GlobalKeyMonitoring::~GlobalKeyMonitoring() = default;

void GlobalKeyMonitoring::install() {
    CW_DCHECK_MAIN_THREAD();
    base::log("Installing global event monitor...");
    if (!platform::GlobalKeyMonitor::isTrusted(options_.monitor.display)) {
        base::log(notTrustedWarning);
    }
    monitor_.reset();
    monitor_ = platform::GlobalKeyMonitor::install(
        [this](const platform::KeyEvent& event) { handleGlobalKeyEvent(event); }, options_.monitor);
}

void GlobalKeyMonitoring::uninstall() {
    CW_DCHECK_MAIN_THREAD();
    base::log("Uninstalling global event monotir..."); // sic: the line people search logs for
    monitor_.reset();
}

void GlobalKeyMonitoring::backgroundListeningDidChange() {
    uninstall();
    if (options_.defaults->boolForKey(settings::listenToShortcutsInBackground)) {
        install();
    }
}

void GlobalKeyMonitoring::handleGlobalKeyEvent(const platform::KeyEvent& event) {
    CW_DCHECK_MAIN_THREAD();
    const auto& defaults = *options_.defaults;
    if (!defaults.boolForKey(settings::listenToShortcutsInBackground)) {
        return;
    }
    const auto action = KeyBindings::action(event, defaults);
    if (!action) {
        return;
    }
    const auto project = workspace_.activeProject();
    if (!project) {
        base::log(noActiveProject);
        return;
    }
    const bool down = event.type == platform::KeyEvent::Type::keyDown;
    bool act = false;
    switch (actionClass(*action)) {
    case ActionClass::oneShot:
        act = down == defaults.boolForKey(settings::performCustomBindingActionOnKeyDown);
        break;
    case ActionClass::step:
        act = down;
        break;
    case ActionClass::hold:
        act = true;
        break;
    }
    if (!act) {
        return;
    }
    if (const auto performer = performer_.lock()) {
        performer->performBindingAction(project, *action, down, /*depth=*/0);
    }
}

} // namespace cw
