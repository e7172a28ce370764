#include "sql/schema/SchemaReader.h"

#include "base/Log.h"
#include "sql/Row.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>

namespace sql {

namespace {

const SQLiteVersion schemaTableVersion{3, 33, 0};

std::string pragmaText(const std::optional<std::string>& database, std::string_view name,
                       const std::optional<std::string>& argument) {
    return "PRAGMA " + (database ? quote(*database) + "." : "") + std::string(name) +
           (argument ? "(" + quote(*argument) + ")" : "");
}

// A word of SQL (upper-cased), a quoted name or text (as written), or one other character,
// with where it stands in the text. Blanks and comments are left out.
struct Token {
    std::string text;
    std::size_t begin = 0;
    std::size_t end = 0;
    bool isWord = false;
};

std::vector<Token> tokenize(std::string_view sql) {
    std::vector<Token> out;
    std::size_t at = 0;
    const auto isWordChar = [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$';
    };
    while (at < sql.size()) {
        const char c = sql[at];
        const std::size_t begin = at;
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++at;
            continue;
        }
        if (sql.substr(at, 2) == "--") {
            at = std::min(sql.find('\n', at), sql.size());
            continue;
        }
        if (sql.substr(at, 2) == "/*") {
            const std::size_t close = sql.find("*/", at + 2);
            at = close == std::string_view::npos ? sql.size() : close + 2;
            continue;
        }
        if (c == '\'' || c == '"' || c == '`' || c == '[') {
            const char closing = c == '[' ? ']' : c;
            ++at;
            while (at < sql.size()) {
                if (sql[at] == closing &&
                    (closing == ']' || at + 1 >= sql.size() || sql[at + 1] != closing)) {
                    break;
                }
                at += sql[at] == closing ? 2 : 1; // a doubled mark stands for itself
            }
            at = std::min(at + 1, sql.size());
            out.push_back({std::string(sql.substr(begin, at - begin)), begin, at, false});
            continue;
        }
        if (isWordChar(c)) {
            while (at < sql.size() && isWordChar(sql[at])) {
                ++at;
            }
            std::string word(sql.substr(begin, at - begin));
            std::transform(word.begin(), word.end(), word.begin(),
                           [](unsigned char w) { return static_cast<char>(std::toupper(w)); });
            out.push_back({std::move(word), begin, at, true});
            continue;
        }
        ++at;
        out.push_back({std::string(1, c), begin, at, false});
    }
    return out;
}

bool isWord(const std::vector<Token>& tokens, std::size_t i, std::string_view word) {
    return i < tokens.size() && tokens[i].isWord && tokens[i].text == word;
}

std::string trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    return std::string(text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1));
}

// What a table's CREATE text holds that a table definition cannot carry.
void tableTextProblems(std::string_view sql, std::vector<std::string>& problems) {
    const std::vector<Token> t = tokenize(sql);
    std::set<std::string> found;
    for (std::size_t i = 0; i < t.size(); ++i) {
        if (isWord(t, i, "UNIQUE")) {
            found.insert("a UNIQUE constraint");
        } else if (isWord(t, i, "CHECK")) {
            found.insert("a CHECK constraint");
        } else if (isWord(t, i, "COLLATE")) {
            found.insert("a COLLATE clause");
        } else if (isWord(t, i, "WITHOUT")) {
            found.insert("WITHOUT ROWID");
        } else if (isWord(t, i, "STRICT")) {
            found.insert("a STRICT table");
        } else if (isWord(t, i, "DEFERRABLE") && !(i > 0 && isWord(t, i - 1, "NOT"))) {
            found.insert("a deferrable foreign key");
        } else if (isWord(t, i, "CONFLICT")) {
            // Carried only as PRIMARY KEY [ASC|DESC] ON CONFLICT mode.
            const bool ordered = i >= 3 && (isWord(t, i - 2, "ASC") || isWord(t, i - 2, "DESC"));
            const std::size_t key = i - (ordered ? 3 : 2);
            if (i < 3 || !isWord(t, key, "KEY") || !isWord(t, key - 1, "PRIMARY")) {
                found.insert("an ON CONFLICT clause outside a column's primary key");
            }
        }
    }
    problems.insert(problems.end(), found.begin(), found.end());
}

