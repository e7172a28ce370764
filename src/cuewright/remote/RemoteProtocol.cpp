#include "cuewright/remote/RemoteProtocol.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <limits>

namespace cw {

using nlohmann::json;

namespace {

constexpr std::string_view activeEndpoint = "active";
constexpr std::string_view commandPayload = "command";

BonjourServerError protocolError(const std::string& reason) {
    return {BonjourServerError::Kind::protocolError, reason};
}
BonjourServerError malformed(const std::string& reason) {
    return {BonjourServerError::Kind::malformedDataReceived, reason};
}
BonjourClientError clientMalformed(const std::string& reason) {
    return {BonjourClientError::Kind::malformedDataReceived, reason};
}

// The member `key` of an object, or null when it is absent.
const json* member(const json& object, const char* key) {
    const auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
}

const std::string* stringMember(const json& object, const char* key) {
    const json* value = member(object, key);
    return value != nullptr && value->is_string() ? value->get_ptr<const std::string*>() : nullptr;
}

const json* objectMember(const json& object, const char* key) {
    const json* value = member(object, key);
    return value != nullptr && value->is_object() ? value : nullptr;
}

std::optional<double> numberMember(const json& object, const char* key) {
    const json* value = member(object, key);
    return value == nullptr ? std::nullopt : remoteNumber(*value);
}

// A version that is a whole number but none the protocol knows.
void checkVersion(const json& message, auto&& refuse) {
    const json* value = member(message, "protver");
    if (value == nullptr) {
        return;
    }
    if (value->is_number_unsigned() && value->get<std::uint64_t>() > 2) {
        refuse(std::to_string(value->get<std::uint64_t>()));
        return;
    }
    if (const auto version = remoteInteger(*value); version && *version != 1 && *version != 2) {
        refuse(std::to_string(*version));
    }
}

RemoteBytes bytesOf(const json& message, int indent) {
    const std::string text = message.dump(indent, ' ', false, json::error_handler_t::replace);
    return {text.begin(), text.end()};
}

} // namespace

BonjourServerError::BonjourServerError(Kind kind, const std::string& reason)
    : std::runtime_error(reason)
    , kind_(kind) {}

BonjourServerError BonjourServerError::unsupportedCommand(const std::string& commandName) {
    return {Kind::unsupportedCommand, "Unsupported command: " + commandName};
}

std::string_view BonjourServerError::replyName() const {
    switch (kind_) {
    case Kind::unsupportedCommand:
    case Kind::protocolError:
        return remoteErrors::protocolError;
    case Kind::malformedDataReceived:
        return remoteErrors::dataError;
    }
    return remoteErrors::protocolError;
}

BonjourClientError::BonjourClientError(Kind kind, const std::string& reason)
    : std::runtime_error(reason)
    , kind_(kind) {}

std::optional<NetworkCommand::Kind> networkCommandKind(std::string_view name) {
    for (const auto& c : networkCommandTable.cases) {
        if (c.raw == name) {
            return c.value;
        }
    }
    return std::nullopt;
}

std::optional<double> remoteNumber(const json& value) {
    if (!value.is_number()) {
        return std::nullopt;
    }
    const double number = value.get<double>();
    // Numbers too large for a double (1e999) arrive as infinities: no number either.
    return std::isfinite(number) ? std::optional(number) : std::nullopt;
}

std::optional<std::int64_t> remoteInteger(const json& value) {
    if (value.is_number_integer() && !value.is_number_unsigned()) {
        return value.get<std::int64_t>();
    }
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        if (number <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return static_cast<std::int64_t>(number);
        }
        return std::nullopt;
    }
    const auto number = remoteNumber(value);
    // 2^63 is the first double past the range; every double below it converts exactly.
    if (!number || std::trunc(*number) != *number || std::fabs(*number) >= 9223372036854775808.0) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(*number);
}

