#include "cuewright/model/ScriptDocumentFile.h"

#include "cuewright/model/Database.h"
#include "cuewright/model/ProjectError.h"
#include "platform/defaults/Defaults.h"
#include "sql/Connection.h"
#include "sql/Errors.h"

#include <cerrno>
#include <exception>
#include <system_error>

#include <unistd.h>

namespace cw::ScriptDocumentFile {

namespace {

// Told by the error itself: once the working copy is removed the disk has room again.
bool failedForWantOfRoom(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const sql::Result& e) {
        return e.isDiskFull();
    } catch (const std::system_error& e) {
        const std::error_condition condition = e.code().default_error_condition();
        return condition == std::errc::no_space_on_device ||
               (condition.category() == std::generic_category() && condition.value() == EDQUOT);
    } catch (...) {
        return false;
    }
}

} // namespace

void save(const std::filesystem::path& destination, const Document& document,
          const std::vector<Bookmark>& bookmarks, const SaveOptions& options) {
    // Absolute, so that no path is ever taken for a "file:" URI.
    const std::filesystem::path target = std::filesystem::absolute(destination);
    base::removeStaleTemporaryFiles(target.parent_path());
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
            if (options.writeMore) {
                options.writeMore(*database.db);
            }
        });
        database.moveWorkingCopy(working.path, target, options.beforeReplace);
    } catch (...) {
        const bool full = failedForWantOfRoom(std::current_exception());
        database.db.reset();
        std::error_code ignored;
        std::filesystem::remove(working.path, ignored);
        // SQLite says "database or disk is full" about a file the user never chose; the user is
        // told about their own file.
        if (full) {
            throw base::FileWriteError(std::error_code(ENOSPC, std::generic_category()), target);
        }
        throw;
    }
}

Document open(const std::filesystem::path& path, const platform::Defaults& defaults) {
    const std::filesystem::path absolute = std::filesystem::absolute(path);
    base::removeStaleTemporaryFiles(absolute.parent_path());
    Database database(defaults);
    database.db = Database::openForReading(absolute);
    if (database.readVersion() != 1) {
        throw ProjectError::versionNotSupported();
    }
    return database.readDocument();
}

Document open(const std::filesystem::path& path) {
    return open(path, platform::Defaults::standard());
}

} // namespace cw::ScriptDocumentFile
