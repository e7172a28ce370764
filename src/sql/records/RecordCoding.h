// Records to setters and rows to records: INSERT, multi-row INSERT, upsert and UPDATE
// statements built from records, and rows read back into them.
//
// One field is one column (Record.h). Field types:
//   bool, std::int64_t, double, float (widened), std::string    INTEGER, REAL, TEXT
//   Data, Blob                                                 BLOB
//   Date, Uuid                                                 their stored texts
//   std::optional of any of these                              skipped or NULL while absent
//   integers of other widths (int, std::int8_t, unsigned...)   refused: CodingError
//   anything else                                              JSON text (nlohmann-json's
//                                                              to_json / from_json)
// Stateless; runs on the caller's thread. Statements are run by the caller.
#pragma once

#include "sql/Query.h"
#include "sql/Row.h"
#include "sql/records/CodingError.h"
#include "sql/records/Record.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace sql {

namespace records {

// The quoted column of each key, in order.
std::vector<Expression<>> quotedColumns(std::initializer_list<std::string_view> keys);
[[noreturn]] void refuseEncoding(std::string_view typeName);
[[noreturn]] void refuseDecoding(std::string_view typeName);
// The column's TEXT (exact key, else the one key ending in "." + column); throws CodingError
// where it holds anything else.
const std::string& jsonText(const Row& row, const Expression<>& column);
// Whether the row has the column under exactly its key, holding a value other than NULL.
bool hasValue(const Row& row, const Expression<>& column);
[[noreturn]] void throwUnexpectedNull(const Expression<>& column);
// Appends column = "?" bound to `value`, built in place.
void addSetter(std::vector<Setter>& out, const Expression<>& column, std::optional<Binding>&& value);

// This thread's setter list, reused from statement to statement so that a record's statement
// allocates no list of its own; a nested use gets a fresh list. Empty when made.
class SetterBuffer {
public:
    SetterBuffer();
    ~SetterBuffer();
    SetterBuffer(const SetterBuffer&) = delete;
    SetterBuffer& operator=(const SetterBuffer&) = delete;
    std::vector<Setter>& setters() { return setters_; }

private:
    std::vector<Setter> setters_;
};

// The name under which an integer type that records do not hold is refused; empty for every
// other type. Stored integers are 64 bits wide: records hold them as std::int64_t.
template <class T> constexpr std::string_view refusedIntegerName() {
    if constexpr (!std::is_integral_v<T> || std::is_same_v<T, bool>) {
        return {};
    } else if constexpr (std::is_signed_v<T>) {
        return sizeof(T) == 8 ? "" : sizeof(T) == 1 ? "Int8" : sizeof(T) == 2 ? "Int16" : "Int32";
    } else if constexpr (std::is_same_v<T, unsigned long long> && !std::is_same_v<T, std::uint64_t>) {
        return "UInt";
    } else {
        return sizeof(T) == 1 ? "UInt8" : sizeof(T) == 2 ? "UInt16" : sizeof(T) == 4 ? "UInt32" : "UInt64";
    }
}

enum class Kind { value, real32, integer64, refused, json };
template <class T> constexpr Kind kindOf() {
    if constexpr (!refusedIntegerName<T>().empty()) {
        return Kind::refused;
    } else if constexpr (std::is_same_v<T, float>) {
        return Kind::real32;
    } else if constexpr (std::is_integral_v<T> && !std::is_same_v<T, bool> && !Value<T>) {
        return Kind::integer64; // long long beside std::int64_t
    } else if constexpr (Value<T>) {
        return Kind::value;
    } else {
        return Kind::json;
    }
}

template <class T> std::optional<Binding> encodeValue(const T& v) {
    constexpr Kind kind = kindOf<T>();
    if constexpr (kind == Kind::refused) {
        refuseEncoding(refusedIntegerName<T>());
    } else if constexpr (kind == Kind::real32) {
        return Binding(static_cast<double>(v));
    } else if constexpr (kind == Kind::integer64) {
        return Binding(static_cast<std::int64_t>(v));
    } else if constexpr (kind == Kind::value) {
        return toBinding(v);
    } else {
        return Binding(nlohmann::json(v).dump());
    }
}

template <class T>
void encodeField(std::vector<Setter>& out, const Expression<>& column, const T& v, Absent absent,
                 Absent forcing) {
    if constexpr (detail::IsOptional<T>::value) {
        if (v) {
            addSetter(out, column, encodeValue(*v));
        } else if (absent == Absent::writeNull ||
                   (forcing == Absent::writeNull && kindOf<typename T::value_type>() != Kind::refused)) {
            addSetter(out, column, std::nullopt);
        }
    } else {
        addSetter(out, column, encodeValue(v));
    }
}

// A value of V's stored type under the column, converted; NULL or another stored type throws
// unexpectedNullValue.
template <Value V> V readStored(const Row& row, const Expression<>& column) {
    using D = typename ValueTraits<V>::Datatype;
    const std::optional<Binding>& b = row.valueFor(column);
    const D* d = b ? std::get_if<D>(&*b) : nullptr;
    if (d == nullptr) {
        throwUnexpectedNull(column);
    }
    return std::move(*convertStored<V>(*d, column.templateText));
}

template <class T> void decodeValue(const Row& row, const Expression<>& column, T& out) {
    constexpr Kind kind = kindOf<T>();
    if constexpr (kind == Kind::refused) {
        refuseDecoding(refusedIntegerName<T>());
    } else if constexpr (kind == Kind::real32) {
        out = static_cast<float>(readStored<double>(row, column));
    } else if constexpr (kind == Kind::integer64) {
        out = readStored<std::int64_t>(row, column);
    } else if constexpr (kind == Kind::value) {
        out = readStored<T>(row, column);
    } else {
        nlohmann::json::parse(jsonText(row, column)).get_to(out);
    }
}

template <class T> void decodeField(const Row& row, const Expression<>& column, T& out) {
    if constexpr (detail::IsOptional<T>::value) {
        if (!hasValue(row, column)) {
            out.reset();
            return;
        }
        if (!out) {
            out.emplace();
        }
        decodeValue(row, column, *out);
    } else {
        decodeValue(row, column, out);
    }
}

template <Record R> const std::vector<Expression<>>& columnsOf() {
    static const std::vector<Expression<>> columns =
        std::apply([](const auto&... f) { return quotedColumns({f.key...}); }, recordFields<R>);
    return columns;
}

// Appends the setters of record `index` of `records` to `out`.
using EncodeAt = void (*)(const void* records, std::size_t index, Absent forcing, std::vector<Setter>& out);
Insert insertMany(const QueryClauses& c, const void* records, std::size_t count, EncodeAt encode,
                  const std::vector<Setter>& otherSetters);

} // namespace records

