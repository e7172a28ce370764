// The error of the two application databases: script files and the display database.
#pragma once

#include <exception>
#include <string>

namespace cw {

// Thrown by the script-file reader and writer and by the display database. what() is the
// description shown to the user.
class DatabaseError : public std::exception {
public:
    enum class Kind { sqLiteError, databaseNotOpen, canNotOpenSchemaFile, noVersionSpecified, textNotFound };

    // "General SQLite error: " followed by the reason, nothing added.
    static DatabaseError sqLiteError(std::string reason) {
        return DatabaseError(Kind::sqLiteError, std::move(reason));
    }
    static DatabaseError databaseNotOpen() { return DatabaseError(Kind::databaseNotOpen); }
    static DatabaseError canNotOpenSchemaFile() { return DatabaseError(Kind::canNotOpenSchemaFile); }
    static DatabaseError noVersionSpecified() { return DatabaseError(Kind::noVersionSpecified); }
    static DatabaseError textNotFound() { return DatabaseError(Kind::textNotFound); }

    Kind kind() const { return kind_; }
    // The thrower's reason for sqLiteError; empty for the other kinds.
    const std::string& reason() const { return reason_; }
    const std::string& description() const { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

    bool operator==(const DatabaseError& other) const {
        return kind_ == other.kind_ && reason_ == other.reason_;
    }

private:
    explicit DatabaseError(Kind kind, std::string reason = {});

    Kind kind_;
    std::string reason_;
    std::string description_;
};

} // namespace cw
