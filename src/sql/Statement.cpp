#include "sql/Statement.h"

#include "base/Log.h"
#include "sql/Connection.h"
#include "sql/DatabaseLock.h"
#include "sql/Errors.h"
#include "sql/Expression.h"

#include <algorithm>
#include <limits>

#include <sqlite3.h>

namespace sql {

// ---- ColumnMap

void ColumnMap::set(std::string key, int index) {
    for (auto& [k, v] : entries_) {
        if (k == key) {
            v = index;
            return;
        }
    }
    entries_.emplace_back(std::move(key), index);
    if (2 * entries_.size() > slots_.size()) {
        rebuildSlots();
        return;
    }
    const std::size_t mask = slots_.size() - 1;
    std::size_t h = detail::columnKeyHash(entries_.back().first) & mask;
    while (slots_[h] != 0) {
        h = (h + 1) & mask;
    }
    slots_[h] = static_cast<std::uint32_t>(entries_.size());
}

void ColumnMap::rebuildSlots() {
    std::size_t count = 8;
    while (count < 2 * entries_.size()) {
        count *= 2;
    }
    slots_.assign(count, 0);
    const std::size_t mask = count - 1;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        std::size_t h = detail::columnKeyHash(entries_[i].first) & mask;
        while (slots_[h] != 0) {
            h = (h + 1) & mask;
        }
        slots_[h] = static_cast<std::uint32_t>(i + 1);
    }
}

std::optional<int> ColumnMap::find(std::string_view key) const {
    const int index = indexOf(key);
    return index >= 0 ? std::optional<int>(index) : std::nullopt;
}

