#include "cuewright/model/DatabaseError.h"

namespace cw {

namespace {

std::string describe(DatabaseError::Kind kind, const std::string& reason) {
    switch (kind) {
    case DatabaseError::Kind::sqLiteError:
        return "General SQLite error: " + reason;
    case DatabaseError::Kind::databaseNotOpen:
        return "Database connection is not open.";
    case DatabaseError::Kind::canNotOpenSchemaFile:
        return "Schema file not found or damaged. Please re-install Cuewright.";
    case DatabaseError::Kind::noVersionSpecified:
        return "Database does not specify a version. This file cannot be opened.";
    case DatabaseError::Kind::textNotFound:
        return "Database file does not contain any text. This file cannot be oepened.";
    }
    return "General SQLite error: " + reason;
}

} // namespace

DatabaseError::DatabaseError(Kind kind, std::string reason)
    : kind_(kind)
    , reason_(std::move(reason))
    , description_(describe(kind_, reason_)) {}

} // namespace cw
