#include "sql/schema/Statements.h"

namespace sql {

Module::Module(std::string_view name, std::vector<Expression<>> arguments)
    : name(quote(name))
    , arguments(std::move(arguments)) {}

Module Module::builtIn(std::string name, std::vector<Expression<>> arguments) {
    Module m;
    m.name = std::move(name);
    m.arguments = std::move(arguments);
    return m;
}

Expression<> Module::expression() const {
    return wrapInFunction(name, joinExpressions(arguments, ", "));
}

std::string addColumnSQL(const Table& table, const Expression<>& definition) {
    return schemaSQL(joinPresent(
        {Expression<>("ALTER TABLE"), table.tableName(false), Expression<>("ADD COLUMN"), definition}));
}

std::string rename(const Table& table, const Table& to) {
    return schemaSQL(joinPresent({Expression<>("ALTER TABLE"), table.tableName(false),
                                  Expression<>("RENAME TO"), Expression<>(quote(to.clauses.from.name))}));
}

Expression<> indexName(const Table& table, const std::vector<Expression<>>& columns) {
    std::string text = "index " + table.clauses.from.name + " on";
    for (const Expression<>& c : columns) {
        text += " " + c.templateText;
    }
    std::string name;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const auto c = static_cast<unsigned char>(text[at]);
        if (c == '"') {
            continue;
        }
        const char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : static_cast<char>(c);
        if ((lower >= 'a' && lower <= 'z') || (lower >= '0' && lower <= '9')) {
            name += lower;
            continue;
        }
        name += '_';
        // One "_" per code point: skip the continuation bytes of a multi-byte character.
        while (c >= 0xC0 && at + 1 < text.size() &&
               (static_cast<unsigned char>(text[at + 1]) & 0xC0) == 0x80) {
            ++at;
        }
    }
    const auto& database = table.clauses.from.database;
    return Expression<>(database ? quote(*database) + "." + quote(name) : quote(name));
}

std::string createIndex(const Table& table, const std::vector<Expression<>>& columns, IndexOptions options) {
    return schemaSQL(joinPresent({createPrefix("INDEX", indexName(table, columns),
                                               options.unique ? "UNIQUE" : "", options.ifNotExists),
                                  Expression<>("ON"), table.tableNameQualified(false),
                                  wrapInFunction("", joinExpressions(columns, ", "))}));
}

std::string dropStatement(std::string_view keyword, const Expression<>& name, bool ifExists) {
    return schemaSQL(joinPresent(
        {Expression<>("DROP " + std::string(keyword)), Expression<>(ifExists ? "IF EXISTS" : ""), name}));
}

std::string dropIndex(const Table& table, const std::vector<Expression<>>& columns, bool ifExists) {
    return dropStatement("INDEX", indexName(table, columns), ifExists);
}

std::string drop(const Table& table, bool ifExists) {
    return dropStatement("TABLE", table.tableName(false), ifExists);
}

std::string drop(const View& view, bool ifExists) {
    return dropStatement("VIEW", view.tableName(false), ifExists);
}

std::string drop(const VirtualTable& table, bool ifExists) {
    return dropStatement("TABLE", table.tableName(false), ifExists);
}

std::string createViewSQL(const View& view, const Expression<>& query, bool temporary, bool ifNotExists) {
    return schemaSQL(
        joinPresent({createPrefix("VIEW", view.tableName(false), temporary ? "TEMPORARY" : "", ifNotExists),
                     Expression<>("AS"), query}));
}

std::string create(const VirtualTable& table, const Module& module, bool ifNotExists) {
    return schemaSQL(joinPresent({createPrefix("VIRTUAL TABLE", table.tableName(false), "", ifNotExists),
                                  Expression<>("USING"), module.expression()}));
}

} // namespace sql
