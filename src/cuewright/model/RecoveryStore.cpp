#include "cuewright/model/RecoveryStore.h"

#include "base/AtomicFile.h"
#include "base/Log.h"
#include "base/PrivateFolder.h"
#include "cuewright/model/ApplicationSupport.h"
#include "cuewright/model/Database.h"
#include "cuewright/model/ScriptDocumentFile.h"
#include "sql/Connection.h"

#include <QByteArray>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <system_error>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cw {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view copyExtension = ".cwr";
constexpr std::string_view lockName = ".lock";
constexpr std::string_view privatePrefix = "instance-";
// Copies and the index hold the user's unsaved text: no other user reads them.
constexpr mode_t privateFileMode = 0600;
// A copy that a later one failed to replace (isOlderThanEdits).
constexpr mode_t olderCopyMode = 0400;
// The table in each copy that names its script.
constexpr std::string_view originTable = "recovery_origin";
// The script's file as its project last knew it; copies written before it was kept have none.
constexpr std::string_view stampTable = "recovery_stamp";

// An id is a file stem of our own making: anything else in the index or the folder is not ours.
bool isPlainId(std::string_view id) {
    return !id.empty() && std::all_of(id.begin(), id.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || c == '-';
    });
}

// The id of a copy of ours, named "<id>.cwr" and a regular file (never a link); nullopt else.
std::optional<std::string> copyId(const fs::directory_entry& item) {
    const std::string name = item.path().filename().string();
    if (!name.ends_with(copyExtension)) {
        return std::nullopt;
    }
    std::string id = name.substr(0, name.size() - copyExtension.size());
    std::error_code error;
    if (!isPlainId(id) || !item.is_regular_file(error) || item.is_symlink(error)) {
        return std::nullopt;
    }
    return id;
}

bool isRealFolder(const fs::path& folder) {
    std::error_code error;
    return fs::symlink_status(folder, error).type() == fs::file_type::directory;
}

