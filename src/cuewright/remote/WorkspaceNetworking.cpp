#include "cuewright/remote/WorkspaceNetworking.h"

#include "cuewright/remote/RemoteServerStatus.h"

#include "base/Log.h"
#include "base/OutsideInput.h"
#include "cuewright/model/Project.h"
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/model/Workspace.h"
#include "cuewright/remote/CommandExecution.h"
#include "cuewright/remote/NetworkSettings.h"
#include "dispatch/MainThreadChecker.h"
#include "platform/defaults/Defaults.h"

#include <thread>

namespace cw {

NetworkAnswer answerNetworkCommand(Workspace& workspace, const NetworkCommand& command) {
    CW_DCHECK_MAIN_THREAD();
    const base::OutsideInputScope remote; // a window it brings forward leaves the keyboard alone
    return executeNetworkCommand(workspace, command);
}

std::shared_ptr<WorkspaceNetworking> WorkspaceNetworking::make(Workspace& workspace, Options options) {
    return std::shared_ptr<WorkspaceNetworking>(new WorkspaceNetworking(workspace, std::move(options)));
}

WorkspaceNetworking::WorkspaceNetworking(Workspace& workspace, Options options)
    : workspace_(workspace)
    , options_(std::move(options)) {
    if (!options_.netService) {
        options_.netService = platform::NetService::shared();
    }
    if (options_.defaults == nullptr) {
        options_.defaults = &platform::Defaults::standard();
    }
    if (!options_.computerName) {
        options_.computerName = &NetworkSettings::computerName;
    }
}

// On the management queue.
void WorkspaceNetworking::closeServer() {
    if (const auto& server = workspace_.net().server) {
        server->stop();
    }
}

void WorkspaceNetworking::startNetworking() {
    workspace_.net().netManagementQueue->async([self = shared_from_this()] {
        const auto& defaults = *self->options_.defaults;
        const std::string name = NetworkSettings::bonjourName(defaults, self->options_.computerName());
        const auto port = NetworkSettings::port(defaults);
        base::log("starting networking under name " + name + " ...");
        self->closeServer();
        std::this_thread::sleep_for(self->options_.pause);
        auto server = BonjourServer::make(self->options_.netService);
        self->workspace_.net().server = server;
        server->setDelegate(self);
        if (!port) {
            const std::string why = "the port " +
                                    std::to_string(defaults.integerForKey(settings::bonjourKey)) +
                                    " is outside 0...65535";
            base::log("could not start bonjour server: " + why);
            setRemoteServerStatus({RemoteServerStatus::State::failed, 0, why});
            return;
        }
        // Until the new server or the discovery says more: set first, so that nothing they post
        // is overwritten.
        setRemoteServerStatus({RemoteServerStatus::State::announcing, 0, {}});
        try {
            server->start(name, *port);
        } catch (const RemoteSocketError& error) {
            base::log(std::string("could not start bonjour server: ") + error.what());
            // The port it asked for, so that the pane can say which one is taken.
            setRemoteServerStatus({RemoteServerStatus::State::failed, *port, error.what()});
        }
    });
}

void WorkspaceNetworking::stopNetworking() {
    workspace_.net().netManagementQueue->async([self = shared_from_this()] {
        base::log("stopping networking ...");
        self->closeServer();
        std::this_thread::sleep_for(self->options_.pause);
        self->workspace_.net().server.reset();
        setRemoteServerStatus({});
    });
}

void WorkspaceNetworking::followNetworkSetting() {
    if (NetworkSettings::isBonjourEnabled(*options_.defaults)) {
        startNetworking();
    } else {
        stopNetworking();
    }
}

void WorkspaceNetworking::bonjourServerDidStart(BonjourServer& server) {
    base::log("server started listining on port " + std::to_string(server.port()));
    setRemoteServerStatus({RemoteServerStatus::State::running, server.port(), {}});
}

// The discovery logs and retries; the pane says what it means for controllers.
void WorkspaceNetworking::bonjourServerDidNotPublish(BonjourServer& server, UnpublishedReason why,
                                                     const std::string& detail) {
    using State = RemoteServerStatus::State;
    switch (why) {
    case UnpublishedReason::nameInUse:
        setRemoteServerStatus({State::nameInUse, server.port(), server.name()});
        return;
    case UnpublishedReason::nameTooLong:
        setRemoteServerStatus({State::nameTooLong, server.port(), server.name()});
        return;
    case UnpublishedReason::noDiscovery:
        setRemoteServerStatus({State::noDiscovery, server.port(), detail});
        return;
    case UnpublishedReason::failed:
        setRemoteServerStatus({State::notAnnounced, server.port(), detail});
        return;
    }
}

NetworkAnswer WorkspaceNetworking::bonjourServerAnswer(BonjourServer&, const NetworkCommand& command) {
    return answerNetworkCommand(workspace_, command);
}

} // namespace cw
