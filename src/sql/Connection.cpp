#include "sql/Connection.h"

#include "base/Log.h"
#include "sql/Backup.h"
#include "sql/DatabaseLock.h"
#include "sql/LongPathVfs.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <utility>

#include <sqlite3.h>

namespace sql {

// ---- URI parameters and locations

URIQueryParameter URIQueryParameter::cache(CacheMode mode) {
    switch (mode) {
    case CacheMode::shared:
        return {"cache", "shared"};
    case CacheMode::private_:
        return {"cache", "private"};
    }
    return {"cache", "shared"};
}
URIQueryParameter URIQueryParameter::immutable(bool on) {
    return {"immutable", on ? "1" : "0"};
}
URIQueryParameter URIQueryParameter::modeOf(std::string file) {
    return {"modeof", std::move(file)};
}
URIQueryParameter URIQueryParameter::mode(FileMode mode) {
    switch (mode) {
    case FileMode::readOnly:
        return {"mode", "ro"};
    case FileMode::readWrite:
        return {"mode", "rw"};
    case FileMode::readWriteCreate:
        return {"mode", "rwc"};
    case FileMode::memory:
        return {"mode", "memory"};
    }
    return {"mode", "rwc"};
}
URIQueryParameter URIQueryParameter::nolock(bool on) {
    return {"nolock", on ? "1" : "0"};
}
URIQueryParameter URIQueryParameter::powersafeOverwrite(bool on) {
    return {"psow", on ? "1" : "0"};
}
URIQueryParameter URIQueryParameter::vfs(std::string name) {
    return {"vfs", std::move(name)};
}

Location Location::uri(std::string uri, std::vector<URIQueryParameter> parameters) {
    return Location(Kind::uri, std::move(uri), std::move(parameters));
}
Location Location::inMemory() {
    return Location(Kind::inMemory, {}, {});
}
Location Location::temporary() {
    return Location(Kind::temporary, {}, {});
}

static bool isUnreserved(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

// Percent-encodes every byte but the unreserved ones and `keep`.
static std::string percentEncode(std::string_view text, std::string_view keep) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (isUnreserved(c) || keep.find(c) != std::string_view::npos) {
            out += c;
            continue;
        }
        const auto b = static_cast<unsigned char>(c);
        out += '%';
        out += digits[b >> 4];
        out += digits[b & 0xf];
    }
    return out;
}

static bool startsWithFileScheme(std::string_view s) {
    if (s.size() < 5) {
        return false;
    }
    static constexpr std::string_view scheme = "file:";
    for (std::size_t i = 0; i < scheme.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(s[i])) != scheme[i]) {
            return false;
        }
    }
    return true;
}

std::string Location::description() const {
    switch (kind_) {
    case Kind::inMemory:
        return ":memory:";
    case Kind::temporary:
        return "";
    case Kind::uri:
        break;
    }
    if (parameters_.empty()) {
        return uri_;
    }
    std::string base = uri_;
    if (!startsWithFileScheme(base)) {
        // A plain path, up to a query of its own: encoded, so '#', '%' or spaces in it cannot
        // swallow the items.
        const auto question = base.find('?');
        base = "file:" + percentEncode(base.substr(0, question), "/") +
               (question == std::string::npos ? "" : base.substr(question));
    }
    std::string fragment;
    if (auto hash = base.find('#'); hash != std::string::npos) {
        fragment = base.substr(hash);
        base.erase(hash);
    }
    std::string items;
    for (const URIQueryParameter& p : parameters_) {
        if (!items.empty()) {
            items += '&';
        }
        items += percentEncode(p.name, "") + "=" + percentEncode(p.value, "/:");
    }
    const auto question = base.find('?');
    if (question == std::string::npos) {
        base += "?";
    } else if (question + 1 < base.size()) {
        base += "&";
    }
    return base + items + fragment;
}

// ---- versions and operations

