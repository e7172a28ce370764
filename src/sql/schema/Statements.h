// The schema statements beside CREATE TABLE: ADD COLUMN, RENAME TO, CREATE and DROP INDEX with a
// generated name, CREATE and DROP VIEW, CREATE VIRTUAL TABLE, DROP TABLE. Each returns finished
// SQL text and touches no database.
#pragma once

#include "sql/schema/TableBuilder.h"

#include <string>
#include <string_view>
#include <vector>

namespace sql {

// A virtual-table module and its arguments: name(arguments).
struct Module {
    std::string name;
    std::vector<Expression<>> arguments;

    // The name quoted as an identifier: "rtree"("id", ...).
    Module(std::string_view name, std::vector<Expression<>> arguments);
    // The name as it stands, for SQLite's own modules: fts5(...).
    static Module builtIn(std::string name, std::vector<Expression<>> arguments);

    Expression<> expression() const;

private:
    Module() = default;
};

// ALTER TABLE name ADD COLUMN definition.
std::string addColumnSQL(const Table& table, const Expression<>& definition);
template <class T>
std::string addColumn(const Table& table, const Expression<T>& column, const ColumnOptions<T>& options = {}) {
    return addColumnSQL(table, columnDefinition(column, options));
}
// ALTER TABLE name RENAME TO "other's plain name".
std::string rename(const Table& table, const Table& to);

// "index_<table>_on_<columns>": lower case, every character but a-z and 0-9 made "_" (one per
// code point), quotes dropped; database-qualified when the table is.
Expression<> indexName(const Table& table, const std::vector<Expression<>>& columns);
struct IndexOptions {
    bool unique = false;
    bool ifNotExists = false;
};
std::string createIndex(const Table& table, const std::vector<Expression<>>& columns,
                        IndexOptions options = {});
std::string dropIndex(const Table& table, const std::vector<Expression<>>& columns, bool ifExists = false);

// DROP keyword [IF EXISTS] name
std::string dropStatement(std::string_view keyword, const Expression<>& name, bool ifExists);
std::string drop(const Table& table, bool ifExists = false);
std::string drop(const View& view, bool ifExists = false);
std::string drop(const VirtualTable& table, bool ifExists = false);

std::string createViewSQL(const View& view, const Expression<>& query, bool temporary, bool ifNotExists);
template <class Q>
std::string create(const View& view, const QueryType<Q>& query, bool temporary = false,
                   bool ifNotExists = false) {
    return createViewSQL(view, query.expression(), temporary, ifNotExists);
}
// CREATE VIRTUAL TABLE [IF NOT EXISTS] name USING module
std::string create(const VirtualTable& table, const Module& module, bool ifNotExists = false);

} // namespace sql
