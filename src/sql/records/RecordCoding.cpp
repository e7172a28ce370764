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

std::vector<Setter> withOthers(std::vector<Setter> setters, const std::vector<Setter>& otherSetters) {
    setters.insert(setters.end(), otherSetters.begin(), otherSetters.end());
    return setters;
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
