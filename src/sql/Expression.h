// SQL fragments: a template with "?" placeholders and the values that fill them, in order.
#pragma once

#include "sql/Value.h"

#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace sql {

template <class T = void> struct Expression;

// The untyped expression, base of every typed one, so the non-template core of rendering
// takes `const Expression<>&` without copying.
//
// Invariant kept by every builder: one binding per "?" the template contributes, in order.
template <> struct Expression<void> {
    std::string templateText;
    Bindings bindings;

    // Provided, not defaulted: a value-initialized expression would otherwise zero the
    // bindings' inline storage before constructing it.
    Expression() noexcept {}
    explicit Expression(std::string text, Bindings b = {})
        : templateText(std::move(text))
        , bindings(std::move(b)) {}

    // The SQL with every "?" replaced by the literal of the next binding (a "?" with no binding
    // left stays as it is).
    std::string asSQL() const;
};

// A typed expression. A nullable one is Expression<std::optional<V>>; Expression<V> widens to
// it implicitly; any other re-typing is explicit and keeps template and bindings.
template <class T> struct Expression : Expression<void> {
    using UnderlyingType = T;

    Expression() noexcept {}
    explicit Expression(std::string text, Bindings b = {})
        : Expression<void>(std::move(text), std::move(b)) {}
    explicit Expression(const Expression<void>& e)
        : Expression<void>(e) {}
    explicit Expression(Expression<void>&& e)
        : Expression<void>(std::move(e)) {}
    template <class U>
    requires std::is_same_v<T, std::optional<U>> Expression(const Expression<U>& e)
        : Expression<void>(e) {}

    // A column (or any name): the identifier quoted with double quotes, no bindings.
    static Expression identifier(std::string_view name);
};

// `mark` + text with every mark doubled + `mark`.
std::string quote(std::string_view text, char mark = '"');

template <class T> Expression<T> Expression<T>::identifier(std::string_view name) {
    return Expression<T>(quote(name, '"'));
}

// A column of value type T named `name` (Expression<T>::identifier).
template <class T> Expression<T> column(std::string_view name) {
    return Expression<T>::identifier(name);
}

// "*", no bindings: selects every column.
Expression<> starExpression();
// The quoted word ROWID.
const Expression<std::int64_t>& rowidExpression();

// "?" bound to `b` (moved in: a braced list would copy texts and blobs once more).
Expression<> placeholderExpression(std::optional<Binding>&& b);

// "?" bound to the value's stored form (NULL for an absent optional).
template <Value V> Expression<V> valueExpression(const V& v) {
    return Expression<V>(placeholderExpression(toBinding(v)));
}
template <Value V> Expression<std::optional<V>> valueExpression(const std::optional<V>& v) {
    return Expression<std::optional<V>>(
        placeholderExpression(v ? std::optional<Binding>(toBinding(*v)) : std::nullopt));
}

// ---- combining (templates joined, bindings concatenated in order)

Expression<> joinExpressions(const std::vector<Expression<>>& list, std::string_view separator);
// name + "(" + template + ")"; an empty name gives plain parentheses.
Expression<> wrapInFunction(std::string_view name, const Expression<>& e);
// left + " " + op + " " + right, in parentheses when `wrap`.
Expression<> binaryExpression(const Expression<>& lhs, const Expression<>& rhs, std::string_view op,
                              bool wrap);

template <class R>
Expression<R> infixExpression(const Expression<>& lhs, const Expression<>& rhs, std::string_view op,
                              bool wrap) {
    return Expression<R>(binaryExpression(lhs, rhs, op, wrap));
}

// "(" + left + " AND " + right + ")".
Expression<std::optional<bool>> andExpression(const Expression<std::optional<bool>>& lhs,
                                              const Expression<std::optional<bool>>& rhs);

// Ordering terms: template + " ASC" / " DESC".
Expression<> asc(const Expression<>& e);
Expression<> desc(const Expression<>& e);

// "CAST (" + template + " AS " + V's declared type + ")".
Expression<> castExpression(const Expression<>& e, std::string_view declaredDatatype);
template <Value V> Expression<V> cast(const Expression<>& e) {
    return Expression<V>(castExpression(e, ValueTraits<V>::declaredDatatype));
}

