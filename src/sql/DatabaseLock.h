// The connection's mutex held across several sqlite3 calls (used by the library's sources only).
#pragma once

#include "sql/Errors.h"

#include <sqlite3.h>

namespace sql::detail {

// Holds the connection's mutex for a run of calls. The calls made inside re-enter it as its
// owner (cheaper than taking it afresh for each), and an error code and message read inside
// belong to the call made inside, not to another thread's. A no-op without a connection (a
// statement with no SQL in it).
class DatabaseLock {
public:
    explicit DatabaseLock(sqlite3* db)
        : mutex_(db != nullptr ? sqlite3_db_mutex(db) : nullptr) {
        sqlite3_mutex_enter(mutex_);
    }
    explicit DatabaseLock(sqlite3_stmt* statement)
        : DatabaseLock(sqlite3_db_handle(statement)) {}
    ~DatabaseLock() { sqlite3_mutex_leave(mutex_); }
    DatabaseLock(const DatabaseLock&) = delete;
    DatabaseLock& operator=(const DatabaseLock&) = delete;

private:
    sqlite3_mutex* mutex_;
};

// The Result of a call that failed with `code`: sqlite3's message, read while the caller still
// holds the connection's mutex.
[[noreturn]] inline void throwError(sqlite3* db, int code) {
    throw Result(sqlite3_errmsg(db), code);
}

} // namespace sql::detail
