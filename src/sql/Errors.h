// The SQL layer's errors: Result (a failing SQLite call) and QueryError (row lookups).
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace sql {

// A failing SQLite result code. what() is the description:
//   message + " (" + SQL + ") (code: " + code + ")"   with a statement,
//   message + " (code: " + code + ")"                 without.
class Result : public std::exception {
public:
    Result(std::string message, int code, std::optional<std::string> statement = std::nullopt);

    const std::string& message() const { return message_; }
    int code() const { return code_; }
    // SQLITE_FULL: "database or disk is full".
    bool isDiskFull() const { return code_ == 13; }
    // SQLITE_INTERRUPT: stopped by interrupt() or a passed deadline.
    bool isInterrupted() const { return (code_ & 0xff) == 9; }
    // SQLITE_TOOBIG: a value over the connection's length limit.
    bool isTooBig() const { return (code_ & 0xff) == 18; }
    // The SQL of the statement that failed, when one is known.
    const std::optional<std::string>& statement() const { return statement_; }
    const char* what() const noexcept override { return description_.c_str(); }

    // 0, 100 and 101 (OK, ROW, DONE) are never errors.
    static bool isSuccessCode(int code) { return code == 0 || code == 100 || code == 101; }

private:
    std::string message_;
    int code_;
    std::optional<std::string> statement_;
    std::string description_;
};

// A failed lookup of a row's column by name.
class QueryError : public std::exception {
public:
    enum class Kind {
        noSuchTable,
        noSuchColumn,
        ambiguousColumn,
        unexpectedNullValue,
        unreadableValue,
        valueOutOfRange
    };

    static QueryError noSuchTable(std::string name);
    static QueryError noSuchColumn(std::string name, std::vector<std::string> columns);
    static QueryError ambiguousColumn(std::string name, std::vector<std::string> similar);
    static QueryError unexpectedNullValue(std::string name);
    // Stored text that does not parse as the requested type (a date or UUID).
    static QueryError unreadableValue(std::string name);
    // A stored integer too wide for the requested C++ type.
    static QueryError valueOutOfRange(std::string name);

    Kind kind() const { return kind_; }
    const std::string& name() const { return name_; }
    // The columns of noSuchColumn, the similar names of ambiguousColumn.
    const std::vector<std::string>& names() const { return names_; }
    const char* what() const noexcept override { return description_.c_str(); }

private:
    QueryError(Kind kind, std::string name, std::vector<std::string> names);
    Kind kind_;
    std::string name_;
    std::vector<std::string> names_;
    std::string description_;
};

} // namespace sql
