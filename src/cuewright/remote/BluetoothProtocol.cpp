#include "cuewright/remote/BluetoothProtocol.h"

#include "cuewright/remote/RemoteProtocol.h"

#include <charconv>
#include <cmath>
#include <map>

namespace cw {

namespace {

constexpr double exponentBelow = 1e-4;
constexpr double exponentFrom = 9007199254740992.0; // 2^53: beyond it not every whole number exists

bool isValidUtf8(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        size_t length = 0;
        char32_t code = 0;
        if (c < 0x80) {
            ++i;
            continue;
        }
        if ((c & 0xE0) == 0xC0) {
            length = 2;
            code = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            length = 3;
            code = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            length = 4;
            code = c & 0x07;
        } else {
            return false;
        }
        if (i + length > text.size()) {
            return false;
        }
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            code = (code << 6) | (next & 0x3F);
        }
        constexpr char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return true;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (true) {
        const size_t end = text.find(separator, start);
        parts.push_back(
            text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) {
            return parts;
        }
        start = end + 1;
    }
}

// A whole decimal number with an optional sign; nothing that is not finite.
std::optional<double> number(std::string_view text) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
            return std::nullopt;
        }
    }
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::int64_t> integer(std::string_view text) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-') {
            return std::nullopt;
        }
    }
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

BluetoothBytes bytesOf(std::string_view text) {
    return {text.begin(), text.end()};
}

// The last path component: trailing slashes do not count; "/" stays "/".
std::string_view lastPathComponent(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') {
        path.remove_suffix(1);
    }
    if (path == "/") {
        return path;
    }
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

} // namespace

std::optional<NetworkCommand> parseBluetoothCommand(std::span<const std::uint8_t> bytes) {
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (!isValidUtf8(text)) {
        return std::nullopt;
    }
    std::map<std::string_view, std::string_view> pairs;
    for (const auto part : split(text, ',')) {
        const auto pieces = split(part, ':');
        if (pieces.size() == 2) {
            pairs[pieces[0]] = pieces[1];
        }
    }
    const auto value = [&](std::string_view key) -> std::optional<std::string_view> {
        const auto found = pairs.find(key);
        return found == pairs.end() ? std::nullopt : std::optional(found->second);
    };
    if (const auto type = value("x1"); type && *type != "x2") {
        return std::nullopt;
    }
    const auto versionText = value("v1");
    const std::int64_t version = versionText ? integer(*versionText).value_or(1) : 1;
    const auto code = value("c1");
    if (!code) {
        return std::nullopt;
    }
    const auto withNumber = [&](std::string_view key, auto make) -> std::optional<NetworkCommand> {
        const auto given = value(key);
        const auto parsed = given ? number(*given) : std::nullopt;
        if (!parsed) {
            return std::nullopt;
        }
        return NetworkCommand{make(*parsed), version};
    };
    using Kind = NetworkCommand::Kind;
    using Command = NetworkCommand::Command;
    if (*code == "c3") {
        return NetworkCommand{Command::of(Kind::reportStatus), version};
    }
    if (*code == "c4") {
        return NetworkCommand{Command::of(Kind::startPlayback), version};
    }
    if (*code == "c5") {
        return NetworkCommand{Command::of(Kind::stopPlayback), version};
    }
    if (*code == "c6") {
        return NetworkCommand{Command::of(Kind::rewind), version};
    }
    if (*code == "c7") {
        return withNumber("c9", &Command::setScrollSpeed);
    }
    if (*code == "c8") {
        return withNumber("c10", &Command::setScrollDirection);
    }
    return std::nullopt;
}

std::string bluetoothNumberText(double value) {
    if (std::isnan(value)) {
        return "nan";
    }
    if (std::isinf(value)) {
        return value < 0 ? "-inf" : "inf";
    }
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    std::string scientific(buffer, result.ptr);
    const double magnitude = std::fabs(value);
    if (magnitude != 0 && (magnitude < exponentBelow || magnitude >= exponentFrom)) {
        return scientific;
    }
    // "-d.ddde±XX" into digits and exponent, then written out without one.
    std::string sign;
    if (scientific.front() == '-') {
        sign = "-";
        scientific.erase(0, 1);
    }
    const size_t e = scientific.find('e');
    const int exponent = std::stoi(scientific.substr(e + 1));
    std::string digits = scientific.substr(0, e);
    if (digits.size() > 1) {
        digits.erase(1, 1); // the point
    }
    std::string whole;
    std::string fraction;
    if (exponent >= 0) {
        const size_t wholeDigits = static_cast<size_t>(exponent) + 1;
        if (digits.size() <= wholeDigits) {
            whole = digits + std::string(wholeDigits - digits.size(), '0');
        } else {
            whole = digits.substr(0, wholeDigits);
            fraction = digits.substr(wholeDigits);
        }
    } else {
        whole = "0";
        fraction = std::string(static_cast<size_t>(-exponent - 1), '0') + digits;
    }
    return sign + whole + "." + (fraction.empty() ? "0" : fraction);
}

std::optional<BluetoothBytes> bluetoothStatusMessage(const NetworkStatusReport& report) {
    const std::string_view name = lastPathComponent(report.filename);
    if (!isValidUtf8(name)) {
        return std::nullopt;
    }
    const bool playing = report.transportState == TransportState::TransportStatus::playing;
    std::string text = "v1:1,x1:x4,a3:" + bluetoothNumberText(report.scrollSpeed) +
                       ",a8:" + bluetoothNumberText(report.scrollDirection) +
                       ",a6:" + bluetoothNumberText(report.totalRuntime) +
                       ",a5:" + bluetoothNumberText(report.playbackProgress) +
                       ",a7:" + (playing ? "a9" : "a10") + ",a2:";
    text += name;
    return bytesOf(text);
}

std::optional<BluetoothBytes> bluetoothErrorMessage(std::string_view code, std::string_view text) {
    if (!isValidUtf8(code) || !isValidUtf8(text)) {
        return std::nullopt;
    }
    std::string message = "v1:1,x1:x3,e1:";
    message += code;
    message += ",e2:";
    message += text;
    return bytesOf(message);
}

std::optional<BluetoothBytes> bluetoothAnswerMessage(const NetworkAnswer& answer) {
    if (const auto* report = std::get_if<NetworkStatusReport>(&answer.value)) {
        return bluetoothStatusMessage(*report);
    }
    if (const auto* error = std::get_if<NetworkAnswer::Error>(&answer.value)) {
        return bluetoothErrorMessage(bluetoothErrors::general, error->reason);
    }
    return bluetoothErrorMessage(bluetoothErrors::noDocument, remoteErrors::noDocumentReason);
}

} // namespace cw
