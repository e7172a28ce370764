// Shared helpers of the SQL layer's tests: scratch files and fresh connections.
#pragma once

#include "sql/Connection.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>

namespace sqltest {

// A directory of its own per test, removed afterwards.
class ScratchDir {
public:
    ScratchDir() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = std::filesystem::temp_directory_path() /
                ("cw_sql_" + std::to_string(::getpid()) + "_" + info->test_suite_name() + "_" + info->name());
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir() { std::filesystem::remove_all(path_); }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
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

} // namespace sqltest
