// The real remote listeners and input devices behind the shell's interfaces.
#include "cuewright/app/RemoteServices.h"

#include "cuewright/remote/GamepadInput.h"
#include "cuewright/remote/GlobalKeyMonitoring.h"
#include "cuewright/remote/WorkspaceBluetooth.h"
#include "cuewright/remote/WorkspaceNetworking.h"
#include "platform/gamepad/Gamepads.h"

namespace cw {

namespace {

class WorkspaceKeyMonitor final : public GlobalKeyMonitor {
public:
    WorkspaceKeyMonitor(Workspace& workspace, std::weak_ptr<BindingActionPerformer> performer,
                        platform::Defaults& defaults)
        : monitoring_(workspace, std::move(performer), {&defaults, {}}) {}
    void install() override { monitoring_.install(); }
    void uninstall() override { monitoring_.uninstall(); }
    void backgroundListeningDidChange() override { monitoring_.backgroundListeningDidChange(); }
    bool isInstalled() const override { return monitoring_.isInstalled(); }

private:
    GlobalKeyMonitoring monitoring_;
};

class SdlGameControllers final : public GameControllers {
public:
    SdlGameControllers(Workspace& workspace, std::unique_ptr<platform::Gamepads> pads,
                       std::weak_ptr<BindingActionPerformer> performer)
        : pads_(std::move(pads))
        , input_(workspace, *pads_, std::move(performer)) {}
    void start() override { input_.start(); }

private:
    // The input goes before the pads: SDL shuts down with them.
    std::unique_ptr<platform::Gamepads> pads_;
    GamepadInput input_;
};

} // namespace

WorkspaceRemoteServers::WorkspaceRemoteServers(std::shared_ptr<WorkspaceNetworking> networking,
                                               std::shared_ptr<WorkspaceBluetooth> bluetooth)
    : networking_(std::move(networking))
    , bluetooth_(std::move(bluetooth)) {}

WorkspaceRemoteServers::~WorkspaceRemoteServers() = default;

void WorkspaceRemoteServers::startNetworking() {
    networking_->startNetworking();
}

void WorkspaceRemoteServers::stopNetworking() {
    networking_->stopNetworking();
}

void WorkspaceRemoteServers::startBluetooth() {
    bluetooth_->startBluetooth();
}

void WorkspaceRemoteServers::stopBluetooth() {
    bluetooth_->stopBluetooth();
}

std::shared_ptr<GlobalKeyMonitor> makeGlobalKeyMonitor(Workspace& workspace,
                                                       std::weak_ptr<BindingActionPerformer> performer,
                                                       platform::Defaults& defaults) {
    return std::make_shared<WorkspaceKeyMonitor>(workspace, std::move(performer), defaults);
}

std::unique_ptr<GameControllers> openGameControllers(Workspace& workspace,
                                                     std::weak_ptr<BindingActionPerformer> performer) {
    std::unique_ptr<platform::Gamepads> pads = platform::Gamepads::open();
    if (!pads) {
        return nullptr;
    }
    return std::make_unique<SdlGameControllers>(workspace, std::move(pads), std::move(performer));
}

} // namespace cw
