#include "sql/CoreFunctions.h"

namespace sql {

Expression<> callWithOptional(std::string_view name, const Expression<>& x,
                              std::optional<Binding>&& argument) {
    if (!argument) {
        return call(name, x);
    }
    return call(name, x, placeholderExpression(std::move(argument)));
}

Expression<> callWithTwo(std::string_view name, const Expression<>& x, std::optional<Binding>&& a,
                         std::optional<Binding>&& b) {
    return call(name, x, placeholderExpression(std::move(a)), placeholderExpression(std::move(b)));
}

Expression<> likeExpression(const Expression<>& x, const Expression<>& pattern, std::optional<char> escape) {
    if (!escape) {
        return binaryExpression(x, pattern, "LIKE", true);
    }
    Expression<> out = binaryExpression(x, pattern, "LIKE", false);
    out.templateText = "(" + out.templateText + " ESCAPE ?)";
    out.bindings.push_back(Binding(std::string(1, *escape)));
    return out;
}

Expression<> inExpression(const Expression<>& x, std::vector<Binding>&& values) {
    Expression<> list("(");
    list.bindings.reserve(values.size());
    for (Binding& v : values) {
        list.templateText += list.bindings.empty() ? "?" : ", ?";
        list.bindings.push_back(std::move(v));
    }
    list.templateText += ')';
    return binaryExpression(x, list, "IN", true);
}

Expression<std::int64_t> randomInteger() {
    return Expression<std::int64_t>("random()");
}

Expression<Blob> randomblob(std::int64_t length) {
    return Expression<Blob>(call("randomblob", valueExpression(length)));
}

Expression<Blob> zeroblob(std::int64_t length) {
    return Expression<Blob>(call("zeroblob", valueExpression(length)));
}

Expression<std::int64_t> countStar() {
    return Expression<std::int64_t>(wrapInFunction("count", starExpression()));
}

// name(?, ...) binding the leading texts, then the modifiers.
static Expression<> dateCall(std::string_view name, std::vector<std::string> leading,
                             const std::vector<std::string>& modifiers) {
    Expression<> out(std::string(name) + "(");
    for (std::size_t i = 0; i < leading.size() + modifiers.size(); ++i) {
        out.templateText += i == 0 ? "?" : ", ?";
    }
    out.templateText += ')';
    for (std::string& s : leading) {
        out.bindings.push_back(Binding(std::move(s)));
    }
    for (const std::string& s : modifiers) {
        out.bindings.push_back(Binding(s));
    }
    return out;
}

using OptionalText = Expression<std::optional<std::string>>;
using OptionalReal = Expression<std::optional<double>>;

OptionalText DateFunctions::date(std::string timeString, const std::vector<std::string>& modifiers) {
    return OptionalText(dateCall("date", {std::move(timeString)}, modifiers));
}
OptionalText DateFunctions::time(std::string timeString, const std::vector<std::string>& modifiers) {
    return OptionalText(dateCall("time", {std::move(timeString)}, modifiers));
}
OptionalText DateFunctions::datetime(std::string timeString, const std::vector<std::string>& modifiers) {
    return OptionalText(dateCall("datetime", {std::move(timeString)}, modifiers));
}
OptionalReal DateFunctions::julianday(std::string timeString, const std::vector<std::string>& modifiers) {
    return OptionalReal(dateCall("julianday", {std::move(timeString)}, modifiers));
}
OptionalText DateFunctions::strftime(std::string format, std::string timeString,
                                     const std::vector<std::string>& modifiers) {
    return OptionalText(dateCall("strftime", {std::move(format), std::move(timeString)}, modifiers));
}

OptionalText DateFunctions::date(Date value) {
    return date(formatDate(value));
}
OptionalText DateFunctions::time(Date value) {
    return time(formatDate(value));
}
OptionalText DateFunctions::datetime(Date value) {
    return datetime(formatDate(value));
}
OptionalReal DateFunctions::julianday(Date value) {
    return julianday(formatDate(value));
}

OptionalText DateFunctions::date(const Expression<>& x) {
    return OptionalText(wrapInFunction("date", x));
}
OptionalText DateFunctions::time(const Expression<>& x) {
    return OptionalText(wrapInFunction("time", x));
}
OptionalText DateFunctions::datetime(const Expression<>& x) {
    return OptionalText(wrapInFunction("datetime", x));
}
OptionalReal DateFunctions::julianday(const Expression<>& x) {
    return OptionalReal(wrapInFunction("julianday", x));
}

} // namespace sql
