// One open SQLite database: opening, running SQL on the connection's serial queue,
// transactions, hooks, and running the typed queries of Query.h.
#pragma once

#include "dispatch/Queue.h"
#include "sql/Errors.h"
#include "sql/Query.h"
#include "sql/RawValue.h"
#include "sql/Row.h"
#include "sql/Statement.h"
#include "sql/TypedFunction.h"

#include <atomic>
#include <chrono>
#include <compare>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct sqlite3;
struct sqlite3_context;
struct sqlite3_value;

namespace sql {

class Backup;

// One query item of a database URI (name=value).
struct URIQueryParameter {
    enum class CacheMode { shared, private_ };
    enum class FileMode { readOnly, readWrite, readWriteCreate, memory };

    static URIQueryParameter cache(CacheMode mode);
    static URIQueryParameter immutable(bool on);
    static URIQueryParameter modeOf(std::string file);
    static URIQueryParameter mode(FileMode mode);
    static URIQueryParameter nolock(bool on);
    static URIQueryParameter powersafeOverwrite(bool on);
    static URIQueryParameter vfs(std::string name);

    std::string name;
    std::string value;

    std::string description() const { return name + "=" + value; }
    bool operator==(const URIQueryParameter&) const = default;
};

// Where a connection opens.
class Location {
public:
    // A path or a "file:" URI; parameters are appended as query items.
    static Location uri(std::string uri, std::vector<URIQueryParameter> parameters = {});
    static Location inMemory();
    static Location temporary();

    // The file name handed to sqlite3: ":memory:", "" (temporary), the URI unchanged when it
    // has no parameters, else a "file:" URI whose query items (those after a '?' of its own
    // first) end with the parameters in order. A plain path's part before '?' is
    // percent-encoded, so that '#', '%' or spaces in the name cannot swallow the parameters.
    std::string description() const;

private:
    enum class Kind { uri, inMemory, temporary };
    Location(Kind kind, std::string uri, std::vector<URIQueryParameter> parameters)
        : kind_(kind)
        , uri_(std::move(uri))
        , parameters_(std::move(parameters)) {}
    Kind kind_;
    std::string uri_;
    std::vector<URIQueryParameter> parameters_;
};

struct SQLiteVersion {
    int major = 0;
    int minor = 0;
    int point = 0;

    // "3.40.1" -> 3.40.1; anything but three decimal parts gives 0.0.0 (unknown).
    static SQLiteVersion parse(std::string_view text);
    std::string description() const;
    auto operator<=>(const SQLiteVersion&) const = default;
};

enum class TransactionMode { deferred, immediate, exclusive };
inline constexpr auto transactionModeRawValues = makeRawValueTable(
    std::pair{TransactionMode::deferred, "DEFERRED"}, std::pair{TransactionMode::immediate, "IMMEDIATE"},
    std::pair{TransactionMode::exclusive, "EXCLUSIVE"});

enum class Operation { insert, update, delete_ };
// From SQLite's action code (18, 23, 9); any other code stops the program.
Operation operationFromCode(int code);

// Which database of a connection takes part in a backup.
struct DatabaseName {
    static DatabaseName main() { return {"main"}; }
    static DatabaseName temp() { return {"temp"}; }
    static DatabaseName attached(std::string name) { return {std::move(name)}; }
    std::string name;
};

// An open database. Shared through std::shared_ptr (statements and backups hold it open).
//
// Threads: each connection owns the serial queue "SQLite.Database". execute, stepping,
// transactions and savepoints run on it, inline when the caller already runs on it (a block
// inside a transaction may use the connection again without dead-lock). Preparing, binding
// and reading rows run on the caller's thread. The simple properties and the hook setters
// call sqlite3 directly. Hooks run on the thread that steps, the connection's queue.
//
// Transactions: autocommit -> (begin) -> in transaction -> (commit | rollback) -> autocommit.
// Savepoints nest inside; a failed savepoint block rolls back to the savepoint and releases
// it, so an outermost savepoint never leaves a transaction open.
//
// Errors: every failing SQLite call throws Result with sqlite3's message and code, read under
// the connection's mutex so that another thread's call cannot replace them.
//
// Statement cache: the query-builder paths keep prepared handles per SQL text. Nothing in it
// outlives a schema change, by this connection or another: preparing a typed query first
// reads whether the schema changed (one step of a tiny statement on the schema table, which
// also brings this connection's view of the schema up to date), and a change drops every
// cached handle. A statement that sqlite3 compiles again at its step reports the change too.
class Connection : public std::enable_shared_from_this<Connection> {
public:
    enum class Access { readWrite, readOnly };

