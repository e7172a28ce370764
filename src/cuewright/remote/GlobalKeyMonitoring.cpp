#include "cuewright/remote/GlobalKeyMonitoring.h"

#include "base/Log.h"
#include "base/OutsideInput.h"
#include "cuewright/model/BindingActions.h"
#include "cuewright/model/KeyBindings.h"
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/model/Workspace.h"
#include "dispatch/MainThreadChecker.h"
#include "platform/defaults/Defaults.h"

namespace cw {

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
    // The releases of keys still held will not be seen.
    for (const BindingKeys::Decision& decision : bindingKeys_.endHeld()) {
        perform(decision);
    }
}

void GlobalKeyMonitoring::backgroundListeningDidChange() {
    if (!options_.defaults->boolForKey(settings::listenToShortcutsInBackground)) {
        uninstall();
    } else if (!isInstalled()) {
        install();
    }
    // Else the monitor stays as it is: one installed afresh would not know the keys held now.
}

void GlobalKeyMonitoring::handleGlobalKeyEvent(const platform::KeyEvent& event) {
    CW_DCHECK_MAIN_THREAD();
    const auto& defaults = *options_.defaults;
    if (!defaults.boolForKey(settings::listenToShortcutsInBackground)) {
        return;
    }
    const bool down = event.type == platform::KeyEvent::Type::keyDown;
    if (!down && event.type != platform::KeyEvent::Type::keyUp) {
        return; // modifiers alone
    }
    const bool onKeyDown = defaults.boolForKey(settings::performCustomBindingActionOnKeyDown);
    const auto decision = down ? bindingKeys_.keyDown(event, KeyBindings::action(event, defaults), onKeyDown)
                               : bindingKeys_.keyUp(event, onKeyDown);
    if (!decision) {
        return;
    }
    perform(*decision);
}

void GlobalKeyMonitoring::perform(const BindingKeys::Decision& decision) {
    const auto project = workspace_.activeProject();
    if (!project) {
        base::log(noActiveProject);
        return;
    }
    if (!decision.runs) {
        return;
    }
    if (const auto performer = performer_.lock()) {
        const base::OutsideInputScope otherApplication;
        performer->performBindingAction(*project, decision.action, decision.isDown, /*depth=*/0);
    }
}

} // namespace cw
