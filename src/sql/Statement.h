// One prepared SQLite statement of a Connection: binding, stepping, reading the current row.
#pragma once

#include "sql/Value.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

struct sqlite3;
struct sqlite3_mutex;
struct sqlite3_stmt;

namespace sql {

class Connection;

// Values by parameter name, the name with its prefix (":id").
struct NamedBindings {
    NamedBindings() = default;
    NamedBindings(std::initializer_list<std::pair<const std::string, std::optional<Binding>>> list)
        : values(list) {}
    std::map<std::string, std::optional<Binding>> values;
};

namespace detail {
// Keys are short quoted names: their length and two of their characters spread them well
// enough, for far less than hashing every byte. Equal keys hash equal, which is all a lookup
// relies on.
inline std::size_t columnKeyHash(std::string_view key) {
    const std::size_t n = key.size();
    if (n == 0) {
        return 0;
    }
    const auto mid = static_cast<unsigned char>(key[n / 2]);
    const auto late = static_cast<unsigned char>(key[n >= 2 ? n - 2 : 0]);
    return (n * 0x9E3779B1u) ^ (mid * 0x85EBCA6Bu) ^ (late * 0xC2B2AE35u);
}

// Equal bytes; short runs without a call into the library (two overlapping loads a side).
inline bool sameBytes(const char* a, const char* b, std::size_t n) {
    if (n >= 8 && n <= 16) {
        std::uint64_t a0, a1, b0, b1;
        std::memcpy(&a0, a, 8);
        std::memcpy(&b0, b, 8);
        std::memcpy(&a1, a + n - 8, 8);
        std::memcpy(&b1, b + n - 8, 8);
        return ((a0 ^ b0) | (a1 ^ b1)) == 0;
    }
    if (n >= 4 && n < 8) {
        std::uint32_t a0, a1, b0, b1;
        std::memcpy(&a0, a, 4);
        std::memcpy(&b0, b, 4);
        std::memcpy(&a1, a + n - 4, 4);
        std::memcpy(&b1, b + n - 4, 4);
        return ((a0 ^ b0) | (a1 ^ b1)) == 0;
    }
    if (n < 4) {
        for (std::size_t i = 0; i < n; ++i) {
            if (a[i] != b[i]) {
                return false;
            }
        }
        return true;
    }
    return std::memcmp(a, b, n) == 0;
}
} // namespace detail

// Column key (quoted name or template) -> index into a row's values. Built once per prepared
// query and shared by its rows, which look a column up for every value they read: an open
// hash table on a cheap hash of the key, filled as keys are set and never changed after.
class ColumnMap {
public:
    // A key already present takes the new index.
    void set(std::string key, int index);
    std::optional<int> find(std::string_view key) const;
    // As find, -1 when absent. Inline: rows read by column name look up every value.
    int indexOf(std::string_view key) const {
        if (slots_.empty()) {
            return -1;
        }
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t h = detail::columnKeyHash(key) & mask;; h = (h + 1) & mask) {
            const std::uint32_t slot = slots_[h];
            if (slot == 0) {
                return -1;
            }
            const auto& [k, v] = entries_[slot - 1];
            if (k.size() == key.size() && detail::sameBytes(k.data(), key.data(), key.size())) {
                return v;
            }
        }
    }
    // All keys, sorted ascending.
    std::vector<std::string> keys() const;
    // Keys ending in "." + `name`, sorted ascending.
    std::vector<std::string> keysEndingWith(std::string_view name) const;
    std::size_t size() const { return entries_.size(); }

private:
    void rebuildSlots();

    std::vector<std::pair<std::string, int>> entries_;
    // Position in entries_ + 1 per slot, 0 when free; a power of two, at most half full.
    std::vector<std::uint32_t> slots_;
};

// Reads the statement's current row. Valid right after the step that produced the row.
struct Cursor {
    sqlite3_stmt* handle;
    int columnCount;

