// The user's key bindings while another application is in front.
#pragma once

#include "cuewright/model/BindingActions.h"
#include "platform/keymonitor/GlobalKeyMonitor.h"

#include <functional>
#include <memory>

namespace platform {
class Defaults;
}

namespace cw {

class Workspace;

// Installs the global key monitor (the application does so at start when
// "listenToShortcutsInBackground" is on, and again on "BackgroundEventListeningDidChange") and
// runs the action bound to each key it sees on the workspace's active project through the
// binding-action performer, with depth 0, on the key events BindingKeys picks in the
// application's context:
//  - one-shot actions (play/pause, rewind, reverse, line steps, bookmarks) once per press, on
//    key-down when "PerformCustomBindingActionOnKeyDown" is on, else on key-up;
//  - speed steps on key-down only, again at each auto-repeat;
//  - fast wind forward and backward on both, isDown telling which; the key's release ends the
//    winding also when its modifier went up first, wherever the keyboard has gone meanwhile.
// Nothing happens while "listenToShortcutsInBackground" is off; without an active project the
// key only logs "no active project". Main thread only. The workspace and the defaults must
// outlive this object; the performer is held weakly.
class GlobalKeyMonitoring {
public:
    static constexpr std::string_view notTrustedWarning = "We're not trusted to receive global keys!";
    static constexpr std::string_view noActiveProject = "no active project";

    struct Options {
        platform::Defaults* defaults = nullptr; // null: the standard store
        platform::GlobalKeyMonitor::Options monitor;
    };

    GlobalKeyMonitoring(Workspace& workspace, std::weak_ptr<BindingActionPerformer> performer,
                        Options options);
    ~GlobalKeyMonitoring();
    GlobalKeyMonitoring(const GlobalKeyMonitoring&) = delete;
    GlobalKeyMonitoring& operator=(const GlobalKeyMonitoring&) = delete;

    // Installs the monitor (replacing one installed before); warns when it will see nothing.
    void install();
    void uninstall();
    // Installs when "listenToShortcutsInBackground" is on and nothing is installed, uninstalls
    // when it is off. Uninstalling ends the held actions whose keys are still down.
    void backgroundListeningDidChange();
    bool isInstalled() const { return monitor_ != nullptr; }

    void handleGlobalKeyEvent(const platform::KeyEvent& event);

private:
    void perform(const BindingKeys::Decision& decision);

    Workspace& workspace_;
    std::weak_ptr<BindingActionPerformer> performer_;
    Options options_;
    std::unique_ptr<platform::GlobalKeyMonitor> monitor_;
    BindingKeys bindingKeys_{BindingContext::application};
};

} // namespace cw
