// The remote-control listeners the application starts and stops: network, Bluetooth, global keys.
#pragma once

#include <memory>

namespace cw {

class Workspace;
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

// The Bluetooth LE peripheral as the shell drives it.
class BluetoothPeripheral {
public:
    virtual ~BluetoothPeripheral() = default;
    virtual void start() = 0;
    virtual void stop() = 0;
};

// A peripheral that does nothing: the build has no Bluetooth remote yet.
class NoBluetoothPeripheral final : public BluetoothPeripheral {
public:
    void start() override {}
    void stop() override {}
};

// The workspace's network server (WorkspaceNetworking) beside a Bluetooth peripheral.
class WorkspaceRemoteServers final : public RemoteServers {
public:
    WorkspaceRemoteServers(std::shared_ptr<WorkspaceNetworking> networking,
                           std::unique_ptr<BluetoothPeripheral> bluetooth);
    ~WorkspaceRemoteServers() override;
    void startNetworking() override;
    void stopNetworking() override;
    void startBluetooth() override;
    void stopBluetooth() override;

private:
    std::shared_ptr<WorkspaceNetworking> networking_;
    std::unique_ptr<BluetoothPeripheral> bluetooth_;
};

// The monitor of keys pressed while another application is in front.
class GlobalKeyMonitor {
public:
    virtual ~GlobalKeyMonitor() = default;
    // Whether the system lets us see other applications' keys.
    virtual bool isTrusted() const = 0;
    virtual void install() = 0;
    virtual void uninstall() = 0;
    virtual bool isInstalled() const = 0;
};

// A monitor that sees nothing: the build has no global key monitor yet.
class NoGlobalKeyMonitor final : public GlobalKeyMonitor {
public:
    bool isTrusted() const override { return false; }
    void install() override { installed_ = true; }
    void uninstall() override { installed_ = false; }
    bool isInstalled() const override { return installed_; }

private:
    bool installed_ = false;
};

} // namespace cw
