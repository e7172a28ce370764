// Typed builders of SQLite's core functions, pattern operators, aggregates and date and time
// functions. Plain values are bound as "?"; a nullable receiver gives a nullable result.
#pragma once

#include "sql/Operators.h"
#include "sql/TypedFunction.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sql {

// A COLLATE sequence: BINARY, NOCASE, RTRIM, or a registered name (quoted as an identifier).
class Collation {
public:
    static Collation binary() { return Collation("BINARY"); }
    static Collation nocase() { return Collation("NOCASE"); }
    static Collation rtrim() { return Collation("RTRIM"); }
    static Collation custom(std::string_view name) { return Collation(quote(name, '"')); }

    const std::string& description() const { return text_; }
    Expression<> expression() const { return Expression<>(text_); }
    bool operator==(const Collation&) const = default;

private:
    explicit Collation(std::string text)
        : text_(std::move(text)) {}
    std::string text_;
};

namespace detail {
// X's underlying type with its value type replaced by R (nullable stays nullable).
template <class X, class R>
using SameNullability = std::conditional_t<isNullableOperand<X>(), std::optional<R>, R>;
template <class X> using Same = typename X::UnderlyingType;

inline std::optional<Binding> optionalText(const std::optional<std::string>& s) {
    return s ? std::optional<Binding>(Binding(*s)) : std::nullopt;
}
} // namespace detail

// ---- the non-template core (CoreFunctions.cpp)
// name(x) / name(x, ?) when `argument` is present.
Expression<> callWithOptional(std::string_view name, const Expression<>& x,
                              std::optional<Binding>&& argument);
// name(x, ?, ?).
Expression<> callWithTwo(std::string_view name, const Expression<>& x, std::optional<Binding>&& a,
                         std::optional<Binding>&& b);
// (x LIKE p) or (x LIKE p ESCAPE ?).
Expression<> likeExpression(const Expression<>& x, const Expression<>& pattern, std::optional<char> escape);
// (x IN (?, ?, ...)).
Expression<> inExpression(const Expression<>& x, std::vector<Binding>&& values);

// ---- scalar functions
template <detail::TypedExpression X>
requires detail::isNumeric<detail::ValueOf<X>> Expression<detail::Same<X>> abs(const X& x) {
    return Expression<detail::Same<X>>(call("abs", x));
}
// round(x) or round(x, ?).
template <detail::TypedExpression X>
requires std::is_same_v < detail::ValueOf<X>,
double > Expression<detail::Same<X>> round(const X& x, std::optional<std::int64_t> precision = std::nullopt) {
    return Expression<detail::Same<X>>(
        callWithOptional("round", x, precision ? std::optional<Binding>(*precision) : std::nullopt));
}
Expression<std::int64_t> randomInteger();
Expression<Blob> randomblob(std::int64_t length);
Expression<Blob> zeroblob(std::int64_t length);

template <detail::TypedExpression X> Expression<detail::SameNullability<X, std::int64_t>> length(const X& x) {
    return Expression<detail::SameNullability<X, std::int64_t>>(call("length", x));
}
template <class X>
concept TextExpression = detail::TypedExpression<X> && std::is_same_v<detail::ValueOf<X>, std::string>;

template <TextExpression X> Expression<detail::Same<X>> lower(const X& x) {
    return Expression<detail::Same<X>>(call("lower", x));
}
template <TextExpression X> Expression<detail::Same<X>> upper(const X& x) {
    return Expression<detail::Same<X>>(call("upper", x));
}
// trim(x) or trim(x, ?) binding the characters to remove as one text.
template <TextExpression X>
Expression<detail::Same<X>> ltrim(const X& x, const std::optional<std::string>& characters = std::nullopt) {
    return Expression<detail::Same<X>>(callWithOptional("ltrim", x, detail::optionalText(characters)));
}
template <TextExpression X>
Expression<detail::Same<X>> rtrim(const X& x, const std::optional<std::string>& characters = std::nullopt) {
    return Expression<detail::Same<X>>(callWithOptional("rtrim", x, detail::optionalText(characters)));
}
template <TextExpression X>
Expression<detail::Same<X>> trim(const X& x, const std::optional<std::string>& characters = std::nullopt) {
    return Expression<detail::Same<X>>(callWithOptional("trim", x, detail::optionalText(characters)));
}
template <TextExpression X>
Expression<detail::Same<X>> replace(const X& x, const std::string& pattern, const std::string& replacement) {
    return Expression<detail::Same<X>>(callWithTwo("replace", x, pattern, replacement));
}
// substr(x, ?) or substr(x, ?, ?).
template <TextExpression X>
Expression<detail::Same<X>> substr(const X& x, std::int64_t start,
                                   std::optional<std::int64_t> length = std::nullopt) {
    if (!length) {
        return Expression<detail::Same<X>>(callWithOptional("substr", x, Binding(start)));
    }
    return Expression<detail::Same<X>>(callWithTwo("substr", x, Binding(start), Binding(*length)));
}
// [lower, upper): substr(x, lower, upper - lower).
template <TextExpression X>
Expression<detail::Same<X>> substr(const X& x, const HalfOpenRange<std::int64_t>& r) {
    return substr(x, r.lower, r.upper - r.lower);
}
// ifnull(x, ?) and ifnull(x, y): non-null unless y is nullable.
template <class V>
Expression<V> ifnull(const Expression<std::optional<V>>& x, const std::type_identity_t<V>& value) {
    return Expression<V>(call("ifnull", x, valueExpression(value)));
}
template <class V> Expression<V> ifnull(const Expression<std::optional<V>>& x, const Expression<V>& y) {
    return Expression<V>(call("ifnull", x, y));
}
template <class V>
Expression<std::optional<V>> ifnull(const Expression<std::optional<V>>& x,
                                    const Expression<std::optional<V>>& y) {
    return Expression<std::optional<V>>(call("ifnull", x, y));
}