    // By the column's stored type: Int64, Double, String (by byte length), Blob, or NULL.
    std::optional<Binding> operator[](int index) const;
    Bindings values() const;
    // The row into `values` (resized to the column count), as operator[] reads each column.
    // Texts and blobs are written into the storage already there, so reading row after row
    // into one list allocates only when a value outgrows its predecessor.
    void readInto(Bindings& values) const;
    // Typed reads that do not look at the stored type: double, std::int64_t, int, bool,
    // std::string, Blob. int throws QueryError::valueOutOfRange for an integer it cannot hold.
    template <class T> T get(int index) const;
};

template <> double Cursor::get<double>(int) const;
template <> std::int64_t Cursor::get<std::int64_t>(int) const;
template <> int Cursor::get<int>(int) const;
template <> bool Cursor::get<bool>(int) const;
template <> std::string Cursor::get<std::string>(int) const;
template <> Blob Cursor::get<Blob>(int) const;

// A prepared statement. Holds its connection open. Binding and reading run on the caller's
// thread; stepping runs on the connection's queue (inline when already on it). Use it from
// one flow of work at a time. Prepare, bind and step failures throw Result (a value sqlite3
// refuses to bind is never stored as NULL); a wrong number of values or an unknown parameter
// name stops the program (a caller's bug, never data). SQL with no statement in it (empty,
// blanks, comments) prepares to a statement that runs as nothing and has no columns.
//
// sqlite3 compiles a statement again when the schema changed since it was prepared; the step
// that does so drops the column count and names read before, so they always describe the rows
// that step returns.
class Statement {
public:
    // Compiles the first statement of `sql`; throws Result.
    Statement(std::shared_ptr<Connection> connection, std::string_view sql);
    Statement(Statement&& other) noexcept;
    Statement& operator=(Statement&& other) noexcept;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement();

    // Positional: an empty list does nothing; otherwise resets and binds 1..n (every
    // parameter: nothing of an earlier bind remains).
    Statement& bind(const Bindings& values);
    // Named (names with their prefix, ":id"): resets, clears and binds each.
    Statement& bind(const NamedBindings& values);
    // Positional from plain values (no intermediate copies): ints, bools, doubles, texts,
    // blobs, typed values, optionals of them, std::nullopt.
    template <class... A>
    requires(sizeof...(A) > 0) Statement& bind(const A&... values) {
        beginBind(sizeof...(A));
        int i = 0;
        (bindArg(++i, values), ...);
        return *this;
    }

    // One step: true on a row, false when done; throws Result.
    bool step();
    // Resets (bindings kept), steps until done, and resets again so the finished statement holds
    // nothing of its run.
    Statement& run();
    template <class... A> Statement& run(const A&... values) {
        bind(values...);
        return run();
    }
    // Resets, steps once: column 0 of the row, nullopt when NULL or no row.
    std::optional<Binding> scalar();
    template <class... A> std::optional<Binding> scalar(const A&... values) {
        bind(values...);
        return scalar();
    }
    // sqlite3_reset then sqlite3_clear_bindings.
    void reset();
    // Steps; the row's values, or nullopt when done; throws Result.
    std::optional<Bindings> failableNext();
    // Steps and reads the row into `values` (Cursor::readInto); false when done; throws Result.
    bool next(Bindings& values);
    // True once after a step that compiled the statement again for a changed schema.
    bool takeSchemaChange() { return std::exchange(schemaChanged_, false); }

    Bindings rowValues() const { return row().values(); }
    Cursor row() const { return Cursor{handle_, columnCount()}; }
    int columnCount() const;
    const std::vector<std::string>& columnNames() const;
    // Each column name quoted with double quotes -> its index (a later duplicate wins).
    std::shared_ptr<const ColumnMap> columnNameMap() const;
    // The SQL as prepared.
    std::string description() const;

    const std::shared_ptr<Connection>& connection() const { return connection_; }
    sqlite3_stmt* handle() const { return handle_; }

    // Rows as value lists. begin() resets (bindings kept); a failed step throws Result.
    class iterator {
    public:
        using value_type = Bindings;
        using difference_type = std::ptrdiff_t;
        iterator() = default;
        const Bindings& operator*() const { return *current_; }
        const Bindings* operator->() const { return &*current_; }
        // The next row replaces this one in place.
        iterator& operator++() {
            if (!statement_->next(*current_)) {
                current_.reset();
            }
            return *this;
        }
        void operator++(int) { ++*this; }
        bool operator==(std::default_sentinel_t) const { return !current_; }

