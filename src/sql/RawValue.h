// Raw string values of the SQL layer's small enumerations, from one table per enumeration.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>
#include <utility>

namespace sql {

template <class E, std::size_t N> struct RawValueTable {
    std::array<std::pair<E, std::string_view>, N> entries;

    constexpr std::string_view raw(E e) const {
        for (const auto& [value, text] : entries) {
            if (value == e) {
                return text;
            }
        }
        return {};
    }
    // Exact, case-sensitive match; nullopt otherwise.
    constexpr std::optional<E> from(std::string_view text) const {
        for (const auto& [value, t] : entries) {
            if (t == text) {
                return value;
            }
        }
        return std::nullopt;
    }
};

template <class E, class... T> constexpr auto makeRawValueTable(std::pair<E, T>... entries) {
    return RawValueTable<E, sizeof...(T)>{{std::pair<E, std::string_view>(entries.first, entries.second)...}};
}

} // namespace sql
