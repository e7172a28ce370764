// An online copy of one database of a connection into a database of another.
#pragma once

#include "sql/Connection.h"

#include <cstdint>
#include <memory>

struct sqlite3_backup;

namespace sql {

// States: running (handle present) -> finished (handle gone), by a step that reports done,
// finish() or destruction; nothing leads back. Calls sqlite3 directly on the caller's thread,
// not through the connections' queues: use it from one thread at a time. Holds both
// connections open while it exists.
class Backup {
public:
    // How much one step copies: at most `number` pages, or all remaining ones.
    struct Pages {
        static Pages limited(std::int32_t number) { return {number}; }
        static Pages all() { return {-1}; }
        std::int32_t count;
    };

    // Starts the copy; throws Result when sqlite3 refuses it (the message of whichever
    // connection sqlite3 reported it on).
    Backup(std::shared_ptr<Connection> source, const DatabaseName& sourceName,
           std::shared_ptr<Connection> target, const DatabaseName& targetName);
    ~Backup();
    Backup(const Backup&) = delete;
    Backup& operator=(const Backup&) = delete;

    // Copies the next pages; finishes when sqlite3 reports done. Busy or locked throw Result
    // and leave the backup running, to be stepped again. A finished backup does nothing.
    void step(Pages pages = Pages::all());
    // Releases sqlite3's backup object; safe to call more than once.
    void finish();
    bool isFinished() const { return handle_ == nullptr; }

    // 0 once finished.
    std::int32_t pageCount() const;
    std::int32_t remainingPages() const;

private:
    std::shared_ptr<Connection> targetConnection_;
    std::shared_ptr<Connection> sourceConnection_;
    sqlite3_backup* handle_ = nullptr;
};

} // namespace sql
