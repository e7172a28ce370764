// The query builder: query values (Table, View, VirtualTable, ScalarQuery) carrying their
// clauses, SELECT rendering, and the INSERT, UPDATE and DELETE statements built from them.
//
// Queries are plain values: every builder returns a modified copy. Rendering is a pure
// function of the clauses and lives in Query.cpp; the templates here only forward.
#pragma once

#include "sql/Expression.h"
#include "sql/RawValue.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sql {

enum class JoinType { cross, inner, leftOuter };
inline constexpr auto joinTypeRawValues =
    makeRawValueTable(std::pair{JoinType::cross, "CROSS"}, std::pair{JoinType::inner, "INNER"},
                      std::pair{JoinType::leftOuter, "LEFT OUTER"});

enum class MaterializationHint { materialized, notMaterialized };
inline constexpr auto materializationHintRawValues =
    makeRawValueTable(std::pair{MaterializationHint::materialized, "MATERIALIZED"},
                      std::pair{MaterializationHint::notMaterialized, "NOT MATERIALIZED"});

enum class OnConflict { replace, rollback, abort, fail, ignore };
inline constexpr auto onConflictRawValues =
    makeRawValueTable(std::pair{OnConflict::replace, "REPLACE"}, std::pair{OnConflict::rollback, "ROLLBACK"},
                      std::pair{OnConflict::abort, "ABORT"}, std::pair{OnConflict::fail, "FAIL"},
                      std::pair{OnConflict::ignore, "IGNORE"});

struct QueryClauses;
using QueryClausesPtr = std::shared_ptr<const QueryClauses>;

struct FromClause {
    std::string name;
    std::optional<std::string> alias;
    std::optional<std::string> database;
};

// One common table expression: its name (a table's name, alias and database), optional
// column list and hint, and the sub-query.
struct WithClause {
    FromClause alias;
    std::optional<std::vector<Expression<>>> columns;
    std::optional<MaterializationHint> hint;
    QueryClausesPtr query;
};

struct WithClauses {
    bool recursive = false;
    std::vector<WithClause> clauses;
};

struct QueryClauses {
    struct Select {
        bool distinct = false;
        std::vector<Expression<>> columns;
    };
    struct Join {
        JoinType type;
        QueryClausesPtr query;
        Expression<> condition;
    };
    struct Group {
        std::vector<Expression<>> by;
        std::optional<Expression<>> having;
    };
    struct Limit {
        std::int64_t length;
        std::optional<std::int64_t> offset;
    };
    struct Union {
        bool all;
        QueryClausesPtr query;
    };

    Select select;
    FromClause from;
    std::vector<Join> join;
    std::optional<Expression<>> filters;
    std::optional<Group> group;
    std::vector<Expression<>> order;
    std::optional<Limit> limit;
    std::vector<Union> unions;
    WithClauses with;

    // SELECT * FROM name, nothing else.
    QueryClauses(std::string name, std::optional<std::string> alias, std::optional<std::string> database);
};

// One column assignment of an INSERT or UPDATE; renders column + " = " + value.
struct Setter {
    Expression<> column;
    Expression<> value;

    Expression<> expression() const;