// What an index's CREATE text holds that its definition does not read back.
void indexTextProblems(const IndexDefinition& index, std::string_view sql,
                       std::vector<std::string>& problems) {
    const std::vector<Token> t = tokenize(sql);
    int depth = 0;
    std::size_t descending = 0;
    std::optional<std::string> where;
    for (std::size_t i = 0; i < t.size() && !where; ++i) {
        depth += t[i].text == "(" ? 1 : t[i].text == ")" ? -1 : 0;
        if (isWord(t, i, "COLLATE")) {
            problems.push_back("index " + index.name + " has a COLLATE clause");
        }
        descending += isWord(t, i, "DESC") ? 1 : 0;
        if (depth == 0 && isWord(t, i, "WHERE")) {
            where = trimmed(sql.substr(t[i].end));
        }
    }
    const std::optional<std::string> read = index.where ? std::optional(trimmed(*index.where)) : std::nullopt;
    if (read != where) {
        problems.push_back("the condition of index " + index.name + " does not read back");
    }
    const auto inColumns = [&](const auto& entry) {
        return std::find(index.columns.begin(), index.columns.end(), entry.first) != index.columns.end();
    };
    const auto& orders = *index.orders;
    if (orders.size() != descending || !std::all_of(orders.begin(), orders.end(), inColumns)) {
        problems.push_back("the order of index " + index.name + " does not read back");
    }
}

} // namespace

SchemaReader::SchemaReader(std::shared_ptr<Connection> connection, std::optional<SQLiteVersion> version,
                           std::optional<std::string> database)
    : connection_(std::move(connection))
    , version_(version)
    , database_(std::move(database)) {}

SQLiteVersion SchemaReader::version() {
    return version_ ? *version_ : connection_->sqliteVersion();
}

std::string SchemaReader::pragma(std::string_view name, std::string_view argument) const {
    return pragmaText(database_, name, std::string(argument));
}

std::optional<QualifiedName> SchemaReader::locateTable(std::string_view name) {
    std::vector<std::string> databases{"temp", "main"};
    for (std::string& d : connection_->prepareRowIterator("PRAGMA database_list").map([](const Row& row) {
             return row.get(column<std::string>("name"));
         })) {
        if (d != "main" && d != "temp") {
            databases.push_back(std::move(d));
        }
    }
    // "sqlite_master" names the schema table in every version, of temp too.
    for (const std::string& database : databases) {
        const std::optional<Binding> stored = connection_->scalar(
            "SELECT name FROM " + quote(database) +
                ".sqlite_master WHERE type IN ('table', 'view') AND name = ? COLLATE NOCASE",
            {Binding(std::string(name))});
        if (const auto* text = stored ? std::get_if<std::string>(&*stored) : nullptr) {
            return QualifiedName{database, *text};
        }
    }
    return std::nullopt;
}

std::vector<ObjectDefinition> SchemaReader::objectDefinitions(const std::optional<std::string>& name,
                                                              std::optional<ObjectType> type, bool temp) {
    const bool modern = version() >= schemaTableVersion;
    const std::string database = temp ? "temp" : database_.value_or("main");
    Table table = modern      ? Table("sqlite_schema", database)
                  : temp      ? Table("sqlite_temp_master")
                  : database_ ? Table("sqlite_master", database)
                              : Table("sqlite_master");
    if (name) {
        table = table.where(eq(column<std::string>("name"), *name));
    }
    if (type) {
        table = table.where(eq(column<std::string>("type"), std::string(objectTypeRawValues.raw(*type))));
    }
    return connection_->prepare(table).map([](const Row& row) {
        const std::string typeText = row.get(column<std::string>("type"));
        const std::optional<ObjectType> objectType = objectTypeRawValues.from(typeText);
        if (!objectType) {
            base::fatal("unexpected type");
        }
        return ObjectDefinition{*objectType, row.get(column<std::string>("name")),
                                row.get(column<std::string>("tbl_name")),
                                row.get(column<std::optional<std::int64_t>>("rootpage")).value_or(0),
                                row.get(column<std::optional<std::string>>("sql"))};
    });
}

static std::optional<std::string> firstSQL(const std::vector<ObjectDefinition>& objects) {
    const std::vector<std::string> texts = sqlTexts(objects);
    return texts.empty() ? std::nullopt : std::optional(texts.front());
}

std::optional<std::string> SchemaReader::tableSQL(std::string_view name) {
    std::vector<ObjectDefinition> objects = objectDefinitions(std::string(name), ObjectType::table);
    if (database_) {
        return firstSQL(objects);
    }
    const std::vector<ObjectDefinition> temp = objectDefinitions(std::string(name), ObjectType::table, true);
    objects.insert(objects.end(), temp.begin(), temp.end());
    return firstSQL(objects);
}

