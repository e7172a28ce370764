// Values that cross into and out of SQLite: bindings, typed values and their stored forms.
#pragma once

#include "sql/Bindings.h"
#include "sql/Errors.h"
#include "sql/Uuid.h"

#include <chrono>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

namespace sql {

namespace detail {
template <class T> struct IsOptional : std::false_type {};
template <class T> struct IsOptional<std::optional<T>> : std::true_type {};
} // namespace detail

// Byte buffers of the application (stored as BLOB).
using Data = std::vector<std::uint8_t>;
// A point in time, UTC, to the millisecond (stored as TEXT "yyyy-MM-ddTHH:mm:ss.SSS").
using Date = std::chrono::sys_time<std::chrono::milliseconds>;

// The stored text of a date and its parse; the parse is nullopt for any other text. Only the
// years 0000 to 9999 fit the text: formatting any other date throws Result.
std::string formatDate(Date date);
std::optional<Date> parseDate(std::string_view text);

// ValueTraits<T> maps T onto one of the four stored types:
//   Datatype            the stored type (an alternative of Binding)
//   declaredDatatype    the SQL type name of a column holding T
//   toDatatype(v)       the stored value
//   fromDatatype(d)     the value back; nullopt when stored text does not parse
template <class T> struct ValueTraits;

template <class T>
concept Value = requires {
    typename ValueTraits<T>::Datatype;
};

template <> struct ValueTraits<std::int64_t> {
    using Datatype = std::int64_t;
    static constexpr std::string_view declaredDatatype = "INTEGER";
    static std::int64_t toDatatype(std::int64_t v) { return v; }
    static std::optional<std::int64_t> fromDatatype(std::int64_t v) { return v; }
};

// Stored integers are 64 bits wide (use std::int64_t for them); an int reads only those that
// fit and gives nullopt for the rest, never a wrapped value.
template <> struct ValueTraits<int> {
    using Datatype = std::int64_t;
    static constexpr std::string_view declaredDatatype = "INTEGER";
    static std::int64_t toDatatype(int v) { return v; }
    static std::optional<int> fromDatatype(std::int64_t v) {
        if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max()) {
            return std::nullopt;
        }
        return static_cast<int>(v);
    }
};

template <> struct ValueTraits<bool> {
    using Datatype = std::int64_t;
    static constexpr std::string_view declaredDatatype = "INTEGER";
    static std::int64_t toDatatype(bool v) { return v ? 1 : 0; }
    static std::optional<bool> fromDatatype(std::int64_t v) { return v != 0; }
};

template <> struct ValueTraits<double> {
    using Datatype = double;
    static constexpr std::string_view declaredDatatype = "REAL";
    static double toDatatype(double v) { return v; }
    static std::optional<double> fromDatatype(double v) { return v; }
};

template <> struct ValueTraits<std::string> {
    using Datatype = std::string;
    static constexpr std::string_view declaredDatatype = "TEXT";
    static const std::string& toDatatype(const std::string& v) { return v; }
    static std::optional<std::string> fromDatatype(const std::string& v) { return v; }
};

template <> struct ValueTraits<Blob> {
    using Datatype = Blob;
    static constexpr std::string_view declaredDatatype = "BLOB";
    static const Blob& toDatatype(const Blob& v) { return v; }
    static std::optional<Blob> fromDatatype(const Blob& v) { return v; }
};

template <> struct ValueTraits<Data> {
    using Datatype = Blob;
    static constexpr std::string_view declaredDatatype = "BLOB";
    static Blob toDatatype(const Data& v) { return Blob(v); }
    static std::optional<Data> fromDatatype(const Blob& v) { return v.bytes; }
};

template <> struct ValueTraits<Date> {
    using Datatype = std::string;
    static constexpr std::string_view declaredDatatype = "TEXT";
    static std::string toDatatype(Date v) { return formatDate(v); }
    static std::optional<Date> fromDatatype(const std::string& v) { return parseDate(v); }
};

template <> struct ValueTraits<Uuid> {
    using Datatype = std::string;
    static constexpr std::string_view declaredDatatype = "TEXT";
    static std::string toDatatype(const Uuid& v) { return v.toString(); }
    static std::optional<Uuid> fromDatatype(const std::string& v) { return Uuid::parse(v); }
};

// The binding of a typed value (its stored form).
template <Value V> Binding toBinding(const V& v) {
    return Binding(ValueTraits<V>::toDatatype(v));
}

// As toBinding, moving a text or blob out of `v` instead of copying it.
template <Value V> Binding toBindingMoving(V& v) {
    if constexpr (std::is_same_v<V, std::string> || std::is_same_v<V, Blob>) {
        return Binding(std::move(v));
    } else if constexpr (std::is_same_v<V, Data>) {
        return Binding(Blob(std::move(v)));
    } else {
        return toBinding(v);
    }
}

// From a row's binding to a typed value: nullopt when absent, of another stored type, or
// (dates, UUIDs) unparsable.
template <Value V> std::optional<V> fromBinding(const std::optional<Binding>& b) {
    using D = typename ValueTraits<V>::Datatype;
    if (!b) {
        return std::nullopt;
    }
    const D* d = std::get_if<D>(&*b);
    if (d == nullptr) {
        return std::nullopt;
    }
    return ValueTraits<V>::fromDatatype(*d);
}

// The typed value of a stored value of V's Datatype. Throws QueryError naming `name` where it
// does not convert: valueOutOfRange for an integer too wide for V, unreadableValue for text that
// does not parse.
// The result is never nullopt (an optional only so that rows hand it on without a move).
template <Value V>
std::optional<V> convertStored(const typename ValueTraits<V>::Datatype& d, std::string_view name) {
    std::optional<V> v = ValueTraits<V>::fromDatatype(d);
    if (!v) {
        if constexpr (std::is_integral_v<V>) {
            throw QueryError::valueOutOfRange(std::string(name));
        } else {
            throw QueryError::unreadableValue(std::string(name));
        }
    }
    return v;
}

// The SQL literal of a binding: NULL, 'text' with quotes doubled, x'..', or the number (a
// double always in a form SQLite reads back as REAL: 1.0, 1e+20, 1e999).
std::string literal(const std::optional<Binding>& b);

} // namespace sql
