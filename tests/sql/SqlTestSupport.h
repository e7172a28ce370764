// Shared helpers of the SQL layer's tests: scratch files and fresh connections.
#pragma once

#include "sql/Connection.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sqltest {

// A folder of its own per test, removed afterwards.
struct ScratchDir : testsupport::TempDir {
    std::string file(const std::string& name) const { return (path() / name).string(); }
};

inline std::shared_ptr<sql::Connection> memory() {
    return sql::Connection::open(sql::Location::inMemory());
}

// An in-memory database after `script`.
inline std::shared_ptr<sql::Connection> memoryWith(std::string_view script) {
    auto db = memory();
    db->execute(script);
    return db;
}

inline std::int64_t count(sql::Connection& db, const std::string& table) {
    return std::get<std::int64_t>(*db.scalar("SELECT count(*) FROM " + table));
}

// The what() of the E that `f` throws, or "no failure".
template <class E = std::exception, class F> std::string thrown(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return e.what();
    }
    return "no failure";
}

// The Result that `f` throws as "code message" (e.g. "1 no such table: t"), or "no failure".
template <class F> std::string failure(F&& f) {
    try {
        f();
    } catch (const sql::Result& e) {
        return std::to_string(e.code()) + " " + e.message();
    }
    return "no failure";
}

// The code of the Result that `f` throws, 0 when it throws none.
template <class F> int failureCode(F&& f) {
    try {
        f();
    } catch (const sql::Result& e) {
        return e.code();
    }
    return 0;
}

// The QueryError that `f` throws as "kind: text", or "no failure".
template <class F> std::string queryError(F&& f) {
    try {
        f();
    } catch (const sql::QueryError& e) {
        static const char* const kinds[] = {"noSuchTable",         "noSuchColumn",    "ambiguousColumn",
                                            "unexpectedNullValue", "unreadableValue", "valueOutOfRange"};
        return std::string(kinds[static_cast<int>(e.kind())]) + ": " + e.what();
    }
    return "no failure";
}

// Every statement `db` starts while `f` runs.
template <class F> std::vector<std::string> traced(sql::Connection& db, F&& f) {
    std::vector<std::string> sent;
    db.trace([&](std::string_view sql) { sent.emplace_back(sql); });
    f();
    db.trace(nullptr);
    return sent;
}

} // namespace sqltest
