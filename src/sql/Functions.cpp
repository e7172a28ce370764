#include "sql/Functions.h"

#include "base/Log.h"

#include <sqlite3.h>

namespace sql {

static std::optional<Binding> argument(sqlite3_value* v) {
    switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
        return Binding(static_cast<std::int64_t>(sqlite3_value_int64(v)));
    case SQLITE_FLOAT:
        return Binding(sqlite3_value_double(v));
    case SQLITE_TEXT: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(v));
        const int bytes = sqlite3_value_bytes(v);
        return Binding(text != nullptr ? std::string(text, static_cast<std::size_t>(bytes)) : std::string());
    }
    case SQLITE_BLOB: {
        const void* data = sqlite3_value_blob(v);
        const int bytes = sqlite3_value_bytes(v);
        return Binding(Blob(data, data != nullptr ? static_cast<std::size_t>(bytes) : 0));
    }
    case SQLITE_NULL:
        return std::nullopt;
    default:
        base::fatal("unsupported value type: " + std::to_string(sqlite3_value_type(v)));
    }
}

Bindings functionArguments(int count, sqlite3_value** values) {
    if (count < 0) {
        base::fatal("negative function argument count: " + std::to_string(count));
    }
    Bindings out;
    out.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        out.push_back(argument(values[i]));
    }
    return out;
}

void setFunctionResult(const std::optional<Binding>& result, sqlite3_context* context) {
    if (!result) {
        sqlite3_result_null(context);
    } else if (const auto* b = std::get_if<Blob>(&*result)) {
        if (b->empty()) {
            sqlite3_result_zeroblob(context, 0); // a null data pointer would read as NULL
            return;
        }
        sqlite3_result_blob64(context, b->bytes.data(), b->bytes.size(), SQLITE_TRANSIENT);
    } else if (const auto* d = std::get_if<double>(&*result)) {
        sqlite3_result_double(context, *d);
    } else if (const auto* i = std::get_if<std::int64_t>(&*result)) {
        sqlite3_result_int64(context, *i);
    } else {
        const std::string& s = std::get<std::string>(*result);
        sqlite3_result_text64(context, s.data(), s.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    }
}

} // namespace sql
