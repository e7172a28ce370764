#include "sql/schema/TableBuilder.h"

namespace sql {

std::string schemaSQL(const Expression<>& statement) {
    const std::string& text = statement.templateText;
    std::string out;
    out.reserve(text.size() + 8 * statement.bindings.size());
    std::size_t next = 0;
    char inQuote = 0; // the mark of the quoted name or text we are in; a doubled mark toggles twice
    for (char c : text) {
        if (inQuote != 0) {
            inQuote = c == inQuote ? 0 : inQuote;
        } else if (c == '"' || c == '\'') {
            inQuote = c;
        } else if (c == '?' && next < statement.bindings.size()) {
            out += literal(statement.bindings[next++]);
            continue;
        }
        out += c;
    }
    return out;
}

static Expression<> word(std::string_view text) {
    return Expression<>(std::string(text));
}

Expression<> joinPresent(std::vector<Expression<>> list) {
    std::erase_if(list, [](const Expression<>& e) { return e.templateText.empty(); });
    return joinExpressions(list, " ");
}

Expression<> referenceClause(const Reference& reference) {
    return joinPresent({word("REFERENCES"), reference.table, wrapInFunction("", reference.columns)});
}

Expression<> columnDefinition(const Expression<>& column, std::string_view datatype,
                              std::optional<PrimaryKey> primaryKey, bool null, bool unique,
                              const std::optional<Expression<std::optional<bool>>>& check,
                              const Expression<>* defaultValue, const std::optional<Reference>& references,
                              const std::optional<Collation>& collate) {
    std::vector<Expression<>> list{column, word(datatype)};
    if (primaryKey) {
        list.push_back(
            word(*primaryKey == PrimaryKey::autoincrement ? "PRIMARY KEY AUTOINCREMENT" : "PRIMARY KEY"));
    }
    if (!null) {
        list.push_back(word("NOT NULL"));
    }
    if (unique) {
        list.push_back(word("UNIQUE"));
    }
    if (check) {
        list.push_back(wrapInFunction("CHECK ", *check));
    }
    if (defaultValue != nullptr) {
        list.push_back(wrapInFunction("DEFAULT ", *defaultValue));
    }
    if (references) {
        list.push_back(referenceClause(*references));
    }
    if (collate) {
        list.push_back(joinPresent({word("COLLATE"), collate->expression()}));
    }
    return joinPresent(std::move(list));
}

Expression<> createPrefix(std::string_view keyword, const Expression<>& name, std::string_view modifier,
                          bool ifNotExists) {
    return joinPresent(
        {word("CREATE"), word(modifier), word(keyword), word(ifNotExists ? "IF NOT EXISTS" : ""), name});
}

Expression<> foreignKeyClause(const Expression<>& columns, const Reference& reference,
                              std::optional<Dependency> update, std::optional<Dependency> del) {
    std::vector<Expression<>> list{wrapInFunction("FOREIGN KEY ", columns), referenceClause(reference)};
    if (update) {
        list.push_back(word("ON UPDATE " + std::string(dependencyRawValues.raw(*update))));
    }
    if (del) {
        list.push_back(word("ON DELETE " + std::string(dependencyRawValues.raw(*del))));
    }
    return joinPresent(std::move(list));
}

std::string create(const Table& table, const std::function<void(TableBuilder&)>& block,
                   CreateTableOptions options) {
    TableBuilder builder;
    block(builder);
    return schemaSQL(joinPresent({createPrefix("TABLE", table.tableName(false),
                                               options.temporary ? "TEMPORARY" : "", options.ifNotExists),
                                  wrapInFunction("", joinExpressions(builder.definitions, ", ")),
                                  word(options.withoutRowid ? "WITHOUT ROWID" : "")}));
}

std::string createAs(const Table& table, const Expression<>& query, bool temporary, bool ifNotExists) {
    return schemaSQL(
        joinPresent({createPrefix("TABLE", table.tableName(false), temporary ? "TEMPORARY" : "", ifNotExists),
                     word("AS"), query}));
}

} // namespace sql
