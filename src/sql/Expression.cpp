#include "sql/Expression.h"

namespace sql {

std::string Expression<void>::asSQL() const {
    std::string out;
    out.reserve(templateText.size() + 8 * bindings.size());
    std::size_t next = 0;
    for (char c : templateText) {
        if (c == '?' && next < bindings.size()) {
            out += literal(bindings[next++]);
        } else {
            out += c;
        }
    }
    return out;
}

std::string quote(std::string_view text, char mark) {
    std::string out;
    out.reserve(text.size() + 2);
    out += mark;
    for (char c : text) {
        out += c;
        if (c == mark) {
            out += mark;
        }
    }
    out += mark;
    return out;
}

Expression<> starExpression() {
    return Expression<>("*");
}

Expression<> placeholderExpression(std::optional<Binding>&& b) {
    Expression<> e("?");
    e.bindings.reserve(1);
    e.bindings.push_back(std::move(b));
    return e;
}

const Expression<std::int64_t>& rowidExpression() {
    static const Expression<std::int64_t> rowid("\"ROWID\"");
    return rowid;
}

static void append(Bindings& to, const Bindings& from) {
    to.insert(to.end(), from.begin(), from.end());
}

Expression<> joinExpressions(const std::vector<Expression<>>& list, std::string_view separator) {
    Expression<> out;
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (i > 0) {
            out.templateText += separator;
        }
        out.templateText += list[i].templateText;
        append(out.bindings, list[i].bindings);
    }
    return out;
}

Expression<> wrapInFunction(std::string_view name, const Expression<>& e) {
    std::string text;
    text.reserve(name.size() + e.templateText.size() + 2);
    text += name;
    text += '(';
    text += e.templateText;
    text += ')';
    return Expression<>(std::move(text), e.bindings);
}

Expression<> binaryExpression(const Expression<>& lhs, const Expression<>& rhs, std::string_view op,
                              bool wrap) {
    std::string text;
    text.reserve(lhs.templateText.size() + rhs.templateText.size() + op.size() + 4);
    if (wrap) {
        text += '(';
    }
    text += lhs.templateText;
    text += ' ';
    text += op;
    text += ' ';
    text += rhs.templateText;
    if (wrap) {
        text += ')';
    }
    Bindings b = lhs.bindings;
    append(b, rhs.bindings);
    return Expression<>(std::move(text), std::move(b));
}

Expression<std::optional<bool>> andExpression(const Expression<std::optional<bool>>& lhs,
                                              const Expression<std::optional<bool>>& rhs) {
    return infixExpression<std::optional<bool>>(lhs, rhs, "AND", true);
}

Expression<> asc(const Expression<>& e) {
    return Expression<>(e.templateText + " ASC", e.bindings);
}

Expression<> desc(const Expression<>& e) {
    return Expression<>(e.templateText + " DESC", e.bindings);
}

Expression<> castExpression(const Expression<>& e, std::string_view declaredDatatype) {
    return Expression<>("CAST (" + e.templateText + " AS " + std::string(declaredDatatype) + ")", e.bindings);
}

Expression<> notExpression(const Expression<>& e) {
    return Expression<>("NOT (" + e.templateText + ")", e.bindings);
}

Expression<> optionalComparison(const Expression<>& e, std::optional<Binding>&& value, ValueSide side,
                                std::string_view op, std::string_view absentOp) {
    const std::string_view text = value ? op : absentOp;
    const Expression<> v = placeholderExpression(std::move(value));
    switch (side) {
    case ValueSide::left:
        return binaryExpression(v, e, text, true);
    case ValueSide::right:
        return binaryExpression(e, v, text, true);
    }
    return binaryExpression(e, v, text, true);
}

} // namespace sql