// The index's entries, and into `unwritten` the ids it marks as never written; nullopt when it is
// missing or damaged.
std::optional<std::vector<RecoveryStore::Entry>> readIndex(const fs::path& file,
                                                           std::vector<std::string>& unwritten) {
    QFile index(QFile::decodeName(file.c_str()));
    if (!index.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QJsonDocument json = QJsonDocument::fromJson(index.readAll());
    if (!json.isObject() || !json.object().value("scripts").isArray()) {
        return std::nullopt;
    }
    std::vector<RecoveryStore::Entry> entries;
    for (const QJsonValue& value : json.object().value("scripts").toArray()) {
        const QJsonObject script = value.toObject();
        RecoveryStore::Entry entry;
        entry.id = script.value("id").toString().toStdString();
        if (script.value("path").isString()) {
            entry.originalPath = script.value("path").toString().toStdString();
        }
        entry.name = script.value("name").toString().toStdString();
        if (script.value("folder").isString()) {
            entry.folder = script.value("folder").toString().toStdString();
        }
        if (isPlainId(entry.id)) {
            if (script.value("unwritten").toBool()) {
                unwritten.push_back(entry.id);
            }
            entries.push_back(std::move(entry));
        }
    }
    return entries;
}

// Gives `entry` the name and path its copy carries, byte for byte (the index may have lost bytes
// that are not UTF-8); false when the copy carries none (or cannot be read).
bool readOrigin(const fs::path& copy, RecoveryStore::Entry& entry) {
    try {
        const std::shared_ptr<sql::Connection> db = Database::openForReading(copy);
        const std::string from = " FROM \"" + std::string(originTable) + "\" LIMIT 1";
        const std::optional<sql::Binding> name = db->scalar("SELECT name" + from);
        if (!name || !std::holds_alternative<std::string>(*name)) {
            return false;
        }
        entry.name = std::get<std::string>(*name);
        const std::optional<sql::Binding> path = db->scalar("SELECT path" + from);
        entry.originalPath = path && std::holds_alternative<std::string>(*path)
                                 ? std::optional(std::get<std::string>(*path))
                                 : std::nullopt;
        // Copies written before the folder was kept have no such column.
        if (db->scalar("SELECT count(*) FROM pragma_table_info('" + std::string(originTable) +
                       "') WHERE name = 'folder'") == sql::Binding(std::int64_t{1})) {
            const std::optional<sql::Binding> folder = db->scalar("SELECT folder" + from);
            entry.folder = folder && std::holds_alternative<std::string>(*folder)
                               ? std::optional(std::get<std::string>(*folder))
                               : std::nullopt;
        }
        return true;
    } catch (const std::exception& error) {
        base::log("Cannot read which script the recovery copy " + copy.string() + " is of: " + error.what());
        return false;
    }
}

// The file stamp a copy carries; none for a copy without one, or one that cannot be read.
std::optional<base::FileStamp> readStamp(const fs::path& copy) {
    try {
        const std::shared_ptr<sql::Connection> db = Database::openForReading(copy);
        if (!db->scalar("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = '" +
                        std::string(stampTable) + "'")) {
            return std::nullopt;
        }
        for (const sql::Bindings& values :
             db->prepare("SELECT device, inode, size, seconds, nanoseconds FROM \"" +
                         std::string(stampTable) + "\" LIMIT 1")) {
            std::int64_t n[5] = {};
            for (std::size_t i = 0; i < std::size(n); ++i) {
                const std::optional<sql::Binding>& value = values.at(i);
                if (!value || !std::holds_alternative<std::int64_t>(*value)) {
                    return std::nullopt;
                }
                n[i] = std::get<std::int64_t>(*value);
            }
            return base::FileStamp{static_cast<dev_t>(n[0]), static_cast<ino_t>(n[1]),
                                   static_cast<off_t>(n[2]), static_cast<long long>(n[3]),
                                   static_cast<long>(n[4])};
        }
        return std::nullopt;
    } catch (const std::exception& error) {
        base::log("Cannot read the file stamp kept with " + copy.string() + ": " + error.what());
        return std::nullopt;
    }
}

bool names(const std::vector<RecoveryStore::Entry>& entries, std::string_view id) {
    return std::any_of(entries.begin(), entries.end(), [&](const auto& entry) { return entry.id == id; });
}

// The copies in `folder` the index names, then those it does not (each named by itself); into
// `lost`, the scripts it names whose copy was never written; whether the index has to be written
// again.
bool collectCopies(const fs::path& folder, std::vector<RecoveryStore::Entry>& entries,
                   std::vector<RecoveryStore::Entry>& lost) {
    const fs::path indexFile = folder / RecoveryStore::indexName;
    std::vector<std::string> unwritten;
    std::optional<std::vector<RecoveryStore::Entry>> index = readIndex(indexFile, unwritten);
    std::error_code error;
    if (!index && fs::exists(indexFile, error)) {
        base::log("The recovery index " + indexFile.string() +
                  " is damaged: it is made again from the copies");
    }
    bool changed = !index || !unwritten.empty();
    std::vector<std::string> onDisk;
    for (const fs::directory_entry& item : fs::directory_iterator(folder, error)) {
        if (std::optional<std::string> id = copyId(item)) {
            onDisk.push_back(std::move(*id));
        }
    }
    for (RecoveryStore::Entry& entry : index.value_or(std::vector<RecoveryStore::Entry>{})) {
        // A name without a copy: a removal that a kill cut short, or a script whose edits no copy
        // ever held (its copy could not be written, and the user was told so while it ran).
        if (std::find(onDisk.begin(), onDisk.end(), entry.id) == onDisk.end() || names(entries, entry.id)) {
            if (std::find(unwritten.begin(), unwritten.end(), entry.id) != unwritten.end() &&
                !names(lost, entry.id)) {
                base::log("The edits of " + entry.name +
                          " were never kept in a recovery copy: they are lost");
                lost.push_back(std::move(entry));
            }
            changed = true;
            continue;
        }
        readOrigin(folder / (entry.id + std::string(copyExtension)), entry);
        entries.push_back(std::move(entry));
    }
    std::sort(onDisk.begin(), onDisk.end()); // a stable order for copies the index lost
    for (std::string& id : onDisk) {
        if (!names(entries, id)) {
            RecoveryStore::Entry entry{id, std::nullopt, std::string(RecoveryStore::untitledName)};
            if (!readOrigin(folder / (id + std::string(copyExtension)), entry)) {
                base::log("The recovery copy " + id + " names no script: it comes back untitled");
            }
            entries.push_back(std::move(entry));
            changed = true;
        }
    }
    return changed;
}

enum class Missing { make, fail };

// An exclusive lock on the folder's lock file, never followed through a link; -1 with errno when
// it cannot be had.
int lockFolder(const fs::path& folder, Missing missing = Missing::make) {
    const int flags = O_RDWR | O_CLOEXEC | O_NOFOLLOW | (missing == Missing::make ? O_CREAT : 0);
    const int fd = ::open((folder / lockName).c_str(), flags, 0600);
    if (fd < 0) {
        return -1;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

} // namespace

std::optional<std::filesystem::path> RecoveryStore::defaultFolder() {
    // Not checked here: the store refuses a folder that is not the user's own and says why.
    if (const auto support = applicationSupportPath()) {
        return *support / folderName;
    }
    return std::nullopt;
}

std::unique_ptr<RecoveryStore> RecoveryStore::open(const std::filesystem::path& folder, std::string* whyNot) {
    const auto refuse = [&](const std::string& reason) {
        base::log("Unsaved edits are not kept: " + reason);
        if (whyNot) {
            *whyNot = reason;
        }
        return nullptr;
    };
    std::error_code error;
    if (fs::is_symlink(folder, error)) {
        return refuse(folder.string() + " is a symbolic link; nothing behind it is touched");
    }
    fs::create_directories(folder.parent_path().parent_path(), error);
    (void)::mkdir(folder.parent_path().c_str(), 0700);
    // The folder above could have the Recovery folder renamed away and another put in its place.
    struct stat status {};
    if (::stat(folder.parent_path().c_str(), &status) == 0) {
        if (const std::optional<std::string> why = base::whyNotTheUsersOwn(folder.parent_path(), status)) {
            return refuse(*why);
        }
    }
    // Copies of scripts are as private as the user's most private script: the folder is theirs
    // alone, also when an earlier version let others read it.
    if (::mkdir(folder.c_str(), 0700) != 0 && errno == EEXIST && ::lstat(folder.c_str(), &status) == 0 &&
        S_ISDIR(status.st_mode)) {
        if (const std::optional<std::string> why = base::whyNotTheUsersOwn(folder, status)) {
            return refuse(*why);
        }
        (void)::chmod(folder.c_str(), 0700);
    }
    if (!isRealFolder(folder)) {
        return refuse("cannot make the folder " + folder.string() +
                      (error ? ": " + error.message() : std::string()));
    }
    int fd = lockFolder(folder);
    if (fd >= 0) {
        std::unique_ptr<RecoveryStore> store(new RecoveryStore(folder, fd, /*isPrivate=*/false));
        store->load();
        return store;
    }
    if (errno != EWOULDBLOCK) {
        return refuse("cannot use the folder " + folder.string() + ": " + std::strerror(errno));
    }
    // Another Cuewright keeps its copies here: this one keeps its own beside them.
    const fs::path own = folder / (std::string(privatePrefix) + makeId());
    if (::mkdir(own.c_str(), 0700) != 0 || (fd = lockFolder(own)) < 0) {
        return refuse(folder.string() + " is in use by another Cuewright, and a folder of this one's own " +
                      "cannot be made in it: " + std::strerror(errno));
    }
    base::log(folder.string() + " is in use by another Cuewright: the copies of this one are kept in " +
              own.string());
    std::unique_ptr<RecoveryStore> store(new RecoveryStore(own, fd, /*isPrivate=*/true));
    store->load();
    return store;
}

RecoveryStore::RecoveryStore(std::filesystem::path folder, int lockFd, bool isPrivate)
    : folder_(std::move(folder))
    , lockFd_(lockFd)
    , isPrivate_(isPrivate) {}

// A private folder left empty goes with its process; one holding copies stays for the next start.
RecoveryStore::~RecoveryStore() {
    if (isPrivate_ && entries().empty()) {
        std::error_code ignored;
        fs::remove(folder_ / indexName, ignored);
        fs::remove(folder_ / lockName, ignored);
        fs::remove(folder_, ignored); // only when nothing else is in it
    }
    ::close(lockFd_);
}

void RecoveryStore::load() {
    bool changed = collectCopies(folder_, entries_, lost_);
    const size_t before = entries_.size();
    takeOverEndedPrivateFolders(isPrivate_ ? folder_.parent_path() : folder_);
    changed = changed || entries_.size() != before;
    if (changed) {
        writeIndexOrLog();
    }
}

void RecoveryStore::takeOverEndedPrivateFolders(const std::filesystem::path& shared) {
    std::error_code error;
    for (const fs::directory_entry& item : fs::directory_iterator(shared, error)) {
        const std::string name = item.path().filename().string();
        if (!name.starts_with(privatePrefix) || !isPlainId(name.substr(privatePrefix.size())) ||
            item.path() == folder_ || !isRealFolder(item.path())) {
            continue;
        }
        // Without a lock file its process may be about to make one.
        const int fd = lockFolder(item.path(), Missing::fail);
        if (fd < 0) {
            continue; // its process is still running
        }
        std::vector<Entry> theirs;
        collectCopies(item.path(), theirs, lost_);
        for (Entry& entry : theirs) {
            const fs::path from = item.path() / (entry.id + std::string(copyExtension));
            std::error_code moved;
            fs::rename(from, copyPath(entry.id), moved);
            if (moved) {
                base::log("Cannot take over the recovery copy " + from.string() + ": " + moved.message());
                continue;
            }
            base::log("Took over the recovery copy of " + entry.name + " from " + item.path().string());
            entries_.push_back(std::move(entry));
        }
        std::error_code ignored;
        fs::remove(item.path() / indexName, ignored);
        fs::remove(item.path() / lockName, ignored);
        fs::remove(item.path(), ignored); // only when every copy moved
        ::close(fd);
    }
}

std::filesystem::path RecoveryStore::copyPath(std::string_view id) const {
    return folder_ / (std::string(id) + std::string(copyExtension));
}

std::string RecoveryStore::makeId() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString();
}

std::vector<RecoveryStore::Entry> RecoveryStore::entries() const {
    std::vector<Entry> entries = entries_;
    std::erase_if(entries, [this](const Entry& entry) {
        std::error_code error;
        return fs::symlink_status(copyPath(entry.id), error).type() != fs::file_type::regular;
    });
    return entries;
}

void RecoveryStore::write(const Entry& entry, const Document& document,
                          const std::vector<Bookmark>& bookmarks,
                          const ScriptDocumentFile::SaveOptions& options,
                          std::optional<base::FileStamp> stamp) {
    if (!isPlainId(entry.id)) {
        throw std::invalid_argument("not a recovery id: " + entry.id);
    }
    // The index first: a kill between the two leaves an index naming a copy that is not there
    // yet (which is skipped).
    const auto known =
        std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.id == entry.id; });
    if (known == entries_.end() || !(*known == entry)) {
        const std::vector<Entry> before = entries_;
        const std::vector<std::string> unwrittenBefore = unwritten_;
        if (known == entries_.end()) {
            entries_.push_back(entry);
            unwritten_.push_back(entry.id); // until its copy is there
        } else {
            *known = entry;
        }
        try {
            writeIndex();
        } catch (...) {
            entries_ = before;
            unwritten_ = unwrittenBefore;
            throw;
        }
    }
    ScriptDocumentFile::SaveOptions withOrigin = options;
    withOrigin.mode = privateFileMode;
    withOrigin.link = base::DestinationLink::replace;
    withOrigin.writeMore = [&entry, &stamp](sql::Connection& db) {
        db.execute("CREATE TABLE \"" + std::string(originTable) +
                   "\" (\"name\" TEXT, \"path\" TEXT, \"folder\" TEXT)");
        const auto optional = [](const std::optional<std::string>& text) {
            return text ? sql::Bindings::value_type(*text) : std::nullopt;
        };
        db.run("INSERT INTO \"" + std::string(originTable) + "\" VALUES (?, ?, ?)",
               {entry.name, optional(entry.originalPath), optional(entry.folder)});
        if (stamp) {
            db.execute("CREATE TABLE \"" + std::string(stampTable) +
                       "\" (\"device\" INTEGER, \"inode\" INTEGER, \"size\" INTEGER, \"seconds\" INTEGER, "
                       "\"nanoseconds\" INTEGER)");
            // Unsigned device and inode numbers keep their bits in SQLite's signed integers.
            db.run("INSERT INTO \"" + std::string(stampTable) + "\" VALUES (?, ?, ?, ?, ?)",
                   {static_cast<std::int64_t>(stamp->device), static_cast<std::int64_t>(stamp->inode),
                    static_cast<std::int64_t>(stamp->size), static_cast<std::int64_t>(stamp->modifiedSeconds),
                    static_cast<std::int64_t>(stamp->nanoseconds)});
        }
    };
    try {
        ScriptDocumentFile::save(copyPath(entry.id), document, bookmarks, withOrigin);
    } catch (...) {
        // The copy there, if any, stays as the last one written: a crash now brings back less
        // than was typed, which the next start then says.
        markOlderThanEdits(entry.id);
        throw;
    }
    removeSecondMark(entry.id);
    if (std::erase(unwritten_, entry.id) > 0) {
        // The copy is there, which is what a start looks for; the mark only names lost edits.
        writeIndexOrLog();
    }
}

