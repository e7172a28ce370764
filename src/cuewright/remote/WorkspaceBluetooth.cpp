#include "cuewright/remote/WorkspaceBluetooth.h"

#include "base/Log.h"
#include "cuewright/model/Workspace.h"
#include "cuewright/remote/CommandExecution.h"
#include "cuewright/remote/NetworkSettings.h"
#include "dispatch/MainThreadChecker.h"
#include "platform/defaults/Defaults.h"

namespace cw {

std::shared_ptr<WorkspaceBluetooth> WorkspaceBluetooth::make(Workspace& workspace, Options options) {
    return std::shared_ptr<WorkspaceBluetooth>(new WorkspaceBluetooth(workspace, std::move(options)));
}

WorkspaceBluetooth::WorkspaceBluetooth(Workspace& workspace, Options options)
    : workspace_(workspace)
    , options_(std::move(options)) {
    if (options_.defaults == nullptr) {
        options_.defaults = &platform::Defaults::standard();
    }
    if (!options_.computerName) {
        options_.computerName = &NetworkSettings::computerName;
    }
}

void WorkspaceBluetooth::startBluetooth() {
    CW_DCHECK_MAIN_THREAD();
    base::log("starting bluetooth ...");
    if (const auto& old = workspace_.ble().server) {
        old->stop();
    }
    BluetoothServerOptions serverOptions;
    serverOptions.makeManager = options_.makeManager;
    serverOptions.localName = NetworkSettings::bonjourName(*options_.defaults, options_.computerName());
    serverOptions.writeSettle = options_.writeSettle;
    auto server = BluetoothServer::make(workspace_.ble().bleManagementQueue, std::move(serverOptions));
    workspace_.ble().server = server;
    server->setDelegate(weak_from_this());
    server->start();
}

void WorkspaceBluetooth::stopBluetooth() {
    CW_DCHECK_MAIN_THREAD();
    base::log("stopping bluetooth ...");
    if (const auto& server = workspace_.ble().server) {
        server->stop();
    }
}

void WorkspaceBluetooth::followNetworkSetting() {
    if (NetworkSettings::isBonjourEnabled(*options_.defaults)) {
        startBluetooth();
    } else {
        stopBluetooth();
    }
}

void WorkspaceBluetooth::bluetoothServerDidStartAdvertising(BluetoothServer&) {
    base::log("began BT listening");
}

void WorkspaceBluetooth::bluetoothServerDidStop(BluetoothServer&) {
    base::log("stopped BT listening");
}

NetworkAnswer WorkspaceBluetooth::bluetoothServerAnswer(BluetoothServer&, const NetworkCommand& command) {
    return answerNetworkCommand(workspace_, command);
}

} // namespace cw
