// The remote-control messages shared by the servers, the client and the executor.
#pragma once

#include "base/EnumTable.h"
#include "cuewright/model/TransportState.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace cw {

// One command for the active script, with the protocol version its sender stated (0 when none;
// the executor ignores it).
struct NetworkCommand {
    enum class Kind { setScrollSpeed, setScrollDirection, reportStatus, startPlayback, stopPlayback, rewind };

    // A command and its one parameter: the speed in percent of the script's range for
    // setScrollSpeed, the new fast-forward factor for setScrollDirection, unused otherwise.
    struct Command {
        Kind kind = Kind::reportStatus;
        double value = 0.0;

        static Command setScrollSpeed(double speed) { return {Kind::setScrollSpeed, speed}; }
        static Command setScrollDirection(double direction) { return {Kind::setScrollDirection, direction}; }
        static Command of(Kind kind) { return {kind, 0.0}; }
        bool operator==(const Command&) const = default;
    };

    Command command;
    std::int64_t version = 0;
    bool operator==(const NetworkCommand&) const = default;
};

// The wire names ("cmdname") in case order, compared exactly. The fallback only serves the
// table's total conversions: an unknown name is refused by the parsers, never mapped.
inline constexpr base::EnumTable<NetworkCommand::Kind, 6> networkCommandTable{
    {{{NetworkCommand::Kind::setScrollSpeed, "SetScrollSpeed", 0},
      {NetworkCommand::Kind::setScrollDirection, "SetScrollDirection", 1},
      {NetworkCommand::Kind::reportStatus, "ReportStatus", 2},
      {NetworkCommand::Kind::startPlayback, "StartPlayback", 3},
      {NetworkCommand::Kind::stopPlayback, "StopPlayback", 4},
      {NetworkCommand::Kind::rewind, "Rewind", 5}}},
    NetworkCommand::Kind::reportStatus};
constexpr const auto& enumTable(NetworkCommand::Kind) {
    return networkCommandTable;
}
static_assert(networkCommandTable.isWellFormed());

// The kind whose wire name is exactly `name`; nullopt for any other text (case matters).
std::optional<NetworkCommand::Kind> networkCommandKind(std::string_view name);

// The parameters a setter falls back to when the sender gives none (or no number).
inline constexpr double defaultRemoteScrollSpeed = 31.0;
inline constexpr double defaultRemoteScrollDirection = 1.0;

// The active script as a remote control sees it.
struct NetworkStatusReport {
    static constexpr double maxScrollSpeedValue = 100.0;

    std::string filename;
    double scrollSpeed = 0.0;
    double maxScrollSpeed = maxScrollSpeedValue;
    TransportState::TransportStatus transportState = TransportState::TransportStatus::stopped;
    double playbackProgress = 0.0;
    double totalRuntime = 0.0;
    double scrollDirection = 1.0;
    bool operator==(const NetworkStatusReport&) const = default;
};

// What the executor answers: the status after the command, a general failure with a readable
// reason, or that no script is active.
struct NetworkAnswer {
    struct Error {
        std::string reason;
        bool operator==(const Error&) const = default;
    };
    struct NoDocumentActive {
        bool operator==(const NoDocumentActive&) const = default;
    };
    std::variant<NetworkStatusReport, Error, NoDocumentActive> value;

    static NetworkAnswer ok(NetworkStatusReport report) { return {std::move(report)}; }
    static NetworkAnswer error(std::string reason) { return {Error{std::move(reason)}}; }
    static NetworkAnswer noDocumentActive() { return {NoDocumentActive{}}; }
    bool operator==(const NetworkAnswer&) const = default;
};

} // namespace cw