bool RecoveryStore::isOlderThanEdits(std::string_view id) const {
    struct stat copy {};
    if (::lstat(copyPath(id).c_str(), &copy) != 0 || !S_ISREG(copy.st_mode)) {
        return false;
    }
    std::error_code error;
    const std::optional<fs::path> mark = secondMark(id);
    return (copy.st_mode & S_IWUSR) == 0 ||
           (mark && fs::symlink_status(*mark, error).type() == fs::file_type::regular);
}

void RecoveryStore::markOlderThanEdits(std::string_view id) {
    struct stat copy {};
    if (!isPlainId(id) || ::lstat(copyPath(id).c_str(), &copy) != 0 || !S_ISREG(copy.st_mode)) {
        return; // no copy to be older
    }
    if (::chmod(copyPath(id).c_str(), olderCopyMode) == 0) {
        return;
    }
    const int refused = errno;
    const std::optional<fs::path> mark = secondMark(id);
    if (!mark) {
        base::log("Cannot mark the recovery copy " + std::string(id) +
                  " as older than its edits: " + std::strerror(refused));
        return;
    }
    // Private like the copies: only the user's own processes read what it names.
    (void)::mkdir(mark->parent_path().c_str(), 0700);
    const int fd = ::open(mark->c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, privateFileMode);
    if (fd < 0) {
        base::log("Cannot mark the recovery copy " + std::string(id) + " as older than its edits, in " +
                  mark->parent_path().string() + " either: " + std::strerror(errno));
        return;
    }
    ::close(fd);
}

