// Alters existing tables: adds, drops and renames columns, renames and drops tables, with one
// ALTER TABLE where the library can and by rebuilding the table by copy where it cannot.
#pragma once

#include "sql/schema/SchemaReader.h"

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sql {

// Decides by the SQLite version read at creation (or given, so that tests reach the paths of
// older libraries): native DROP COLUMN from 3.35.0, RENAME COLUMN from 3.25.0, a rebuild before.
//
// A rebuild copies the table into "tmp_" + name, drops the table, renames the copy and creates
// its indexes again under their own names, then checks every foreign key: all in one
// transaction on the connection's queue, and all in the database that holds the table (found
// as SQLite finds an unqualified name: temp, main, then the attached ones in order).
// Foreign-key enforcement is switched off before that transaction begins (SQLite ignores the
// switch inside one, and dropping the table would run its ON DELETE actions on the children)
// and restored after it commits or rolls back; called inside a caller's transaction the
// rebuild fails at its BEGIN and changes nothing. A table the model cannot carry is refused
// with Error::cannotRebuild before anything is written; an unknown table or column, or the
// last column dropped, with SQLite's own message for the native statement. Column names
// match in any ASCII letter case, as SQLite matches them.
//
// Used by one caller at a time.
class SchemaChanger {
public:
    struct Operation {
        enum class Kind { addColumn, dropColumn, renameColumn, renameTable };
        Kind kind;
        std::optional<ColumnDefinition> column; // addColumn
        std::string name;                       // the column dropped or renamed; the new table name
        std::string newName;                    // renameColumn

        static Operation addColumn(ColumnDefinition c) { return {Kind::addColumn, std::move(c), {}, {}}; }
        static Operation dropColumn(std::string c) {
            return {Kind::dropColumn, std::nullopt, std::move(c), {}};
        }
        static Operation renameColumn(std::string from, std::string to) {
            return {Kind::renameColumn, std::nullopt, std::move(from), std::move(to)};
        }
        static Operation renameTable(std::string to) {
            return {Kind::renameTable, std::nullopt, std::move(to), {}};
        }
    };

    // The operations of one alter call, carried out in the order recorded.
    class AlterTableDefinition {
    public:
        explicit AlterTableDefinition(std::string name)
            : name(std::move(name)) {}
        void add(ColumnDefinition column) { operations.push_back(Operation::addColumn(std::move(column))); }
        void drop(std::string column) { operations.push_back(Operation::dropColumn(std::move(column))); }
        void rename(std::string column, std::string to) {
            operations.push_back(Operation::renameColumn(std::move(column), std::move(to)));
        }

        const std::string name;
        std::vector<Operation> operations;
    };

    class Error : public std::exception {
    public:
        enum class Kind { invalidColumnDefinition, foreignKeyError, cannotRebuild };
        static Error invalidColumnDefinition(std::string message);
        static Error foreignKeyError(std::vector<ForeignKeyError> errors);
        // The table and what the model cannot carry of it.
        static Error cannotRebuild(std::string_view table, const std::vector<std::string>& problems);

        Kind kind() const { return kind_; }
        const std::vector<ForeignKeyError>& foreignKeyErrors() const { return errors_; }
        const char* what() const noexcept override { return description_.c_str(); }

    private:
        Error(Kind kind, std::string description, std::vector<ForeignKeyError> errors = {})
            : kind_(kind)
            , description_(std::move(description))
            , errors_(std::move(errors)) {}
        Kind kind_;
        std::string description_;
        std::vector<ForeignKeyError> errors_;
    };

    explicit SchemaChanger(std::shared_ptr<Connection> connection,
                           std::optional<SQLiteVersion> version = std::nullopt);

    // Calls `block` once, then carries out its operations in order. The first error ends the
    // call; operations before it stay done (each stands alone or commits on its own).
    void alter(const std::string& table, const std::function<void(AlterTableDefinition&)>& block);
    // DROP TABLE [IF EXISTS] "table" (without IF EXISTS two blanks follow TABLE).
    void drop(std::string_view table, bool ifExists = false);
    // ALTER TABLE "table" RENAME TO "to".
    void rename(std::string_view table, std::string_view to);

    // The single statement that does `operation`, or nullopt when the table must be rebuilt.
    static std::optional<std::string> alterTableSQL(const Operation& operation, std::string_view table,
                                                    SQLiteVersion version);
    // Throws Error::invalidColumnDefinition for a column ALTER TABLE cannot add.
    static void validateAddColumn(const Operation& operation);

    const SQLiteVersion& version() const { return version_; }
    std::string description() const;

private:
    void migrateByCopy(const std::string& table, const Operation& operation);
    void run(const std::string& sql);

    std::shared_ptr<Connection> connection_;
    SchemaReader reader_;
    SQLiteVersion version_;
};

// The definition with `operation` applied (a rebuild's target); column names match in any
// ASCII letter case. Dropping a column drops the indexes on it; renaming one renames it in the
// indexes' columns and orders; renaming the table moves its indexes to the new name. Adding a
// column is ALTER TABLE's work and stops the program here.
TableDefinition apply(const TableDefinition& table, const SchemaChanger::Operation& operation);

} // namespace sql
