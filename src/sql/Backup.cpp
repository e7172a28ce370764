#include "sql/Backup.h"

#include "sql/DatabaseLock.h"

#include <sqlite3.h>

namespace sql {

Backup::Backup(std::shared_ptr<Connection> source, const DatabaseName& sourceName,
               std::shared_ptr<Connection> target, const DatabaseName& targetName)
    : targetConnection_(std::move(target))
    , sourceConnection_(std::move(source)) {
    sqlite3* targetDb = targetConnection_->handle();
    sqlite3* sourceDb = sourceConnection_->handle();
    // Both mutexes, in sqlite3's own order, so that the message read below is this call's.
    const detail::DatabaseLock sourceLock(sourceDb);
    const detail::DatabaseLock targetLock(targetDb);
    handle_ = sqlite3_backup_init(targetDb, targetName.name.c_str(), sourceDb, sourceName.name.c_str());
    if (handle_ != nullptr) {
        return;
    }
    // No handle is always a failure: sqlite3 reports an unknown source database on the
    // source connection, not on the target, so look at both.
    int code = sqlite3_errcode(targetDb);
    if (!Result::isSuccessCode(code)) {
        throw Result(sqlite3_errmsg(targetDb), code);
    }
    code = sqlite3_errcode(sourceDb);
    if (!Result::isSuccessCode(code)) {
        throw Result(sqlite3_errmsg(sourceDb), code);
    }
    throw Result("backup could not start", SQLITE_ERROR);
}

Backup::~Backup() {
    finish();
}

void Backup::step(Pages pages) {
    if (handle_ == nullptr) {
        return;
    }
    // Both mutexes, in sqlite3's own order, so that the message read below is this step's.
    const detail::DatabaseLock sourceLock(sourceConnection_->handle());
    const detail::DatabaseLock targetLock(targetConnection_->handle());
    const int rc = sqlite3_backup_step(handle_, pages.count);
    if (rc == SQLITE_DONE) {
        finish();
        return;
    }
    if (Result::isSuccessCode(rc)) {
        return;
    }
    // A step leaves no message on the target: what its handle says belongs to another call.
    sqlite3* target = targetConnection_->handle();
    throw Result(sqlite3_errcode(target) == (rc & 0xff) ? sqlite3_errmsg(target) : sqlite3_errstr(rc), rc);
}

void Backup::finish() {
    if (handle_ == nullptr) {
        return;
    }
    sqlite3_backup_finish(handle_);
    handle_ = nullptr;
}

std::int32_t Backup::pageCount() const {
    return handle_ != nullptr ? sqlite3_backup_pagecount(handle_) : 0;
}

std::int32_t Backup::remainingPages() const {
    return handle_ != nullptr ? sqlite3_backup_remaining(handle_) : 0;
}

} // namespace sql
