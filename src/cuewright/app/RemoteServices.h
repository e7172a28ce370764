// The remote-control listeners and input devices the application starts and stops: network,
// Bluetooth, global keys and game controllers.
#pragma once

#include <memory>

namespace platform {
class Defaults;
}

namespace cw {

class BindingActionPerformer;
class Workspace;
class WorkspaceBluetooth;
class WorkspaceNetworking;

// Starts and stops the network server and the Bluetooth peripheral. Each call returns at once; a
// start while running restarts. Main thread only.
class RemoteServers {
public:
    virtual ~RemoteServers() = default;
    virtual void startNetworking() = 0;
    virtual void stopNetworking() = 0;
    virtual void startBluetooth() = 0;
    virtual void stopBluetooth() = 0;
};

// The workspace's network server (WorkspaceNetworking) beside its Bluetooth peripheral
// (WorkspaceBluetooth, which logs once and stays off without BlueZ).
class WorkspaceRemoteServers final : public RemoteServers {
public:
    WorkspaceRemoteServers(std::shared_ptr<WorkspaceNetworking> networking,
                           std::shared_ptr<WorkspaceBluetooth> bluetooth);
    ~WorkspaceRemoteServers() override;
    void startNetworking() override;
    void stopNetworking() override;
    void startBluetooth() override;
    void stopBluetooth() override;

private:
    std::shared_ptr<WorkspaceNetworking> networking_;
    std::shared_ptr<WorkspaceBluetooth> bluetooth_;
};

// The monitor of keys pressed while another application is in front.
class GlobalKeyMonitor {
public:
    virtual ~GlobalKeyMonitor() = default;
    // Installs (replacing an installed one), whether or not the system lets it see anything.
    virtual void install() = 0;
    virtual void uninstall() = 0;
    // "listenToShortcutsInBackground" was stored: installs when it is on and nothing is
    // installed, uninstalls when it is off.
    virtual void backgroundListeningDidChange() = 0;
    virtual bool isInstalled() const = 0;
};

// The X11 monitor (GlobalKeyMonitoring) running the bound actions on the workspace's active
// project through the performer, which it holds weakly. The workspace and the defaults must
// outlive it.
std::shared_ptr<GlobalKeyMonitor> makeGlobalKeyMonitor(Workspace& workspace,
                                                       std::weak_ptr<BindingActionPerformer> performer,
                                                       platform::Defaults& defaults);

// The game controllers driving the active project; destroying them stops them.
class GameControllers {
public:
    virtual ~GameControllers() = default;
    // Starts watching for controllers (hot-plugging included).
    virtual void start() = 0;
};

// SDL's game controllers (GamepadInput over Gamepads), holding the performer weakly; null when
// SDL cannot start. The workspace must outlive them.
std::unique_ptr<GameControllers> openGameControllers(Workspace& workspace,
                                                     std::weak_ptr<BindingActionPerformer> performer);

} // namespace cw
