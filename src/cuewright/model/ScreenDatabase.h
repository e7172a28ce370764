// The display database: one row of prompter settings per display, in "screens.db".
#pragma once

#include "cuewright/model/ScreenDescription.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace sql {
class Connection;
}

namespace cw {

// Wraps one connection to the display database, shared by all projects. Made for one lookup or
// one save and dropped right after; the connection closes with the last holder.
//
// The file holds the table "screens": "display_uuid" (the key, compared case-sensitively),
// "name" (the nickname, NULL when none), the flags "flip_h", "flip_v", "show_controls",
// "show_timestamp", "show_progress", and "text_alignment" ("left", "center", "right"). A
// display's product name, resolution and active state are not stored.
//
// Main thread; statements run on the connection's own queue.
class ScreenDatabase {
public:
    static constexpr std::string_view fileName = "screens.db";
    // Used in this user's private temporary folder when the application-support folder is not
    // available.
    static constexpr std::string_view fallbackFileName = "cuewright_screens.db";
    // The schema script compiled into the program.
    static constexpr std::string_view schemaResourceName = "screen_db_schema";
    static constexpr std::string_view schemaResourceType = "sql";

    ScreenDatabase() = default;
    explicit ScreenDatabase(std::shared_ptr<sql::Connection> connection)
        : db(std::move(connection)) {}

    // None until the caller sets it; save and load throw databaseNotOpen while it is none.
    std::shared_ptr<sql::Connection> db;

    // "screens.db" in the application-support folder (made when missing); when that folder
    // cannot be made, fallbackFileName in base::privateTemporaryFolder(); without that, "": each
    // connection then gets SQLite's own private temporary database, so nothing is remembered
    // and nothing another user made is read. Never fails.
    static std::string path();

    // The compiled-in schema script; nullopt when it is missing from the program.
    static std::optional<std::string> schemaText();

    // A new read-write connection to a freshly made file at path(), from schemaText().
    // Throws DatabaseError::canNotOpenSchemaFile when the schema is missing (no file is made),
    // DatabaseError::sqLiteError with the SQL error's text when the schema fails to run (the
    // half-made file is removed, so the next save starts afresh), sql::Result when the file
    // cannot be opened, std::filesystem::filesystem_error when its folder cannot be made or
    // the half-made file cannot be removed.
    static std::shared_ptr<sql::Connection> create();
    static std::shared_ptr<sql::Connection> create(const std::string& path,
                                                   const std::optional<std::string>& schema);

    // A read-write connection for storing a description: the file at path() when one exists
    // (its table is made first when missing, e.g. in an empty file left by a crash), else
    // create(). Throws as create does.
    static std::shared_ptr<sql::Connection> openForUpdate();
    static std::shared_ptr<sql::Connection> openForUpdate(const std::string& path,
                                                          const std::optional<std::string>& schema);

    // Replaces the display's row: the old row is deleted (UUID bound, never pasted into the
    // SQL) and the new one inserted in one transaction, so a failure leaves the earlier row
    // in place and never two rows. Throws DatabaseError::databaseNotOpen, or the SQL layer's
    // error (sql::Result) of a failed statement.
    void save(const ScreenDescription& screen);

    // The stored settings of the display with exactly this UUID (case-sensitive); nullopt when
    // none is stored. The result has an empty name, a zero resolution and isActive false: the
    // caller fills them from the attached display. An alignment is read ignoring case; an
    // unknown one reads as center. Throws DatabaseError::databaseNotOpen, or the SQL layer's
    // errors (sql::Result, sql::QueryError: a missing table or column, a NULL flag).
    std::optional<ScreenDescription> load(std::string_view displayUUID) const;
};

} // namespace cw