    // Opens (read-write creates the file). Throws Result.
    static std::shared_ptr<Connection> open(const Location& location, Access access = Access::readWrite);
    static std::shared_ptr<Connection> open(const std::string& path, Access access = Access::readWrite);
    // The sqlite3_open_v2 flags: FULLMUTEX | URI | READONLY, or FULLMUTEX | URI | CREATE | READWRITE.
    static int openFlags(Access access);

    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool readonly() const;
    // The system's errno of the main database file's last failed operation (EFBIG for a write
    // past a file-size limit, say); 0 when none failed or it is not known.
    int lastFileError() const;
    std::int64_t lastInsertRowid() const;
    std::int64_t changes() const;
    std::int64_t totalChanges() const;
    // The main database's file name.
    std::string description() const;
    void interrupt();
    // Bounds for reading a file from outside. Any value longer than `bytes` fails its statement
    // with SQLITE_TOOBIG before it is made (Result::isTooBig); every statement still running
    // after `deadline` (monotonic clock) is interrupted (Result::isInterrupted). nullopt lifts
    // the deadline. Set them before the statements run; the deadline is checked every few
    // hundred virtual-machine steps, so one costly step may run past it.
    void limitValueLength(int bytes);
    void setDeadline(std::optional<std::chrono::steady_clock::time_point> deadline);
    // True outside any transaction.
    bool isAutocommit() const;

    sqlite3* handle() const { return handle_; }
    const dispatch::QueuePtr& queue() const { return queue_; }
    // True when the caller runs on this connection's queue.
    bool isOnQueue() const;
    // Runs `f` on the connection's queue (inline when already on it); rethrows what it throws.
    template <class F> auto sync(F&& f) -> std::invoke_result_t<F&> {
        return queue_->sync(std::forward<F>(f));
    }

    // ---- plain SQL
    // One or more statements (a schema script).
    void execute(std::string_view sql);
    Statement prepare(std::string_view sql, const Bindings& bindings = {});
    Statement prepare(std::string_view sql, const NamedBindings& bindings);
    Statement run(std::string_view sql, const Bindings& bindings = {});
    Statement run(std::string_view sql, const NamedBindings& bindings);
    std::optional<Binding> scalar(std::string_view sql, const Bindings& bindings = {});
    std::optional<Binding> scalar(std::string_view sql, const NamedBindings& bindings);
    Statement vacuum();

    // ---- transactions: the block runs on the connection's queue; a throw rolls back and is
    // rethrown (or the rollback's own error when that fails too).
    void transaction(TransactionMode mode, const std::function<void()>& block);
    void transaction(const std::function<void()>& block) { transaction(TransactionMode::deferred, block); }
    void savepoint(std::string_view name, const std::function<void()>& block);
    // Each text may hold several statements.
    void runTransaction(std::string_view begin, const std::function<void()>& block, std::string_view commit,
                        std::string_view rollback);

    // ---- callbacks (an empty function removes one)
    double busyTimeout() const { return busyTimeout_; }
    // Seconds; clamped into the 32-bit millisecond range, NaN as 0.
    void setBusyTimeout(double seconds);
    // Receives how often it was called for this lock; true retries.
    void busyHandler(std::function<bool(int)> handler);
    // Each statement's expanded SQL as it starts.
    void trace(std::function<void(std::string_view)> callback);
    void updateHook(
        std::function<void(Operation, std::string_view database, std::string_view table, std::int64_t rowid)>
            hook);
    // A throw turns the commit into a rollback (the error is dropped).
    void commitHook(std::function<void()> hook);
    void rollbackHook(std::function<void()> hook);

    // An online copy of this connection's database `sourceName` into `target`. Throws Result.
    std::unique_ptr<Backup> makeBackup(const DatabaseName& sourceName, std::shared_ptr<Connection> target,
                                       const DatabaseName& targetName);
    // The library's version, 0.0.0 when it cannot be read.
    SQLiteVersion sqliteVersion();
    // ATTACH DATABASE ? AS ? and DETACH DATABASE ?: the names are bound, never spliced into the
    // SQL. Throw Result (a file that does not open, a name unknown or in use).
    void attach(const Location& location, std::string_view schemaName);
    void detach(std::string_view schemaName);
    // Pragmas: reads never throw (nullopt or false on any error), writes ignore errors.
    std::optional<std::int32_t> userVersion();
    // An absent version writes 0.
    void setUserVersion(std::optional<std::int32_t> version);
    bool foreignKeys();
    void setForeignKeys(bool on);
    bool deferForeignKeys();
    void setDeferForeignKeys(bool on);

