// Saving a script as a "cwr" file and opening one, as whole operations over plain values.
#pragma once

#include "base/AtomicFile.h"
#include "base/FileStamp.h"
#include "cuewright/model/Bookmark.h"
#include "cuewright/model/Document.h"

#include <QString>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace platform {
class Defaults;
}
namespace sql {
class Connection;
}

namespace cw {

// The format itself is described in Database.h. Both operations run on the caller's thread
// and touch nothing but the files named, and the working copies that saves killed half-way left
// in the same folder (base::removeStaleTemporaryFiles), which they remove.
namespace ScriptDocumentFile {

struct SaveOptions {
    // The schema script run on the new file, when not the compiled-in one; an empty script
    // behaves like a missing resource (canNotOpenSchemaFile).
    std::optional<std::string_view> schema;
    // Called with the finished, synced working copy just before it replaces the destination;
    // answering false fails the save there.
    base::BeforeReplaceHook beforeReplace;
    // The file's mode whatever the destination had (recovery copies: 0600); none keeps an
    // existing destination's mode and group (base::AtomicWriteOptions::mode).
    std::optional<mode_t> mode;
    // A destination that is a symbolic link: its file replaced and the link kept (a user's), or
    // the link itself replaced (a folder of the program's own).
    base::DestinationLink link = base::DestinationLink::writeThrough;
    // When set, the destination is replaced only while it is still the file of this stamp (or
    // gone): a file another program or window wrote since is never overwritten unseen, and the
    // save throws ChangedOnDiskError instead, checked before writing and again just before the
    // rename.
    std::optional<base::FileStamp> replacing;
    // Writes tables of the caller's own into the working copy, in the transaction of the script's
    // (readers of the script ignore them). What it throws fails the save.
    std::function<void(sql::Connection&)> writeMore;
    // The time written as "last_update".
    std::chrono::system_clock::time_point now = std::chrono::system_clock::now();
};

// The destination is no longer the file the save was told it replaces. what() tells the user.
class ChangedOnDiskError : public std::runtime_error {
public:
    explicit ChangedOnDiskError(const std::filesystem::path& destination);
};

// Writes a complete new file beside the destination (metainfo, properties, text, bookmarks),
// syncs it and renames it over the destination. Every failure is thrown (DatabaseError,
// sql::Result, std::system_error) and leaves an existing destination byte for byte as it was;
// the working copy is removed, so a retry starts clean. A save that runs out of room throws
// base::FileWriteError with ENOSPC ("Could not save "...": the disk is full."). Returns the stamp
// of the file written (nullopt when it could not be taken).
std::optional<base::FileStamp> save(const std::filesystem::path& destination, const Document& document,
                                    const std::vector<Bookmark>& bookmarks, const SaveOptions& options = {});

// Reads a "cwr" file through a read-only connection: ProjectError::generalLoadError for anything
// but a regular file (refused unopened) and for a file whose tables are not plain tables ("it is
// damaged": views, triggers and the like would run the file's own SQL), or that holds a value
// beyond a script's size or takes too long to read (Database::openForReading's bounds),
// ProjectError::versionNotSupported for any version but 1,
// DatabaseError for a file without version or text, sql::Result for a file that is no database or cannot be
// opened, TextConversionError for a text that is not RTF. Embedded bookmarks come back as attributes of the
// text. Missing properties fall back to `defaults`. A stored RTF cut short opens the words of the
// plain copy beside it; `notice`, when given, then gets what the window should say about it
// (else it is left empty).
Document open(const std::filesystem::path& path, const platform::Defaults& defaults,
              QString* notice = nullptr);
Document open(const std::filesystem::path& path, QString* notice = nullptr);

} // namespace ScriptDocumentFile

} // namespace cw
