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
    switch (operation.kind) {
    case Kind::addColumn:
        base::fatal("Use 'ALTER TABLE ADD COLUMN (...)'");
    case Kind::dropColumn: {
        const std::string& c = operation.name;
        std::erase_if(out.columns, [&](const ColumnDefinition& d) { return d.name == c; });
        std::erase_if(out.indexes, [&](const IndexDefinition& i) {
            return std::find(i.columns.begin(), i.columns.end(), c) != i.columns.end();
        });
        break;
    }
    case Kind::renameColumn:
        for (ColumnDefinition& d : out.columns) {
            if (d.name == operation.name) {
                d.name = operation.newName;
            }
        }
        for (IndexDefinition& i : out.indexes) {
            std::replace(i.columns.begin(), i.columns.end(), operation.name, operation.newName);
            // A descending column stays descending under its new name.
            if (i.orders) {
                if (auto node = i.orders->extract(operation.name)) {
                    node.key() = operation.newName;
                    i.orders->insert(std::move(node));
                }
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

void SchemaChanger::migrateByCopy(const std::string& table, const Operation& operation) {
    Connection& db = *connection_;
    const std::string copy = "tmp_" + table;
    const auto rebuild = [&] {
        const std::vector<std::string> problems = reader_.rebuildProblems(table);
        if (!problems.empty()) {
            throw Error::cannotRebuild(table, problems);
        }
        const TableDefinition source{table, reader_.columnDefinitions(table),
                                     reader_.indexDefinitions(table)};
        const TableDefinition target = apply(apply(source, Operation::renameTable(copy)), operation);
        for (const IndexDefinition& index : target.indexes) {
            index.checkNameLength();
        }
        // The copy lives where the table lives: a temporary copy of a main table would vanish
        // with the connection, rows and all, and a main copy of a temporary one would stay.
        const bool temporary = reader_.objectDefinitions(table, ObjectType::table).empty();
        run(target.toSQL(temporary));
        run((operation.kind == Operation::Kind::dropColumn ? apply(source, operation) : source)
                .copySQL(target));
        // AUTOINCREMENT never reuses a number: keep the table's counter, not the copy's maximum.
        std::optional<Binding> sequence;
        if (std::any_of(source.columns.begin(), source.columns.end(), [](const ColumnDefinition& c) {
                return c.primaryKey && c.primaryKey->autoIncrement;
            })) {
            sequence = db.scalar("SELECT seq FROM sqlite_sequence WHERE name = ?", {Binding(table)});
        }
        drop(table, true);
        // Views and triggers that name the table would fail the modern rename's check while
        // the table is gone; the legacy rename leaves them be.
        const std::optional<Binding> legacy = db.scalar("PRAGMA legacy_alter_table");
        const std::string restoreLegacy =
            "PRAGMA legacy_alter_table = " + std::string(legacy == Binding(std::int64_t{1}) ? "1" : "0");
        db.execute("PRAGMA legacy_alter_table = 1");
        try {
            rename(copy, table);
        } catch (...) {
            db.execute(restoreLegacy);
            throw;
        }
        db.execute(restoreLegacy);
        if (sequence) {
            db.run("DELETE FROM sqlite_sequence WHERE name = ?", {Binding(table)});
            db.run("INSERT INTO sqlite_sequence (name, seq) VALUES (?, ?)", {Binding(table), sequence});
        }
        // The indexes went with the old table; they come back under their own names.
        for (IndexDefinition index : target.indexes) {
            index.table = table;
            run(index.toSQL());
        }
        std::vector<ForeignKeyError> errors = foreignKeyCheck(db);
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
