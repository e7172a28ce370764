// The descriptions of the database and project errors are the texts users see.
#include "cuewright/model/DatabaseError.h"
#include "cuewright/model/ProjectError.h"

#include <gtest/gtest.h>

using cw::DatabaseError;
using cw::ProjectError;

TEST(ErrorTexts, AreTheFixedTexts) {
    const std::pair<std::string, std::string> cases[] = {
        {DatabaseError::sqLiteError("no such table: texts").what(),
         "General SQLite error: no such table: texts"},
        {DatabaseError::sqLiteError("").what(), "General SQLite error: "},
        {DatabaseError::databaseNotOpen().what(), "Database connection is not open."},
        {DatabaseError::canNotOpenSchemaFile().what(),
         "Schema file not found or damaged. Please re-install Cuewright."},
        {DatabaseError::noVersionSpecified().what(),
         "Database does not specify a version. This file cannot be opened."},
        {DatabaseError::textNotFound().what(),
         "Database file does not contain any text. This file cannot be oepened."},
        {ProjectError::fileTypeNotSupported("/a/b.xyz").what(),
         "The file format of the document /a/b.xyz is not supported."},
        {ProjectError::generalSaveError("Can't create RTF from provided range.").what(),
         "An error occured during saving: Can't create RTF from provided range.."},
        {ProjectError::generalLoadError("can't open x").what(),
         "An error occured during loading: can't open x."},
        {ProjectError::versionNotSupported().what(),
         "The document version is not supported by Cuewright. Please "
         "update Cuewright to the newest version."},
    };
    for (const auto& [seen, text] : cases) {
        EXPECT_EQ(seen, text);
    }
    EXPECT_EQ(DatabaseError::sqLiteError("a").kind(), DatabaseError::Kind::sqLiteError);
    EXPECT_NE(DatabaseError::sqLiteError("a"), DatabaseError::sqLiteError("b"));
}
