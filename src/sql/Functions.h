// Values of user SQL function calls, to and from sqlite3 (registration builds on these).
#pragma once

#include "sql/Value.h"

struct sqlite3_context;
struct sqlite3_value;

namespace sql {

// The call's arguments in order: Int64, Double, String, Blob (empty for zero bytes) or NULL.
Bindings functionArguments(int count, sqlite3_value** values);
// Hands a result to sqlite3 (copied by sqlite3); nullopt is NULL.
void setFunctionResult(const std::optional<Binding>& result, sqlite3_context* context);

} // namespace sql
