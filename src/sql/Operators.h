// C++ operators on typed expressions: arithmetic, bitwise, text concatenation, ranges, and
// compound setters. Comparisons and logic are the named functions of Expression.h.
//
// Each binary operator takes two typed expressions of one value type, or one typed expression
// and a plain value convertible to its value type (bound as "?"). It renders
// "(" + left + " op " + right + ")" with the left's bindings first; the result is nullable
// when either operand is.
#pragma once

#include "sql/Expression.h"
#include "sql/Query.h"

#include <optional>
#include <string>
#include <type_traits>
#include <vector>

namespace sql {

namespace detail {
template <class X>
concept TypedExpression = std::is_base_of_v<Expression<>, X> && requires {
    typename X::UnderlyingType;
};

template <class T> struct StripOptional { using type = T; };
template <class T> struct StripOptional<std::optional<T>> { using type = T; };
template <class X> using ValueOf = typename StripOptional<typename X::UnderlyingType>::type;

// The value type of an operator's operands: the expression operand's (the left one's when both are).
template <class A, class B> using OperandValue = ValueOf<std::conditional_t<TypedExpression<A>, A, B>>;

template <class A, class B> constexpr bool compatibleOperands() {
    if constexpr (TypedExpression<A> && TypedExpression<B>) {
        return std::is_same_v<ValueOf<A>, ValueOf<B>>;
    } else if constexpr (TypedExpression<A>) {
        return !std::is_base_of_v<Expression<>, B> && std::is_constructible_v<ValueOf<A>, const B&>;
    } else if constexpr (TypedExpression<B>) {
        return !std::is_base_of_v<Expression<>, A> && std::is_constructible_v<ValueOf<B>, const A&>;
    } else {
        return false;
    }
}
template <class V> constexpr bool isNumeric = std::is_arithmetic_v<V> && !std::is_same_v<V, bool>;
template <class V> constexpr bool isInteger = std::is_integral_v<V> && !std::is_same_v<V, bool>;

template <class A, class B>
concept NumericOperands = compatibleOperands<A, B>() && isNumeric<OperandValue<A, B>>;
template <class A, class B>
concept IntegerOperands = compatibleOperands<A, B>() && isInteger<OperandValue<A, B>>;
template <class A, class B>
concept AddOperands = NumericOperands<A, B> ||
    (compatibleOperands<A, B>() && std::is_same_v<OperandValue<A, B>, std::string>);

template <class A, class B>
using OperatorResult = std::conditional_t<isNullableOperand<A>() || isNullableOperand<B>(),
                                          std::optional<OperandValue<A, B>>, OperandValue<A, B>>;

// An operand as an expression: a typed expression as it is, a value as "?" bound to it.
template <class V, class X> decltype(auto) operandOf(const X& x) {
    if constexpr (std::is_base_of_v<Expression<>, X>) {
        return static_cast<const Expression<>&>(x);
    } else {
        return Expression<>(valueExpression(static_cast<V>(x)));
    }
}
} // namespace detail

// "(" + left + " " + op + " " + right + ")"; the exclusive or of the two.
Expression<> operatorExpression(const Expression<>& lhs, const Expression<>& rhs, std::string_view op);
// "(~((a & b)) & (a | b))": SQLite has no XOR; binds a, b, a, b.
Expression<> bitwiseXorExpression(const Expression<>& lhs, const Expression<>& rhs);

#define CW_SQL_OPERATOR(symbol, text, concept)                                                               \
    template <class A, class B>                                                                              \
    requires detail::concept<A, B> Expression<detail::OperatorResult<A, B>> operator symbol(const A& lhs,    \
                                                                                            const B& rhs) {  \
        using V = detail::OperandValue<A, B>;                                                                \
        return Expression<detail::OperatorResult<A, B>>(                                                     \
            operatorExpression(detail::operandOf<V>(lhs), detail::operandOf<V>(rhs), text));                 \
    }                                                                                                        \
    template <class A, class B>                                                                              \
    requires(detail::TypedExpression<A> && detail::concept<A, B>) Setter operator symbol##=(const A& column, \
                                                                                            const B& rhs) {  \
        return Setter{column, column symbol rhs};                                                            \
    }

