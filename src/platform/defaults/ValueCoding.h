// The JSON form of the defaults file (private to the defaults library and its tests).
#pragma once

#include "platform/defaults/Value.h"

#include <optional>
#include <string>
#include <string_view>

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

// Nullopt when the text is not such a file; `why` (when given) then says what is wrong.
std::optional<Dictionary> decodeDefaultsFile(std::string_view text, std::string* why = nullptr);

std::string base64Encode(const Data& bytes);
std::optional<Data> base64Decode(std::string_view text);

} // namespace platform
