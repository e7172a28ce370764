// Result rows of typed queries, read by column expression, and the iterator that yields them.
#pragma once

#include "sql/Errors.h"
#include "sql/Expression.h"
#include "sql/Statement.h"

#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace sql {

// One result row: copies of its values (it outlives its statement) and the column map of
// its query. Immutable; may be passed between threads.
struct Row {
    std::shared_ptr<const ColumnMap> columnNames;
    Bindings values;

    // The column's value: NULL, or a stored value of another type, gives nullopt.
    // Throws QueryError: noSuchColumn, ambiguousColumn, unreadableValue (a date or UUID text
    // that does not parse), valueOutOfRange (an integer too wide for V).
    template <Value V> std::optional<V> get(const Expression<std::optional<V>>& column) const {
        return read<V>(column);
    }
    // As above, and throws QueryError::unexpectedNullValue where that gives nullopt.
    template <Value V> V get(const Expression<V>& column) const {
        std::optional<V> v = read<V>(column);
        if (!v) {
            throwUnexpectedNull(column);
        }
        return std::move(*v);
    }

    // The stored value of the column; throws noSuchColumn or ambiguousColumn. Lookup: the
    // template as key, else the one key ending in "." + template.
    const std::optional<Binding>& valueFor(const Expression<>& column) const {
        const int index = columnNames->indexOf(column.templateText);
        if (index >= 0 && static_cast<std::size_t>(index) < values.size()) {
            return values[static_cast<std::size_t>(index)];
        }
        return valueForOtherKey(column);
    }

private:
    // valueFor past an exact key present in this row: the one key ending in "." + template, or
    // the error.
    const std::optional<Binding>& valueForOtherKey(const Expression<>& column) const;

    template <Value V> std::optional<V> read(const Expression<>& column) const {
        using D = typename ValueTraits<V>::Datatype;
        const std::optional<Binding>& b = valueFor(column);
        if (!b) {
            return std::nullopt;
        }
        const D* d = std::get_if<D>(&*b);
        if (d == nullptr) {
            return std::nullopt;
        }
        return convertStored<V>(*d, column.templateText);
    }
    [[noreturn]] static void throwUnexpectedNull(const Expression<>& column);
};

// The rows of one prepared statement. Every way of reading it (failableNext, map,
// compactMap, range-for) throws the Result of a failed step: a busy or corrupt file never
// ends the rows quietly. Iterating does not reset the statement: a second loop goes on where
// the first stopped. Used by one flow of work at a time.
class RowIterator {
public:
    // Makes the column map again after a step that compiled the statement for a changed schema.
    using Remap = std::function<std::shared_ptr<const ColumnMap>(Statement&)>;

    // Without `remap` the map stays as it is whatever the schema (it names no star's columns).
    RowIterator(Statement statement, std::shared_ptr<const ColumnMap> columnNames, Remap remap = nullptr)
        : statement_(std::move(statement))
        , columnNames_(std::move(columnNames))
        , remap_(std::move(remap)) {}

    std::optional<Row> failableNext();
    // Steps and reads the row into `row`, reusing its storage (Cursor::readInto); false when
    // done. Throws the Result of a failed step.
    bool next(Row& row);

    template <class F> auto map(F&& transform) -> std::vector<std::invoke_result_t<F&, const Row&>> {
        std::vector<std::invoke_result_t<F&, const Row&>> out;
        Row row;
        while (next(row)) {
            out.push_back(transform(std::as_const(row)));
        }
        return out;
    }
    template <class F>
    auto compactMap(F&& transform) -> std::vector<typename std::invoke_result_t<F&, const Row&>::value_type> {
        std::vector<typename std::invoke_result_t<F&, const Row&>::value_type> out;
        Row row;
        while (next(row)) {
            if (auto v = transform(std::as_const(row))) {
                out.push_back(std::move(*v));
            }
        }
        return out;
    }

    const std::shared_ptr<const ColumnMap>& columnNames() const { return columnNames_; }
    Statement& statement() { return statement_; }

    class iterator {
    public:
        using value_type = Row;
        using difference_type = std::ptrdiff_t;
        iterator() = default;
        const Row& operator*() const { return *current_; }
        const Row* operator->() const { return &*current_; }
        // The next row replaces this one in place.
        iterator& operator++() {
            if (!owner_->next(*current_)) {
                current_.reset();
            }
            return *this;
        }
        void operator++(int) { ++*this; }
        bool operator==(std::default_sentinel_t) const { return !current_; }

    private:
        friend class RowIterator;
        explicit iterator(RowIterator* owner)
            : owner_(owner)
            , current_(std::in_place) {
            ++*this;
        }
        RowIterator* owner_ = nullptr;
        std::optional<Row> current_;
    };
    iterator begin() { return iterator(this); }
    std::default_sentinel_t end() const { return {}; }

private:
    Statement statement_;
    std::shared_ptr<const ColumnMap> columnNames_;
    Remap remap_;
};

// The Row sequence of a prepared query.
using RowSequence = RowIterator;

} // namespace sql