// "+" on text concatenates ("||").
CW_SQL_OPERATOR(+, (std::is_same_v<V, std::string> ? "||" : "+"), AddOperands)
CW_SQL_OPERATOR(-, "-", NumericOperands)
CW_SQL_OPERATOR(*, "*", NumericOperands)
CW_SQL_OPERATOR(/, "/", NumericOperands)
CW_SQL_OPERATOR(%, "%", IntegerOperands)
CW_SQL_OPERATOR(<<, "<<", IntegerOperands)
CW_SQL_OPERATOR(>>, ">>", IntegerOperands)
CW_SQL_OPERATOR(&, "&", IntegerOperands)
CW_SQL_OPERATOR(|, "|", IntegerOperands)
#undef CW_SQL_OPERATOR

template <class A, class B>
requires detail::IntegerOperands<A, B> Expression<detail::OperatorResult<A, B>>
operator^(const A& lhs, const B& rhs) {
    using V = detail::OperandValue<A, B>;
    return Expression<detail::OperatorResult<A, B>>(
        bitwiseXorExpression(detail::operandOf<V>(lhs), detail::operandOf<V>(rhs)));
}
template <class A, class B>
requires(detail::TypedExpression<A>&& detail::IntegerOperands<A, B>) Setter operator^=(const A& column,
                                                                                       const B& rhs) {
    return Setter{column, column ^ rhs};
}

// "-(x)", "~(x)", "NOT (x)".
template <detail::TypedExpression X>
requires detail::isNumeric<detail::ValueOf<X>> Expression<typename X::UnderlyingType>
operator-(const X& x) {
    return Expression<typename X::UnderlyingType>(wrapInFunction("-", x));
}
template <detail::TypedExpression X>
requires detail::isInteger<detail::ValueOf<X>> Expression<typename X::UnderlyingType>
operator~(const X& x) {
    return Expression<typename X::UnderlyingType>(wrapInFunction("~", x));
}
template <detail::TypedExpression X>
requires std::is_same_v < detail::ValueOf<X>,
bool > Expression<typename X::UnderlyingType> operator!(const X& x) {
    return not_(x);
}

// column = (column + 1) / (column - 1), the column read as an integer.
Setter incrementSetter(const Expression<>& column, std::string_view op);
template <detail::TypedExpression X> Setter operator++(const X& column) {
    return incrementSetter(column, "+");
}
template <detail::TypedExpression X> Setter operator++(const X& column, int) {
    return incrementSetter(column, "+");
}
template <detail::TypedExpression X> Setter operator--(const X& column) {
    return incrementSetter(column, "-");
}
template <detail::TypedExpression X> Setter operator--(const X& column, int) {
    return incrementSetter(column, "-");
}

// "(a AND b AND c)" / "(a OR b OR c)"; an empty list gives "()".
Expression<bool> allOf(const std::vector<Expression<bool>>& conditions);
Expression<bool> anyOf(const std::vector<Expression<bool>>& conditions);

// ---- ranges: x BETWEEN ? AND ?, x >= ? AND x < ?, x <= ?, x < ?, x >= ? (no parentheses)
template <class V> struct ClosedRange { V lower, upper; };
template <class V> struct HalfOpenRange { V lower, upper; };
template <class V> struct RangeThrough { V upper; };
template <class V> struct RangeUpTo { V upper; };
template <class V> struct RangeFrom { V lower; };

enum class RangeKind { closed, halfOpen, through, upTo, from };
Expression<> rangeExpression(const Expression<>& x, RangeKind kind, std::optional<Binding>&& lower,
                             std::optional<Binding>&& upper);

template <template <class> class Range, class V, detail::TypedExpression X>
Expression<detail::BoolResult<X, X>> inRange(const Range<V>& range, const X& x) {
    using T = detail::ValueOf<X>;
    std::optional<Binding> lower, upper;
    RangeKind kind{};
    if constexpr (std::is_same_v<Range<V>, ClosedRange<V>> || std::is_same_v<Range<V>, HalfOpenRange<V>>) {
        kind = std::is_same_v<Range<V>, ClosedRange<V>> ? RangeKind::closed : RangeKind::halfOpen;
        lower = toBinding(static_cast<T>(range.lower));
        upper = toBinding(static_cast<T>(range.upper));
    } else if constexpr (std::is_same_v<Range<V>, RangeFrom<V>>) {
        kind = RangeKind::from;
        lower = toBinding(static_cast<T>(range.lower));
    } else {
        kind = std::is_same_v<Range<V>, RangeThrough<V>> ? RangeKind::through : RangeKind::upTo;
        upper = toBinding(static_cast<T>(range.upper));
    }
    return Expression<detail::BoolResult<X, X>>(rangeExpression(x, kind, std::move(lower), std::move(upper)));
}

} // namespace sql
