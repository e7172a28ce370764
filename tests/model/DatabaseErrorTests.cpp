// The database error's descriptions are the texts users see.
#include "cuewright/model/DatabaseError.h"

#include <gtest/gtest.h>

using cw::DatabaseError;

TEST(DatabaseError, DescriptionsAreTheFixedTexts) {
    EXPECT_STREQ(DatabaseError::sqLiteError("no such table: texts").what(),
                 "General SQLite error: no such table: texts");
    EXPECT_STREQ(DatabaseError::sqLiteError("").what(), "General SQLite error: ");
    EXPECT_STREQ(DatabaseError::databaseNotOpen().what(), "Database connection is not open.");
    EXPECT_STREQ(DatabaseError::canNotOpenSchemaFile().what(),
                 "Schema file not found or damaged. Please re-install Cuewright.");
    EXPECT_STREQ(DatabaseError::noVersionSpecified().what(),
                 "Database does not specify a version. This file cannot be opened.");
    EXPECT_STREQ(DatabaseError::textNotFound().what(),
                 "Database file does not contain any text. This file cannot be oepened.");
}

TEST(DatabaseError, IsThrownAndCaughtAsAnException) {
    try {
        throw DatabaseError::sqLiteError("disk I/O error");
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "General SQLite error: disk I/O error");
    }
    EXPECT_EQ(DatabaseError::sqLiteError("a").kind(), DatabaseError::Kind::sqLiteError);
    EXPECT_EQ(DatabaseError::sqLiteError("a").reason(), "a");
    EXPECT_NE(DatabaseError::sqLiteError("a"), DatabaseError::sqLiteError("b"));
}
