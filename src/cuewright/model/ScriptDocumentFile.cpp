#include "cuewright/model/ScriptDocumentFile.h"

#include "base/AtomicFile.h"
#include "base/Log.h"
#include "cuewright/model/Database.h"
#include "cuewright/model/ProjectError.h"
#include "platform/defaults/Defaults.h"
#include "sql/Connection.h"
#include "sql/Errors.h"

#include <QCoreApplication>
#include <QFile>

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

constexpr std::string_view kDamaged = "it is damaged";

// SQLite's own words ("file is not a database (code: 26)") name neither the file nor, for most
// people, the reason.
std::string unopenableBecause(const sql::Result& error) {
    constexpr int sqliteError = 1, corrupt = 11, notADatabase = 26;
    if (error.isInterrupted()) {
        return "reading it took too long";
    }
    if (error.isTooBig()) {
        return "it holds more than a script can";
    }
    switch (error.code() & 0xff) {
    case corrupt:
        return std::string(kDamaged);
    case notADatabase:
        return "it is not a Cuewright script";
    case sqliteError:
        // A database, but without the tables of a script.
        if (error.message().starts_with("no such table")) {
            return "it is not a Cuewright script";
        }
        break;
    default:
        break;
    }
    return "it cannot be read (" + error.message() + ")";
}

} // namespace

ChangedOnDiskError::ChangedOnDiskError(const std::filesystem::path& destination)
    : std::runtime_error("The file \u201C" + destination.filename().string() +
                         "\u201D has been changed by another application since you opened or saved it.") {}

std::optional<base::FileStamp> save(const std::filesystem::path& destination, const Document& document,
                                    const std::vector<Bookmark>& bookmarks, const SaveOptions& options) {
    // Absolute, so that no path is ever taken for a "file:" URI.
    const std::filesystem::path target = std::filesystem::absolute(destination);
    const auto requireUnchanged = [&] {
        if (!options.replacing) {
            return;
        }
        const std::optional<base::FileStamp> now = base::fileStamp(target);
        if (now && *now != *options.replacing) {
            throw ChangedOnDiskError(target);
        }
    };
    requireUnchanged();
    base::removeStaleTemporaryFiles(target.parent_path());
    const base::TemporaryFile working =
        base::createTemporaryFileBeside(target, base::temporaryPrefix(), options.link);
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
        std::optional<base::FileStamp> written;
        database.moveWorkingCopy(
            working.path, target,
            [&](const std::filesystem::path& finished) {
                requireUnchanged();
                // The rename keeps the file's inode and times: this is the stamp the destination gets.
                written = base::fileStamp(finished);
                return !options.beforeReplace || options.beforeReplace(finished);
            },
            options.mode, options.link);
        return written;
    } catch (...) {
        // SQLite tells a write past a file-size limit as a disk I/O error.
        const bool tooLarge = database.db && database.db->lastFileError() == EFBIG;
        const bool full = failedForWantOfRoom(std::current_exception());
        database.db.reset();
        std::error_code ignored;
        std::filesystem::remove(working.path, ignored);
        // SQLite says "database or disk is full" about a file the user never chose; the user is
        // told about their own file.
        if (tooLarge) {
            throw base::FileWriteError(std::error_code(EFBIG, std::generic_category()), target);
        }
        if (full) {
            throw base::FileWriteError(std::error_code(ENOSPC, std::generic_category()), target);
        }
        throw;
    }
}

Document open(const std::filesystem::path& path, const platform::Defaults& defaults, QString* notice) {
    const std::filesystem::path absolute = std::filesystem::absolute(path);
    base::removeStaleTemporaryFiles(absolute.parent_path());
    try {
        Database database(defaults);
        database.db = Database::openForReading(absolute);
        if (!database.holdsPlainTables()) {
            base::log("cannot open " + absolute.string() +
                      ": its tables are views, virtual or carry triggers or generated columns");
            throw ProjectError::couldNotOpen(absolute.string(), kDamaged);
        }
        if (database.readVersion() != 1) {
            throw ProjectError::versionNotSupported();
        }
        Document document = database.readDocument();
        if (database.textFromPlainCopy && notice) {
            const QString name =
                QFile::decodeName(QByteArray::fromStdString(absolute.string())).section(u'/', -1);
            *notice = QCoreApplication::translate(
                          "Project", "\u201C%1\u201D holds its formatted text cut short: its words "
                                     "are opened from the plain copy the file keeps, and part of "
                                     "their formatting is missing.")
                          .arg(name);
        }
        return document;
    } catch (const sql::Result& error) {
        base::log("cannot open " + absolute.string() + ": " + error.what());
        throw ProjectError::couldNotOpen(absolute.string(), unopenableBecause(error));
    }
}

Document open(const std::filesystem::path& path, QString* notice) {
    return open(path, platform::Defaults::standard(), notice);
}

} // namespace cw::ScriptDocumentFile
