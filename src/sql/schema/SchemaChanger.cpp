#include "sql/schema/SchemaChanger.h"

#include "base/Log.h"

#include <algorithm>

namespace sql {

SchemaChanger::Error SchemaChanger::Error::invalidColumnDefinition(std::string message) {
    return Error(Kind::invalidColumnDefinition, "Invalid column definition: " + message);
}

SchemaChanger::Error SchemaChanger::Error::foreignKeyError(std::vector<ForeignKeyError> errors) {
    std::string list;
    for (const ForeignKeyError& e : errors) {
        list += (list.empty() ? "" : ", ") + e.description();
    }
    return Error(Kind::foreignKeyError, "Foreign key errors: [" + list + "]", std::move(errors));
}

SchemaChanger::Error SchemaChanger::Error::cannotRebuild(std::string_view table,
                                                         const std::vector<std::string>& problems) {
    std::string list;
    for (const std::string& p : problems) {
        list += (list.empty() ? "" : "; ") + p;
    }
    return Error(Kind::cannotRebuild, "Cannot rebuild table '" + std::string(table) + "': it has " + list);
}

SchemaChanger::SchemaChanger(std::shared_ptr<Connection> connection, std::optional<SQLiteVersion> version)
    : connection_(std::move(connection))
    , reader_(connection_, version)
    , version_(version ? *version : connection_->sqliteVersion()) {}

std::string SchemaChanger::description() const {
    return "SQLiteSchemaChanger: " + connection_->description();
}

void SchemaChanger::run(const std::string& sql) {
    connection_->run(sql);
}

void SchemaChanger::drop(std::string_view table, bool ifExists) {
    run("DROP TABLE " + std::string(ifExists ? "IF EXISTS" : "") + " " + quote(table));
}

void SchemaChanger::rename(std::string_view table, std::string_view to) {
    run("ALTER TABLE " + quote(table) + " RENAME TO " + quote(to));
}

std::optional<std::string> SchemaChanger::alterTableSQL(const Operation& operation, std::string_view table,
                                                        SQLiteVersion version) {
    const std::string alter = "ALTER TABLE " + quote(table);
    switch (operation.kind) {
    case Operation::Kind::addColumn:
        return alter + " ADD COLUMN " + operation.column->toSQL();
    case Operation::Kind::dropColumn:
        if (version >= SQLiteVersion{3, 35, 0}) {
            return alter + " DROP COLUMN " + quote(operation.name);
        }
        return std::nullopt;
    case Operation::Kind::renameColumn:
        if (version >= SQLiteVersion{3, 25, 0}) {
            return alter + " RENAME COLUMN " + quote(operation.name) + " TO " + quote(operation.newName);
        }
        return std::nullopt;
    case Operation::Kind::renameTable:
        return std::nullopt;
    }
    return std::nullopt;
}

void SchemaChanger::validateAddColumn(const Operation& operation) {
    if (operation.kind != Operation::Kind::addColumn) {
        return;
    }
    const ColumnDefinition& c = *operation.column;
    using Kind = LiteralValue::Kind;
    const Kind d = c.defaultValue.kind;
    if (c.primaryKey) {
        throw Error::invalidColumnDefinition("can not add primary key column");
    }
    if (d == Kind::currentTime || d == Kind::currentDate || d == Kind::currentTimestamp) {
        throw Error::invalidColumnDefinition("Invalid default value");
    }
    if (!c.nullable && d == Kind::null) {
        throw Error::invalidColumnDefinition("NOT NULL columns must have a default value other than NULL");
    }
}

void SchemaChanger::alter(const std::string& table, const std::function<void(AlterTableDefinition&)>& block) {
    AlterTableDefinition definition(table);
    block(definition);
    for (const Operation& operation : definition.operations) {
        validateAddColumn(operation);
        if (const std::optional<std::string> sql = alterTableSQL(operation, table, version_)) {
            run(*sql);
        } else {
            migrateByCopy(table, operation);
        }
    }
}

TableDefinition apply(const TableDefinition& table, const SchemaChanger::Operation& operation) {
    using Kind = SchemaChanger::Operation::Kind;
    TableDefinition out = table;
    const auto named = [&](std::string_view name) { return sameName(name, operation.name); };
    switch (operation.kind) {
    case Kind::addColumn:
        base::fatal("Use 'ALTER TABLE ADD COLUMN (...)'");
    case Kind::dropColumn:
        std::erase_if(out.columns, [&](const ColumnDefinition& d) { return named(d.name); });
        std::erase_if(out.indexes, [&](const IndexDefinition& i) {
            return std::any_of(i.columns.begin(), i.columns.end(), named);
        });
        break;
    case Kind::renameColumn:
        for (ColumnDefinition& d : out.columns) {
            if (named(d.name)) {
                d.name = operation.newName;
            }
        }
        for (IndexDefinition& i : out.indexes) {
            std::replace_if(i.columns.begin(), i.columns.end(), named, operation.newName);
            // A descending column stays descending under its new name.
            if (!i.orders) {
                continue;
            }
            const auto order = std::find_if(i.orders->begin(), i.orders->end(),
                                            [&](const auto& entry) { return named(entry.first); });
            if (order != i.orders->end()) {
                auto node = i.orders->extract(order);
                node.key() = operation.newName;
                i.orders->insert(std::move(node));
            }
        }
        break;
    case Kind::renameTable:
        out.name = operation.name;
        for (IndexDefinition& i : out.indexes) {
            i.table = operation.name;
        }
        break;
    }
    return out;
}

// SQLITE_ERROR, the code of SQLite's own refusals of an ALTER TABLE.
constexpr int sqliteError = 1;

// What SQLite's own ALTER TABLE refuses about the column, in its words, so that a rebuild
// fails as the native statement would, before it writes anything.
static void checkColumn(const TableDefinition& table, const SchemaChanger::Operation& operation) {
    using Kind = SchemaChanger::Operation::Kind;
    if (operation.kind != Kind::dropColumn && operation.kind != Kind::renameColumn) {
        return;
    }
    if (std::none_of(table.columns.begin(), table.columns.end(),
                     [&](const ColumnDefinition& c) { return sameName(c.name, operation.name); })) {
        // SQLite echoes the name as the statement wrote it, quotes and all.
        throw Result("no such column: \"" + quote(operation.name) + "\"", sqliteError);
    }
    if (operation.kind == Kind::dropColumn && table.columns.size() == 1) {
        throw Result("cannot drop column \"" + operation.name + "\": no other columns exist", sqliteError);
    }
}

void SchemaChanger::migrateByCopy(const std::string& table, const Operation& operation) {
    Connection& db = *connection_;
    const auto rebuild = [&] {
        // Every statement names the table's own database: an unqualified CREATE would put the
        // copy in main (or temp), and the renamed copy, rows and all, would leave the file
        // that held the table.
        const std::optional<QualifiedName> found = reader_.locateTable(table);
        if (!found) {
            throw Result("no such table: " + table, sqliteError);
        }
        const std::string& name = found->name;
        const std::optional<std::string> database = found->database;
        const std::string copy = "tmp_" + name;
        SchemaReader reader(connection_, version_, database);
        const std::vector<std::string> problems = reader.rebuildProblems(name);
        if (!problems.empty()) {
            throw Error::cannotRebuild(name, problems);
        }
        const TableDefinition source{name, reader.columnDefinitions(name), reader.indexDefinitions(name),
                                     database};
        checkColumn(source, operation);
        const TableDefinition target = apply(apply(source, Operation::renameTable(copy)), operation);
        for (const IndexDefinition& index : target.indexes) {
            index.checkNameLength();
        }
        run(target.toSQL());
        run((operation.kind == Operation::Kind::dropColumn ? apply(source, operation) : source)
                .copySQL(target));
        // AUTOINCREMENT never reuses a number: keep the table's counter, not the copy's maximum.
        const std::string sequenceTable = qualifiedName(database, "sqlite_sequence");
        std::optional<Binding> sequence;
        if (std::any_of(source.columns.begin(), source.columns.end(), [](const ColumnDefinition& c) {
                return c.primaryKey && c.primaryKey->autoIncrement;
            })) {
            sequence = db.scalar("SELECT seq FROM " + sequenceTable + " WHERE name = ?", {Binding(name)});
        }
        run("DROP TABLE IF EXISTS " + qualifiedName(database, name));
        // Views and triggers that name the table would fail the modern rename's check while
        // the table is gone; the legacy rename leaves them be.
        const std::optional<Binding> legacy = db.scalar("PRAGMA legacy_alter_table");
        const std::string restoreLegacy =
            "PRAGMA legacy_alter_table = " + std::string(legacy == Binding(std::int64_t{1}) ? "1" : "0");
        db.execute("PRAGMA legacy_alter_table = 1");
        try {
            run("ALTER TABLE " + qualifiedName(database, copy) + " RENAME TO " + quote(name));
        } catch (...) {
            db.execute(restoreLegacy);
            throw;
        }
        db.execute(restoreLegacy);
        if (sequence) {
            db.run("DELETE FROM " + sequenceTable + " WHERE name = ?", {Binding(name)});
            db.run("INSERT INTO " + sequenceTable + " (name, seq) VALUES (?, ?)", {Binding(name), sequence});
        }
        // The indexes went with the old table; they come back under their own names.
        for (IndexDefinition index : target.indexes) {
            index.table = name;
            run(index.toSQL());
        }
        std::vector<ForeignKeyError> errors = foreignKeyCheck(db, std::nullopt, database);
        if (!errors.empty()) {
            throw Error::foreignKeyError(std::move(errors));
        }
    };
    db.sync([&] {
        const bool enforced = db.foreignKeys();
        const bool deferred = db.deferForeignKeys();
        // Outside the transaction, where SQLite honours it.
        db.setForeignKeys(false);
        try {
            db.runTransaction(
                "BEGIN DEFERRED TRANSACTION",
                [&] {
                    db.setDeferForeignKeys(true);
                    try {
                        rebuild();
                    } catch (...) {
                        db.setDeferForeignKeys(deferred);
                        throw;
                    }
                    db.setDeferForeignKeys(deferred);
                },
                "COMMIT TRANSACTION", "ROLLBACK TRANSACTION");
        } catch (...) {
            db.setForeignKeys(enforced);
            throw;
        }
        db.setForeignKeys(enforced);
    });
}

} // namespace sql
