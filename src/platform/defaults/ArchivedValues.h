// Colours and fonts stored as data values in the defaults store: our own small byte format.
#pragma once

#include "platform/defaults/Value.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class Defaults;

// Byte format of an archived colour (all numbers little-endian):
//
//   offset  size  content
//   0       4     magic "CWCL"
//   4       1     format version, 1
//   5       1     colour space (ArchivedColorSpace below)
//   6       1     component count n, which must be the space's count
//   7       8*n   components, IEEE-754 binary64, each finite
//
// Components are in the space's order with alpha last: r g b a for the RGB spaces, w a for
// the grey spaces, c m y k a for CMYK. Values are kept as stored (extended sRGB may leave
// 0...1); nothing may follow the last component.
enum class ArchivedColorSpace : std::uint8_t {
    sRGB = 1,
    genericRGB = 2, // calibrated RGB
    deviceRGB = 3,
    displayP3 = 4,
    extendedSRGB = 5,
    genericGray = 6,
    deviceGray = 7,
    deviceCMYK = 8,
};

// The number of components (alpha included) of a space; 0 for a value outside the enumeration.
int componentCount(ArchivedColorSpace space);

struct ArchivedColor {
    ArchivedColorSpace space = ArchivedColorSpace::sRGB;
    std::vector<double> components{0.0, 0.0, 0.0, 1.0};

    static ArchivedColor sRGB(double red, double green, double blue, double alpha = 1.0) {
        return ArchivedColor{ArchivedColorSpace::sRGB, {red, green, blue, alpha}};
    }

    bool operator==(const ArchivedColor&) const = default;
};

// Byte format of an archived font (all numbers little-endian):
//
//   offset  size  content
//   0       4     magic "CWFN"
//   4       1     format version, 1
//   5       1     traits: bit 0 bold, bit 1 italic, the other bits zero
//   6       8     point size, IEEE-754 binary64, finite and greater than 0
//   14      4     family name length L in bytes, 1...1024
//   18      L     family name, UTF-8
//
// Nothing may follow the family name.
struct ArchivedFont {
    std::string family;
    double pointSize = 12.0;
    bool bold = false;
    bool italic = false;

    bool operator==(const ArchivedFont&) const = default;
};

// Encoding writes the struct as it is; decoding gives nullopt for bytes that do not follow the
// format exactly (wrong magic or version, an unknown space, a wrong count, a bad number or name,
// bytes missing or left over), so an encoded invalid struct does not decode either.
Data encodeColor(const ArchivedColor& color);
std::optional<ArchivedColor> decodeColor(const Data& bytes);
Data encodeFont(const ArchivedFont& font);
std::optional<ArchivedFont> decodeFont(const Data& bytes);

// The colour or font stored under `key`; `fallback` when there is none, when the value is not
// data, or when the data does not decode. Never reports an error.
ArchivedColor archivedColor(const Defaults& defaults, std::string_view key, const ArchivedColor& fallback);
ArchivedFont archivedFont(const Defaults& defaults, std::string_view key, const ArchivedFont& fallback);

void setArchivedColor(Defaults& defaults, std::string_view key, const ArchivedColor& color);
void setArchivedFont(Defaults& defaults, std::string_view key, const ArchivedFont& font);

} // namespace platform
