#include "cuewright/model/ScriptDocumentFile.h"

#include "cuewright/model/Database.h"
#include "cuewright/model/ProjectError.h"
#include "platform/defaults/Defaults.h"
#include "sql/Connection.h"

#include <cerrno>
#include <system_error>

#include <sys/statvfs.h>
#include <unistd.h>

namespace cw::ScriptDocumentFile {

namespace {

bool diskIsFull(const std::filesystem::path& folder) {
    struct statvfs space {};
    return ::statvfs(folder.c_str(), &space) == 0 && space.f_bavail == 0;
}

} // namespace

void save(const std::filesystem::path& destination, const Document& document,
          const std::vector<Bookmark>& bookmarks, const SaveOptions& options) {
    // Absolute, so that no path is ever taken for a "file:" URI.
    const std::filesystem::path target = std::filesystem::absolute(destination);
    const base::TemporaryFile working = base::createTemporaryFileBeside(target);
    ::close(working.fd); // SQLite opens the empty file by its name
    Database database;
    try {
        database.db = Database::createWorkingCopy(working.path, options.schema.value_or(scriptFileSchema()));
        // One transaction: the working copy is written in one go instead of a commit per row.
        database.db->transaction([&] {
            database.writeMetainfo(options.now);
            database.writeProperties(document);
            database.writeText(document.text);
            database.writeBookmarks(bookmarks, document);
        });
        database.moveWorkingCopy(working.path, target, options.beforeReplace);
    } catch (...) {
        database.db.reset();
        std::error_code ignored;
        std::filesystem::remove(working.path, ignored);
        // SQLite says "database or disk is full" or a bare I/O error about a file the user never
        // chose; the user is told about their own file.
        if (diskIsFull(target.parent_path())) {
            throw base::FileWriteError(std::error_code(ENOSPC, std::generic_category()), target);
        }
        throw;
    }
}

Document open(const std::filesystem::path& path, const platform::Defaults& defaults) {
    Database database(defaults);
    database.db = Database::openForReading(path);
    if (database.readVersion() != 1) {
        throw ProjectError::versionNotSupported();
    }
    return database.readDocument();
}

Document open(const std::filesystem::path& path) {
    return open(path, platform::Defaults::standard());
}

} // namespace cw::ScriptDocumentFile
