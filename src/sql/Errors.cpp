#include "sql/Errors.h"

namespace sql {

Result::Result(std::string message, int code, std::optional<std::string> statement)
    : message_(std::move(message))
    , code_(code)
    , statement_(std::move(statement)) {
    description_ = message_;
    if (statement_) {
        description_ += " (" + *statement_ + ")";
    }
    description_ += " (code: " + std::to_string(code_) + ")";
}

// ["a", "b"] with quotes and backslashes inside the elements escaped.
static std::string listText(const std::vector<std::string>& items) {
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) {
            out += ", ";
        }
        out += '"';
        for (char c : items[i]) {
            if (c == '"' || c == '\\') {
                out += '\\';
            }
            out += c;
        }
        out += '"';
    }
    out += ']';
    return out;
}

QueryError::QueryError(Kind kind, std::string name, std::vector<std::string> names)
    : kind_(kind)
    , name_(std::move(name))
    , names_(std::move(names)) {
    switch (kind_) {
    case Kind::noSuchTable:
        description_ = "No such table: " + name_;
        break;
    case Kind::noSuchColumn:
        description_ = "No such column `" + name_ + "` in columns " + listText(names_);
        break;
    case Kind::ambiguousColumn:
        description_ = "Ambiguous column `" + name_ + "` (please disambiguate: " + listText(names_) + ")";
        break;
    case Kind::unexpectedNullValue:
        description_ = "Unexpected null value for column `" + name_ + "`";
        break;
    case Kind::unreadableValue:
        description_ = "Unreadable value for column `" + name_ + "`";
        break;
    case Kind::valueOutOfRange:
        description_ = "Value out of range for column `" + name_ + "`";
        break;
    }
}

QueryError QueryError::noSuchTable(std::string name) {
    return QueryError(Kind::noSuchTable, std::move(name), {});
}
QueryError QueryError::noSuchColumn(std::string name, std::vector<std::string> columns) {
    return QueryError(Kind::noSuchColumn, std::move(name), std::move(columns));
}
QueryError QueryError::ambiguousColumn(std::string name, std::vector<std::string> similar) {
    return QueryError(Kind::ambiguousColumn, std::move(name), std::move(similar));
}
QueryError QueryError::unexpectedNullValue(std::string name) {
    return QueryError(Kind::unexpectedNullValue, std::move(name), {});
}
QueryError QueryError::unreadableValue(std::string name) {
    return QueryError(Kind::unreadableValue, std::move(name), {});
}
QueryError QueryError::valueOutOfRange(std::string name) {
    return QueryError(Kind::valueOutOfRange, std::move(name), {});
}

} // namespace sql
