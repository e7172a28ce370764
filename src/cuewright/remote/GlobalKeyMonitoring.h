// The user's key bindings while another application is in front.
#pragma once

#include "platform/keymonitor/GlobalKeyMonitor.h"

#include <functional>
#include <memory>

namespace platform {
class Defaults;
}

namespace cw {

class BindingActionPerformer;
class Workspace;

// Installs the global key monitor (the application does so at start when
// "listenToShortcutsInBackground" is on, and again on "BackgroundEventListeningDidChange") and
// runs the action bound to each key it sees on the workspace's active project through the
// binding-action performer, with depth 0:
//  - one-shot actions (play/pause, rewind, reverse, line steps, bookmarks) on key-down when
//    "PerformCustomBindingActionOnKeyDown" is on, else on key-up;
//  - speed steps on key-down only;
//  - fast wind forward and backward on both, isDown telling which.
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
    // Uninstalls, then installs again when "listenToShortcutsInBackground" is on.
    void backgroundListeningDidChange();
    bool isInstalled() const { return monitor_ != nullptr; }

    void handleGlobalKeyEvent(const platform::KeyEvent& event);

private:
    Workspace& workspace_;
    std::weak_ptr<BindingActionPerformer> performer_;
    Options options_;
    std::unique_ptr<platform::GlobalKeyMonitor> monitor_;
};

} // namespace cw
