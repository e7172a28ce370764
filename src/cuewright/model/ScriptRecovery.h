// Keeping a recovery copy of every open script that has unsaved edits.
#pragma once

#include "cuewright/model/RecoveryStore.h"
#include "dispatch/Queue.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {
class Defaults;
}

namespace cw {

class Project;

// Follows the open scripts and keeps their copies in a RecoveryStore:
//  - An edit that leaves a script with unsaved changes has its copy written `interval` later at
//    the latest: the first edit schedules the write and later ones ride along, so a copy is
//    never older than that however long the typing goes on. Meanwhile the copy there is marked
//    older than the edits (RecoveryStore::isOlderThanEdits), so that a start after an end
//    that came first (a crash, a kill, a quit out of time) says what it brings back is older.
//  - A save that leaves no unsaved changes removes the copy; so does forget() (the script was
//    closed and its edits discarded), unless preserve() came first.
//  - writeNow() writes at once (the process is about to end); preserve() keeps every copy from
//    then on, as the windows closing on the way out are no one discarding anything.
// The script is read on the main thread; the copy is written, and removed, on a serial queue of
// its own, so that writing a long script does not hold up typing (writeNow() and flush() wait
// for it). Write failures are logged and retried with the next edit; nothing is thrown, and the
// problem handler hears which scripts' copies fail each time that changes, until every one of
// them was written again (or its script saved or discarded). The
// store's folder is the only place written: a script's own file is never touched. Main thread
// only.
class ScriptRecovery {
public:
    // Runs `fire` once, `delay` from now, on the main thread. Tests pass their own.
    using Schedule = std::function<void(std::chrono::milliseconds delay, std::function<void()> fire)>;
    static constexpr std::chrono::milliseconds defaultInterval{2000};
    // The name kept for a script without a file.
    static constexpr std::string_view untitledName = RecoveryStore::untitledName;
    // The scripts whose copies cannot be written, by their names in the order they began to
    // fail, and why the latest failed, in the user's words; no scripts once all are kept again.
    struct Problem {
        std::vector<std::string> scripts;
        std::string reason;

        friend bool operator==(const Problem&, const Problem&) = default;
    };
    using ProblemHandler = std::function<void(const Problem& problem)>;

    // `defaults` (which must outlive this) supplies what reading a copy falls back on. A null
    // schedule uses Qt's timers.
    ScriptRecovery(std::unique_ptr<RecoveryStore> store, const platform::Defaults& defaults,
                   Schedule schedule = {}, std::chrono::milliseconds interval = defaultInterval);
    ~ScriptRecovery();
    ScriptRecovery(const ScriptRecovery&) = delete;
    ScriptRecovery& operator=(const ScriptRecovery&) = delete;

    // Call flush() first: the store is written on the queue.
    RecoveryStore& store() { return *store_; }
    // Returns once every write and removal asked for so far is done.
    void flush();

    // The copies left by an earlier run, each read into `project` made by `makeProject`, given
    // its own file back (none for an untitled script) and followed under its copy. One file goes
    // to one script: a later copy of the same file (two instances edited it) comes back without
    // a file, named after it ("talk (copy).cwr"). Working files that a killed save left beside a
    // script's file go, as opening the file clears them. A copy that cannot be read is logged,
    // listed in `unreadable` (when given) and stays where it is until discardUnreadable() or
    // setAsideUnreadable(). A script whose last copies could not be written comes back from the
    // copy before them and is listed in `olderThanEdits` (when given). Returns the projects made.
    std::vector<std::shared_ptr<Project>>
    restore(const std::function<std::shared_ptr<Project>()>& makeProject,
            std::vector<RecoveryStore::Entry>* unreadable = nullptr,
            std::vector<std::shared_ptr<Project>>* olderThanEdits = nullptr);
    // An unreadable copy removed, or renamed in its folder so that no start brings it up again.
    // Failures are logged.
    void discardUnreadable(const std::string& id);
    void setAsideUnreadable(const std::string& id);

    void follow(const std::shared_ptr<Project>& project);
    // The script closed: its copy goes, unless preserve() was called.
    void forget(const Project& project);
    // Writes the script's copy now when it has unsaved changes, and waits for it.
    void writeNow(Project& project);
    void preserve() { preserving_ = true; }
    // Called on the main thread at each change of the scripts whose copies fail.
    void setProblemHandler(ProblemHandler handler) { problemHandler_ = std::move(handler); }
    // Whether the script's edits are in a copy, as far as the writes asked for so far tell:
    // false when its latest copy could not be written, or it is not followed. Waits for them.
    bool keepsEdits(const Project& project);

    // For tests: whether a write is waiting for its time.
    bool isWriteDue(const Project& project) const;

private:
    class Listener;
    struct Followed;

    Followed* find(const Project& project);
    const Followed* find(const Project& project) const;
    void follow(const std::shared_ptr<Project>& project, std::string id, bool written);
    void changed(Project& project);
    void saved(Project& project);
    void write(Followed& followed, Project& project);
    void remove(Followed& followed);
    // On the queue: notes whether the copy `id` was written (no failure) and tells the main
    // thread when the scripts whose copies fail changed.
    struct Failure {
        std::string id;
        std::string name;
        std::string reason;
    };
    void reportWrite(const std::string& id, std::optional<Failure> failure);

    std::shared_ptr<RecoveryStore> store_;
    dispatch::QueuePtr queue_;
    const platform::Defaults& defaults_;
    Schedule schedule_;
    std::chrono::milliseconds interval_;
    std::vector<std::unique_ptr<Followed>> followed_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true); // seen by scheduled writes
    bool preserving_ = false;
    ProblemHandler problemHandler_;
    std::vector<Failure> failing_; // the queue's own
};

} // namespace cw