SQLiteVersion SQLiteVersion::parse(std::string_view text) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    for (int splits = 0; splits < 3; ++splits) {
        const auto dot = text.find('.', start);
        if (dot == std::string_view::npos) {
            break;
        }
        pieces.push_back(text.substr(start, dot - start));
        start = dot + 1;
    }
    pieces.push_back(text.substr(start));
    std::erase_if(pieces, [](std::string_view p) { return p.empty(); });
    if (pieces.size() != 3) {
        return {};
    }
    int numbers[3];
    for (int i = 0; i < 3; ++i) {
        std::string_view p = pieces[static_cast<std::size_t>(i)];
        if (p.size() > 9 || p.find_first_not_of("0123456789") != std::string_view::npos) {
            return {};
        }
        numbers[i] = std::stoi(std::string(p));
    }
    return {numbers[0], numbers[1], numbers[2]};
}

std::string SQLiteVersion::description() const {
    return "SQLite " + std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(point);
}

Operation operationFromCode(int code) {
    switch (code) {
    case SQLITE_INSERT:
        return Operation::insert;
    case SQLITE_UPDATE:
        return Operation::update;
    case SQLITE_DELETE:
        return Operation::delete_;
    default:
        base::fatal("unhandled operation code: " + std::to_string(code));
    }
}

// ---- connection

struct Connection::Callbacks {
    std::unique_ptr<std::function<bool(int)>> busy;
    std::unique_ptr<std::function<void(std::string_view)>> trace;
    std::unique_ptr<std::function<void(Operation, std::string_view, std::string_view, std::int64_t)>> update;
    std::unique_ptr<std::function<void()>> commit;
    std::unique_ptr<std::function<void()>> rollback;
};

static const char queueKey = 0;

Connection::Connection()
    : queue_(dispatch::Queue::makeSerial("SQLite.Database"))
    , callbacks_(std::make_unique<Callbacks>()) {}

Connection::~Connection() {
    sqlite3_finalize(schemaProbe_);
    if (stash_.handle != nullptr) {
        sqlite3_finalize(stash_.handle);
        stash_ = {};
    }
    // The last owner is gone: no other thread holds the cache.
    for (sqlite3_stmt* handle : takeIdleHandles()) {
        sqlite3_finalize(handle);
    }
    cache_.clear();
    lastEntry_ = nullptr;
    if (handle_ != nullptr && sqlite3_close(handle_) != SQLITE_OK) {
        sqlite3_close_v2(handle_); // closes once the last statement is gone
    }
}

int Connection::openFlags(Access access) {
    switch (access) {
    case Access::readOnly:
        return SQLITE_OPEN_FULLMUTEX | SQLITE_OPEN_URI | SQLITE_OPEN_READONLY;
    case Access::readWrite:
        return SQLITE_OPEN_FULLMUTEX | SQLITE_OPEN_URI | SQLITE_OPEN_CREATE | SQLITE_OPEN_READWRITE;
    }
    return 0;
}

std::shared_ptr<Connection> Connection::open(const Location& location, Access access) {
    std::shared_ptr<Connection> c(new Connection());
    const std::string name = location.description();
    // Paths as long as the system allows, where SQLite's own VFS stops at 512 bytes.
    const int rc = sqlite3_open_v2(name.c_str(), &c->handle_, openFlags(access), detail::longPathVfsName());
    if (rc != SQLITE_OK) {
        throw Result(c->handle_ != nullptr ? sqlite3_errmsg(c->handle_) : sqlite3_errstr(rc), rc);
    }
    c->queue_->setSpecific(&queueKey, c.get());
    return c;
}

std::shared_ptr<Connection> Connection::open(const std::string& path, Access access) {
    return open(Location::uri(path), access);
}

bool Connection::readonly() const {
    return sqlite3_db_readonly(handle_, nullptr) == 1;
}
int Connection::lastFileError() const {
    int error = 0;
    return sqlite3_file_control(handle_, "main", SQLITE_FCNTL_LAST_ERRNO, &error) == SQLITE_OK ? error : 0;
}
std::int64_t Connection::lastInsertRowid() const {
    return sqlite3_last_insert_rowid(handle_);
}
std::int64_t Connection::changes() const {
    return sqlite3_changes(handle_);
}
std::int64_t Connection::totalChanges() const {
    return sqlite3_total_changes(handle_);
}
std::string Connection::description() const {
    const char* name = sqlite3_db_filename(handle_, nullptr);
    return name != nullptr ? name : "";
}
void Connection::interrupt() {
    sqlite3_interrupt(handle_);
}
void Connection::limitValueLength(int bytes) {
    sqlite3_limit(handle_, SQLITE_LIMIT_LENGTH, std::max(bytes, 1));
}

