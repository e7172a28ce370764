// Record types stored as table rows: each declares its fields once, as a constexpr list of
// keys and member pointers that the record coding walks at compile time.
#pragma once

#include <cstddef>
#include <string_view>
#include <tuple>
#include <utility>

namespace sql {

// What an optional field writes while it is absent: no setter at all (the column keeps its
// default), or a setter binding NULL.
enum class Absent { skip, writeNull };

// One field: the column named `key` holds the member.
template <class R, class T> struct Field {
    std::string_view key;
    T R::*member;
    Absent absent = Absent::skip;
};

template <class R, class T>
constexpr Field<R, T> field(std::string_view key, T R::*member, Absent absent = Absent::skip) {
    return {key, member, absent};
}

// A record type is any type for which `sqlFields(const R*)` (found by argument-dependent
// lookup) gives a tuple of its Fields in column order. Declare it by hand where keys differ from
// member names or a field writes NULL while absent:
//     constexpr auto sqlFields(const Screen*) {
//         return std::tuple{sql::field("display_uuid", &Screen::uuid), sql::field("name", &Screen::name)};
//     }
// or with CW_SQL_RECORD(Screen, uuid, name), which names every column after its member.
template <class R>
concept Record = requires(const R* r) {
    sqlFields(r);
};

template <Record R> inline constexpr auto recordFields = sqlFields(static_cast<const R*>(nullptr));

// Calls f(field, index) for every field of R, in column order.
template <Record R, class F> constexpr void forEachField(F&& f) {
    std::apply(
        [&](const auto&... fields) {
            [[maybe_unused]] std::size_t i = 0;
            (f(fields, i++), ...);
        },
        recordFields<R>);
}

} // namespace sql

// CW_SQL_RECORD(Type, member...): declares Type's fields, each stored in the column of its
// member's name. Use it at namespace scope after the type, in the type's namespace.
#define CW_SQL_RECORD(Type, ...)                                                                             \
    [[maybe_unused]] constexpr auto sqlFields(const Type*) {                                                 \
        return std::tuple{CW_SQL_FOR_EACH_FIELD(Type, __VA_ARGS__)};                                         \
    }

// A preprocessor loop over up to 64 members (each rescan level multiplies the steps by four).
#define CW_SQL_PARENS ()
#define CW_SQL_EXPAND(...) CW_SQL_EXPAND3(CW_SQL_EXPAND3(CW_SQL_EXPAND3(CW_SQL_EXPAND3(__VA_ARGS__))))
#define CW_SQL_EXPAND3(...) CW_SQL_EXPAND2(CW_SQL_EXPAND2(CW_SQL_EXPAND2(CW_SQL_EXPAND2(__VA_ARGS__))))
#define CW_SQL_EXPAND2(...) CW_SQL_EXPAND1(CW_SQL_EXPAND1(CW_SQL_EXPAND1(CW_SQL_EXPAND1(__VA_ARGS__))))
#define CW_SQL_EXPAND1(...) __VA_ARGS__
#define CW_SQL_FOR_EACH_FIELD(Type, ...) __VA_OPT__(CW_SQL_EXPAND(CW_SQL_FIELD_STEP(Type, __VA_ARGS__)))
#define CW_SQL_FIELD_STEP(Type, member, ...)                                                                 \
    ::sql::field(#member, &Type::member) __VA_OPT__(, CW_SQL_FIELD_AGAIN CW_SQL_PARENS(Type, __VA_ARGS__))
#define CW_SQL_FIELD_AGAIN() CW_SQL_FIELD_STEP