// ---- comparison and logic, as named functions (operators would clash with C++ comparison).
// Operands are typed expressions or plain values; the result is nullable when either is.

namespace detail {
template <class X> constexpr bool isNullableOperand() {
    if constexpr (requires { typename X::UnderlyingType; }) {
        return IsOptional<typename X::UnderlyingType>::value;
    } else {
        return false;
    }
}
template <class A, class B>
using BoolResult =
    std::conditional_t<isNullableOperand<A>() || isNullableOperand<B>(), std::optional<bool>, bool>;

inline const Expression<>& operand(const Expression<>& e) {
    return e;
}
inline Expression<> operand(const char* s) {
    return valueExpression(std::string(s));
}
template <Value V> Expression<> operand(const V& v) {
    return valueExpression(v);
}

// An optional value as an operand of an equality: its stored form, or NULL when absent.
template <class T> constexpr bool isOptionalValue = IsOptional<T>::value || std::is_same_v<T, std::nullopt_t>;
template <Value V> std::optional<Binding> optionalBinding(const std::optional<V>& v) {
    return v ? std::optional<Binding>(toBinding(*v)) : std::nullopt;
}
inline std::optional<Binding> optionalBinding(std::nullopt_t) {
    return std::nullopt;
}
} // namespace detail

enum class ValueSide { left, right };
// An expression against an optional value bound to "?": `op` when the value is present, else
// `absentOp` ("IS" or "IS NOT"), with which an absent value matches NULL, as "=" never does.
// The value keeps its side: "(x IS ?)" or "(? IS x)".
Expression<> optionalComparison(const Expression<>& e, std::optional<Binding>&& value, ValueSide side,
                                std::string_view op, std::string_view absentOp);

#define CW_SQL_COMPARISON(name, op)                                                                          \
    template <class A, class B> Expression<detail::BoolResult<A, B>> name(const A& lhs, const B& rhs) {      \
        return infixExpression<detail::BoolResult<A, B>>(detail::operand(lhs), detail::operand(rhs), op,     \
                                                         true);                                              \
    }
CW_SQL_COMPARISON(lt, "<")
CW_SQL_COMPARISON(le, "<=")
CW_SQL_COMPARISON(gt, ">")
CW_SQL_COMPARISON(ge, ">=")
CW_SQL_COMPARISON(and_, "AND")
CW_SQL_COMPARISON(or_, "OR")
#undef CW_SQL_COMPARISON

// Equality and IS: a plain optional value or std::nullopt as one operand renders IS (IS NOT)
// when it is absent; the result's nullability follows the expression operand.
#define CW_SQL_EQUALITY(name, op, absentOp)                                                                  \
    template <class A, class B> auto name(const A& lhs, const B& rhs) {                                      \
        if constexpr (detail::isOptionalValue<B>) {                                                          \
            return Expression<detail::BoolResult<A, A>>(                                                     \
                optionalComparison(lhs, detail::optionalBinding(rhs), ValueSide::right, op, absentOp));      \
        } else if constexpr (detail::isOptionalValue<A>) {                                                   \
            return Expression<detail::BoolResult<B, B>>(                                                     \
                optionalComparison(rhs, detail::optionalBinding(lhs), ValueSide::left, op, absentOp));       \
        } else {                                                                                             \
            return infixExpression<detail::BoolResult<A, B>>(detail::operand(lhs), detail::operand(rhs), op, \
                                                             true);                                          \
        }                                                                                                    \
    }
CW_SQL_EQUALITY(eq, "=", "IS")
CW_SQL_EQUALITY(ne, "!=", "IS NOT")
CW_SQL_EQUALITY(is_, "IS", "IS")
CW_SQL_EQUALITY(isNot, "IS NOT", "IS NOT")
#undef CW_SQL_EQUALITY

// "NOT (" + template + ")".
Expression<> notExpression(const Expression<>& e);
template <class T> Expression<T> not_(const Expression<T>& e) {
    return Expression<T>(notExpression(e));
}

} // namespace sql
