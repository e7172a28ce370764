// Reads a database's schema into the definitions of the schema model, and runs SQLite's
// foreign-key and integrity checks.
#pragma once

#include "sql/Connection.h"
#include "sql/schema/Definitions.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sql {

// A table's database and its name as stored.
struct QualifiedName {
    std::string database;
    std::string name;
    bool operator==(const QualifiedName&) const = default;
};

// Sends its statements anew on every call and caches nothing; usable from any thread that may
// use the connection. Every call throws Result for a statement that fails and QueryError for
// a value it cannot read (a foreign key that names no parent column reads "to" as NULL).
class SchemaReader {
public:
    // Without a version the connection's is asked at every use; tests give one to reach the
    // branches of older libraries. With a database ("main", "temp", an attached name) every
    // name is looked up in that database alone; without one, where SQLite resolves it.
    explicit SchemaReader(std::shared_ptr<Connection> connection,
                          std::optional<SQLiteVersion> version = std::nullopt,
                          std::optional<std::string> database = std::nullopt);

    // Where SQLite resolves an unqualified table name: temp first, then main, then the
    // attached databases in the order they were attached; names match in any ASCII letter
    // case. A view shadows a table as it does for SQLite. nullopt when no database has it.
    std::optional<QualifiedName> locateTable(std::string_view name);

    // The schema table's rows ("sqlite_schema" from 3.33.0, "sqlite_master" before), in its
    // order, filtered by name and type when given; of temp when asked, else of the reader's
    // database (main without one).
    std::vector<ObjectDefinition> objectDefinitions(const std::optional<std::string>& name = std::nullopt,
                                                    std::optional<ObjectType> type = std::nullopt,
                                                    bool temp = false);
    // In column order. Only a column whose "pk" is 1 carries a primary key, read from the table's
    // CREATE text; of a composite key only the first column does (the changer refuses such
    // tables).
    std::vector<ColumnDefinition> columnDefinitions(std::string_view table);
    // In PRAGMA index_list order, SQLite's own "sqlite_" indexes left out.
    std::vector<IndexDefinition> indexDefinitions(std::string_view table);
    // In PRAGMA foreign_key_list order; the action "NO ACTION" reads as absent.
    std::vector<ColumnDefinition::ForeignKey> foreignKeys(std::string_view table);
    // The table's CREATE text: of the reader's database, or else main first, then temp.
    std::optional<std::string> tableSQL(std::string_view name);
    std::optional<std::string> indexSQL(std::string_view name);
    // The named columns of an index (an indexed expression has no name and is left out).
    std::vector<std::string> indexColumns(std::string_view name);

    // Why rebuilding `table` from its definitions would not give the same table: one text per
    // thing the model cannot carry (a composite primary key or foreign key, UNIQUE, CHECK,
    // COLLATE, WITHOUT ROWID, generated columns, triggers, an index condition or order that
    // does not read back, ...). Empty when a rebuild keeps the table as it is.
    std::vector<std::string> rebuildProblems(std::string_view table);

    const std::shared_ptr<Connection>& connection() const { return connection_; }

private:
    SQLiteVersion version();
    // PRAGMA ["database".]name("argument")
    std::string pragma(std::string_view name, std::string_view argument) const;
    // The one column of the table's primary key; nullopt for none or several.
    std::optional<std::string> primaryKeyColumn(std::string_view table);
    std::size_t rowCount(const std::string& sql);

    std::shared_ptr<Connection> connection_;
    std::optional<SQLiteVersion> version_;
    std::optional<std::string> database_;
};

// PRAGMA ["database".]foreign_key_check [("table")]: each violating row, in order; rows
// without a row id (tables WITHOUT ROWID) are left out. Without a database SQLite checks main.
std::vector<ForeignKeyError> foreignKeyCheck(Connection& connection,
                                             const std::optional<std::string>& table = std::nullopt,
                                             const std::optional<std::string>& database = std::nullopt);
// PRAGMA integrity_check [("table")]: the problems found, "ok" left out. A table needs SQLite
// 3.33.0; asking for one on an older library stops the program.
std::vector<std::string> integrityCheck(Connection& connection,
                                        const std::optional<std::string>& table = std::nullopt);

} // namespace sql
