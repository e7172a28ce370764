// The workspace's side of the Bluetooth LE remote control: the server's life and its answers.
#pragma once

#include "cuewright/remote/BluetoothServer.h"

#include <functional>
#include <memory>
#include <string>

namespace platform {
class Defaults;
}

namespace cw {

class Workspace;

// Starts and stops the workspace's BluetoothServer (workspace.ble().server) on the calling
// thread, the main thread, and is its delegate: commands are carried out on the active project.
// A start replaces a running server (stopped first); a stop keeps the server, not advertising,
// until the next start. The workspace and the defaults must outlive this object.
class WorkspaceBluetooth : public BluetoothServerDelegate,
                           public std::enable_shared_from_this<WorkspaceBluetooth> {
public:
    struct Options {
        BluetoothServerOptions::ManagerFactory makeManager; // unset: BlueZ's
        platform::Defaults* defaults = nullptr;             // null: the standard store
        std::function<std::string()> computerName;          // unset: NetworkSettings::computerName
        std::chrono::milliseconds writeSettle = BluetoothServerOptions{}.writeSettle;
    };

    static std::shared_ptr<WorkspaceBluetooth> make(Workspace& workspace, Options options);

    void startBluetooth();
    void stopBluetooth();
    // Starts when "isBonjourEnabled" is on, else stops: what the application does at launch and
    // on every NetworkSettings::networkStateDidChange.
    void followNetworkSetting();

    void bluetoothServerDidStartAdvertising(BluetoothServer& server) override;
    void bluetoothServerDidStop(BluetoothServer& server) override;
    NetworkAnswer bluetoothServerAnswer(BluetoothServer& server, const NetworkCommand& command) override;

private:
    WorkspaceBluetooth(Workspace& workspace, Options options);

    Workspace& workspace_;
    Options options_;
};

} // namespace cw
