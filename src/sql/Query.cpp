#include "sql/Query.h"

#include "sql/Errors.h"

#include <array>

namespace sql {

QueryClauses::QueryClauses(std::string name, std::optional<std::string> alias,
                           std::optional<std::string> database)
    : select{false, {starExpression()}}
    , from{std::move(name), std::move(alias), std::move(database)} {}

Setter Setter::bound(const Expression<>& column, std::optional<Binding>&& value) {
    Setter s{column, Expression<>("?")};
    s.value.bindings.emplace_back(std::move(value));
    return s;
}

Expression<> Setter::expression() const {
    Expression<> e(column.templateText + " = " + value.templateText, column.bindings);
    e.bindings.insert(e.bindings.end(), value.bindings.begin(), value.bindings.end());
    return e;
}

namespace {

// Pieces joined with single spaces; a present piece counts even when its text is empty.
class Pieces {
public:
    Pieces& text(std::string_view t) {
        separate();
        out_.templateText += t;
        return *this;
    }
    Pieces& expr(const Expression<>& e) {
        separate();
        add(e);
        return *this;
    }
    // The expressions joined with ", ", wrapped in parentheses when asked.
    Pieces& list(const std::vector<Expression<>>& items, bool wrap) {
        separate();
        if (wrap) {
            out_.templateText += '(';
        }
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (i > 0) {
                out_.templateText += ", ";
            }
            add(items[i]);
        }
        if (wrap) {
            out_.templateText += ')';
        }
        return *this;
    }
    // (column, column, ...) VALUES (value, value, ...), moving the values' bindings.
    Pieces& columnsAndValues(std::span<Setter* const> items) {
        separate();
        out_.templateText += '(';
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (i > 0) {
                out_.templateText += ", ";
            }
            add(items[i]->column);
        }
        out_.templateText += ") VALUES (";
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (i > 0) {
                out_.templateText += ", ";
            }
            out_.templateText += items[i]->value.templateText;
            for (auto& b : items[i]->value.bindings) {
                out_.bindings.push_back(std::move(b));
            }
        }
        out_.templateText += ')';
        return *this;
    }
    Pieces& setters(const std::vector<Setter>& items) {
        separate();
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (i > 0) {
                out_.templateText += ", ";
            }
            add(items[i].column);
            out_.templateText += " = ";
            add(items[i].value);
        }
        return *this;
    }
    // Appends to the current piece without a separator.
    Pieces& raw(std::string_view t) {
        out_.templateText += t;
        return *this;
    }
    Pieces& rawExpr(const Expression<>& e) {
        add(e);
        return *this;
    }
    Expression<> take() { return std::move(out_); }
    void reserve(std::size_t text, std::size_t bindings) {
        out_.templateText.reserve(text);
        out_.bindings.reserve(bindings);
    }

private:
    void separate() {
        if (!first_) {
            out_.templateText += ' ';
        }
        first_ = false;
    }
    void add(const Expression<>& e) {
        out_.templateText += e.templateText;
        out_.bindings.insert(out_.bindings.end(), e.bindings.begin(), e.bindings.end());
    }
    Expression<> out_;
    bool first_ = true;
};

void wherePiece(Pieces& p, const QueryClauses& c) {
    if (c.filters) {
        p.text("WHERE").expr(*c.filters);
    }
}

void orderPiece(Pieces& p, const QueryClauses& c) {
    if (!c.order.empty()) {
        p.text("ORDER BY").list(c.order, false);
    }
}

void limitPiece(Pieces& p, const QueryClauses& c) {
    if (c.limit) {
        p.text("LIMIT " + std::to_string(c.limit->length));
        if (c.limit->offset) {
            p.text("OFFSET " + std::to_string(*c.limit->offset));
        }
    }
}

void splitSetters(const std::vector<Setter>& setters, std::vector<Expression<>>& columns,
                  std::vector<Expression<>>& values) {
    columns.reserve(setters.size());
    values.reserve(setters.size());
    for (const Setter& s : setters) {
        columns.push_back(s.column);
        values.push_back(s.value);
    }
}

std::string nameWithDatabase(const FromClause& from, const std::string& name) {
    if (from.database) {
        return quote(*from.database) + "." + quote(name);
    }
    return quote(name);
}

// The text of a one-row INSERT depends on these alone, never on the bound values.
struct InsertShape {
    std::optional<OnConflict> onConflict;
    FromClause from;
    std::vector<std::string> columns;
    std::vector<std::string> values;
    std::optional<std::string> filter;
    std::string text;

