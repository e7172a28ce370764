// The workspace's side of the network remote control: it owns the server's life and answers it.
#pragma once

#include "cuewright/remote/BonjourServer.h"
#include "platform/netservice/NetService.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace platform {
class Defaults;
}

namespace cw {

class Workspace;

// Starts and stops the workspace's BonjourServer (workspace.net().server) on its "Network
// Management Queue", one work item after the other, and is the server's delegate: every command
// is carried out on the workspace's active project on the main thread.
//
// Each start or stop closes the old server, pauses the queue (1 s, so the old port and service
// are really gone) and then makes the new server or drops the old one; a stop followed by a
// start therefore leaves exactly one server. The workspace and the defaults must outlive this
// object and every work item it queued.
class WorkspaceNetworking : public BonjourServerDelegate,
                            public std::enable_shared_from_this<WorkspaceNetworking> {
public:
    struct Options {
        std::shared_ptr<platform::NetService> netService; // null: the shared Avahi one
        platform::Defaults* defaults = nullptr;           // null: the standard store
        std::chrono::milliseconds pause{1000};
        std::function<std::string()> computerName; // unset: NetworkSettings::computerName
    };

    static std::shared_ptr<WorkspaceNetworking> make(Workspace& workspace, Options options);

    // Queue the start (name and port from the settings) or the stop, and return at once.
    void startNetworking();
    void stopNetworking();
    // Starts when "isBonjourEnabled" is on, else stops: what the application does at launch and
    // on every NetworkSettings::networkStateDidChange.
    void followNetworkSetting();

    Workspace& workspace() const { return workspace_; }

    void bonjourServerDidStart(BonjourServer& server) override;
    void bonjourServerDidNotPublish(BonjourServer& server, UnpublishedReason why,
                                    const std::string& detail) override;
    NetworkAnswer bonjourServerAnswer(BonjourServer& server, const NetworkCommand& command) override;

private:
    WorkspaceNetworking(Workspace& workspace, Options options);
    void closeServer();

    Workspace& workspace_;
    Options options_;
};

} // namespace cw