std::optional<std::filesystem::path> RecoveryStore::secondMark(std::string_view id) const {
    if (!secondMarks_ || !isPlainId(id)) {
        return std::nullopt;
    }
    return *secondMarks_ / (std::string(id) + ".older");
}

void RecoveryStore::removeSecondMark(std::string_view id) const {
    if (const std::optional<fs::path> mark = secondMark(id)) {
        std::error_code ignored;
        fs::remove(*mark, ignored);
    }
}

std::optional<std::filesystem::path> RecoveryStore::defaultSecondMarkFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || *runtime != '/') {
        return std::nullopt;
    }
    return fs::path(runtime) / "cuewright-recovery-marks";
}

Document RecoveryStore::read(const Entry& entry, const platform::Defaults& defaults,
                             std::optional<base::FileStamp>* stamp) const {
    Document document = ScriptDocumentFile::open(copyPath(entry.id), defaults);
    if (stamp) {
        *stamp = readStamp(copyPath(entry.id));
    }
    return document;
}

void RecoveryStore::remove(std::string_view id) {
    if (!names(entries_, id)) {
        return;
    }
    std::error_code error;
    fs::remove(copyPath(id), error);
    if (error) {
        throw std::system_error(error, "Cannot remove " + copyPath(id).string());
    }
    removeSecondMark(id);
    std::erase_if(entries_, [&](const Entry& e) { return e.id == id; });
    std::erase(unwritten_, std::string(id));
    writeIndex();
}