    // ---- functions, aggregates and collations of our own. Each runs on the thread that steps
    // the statement using it (the connection's queue). A registration replaces an earlier one
    // of the same name (and argument count); it fails, throwing Result, while a statement of
    // this connection is running (SQLITE_BUSY). A callable that throws fails the SQL call
    // with its message; nothing unwinds through sqlite3.

    // argumentCount nullopt takes any number of arguments. Throws Result.
    void createFunction(std::string_view name, std::optional<int> argumentCount, bool deterministic,
                        SqlFunction function);
    // Argument and result types come from the callable: Value types, std::optional of one for
    // NULL. A required argument that receives NULL (or another stored type) fails the call.
    // Returns the call builder: "name"(args...) typed as the callable's result.
    template <class F> auto createFunction(std::string_view name, bool deterministic, F function) {
        using Signature = detail::Signature<F>;
        auto box = std::make_shared<F>(std::move(function));
        void* userData = box.get();
        registerFunction(name, static_cast<int>(Signature::arity), deterministic, std::move(box), userData,
                         {&detail::callTyped<F>, nullptr, nullptr});
        return typename Signature::Call{quote(name, '"')};
    }
    // A fold over each group's rows: every group starts from a fresh `initial()`, `reduce`
    // takes the state and the row's arguments and returns the new state, `result` turns the
    // final state into the SQL value. A group without rows gives result(initial()).
    template <class Initial, class Reduce, class Result>
    void createAggregation(std::string_view name, std::optional<int> argumentCount, bool deterministic,
                           Initial initial, Reduce reduce, Result result) {
        using T = std::invoke_result_t<Initial&>;
        AggregateOperations ops;
        ops.make = [initial = std::move(initial)]() mutable { return static_cast<void*>(new T(initial())); };
        ops.step = [reduce = std::move(reduce)](void* state, const Bindings& args) mutable {
            T& t = *static_cast<T*>(state);
            t = reduce(std::move(t), args);
        };
        ops.final = [result = std::move(result)](void* state) mutable -> std::optional<Binding> {
            return result(std::as_const(*static_cast<T*>(state)));
        };
        ops.destroy = [](void* state) { delete static_cast<T*>(state); };
        createAggregation(name, argumentCount, deterministic, std::move(ops));
    }
    // The type-erased core of the above.
    struct AggregateOperations {
        std::function<void*()> make;
        std::function<void(void*, const Bindings&)> step;
        std::function<std::optional<Binding>(void*)> final;
        std::function<void(void*)> destroy;
    };
    void createAggregation(std::string_view name, std::optional<int> argumentCount, bool deterministic,
                           AggregateOperations operations);
    // `compare(std::string_view, std::string_view)` sees exactly the bytes SQLite gives (no
    // terminator) and returns <0, 0 or >0.
    template <class F> void createCollation(std::string_view name, F compare) {
        auto box = std::make_shared<F>(std::move(compare));
        void* userData = box.get();
        registerCollation(name, std::move(box), userData, &detail::compareWith<F>);
    }

    // ---- typed queries
    template <class Q> RowIterator prepare(const QueryType<Q>& query) { return prepareQuery(query.clauses); }
    template <class Q> RowIterator prepareRowIterator(const QueryType<Q>& query) {
        return prepareQuery(query.clauses);
    }
    RowIterator prepareRowIterator(std::string_view sql, const Bindings& bindings = {});
    // The first row (limit 1, keeping the query's offset), nullopt when none.
    template <class Q> std::optional<Row> pluck(const QueryType<Q>& query) {
        return pluckQuery(query.clauses);
    }
    template <class Q> std::shared_ptr<const ColumnMap> columnNameMap(const QueryType<Q>& query) {
        checkSchema();
        return columnNameMapOf(query.clauses);
    }

    // Run as one unit on the queue. insert returns the new rowid; update and delete the
    // number of changed rows. An empty statement (insertMany of no rows) runs as nothing and
    // returns 0.
    std::int64_t run(const Insert& insert);
    std::int64_t run(const Update& update);
    std::int64_t run(const Delete& del);

    // Scalar queries: optional V gives nullopt for NULL, no row or another stored type; plain
    // V throws QueryError::unexpectedNullValue there.
    template <class V> auto scalar(const ScalarQuery<V>& query) { return scalarAs<V>(query.expression()); }
    template <class V> auto scalar(const Select<V>& select) { return scalarAs<V>(select); }

private:
    friend class Statement;
    Connection();

