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

struct sqlite3_context;
struct sqlite3_value;

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

// sqlite3's callbacks of a scalar function and of a collation.
using FunctionCallback = void (*)(sqlite3_context*, int, sqlite3_value**);
using CollationCallback = int (*)(void*, int, const void*, int, const void*);

namespace detail {

// The registration's user data.
void* userData(sqlite3_context* context);
// Fails the SQL call with the message of the exception being handled.
void failCurrentCall(sqlite3_context* context);
// `length` bytes at `p` (none when p is null).
std::string_view textView(const void* p, int length);

// Fails the SQL call: argument `index` (from 0) is NULL or of another stored type than asked.
[[noreturn]] void throwArgumentMismatch(std::size_t index);

// An argument read as a stored type: false for NULL or another storage class (an INTEGER
// also reads as a double).
bool readArgument(sqlite3_value* value, std::int64_t& out);
bool readArgument(sqlite3_value* value, double& out);
bool readArgument(sqlite3_value* value, std::string& out);
bool readArgument(sqlite3_value* value, Blob& out);
// A text without a copy, valid during the call.
bool readArgument(sqlite3_value* value, std::string_view& out);
bool isNullArgument(sqlite3_value* value);
// The result, copied by sqlite3.
void setResult(sqlite3_context* context, std::int64_t value);
void setResult(sqlite3_context* context, double value);
void setResult(sqlite3_context* context, const std::string& value);
void setResult(sqlite3_context* context, const Blob& value);
void setNullResult(sqlite3_context* context);

template <class T> T typedArgument(sqlite3_value* value, std::size_t index) {
    if constexpr (IsOptional<T>::value) {
        if (isNullArgument(value)) {
            return std::nullopt;
        }
        return typedArgument<typename T::value_type>(value, index);
    } else if constexpr (std::is_same_v<T, std::string_view>) {
        std::string_view text;
        if (!readArgument(value, text)) {
            throwArgumentMismatch(index);
        }
        return text;
    } else {
        using D = typename ValueTraits<T>::Datatype;
        D d{};
        if (readArgument(value, d)) {
            if constexpr (std::is_same_v<T, D>) {
                return d;
            } else if (std::optional<T> v = ValueTraits<T>::fromDatatype(d)) {
                return std::move(*v);
            }
        }
        throwArgumentMismatch(index);
    }
}

template <class R> void typedResult(sqlite3_context* context, const R& r) {
    if constexpr (IsOptional<R>::value) {
        if (!r) {
            setNullResult(context);
            return;
        }
        typedResult(context, *r);
    } else {
        setResult(context, ValueTraits<R>::toDatatype(r));
    }
}

// One argument of a call builder: a typed expression (a nullable argument also takes a
// non-null one) or a plain value, bound as "?".
template <class A> struct CallArgument : Expression<A> {
    CallArgument(const Expression<A>& e)
        : Expression<A>(e) {}
    template <class V>
    requires std::is_same_v<A, std::optional<V>> CallArgument(const Expression<V>& e)
        : Expression<A>(e) {}
    template <class U>
    requires(!std::is_base_of_v<Expression<>, U> && std::is_constructible_v<A, const U&>)
        CallArgument(const U& value)
        : Expression<A>(valueExpression(A(value))) {}
};

// Renders a call of a registered function: the quoted name and its arguments in order.
template <class R, class... A> struct FunctionCall {
    std::string quotedName;
    Expression<R> operator()(const CallArgument<A>&... arguments) const {
        return Expression<R>(call(quotedName, static_cast<const Expression<>&>(arguments)...));
    }
};

// A text argument taken as std::string_view is given a text expression.
template <class A> struct ArgumentExpression { using type = A; };
template <> struct ArgumentExpression<std::string_view> { using type = std::string; };
template <> struct ArgumentExpression<std::optional<std::string_view>> {
    using type = std::optional<std::string>;
};

template <class F> struct Signature : Signature<decltype(&F::operator())> {};
template <class R, class... A> struct Signature<R (*)(A...)> {
    using Result = std::remove_cvref_t<R>;
    using Arguments = std::tuple<std::remove_cvref_t<A>...>;
    using Call = FunctionCall<Result, typename ArgumentExpression<std::remove_cvref_t<A>>::type...>;
    static constexpr std::size_t arity = sizeof...(A);
};
template <class R, class... A> struct Signature<R(A...)> : Signature<R (*)(A...)> {};
template <class C, class R, class... A> struct Signature<R (C::*)(A...)> : Signature<R (*)(A...)> {};
template <class C, class R, class... A> struct Signature<R (C::*)(A...) const> : Signature<R (*)(A...)> {};
template <class C, class R, class... A> struct Signature<R (C::*)(A...) noexcept> : Signature<R (*)(A...)> {};
template <class C, class R, class... A>
struct Signature<R (C::*)(A...) const noexcept> : Signature<R (*)(A...)> {};

// The function adapter of a typed callable F, which is the user data: reads the arguments and
// sets the result itself, with no list of bindings in between; a throw fails the call.
template <class F> void callTyped(sqlite3_context* context, int, sqlite3_value** values) {
    using Arguments = typename Signature<F>::Arguments;
    F& function = *static_cast<F*>(userData(context));
    try {
        [&]<std::size_t... I>(std::index_sequence<I...>) {
            typedResult(context,
                        function(typedArgument<std::tuple_element_t<I, Arguments>>(values[I], I)...));
        }
        (std::make_index_sequence<std::tuple_size_v<Arguments>>());
    } catch (...) {
        failCurrentCall(context);
    }
}

// The collation adapter of a comparator F: the two texts of exactly the given lengths; any
// ordering clamped to -1, 0, 1; a throw compares as equal (nothing may unwind through sqlite3).
template <class F> int compareWith(void* comparator, int lengthA, const void* a, int lengthB, const void* b) {
    try {
        const auto order = (*static_cast<F*>(comparator))(textView(a, lengthA), textView(b, lengthB));
        return order < 0 ? -1 : (order > 0 ? 1 : 0);
    } catch (...) {
        return 0;
    }
}

} // namespace detail
} // namespace sql