std::filesystem::path RecoveryStore::setAside(std::string_view id) {
    const fs::path aside = folder_ / ("unreadable-" + std::string(id) + std::string(copyExtension));
    if (!names(entries_, id)) {
        return aside;
    }
    if (::rename(copyPath(id).c_str(), aside.c_str()) != 0) {
        throw std::system_error(errno, std::generic_category(), "Cannot set aside " + copyPath(id).string());
    }
    std::erase_if(entries_, [&](const Entry& e) { return e.id == id; });
    writeIndex();
    return aside;
}

void RecoveryStore::writeIndexOrLog() const {
    try {
        writeIndex();
    } catch (const std::exception& error) {
        base::log(std::string("Cannot write the recovery index: ") + error.what());
    }
}

void RecoveryStore::writeIndex() const {
    QJsonArray scripts;
    for (const Entry& entry : entries_) {
        QJsonObject script{{"id", QString::fromStdString(entry.id)},
                           {"name", QString::fromStdString(entry.name)}};
        // Bytes that are not UTF-8 are lost here; the copy itself keeps them.
        script.insert("path", entry.originalPath ? QJsonValue(QString::fromStdString(*entry.originalPath))
                                                 : QJsonValue(QJsonValue::Null));
        if (entry.folder) {
            script.insert("folder", QString::fromStdString(*entry.folder));
        }
        if (std::find(unwritten_.begin(), unwritten_.end(), entry.id) != unwritten_.end()) {
            script.insert("unwritten", true);
        }
        scripts.append(script);
    }
    const QByteArray bytes = QJsonDocument(QJsonObject{{"scripts", scripts}}).toJson();
    base::AtomicWriteOptions privateIndex;
    privateIndex.mode = privateFileMode;
    privateIndex.link = base::DestinationLink::replace;
    base::writeFileAtomically(folder_ / indexName, std::string_view(bytes.constData(), size_t(bytes.size())),
                              privateIndex);
}

} // namespace cw
