// The schema model: plain values describing the objects, columns and indexes of a database,
// parsed from what SQLite reports and rendered back to SQL to recreate a table.
#pragma once

#include "sql/Query.h"
#include "sql/RawValue.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sql {

// Names of tables, columns and indexes compare as SQLite compares them: ASCII letters in
// either case, every other byte exactly.
bool sameName(std::string_view a, std::string_view b);
// "database"."name", or "name" alone when no database is given (SQLite then looks in temp,
// main and the attached databases in turn).
std::string qualifiedName(const std::optional<std::string>& database, std::string_view name);

enum class ObjectType { table, index, view, trigger };
inline constexpr auto objectTypeRawValues =
    makeRawValueTable(std::pair{ObjectType::table, "table"}, std::pair{ObjectType::index, "index"},
                      std::pair{ObjectType::view, "view"}, std::pair{ObjectType::trigger, "trigger"});

// One row of the schema table.
struct ObjectDefinition {
    ObjectType type = ObjectType::table;
    std::string name;
    std::string tableName;
    std::int64_t rootpage = 0;
    std::optional<std::string> sql;

    // SQLite's own objects (named "sqlite_...") and objects without SQL.
    bool isInternal() const;
    bool operator==(const ObjectDefinition&) const = default;
};

// The stored SQL of the objects, in order, those without SQL skipped.
std::vector<std::string> sqlTexts(const std::vector<ObjectDefinition>& objects);

enum class Affinity { INTEGER, NUMERIC, REAL, TEXT, BLOB };
inline constexpr auto affinityRawValues = makeRawValueTable(
    std::pair{Affinity::INTEGER, "INTEGER"}, std::pair{Affinity::NUMERIC, "NUMERIC"},
    std::pair{Affinity::REAL, "REAL"}, std::pair{Affinity::TEXT, "TEXT"}, std::pair{Affinity::BLOB, "BLOB"});

// The affinity SQLite gives a declared type: "INT" anywhere is INTEGER; then "CHAR", "CLOB" or
// "TEXT" is TEXT; "BLOB" or no type is BLOB; "REAL", "FLOA" or "DOUB" is REAL; else NUMERIC.
// So BIGINT is INTEGER and VARCHAR(20) is TEXT, and a rebuilt column stores what it stored.
Affinity affinityOf(std::string_view declaredType);

// The value of a DEFAULT clause as SQLite reports it.
struct LiteralValue {
    enum class Kind {
        numeric,
        string,
        blob,
        null,
        true_,
        false_,
        currentTime,
        currentDate,
        currentTimestamp
    };
    Kind kind = Kind::null;
    // The text between the quotes (hexadecimal digits for a blob); numeric texts unchanged.
    std::string text;

    static LiteralValue numeric(std::string t) { return {Kind::numeric, std::move(t)}; }
    static LiteralValue string(std::string t) { return {Kind::string, std::move(t)}; }
    static LiteralValue blob(std::string hex) { return {Kind::blob, std::move(hex)}; }
    static LiteralValue null() { return {}; }

    // Absent is NULL; the keywords by exact name; '...', "..." and x'...' by their quotes;
    // anything else (a number, an expression such as (1+2)) is numeric, unchanged.
    static LiteralValue parse(const std::optional<std::string>& stored);
    std::string description() const;
    bool operator==(const LiteralValue&) const = default;
};

struct ColumnDefinition {
    struct PrimaryKey {
        bool autoIncrement = false;
        std::optional<OnConflict> onConflict;

        // The first "PRIMARY KEY [ASC|DESC] [ON CONFLICT mode] [AUTOINCREMENT]" of a table's
        // CREATE text outside quoted names and texts, in any letter case; nullopt when none.
        static std::optional<PrimaryKey> parse(std::string_view tableSQL);
        std::string toSQL() const;
        bool operator==(const PrimaryKey&) const = default;
    };
    struct ForeignKey {
        std::string table;
        std::string column;     // the referencing column
        std::string primaryKey; // the referenced column
        std::optional<std::string> onUpdate;
        std::optional<std::string> onDelete;

        std::string toSQL() const;
        bool operator==(const ForeignKey&) const = default;
    };

    std::string name;
    std::optional<PrimaryKey> primaryKey;
    Affinity type = Affinity::TEXT;
    bool nullable = true;
    LiteralValue defaultValue;
    std::optional<ForeignKey> references;

    std::string toSQL() const;
    bool operator==(const ColumnDefinition&) const = default;
};

enum class IndexOrder { ASC, DESC };
inline constexpr auto indexOrderRawValues =
    makeRawValueTable(std::pair{IndexOrder::ASC, "ASC"}, std::pair{IndexOrder::DESC, "DESC"});

// An index name longer than IndexDefinition::maxNameLength characters.
class IndexError : public std::exception {
public:
    IndexError(std::string name, std::string table);
    const std::string& name() const { return name_; }
    const std::string& table() const { return table_; }
    const char* what() const noexcept override { return description_.c_str(); }

private:
    std::string name_;
    std::string table_;
    std::string description_;
};

struct IndexDefinition {
    std::string table;
    std::string name;
    bool unique = false;
    std::vector<std::string> columns;
    // A partial index's condition, as written.
    std::optional<std::string> where;
    // Columns sorted descending; absent when the index has no stored SQL.
    std::optional<std::map<std::string, IndexOrder>> orders;
    // The database holding the index and its table; absent: the one SQLite resolves the
    // table's name to.
    std::optional<std::string> database = std::nullopt;

    static constexpr std::size_t maxNameLength = 64;

    // From an index's CREATE text: the text after the first " WHERE ", and each column written
    // ["]name["] DESC.
    static std::optional<std::string> parseWhere(std::string_view indexSQL);
    static std::map<std::string, IndexOrder> parseOrders(std::string_view indexSQL);
    // Throws IndexError when the name has more than maxNameLength characters.
    void checkNameLength() const;

    // CREATE [UNIQUE] INDEX [IF NOT EXISTS] ["database".]"name" ON "table" (...) [WHERE ...]
    std::string toSQL(bool ifNotExists = false) const;
    bool operator==(const IndexDefinition&) const = default;
};

// User-perceived characters of UTF-8 text: code points, with combining marks, variation
// selectors, emoji modifiers and what a zero-width joiner joins counted with the character
// before them. Invalid bytes count one each.
std::size_t characterCount(std::string_view utf8);

// One row of PRAGMA foreign_key_check.
struct ForeignKeyError {
    std::string from;
    std::int64_t rowId = 0;
    std::string to;

    // from + " [" + rowId + "] => " + to
    std::string description() const;
    bool operator==(const ForeignKeyError&) const = default;
};

struct TableDefinition {
    std::string name;
    std::vector<ColumnDefinition> columns;
    std::vector<IndexDefinition> indexes;
    // The database holding the table; absent: the one SQLite resolves the name to (main for
    // a new table).
    std::optional<std::string> database = std::nullopt;

    // CREATE [TEMPORARY] TABLE ["database".]"name" ( columns joined by ",\n" ); needs a column.
    std::string toSQL(bool temporary = false) const;
    std::string quotedColumnList() const;
    // INSERT INTO target (target columns) SELECT own columns FROM this table, each name
    // qualified by its database; both have the same number of columns.
    std::string copySQL(const TableDefinition& target) const;
};

} // namespace sql