    template <Value V>
    static Setter assign(const Expression<V>& column, const std::type_identity_t<V>& value) {
        return bound(column, toBinding(value));
    }
    // A temporary text or blob is moved into the binding.
    template <Value V> static Setter assign(const Expression<V>& column, std::type_identity_t<V>&& value) {
        return bound(column, toBindingMoving(value));
    }
    // An absent value binds NULL.
    template <Value V>
    static Setter assign(const Expression<std::optional<V>>& column,
                         const std::type_identity_t<std::optional<V>>& value) {
        return bound(column, value ? std::optional<Binding>(toBinding(*value)) : std::nullopt);
    }
    template <Value V>
    static Setter assign(const Expression<std::optional<V>>& column,
                         std::type_identity_t<std::optional<V>>&& value) {
        return bound(column, value ? std::optional<Binding>(toBindingMoving(*value)) : std::nullopt);
    }
    // column = an expression of its type (a nullable column also takes a non-null one).
    template <class V>
    requires(!detail::IsOptional<V>::value) static Setter
        assign(const Expression<V>& column, const std::type_identity_t<Expression<V>>& value) {
        return Setter{column, value};
    }
    template <class V>
    static Setter assign(const Expression<std::optional<V>>& column,
                         const std::type_identity_t<Expression<std::optional<V>>>& value) {
        return Setter{column, value};
    }
    // `column` = "?" bound to `value` (valueExpression's form, built in place).
    static Setter bound(const Expression<>& column, std::optional<Binding>&& value);
};

// Rendered statements: template and bindings, ready for Connection::run.
struct Insert : Expression<> {
    using Expression<>::Expression;
    explicit Insert(Expression<> e)
        : Expression<>(std::move(e)) {}
};
struct Update : Expression<> {
    using Expression<>::Expression;
    explicit Update(Expression<> e)
        : Expression<>(std::move(e)) {}
};
struct Delete : Expression<> {
    using Expression<>::Expression;
    explicit Delete(Expression<> e)
        : Expression<>(std::move(e)) {}
};
template <class V> struct Select : Expression<V> { using Expression<V>::Expression; };

// ---- the non-template core (Query.cpp)
namespace query {
Expression<> render(const QueryClauses& c);
Expression<> database(const QueryClauses& c, std::string_view name);
Expression<> tableName(const QueryClauses& c, bool alias);
Expression<> tableNameQualified(const QueryClauses& c, bool qualified);
Expression<> namespaced(const QueryClauses& c, const Expression<>& column);
void addFilter(QueryClauses& c, const Expression<>& predicate);
void addJoin(QueryClauses& c, JoinType type, const QueryClauses& other, const Expression<>& condition);
void addWith(QueryClauses& c, const FromClause& alias, std::optional<std::vector<Expression<>>> columns,
             bool recursive, std::optional<MaterializationHint> hint, const QueryClauses& query);
Expression<> renderWithClause(const WithClause& clause);
Insert insert(const QueryClauses& c, std::optional<OnConflict> onConflict, std::vector<Setter> setters);
// As above, moving the values' bindings out of `setters`.
Insert insert(const QueryClauses& c, std::optional<OnConflict> onConflict, std::span<Setter> setters);
Insert insert(const QueryClauses& c, std::optional<OnConflict> onConflict, std::span<Setter* const> setters);
Insert insertMany(const QueryClauses& c, std::optional<OnConflict> onConflict,
                  const std::vector<std::vector<Setter>>& rows);
Insert insertDefaultValues(const QueryClauses& c);
Insert insertQuery(const QueryClauses& c, const QueryClauses& query);
Insert upsert(const QueryClauses& c, const std::vector<Setter>& setters, const Expression<>& conflictTarget,
              const std::vector<Setter>& set);
Insert upsertDerived(const QueryClauses& c, const std::vector<Setter>& setters,
                     const Expression<>& conflictTarget);
Update update(const QueryClauses& c, const std::vector<Setter>& setters);
Delete remove(const QueryClauses& c);
} // namespace query

template <class V> struct ScalarQuery;

