// Full-text (FTS4, FTS5) and R*Tree modules as typed configurations, their tokenizers, and
// the MATCH predicate that queries a full-text table.
#pragma once

#include "sql/schema/Statements.h"

#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace sql {

// A tokenizer and its options (key, value). FTS4 and FTS5 spell them differently, so each
// module renders its own form. Custom tokenizers are not offered: SQLite needs them registered
// through its C interface first, which this layer does not do.
struct Tokenizer {
    std::string name;
    std::vector<std::pair<std::string, std::string>> options;

    static Tokenizer simple() { return {"simple", {}}; }
    static Tokenizer porter() { return {"porter", {}}; }
    // Without removeDiacritics SQLite's default applies. Each character of the sets is kept
    // once, in the order given.
    static Tokenizer unicode61(std::optional<bool> removeDiacritics = std::nullopt,
                               std::string_view tokenchars = {}, std::string_view separators = {});
    // FTS5 only.
    static Tokenizer trigram(bool caseSensitive);

    // FTS4's form: name "key=value" ..., for example unicode61 "remove_diacritics=0".
    std::string description() const;
    // FTS5's form: one quoted text 'name key value ...', values with other characters than
    // letters and digits quoted inside it.
    std::string fts5Text() const;
    bool operator==(const Tokenizer&) const = default;
};

enum class FTSColumnOption { unindexed };

struct FTSSettings {
    struct Column {
        Expression<> expression;
        bool unindexed = false;
    };
    std::vector<Column> columns;
    std::optional<Tokenizer> tokenizer;
    std::vector<int> prefixes;
    std::optional<Expression<>> externalContent;
    bool contentless = false;
};

// The settings both full-text modules share; each builder returns the configuration itself.
template <class Derived> class FTSConfig {
public:
    FTSSettings settings;

    Derived& column(const Expression<>& column, std::initializer_list<FTSColumnOption> options = {}) {
        settings.columns.push_back({column, options.size() > 0});
        return self();
    }
    Derived& columns(const std::vector<Expression<>>& columns) {
        for (const Expression<>& c : columns) {
            column(c);
        }
        return self();
    }
    Derived& tokenizer(std::optional<Tokenizer> tokenizer) {
        settings.tokenizer = std::move(tokenizer);
        return self();
    }
    // Accumulates; written sorted.
    Derived& prefix(const std::vector<int>& lengths) {
        settings.prefixes.insert(settings.prefixes.end(), lengths.begin(), lengths.end());
        return self();
    }
    // The table's plain name: SQLite looks it up in the full-text table's own database and
    // does not parse a database-qualified name there.
    template <class Q> Derived& externalContent(const QueryType<Q>& table) {
        settings.externalContent = Expression<>(quote(table.clauses.from.name));
        return self();
    }
    // Wins over an external content table.
    Derived& contentless() {
        settings.contentless = true;
        return self();
    }

private:
    Derived& self() { return static_cast<Derived&>(*this); }
};

class FTS4Config : public FTSConfig<FTS4Config> {
public:
    enum class Order { asc, desc };
    std::optional<std::string> compressFunction;
    std::optional<std::string> uncompressFunction;
    std::optional<std::string> languageIdColumn;
    bool matchInfoFts3 = false;
    std::optional<Order> order;

    FTS4Config& compress(std::string function) { return set(compressFunction, std::move(function)); }
    FTS4Config& uncompress(std::string function) { return set(uncompressFunction, std::move(function)); }
    FTS4Config& languageId(std::string column) { return set(languageIdColumn, std::move(column)); }
    FTS4Config& matchInfo() {
        matchInfoFts3 = true;
        return *this;
    }
    FTS4Config& orderBy(Order o) { return set(order, o); }

    // The module arguments: columns, tokenize, prefix, content, notindexed, languageid,
    // compress, uncompress, matchinfo, order.
    std::vector<Expression<>> options() const;

private:
    template <class T> FTS4Config& set(std::optional<T>& field, T value) {
        field = std::move(value);
        return *this;
    }
};

class FTS5Config : public FTSConfig<FTS5Config> {
public:
    enum class Detail { full, column, none };
    std::optional<Expression<>> contentRowIdColumn;
    std::optional<std::int64_t> columnSizeValue;
    std::optional<Detail> detailValue;

    FTS5Config& contentRowId(const Expression<>& column) {
        contentRowIdColumn = column;
        return *this;
    }
    FTS5Config& columnSize(std::int64_t size) {
        columnSizeValue = size;
        return *this;
    }
    FTS5Config& detail(Detail d) {
        detailValue = d;
        return *this;
    }

    // Columns (UNINDEXED ones marked), tokenize, prefix, content, content_rowid, columnsize,
    // detail.
    std::vector<Expression<>> options() const;
};

Module fts4(const FTS4Config& config);
Module fts4(const std::vector<Expression<>>& columns, std::optional<Tokenizer> tokenizer = std::nullopt);
Module fts5(const FTS5Config& config);
// rtree(id, min1, max1, min2, max2, ...); SQLite takes one to five pairs.
Module rtree(const Expression<>& id, const std::vector<std::pair<Expression<>, Expression<>>>& pairs);

// The table as MATCH's left operand: its alias or name; in a named database "db"."t"."t",
// since "db"."t" alone reads as column t of a table db.
Expression<> matchOperand(const VirtualTable& table);

// ("table" MATCH pattern): a text is bound, an expression brings its own bindings.
Expression<bool> match(const VirtualTable& table, const std::string& pattern);
template <class T>
requires std::is_same_v<T, std::string> || std::is_same_v<T, std::optional<std::string>> Expression <
    std::conditional_t < detail::IsOptional<T>::value,
    std::optional<bool>,
bool >> match(const VirtualTable& table, const Expression<T>& pattern) {
    return infixExpression<std::conditional_t<detail::IsOptional<T>::value, std::optional<bool>, bool>>(
        matchOperand(table), pattern, "MATCH", true);
}
// The query with the MATCH predicate ANDed to its filter.
template <class P> VirtualTable matchFilter(const VirtualTable& table, const P& pattern) {
    return table.filter(match(table, pattern));
}

} // namespace sql
