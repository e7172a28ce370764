#include "cuewright/model/RecoveryStore.h"

#include "base/AtomicFile.h"
#include "base/Log.h"
#include "base/PathText.h"
#include "cuewright/model/ApplicationSupport.h"
#include "cuewright/model/ScriptDocumentFile.h"

#include <QByteArray>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <system_error>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cw {

namespace {

constexpr std::string_view copyExtension = ".cwr";
constexpr std::string_view lockName = ".lock";
// Copies and the index hold the user's unsaved text: no other user reads them.
constexpr mode_t privateFileMode = 0600;

// An id is a file stem of our own making: anything else in the index is not followed.
bool isPlainId(const std::string& id) {
    return !id.empty() && std::all_of(id.begin(), id.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || c == '-';
    });
}

std::vector<RecoveryStore::Entry> readIndex(const std::filesystem::path& file) {
    QFile index(QString::fromStdString(file.string()));
    if (!index.open(QIODevice::ReadOnly)) {
        return {};
    }
    std::vector<RecoveryStore::Entry> entries;
    const QJsonArray scripts = QJsonDocument::fromJson(index.readAll()).object().value("scripts").toArray();
    for (const QJsonValue& value : scripts) {
        const QJsonObject script = value.toObject();
        RecoveryStore::Entry entry;
        entry.id = script.value("id").toString().toStdString();
        if (script.value("path").isString()) {
            entry.originalPath = base::pathFromText(script.value("path").toString().toStdString());
        }
        entry.name = script.value("name").toString().toStdString();
        if (isPlainId(entry.id)) {
            entries.push_back(std::move(entry));
        }
    }
    return entries;
}

} // namespace

std::optional<std::filesystem::path> RecoveryStore::defaultFolder() {
    if (const auto support = applicationSupportDirectory()) {
        return *support / folderName;
    }
    return std::nullopt;
}

std::unique_ptr<RecoveryStore> RecoveryStore::open(const std::filesystem::path& folder) {
    std::error_code error;
    std::filesystem::create_directories(folder.parent_path(), error);
    // Copies of scripts are as private as the user's most private script: the folder is theirs
    // alone, also when an earlier version made it open to others.
    if (::mkdir(folder.c_str(), 0700) != 0 && errno == EEXIST) {
        struct stat status {};
        if (::lstat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode) &&
            status.st_uid == ::geteuid()) {
            (void)::chmod(folder.c_str(), 0700);
        }
    }
    if (!std::filesystem::is_directory(folder, error)) {
        base::log("Unsaved edits are not kept: cannot make " + folder.string());
        return nullptr;
    }
    const std::filesystem::path lock = folder / lockName;
    const int fd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        base::log("Unsaved edits are not kept: " + folder.string() +
                  (fd < 0 ? std::string(": ") + std::strerror(errno) : " is in use by another Cuewright"));
        if (fd >= 0) {
            ::close(fd);
        }
        return nullptr;
    }
    std::unique_ptr<RecoveryStore> store(new RecoveryStore(folder, fd));
    store->removeUnnamedCopies();
    return store;
}

RecoveryStore::RecoveryStore(std::filesystem::path folder, int lockFd)
    : folder_(std::move(folder))
    , lockFd_(lockFd) {}

RecoveryStore::~RecoveryStore() {
    ::close(lockFd_);
}

std::filesystem::path RecoveryStore::copyPath(std::string_view id) const {
    return folder_ / (std::string(id) + std::string(copyExtension));
}

std::string RecoveryStore::makeId() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString();
}

std::vector<RecoveryStore::Entry> RecoveryStore::entries() const {
    std::vector<Entry> entries = readIndex(folder_ / indexName);
    std::erase_if(entries, [this](const Entry& entry) {
        std::error_code error;
        return !std::filesystem::is_regular_file(copyPath(entry.id), error);
    });
    return entries;
}

void RecoveryStore::write(const Entry& entry, const Document& document,
                          const std::vector<Bookmark>& bookmarks,
                          const ScriptDocumentFile::SaveOptions& options) {
    if (!isPlainId(entry.id)) {
        throw std::invalid_argument("not a recovery id: " + entry.id);
    }
    // The index first: a kill between the two leaves an index naming a copy that is not there
    // yet (which is skipped), never a copy that the next start takes for a leftover.
    std::vector<Entry> entries = readIndex(folder_ / indexName);
    const auto known =
        std::find_if(entries.begin(), entries.end(), [&](const Entry& e) { return e.id == entry.id; });
    if (known == entries.end()) {
        entries.push_back(entry);
        writeIndex(entries);
    } else if (!(*known == entry)) {
        *known = entry;
        writeIndex(entries);
    }
    ScriptDocumentFile::SaveOptions privateCopy = options;
    privateCopy.mode = privateFileMode;
    ScriptDocumentFile::save(copyPath(entry.id), document, bookmarks, privateCopy);
}

Document RecoveryStore::read(const Entry& entry, const platform::Defaults& defaults) const {
    return ScriptDocumentFile::open(copyPath(entry.id), defaults);
}

void RecoveryStore::remove(std::string_view id) {
    std::vector<Entry> entries = readIndex(folder_ / indexName);
    if (std::erase_if(entries, [&](const Entry& e) { return e.id == id; }) > 0) {
        writeIndex(entries);
    }
    std::error_code ignored;
    std::filesystem::remove(copyPath(id), ignored);
}

void RecoveryStore::writeIndex(const std::vector<Entry>& entries) const {
    QJsonArray scripts;
    for (const Entry& entry : entries) {
        QJsonObject script{{"id", QString::fromStdString(entry.id)},
                           {"name", QString::fromStdString(entry.name)}};
        // A name need not be UTF-8; JSON holds only text.
        script.insert("path", entry.originalPath
                                  ? QJsonValue(QString::fromStdString(base::pathAsText(*entry.originalPath)))
                                  : QJsonValue(QJsonValue::Null));
        scripts.append(script);
    }
    const QByteArray bytes = QJsonDocument(QJsonObject{{"scripts", scripts}}).toJson();
    base::AtomicWriteOptions options;
    options.mode = privateFileMode;
    base::writeFileAtomically(folder_ / indexName, std::string_view(bytes.constData(), size_t(bytes.size())),
                              options);
}

void RecoveryStore::removeUnnamedCopies() const {
    std::set<std::string> named{std::string(indexName), std::string(lockName)};
    for (const Entry& entry : readIndex(folder_ / indexName)) {
        named.insert(copyPath(entry.id).filename().string());
    }
    std::error_code error;
    for (const auto& item : std::filesystem::directory_iterator(folder_, error)) {
        std::error_code ignored;
        if (item.is_regular_file(ignored) && !named.contains(item.path().filename().string())) {
            std::filesystem::remove(item.path(), ignored);
        }
    }
}

} // namespace cw