// The builders shared by every query type. Derived is the concrete type that builders return.
template <class Derived> class QueryType {
public:
    QueryClauses clauses;

    explicit QueryType(QueryClauses c)
        : clauses(std::move(c)) {}

    // Every query renders as its SELECT.
    Expression<> expression() const { return query::render(clauses); }

    template <class... C> Derived select(const C&... columns) const {
        return withSelect(false, {Expression<>(columns)...});
    }
    Derived select(std::vector<Expression<>> columns) const { return withSelect(false, std::move(columns)); }
    template <class... C> Derived selectDistinct(const C&... columns) const {
        return withSelect(true, {Expression<>(columns)...});
    }
    template <class V> ScalarQuery<V> selectScalar(const Expression<V>& column, bool distinct = false) const {
        ScalarQuery<V> q(clauses);
        q.clauses.select = {distinct, {column}};
        return q;
    }
    // A ScalarQuery<std::int64_t> of "count(*)".
    auto count() const { return selectScalar(Expression<std::int64_t>("count(*)")); }

    Derived alias(std::string name) const {
        Derived d = self();
        d.clauses.from.alias = std::move(name);
        return d;
    }
    template <class Other>
    Derived join(JoinType type, const QueryType<Other>& other, const Expression<>& on) const {
        Derived d = self();
        query::addJoin(d.clauses, type, other.clauses, on);
        return d;
    }
    template <class Other> Derived join(const QueryType<Other>& other, const Expression<>& on) const {
        return join(JoinType::inner, other, on);
    }
    // Adds a predicate (bool or optional bool expression), ANDed to the existing ones.
    Derived filter(const Expression<>& predicate) const {
        Derived d = self();
        query::addFilter(d.clauses, predicate);
        return d;
    }
    Derived where(const Expression<>& predicate) const { return filter(predicate); }
    Derived group(std::vector<Expression<>> by, std::optional<Expression<>> having = std::nullopt) const {
        Derived d = self();
        d.clauses.group = QueryClauses::Group{std::move(by), std::move(having)};
        return d;
    }
    Derived group(const Expression<>& by, std::optional<Expression<>> having = std::nullopt) const {
        return group(std::vector<Expression<>>{by}, std::move(having));
    }
    template <class... E> Derived order(const E&... terms) const {
        Derived d = self();
        d.clauses.order = {Expression<>(terms)...};
        return d;
    }
    // nullopt removes the limit.
    Derived limit(std::optional<std::int64_t> length) const {
        Derived d = self();
        d.clauses.limit.reset();
        if (length) {
            d.clauses.limit = QueryClauses::Limit{*length, std::nullopt};
        }
        return d;
    }
    Derived limit(std::int64_t length, std::int64_t offset) const {
        Derived d = self();
        d.clauses.limit = QueryClauses::Limit{length, offset};
        return d;
    }
    template <class Other> Derived union_(const QueryType<Other>& other, bool all = false) const {
        Derived d = self();
        d.clauses.unions.push_back({all, std::make_shared<const QueryClauses>(other.clauses)});
        return d;
    }
    // Appends a common table expression named after `alias`; `recursive` is never reset.
    template <class A, class Q>
    Derived with(const QueryType<A>& alias, std::optional<std::vector<Expression<>>> columns, bool recursive,
                 std::optional<MaterializationHint> hint, const QueryType<Q>& query) const {
        Derived d = self();
        query::addWith(d.clauses, alias.clauses.from, std::move(columns), recursive, hint, query.clauses);
        return d;
    }

    Expression<> database(std::string_view name) const { return query::database(clauses, name); }
    Expression<> tableName(bool alias) const { return query::tableName(clauses, alias); }
    Expression<> tableNameQualified(bool qualified) const {
        return query::tableNameQualified(clauses, qualified);
    }
    // The column qualified by this query's name: "t"."c" (keeps the column's type).
    template <class T> Expression<T> namespace_(const Expression<T>& column) const {
        return Expression<T>(query::namespaced(clauses, column));
    }
    Select<bool> exists() const {
        const Expression<> e = expression();
        return Select<bool>("SELECT EXISTS (" + e.templateText + ")", e.bindings);
    }

    // ---- statements
    template <class... S>
    requires(sizeof...(S) > 0 && (std::is_same_v<std::remove_cvref_t<S>, Setter> && ...)) Insert
        insert(S&&... setters)
    const {
        if constexpr ((!std::is_lvalue_reference_v<S> && ...)) {
            // Temporaries: their values' bindings are moved out in place.
            Setter* list[] = {&setters...};
            return query::insert(clauses, std::nullopt, std::span<Setter* const>(list));
        } else {
            Setter list[] = {std::forward<S>(setters)...}; // copies of the caller's setters
            return query::insert(clauses, std::nullopt, std::span<Setter>(list));
        }
    }
    Insert insert(const std::vector<Setter>& values) const {
        return query::insert(clauses, std::nullopt, values);
    }
    Insert insert(OnConflict onConflict, const std::vector<Setter>& values) const {
        return query::insert(clauses, onConflict, values);
    }
    template <class Q> Insert insert(const QueryType<Q>& query) const {
        return query::insertQuery(clauses, query.clauses);
    }
    // Many rows in one statement. No rows gives an empty statement that runs as nothing.
    // Throws Result when a row names other columns than the first, and for more than one row
    // without values (one statement inserts one row of defaults).
    Insert insertMany(const std::vector<std::vector<Setter>>& rows) const {
        return query::insertMany(clauses, std::nullopt, rows);
    }
    Insert insertMany(OnConflict onConflict, const std::vector<std::vector<Setter>>& rows) const {
        return query::insertMany(clauses, onConflict, rows);
    }
    Insert insertDefaultValues() const { return query::insertDefaultValues(clauses); }
    Insert upsert(const std::vector<Setter>& values, const Expression<>& onConflictOf) const {
        return query::upsertDerived(clauses, values, onConflictOf);
    }
    Insert upsert(const std::vector<Setter>& values, const Expression<>& onConflictOf,
                  const std::vector<Setter>& set) const {
        return query::upsert(clauses, values, onConflictOf, set);
    }
    template <class... S> Update update(const Setter& first, const S&... rest) const {
        return query::update(clauses, {first, rest...});
    }
    Update update(const std::vector<Setter>& values) const { return query::update(clauses, values); }
    Delete delete_() const { return query::remove(clauses); }

private:
    const Derived& self() const { return static_cast<const Derived&>(*this); }
    Derived withSelect(bool distinct, std::vector<Expression<>> columns) const {
        Derived d = self();
        d.clauses.select = {distinct, std::move(columns)};
        return d;
    }
};