void Connection::setDeadline(std::optional<std::chrono::steady_clock::time_point> deadline) {
    if (!deadline) {
        deadline_.store(0);
        sqlite3_progress_handler(handle_, 0, nullptr, nullptr);
        return;
    }
    deadline_.store(std::max<std::int64_t>(
        1, std::chrono::duration_cast<std::chrono::nanoseconds>(deadline->time_since_epoch()).count()));
    // Reading the clock costs tens of nanoseconds; every 256 steps keeps it out of the profile.
    sqlite3_progress_handler(
        handle_, 256,
        [](void* self) -> int {
            const std::int64_t deadline = static_cast<Connection*>(self)->deadline_.load();
            const auto now = std::chrono::steady_clock::now().time_since_epoch();
            return deadline != 0 &&
                           std::chrono::duration_cast<std::chrono::nanoseconds>(now).count() >= deadline
                       ? 1
                       : 0;
        },
        this);
}

bool Connection::isAutocommit() const {
    return sqlite3_get_autocommit(handle_) != 0;
}
bool Connection::isOnQueue() const {
    return dispatch::currentSpecific(&queueKey) == this || queue_->isCurrent();
}

void Connection::execute(std::string_view sql) {
    const std::string text(sql);
    sync([&] {
        const detail::DatabaseLock lock(handle_);
        const int rc = sqlite3_exec(handle_, text.c_str(), nullptr, nullptr, nullptr);
        if (!Result::isSuccessCode(rc)) {
            detail::throwError(handle_, rc);
        }
    });
}

Statement Connection::prepare(std::string_view sql, const Bindings& bindings) {
    Statement s(shared_from_this(), sql);
    s.bind(bindings);
    return s;
}
Statement Connection::prepare(std::string_view sql, const NamedBindings& bindings) {
    Statement s(shared_from_this(), sql);
    s.bind(bindings);
    return s;
}
Statement Connection::run(std::string_view sql, const Bindings& bindings) {
    Statement s = prepare(sql, bindings);
    s.run();
    return s;
}
Statement Connection::run(std::string_view sql, const NamedBindings& bindings) {
    Statement s = prepare(sql, bindings);
    s.run();
    return s;
}
std::optional<Binding> Connection::scalar(std::string_view sql, const Bindings& bindings) {
    return prepare(sql, bindings).scalar();
}
std::optional<Binding> Connection::scalar(std::string_view sql, const NamedBindings& bindings) {
    return prepare(sql, bindings).scalar();
}
Statement Connection::vacuum() {
    return run("VACUUM");
}

void Connection::transaction(TransactionMode mode, const std::function<void()>& block) {
    runTransaction("BEGIN " + std::string(transactionModeRawValues.raw(mode)) + " TRANSACTION", block,
                   "COMMIT TRANSACTION", "ROLLBACK TRANSACTION");
}

void Connection::savepoint(std::string_view name, const std::function<void()>& block) {
    const std::string s = "SAVEPOINT " + quote(name, '\'');
    // ROLLBACK TO leaves the savepoint (and an outermost savepoint's transaction) open:
    // release it as well.
    runTransaction(s, block, "RELEASE " + s, "ROLLBACK TO " + s + "; RELEASE " + s);
}

void Connection::runTransaction(std::string_view begin, const std::function<void()>& block,
                                std::string_view commit, std::string_view rollback) {
    sync([&] {
        execute(begin);
        try {
            block();
            execute(commit);
        } catch (...) {
            // sqlite3 may already have rolled back (a full disk, an interrupt): then there is
            // nothing to roll back and the block's error is the one to report.
            if (!isAutocommit()) {
                execute(rollback);
            }
            throw;
        }
    });
}

void Connection::setBusyTimeout(double seconds) {
    busyTimeout_ = seconds;
    double ms = std::trunc(seconds * 1000);
    if (std::isnan(ms)) {
        ms = 0;
    }
    ms = std::clamp(ms, static_cast<double>(std::numeric_limits<int>::min()),
                    static_cast<double>(std::numeric_limits<int>::max()));
    sqlite3_busy_timeout(handle_, static_cast<int>(ms));
}

