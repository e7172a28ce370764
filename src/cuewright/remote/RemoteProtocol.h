// The JSON wire form of the network remote control: requests, replies and their parsers.
#pragma once

#include "cuewright/remote/NetworkMessages.h"

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace cw {

using RemoteBytes = std::vector<std::uint8_t>;

// The service type both sides announce and look for, and the port the server uses by default.
inline constexpr std::string_view remoteServiceType = "_cuewright._udp.";
inline constexpr std::uint16_t defaultRemotePort = 19824;

// Names of the error replies.
namespace remoteErrors {
inline constexpr std::string_view protocolError = "proterr";
inline constexpr std::string_view dataError = "dtaerr";
inline constexpr std::string_view generalError = "generr";
inline constexpr std::string_view noDocument = "nodoc";
inline constexpr std::string_view malformedData = "Can not parse request. Malformed data";
inline constexpr std::string_view noDocumentReason = "No document active.";
inline constexpr std::string_view noDelegateReason = "Delegate fuckup yo";
} // namespace remoteErrors

// Why a request was refused; what() is the reason sent back.
class BonjourServerError : public std::runtime_error {
public:
    enum class Kind { unsupportedCommand, protocolError, malformedDataReceived };
    BonjourServerError(Kind kind, const std::string& reason);
    static BonjourServerError unsupportedCommand(const std::string& commandName);
    Kind kind() const { return kind_; }
    // The reply's "name": "proterr" for the first two kinds, "dtaerr" for malformed data.
    std::string_view replyName() const;

private:
    Kind kind_;
};

// Why a reply could not be used; what() is the reason.
class BonjourClientError : public std::runtime_error {
public:
    enum class Kind {
        commandNotSupported,
        answerContainsError,
        protocolError,
        malformedDataReceived,
        answerExpectedButMissing
    };
    BonjourClientError(Kind kind, const std::string& reason);
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

// JSON values as the protocol reads them: a number is a JSON number (never a Boolean) with a
// finite value; an integer is a number with a whole value within 64 bits.
std::optional<double> remoteNumber(const nlohmann::json& value);
std::optional<std::int64_t> remoteInteger(const nlohmann::json& value);

// A whole datagram as JSON. A NUL byte anywhere makes it no JSON: the reader would take it for
// the end of the text and obey what came before. Throws nlohmann::json::parse_error.
nlohmann::json parseRemoteJson(std::span<const std::uint8_t> datagram);

// Parses one request datagram. Throws BonjourServerError, or nlohmann::json::exception when the
// bytes are no JSON at all.
NetworkCommand parseRemoteRequest(std::span<const std::uint8_t> datagram);
NetworkCommand parseRemoteRequest(const nlohmann::json& request);

// True for a JSON object whose "paylodetype" is "error": a reply of another server, which must
// never be answered (two servers would otherwise trade errors without end).
bool isRemoteErrorMessage(const nlohmann::json& message);

// Pretty-printed replies ("protver" 1). Texts that are not valid UTF-8 are written with
// replacement characters, so a reply can always be built.
RemoteBytes remoteErrorReply(std::string_view name, std::string_view reason);
RemoteBytes remoteStatusReply(const NetworkStatusReport& report);
RemoteBytes remoteReply(const NetworkAnswer& answer);

// The client's request ("protver" 2, compact). The speed goes as a whole number, truncated
// toward zero; a speed that is not finite or beyond 64 bits, or a direction that is not finite,
// throws std::invalid_argument.
RemoteBytes remoteRequest(const NetworkCommand::Command& command);

// A parsed reply: the status, or the reason of an error reply.
struct RemoteErrorReason {
    std::string reason;
    bool operator==(const RemoteErrorReason&) const = default;
};
using RemoteReply = std::variant<NetworkStatusReport, RemoteErrorReason>;

// Parses one reply datagram. Throws BonjourClientError, or nlohmann::json::exception when the
// bytes are no JSON at all.
RemoteReply parseRemoteReply(std::span<const std::uint8_t> datagram);

} // namespace cw