    RowIterator prepareQuery(const QueryClauses& clauses);
    // Whether a star query's rows make their column map again after a schema change.
    enum class Remapping { none, onSchemaChange };
    // prepareQuery after the schema check.
    RowIterator prepareChecked(const QueryClauses& clauses, Remapping remapping);
    std::optional<Row> pluckQuery(const QueryClauses& clauses);
    std::shared_ptr<const ColumnMap> columnNameMapOf(const QueryClauses& clauses);
    // Drops the cached handles when the schema changed since the last look; throws Result.
    void checkSchema();
    // The check, leaving its probe on its row (its read transaction open) until it is reset.
    // Called with the connection's mutex held.
    void holdSchemaCheck();
    // The schema changed: every cached handle is dropped, those in use when they come back.
    void schemaChanged();
    std::vector<sqlite3_stmt*> takeIdleHandles();
    std::int64_t runChange(const Expression<>& statement, bool rowid);
    std::optional<Binding> scalarBinding(const Expression<>& query);

    // A stored value that does not convert (too wide, unparsable) throws in both forms.
    template <class V> auto scalarAs(const Expression<>& query) {
        const std::optional<Binding> b = scalarBinding(query);
        if constexpr (detail::IsOptional<V>::value) {
            using T = typename V::value_type;
            const auto* d = b ? std::get_if<typename ValueTraits<T>::Datatype>(&*b) : nullptr;
            return d != nullptr ? convertStored<T>(*d, query.templateText) : std::nullopt;
        } else {
            const auto* d = b ? std::get_if<typename ValueTraits<V>::Datatype>(&*b) : nullptr;
            if (d == nullptr) {
                throw QueryError::unexpectedNullValue(query.templateText);
            }
            return std::move(*convertStored<V>(*d, query.templateText));
        }
    }

    // The statement cache of the query-builder paths, keyed by SQL text.
    // Idle prepared handles per SQL text. Entries are never removed while the connection
    // lives, so a statement may point at its entry.
    struct CacheEntry {
        std::vector<sqlite3_stmt*> idle;
        std::string_view key; // the map's own key for this entry
    };
    // A handle for `sql`, or null when none is idle; `generation` is the schema generation a
    // handle prepared now belongs to.
    sqlite3_stmt* takeCached(std::string_view sql, CacheEntry*& entry, std::uint64_t& generation);
    // Keeps the handle for reuse, or finalizes it when its generation has passed.
    void giveBackCached(CacheEntry* entry, sqlite3_stmt* handle, std::uint64_t generation);

    // sqlite3's callbacks of a function: `call` for a scalar one, `step` and `final` for an aggregate.
    struct FunctionCallbacks {
        FunctionCallback call;
        FunctionCallback step;
        void (*final)(sqlite3_context*);
    };
    // Registers on the queue and keeps `box` (whose object is `userData`) alive in functions_.
    void registerFunction(std::string_view name, int argumentCount, bool deterministic,
                          std::shared_ptr<void> box, void* userData, const FunctionCallbacks& callbacks);
    // The same for a collation, kept in collations_.
    void registerCollation(std::string_view name, std::shared_ptr<void> box, void* userData,
                           CollationCallback compare);

    sqlite3* handle_ = nullptr;
    dispatch::QueuePtr queue_;
    // The boxes sqlite3 holds as user data: kept here for the connection's life (sqlite3 gets
    // no destructor), a box replaced by a new registration released then.
    std::mutex registryMutex_;
    std::map<std::string, std::map<int, std::shared_ptr<void>>, std::less<>> functions_;
    std::map<std::string, std::shared_ptr<void>, std::less<>> collations_;
    double busyTimeout_ = 0;
    // Nanoseconds since the steady clock's epoch; 0 without a deadline.
    std::atomic<std::int64_t> deadline_{0};
    struct Callbacks;
    std::unique_ptr<Callbacks> callbacks_;
    std::mutex cacheMutex_;
    // Counts the schema changes seen; guarded by cacheMutex_.
    std::uint64_t generation_ = 0;
    // Steps to see whether the schema changed; used under the connection's mutex.
    sqlite3_stmt* schemaProbe_ = nullptr;
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    std::unordered_map<std::string, CacheEntry, Hash, std::equal_to<>> cache_;
    // The entry used last and its key (a view of the map's own key, stable as entries stay).
    CacheEntry* lastEntry_ = nullptr;
    std::string_view lastKey_;
    // Used on the queue only: the handle of the last insert, update or delete, kept out of the
    // cache so that a run of the same statement takes it back without the cache's lock.
    struct Stash {
        CacheEntry* entry = nullptr;
        sqlite3_stmt* handle = nullptr;
        std::uint64_t generation = 0;
    };
    Stash stash_;
};

} // namespace sql