json parseRemoteJson(std::span<const std::uint8_t> datagram) {
    if (const auto nul = std::find(datagram.begin(), datagram.end(), std::uint8_t{0});
        nul != datagram.end()) {
        const auto offset = static_cast<std::size_t>(nul - datagram.begin());
        throw json::parse_error::create(101, offset + 1, "syntax error: a NUL byte is no JSON", nullptr);
    }
    return json::parse(datagram.begin(), datagram.end());
}

NetworkCommand parseRemoteRequest(std::span<const std::uint8_t> datagram) {
    return parseRemoteRequest(parseRemoteJson(datagram));
}

NetworkCommand parseRemoteRequest(const json& request) {
    if (!request.is_object()) {
        throw malformed("Can not decode JSON");
    }
    checkVersion(request, [](const std::string& version) {
        throw protocolError("Expected protocol version is 1 or 2. But got " + version);
    });
    if (const std::string* endpoint = stringMember(request, "cmdendpoint");
        endpoint && *endpoint != activeEndpoint) {
        throw protocolError("This protocol version can only hande '" + std::string(activeEndpoint) +
                            "' endpoints. But received " + *endpoint + ".");
    }
    if (const std::string* type = stringMember(request, "paylodetype"); type && *type != commandPayload) {
        throw protocolError("Expected to receive a payload of type " + std::string(commandPayload) +
                            " but got " + *type);
    }
    const json* payload = objectMember(request, "payload");
    if (payload == nullptr) {
        throw malformed("Can not extract payload");
    }
    const std::string* name = stringMember(*payload, "cmdname");
    if (name == nullptr) {
        throw malformed("Can not extract command name from payload.");
    }
    static const json noParameters = json::object();
    const json* found = objectMember(*payload, "cmdparams");
    const json& parameters = found != nullptr ? *found : noParameters;

    NetworkCommand command;
    const json* version = member(request, "protver");
    command.version = version != nullptr ? remoteInteger(*version).value_or(0) : 0;
    const auto kind = networkCommandKind(*name);
    if (!kind) {
        throw BonjourServerError::unsupportedCommand(*name);
    }
    switch (*kind) {
    case NetworkCommand::Kind::setScrollSpeed:
        command.command = NetworkCommand::Command::setScrollSpeed(
            numberMember(parameters, "speed").value_or(defaultRemoteScrollSpeed));
        break;
    case NetworkCommand::Kind::setScrollDirection:
        command.command = NetworkCommand::Command::setScrollDirection(
            numberMember(parameters, "direction").value_or(defaultRemoteScrollDirection));
        break;
    case NetworkCommand::Kind::reportStatus:
    case NetworkCommand::Kind::startPlayback:
    case NetworkCommand::Kind::stopPlayback:
    case NetworkCommand::Kind::rewind:
        command.command = NetworkCommand::Command::of(*kind);
        break;
    }
    return command;
}

bool isRemoteErrorMessage(const json& message) {
    if (!message.is_object()) {
        return false;
    }
    const std::string* type = stringMember(message, "paylodetype");
    return type != nullptr && *type == "error";
}

RemoteBytes remoteErrorReply(std::string_view name, std::string_view reason) {
    const json reply = {{"protver", 1},
                        {"paylodetype", "error"},
                        {"payload", {{"name", std::string(name)}, {"reason", std::string(reason)}}}};
    return bytesOf(reply, 2);
}

RemoteBytes remoteStatusReply(const NetworkStatusReport& report) {
    const bool playing = report.transportState == TransportState::TransportStatus::playing;
    const json status = {{"filename", report.filename},
                         {"scrollSpeed", report.scrollSpeed},
                         {"maxScrollSpeed", report.maxScrollSpeed},
                         {"totalRuntime", report.totalRuntime},
                         {"playbackProgress", report.playbackProgress},
                         {"transportState", playing ? "playing" : "stopped"},
                         {"scrollDirection", report.scrollDirection}};
    const json reply = {{"protver", 1}, {"paylodetype", "result"}, {"payload", {{"status", status}}}};
    return bytesOf(reply, 2);
}

