// The one executor of remote commands: carries a command out on the active script.
#pragma once

#include "cuewright/model/SpeedProperties.h"
#include "cuewright/model/TransportState.h"
#include "cuewright/remote/NetworkMessages.h"

#include <cmath>
#include <string_view>

namespace cw {

class Workspace;

// The file name reported for a script that was never saved.
inline constexpr std::string_view untitledScriptName = "Untitled";

// The status of a project as a remote control sees it. `P` is Project or a stand-in with the
// same members (the fuzz target's fake).
template <class P> NetworkStatusReport networkStatusReport(const P& project) {
    NetworkStatusReport report;
    report.filename = project.representedPath().value_or(std::string(untitledScriptName));
    report.scrollSpeed = project.document().speedProperties.scrollSpeedPerc;
    const auto transport = project.transportState();
    report.transportState = transport.transportStatus;
    report.playbackProgress = transport.progress;
    report.totalRuntime = project.runningTime();
    report.scrollDirection = transport.ffwdFactor;
    return report;
}

// Carries `command` out on the active project of `workspace` and answers the status afterwards,
// or noDocumentActive when no project is active (then nothing changes). A speed or direction
// that is not finite is no number: it changes nothing, so it can never reach the transport or
// the saved script; a speed beyond the range the application's controls offer is held to it, and a
// direction to the fast-winding factors either way.
// Main thread only. `W` is Workspace or a stand-in with activeProject().
template <class W> NetworkAnswer executeNetworkCommand(W& workspace, const NetworkCommand& command) {
    auto project = workspace.activeProject();
    if (!project) {
        return NetworkAnswer::noDocumentActive();
    }
    const auto& c = command.command;
    switch (c.kind) {
    case NetworkCommand::Kind::setScrollSpeed:
        if (std::isfinite(c.value)) {
            const auto speed = project->document().speedProperties;
            project->setScrollSpeed(DocumentSpeedProperties::heldPercent(c.value), speed.minScrollSpeedLPS,
                                    speed.maxScrollSpeedLPS);
        }
        break;
    case NetworkCommand::Kind::setScrollDirection:
        if (std::isfinite(c.value)) {
            project->setFfwdFactor(TransportState::heldFfwdFactor(c.value));
            project->notifyTransportStateChanged();
        }
        break;
    case NetworkCommand::Kind::reportStatus:
        break;
    case NetworkCommand::Kind::startPlayback:
        project->play();
        break;
    case NetworkCommand::Kind::stopPlayback:
        project->pause();
        break;
    case NetworkCommand::Kind::rewind:
        project->rewind();
        break;
    }
    // Listeners ran inside the command and may have closed the script.
    project = workspace.activeProject();
    if (!project) {
        return NetworkAnswer::noDocumentActive();
    }
    return NetworkAnswer::ok(networkStatusReport(*project));
}

// The executor on the application's workspace, for remotes: a window it brings forward leaves
// the keyboard where it is.
NetworkAnswer answerNetworkCommand(Workspace& workspace, const NetworkCommand& command);

} // namespace cw