// A table (optionally in an attached database), selecting all columns.
struct Table : QueryType<Table> {
    static constexpr std::string_view identifier = "TABLE";
    explicit Table(std::string name, std::optional<std::string> database = std::nullopt)
        : QueryType(QueryClauses(std::move(name), std::nullopt, std::move(database))) {}
    explicit Table(QueryClauses c)
        : QueryType(std::move(c)) {}
};

struct View : QueryType<View> {
    static constexpr std::string_view identifier = "VIEW";
    explicit View(std::string name, std::optional<std::string> database = std::nullopt)
        : QueryType(QueryClauses(std::move(name), std::nullopt, std::move(database))) {}
    explicit View(QueryClauses c)
        : QueryType(std::move(c)) {}
};

struct VirtualTable : QueryType<VirtualTable> {
    static constexpr std::string_view identifier = "VIRTUAL TABLE";
    explicit VirtualTable(std::string name, std::optional<std::string> database = std::nullopt)
        : QueryType(QueryClauses(std::move(name), std::nullopt, std::move(database))) {}
    explicit VirtualTable(QueryClauses c)
        : QueryType(std::move(c)) {}
};

// A query selecting one value of type V (or std::optional<V>).
template <class V> struct ScalarQuery : QueryType<ScalarQuery<V>> {
    explicit ScalarQuery(std::string name, std::optional<std::string> database = std::nullopt)
        : QueryType<ScalarQuery<V>>(QueryClauses(std::move(name), std::nullopt, std::move(database))) {}
    explicit ScalarQuery(QueryClauses c)
        : QueryType<ScalarQuery<V>>(std::move(c)) {}
};

} // namespace sql
