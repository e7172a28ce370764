// A 16-byte UUID value with its 36-character text form.
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sql {

struct Uuid {
    std::array<std::uint8_t, 16> bytes{};

    // A random (version 4) UUID.
    static Uuid random();
    // Parses 8-4-4-4-12 hexadecimal groups, either case; nullopt for anything else.
    static std::optional<Uuid> parse(std::string_view text);
    // Upper-case hexadecimal in groups 8-4-4-4-12.
    std::string toString() const;

    auto operator<=>(const Uuid&) const = default;
};

} // namespace sql