void Connection::busyHandler(std::function<bool(int)> handler) {
    if (!handler) {
        sqlite3_busy_handler(handle_, nullptr, nullptr);
        callbacks_->busy.reset();
        return;
    }
    auto box = std::make_unique<std::function<bool(int)>>(std::move(handler));
    sqlite3_busy_handler(
        handle_,
        [](void* ctx, int count) { return (*static_cast<std::function<bool(int)>*>(ctx))(count) ? 1 : 0; },
        box.get());
    callbacks_->busy = std::move(box);
}

static int traceStatement(unsigned, void* ctx, void* p, void*) {
    if (p == nullptr) {
        return 0;
    }
    char* sql = sqlite3_expanded_sql(static_cast<sqlite3_stmt*>(p));
    if (sql == nullptr) {
        return 0;
    }
    (*static_cast<std::function<void(std::string_view)>*>(ctx))(sql);
    sqlite3_free(sql);
    return 0;
}

void Connection::trace(std::function<void(std::string_view)> callback) {
    if (!callback) {
        sqlite3_trace_v2(handle_, 0, nullptr, nullptr);
        callbacks_->trace.reset();
        return;
    }
    auto box = std::make_unique<std::function<void(std::string_view)>>(std::move(callback));
    sqlite3_trace_v2(handle_, SQLITE_TRACE_STMT, traceStatement, box.get());
    callbacks_->trace = std::move(box);
}

void Connection::updateHook(
    std::function<void(Operation, std::string_view, std::string_view, std::int64_t)> hook) {
    using Hook = std::function<void(Operation, std::string_view, std::string_view, std::int64_t)>;
    if (!hook) {
        sqlite3_update_hook(handle_, nullptr, nullptr);
        callbacks_->update.reset();
        return;
    }
    auto box = std::make_unique<Hook>(std::move(hook));
    sqlite3_update_hook(
        handle_,
        [](void* ctx, int op, const char* db, const char* table, sqlite3_int64 rowid) {
            (*static_cast<Hook*>(ctx))(operationFromCode(op), db, table, rowid);
        },
        box.get());
    callbacks_->update = std::move(box);
}

void Connection::commitHook(std::function<void()> hook) {
    if (!hook) {
        sqlite3_commit_hook(handle_, nullptr, nullptr);
        callbacks_->commit.reset();
        return;
    }
    auto box = std::make_unique<std::function<void()>>(std::move(hook));
    sqlite3_commit_hook(
        handle_,
        [](void* ctx) {
            try {
                (*static_cast<std::function<void()>*>(ctx))();
                return 0;
            } catch (...) {
                return 1; // the commit becomes a rollback
            }
        },
        box.get());
    callbacks_->commit = std::move(box);
}

void Connection::rollbackHook(std::function<void()> hook) {
    if (!hook) {
        sqlite3_rollback_hook(handle_, nullptr, nullptr);
        callbacks_->rollback.reset();
        return;
    }
    auto box = std::make_unique<std::function<void()>>(std::move(hook));
    sqlite3_rollback_hook(
        handle_, [](void* ctx) { (*static_cast<std::function<void()>*>(ctx))(); }, box.get());
    callbacks_->rollback = std::move(box);
}

std::unique_ptr<Backup> Connection::makeBackup(const DatabaseName& sourceName,
                                               std::shared_ptr<Connection> target,
                                               const DatabaseName& targetName) {
    return std::make_unique<Backup>(shared_from_this(), sourceName, std::move(target), targetName);
}

SQLiteVersion Connection::sqliteVersion() {
    try {
        std::optional<Binding> v = scalar("SELECT sqlite_version()");
        if (v && std::holds_alternative<std::string>(*v)) {
            return SQLiteVersion::parse(std::get<std::string>(*v));
        }
    } catch (const Result&) {
    }
    return {};
}

void Connection::attach(const Location& location, std::string_view schemaName) {
    run("ATTACH DATABASE ? AS ?", {Binding(location.description()), Binding(std::string(schemaName))});
}

void Connection::detach(std::string_view schemaName) {
    run("DETACH DATABASE ?", {Binding(std::string(schemaName))});
}