std::optional<std::string> SchemaReader::indexSQL(std::string_view name) {
    return firstSQL(objectDefinitions(std::string(name), ObjectType::index));
}

std::vector<ColumnDefinition::ForeignKey> SchemaReader::foreignKeys(std::string_view table) {
    const auto action = [](std::string text) {
        return text == "NO ACTION" ? std::nullopt : std::optional(std::move(text));
    };
    return connection_->prepareRowIterator(pragma("foreign_key_list", table)).map([&](const Row& row) {
        std::optional<std::string> to = row.get(column<std::optional<std::string>>("to"));
        std::string parent = row.get(column<std::string>("table"));
        if (!to) {
            // REFERENCES parent without a column names the parent's primary key.
            to = primaryKeyColumn(parent);
        }
        if (!to) {
            throw QueryError::unexpectedNullValue(quote("to"));
        }
        return ColumnDefinition::ForeignKey{std::move(parent), row.get(column<std::string>("from")),
                                            std::move(*to), action(row.get(column<std::string>("on_update"))),
                                            action(row.get(column<std::string>("on_delete")))};
    });
}

std::optional<std::string> SchemaReader::primaryKeyColumn(std::string_view table) {
    std::vector<std::string> keys =
        connection_->prepareRowIterator(pragma("table_info", table)).compactMap([](const Row& row) {
            return row.get(column<std::int64_t>("pk")) > 0
                       ? row.get(column<std::optional<std::string>>("name"))
                       : std::nullopt;
        });
    return keys.size() == 1 ? std::optional(std::move(keys.front())) : std::nullopt;
}

std::size_t SchemaReader::rowCount(const std::string& sql) {
    std::size_t count = 0;
    for (const Bindings& row : connection_->prepare(sql)) {
        static_cast<void>(row);
        ++count;
    }
    return count;
}

std::vector<ColumnDefinition> SchemaReader::columnDefinitions(std::string_view table) {
    std::map<std::string, ColumnDefinition::ForeignKey> firstReference;
    for (ColumnDefinition::ForeignKey& key : foreignKeys(table)) {
        firstReference.emplace(key.column, std::move(key));
    }
    std::vector<ColumnDefinition> columns =
        connection_->prepareRowIterator(pragma("table_info", table)).map([](const Row& row) {
            ColumnDefinition c;
            c.name = row.get(column<std::string>("name"));
            c.type = affinityOf(row.get(column<std::string>("type")));
            c.nullable = row.get(column<std::int64_t>("notnull")) == 0;
            c.defaultValue = LiteralValue::parse(row.get(column<std::optional<std::string>>("dflt_value")));
            if (row.get(column<std::optional<std::int64_t>>("pk")) == 1) {
                c.primaryKey = ColumnDefinition::PrimaryKey{}; // marks the column; its details below
            }
            return c;
        });
    for (ColumnDefinition& c : columns) {
        if (c.primaryKey) {
            const std::optional<std::string> sql = tableSQL(table);
            c.primaryKey = sql ? ColumnDefinition::PrimaryKey::parse(*sql) : std::nullopt;
        }
        if (auto r = firstReference.find(c.name); r != firstReference.end()) {
            c.references = r->second;
        }
    }
    return columns;
}

std::vector<std::string> SchemaReader::indexColumns(std::string_view name) {
    return connection_->prepareRowIterator(pragma("index_info", name)).compactMap([](const Row& row) {
        return row.get(column<std::optional<std::string>>("name"));
    });
}

std::vector<IndexDefinition> SchemaReader::indexDefinitions(std::string_view table) {
    struct Listed {
        std::string name;
        bool unique;
    };
    const std::vector<Listed> listed =
        connection_->prepareRowIterator(pragma("index_list", table)).map([](const Row& row) {
            return Listed{row.get(column<std::string>("name")), row.get(column<std::int64_t>("unique")) == 1};
        });
    std::vector<IndexDefinition> out;
    for (const Listed& l : listed) {
        if (l.name.starts_with("sqlite_")) {
            continue;
        }
        IndexDefinition index{std::string(table), l.name,       l.unique, indexColumns(l.name),
                              std::nullopt,       std::nullopt, database_};
        if (const std::optional<std::string> sql = indexSQL(l.name)) {
            index.where = IndexDefinition::parseWhere(*sql);
            index.orders = IndexDefinition::parseOrders(*sql);
        }
        out.push_back(std::move(index));
    }
    return out;
}

