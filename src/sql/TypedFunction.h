// Typed SQL functions: SQL values to and from the types of a C++ callable, and the call builder.
#pragma once

#include "sql/Expression.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

namespace sql {

// An untyped SQL function: the call's arguments (nullopt for NULL) to its result.
using SqlFunction = std::function<std::optional<Binding>(const Bindings&)>;

// name + "(" + the arguments joined with ", " + ")", bindings in argument order.
Expression<> callExpression(std::string_view name, std::span<const Expression<>* const> arguments);
template <class... E> Expression<> call(std::string_view name, const E&... arguments) {
    if constexpr (sizeof...(E) == 0) {
        return callExpression(name, {});
    } else {
        const Expression<>* list[] = {&arguments...};
        return callExpression(name, list);
    }
}

namespace detail {

// Fails the SQL call: argument `index` (from 0) is NULL or of another stored type than asked.
[[noreturn]] void throwArgumentMismatch(std::size_t index);

template <class T> T typedArgument(const std::optional<Binding>& b, std::size_t index) {
    if constexpr (IsOptional<T>::value) {
        if (!b) {
            return std::nullopt;
        }
        return typedArgument<typename T::value_type>(b, index);
    } else {
        using D = typename ValueTraits<T>::Datatype;
        if (b) {
            if constexpr (std::is_same_v<D, double>) {
                if (const auto* i = std::get_if<std::int64_t>(&*b)) { // 2 where 2.0 is expected
                    return static_cast<double>(*i);
                }
            }
            if (const D* d = std::get_if<D>(&*b)) {
                if (std::optional<T> v = ValueTraits<T>::fromDatatype(*d)) {
                    return std::move(*v);
                }
            }
        }
        throwArgumentMismatch(index);
    }
}

template <class R> std::optional<Binding> typedResult(R&& r) {
    using T = std::remove_cvref_t<R>;
    if constexpr (IsOptional<T>::value) {
        return r ? std::optional<Binding>(toBinding(*r)) : std::nullopt;
    } else {
        return toBinding(r);
    }
}

// Renders a call of a registered function: the quoted name and one typed expression per
// argument (an optional argument takes a nullable or a plain expression).
template <class R, class... A> struct FunctionCall {
    std::string quotedName;
    Expression<R> operator()(const Expression<A>&... arguments) const {
        return Expression<R>(call(quotedName, static_cast<const Expression<>&>(arguments)...));
    }
};

template <class F> struct Signature : Signature<decltype(&F::operator())> {};
template <class R, class... A> struct Signature<R (*)(A...)> {
    using Result = std::remove_cvref_t<R>;
    using Arguments = std::tuple<std::remove_cvref_t<A>...>;
    using Call = FunctionCall<Result, std::remove_cvref_t<A>...>;
    static constexpr std::size_t arity = sizeof...(A);
};
template <class R, class... A> struct Signature<R(A...)> : Signature<R (*)(A...)> {};
template <class C, class R, class... A> struct Signature<R (C::*)(A...)> : Signature<R (*)(A...)> {};
template <class C, class R, class... A> struct Signature<R (C::*)(A...) const> : Signature<R (*)(A...)> {};
template <class C, class R, class... A> struct Signature<R (C::*)(A...) noexcept> : Signature<R (*)(A...)> {};
template <class C, class R, class... A>
struct Signature<R (C::*)(A...) const noexcept> : Signature<R (*)(A...)> {};

template <class F> SqlFunction typedFunction(F function) {
    using Arguments = typename Signature<F>::Arguments;
    return [function = std::move(function)](const Bindings& args) mutable -> std::optional<Binding> {
        return [&]<std::size_t... I>(std::index_sequence<I...>) {
            return typedResult(function(typedArgument<std::tuple_element_t<I, Arguments>>(args[I], I)...));
        }
        (std::make_index_sequence<std::tuple_size_v<Arguments>>());
    };
}

} // namespace detail
} // namespace sql
