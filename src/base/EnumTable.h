// Table-driven conversions of enumerations to and from raw strings and menu indexes.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace base {

// How a raw string is compared with the table: stored choices are lower-case and read
// case-insensitively (ASCII), a few fixed keys must match exactly.
enum class CaseMatch { ignoreCase, exact };

template <class E> struct EnumCase {
    E value;
    std::string_view raw;
    int index;
};

constexpr char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr bool equalIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i])) {
            return false;
        }
    }
    return true;
}

// All cases of one enumeration with their raw strings and menu indexes, plus the case that
// answers every value, string or index outside the table. Every conversion is total.
//
// An enumeration opts in by declaring, in its own namespace, a constexpr function
// `enumTable(E)` that returns its table; rawValue/menuIndex/fromRawValue/fromMenuIndex below
// find it by argument-dependent lookup.
template <class E, std::size_t N> struct EnumTable {
    std::array<EnumCase<E>, N> cases;
    E fallback;

    constexpr const EnumCase<E>* find(E value) const {
        for (const auto& c : cases) {
            if (c.value == value) {
                return &c;
            }
        }
        return nullptr;
    }

    constexpr const EnumCase<E>& fallbackCase() const { return *find(fallback); }

    constexpr std::string_view raw(E value) const {
        const auto* c = find(value);
        return c ? c->raw : fallbackCase().raw;
    }

    constexpr int index(E value) const {
        const auto* c = find(value);
        return c ? c->index : fallbackCase().index;
    }

    constexpr E fromRaw(std::string_view raw, CaseMatch match = CaseMatch::ignoreCase) const {
        for (const auto& c : cases) {
            if (match == CaseMatch::exact ? c.raw == raw : equalIgnoringAsciiCase(c.raw, raw)) {
                return c.value;
            }
        }
        return fallback;
    }

    // True when the fallback is in the table and no raw string (ignoring case) or index repeats;
    // tables are checked with static_assert.
    constexpr bool isWellFormed() const {
        if (find(fallback) == nullptr) {
            return false;
        }
        for (std::size_t i = 0; i < N; ++i) {
            for (std::size_t j = i + 1; j < N; ++j) {
                if (cases[i].value == cases[j].value || cases[i].index == cases[j].index ||
                    equalIgnoringAsciiCase(cases[i].raw, cases[j].raw)) {
                    return false;
                }
            }
        }
        return true;
    }

    constexpr E fromIndex(int index) const {
        for (const auto& c : cases) {
            if (c.index == index) {
                return c.value;
            }
        }
        return fallback;
    }
};

// The raw string of a case; the fallback case's string for a value outside the table.
template <class E> constexpr std::string_view rawValue(E value) {
    return enumTable(E{}).raw(value);
}

// The menu index of a case; the fallback case's index for a value outside the table.
template <class E> constexpr int menuIndex(E value) {
    return enumTable(E{}).index(value);
}

// The case whose raw string matches (ASCII letter case ignored unless `match` is exact);
// the fallback case for any other string.
template <class E> constexpr E fromRawValue(std::string_view raw, CaseMatch match = CaseMatch::ignoreCase) {
    return enumTable(E{}).fromRaw(raw, match);
}

// The case at a menu index; the fallback case for any other index.
template <class E> constexpr E fromMenuIndex(int index) {
    return enumTable(E{}).fromIndex(index);
}

template <class E> constexpr E fallbackValue() {
    return enumTable(E{}).fallback;
}

} // namespace base