// The integer a pragma reads, nullopt on any error or another type.
static std::optional<std::int64_t> integerPragma(Connection& db, std::string_view name) {
    try {
        const std::optional<Binding> v = db.scalar("PRAGMA " + std::string(name));
        if (v && std::holds_alternative<std::int64_t>(*v)) {
            return std::get<std::int64_t>(*v);
        }
    } catch (const Result&) {
    }
    return std::nullopt;
}

static void setPragma(Connection& db, std::string_view name, std::int64_t value) {
    try {
        db.run("PRAGMA " + std::string(name) + " = " + std::to_string(value));
    } catch (const Result&) {
    }
}

std::optional<std::int32_t> Connection::userVersion() {
    const std::optional<std::int64_t> v = integerPragma(*this, "user_version");
    if (!v) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(*v);
}

void Connection::setUserVersion(std::optional<std::int32_t> version) {
    setPragma(*this, "user_version", version.value_or(0));
}

bool Connection::foreignKeys() {
    return integerPragma(*this, "foreign_keys") == 1;
}

void Connection::setForeignKeys(bool on) {
    setPragma(*this, "foreign_keys", on ? 1 : 0);
}

bool Connection::deferForeignKeys() {
    return integerPragma(*this, "defer_foreign_keys") == 1;
}

void Connection::setDeferForeignKeys(bool on) {
    setPragma(*this, "defer_foreign_keys", on ? 1 : 0);
}

// ---- statement cache (query-builder paths)

static constexpr std::size_t cacheCapacity = 64;

sqlite3_stmt* Connection::takeCached(std::string_view sql, CacheEntry*& entry, std::uint64_t& generation) {
    std::lock_guard lock(cacheMutex_);
    generation = generation_;
    if (lastEntry_ != nullptr && lastKey_ == sql) {
        entry = lastEntry_; // the same statement as last time: no hashing
    } else {
        auto it = cache_.find(sql);
        if (it == cache_.end()) {
            if (cache_.size() >= cacheCapacity) {
                entry = nullptr; // full: this statement is finalized after use
                return nullptr;
            }
            it = cache_.emplace(std::string(sql), CacheEntry{}).first;
            it->second.key = it->first;
        }
        entry = &it->second;
        lastEntry_ = entry;
        lastKey_ = it->first;
    }
    if (entry->idle.empty()) {
        return nullptr;
    }
    sqlite3_stmt* handle = entry->idle.back();
    entry->idle.pop_back();
    return handle;
}

void Connection::giveBackCached(CacheEntry* entry, sqlite3_stmt* handle, std::uint64_t generation) {
    {
        std::lock_guard lock(cacheMutex_);
        if (generation == generation_ && entry->idle.size() < 4) {
            entry->idle.push_back(handle);
            return;
        }
    }
    sqlite3_finalize(handle);
}

// Called with cacheMutex_ held (or by the destructor). The caller finalizes them once it let go of it:
// finalizing takes the connection's mutex, which is taken before cacheMutex_ where both are held.
std::vector<sqlite3_stmt*> Connection::takeIdleHandles() {
    std::vector<sqlite3_stmt*> out;
    for (auto& [sql, entry] : cache_) {
        out.insert(out.end(), entry.idle.begin(), entry.idle.end());
        entry.idle.clear();
    }
    return out;
}

void Connection::schemaChanged() {
    std::vector<sqlite3_stmt*> old;
    {
        std::lock_guard lock(cacheMutex_);
        ++generation_;
        old = takeIdleHandles();
    }
    for (sqlite3_stmt* handle : old) {
        sqlite3_finalize(handle);
    }
}

void Connection::checkSchema() {
    const detail::DatabaseLock lock(handle_);
    holdSchemaCheck();
    sqlite3_reset(schemaProbe_);
}