std::vector<std::string> SchemaReader::rebuildProblems(std::string_view table) {
    std::vector<std::string> problems;
    if (const std::optional<std::string> sql = tableSQL(table)) {
        tableTextProblems(*sql, problems);
    }
    struct Info {
        std::string name;
        std::string type;
        std::int64_t pk;
        std::int64_t hidden;
    };
    const std::vector<Info> info =
        connection_->prepareRowIterator(pragma("table_xinfo", table)).map([](const Row& row) {
            return Info{row.get(column<std::string>("name")), row.get(column<std::string>("type")),
                        row.get(column<std::int64_t>("pk")), row.get(column<std::int64_t>("hidden"))};
        });
    for (const Info& c : info) {
        if (c.hidden != 0) {
            problems.push_back("generated column " + c.name);
        }
        if (c.pk > 1) {
            problems.push_back("a primary key over several columns");
        }
    }
    // A key declared INT, BIGINT, ... is no row id alias; rebuilt as INTEGER PRIMARY KEY it would be.
    const bool composite = std::any_of(info.begin(), info.end(), [](const Info& c) { return c.pk > 1; });
    for (const Info& c : info) {
        std::string type = c.type;
        std::transform(type.begin(), type.end(), type.begin(),
                       [](unsigned char w) { return static_cast<char>(std::toupper(w)); });
        if (c.pk == 1 && !composite && affinityOf(type) == Affinity::INTEGER && type != "INTEGER") {
            problems.push_back("primary key " + c.name + " declared " + c.type + ", not INTEGER");
        }
    }
    struct Link {
        std::int64_t seq;
        std::string from;
    };
    std::set<std::string> referencing;
    for (const Link& link :
         connection_->prepareRowIterator(pragma("foreign_key_list", table)).map([](const Row& r) {
             return Link{r.get(column<std::int64_t>("seq")), r.get(column<std::string>("from"))};
         })) {
        if (link.seq > 0) {
            problems.push_back("a foreign key over several columns");
        }
        if (!referencing.insert(link.from).second) {
            problems.push_back("two foreign keys on column " + link.from);
        }
    }
    for (const ObjectDefinition& o : objectDefinitions(std::nullopt, ObjectType::trigger)) {
        if (sameName(o.tableName, table)) {
            problems.push_back("trigger " + o.name);
        }
    }
    for (const IndexDefinition& index : indexDefinitions(table)) {
        const std::optional<std::string> sql = indexSQL(index.name);
        if (!sql) {
            continue;
        }
        if (indexColumns(index.name).size() != rowCount(pragma("index_info", index.name))) {
            problems.push_back("index " + index.name + " on an expression");
        }
        indexTextProblems(index, *sql, problems);
    }
    std::sort(problems.begin(), problems.end());
    problems.erase(std::unique(problems.begin(), problems.end()), problems.end());
    return problems;
}

// Runs a check pragma to its end, then steps through its rows again.
static Statement checked(Connection& connection, const std::string& sql) {
    Statement s = connection.prepare(sql);
    s.run();
    return s;
}

std::vector<ForeignKeyError> foreignKeyCheck(Connection& connection, const std::optional<std::string>& table,
                                             const std::optional<std::string>& database) {
    Statement s = checked(connection, pragmaText(database, "foreign_key_check", table));
    std::vector<ForeignKeyError> out;
    for (const Bindings& row : s) {
        const auto* from = row.size() > 2 && row[0] ? std::get_if<std::string>(&*row[0]) : nullptr;
        const auto* rowId = row.size() > 2 && row[1] ? std::get_if<std::int64_t>(&*row[1]) : nullptr;
        const auto* to = row.size() > 2 && row[2] ? std::get_if<std::string>(&*row[2]) : nullptr;
        if (from != nullptr && rowId != nullptr && to != nullptr) {
            out.push_back({*from, *rowId, *to});
        }
    }
    return out;
}

std::vector<std::string> integrityCheck(Connection& connection, const std::optional<std::string>& table) {
    if (table && connection.sqliteVersion() < schemaTableVersion) {
        base::fatal("a table's integrity check needs SQLite 3.33.0");
    }
    Statement s = checked(connection, pragmaText(std::nullopt, "integrity_check", table));
    std::vector<std::string> out;
    for (const Bindings& row : s) {
        const auto* text = !row.empty() && row[0] ? std::get_if<std::string>(&*row[0]) : nullptr;
        if (text != nullptr && *text != "ok") {
            out.push_back(*text);
        }
    }
    return out;
}

} // namespace sql
