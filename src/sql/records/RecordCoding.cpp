#include "sql/records/RecordCoding.h"

#include <algorithm>

namespace sql::records {

std::vector<Expression<>> quotedColumns(std::initializer_list<std::string_view> keys) {
    std::vector<Expression<>> out;
    out.reserve(keys.size());
    for (std::string_view key : keys) {
        out.emplace_back(quote(key, '"'));
    }
    return out;
}

void refuseEncoding(std::string_view typeName) {
    throw CodingError(CodingError::Kind::invalidValue,
                      "encoding an " + std::string(typeName) + " is not supported");
}

void refuseDecoding(std::string_view typeName) {
    throw CodingError(CodingError::Kind::typeMismatch,
                      "decoding an " + std::string(typeName) + " is not supported");
}

const std::string& jsonText(const Row& row, const Expression<>& column) {
    const std::optional<Binding>& b = row.valueFor(column);
    const std::string* text = b ? std::get_if<std::string>(&*b) : nullptr;
    if (text == nullptr) {
        throw CodingError(CodingError::Kind::typeMismatch, "an unsupported type was found");
    }
    return *text;
}

bool hasValue(const Row& row, const Expression<>& column) {
    const int index = row.columnNames->indexOf(column.templateText);
    return index >= 0 && static_cast<std::size_t>(index) < row.values.size() &&
           row.values[static_cast<std::size_t>(index)].has_value();
}

void throwUnexpectedNull(const Expression<>& column) {
    throw QueryError::unexpectedNullValue(column.templateText);
}

void addSetter(std::vector<Setter>& out, const Expression<>& column, std::optional<Binding>&& value) {
    Setter& s = out.emplace_back();
    s.column.templateText = column.templateText; // quoted keys carry no bindings
    s.value.templateText.push_back('?');
    s.value.bindings.emplace_back(std::move(value));
}

// Kept by each thread between statements; a list in use is taken out, so a nested use finds none.
static thread_local std::vector<Setter> spareSetters;

SetterBuffer::SetterBuffer()
    : setters_(std::move(spareSetters)) {
    spareSetters.clear();
}

SetterBuffer::~SetterBuffer() {
    setters_.clear();
    if (setters_.capacity() > spareSetters.capacity()) {
        spareSetters = std::move(setters_);
    }
}

static std::vector<std::vector<Setter>> encodeAll(const void* records, std::size_t count, EncodeAt encode,
                                                  Absent forcing, const std::vector<Setter>& otherSetters) {
    std::vector<std::vector<Setter>> rows(count);
    for (std::size_t i = 0; i < count; ++i) {
        encode(records, i, forcing, rows[i]);
        rows[i].insert(rows[i].end(), otherSetters.begin(), otherSetters.end());
    }
    return rows;
}

Insert insertMany(const QueryClauses& c, const void* records, std::size_t count, EncodeAt encode,
                  const std::vector<Setter>& otherSetters) {
    std::vector<std::vector<Setter>> rows = encodeAll(records, count, encode, Absent::skip, otherSetters);
    const bool oneCount = std::all_of(
        rows.begin(), rows.end(), [&](const std::vector<Setter>& r) { return r.size() == rows[0].size(); });
    if (!oneCount) {
        rows = encodeAll(records, count, encode, Absent::writeNull, otherSetters);
    }
    // The builder refuses rows whose columns differ and makes nothing of no rows.
    return query::insertMany(c, std::nullopt, rows);
}

} // namespace sql::records
