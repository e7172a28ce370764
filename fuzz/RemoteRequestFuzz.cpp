// libFuzzer target: the remote-control request parser and the executor on a stand-in
// workspace. Whatever arrives, the reply must be JSON with finite numbers and the script's
// speed, direction and progress must stay finite.
#include "cuewright/model/SpeedProperties.h"
#include "cuewright/remote/CommandExecution.h"
#include "cuewright/remote/RemoteProtocol.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>

namespace {

// The members of Project that the executor uses, as plain fields.
struct FakeProject {
    struct Document {
        cw::DocumentSpeedProperties speedProperties{31, 0.1, 3};
    } doc;
    cw::TransportState transport;
    std::optional<std::string> path;
    int lineCount = 80;

    const Document& document() const { return doc; }
    void setScrollSpeed(double percent, double min, double max) { doc.speedProperties = {percent, min, max}; }
    void setFfwdFactor(double factor) { transport.ffwdFactor = factor; }
    void notifyTransportStateChanged() {}
    void play() { transport.transportStatus = cw::TransportState::TransportStatus::playing; }
    void pause() { transport.transportStatus = cw::TransportState::TransportStatus::stopped; }
    void rewind() { transport.progress = 0; }
    cw::TransportState transportState() const { return transport; }
    std::optional<std::string> representedPath() const { return path; }
    double runningTime() const {
        const double lps = doc.speedProperties.linesPerSecond();
        return lineCount == 0 || lps == 0 ? 0 : std::max(0.0, lineCount / lps);
    }
};

struct FakeWorkspace {
    std::shared_ptr<FakeProject> project = std::make_shared<FakeProject>();
    std::shared_ptr<FakeProject> activeProject() const { return project; }
};

void check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static FakeWorkspace workspace;
    cw::NetworkCommand command;
    try {
        command = cw::parseRemoteRequest(std::span(data, size));
    } catch (const cw::BonjourServerError& error) {
        check(!cw::remoteErrorReply(error.replyName(), error.what()).empty());
        return 0;
    } catch (const nlohmann::json::exception&) {
        return 0;
    }
    const cw::NetworkAnswer answer = cw::executeNetworkCommand(workspace, command);
    const auto reply = cw::remoteReply(answer);
    const auto parsed = cw::parseRemoteReply(reply);
    const auto* report = std::get_if<cw::NetworkStatusReport>(&parsed);
    check(report != nullptr);
    check(std::isfinite(report->scrollSpeed) && std::isfinite(report->scrollDirection) &&
          std::isfinite(report->playbackProgress) && std::isfinite(report->totalRuntime));
    check(*report == std::get<cw::NetworkStatusReport>(answer.value));
    return 0;
}
