// The script document file ("cwr"): the writers and readers of its four tables.
#pragma once

#include "base/AtomicFile.h"
#include "cuewright/model/Bookmark.h"
#include "cuewright/model/Document.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <vector>

#include <sys/types.h>

namespace platform {
class Defaults;
}
namespace sql {
class Connection;
}

namespace cw {

// The stored text could not be read as RTF.
class TextConversionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One script file open for one save or one opening. The file holds, in format version 1:
//   "metainfo"   one row: "version" (1), "last_update" (whole seconds since 1970, UTC)
//   "properties" one row: the script's display properties and its speed; Float fields are
//                widened exactly to REAL; the colour is our archived colour encoding, the
//                image PNG
//   "texts"      one row: "contents" (plain text, never read), "binary_contents" (RTF, the text)
//   "bookmarks"  one row per bookmark in list order: location, excerpt ("blurb"), the user's
//                note ("user_blurb"), kind ("type" 1 for "*" lines), speed, sort order
//
// Writers each throw databaseNotOpen while `db` is null and the SQL layer's Result when an insert
// fails (rows written before stay: the caller abandons the file). Readers fall back column by
// column for NULL, missing or mistyped values. Runs on the caller's thread; no lock of its own.
// Dropping the object (or resetting `db`) closes the file when nothing else holds the connection.
class Database {
public:
    // `defaults` supplies the fallbacks of the readers and must outlive the object; without it
    // the readers use the application's store.
    explicit Database(const platform::Defaults& defaults);
    Database() = default;

    std::shared_ptr<sql::Connection> db;
    // Set by readText() when the words came from the plain copy, not the RTF whole.
    bool textFromPlainCopy = false;

    void writeMetainfo(std::chrono::system_clock::time_point now = std::chrono::system_clock::now());
    void writeProperties(const Document& document);
    void writeText(const platform::AttributedString& text);
    // Nothing, not even the open check, for an empty list.
    void writeBookmarks(const std::vector<Bookmark>& bookmarks, const Document& document);

    // 1 when the row's version is NULL; noVersionSpecified without a row.
    std::int64_t readVersion();
    Document readDocument();
    // The text with the stored bookmarks put back as EmbeddedBookmark attributes over one
    // character each (a fresh id; the user's note and sort order as stored). A bookmark outside
    // the text is dropped; a file without a bookmarks table gives the text alone.
    platform::AttributedString readTextWithBookmarks();
    // textNotFound without a row or with NULL RTF; TextConversionError when it is not RTF, or
    // is cut short with no plain copy beside it. An RTF cut short, or giving no words where the
    // plain copy has some, gives the plain copy's words (see textFromPlainCopy).
    platform::AttributedString readText();
    DocumentScriptProperties readScriptProperties();
    DocumentSpeedProperties readSpeedProperties();

    // Whether the script's tables are plain tables of their own: a view, a virtual table or a
    // trigger under any of the four names runs the file's own SQL on every read, so such a file
    // is damaged, whatever it holds. A missing table is left to the reader that needs it.
    bool holdsPlainTables();

    // What one reading of a script file may take: no value larger than a script's RTF can be,
    // and no more time than a large script needs many times over (the SQL layer's Result,
    // isTooBig() or isInterrupted(), beyond either).
    static constexpr int maxValueBytes = 128 << 20;
    static constexpr std::chrono::milliseconds readingTime{3000};

    // A read-only connection on the script file at `path`, within maxValueBytes, and
    // interrupted once `budget` has passed from now. Anything but a regular file throws
    // ProjectError::generalLoadError unopened (SQLite would wait for ever in open() on a FIFO);
    // otherwise the SQL layer's error when the file cannot be opened.
    static std::shared_ptr<sql::Connection> openForReading(const std::filesystem::path& path,
                                                           std::chrono::milliseconds budget = readingTime);

    // Makes a new database in `workingCopy` (an empty file beside the destination, so that
    // replacing the destination is a rename within one folder) and runs `schema` on it
    // (canNotOpenSchemaFile when empty; sqLiteError when it fails). Returns the open read-write
    // connection.
    static std::shared_ptr<sql::Connection> createWorkingCopy(const std::filesystem::path& workingCopy,
                                                              std::string_view schema);
    // Closes `db` and puts the working copy in place of the destination atomically (synced, given
    // its final mode as base::replaceFileAtomically does, then renamed). Throws std::system_error;
    // the destination is then untouched.
    void moveWorkingCopy(const std::filesystem::path& workingCopy, const std::filesystem::path& destination,
                         const std::function<bool(const std::filesystem::path&)>& beforeReplace = {},
                         std::optional<mode_t> mode = std::nullopt,
                         base::DestinationLink link = base::DestinationLink::writeThrough);

private:
    sql::Connection& connection() const;
    const platform::Defaults& defaults() const;

    const platform::Defaults* defaults_ = nullptr;
};

// The compiled-in schema script of format version 1 ("db_schema").
const std::string& scriptFileSchema();

} // namespace cw
