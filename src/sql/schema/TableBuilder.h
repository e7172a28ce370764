// CREATE TABLE as SQL text from typed columns and table constraints. Nothing here touches a
// database: every function returns finished SQL, bound values written in as literals.
#pragma once

#include "sql/CoreFunctions.h"
#include "sql/Query.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

namespace sql {

enum class PrimaryKey { default_, autoincrement };

// A foreign key's ON UPDATE / ON DELETE action.
enum class Dependency { noAction, restrict, setNull, setDefault, cascade };
inline constexpr auto dependencyRawValues = makeRawValueTable(
    std::pair{Dependency::noAction, "NO ACTION"}, std::pair{Dependency::restrict, "RESTRICT"},
    std::pair{Dependency::setNull, "SET NULL"}, std::pair{Dependency::setDefault, "SET DEFAULT"},
    std::pair{Dependency::cascade, "CASCADE"});

// The referenced table (its alias or name, never its database) and column(s).
struct Reference {
    Expression<> table;
    Expression<> columns;
};
template <class Q, class V> Reference references(const QueryType<Q>& table, const Expression<V>& column) {
    return {table.tableNameQualified(false), column};
}

namespace detail {
template <class T> struct Unwrapped { using type = T; };
template <class T> struct Unwrapped<std::optional<T>> { using type = T; };
} // namespace detail

// A column's DEFAULT: a plain value (bound, written in as a literal) or an expression of the
// column's type. Only a nullable column takes a nullable expression.
template <class T> struct DefaultValue {
    using V = typename detail::Unwrapped<T>::type;
    Expression<> expression;

    DefaultValue(const V& v)
        : expression(valueExpression(v)) {}
    DefaultValue(const char* v) requires std::is_same_v<V, std::string>
        : expression(valueExpression(std::string(v))) {}
    DefaultValue(const Expression<V>& e)
        : expression(e) {}
    DefaultValue(const Expression<std::optional<V>>& e) requires detail::IsOptional<T>::value
        : expression(e) {}
};

// Everything a column definition may carry beside its name and type, set by name:
//   t.column(id, {.primaryKey = PrimaryKey::autoincrement});
//   t.column(line, {.check = ge(line, 0), .defaultValue = 0});
// NOT NULL follows the column's type: Expression<V> is NOT NULL, Expression<optional<V>> is not.
template <class T> struct ColumnOptions {
    std::optional<PrimaryKey> primaryKey = std::nullopt;
    bool unique = false;
    std::optional<Expression<std::optional<bool>>> check = std::nullopt;
    std::optional<DefaultValue<T>> defaultValue = std::nullopt;
    std::optional<Reference> references = std::nullopt;
    std::optional<Collation> collate = std::nullopt;
};

// ---- the non-template core (TableBuilder.cpp)

// The parts whose template is not empty, joined by single blanks.
Expression<> joinPresent(std::vector<Expression<>> list);
// Like Expression::asSQL, but a "?" inside a quoted name or text stays as it is.
std::string schemaSQL(const Expression<>& statement);
// name [datatype] [PRIMARY KEY [AUTOINCREMENT]] [NOT NULL] [UNIQUE] [CHECK (check)]
// [DEFAULT (value)] [REFERENCES ...] [COLLATE c]. The check is always in parentheses: a bare
// "x BETWEEN ? AND ?" would not parse.
Expression<> columnDefinition(const Expression<>& column, std::string_view datatype,
                              std::optional<PrimaryKey> primaryKey, bool null, bool unique,
                              const std::optional<Expression<std::optional<bool>>>& check,
                              const Expression<>* defaultValue, const std::optional<Reference>& references,
                              const std::optional<Collation>& collate);
// REFERENCES "table" (columns)
Expression<> referenceClause(const Reference& reference);
// CREATE [modifier] keyword [IF NOT EXISTS] name
Expression<> createPrefix(std::string_view keyword, const Expression<>& name, std::string_view modifier,
                          bool ifNotExists);
// FOREIGN KEY (columns) REFERENCES ... [ON UPDATE a] [ON DELETE b]
Expression<> foreignKeyClause(const Expression<>& columns, const Reference& reference,
                              std::optional<Dependency> update, std::optional<Dependency> del);

template <class T> Expression<> columnDefinition(const Expression<T>& column, const ColumnOptions<T>& o) {
    using V = typename detail::Unwrapped<T>::type;
    return columnDefinition(column, ValueTraits<V>::declaredDatatype, o.primaryKey,
                            detail::IsOptional<T>::value, o.unique, o.check,
                            o.defaultValue ? &o.defaultValue->expression : nullptr, o.references, o.collate);
}

// The definitions of one CREATE TABLE, in the order of the calls.
class TableBuilder {
public:
    std::vector<Expression<>> definitions;

    template <class T> void column(const Expression<T>& column, const ColumnOptions<T>& options = {}) {
        definitions.push_back(columnDefinition(column, options));
    }

    // PRIMARY KEY (a, ...), UNIQUE (a, ...), CHECK (condition).
    template <class... V> void primaryKey(const Expression<V>&... columns) {
        definitions.push_back(wrapInFunction("PRIMARY KEY ", joinExpressions({columns...}, ", ")));
    }
    template <class... C> void unique(const C&... columns) { unique(std::vector<Expression<>>{columns...}); }
    void unique(const std::vector<Expression<>>& columns) {
        definitions.push_back(wrapInFunction("UNIQUE ", joinExpressions(columns, ", ")));
    }
    void check(const Expression<std::optional<bool>>& condition) {
        definitions.push_back(wrapInFunction("CHECK ", condition));
    }

    // One column, or a tuple of columns against a tuple of the same types.
    template <class V, class Q>
    void foreignKey(const Expression<V>& column, const QueryType<Q>& table,
                    const Expression<typename detail::Unwrapped<V>::type>& referenced,
                    std::optional<Dependency> update = std::nullopt,
                    std::optional<Dependency> del = std::nullopt) {
        definitions.push_back(foreignKeyClause(column, references(table, referenced), update, del));
    }
    template <class Q, class... V>
    void foreignKey(const std::tuple<Expression<V>...>& columns, const QueryType<Q>& table,
                    const std::tuple<Expression<V>...>& referenced,
                    std::optional<Dependency> update = std::nullopt,
                    std::optional<Dependency> del = std::nullopt) {
        const auto join = [](const auto&... e) { return joinExpressions({e...}, ", "); };
        definitions.push_back(
            foreignKeyClause(std::apply(join, columns),
                             {table.tableNameQualified(false), std::apply(join, referenced)}, update, del));
    }
};

struct CreateTableOptions {
    bool temporary = false;
    bool ifNotExists = false;
    bool withoutRowid = false;
};

// CREATE [TEMPORARY] TABLE [IF NOT EXISTS] name (definitions) [WITHOUT ROWID]
std::string create(const Table& table, const std::function<void(TableBuilder&)>& block,
                   CreateTableOptions options = {});
// CREATE [TEMPORARY] TABLE [IF NOT EXISTS] name AS query
std::string createAs(const Table& table, const Expression<>& query, bool temporary = false,
                     bool ifNotExists = false);
template <class Q>
std::string create(const Table& table, const QueryType<Q>& query, bool temporary = false,
                   bool ifNotExists = false) {
    return createAs(table, query.expression(), temporary, ifNotExists);
}

} // namespace sql