    bool matches(const QueryClauses& c, std::optional<OnConflict> conflict,
                 std::span<Setter* const> setters) const {
        if (onConflict != conflict || columns.size() != setters.size() || from.name != c.from.name ||
            from.alias != c.from.alias || from.database != c.from.database) {
            return false;
        }
        if (c.filters ? !filter || *filter != c.filters->templateText : filter.has_value()) {
            return false;
        }
        for (std::size_t i = 0; i < setters.size(); ++i) {
            if (columns[i] != setters[i]->column.templateText ||
                values[i] != setters[i]->value.templateText) {
                return false;
            }
        }
        return true;
    }
};

// Rows inserted one by one render the same text each time: the last few texts per thread,
// compared field by field, which costs less than rendering anew.
class InsertTextCache {
public:
    const std::string* find(const QueryClauses& c, std::optional<OnConflict> onConflict,
                            std::span<Setter* const> setters) const {
        for (std::size_t i = 0; i < used_; ++i) {
            if (shapes_[i].matches(c, onConflict, setters)) {
                return &shapes_[i].text;
            }
        }
        return nullptr;
    }
    void add(const QueryClauses& c, std::optional<OnConflict> onConflict, std::span<Setter* const> setters,
             const std::string& text) {
        InsertShape& shape = shapes_[next_];
        next_ = (next_ + 1) % shapes_.size();
        used_ = std::max(used_, next_ == 0 ? shapes_.size() : next_);
        shape.onConflict = onConflict;
        shape.from = c.from;
        shape.columns.clear();
        shape.values.clear();
        for (const Setter* s : setters) {
            shape.columns.push_back(s->column.templateText);
            shape.values.push_back(s->value.templateText);
        }
        shape.filter.reset();
        if (c.filters) {
            shape.filter = c.filters->templateText;
        }
        shape.text = text;
    }

private:
    std::array<InsertShape, 8> shapes_;
    std::size_t used_ = 0;
    std::size_t next_ = 0;
};

InsertTextCache& insertTextCache() {
    thread_local InsertTextCache cache;
    return cache;
}

// The bindings of a one-row INSERT in text order into `out`: columns', values' (moved), the
// filter's.
void insertBindings(const QueryClauses& c, std::span<Setter* const> setters, Bindings& out) {
    std::size_t count = c.filters ? c.filters->bindings.size() : 0;
    for (const Setter* s : setters) {
        count += s->column.bindings.size() + s->value.bindings.size();
    }
    out.reserve(count);
    for (const Setter* s : setters) {
        if (!s->column.bindings.empty()) {
            out.insert(out.end(), s->column.bindings.begin(), s->column.bindings.end());
        }
    }
    for (Setter* s : setters) {
        for (auto& b : s->value.bindings) {
            out.push_back(std::move(b));
        }
    }
    if (c.filters && !c.filters->bindings.empty()) {
        out.insert(out.end(), c.filters->bindings.begin(), c.filters->bindings.end());
    }
}

// Built in place (the one return lets the compiler elide the copy): moving a list of
// bindings moves each value.
Insert cachedInsert(const std::string& text, const QueryClauses& c, std::span<Setter* const> setters) {
    Insert out;
    out.templateText = text;
    insertBindings(c, setters, out.bindings);
    return out;
}

} // namespace

