#include "platform/defaults/ArchivedValues.h"

#include "platform/defaults/Defaults.h"

#include <bit>
#include <cmath>
#include <cstring>

namespace platform {

namespace {

constexpr std::uint8_t kColorMagic[4] = {'C', 'W', 'C', 'L'};
constexpr std::uint8_t kFontMagic[4] = {'C', 'W', 'F', 'N'};
constexpr std::uint8_t kVersion = 1;
constexpr std::uint32_t kMaxFamilyLength = 1024;

void putDouble(Data& out, double d) {
    auto bits = std::bit_cast<std::uint64_t>(d);
    for (int i = 0; i < 8; ++i) {
        out.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
    }
}

void putUint32(Data& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
}

// Reads fixed-size fields from a byte buffer, remembering when it ran out.
class Reader {
public:
    explicit Reader(const Data& bytes)
        : bytes_(bytes) {}

    bool has(size_t n) const { return bytes_.size() - pos_ >= n; }
    bool atEnd() const { return pos_ == bytes_.size(); }

    bool magic(const std::uint8_t (&m)[4]) {
        if (!has(4) || std::memcmp(bytes_.data() + pos_, m, 4) != 0) {
            return false;
        }
        pos_ += 4;
        return true;
    }

    std::optional<std::uint8_t> byte() {
        if (!has(1)) {
            return std::nullopt;
        }
        return bytes_[pos_++];
    }

    std::optional<double> real() {
        if (!has(8)) {
            return std::nullopt;
        }
        std::uint64_t bits = 0;
        for (int i = 0; i < 8; ++i) {
            bits |= std::uint64_t{bytes_[pos_ + i]} << (8 * i);
        }
        pos_ += 8;
        return std::bit_cast<double>(bits);
    }

    std::optional<std::uint32_t> uint32() {
        if (!has(4)) {
            return std::nullopt;
        }
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            v |= std::uint32_t{bytes_[pos_ + i]} << (8 * i);
        }
        pos_ += 4;
        return v;
    }

    std::optional<std::string> text(size_t n) {
        if (!has(n)) {
            return std::nullopt;
        }
        std::string s(reinterpret_cast<const char*>(bytes_.data() + pos_), n);
        pos_ += n;
        return s;
    }

private:
    const Data& bytes_;
    size_t pos_ = 0;
};

bool isValidUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        size_t extra = 0;
        std::uint32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        }
        if ((c & 0xE0) == 0xC0) {
            extra = 1;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (extra > s.size() - i - 1) { // truncated sequence
            return false;
        }
        for (size_t k = 1; k <= extra; ++k) {
            const auto cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80) {
                return false;
            }
            cp = (cp << 6) | (cc & 0x3F);
        }
        const std::uint32_t minimum[] = {0, 0x80, 0x800, 0x10000};
        if (cp < minimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false; // overlong, out of range or a surrogate
        }
        i += extra + 1;
    }
    return true;
}

} // namespace

int componentCount(ArchivedColorSpace space) {
    switch (space) {
    case ArchivedColorSpace::sRGB:
    case ArchivedColorSpace::genericRGB:
    case ArchivedColorSpace::deviceRGB:
    case ArchivedColorSpace::displayP3:
    case ArchivedColorSpace::extendedSRGB:
        return 4;
    case ArchivedColorSpace::genericGray:
    case ArchivedColorSpace::deviceGray:
        return 2;
    case ArchivedColorSpace::deviceCMYK:
        return 5;
    }
    return 0;
}

Data encodeColor(const ArchivedColor& color) {
    Data out(std::begin(kColorMagic), std::end(kColorMagic));
    out.push_back(kVersion);
    out.push_back(static_cast<std::uint8_t>(color.space));
    out.push_back(static_cast<std::uint8_t>(color.components.size()));
    for (double c : color.components) {
        putDouble(out, c);
    }
    return out;
}

std::optional<ArchivedColor> decodeColor(const Data& bytes) {
    Reader in(bytes);
    if (!in.magic(kColorMagic) || in.byte() != kVersion) {
        return std::nullopt;
    }
    auto space = in.byte();
    auto count = in.byte();
    if (!space || !count) {
        return std::nullopt;
    }
    ArchivedColor color;
    color.space = static_cast<ArchivedColorSpace>(*space);
    const int expected = componentCount(color.space);
    if (expected == 0 || *count != expected) {
        return std::nullopt;
    }
    color.components.clear();
    for (int i = 0; i < expected; ++i) {
        auto c = in.real();
        if (!c || !std::isfinite(*c)) {
            return std::nullopt;
        }
        color.components.push_back(*c);
    }
    if (!in.atEnd()) {
        return std::nullopt;
    }
    return color;
}

Data encodeFont(const ArchivedFont& font) {
    Data out(std::begin(kFontMagic), std::end(kFontMagic));
    out.push_back(kVersion);
    out.push_back(static_cast<std::uint8_t>((font.bold ? 1 : 0) | (font.italic ? 2 : 0)));
    putDouble(out, font.pointSize);
    putUint32(out, static_cast<std::uint32_t>(font.family.size()));
    out.insert(out.end(), font.family.begin(), font.family.end());
    return out;
}

std::optional<ArchivedFont> decodeFont(const Data& bytes) {
    Reader in(bytes);
    if (!in.magic(kFontMagic) || in.byte() != kVersion) {
        return std::nullopt;
    }
    auto traits = in.byte();
    auto size = in.real();
    auto length = in.uint32();
    if (!traits || (*traits & ~3u) != 0 || !size || !std::isfinite(*size) || *size <= 0 || !length ||
        *length == 0 || *length > kMaxFamilyLength) {
        return std::nullopt;
    }
    auto family = in.text(*length);
    if (!family || !in.atEnd() || !isValidUtf8(*family)) {
        return std::nullopt;
    }
    return ArchivedFont{std::move(*family), *size, (*traits & 1) != 0, (*traits & 2) != 0};
}

ArchivedColor archivedColor(const Defaults& defaults, std::string_view key, const ArchivedColor& fallback) {
    auto data = defaults.dataForKey(key);
    if (!data) {
        return fallback;
    }
    return decodeColor(*data).value_or(fallback);
}

ArchivedFont archivedFont(const Defaults& defaults, std::string_view key, const ArchivedFont& fallback) {
    auto data = defaults.dataForKey(key);
    if (!data) {
        return fallback;
    }
    return decodeFont(*data).value_or(fallback);
}

void setArchivedColor(Defaults& defaults, std::string_view key, const ArchivedColor& color) {
    defaults.set(key, encodeColor(color));
}

void setArchivedFont(Defaults& defaults, std::string_view key, const ArchivedFont& font) {
    defaults.set(key, encodeFont(font));
}

} // namespace platform