// ---- pattern operators (Boolean, nullable with a nullable receiver)
template <TextExpression X>
Expression<detail::BoolResult<X, X>> like(const X& x, const std::string& pattern,
                                          std::optional<char> escape = std::nullopt) {
    return Expression<detail::BoolResult<X, X>>(likeExpression(x, valueExpression(pattern), escape));
}
template <TextExpression X, TextExpression P>
Expression<detail::BoolResult<X, P>> like(const X& x, const P& pattern,
                                          std::optional<char> escape = std::nullopt) {
    return Expression<detail::BoolResult<X, P>>(likeExpression(x, pattern, escape));
}
template <TextExpression P>
Expression<detail::BoolResult<P, P>> like(const std::string& value, const P& pattern,
                                          std::optional<char> escape = std::nullopt) {
    return Expression<detail::BoolResult<P, P>>(likeExpression(valueExpression(value), pattern, escape));
}
#define CW_SQL_PATTERN(name, keyword)                                                                        \
    template <TextExpression X>                                                                              \
    Expression<detail::BoolResult<X, X>> name(const X& x, const std::string& pattern) {                      \
        return infixExpression<detail::BoolResult<X, X>>(x, valueExpression(pattern), keyword, true);        \
    }
CW_SQL_PATTERN(glob, "GLOB")
CW_SQL_PATTERN(match, "MATCH")
CW_SQL_PATTERN(regexp, "REGEXP")
#undef CW_SQL_PATTERN
// (x COLLATE c): the receiver's type.
template <TextExpression X> Expression<detail::Same<X>> collate(const X& x, const Collation& collation) {
    return infixExpression<detail::Same<X>>(x, collation.expression(), "COLLATE", true);
}
// (x IN (?, ?, ...)), bound in the list's order; an empty list gives (x IN ()).
template <detail::TypedExpression X>
Expression<detail::BoolResult<X, X>> in(const X& x, const std::vector<detail::ValueOf<X>>& values) {
    std::vector<Binding> b;
    b.reserve(values.size());
    for (const auto& v : values) {
        b.push_back(toBinding(v));
    }
    return Expression<detail::BoolResult<X, X>>(inExpression(x, std::move(b)));
}

// ---- aggregates
// "DISTINCT " + x, for count(distinct(x)) and the like.
template <detail::TypedExpression X> X distinct(const X& x) {
    return X(Expression<>("DISTINCT " + x.templateText, x.bindings));
}
template <detail::TypedExpression X> Expression<std::int64_t> count(const X& x) {
    return Expression<std::int64_t>(call("count", x));
}
// count(*).
Expression<std::int64_t> countStar();
// NULL over no rows: nullable whatever the receiver.
template <detail::TypedExpression X> Expression<std::optional<detail::ValueOf<X>>> max(const X& x) {
    return Expression<std::optional<detail::ValueOf<X>>>(call("max", x));
}
template <detail::TypedExpression X> Expression<std::optional<detail::ValueOf<X>>> min(const X& x) {
    return Expression<std::optional<detail::ValueOf<X>>>(call("min", x));
}
template <detail::TypedExpression X>
requires detail::isNumeric<detail::ValueOf<X>> Expression<std::optional<detail::ValueOf<X>>> sum(const X& x) {
    return Expression<std::optional<detail::ValueOf<X>>>(call("sum", x));
}
template <detail::TypedExpression X>
requires detail::isNumeric<detail::ValueOf<X>> Expression<std::optional<double>> avg(const X& x) {
    return Expression<std::optional<double>>(call("avg", x));
}
// 0.0 over no rows.
template <detail::TypedExpression X>
requires detail::isNumeric<detail::ValueOf<X>> Expression<double> total(const X& x) {
    return Expression<double>(call("total", x));
}

// ---- date and time. SQLite answers text ("2024-03-05 14:07:09") or, for julianday, a
// number; NULL for what it cannot read. Every argument is bound.
struct DateFunctions {
    static Expression<std::optional<std::string>> date(std::string timeString,
                                                       const std::vector<std::string>& modifiers = {});
    static Expression<std::optional<std::string>> time(std::string timeString,
                                                       const std::vector<std::string>& modifiers = {});
    static Expression<std::optional<std::string>> datetime(std::string timeString,
                                                           const std::vector<std::string>& modifiers = {});
    static Expression<std::optional<double>> julianday(std::string timeString,
                                                       const std::vector<std::string>& modifiers = {});
    static Expression<std::optional<std::string>> strftime(std::string format, std::string timeString,
                                                           const std::vector<std::string>& modifiers = {});
    // Of a date value, bound as its stored text.
    static Expression<std::optional<std::string>> date(Date value);
    static Expression<std::optional<std::string>> time(Date value);
    static Expression<std::optional<std::string>> datetime(Date value);
    static Expression<std::optional<double>> julianday(Date value);
    // Of an expression: date(x) and so on, x's bindings kept.
    static Expression<std::optional<std::string>> date(const Expression<>& x);
    static Expression<std::optional<std::string>> time(const Expression<>& x);
    static Expression<std::optional<std::string>> datetime(const Expression<>& x);
    static Expression<std::optional<double>> julianday(const Expression<>& x);
};

} // namespace sql