namespace query {

Expression<> database(const QueryClauses& c, std::string_view name) {
    return Expression<>(nameWithDatabase(c.from, std::string(name)));
}

Expression<> tableName(const QueryClauses& c, bool alias) {
    if (alias && c.from.alias) {
        return Expression<>(nameWithDatabase(c.from, c.from.name) + " AS " + quote(*c.from.alias));
    }
    return Expression<>(nameWithDatabase(c.from, c.from.alias ? *c.from.alias : c.from.name));
}

Expression<> tableNameQualified(const QueryClauses& c, bool qualified) {
    if (qualified) {
        return tableName(c, false);
    }
    return Expression<>(quote(c.from.alias ? *c.from.alias : c.from.name));
}

Expression<> namespaced(const QueryClauses& c, const Expression<>& column) {
    return Expression<>(tableName(c, false).templateText + "." + column.templateText, column.bindings);
}

void addFilter(QueryClauses& c, const Expression<>& predicate) {
    if (!c.filters) {
        c.filters = predicate;
        return;
    }
    c.filters = binaryExpression(*c.filters, predicate, "AND", true);
}

void addJoin(QueryClauses& c, JoinType type, const QueryClauses& other, const Expression<>& condition) {
    Expression<> on = condition;
    if (other.filters) {
        on = andExpression(Expression<std::optional<bool>>(condition),
                           Expression<std::optional<bool>>(*other.filters));
    }
    c.join.push_back({type, std::make_shared<const QueryClauses>(other), std::move(on)});
}

void addWith(QueryClauses& c, const FromClause& alias, std::optional<std::vector<Expression<>>> columns,
             bool recursive, std::optional<MaterializationHint> hint, const QueryClauses& query) {
    c.with.recursive = c.with.recursive || recursive;
    c.with.clauses.push_back({alias, std::move(columns), hint, std::make_shared<const QueryClauses>(query)});
}

Expression<> renderWithClause(const WithClause& clause) {
    Pieces p;
    p.text(nameWithDatabase(clause.alias, clause.alias.alias ? *clause.alias.alias : clause.alias.name));
    if (clause.columns) {
        p.list(*clause.columns, true);
    }
    p.text("AS");
    if (clause.hint) {
        p.text(materializationHintRawValues.raw(*clause.hint));
    }
    p.expr(wrapInFunction("", render(*clause.query)));
    return p.take();
}

Expression<> render(const QueryClauses& c) {
    Pieces p;
    if (!c.with.clauses.empty()) {
        p.text(c.with.recursive ? "WITH RECURSIVE" : "WITH");
        for (std::size_t i = 0; i < c.with.clauses.size(); ++i) {
            if (i > 0) {
                p.raw(",");
            }
            p.expr(renderWithClause(c.with.clauses[i]));
        }
    }
    p.text(c.select.distinct ? "SELECT DISTINCT" : "SELECT")
        .list(c.select.columns, false)
        .text("FROM")
        .expr(tableName(c, true));
    for (const auto& j : c.join) {
        p.text(std::string(joinTypeRawValues.raw(j.type)) + " JOIN")
            .expr(tableName(*j.query, true))
            .text("ON")
            .expr(j.condition);
    }
    wherePiece(p, c);
    if (c.group) {
        p.text("GROUP BY").list(c.group->by, false);
        if (c.group->having) {
            p.text("HAVING").expr(*c.group->having);
        }
    }
    for (const auto& u : c.unions) {
        p.text(u.all ? "UNION ALL" : "UNION").expr(render(*u.query));
    }
    orderPiece(p, c);
    limitPiece(p, c);
    return p.take();
}

Insert insert(const QueryClauses& c, std::optional<OnConflict> onConflict, std::vector<Setter> setters) {
    return insert(c, onConflict, std::span<Setter>(setters));
}

static Insert renderInsert(const QueryClauses& c, std::optional<OnConflict> onConflict,
                           std::span<Setter* const> setters) {
    Pieces p;
    p.reserve(32 + c.from.name.size() + 16 * setters.size(), setters.size());
    p.text("INSERT");
    if (onConflict) {
        p.text("OR ").raw(onConflictRawValues.raw(*onConflict));
    }
    p.text("INTO").expr(tableName(c, false));
    p.columnsAndValues(setters);
    wherePiece(p, c);
    return Insert(p.take());
}

Insert insert(const QueryClauses& c, std::optional<OnConflict> onConflict, std::span<Setter> setters) {
    constexpr std::size_t onStack = 16;
    if (setters.size() <= onStack) {
        std::array<Setter*, onStack> pointers;
        for (std::size_t i = 0; i < setters.size(); ++i) {
            pointers[i] = &setters[i];
        }
        return insert(c, onConflict, std::span<Setter* const>(pointers.data(), setters.size()));
    }
    std::vector<Setter*> pointers;
    pointers.reserve(setters.size());
    for (Setter& s : setters) {
        pointers.push_back(&s);
    }
    return insert(c, onConflict, std::span<Setter* const>(pointers));
}

Insert insert(const QueryClauses& c, std::optional<OnConflict> onConflict, std::span<Setter* const> setters) {
    if (setters.empty()) {
        Pieces p;
        p.text("INSERT");
        if (onConflict) {
            p.text("OR ").raw(onConflictRawValues.raw(*onConflict));
        }
        // "() VALUES ()" is no SQL; an insert of nothing inserts the defaults.
        p.text("INTO").expr(tableName(c, false)).text("DEFAULT VALUES");
        return Insert(p.take());
    }
    InsertTextCache& cache = insertTextCache();
    if (const std::string* text = cache.find(c, onConflict, setters)) {
        return cachedInsert(*text, c, setters);
    }
    Insert rendered = renderInsert(c, onConflict, setters);
    cache.add(c, onConflict, setters, rendered.templateText);
    return rendered;
}

static bool sameColumns(const std::vector<Setter>& a, const std::vector<Setter>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].column.templateText != b[i].column.templateText) {
            return false;
        }
    }
    return true;
}