RemoteBytes remoteReply(const NetworkAnswer& answer) {
    if (const auto* report = std::get_if<NetworkStatusReport>(&answer.value)) {
        return remoteStatusReply(*report);
    }
    if (const auto* error = std::get_if<NetworkAnswer::Error>(&answer.value)) {
        return remoteErrorReply(remoteErrors::generalError, error->reason);
    }
    return remoteErrorReply(remoteErrors::noDocument, remoteErrors::noDocumentReason);
}

RemoteBytes remoteRequest(const NetworkCommand::Command& command) {
    json parameters = json::object();
    switch (command.kind) {
    case NetworkCommand::Kind::setScrollSpeed: {
        const double whole = std::trunc(command.value);
        if (!std::isfinite(whole) || std::fabs(whole) >= 9223372036854775808.0) {
            throw std::invalid_argument("A speed of " + std::to_string(command.value) + " cannot be sent");
        }
        parameters["speed"] = static_cast<std::int64_t>(whole);
        break;
    }
    case NetworkCommand::Kind::setScrollDirection:
        if (!std::isfinite(command.value)) {
            throw std::invalid_argument("A direction of " + std::to_string(command.value) +
                                        " cannot be sent");
        }
        parameters["direction"] = command.value;
        break;
    case NetworkCommand::Kind::reportStatus:
    case NetworkCommand::Kind::startPlayback:
    case NetworkCommand::Kind::stopPlayback:
    case NetworkCommand::Kind::rewind:
        break;
    }
    const json request = {
        {"protver", 2},
        {"cmdendpoint", "active"},
        {"paylodetype", "command"},
        {"payload", {{"cmdname", std::string(base::rawValue(command.kind))}, {"cmdparams", parameters}}}};
    return bytesOf(request, -1);
}

RemoteReply parseRemoteReply(std::span<const std::uint8_t> datagram) {
    const json reply = parseRemoteJson(datagram);
    if (!reply.is_object()) {
        throw clientMalformed("Can not decode JSON");
    }
    checkVersion(reply, [](const std::string& version) {
        throw BonjourClientError(BonjourClientError::Kind::protocolError,
                                 "Expected protocol version is 1 or 2. But got " + version);
    });
    if (const std::string* type = stringMember(reply, "paylodetype")) {
        if (*type == "error") {
            const json* payload = objectMember(reply, "payload");
            if (payload == nullptr) {
                throw clientMalformed("Can not extract payload from error");
            }
            const std::string* reason = stringMember(*payload, "reason");
            return RemoteErrorReason{reason != nullptr ? *reason : "Unkown Error"};
        }
        if (*type != "result") {
            throw clientMalformed("Wrong payload type. Expected Status but got " + *type);
        }
    }
    const json* payload = objectMember(reply, "payload");
    if (payload == nullptr) {
        throw clientMalformed("Can not extract payload");
    }
    const json* status = objectMember(*payload, "status");
    if (status == nullptr) {
        throw clientMalformed("Can not extract status from payload.");
    }
    const auto required = [&](const char* key, const char* failure) {
        const auto number = numberMember(*status, key);
        if (!number) {
            throw clientMalformed(failure);
        }
        return *number;
    };
    NetworkStatusReport report;
    const std::string* state = stringMember(*status, "transportState");
    if (state == nullptr) {
        throw clientMalformed("Can not extract transport state from status");
    }
    report.transportState = *state == "playing" ? TransportState::TransportStatus::playing
                                                : TransportState::TransportStatus::stopped;
    report.playbackProgress = required("playbackProgress", "Can not extract playback position from status");
    report.scrollSpeed = required("scrollSpeed", "Can not extract playback speed from status");
    report.scrollDirection = required("scrollDirection", "Can not extract scroll direction from status");
    report.totalRuntime = required("totalRuntime", "Can not extract total runtime from status");
    report.maxScrollSpeed =
        numberMember(*status, "maxScrollSpeed").value_or(NetworkStatusReport::maxScrollSpeedValue);
    const std::string* filename = stringMember(*status, "filename");
    if (filename == nullptr) {
        throw clientMalformed("Can not extract filename from status");
    }
    report.filename = *filename;
    return report;
}

} // namespace cw
