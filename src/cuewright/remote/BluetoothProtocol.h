// The short text protocol of the Bluetooth LE remote control: commands written, status read.
#pragma once

#include "cuewright/remote/NetworkMessages.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace cw {

// The GATT service and its one read-and-write characteristic.
inline constexpr std::string_view bluetoothServiceUuid = "34BAA1A0-956A-4E45-BC9A-10FE70E3FCAF";
inline constexpr std::string_view bluetoothCharacteristicUuid = "DBDE2087-5B56-40EE-97B3-945EF7BA6C6A";

// Error codes of an error message ("e1").
namespace bluetoothErrors {
inline constexpr std::string_view noDocument = "e3";
inline constexpr std::string_view general = "e5";
} // namespace bluetoothErrors

using BluetoothBytes = std::vector<std::uint8_t>;

// A written value as a command: UTF-8 text of "key:value" pairs joined by "," (a later key
// replaces an earlier one; a pair that is not exactly two pieces is skipped). "x1", when given,
// must be "x2"; "v1" is the version (1 when missing or no integer); "c1" names the command and
// "c9" / "c10" carry the speed or direction of "c7" / "c8". A number is a whole decimal
// floating-point text in the C locale with an optional sign; "nan", "inf", hexadecimal forms,
// blanks and values beyond a double are no numbers. nullopt for anything else.
std::optional<NetworkCommand> parseBluetoothCommand(std::span<const std::uint8_t> bytes);

// "v1:1,x1:x4,a3:<speed>,a8:<direction>,a6:<running time>,a5:<progress>,a7:a9|a10,a2:<file name>",
// the file name being the last component of the report's file name, as it is. nullopt when the
// name is not valid UTF-8.
std::optional<BluetoothBytes> bluetoothStatusMessage(const NetworkStatusReport& report);
// "v1:1,x1:x3,e1:<code>,e2:<text>"; nullopt when the text is not valid UTF-8.
std::optional<BluetoothBytes> bluetoothErrorMessage(std::string_view code, std::string_view text);
// The message a read answers with, for each answer of the executor.
std::optional<BluetoothBytes> bluetoothAnswerMessage(const NetworkAnswer& answer);

// The shortest decimal text that reads back to the same double, with ".0" on whole numbers and
// an exponent ("1e-05", "1e+16") below 1e-4 and from 2^53 on; "nan", "inf", "-inf".
std::string bluetoothNumberText(double value);

} // namespace cw
