#include "sql/Operators.h"

namespace sql {

Expression<> operatorExpression(const Expression<>& lhs, const Expression<>& rhs, std::string_view op) {
    return binaryExpression(lhs, rhs, op, true);
}

Expression<> bitwiseXorExpression(const Expression<>& lhs, const Expression<>& rhs) {
    const Expression<> notBoth = wrapInFunction("~", binaryExpression(lhs, rhs, "&", true));
    return binaryExpression(notBoth, binaryExpression(lhs, rhs, "|", true), "&", true);
}

Setter incrementSetter(const Expression<>& column, std::string_view op) {
    return Setter{column, binaryExpression(column, valueExpression(std::int64_t{1}), op, true)};
}

static Expression<bool> listExpression(const std::vector<Expression<bool>>& conditions, std::string_view op) {
    std::vector<Expression<>> list(conditions.begin(), conditions.end());
    return Expression<bool>(wrapInFunction("", joinExpressions(list, op)));
}

Expression<bool> allOf(const std::vector<Expression<bool>>& conditions) {
    return listExpression(conditions, " AND ");
}

Expression<bool> anyOf(const std::vector<Expression<bool>>& conditions) {
    return listExpression(conditions, " OR ");
}

Expression<> rangeExpression(const Expression<>& x, RangeKind kind, std::optional<Binding>&& lower,
                             std::optional<Binding>&& upper) {
    Expression<> out(x.templateText, x.bindings);
    switch (kind) {
    case RangeKind::closed:
        out.templateText += " BETWEEN ? AND ?";
        out.bindings.push_back(std::move(lower));
        out.bindings.push_back(std::move(upper));
        break;
    case RangeKind::halfOpen:
        out.templateText += " >= ? AND " + x.templateText + " < ?";
        out.bindings.push_back(std::move(lower));
        out.bindings.insert(out.bindings.end(), x.bindings.begin(), x.bindings.end());
        out.bindings.push_back(std::move(upper));
        break;
    case RangeKind::through:
    case RangeKind::upTo:
        out.templateText += kind == RangeKind::through ? " <= ?" : " < ?";
        out.bindings.push_back(std::move(upper));
        break;
    case RangeKind::from:
        out.templateText += " >= ?";
        out.bindings.push_back(std::move(lower));
        break;
    }
    return out;
}

} // namespace sql