std::vector<std::string> ColumnMap::keys() const {
    std::vector<std::string> out;
    out.reserve(entries_.size());
    for (const auto& [k, v] : entries_) {
        out.push_back(k);
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::string> ColumnMap::keysEndingWith(std::string_view name) const {
    std::vector<std::string> out;
    for (const auto& [k, v] : entries_) {
        if (k.size() > name.size() && k.compare(k.size() - name.size(), name.size(), name) == 0 &&
            k[k.size() - name.size() - 1] == '.') {
            out.push_back(k);
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

// ---- Cursor

std::optional<Binding> Cursor::operator[](int index) const {
    switch (sqlite3_column_type(handle, index)) {
    case SQLITE_INTEGER:
        return Binding(static_cast<std::int64_t>(sqlite3_column_int64(handle, index)));
    case SQLITE_FLOAT:
        return Binding(sqlite3_column_double(handle, index));
    case SQLITE_TEXT:
        return Binding(get<std::string>(index));
    case SQLITE_BLOB:
        return Binding(get<Blob>(index));
    case SQLITE_NULL:
        return std::nullopt;
    default:
        base::fatal("unsupported column type: " + std::to_string(sqlite3_column_type(handle, index)));
    }
}

Bindings Cursor::values() const {
    Bindings out;
    readInto(out);
    return out;
}

namespace {

// A number into `slot`, in place when the slot already holds one of its type (rows read into
// one list mostly do).
template <class T> void storeNumber(std::optional<Binding>& slot, T v) {
    if (T* p = slot ? std::get_if<T>(&*slot) : nullptr) {
        *p = v;
    } else {
        slot.emplace(std::in_place_type<T>, v);
    }
}

// One column value into `slot`, keeping the text or blob storage it already holds.
void readValue(sqlite3_value* value, std::optional<Binding>& slot) {
    switch (sqlite3_value_type(value)) {
    case SQLITE_INTEGER:
        storeNumber(slot, static_cast<std::int64_t>(sqlite3_value_int64(value)));
        return;
    case SQLITE_FLOAT:
        storeNumber(slot, sqlite3_value_double(value));
        return;
    case SQLITE_TEXT: {
        // Text first, then its byte length: an embedded U+0000 does not cut it.
        const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
        const auto bytes = text != nullptr ? static_cast<std::size_t>(sqlite3_value_bytes(value)) : 0;
        if (std::string* s = slot ? std::get_if<std::string>(&*slot) : nullptr) {
            s->assign(text != nullptr ? text : "", bytes);
        } else {
            slot = Binding(std::string(text != nullptr ? text : "", bytes));
        }
        return;
    }
    case SQLITE_BLOB: {
        const auto* data = static_cast<const std::uint8_t*>(sqlite3_value_blob(value));
        const auto bytes = data != nullptr ? static_cast<std::size_t>(sqlite3_value_bytes(value)) : 0;
        if (Blob* b = slot ? std::get_if<Blob>(&*slot) : nullptr) {
            b->bytes.assign(data, data + bytes);
        } else {
            slot = Binding(Blob(data, bytes));
        }
        return;
    }
    case SQLITE_NULL:
        slot.reset();
        return;
    default:
        base::fatal("unsupported column type: " + std::to_string(sqlite3_value_type(value)));
    }
}

} // namespace

void Cursor::readInto(Bindings& values) const {
    values.resize(static_cast<std::size_t>(columnCount));
    // Under the connection's mutex the column values may be read through the sqlite3_value
    // calls, which take no lock of their own.
    const detail::DatabaseLock lock(handle);
    for (int i = 0; i < columnCount; ++i) {
        readValue(sqlite3_column_value(handle, i), values[static_cast<std::size_t>(i)]);
    }
}

template <> double Cursor::get<double>(int index) const {
    return sqlite3_column_double(handle, index);
}
template <> std::int64_t Cursor::get<std::int64_t>(int index) const {
    return sqlite3_column_int64(handle, index);
}
template <> int Cursor::get<int>(int index) const {
    const std::int64_t v = sqlite3_column_int64(handle, index);
    if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max()) {
        const char* name = sqlite3_column_name(handle, index);
        throw QueryError::valueOutOfRange(name != nullptr ? name : std::to_string(index));
    }
    return static_cast<int>(v);
}
template <> bool Cursor::get<bool>(int index) const {
    return sqlite3_column_int64(handle, index) != 0;
}
template <> std::string Cursor::get<std::string>(int index) const {
    // Text first, then its byte length: an embedded U+0000 does not cut it.
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(handle, index));
    const int bytes = sqlite3_column_bytes(handle, index);
    return text != nullptr ? std::string(text, static_cast<std::size_t>(bytes)) : std::string();
}
template <> Blob Cursor::get<Blob>(int index) const {
    const void* data = sqlite3_column_blob(handle, index);
    const int bytes = sqlite3_column_bytes(handle, index);
    return Blob(data, data != nullptr ? static_cast<std::size_t>(bytes) : 0);
}

// ---- Statement

sqlite3_stmt* Statement::prepareHandle(sqlite3* db, std::string_view sql) {
    sqlite3_stmt* handle = nullptr;
    const detail::DatabaseLock lock(db);
    const int rc = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &handle, nullptr);
    if (!Result::isSuccessCode(rc)) {
        sqlite3_finalize(handle);
        detail::throwError(db, rc);
    }
    return handle;
}

static int reprepareCount(sqlite3_stmt* handle) {
    return handle != nullptr ? sqlite3_stmt_status(handle, SQLITE_STMTSTATUS_REPREPARE, 0) : 0;
}

Statement::Statement(std::shared_ptr<Connection> connection, std::string_view sql)
    : connection_(std::move(connection)) {
    handle_ = prepareHandle(connection_->handle(), sql);
    reprepares_ = reprepareCount(handle_);
}

Statement::Statement(std::shared_ptr<Connection> connection, std::string_view sql, FromCache)
    : connection_(std::move(connection)) {
    Connection::CacheEntry* entry = nullptr;
    // The generation is read before preparing: a schema change meanwhile makes the handle older
    // than it is, never newer.
    handle_ = connection_->takeCached(sql, entry, cacheGeneration_);
    if (handle_ == nullptr) {
        handle_ = prepareHandle(connection_->handle(), sql);
    }
    if (handle_ != nullptr) {
        cacheEntry_ = entry;
    }
    reprepares_ = reprepareCount(handle_);
}

Statement::Statement(Statement&& other) noexcept
    : connection_(std::move(other.connection_))
    , handle_(std::exchange(other.handle_, nullptr))
    , cacheEntry_(std::exchange(other.cacheEntry_, nullptr))
    , cacheGeneration_(other.cacheGeneration_)
    , reprepares_(other.reprepares_)
    , schemaChanged_(other.schemaChanged_)
    , columnCount_(other.columnCount_)
    , columnNames_(std::move(other.columnNames_)) {}

Statement& Statement::operator=(Statement&& other) noexcept {
    if (this != &other) {
        Statement old(std::move(*this));
        connection_ = std::move(other.connection_);
        handle_ = std::exchange(other.handle_, nullptr);
        cacheEntry_ = std::exchange(other.cacheEntry_, nullptr);
        cacheGeneration_ = other.cacheGeneration_;
        reprepares_ = other.reprepares_;
        schemaChanged_ = other.schemaChanged_;
        columnCount_ = other.columnCount_;
        columnNames_ = std::move(other.columnNames_);
        ready_ = false;
    }
    return *this;
}

Statement::~Statement() {
    if (handle_ == nullptr) {
        return;
    }
    if (cacheEntry_ != nullptr) {
        sqlite3_reset(handle_);
        sqlite3_clear_bindings(handle_);
        connection_->giveBackCached(static_cast<Connection::CacheEntry*>(cacheEntry_), handle_,
                                    cacheGeneration_);
        return;
    }
    sqlite3_finalize(handle_);
}

void Statement::beginBind(std::size_t count) {
    // Every parameter is bound below, so nothing of an earlier bind needs clearing.
    sqlite3_reset(handle_);
    ready_ = true;
    const int expected = sqlite3_bind_parameter_count(handle_);
    if (static_cast<std::size_t>(expected) != count) {
        base::fatal(std::to_string(expected) + " values expected, " + std::to_string(count) + " passed");
    }
}

Statement& Statement::bind(const Bindings& values) {
    if (values.empty()) {
        return *this;
    }
    const detail::DatabaseLock lock(handle_);
    beginBind(values.size());
    bindAll(handle_, values, BindMode::copy);
    return *this;
}

Statement& Statement::bind(const NamedBindings& values) {
    if (handle_ != nullptr) {
        sqlite3_reset(handle_);
        sqlite3_clear_bindings(handle_);
    }
    for (const auto& [name, value] : values.values) {
        const int index = handle_ != nullptr ? sqlite3_bind_parameter_index(handle_, name.c_str()) : 0;
        if (index < 1) {
            base::fatal("parameter not found: " + name);
        }
        bindBinding(index, value);
    }
    return *this;
}

void Statement::checkBind(int code) {
    if (code != SQLITE_OK) {
        // A bind records no message of its own beyond the code's text (too big, out of memory,
        // out of range), so the code's text is read without the connection's lock.
        throw Result(sqlite3_errstr(code), code);
    }
}

static int bindOne(sqlite3_stmt* handle, int index, const std::optional<Binding>& v,
                   sqlite3_destructor_type lifetime) {
    if (!v) {
        return sqlite3_bind_null(handle, index);
    }
    if (const auto* b = std::get_if<Blob>(&*v)) {
        if (b->bytes.empty()) {
            return sqlite3_bind_zeroblob(handle, index, 0); // a blob of no bytes, not NULL
        }
        return sqlite3_bind_blob64(handle, index, b->bytes.data(), b->bytes.size(), lifetime);
    }
    if (const auto* d = std::get_if<double>(&*v)) {
        return sqlite3_bind_double(handle, index, *d);
    }
    if (const auto* i = std::get_if<std::int64_t>(&*v)) {
        return sqlite3_bind_int64(handle, index, *i);
    }
    // By byte length: an embedded U+0000 is kept.
    const std::string& text = std::get<std::string>(*v);
    return sqlite3_bind_text64(handle, index, text.data(), text.size(), lifetime, SQLITE_UTF8);
}

void Statement::bindAll(sqlite3_stmt* handle, const Bindings& values, BindMode mode) {
    if (values.empty()) {
        return;
    }
    const int expected = sqlite3_bind_parameter_count(handle);
    if (static_cast<std::size_t>(expected) != values.size()) {
        base::fatal(std::to_string(expected) + " values expected, " + std::to_string(values.size()) +
                    " passed");
    }
    const sqlite3_destructor_type lifetime = mode == BindMode::copy ? SQLITE_TRANSIENT : SQLITE_STATIC;
    for (std::size_t i = 0; i < values.size(); ++i) {
        checkBind(bindOne(handle, static_cast<int>(i + 1), values[i], lifetime));
    }
}

void Statement::bindNull(int index) {
    checkBind(sqlite3_bind_null(handle_, index));
}
void Statement::bindInt64(int index, std::int64_t v) {
    checkBind(sqlite3_bind_int64(handle_, index, v));
}
void Statement::bindUnsigned(int index, std::uint64_t v) {
    if (v > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        throw Result("integer out of range: " + std::to_string(v) + " is wider than a signed 64-bit integer",
                     SQLITE_MISMATCH);
    }
    bindInt64(index, static_cast<std::int64_t>(v));
}
void Statement::bindDouble(int index, double v) {
    checkBind(sqlite3_bind_double(handle_, index, v));
}
void Statement::bindText(int index, std::string_view v) {
    // By byte length: an embedded U+0000 is kept.
    checkBind(sqlite3_bind_text64(handle_, index, v.data(), v.size(), SQLITE_TRANSIENT, SQLITE_UTF8));
}
void Statement::bindBlob(int index, const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        checkBind(sqlite3_bind_zeroblob(handle_, index, 0));
        return;
    }
    checkBind(sqlite3_bind_blob64(handle_, index, data, size, SQLITE_TRANSIENT));
}

void Statement::bindBinding(int index, const std::optional<Binding>& v) {
    checkBind(bindOne(handle_, index, v, SQLITE_TRANSIENT));
}

// Runs on the connection's queue.
bool Statement::stepHandle(sqlite3_stmt* handle) {
    const int rc = sqlite3_step(handle);
    if (rc == SQLITE_ROW) {
        return true;
    }
    if (rc == SQLITE_DONE) {
        return false;
    }
    // Another thread's call may have replaced the connection's message since the step. The
    // statement keeps its own, and resetting it makes it the connection's again: read it under
    // the mutex, so that it is this step's.
    sqlite3* db = sqlite3_db_handle(handle);
    const detail::DatabaseLock lock(db);
    const int code = sqlite3_reset(handle);
    detail::throwError(db, code != SQLITE_OK ? code : rc);
}

bool Statement::step() {
    return advance(nullptr);
}

bool Statement::next(Bindings& values) {
    return advance(&values);
}

bool Statement::advance(Bindings* values) {
    ready_ = false;
    sqlite3_stmt* handle = handle_;
    if (handle == nullptr) {
        return false; // no SQL: nothing to run
    }
    const bool row = connection_->sync([handle] { return stepHandle(handle); });
    if (const int reprepares = reprepareCount(handle); reprepares != reprepares_) {
        // Compiled again for a changed schema: the columns read before may be others now.
        reprepares_ = reprepares;
        columnCount_ = -1;
        columnNames_.reset();
        schemaChanged_ = true;
        connection_->schemaChanged();
    }
    if (row && values != nullptr) {
        this->row().readInto(*values);
    }
    return row;
}

Statement& Statement::run() {
    if (handle_ == nullptr) {
        return *this; // no SQL: nothing to run
    }
    // After a bind or a finished run the statement is reset already (unless someone stepped
    // its handle since).
    const bool reset = !ready_ || sqlite3_stmt_busy(handle_) != 0;
    ready_ = false;
    sqlite3_stmt* handle = handle_;
    connection_->sync([handle, reset] {
        const detail::DatabaseLock lock(handle);
        if (reset) {
            sqlite3_reset(handle);
        }
        while (stepHandle(handle)) {
        }
        sqlite3_reset(handle); // done: release its cursors and locks now, while they are at hand
    });
    ready_ = true;
    return *this;
}

std::optional<Binding> Statement::scalar() {
    sqlite3_reset(handle_);
    if (!step()) {
        return std::nullopt; // no row: never read column 0 of a finished statement
    }
    return row()[0];
}

void Statement::reset() {
    if (handle_ != nullptr) {
        sqlite3_reset(handle_);
        sqlite3_clear_bindings(handle_);
    }
}

std::optional<Bindings> Statement::failableNext() {
    if (!step()) {
        return std::nullopt;
    }
    return rowValues();
}

Statement::iterator Statement::begin() {
    sqlite3_reset(handle_);
    return iterator(this);
}

int Statement::columnCount() const {
    if (columnCount_ < 0) {
        columnCount_ = sqlite3_column_count(handle_);
    }
    return columnCount_;
}

const std::vector<std::string>& Statement::columnNames() const {
    if (!columnNames_) {
        std::vector<std::string> names;
        for (int i = 0; i < columnCount(); ++i) {
            const char* name = sqlite3_column_name(handle_, i);
            names.emplace_back(name != nullptr ? name : "");
        }
        columnNames_ = std::move(names);
    }
    return *columnNames_;
}

std::shared_ptr<const ColumnMap> Statement::columnNameMap() const {
    auto map = std::make_shared<ColumnMap>();
    const auto& names = columnNames();
    for (std::size_t i = 0; i < names.size(); ++i) {
        map->set(quote(names[i], '"'), static_cast<int>(i));
    }
    return map;
}

std::string Statement::description() const {
    const char* sql = sqlite3_sql(handle_);
    return sql != nullptr ? sql : "";
}

} // namespace sql