void Connection::holdSchemaCheck() {
    if (schemaProbe_ == nullptr) {
        // Any statement on the schema table carries the schema version it was compiled for and
        // is compiled again at its step when the file holds another: counting those is cheap
        // and notices a change by any connection. It gives one row, so that a caller may keep
        // its read transaction open. Handles cached before the probe existed are of unknown
        // age, so its first use counts as a change.
        schemaProbe_ = Statement::prepareHandle(handle_, "SELECT (SELECT 1 FROM sqlite_schema LIMIT 0)");
        schemaChanged();
    }
    const int before = sqlite3_stmt_status(schemaProbe_, SQLITE_STMTSTATUS_REPREPARE, 0);
    // Not the caller's statement: kept out of the trace.
    void* const traced = callbacks_->trace.get();
    if (traced != nullptr) {
        sqlite3_trace_v2(handle_, 0, nullptr, nullptr);
    }
    const int rc = sqlite3_step(schemaProbe_);
    if (traced != nullptr) {
        sqlite3_trace_v2(handle_, SQLITE_TRACE_STMT, traceStatement, traced);
    }
    if (rc != SQLITE_DONE && rc != SQLITE_ROW) {
        std::string message = sqlite3_errmsg(handle_);
        sqlite3_reset(schemaProbe_);
        throw Result(std::move(message), rc);
    }
    if (sqlite3_stmt_status(schemaProbe_, SQLITE_STMTSTATUS_REPREPARE, 0) != before) {
        schemaChanged();
    }
}

// ---- typed queries

RowIterator Connection::prepareRowIterator(std::string_view sql, const Bindings& bindings) {
    Statement s = prepare(sql, bindings);
    auto map = s.columnNameMap();
    return RowIterator(std::move(s), std::move(map),
                       [](Statement& statement) { return statement.columnNameMap(); });
}

// True when a column of the select list is a star, whose columns the schema decides.
static bool selectsStar(const QueryClauses& clauses) {
    return std::any_of(clauses.select.columns.begin(), clauses.select.columns.end(),
                       [](const Expression<>& c) {
                           const std::string& t = c.templateText;
                           return !t.empty() && t.back() == '*' && (t.size() == 1 || t[t.size() - 2] == '.');
                       });
}

RowIterator Connection::prepareQuery(const QueryClauses& clauses) {
    checkSchema();
    return prepareChecked(clauses, Remapping::onSchemaChange);
}

RowIterator Connection::prepareChecked(const QueryClauses& clauses, Remapping remapping) {
    const Expression<> e = query::render(clauses);
    Statement s(shared_from_this(), e.templateText, Statement::FromCache{});
    s.bind(e.bindings);
    auto map = columnNameMapOf(clauses);
    if (remapping == Remapping::none || !selectsStar(clauses)) {
        return RowIterator(std::move(s), std::move(map));
    }
    // Should the schema change before the first step, the stars are expanded again.
    return RowIterator(std::move(s), std::move(map), [self = shared_from_this(), clauses](Statement&) {
        return self->columnNameMapOf(clauses);
    });
}

std::optional<Row> Connection::pluckQuery(const QueryClauses& clauses) {
    QueryClauses first = clauses;
    first.limit = QueryClauses::Limit{1, clauses.limit ? clauses.limit->offset : std::nullopt};
    // One unit on the queue, inside the read transaction of the schema check: the schema the
    // check saw is the one the row is read with, and the file is locked once, not twice.
    return sync([&] {
        const detail::DatabaseLock lock(handle_);
        holdSchemaCheck();
        const struct Release {
            sqlite3_stmt* probe;
            ~Release() { sqlite3_reset(probe); }
        } release{schemaProbe_};
        RowIterator rows = prepareChecked(first, Remapping::none);
        return rows.failableNext();
    });
}

static std::vector<std::string_view> splitDots(std::string_view text) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (start <= text.size()) {
        auto dot = text.find('.', start);
        if (dot == std::string_view::npos) {
            dot = text.size();
        }
        if (dot > start) {
            parts.push_back(text.substr(start, dot - start));
        }
        start = dot + 1;
    }
    return parts;
}

