// The JSON form of the defaults file (private to the defaults library and its tests).
#pragma once

#include "platform/defaults/Value.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The file is one JSON object of the user's values. Booleans, integers, doubles, strings and
// arrays are plain JSON (a double is always written with a fraction or exponent, so 31.0 stays a
// double). The other kinds are objects with a single tagged member:
//   {"@float": 0.65}          a float (written as the double of its exact binary value)
//   {"@double": "nan"}        a double that JSON cannot hold: "nan", "inf" or "-inf"
//   {"@data": "<base64>"}     bytes, standard base64 with padding
//   {"@dict": {...}}          a dictionary whose only key begins with "@"
// Any other object is a dictionary.
std::string encodeDefaultsFile(const Dictionary& values);

// Longer keys and strings are no setting's: such a member reads as unreadable.
inline constexpr std::size_t kMaxSettingKeyBytes = 256;
inline constexpr std::size_t kMaxSettingStringBytes = 4096;

// Nullopt when the text is not such a file (not JSON, not an object); `why` (when given) then
// says what is wrong. A member whose value cannot be read (an unknown tag, null, a string or key
// beyond the bounds above) is left out and its key added to `unreadable` when given; without
// `unreadable` such a member refuses the whole file.
std::optional<Dictionary> decodeDefaultsFile(std::string_view text, std::string* why = nullptr,
                                             std::vector<std::string>* unreadable = nullptr);

std::string base64Encode(const Data& bytes);
std::optional<Data> base64Decode(std::string_view text);

} // namespace platform
