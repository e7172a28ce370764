// libFuzzer target: the Bluetooth text protocol. Whatever is written, parsing must not fail, a
// parsed number must be finite, and the status message built from it must read back as a
// status message with the same numbers.
#include "cuewright/remote/BluetoothProtocol.h"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

void check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

// The number after "<key>:" in a status message.
double field(const std::string& message, std::string_view key) {
    const size_t at = message.find("," + std::string(key) + ":");
    check(at != std::string::npos);
    const size_t start = at + key.size() + 2;
    const size_t end = message.find(',', start);
    double value = 0;
    const auto result = std::from_chars(message.data() + start, message.data() + end, value);
    check(result.ec == std::errc() && result.ptr == message.data() + end);
    return value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto command = cw::parseBluetoothCommand({data, size});
    if (!command) {
        return 0;
    }
    check(command->command.kind != cw::NetworkCommand::Kind::setScrollSpeed ||
          std::isfinite(command->command.value));
    check(command->command.kind != cw::NetworkCommand::Kind::setScrollDirection ||
          std::isfinite(command->command.value));

    // The number it carried goes back out in every numeric field of a status.
    const double value = command->command.value;
    cw::NetworkStatusReport report{"/x/Talk.cwr", value, 100,  cw::TransportState::TransportStatus::playing,
                                   value,         value, value};
    const auto bytes = cw::bluetoothStatusMessage(report);
    check(bytes.has_value());
    const std::string message(bytes->begin(), bytes->end());
    for (const auto key : {"a3", "a8", "a6", "a5"}) {
        check(field(message, key) == value);
    }
    return 0;
}