// Appends the record's setters to `out`, in field order. `forcing` writeNull makes every absent
// optional field a NULL setter (except refused integer types). Throws CodingError for a refused
// integer type and nlohmann-json's errors for a value it cannot write; `out` then holds the
// setters of the fields before it.
template <Record R>
void encodeRecordInto(const R& record, std::vector<Setter>& out, Absent forcing = Absent::skip) {
    const std::vector<Expression<>>& columns = records::columnsOf<R>();
    out.reserve(out.size() + columns.size());
    forEachField<R>([&](const auto& field, std::size_t i) {
        records::encodeField(out, columns[i], record.*field.member, field.absent, forcing);
    });
}

template <Record R> std::vector<Setter> encodeRecord(const R& record, Absent forcing = Absent::skip) {
    std::vector<Setter> out;
    encodeRecordInto(record, out, forcing);
    return out;
}

// Reads every field from the column of its key: optional fields are absent when the row has no
// column under exactly that key or it is NULL; other fields take the exact key, else the one key
// ending in "." + key. Throws QueryError (noSuchColumn, ambiguousColumn, unexpectedNullValue
// naming the quoted key, unreadableValue, valueOutOfRange), CodingError, and nlohmann-json's
// errors for JSON text it cannot read.
template <Record R> void decodeRecordInto(const Row& row, R& record) {
    const std::vector<Expression<>>& columns = records::columnsOf<R>();
    forEachField<R>([&](const auto& field, std::size_t i) {
        records::decodeField(row, columns[i], record.*field.member);
    });
}

template <Record R> R decodeRecord(const Row& row) {
    R record{};
    decodeRecordInto(row, record);
    return record;
}

// ---- statements. Each encodes its records first; an encoding error leaves nothing built.
// `otherSetters` follow the record's own setters.

namespace records {
// `build` of the record's setters followed by `otherSetters`.
template <Record R, class Build>
auto withSetters(const R& record, const std::vector<Setter>& otherSetters, Build build) {
    SetterBuffer buffer;
    std::vector<Setter>& setters = buffer.setters();
    encodeRecordInto(record, setters);
    setters.insert(setters.end(), otherSetters.begin(), otherSetters.end());
    return build(setters);
}
} // namespace records

template <class Q, Record R>
Insert insertRecord(const QueryType<Q>& query, const R& record,
                    const std::vector<Setter>& otherSetters = {}) {
    return records::withSetters(record, otherSetters, [&](std::vector<Setter>& setters) {
        return query::insert(query.clauses, std::nullopt, std::span<Setter>(setters));
    });
}

template <class Q, Record R>
Insert insertRecord(const QueryType<Q>& query, OnConflict onConflict, const R& record,
                    const std::vector<Setter>& otherSetters = {}) {
    return records::withSetters(record, otherSetters, [&](std::vector<Setter>& setters) {
        return query::insert(query.clauses, onConflict, std::span<Setter>(setters));
    });
}

// One statement for all records. When the records give different numbers of setters, every
// absent optional field writes NULL, so that all rows name the same columns; rows that still
// name different columns (the same number of setters, other fields absent) are refused with
// Result. No records give an empty statement that runs as nothing.
template <class Q, Record R>
Insert insertRecords(const QueryType<Q>& query, std::span<const R> list,
                     const std::vector<Setter>& otherSetters = {}) {
    return records::insertMany(
        query.clauses, list.data(), list.size(),
        [](const void* p, std::size_t i, Absent forcing, std::vector<Setter>& out) {
            encodeRecordInto(static_cast<const R*>(p)[i], out, forcing);
        },
        otherSetters);
}
template <class Q, Record R>
Insert insertRecords(const QueryType<Q>& query, const std::vector<R>& list,
                     const std::vector<Setter>& otherSetters = {}) {
    return insertRecords(query, std::span<const R>(list), otherSetters);
}

// INSERT ... ON CONFLICT (target) DO UPDATE SET every column but the target from "excluded".
template <class Q, Record R>
Insert upsertRecord(const QueryType<Q>& query, const R& record, const Expression<>& conflictTarget,
                    const std::vector<Setter>& otherSetters = {}) {
    return records::withSetters(record, otherSetters, [&](const std::vector<Setter>& setters) {
        return query::upsertDerived(query.clauses, setters, conflictTarget);
    });
}

// UPDATE with the query's WHERE, ORDER BY and LIMIT.
template <class Q, Record R>
Update updateRecord(const QueryType<Q>& query, const R& record,
                    const std::vector<Setter>& otherSetters = {}) {
    return records::withSetters(record, otherSetters, [&](const std::vector<Setter>& setters) {
        return query::update(query.clauses, setters);
    });
}

} // namespace sql