    private:
        friend class Statement;
        explicit iterator(Statement* s)
            : statement_(s)
            , current_(std::in_place) {
            ++*this;
        }
        Statement* statement_ = nullptr;
        std::optional<Bindings> current_;
    };
    iterator begin();
    std::default_sentinel_t end() const { return {}; }

private:
    friend class Connection;
    struct FromCache {};
    // Takes a prepared handle from the connection's statement cache (prepares on a miss) and
    // gives it back when destroyed.
    Statement(std::shared_ptr<Connection> connection, std::string_view sql, FromCache);

    // How sqlite3 holds bound texts and blobs: its own copy, or pointers into the bindings,
    // which must then stay alive and unchanged until the handle's bindings are cleared.
    enum class BindMode { copy, borrow };

    // Null for SQL with no statement in it.
    static sqlite3_stmt* prepareHandle(sqlite3* db, std::string_view sql);
    // Binds 1..n of a handle that is reset and cleared; an empty list binds nothing, a wrong
    // count stops the program.
    static void bindAll(sqlite3_stmt* handle, const Bindings& values, BindMode mode);
    // One step of a handle: true on a row, false when done; throws Result with this step's
    // message (a failed handle is reset).
    static bool stepHandle(sqlite3_stmt* handle);
    // Throws Result for a bind's failing return code.
    static void checkBind(int code);

    // Steps, and reads the row into `values` unless null.
    bool advance(Bindings* values);
    void beginBind(std::size_t count);
    void bindNull(int index);
    void bindInt64(int index, std::int64_t v);
    // Refuses a value past the largest signed 64-bit integer instead of storing it negative.
    void bindUnsigned(int index, std::uint64_t v);
    void bindDouble(int index, double v);
    void bindText(int index, std::string_view v);
    void bindBlob(int index, const std::uint8_t* data, std::size_t size);
    void bindBinding(int index, const std::optional<Binding>& v);

    template <class A> void bindArg(int index, const A& v) {
        if constexpr (std::is_same_v<A, std::nullopt_t>) {
            bindNull(index);
        } else if constexpr (std::is_same_v<A, std::optional<Binding>>) {
            bindBinding(index, v);
        } else if constexpr (std::is_same_v<A, Binding>) {
            bindBinding(index, std::optional<Binding>(v));
        } else if constexpr (std::is_same_v<A, bool>) {
            bindInt64(index, v ? 1 : 0);
        } else if constexpr (std::is_integral_v<A> && std::is_unsigned_v<A> &&
                             sizeof(A) >= sizeof(std::int64_t)) {
            bindUnsigned(index, v);
        } else if constexpr (std::is_integral_v<A>) {
            bindInt64(index, static_cast<std::int64_t>(v));
        } else if constexpr (std::is_floating_point_v<A>) {
            bindDouble(index, static_cast<double>(v));
        } else if constexpr (std::is_convertible_v<const A&, std::string_view>) {
            bindText(index, std::string_view(v));
        } else if constexpr (std::is_same_v<A, Blob>) {
            bindBlob(index, v.bytes.data(), v.bytes.size());
        } else if constexpr (std::is_same_v<A, Data>) {
            bindBlob(index, v.data(), v.size());
        } else if constexpr (detail::IsOptional<A>::value) {
            if (v) {
                bindArg(index, *v);
            } else {
                bindNull(index);
            }
        } else {
            static_assert(Value<A>, "this type cannot be bound to an SQL parameter");
            bindBinding(index, std::optional<Binding>(toBinding(v)));
        }
    }

    std::shared_ptr<Connection> connection_;
    sqlite3_stmt* handle_ = nullptr;
    void* cacheEntry_ = nullptr;        // set: the handle goes back to this entry of the connection's cache
    std::uint64_t cacheGeneration_ = 0; // the cache's schema generation the handle belongs to
    bool ready_ = false;                // reset (by a bind or a finished run) and not stepped since
    int reprepares_ = 0;                // times sqlite3 compiled the handle again, when last looked at
    bool schemaChanged_ = false;
    mutable int columnCount_ = -1;
    mutable std::optional<std::vector<std::string>> columnNames_;
};

} // namespace sql
