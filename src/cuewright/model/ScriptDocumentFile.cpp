#include "cuewright/model/ScriptDocumentFile.h"

#include "cuewright/model/Database.h"
#include "cuewright/model/ProjectError.h"
#include "platform/defaults/Defaults.h"
#include "sql/Connection.h"

namespace cw::ScriptDocumentFile {

void save(const std::filesystem::path& destination, const Document& document,
          const std::vector<Bookmark>& bookmarks, const SaveOptions& options) {
    // Absolute, so that no path is ever taken for a "file:" URI.
    const std::filesystem::path target = std::filesystem::absolute(destination);
    Database database;
    try {
        database.db = Database::createWorkingCopy(target, options.schema.value_or(scriptFileSchema()));
        // One transaction: the working copy is written in one go instead of a commit per row.
        database.db->transaction([&] {
            database.writeMetainfo(options.now);
            database.writeProperties(document);
            database.writeText(document.text);
            database.writeBookmarks(bookmarks, document);
        });
        database.moveWorkingCopy(target, options.beforeReplace);
    } catch (...) {
        database.db.reset();
        std::error_code ignored;
        std::filesystem::remove(Database::workingCopyPath(target), ignored);
        throw;
    }
}

Document open(const std::filesystem::path& path, const platform::Defaults& defaults) {
    Database database(defaults);
    database.db =
        sql::Connection::open(std::filesystem::absolute(path).string(), sql::Connection::Access::readOnly);
    if (database.readVersion() != 1) {
        throw ProjectError::versionNotSupported();
    }
    return database.readDocument();
}

Document open(const std::filesystem::path& path) {
    return open(path, platform::Defaults::standard());
}

} // namespace cw::ScriptDocumentFile
