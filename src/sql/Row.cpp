#include "sql/Row.h"

#include "sql/Connection.h"

namespace sql {

static const std::optional<Binding>& valueAt(const Row& row, int index, const Expression<>& column) {
    if (index < 0 || static_cast<std::size_t>(index) >= row.values.size()) {
        // Only when a star expansion listed other columns than the query returned.
        throw QueryError::noSuchColumn(column.templateText, row.columnNames->keys());
    }
    return row.values[static_cast<std::size_t>(index)];
}

const std::optional<Binding>& Row::valueForOtherKey(const Expression<>& column) const {
    const std::string& name = column.templateText;
    if (std::optional<int> index = columnNames->find(name)) {
        return valueAt(*this, *index, column);
    }
    std::vector<std::string> similar = columnNames->keysEndingWith(name);
    if (similar.empty()) {
        throw QueryError::noSuchColumn(name, columnNames->keys());
    }
    if (similar.size() > 1) {
        throw QueryError::ambiguousColumn(name, std::move(similar));
    }
    return valueAt(*this, *columnNames->find(similar.front()), column);
}

void Row::throwUnexpectedNull(const Expression<>& column) {
    throw QueryError::unexpectedNullValue(column.templateText);
}

std::optional<Row> RowIterator::failableNext() {
    Row row;
    if (!next(row)) {
        return std::nullopt;
    }
    return row;
}

bool RowIterator::next(Row& row) {
    if (!statement_.next(row.values)) {
        return false;
    }
    if (statement_.takeSchemaChange() && remap_) {
        columnNames_ = remap_(statement_);
    }
    if (row.columnNames != columnNames_) {
        row.columnNames = columnNames_;
    }
    return true;
}

} // namespace sql