std::shared_ptr<const ColumnMap> Connection::columnNameMapOf(const QueryClauses& clauses) {
    auto map = std::make_shared<ColumnMap>();
    int index = 0;
    auto expand = [&](const QueryClauses& source, const std::vector<Expression<>>& select, bool qualified) {
        QueryClauses plain(source.from.name, std::nullopt, source.from.database);
        plain.select = {false, select};
        const Expression<> e = query::render(plain);
        // Never stepped: its column names are those of the schema as of the last check.
        Statement s(shared_from_this(), e.templateText, Statement::FromCache{});
        s.bind(e.bindings);
        const std::string prefix =
            qualified ? query::tableName(source, false).templateText + "." : std::string();
        for (const std::string& name : s.columnNames()) {
            map->set(prefix + quote(name, '"'), index++);
        }
    };
    const std::vector<Expression<>> star{starExpression()};
    for (const Expression<>& column : clauses.select.columns) {
        const std::string& t = column.templateText;
        std::vector<std::string_view> parts = splitDots(t);
        if (parts.empty()) {
            continue; // not a column
        }
        if (parts.back() != "*") {
            map->set(t, index++);
            continue;
        }
        std::string ns;
        for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
            if (i > 0) {
                ns += '.';
            }
            ns += parts[i];
        }
        if (ns.empty()) {
            const bool qualified = !clauses.join.empty();
            expand(clauses, star, qualified);
            for (const auto& j : clauses.join) {
                expand(*j.query, j.query->select.columns, qualified);
            }
            continue;
        }
        if (query::tableName(clauses, false).templateText == ns) {
            expand(clauses, star, true);
            continue;
        }
        bool found = false;
        for (const auto& j : clauses.join) {
            if (query::tableName(*j.query, false).templateText == ns) {
                expand(*j.query, j.query->select.columns, true);
                found = true;
                break;
            }
        }
        if (!found) {
            throw QueryError::noSuchTable(ns);
        }
    }
    return map;
}

std::int64_t Connection::runChange(const Expression<>& statement, bool rowid) {
    if (statement.templateText.empty()) {
        return 0;
    }
    // One unit on the queue: nothing runs between the statement and the rowid read.
    return sync([&] {
        // A handle of the statement cache for this unit only. Texts and blobs are bound without
        // copies (`statement` outlives the unit), so the bindings are cleared before the handle
        // is put away, however the unit ends. It goes to the stash, the stash's previous one back
        // to the cache. A handle older than a schema change is fine here (sqlite3 compiles it
        // again at its step; no column names are read), and the cache drops it when it comes back.
        struct Lease {
            Connection& connection;
            CacheEntry* entry = nullptr;
            sqlite3_stmt* handle = nullptr;
            std::uint64_t generation = 0;
            bool clean = false;
            ~Lease() {
                if (handle == nullptr) {
                    return;
                }
                if (!clean) {
                    sqlite3_reset(handle);
                    sqlite3_clear_bindings(handle);
                }
                if (entry == nullptr) {
                    sqlite3_finalize(handle); // the cache is full
                    return;
                }
                Stash& stash = connection.stash_;
                if (stash.handle != nullptr) {
                    connection.giveBackCached(stash.entry, stash.handle, stash.generation);
                }
                stash = {entry, handle, generation};
            }
        } lease{*this};
        if (stash_.handle != nullptr && stash_.entry->key == statement.templateText) {
            lease.entry = stash_.entry;
            lease.generation = stash_.generation;
            lease.handle = std::exchange(stash_.handle, nullptr);
        } else {
            lease.handle = takeCached(statement.templateText, lease.entry, lease.generation);
        }
        // Held for the whole unit: the calls below re-enter it instead of each taking it afresh,
        // and a failure's message is this unit's.
        const detail::DatabaseLock lock(handle_);
        if (lease.handle == nullptr) {
            lease.handle = Statement::prepareHandle(handle_, statement.templateText);
        }
        Statement::bindAll(lease.handle, statement.bindings, Statement::BindMode::borrow);
        while (Statement::stepHandle(lease.handle)) {
        }
        const std::int64_t result = rowid ? lastInsertRowid() : changes();
        sqlite3_reset(lease.handle);
        sqlite3_clear_bindings(lease.handle);
        lease.clean = true;
        return result;
    });
}

std::int64_t Connection::run(const Insert& insert) {
    return runChange(insert, true);
}
std::int64_t Connection::run(const Update& update) {
    return runChange(update, false);
}
std::int64_t Connection::run(const Delete& del) {
    return runChange(del, false);
}

std::optional<Binding> Connection::scalarBinding(const Expression<>& query) {
    Statement s(shared_from_this(), query.templateText, Statement::FromCache{});
    s.bind(query.bindings);
    return s.scalar();
}

} // namespace sql
