#include "sql/Functions.h"

#include "base/Log.h"
#include "sql/Connection.h"
#include "sql/DatabaseLock.h"

#include <stdexcept>

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
        detail::setNullResult(context);
        return;
    }
    std::visit([context](const auto& v) { detail::setResult(context, v); }, *result);
}

} // namespace sql

// ---- registration

namespace sql {

Expression<> callExpression(std::string_view name, std::span<const Expression<>* const> arguments) {
    Expression<> out(std::string(name) + '(');
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (i > 0) {
            out.templateText += ", ";
        }
        out.templateText += arguments[i]->templateText;
        out.bindings.insert(out.bindings.end(), arguments[i]->bindings.begin(), arguments[i]->bindings.end());
    }
    out.templateText += ')';
    return out;
}

void detail::throwArgumentMismatch(std::size_t index) {
    throw std::invalid_argument("argument " + std::to_string(index + 1) +
                                " is NULL or not of the function's type");
}

// A throw from the callable fails the call with its message.
static void failCall(sqlite3_context* context, const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        sqlite3_result_error(context, e.what(), -1);
    } catch (...) {
        sqlite3_result_error(context, "function failed", -1);
    }
}

static void callFunction(sqlite3_context* context, int count, sqlite3_value** values) {
    auto* function = static_cast<SqlFunction*>(sqlite3_user_data(context));
    try {
        setFunctionResult((*function)(functionArguments(count, values)), context);
    } catch (...) {
        failCall(context, std::current_exception());
    }
}

void* detail::userData(sqlite3_context* context) {
    return sqlite3_user_data(context);
}

void detail::failCurrentCall(sqlite3_context* context) {
    failCall(context, std::current_exception());
}

std::string_view detail::textView(const void* p, int length) {
    return p != nullptr && length > 0
               ? std::string_view(static_cast<const char*>(p), static_cast<std::size_t>(length))
               : std::string_view();
}

bool detail::readArgument(sqlite3_value* value, std::int64_t& out) {
    if (sqlite3_value_type(value) != SQLITE_INTEGER) {
        return false;
    }
    out = sqlite3_value_int64(value);
    return true;
}

bool detail::readArgument(sqlite3_value* value, double& out) {
    const int type = sqlite3_value_type(value);
    if (type != SQLITE_FLOAT && type != SQLITE_INTEGER) {
        return false;
    }
    out = sqlite3_value_double(value);
    return true;
}

bool detail::readArgument(sqlite3_value* value, std::string& out) {
    if (sqlite3_value_type(value) != SQLITE_TEXT) {
        return false;
    }
    const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
    out.assign(text != nullptr ? text : "", static_cast<std::size_t>(sqlite3_value_bytes(value)));
    return true;
}

bool detail::readArgument(sqlite3_value* value, Blob& out) {
    if (sqlite3_value_type(value) != SQLITE_BLOB) {
        return false;
    }
    const void* data = sqlite3_value_blob(value);
    const int bytes = sqlite3_value_bytes(value);
    out = Blob(data, data != nullptr ? static_cast<std::size_t>(bytes) : 0);
    return true;
}

bool detail::readArgument(sqlite3_value* value, std::string_view& out) {
    if (sqlite3_value_type(value) != SQLITE_TEXT) {
        return false;
    }
    out = textView(sqlite3_value_text(value), sqlite3_value_bytes(value));
    return true;
}

bool detail::isNullArgument(sqlite3_value* value) {
    return sqlite3_value_type(value) == SQLITE_NULL;
}

void detail::setResult(sqlite3_context* context, std::int64_t value) {
    sqlite3_result_int64(context, value);
}

void detail::setResult(sqlite3_context* context, double value) {
    sqlite3_result_double(context, value);
}