Insert insertMany(const QueryClauses& c, std::optional<OnConflict> onConflict,
                  const std::vector<std::vector<Setter>>& rows) {
    if (rows.empty()) {
        return Insert(); // nothing to insert: runs as nothing
    }
    for (std::size_t r = 1; r < rows.size(); ++r) {
        if (!sameColumns(rows[0], rows[r])) {
            throw Result("rows of a multi-row insert name different columns: row " + std::to_string(r), 21);
        }
    }
    Pieces p;
    p.text("INSERT");
    if (onConflict) {
        p.text("OR ").raw(onConflictRawValues.raw(*onConflict));
    }
    p.text("INTO").expr(tableName(c, false));
    if (rows[0].empty()) {
        // DEFAULT VALUES inserts one row, and "() VALUES (), ()" is no SQL: rather than insert
        // one row for many, refuse.
        if (rows.size() > 1) {
            throw Result("a multi-row insert of rows with no values inserts one row: insert " +
                             std::to_string(rows.size()) + " rows of default values one at a time",
                         21);
        }
        p.text("DEFAULT VALUES");
        return Insert(p.take());
    }
    std::vector<Expression<>> columns, values;
    splitSetters(rows[0], columns, values);
    p.list(columns, true).text("VALUES");
    for (std::size_t r = 0; r < rows.size(); ++r) {
        std::vector<Expression<>> rowColumns, rowValues;
        splitSetters(rows[r], rowColumns, rowValues);
        if (r > 0) {
            p.raw(",");
        }
        p.list(rowValues, true);
    }
    wherePiece(p, c);
    return Insert(p.take());
}

Insert insertDefaultValues(const QueryClauses& c) {
    Pieces p;
    p.text("INSERT INTO").expr(tableName(c, false)).text("DEFAULT VALUES");
    return Insert(p.take());
}

Insert insertQuery(const QueryClauses& c, const QueryClauses& query) {
    Pieces p;
    p.text("INSERT INTO").expr(tableName(c, false)).expr(render(query));
    return Insert(p.take());
}

Insert upsert(const QueryClauses& c, const std::vector<Setter>& setters, const Expression<>& conflictTarget,
              const std::vector<Setter>& set) {
    std::vector<Expression<>> columns, values;
    splitSetters(setters, columns, values);
    Pieces p;
    p.text("INSERT")
        .text("INTO")
        .expr(tableName(c, false))
        .list(columns, true)
        .text("VALUES")
        .list(values, true);
    wherePiece(p, c);
    p.text("ON CONFLICT").expr(wrapInFunction("", conflictTarget)).text("DO UPDATE SET").setters(set);
    return Insert(p.take());
}

Insert upsertDerived(const QueryClauses& c, const std::vector<Setter>& setters,
                     const Expression<>& conflictTarget) {
    const std::string target = conflictTarget.asSQL();
    std::vector<Setter> set;
    for (const Setter& s : setters) {
        if (s.column.asSQL() != target) {
            set.push_back(
                {s.column, Expression<>(quote("excluded") + "." + s.column.templateText, s.column.bindings)});
        }
    }
    return upsert(c, setters, conflictTarget, set);
}

Update update(const QueryClauses& c, const std::vector<Setter>& setters) {
    Pieces p;
    p.text("UPDATE").expr(tableName(c, false)).text("SET").setters(setters);
    wherePiece(p, c);
    orderPiece(p, c);
    limitPiece(p, c);
    return Update(p.take());
}

Delete remove(const QueryClauses& c) {
    Pieces p;
    p.text("DELETE FROM").expr(tableName(c, false));
    wherePiece(p, c);
    orderPiece(p, c);
    limitPiece(p, c);
    return Delete(p.take());
}

} // namespace query
} // namespace sql