void detail::setResult(sqlite3_context* context, const std::string& value) {
    sqlite3_result_text64(context, value.data(), value.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

void detail::setResult(sqlite3_context* context, const Blob& value) {
    if (value.empty()) {
        sqlite3_result_zeroblob(context, 0); // a null data pointer would read as NULL
        return;
    }
    sqlite3_result_blob64(context, value.bytes.data(), value.bytes.size(), SQLITE_TRANSIENT);
}

void detail::setNullResult(sqlite3_context* context) {
    sqlite3_result_null(context);
}

using AggregateOperations = Connection::AggregateOperations;

// The group's slot: the address of its state, null before its first row.
static void** aggregateSlot(sqlite3_context* context, bool create) {
    return static_cast<void**>(sqlite3_aggregate_context(context, create ? sizeof(void*) : 0));
}

static void stepAggregate(sqlite3_context* context, int count, sqlite3_value** values) {
    auto* ops = static_cast<AggregateOperations*>(sqlite3_user_data(context));
    void** slot = aggregateSlot(context, true);
    if (slot == nullptr) {
        sqlite3_result_error_nomem(context);
        return;
    }
    try {
        if (*slot == nullptr) {
            *slot = ops->make();
        }
        ops->step(*slot, functionArguments(count, values));
    } catch (...) {
        failCall(context, std::current_exception());
    }
}

static void finalAggregate(sqlite3_context* context) {
    auto* ops = static_cast<AggregateOperations*>(sqlite3_user_data(context));
    void** slot = aggregateSlot(context, false);
    void* state = slot != nullptr ? *slot : nullptr;
    try {
        if (state == nullptr) { // a group without rows
            state = ops->make();
        }
        setFunctionResult(ops->final(state), context);
    } catch (...) {
        failCall(context, std::current_exception());
    }
    if (state != nullptr) {
        ops->destroy(state);
    }
    if (slot != nullptr) {
        *slot = nullptr;
    }
}

static int encoding(bool deterministic) {
    return deterministic ? SQLITE_UTF8 | SQLITE_DETERMINISTIC : SQLITE_UTF8;
}

void Connection::createFunction(std::string_view name, std::optional<int> argumentCount, bool deterministic,
                                SqlFunction function) {
    auto box = std::make_shared<SqlFunction>(std::move(function));
    void* userData = box.get();
    registerFunction(name, argumentCount.value_or(-1), deterministic, std::move(box), userData,
                     {callFunction, nullptr, nullptr});
}

void Connection::createAggregation(std::string_view name, std::optional<int> argumentCount,
                                   bool deterministic, AggregateOperations operations) {
    auto box = std::make_shared<AggregateOperations>(std::move(operations));
    void* userData = box.get();
    registerFunction(name, argumentCount.value_or(-1), deterministic, std::move(box), userData,
                     {nullptr, stepAggregate, finalAggregate});
}

void Connection::registerFunction(std::string_view name, int argumentCount, bool deterministic,
                                  std::shared_ptr<void> box, void* userData,
                                  const FunctionCallbacks& callbacks) {
    const std::string n(name);
    sync([&] {
        detail::DatabaseLock lock(handle_);
        const int rc =
            sqlite3_create_function_v2(handle_, n.c_str(), argumentCount, encoding(deterministic), userData,
                                       callbacks.call, callbacks.step, callbacks.final, nullptr);
        if (!Result::isSuccessCode(rc)) {
            detail::throwError(handle_, rc);
        }
        const std::lock_guard guard(registryMutex_);
        functions_[n][argumentCount] = std::move(box);
    });
}

void Connection::registerCollation(std::string_view name, std::shared_ptr<void> box, void* userData,
                                   CollationCallback compare) {
    const std::string n(name);
    sync([&] {
        detail::DatabaseLock lock(handle_);
        const int rc =
            sqlite3_create_collation_v2(handle_, n.c_str(), SQLITE_UTF8, userData, compare, nullptr);
        if (!Result::isSuccessCode(rc)) {
            detail::throwError(handle_, rc);
        }
        const std::lock_guard guard(registryMutex_);
        collations_[n] = std::move(box);
    });
}

} // namespace sql
