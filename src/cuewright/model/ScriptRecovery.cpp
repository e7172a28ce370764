#include "cuewright/model/ScriptRecovery.h"

#include "base/AtomicFile.h"
#include "base/Log.h"
#include "cuewright/model/Project.h"
#include "cuewright/model/ProjectEventListener.h"
#include "dispatch/MainThreadChecker.h"
#include "sql/Errors.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <filesystem>

namespace cw {

class ScriptRecovery::Listener final : public ProjectEventListener {
public:
    explicit Listener(ScriptRecovery& owner)
        : owner_(owner) {}
    void projectTextDidChange(Project& project) override { owner_.changed(project); }
    void projectScriptPropertiesDidChange(Project& project) override { owner_.changed(project); }
    void projectSpeedDidChange(Project& project) override { owner_.changed(project); }
    void projectDidSave(Project& project) override { owner_.saved(project); }

private:
    ScriptRecovery& owner_;
};

struct ScriptRecovery::Followed {
    const Project* project = nullptr; // identity only
    std::shared_ptr<Listener> listener;
    std::string id;
    bool written = false; // the store holds a copy under `id`
    bool due = false;     // a write is scheduled
};

// Why a copy could not be written, without the copy's own path, which means nothing to the user.
static std::string readableReason(const std::exception& error) {
    if (const auto* write = dynamic_cast<const base::FileWriteError*>(&error)) {
        const int code = write->code().value();
        return code == EACCES || code == EPERM ? std::string("the recovery folder may not be written")
                                               : write->reason();
    }
    if (const auto* sql = dynamic_cast<const sql::Result*>(&error)) {
        constexpr int ioError = 10;
        if ((sql->code() & 0xff) == ioError) {
            return "the disk refused to write it"; // SQLite's "disk I/O error (code: 10)"
        }
    }
    std::string text = error.what();
    while (!text.empty() && (text.back() == '.' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

// Whether `path` names a file given to a script already, by its name or another way to it.
static bool isBound(const std::vector<std::string>& bound, const std::string& path) {
    return std::any_of(bound.begin(), bound.end(), [&](const std::string& taken) {
        std::error_code error;
        return taken == path || std::filesystem::equivalent(taken, path, error);
    });
}

// "talk (copy).cwr", then "talk (copy 2).cwr" and on: a name no script brought back has yet.
static std::string copyName(const std::string& path, const std::vector<std::shared_ptr<Project>>& restored) {
    const std::filesystem::path file = std::filesystem::path(path).filename();
    for (int number = 1;; ++number) {
        const std::string name = file.stem().string() + " (copy" +
                                 (number > 1 ? " " + std::to_string(number) : std::string()) + ")" +
                                 file.extension().string();
        if (std::none_of(restored.begin(), restored.end(),
                         [&](const auto& project) { return project->untitledName() == name; })) {
            return name;
        }
    }
}

static ScriptRecovery::Schedule qtSchedule() {
    return [](std::chrono::milliseconds delay, std::function<void()> fire) {
        QTimer::singleShot(delay, QCoreApplication::instance(), std::move(fire));
    };
}

ScriptRecovery::ScriptRecovery(std::unique_ptr<RecoveryStore> store, const platform::Defaults& defaults,
                               Schedule schedule, std::chrono::milliseconds interval)
    : store_(std::move(store))
    , queue_(dispatch::Queue::makeSerial("cuewright.recovery"))
    , defaults_(defaults)
    , schedule_(schedule ? std::move(schedule) : qtSchedule())
    , interval_(interval) {}

// The copies stay: ending the application is not discarding anything. What was asked of the
// queue is finished first.
ScriptRecovery::~ScriptRecovery() {
    flush();
}

void ScriptRecovery::flush() {
    queue_->sync([] {});
}

std::vector<std::shared_ptr<Project>>
ScriptRecovery::restore(const std::function<std::shared_ptr<Project>()>& makeProject,
                        std::vector<RecoveryStore::Entry>* unreadable,
                        std::vector<std::shared_ptr<Project>>* olderThanEdits) {
    CW_DCHECK_MAIN_THREAD();
    std::vector<std::shared_ptr<Project>> restored;
    std::vector<std::string> bound; // one window per file: later copies of a file come back unbound
    for (const RecoveryStore::Entry& entry : store_->entries()) {
        Document document;
        std::optional<base::FileStamp> stamp;
        try {
            document = store_->read(entry, defaults_, &stamp);
        } catch (const std::exception& error) {
            base::log("Cannot read the kept copy of " + entry.name + ": " + error.what());
            if (unreadable) {
                unreadable->push_back(entry);
            }
            continue;
        }
        std::shared_ptr<Project> project = makeProject();
        project->setDocument(std::move(document));
        if (entry.originalPath && isBound(bound, *entry.originalPath)) {
            // Another copy of the same file (two instances edited it) has the file already.
            project->setUntitledName(copyName(*entry.originalPath, restored),
                                     std::filesystem::path(*entry.originalPath).parent_path().string());
        } else {
            project->setRepresentedPath(entry.originalPath);
            // Its file as it was when the edits began: the first save asks if it changed since.
            project->setDiskStamp(stamp);
            if (entry.originalPath) {
                bound.push_back(*entry.originalPath);
                base::removeStaleTemporaryFiles(std::filesystem::path(*entry.originalPath).parent_path());
            } else if (entry.name != untitledName) {
                project->setUntitledName(entry.name, entry.folder);
            }
        }
        project->setHasUnsavedChanges(true);
        follow(project, entry.id, /*written=*/true);
        if (olderThanEdits && store_->isOlderThanEdits(entry.id)) {
            olderThanEdits->push_back(project);
        }
        restored.push_back(std::move(project));
    }
    return restored;
}

void ScriptRecovery::discardUnreadable(const std::string& id) {
    queue_->sync([&] {
        try {
            store_->remove(id);
        } catch (const std::exception& error) {
            base::log("Cannot discard the unreadable copy " + id + ": " + error.what());
        }
    });
}

void ScriptRecovery::setAsideUnreadable(const std::string& id) {
    queue_->sync([&] {
        try {
            base::log("Set the unreadable copy aside as " + store_->setAside(id).string());
        } catch (const std::exception& error) {
            base::log("Cannot set the unreadable copy " + id + " aside: " + error.what());
        }
    });
}

void ScriptRecovery::follow(const std::shared_ptr<Project>& project) {
    if (!find(*project)) {
        follow(project, RecoveryStore::makeId(), /*written=*/false);
    }
}

void ScriptRecovery::follow(const std::shared_ptr<Project>& project, std::string id, bool written) {
    auto followed = std::make_unique<Followed>();
    followed->project = project.get();
    followed->listener = std::make_shared<Listener>(*this);
    followed->id = std::move(id);
    followed->written = written;
    project->registerEventListener(followed->listener);
    followed_.push_back(std::move(followed));
}

void ScriptRecovery::forget(const Project& project) {
    CW_DCHECK_MAIN_THREAD();
    const auto found = std::find_if(followed_.begin(), followed_.end(),
                                    [&](const auto& f) { return f->project == &project; });
    if (found == followed_.end()) {
        return;
    }
    if (!preserving_) {
        remove(**found);
    }
    followed_.erase(found);
}

void ScriptRecovery::writeNow(Project& project) {
    CW_DCHECK_MAIN_THREAD();
    if (Followed* followed = find(project); followed && project.hasUnsavedChanges()) {
        write(*followed, project);
        flush();
    }
}

bool ScriptRecovery::isWriteDue(const Project& project) const {
    const Followed* followed = find(project);
    return followed != nullptr && followed->due;
}

ScriptRecovery::Followed* ScriptRecovery::find(const Project& project) {
    return const_cast<Followed*>(std::as_const(*this).find(project));
}

const ScriptRecovery::Followed* ScriptRecovery::find(const Project& project) const {
    const auto found = std::find_if(followed_.begin(), followed_.end(),
                                    [&](const auto& f) { return f->project == &project; });
    return found == followed_.end() ? nullptr : found->get();
}

void ScriptRecovery::changed(Project& project) {
    Followed* followed = find(project);
    if (followed != nullptr && !project.hasUnsavedChanges()) {
        // Taken back to what its file holds (an undo): no edit is left to keep.
        followed->due = false;
        remove(*followed);
        return;
    }
    if (followed == nullptr || followed->due) {
        return;
    }
    followed->due = true;
    if (followed->written) {
        // Until the next copy is there, the last one holds less than the script: should the
        // application end first (a crash, a kill, a quit that ran out of time), the next start says so.
        queue_->async([store = store_, id = followed->id] { store->markOlderThanEdits(id); });
    }
    // The project may close first; the write then finds nothing to do.
    schedule_(interval_, [this, alive = std::weak_ptr<bool>(alive_), weak = project.weak_from_this()] {
        const std::shared_ptr<Project> project = weak.lock();
        if (alive.expired() || !project) {
            return;
        }
        if (Followed* followed = find(*project); followed && followed->due) {
            followed->due = false;
            if (project->hasUnsavedChanges()) {
                write(*followed, *project);
            }
        }
    });
}

void ScriptRecovery::saved(Project& project) {
    Followed* followed = find(project);
    if (followed == nullptr) {
        return;
    }
    if (project.hasUnsavedChanges()) {
        changed(project); // edited while the file was written: the copy keeps those edits
        return;
    }
    followed->due = false;
    remove(*followed);
}

void ScriptRecovery::write(Followed& followed, Project& project) {
    // The bookmarks read the editor's line table, which belongs to the main thread. Gathering them
    // hands over an edit the editor still holds; the change the project then tells of rides along
    // with this write, which takes the text after it. Taken as a new edit, it would mark the copy
    // older ahead of this write, which undoes the mark, and leave a write due, so that the edits
    // after this one would not mark it again.
    followed.due = true;
    std::vector<Bookmark> bookmarks = project.bookmarks();
    if (find(project) != &followed) {
        return; // closed meanwhile
    }
    followed.due = false;
    if (!project.hasUnsavedChanges()) {
        return; // taken back to what its file holds: the change removed the copy
    }
    followed.written = true; // a failed write leaves nothing to remove, which is no error
    const std::optional<std::string> path = project.representedPath();
    const std::optional<std::string> proposed = project.proposedPath();
    RecoveryStore::Entry entry{followed.id, path,
                               path ? std::filesystem::path(*path).filename().string()
                                    : project.untitledName().value_or(std::string(untitledName)),
                               proposed && !path
                                   ? std::optional(std::filesystem::path(*proposed).parent_path().string())
                                   : std::nullopt};
    // `this` outlives the queue's tasks: the destructor waits for them.
    queue_->async([this, store = store_, entry = std::move(entry), document = project.documentSnapshot(),
                   bookmarks = std::move(bookmarks), stamp = project.diskStamp()] {
        try {
            store->write(entry, document, bookmarks, {}, stamp);
            reportWrite(entry.id, std::nullopt);
        } catch (const std::exception& error) {
            base::log("Cannot keep a copy of the unsaved edits of " + entry.name + ": " + error.what());
            reportWrite(entry.id, Failure{entry.id, entry.name, readableReason(error)});
        }
    });
}

void ScriptRecovery::reportWrite(const std::string& id, std::optional<Failure> failure) {
    const auto known =
        std::find_if(failing_.begin(), failing_.end(), [&](const Failure& f) { return f.id == id; });
    if (!failure && known == failing_.end()) {
        return; // kept, as it was
    }
    if (!failure) {
        failing_.erase(known);
    } else if (known == failing_.end()) {
        failing_.push_back(std::move(*failure));
    } else if (known->name != failure->name || known->reason != failure->reason) {
        *known = std::move(*failure);
    } else {
        return; // failing as it was
    }
    Problem problem;
    for (const Failure& f : failing_) {
        problem.scripts.push_back(f.name);
        problem.reason = f.reason;
    }
    dispatch::mainQueue()->async([this, alive = std::weak_ptr<bool>(alive_), problem = std::move(problem)] {
        if (!alive.expired() && problemHandler_) {
            problemHandler_(problem);
        }
    });
}

bool ScriptRecovery::keepsEdits(const Project& project) {
    CW_DCHECK_MAIN_THREAD();
    const Followed* followed = find(project);
    if (followed == nullptr) {
        return false;
    }
    bool failing = false;
    queue_->sync([&] {
        failing = std::any_of(failing_.begin(), failing_.end(),
                              [&](const Failure& f) { return f.id == followed->id; });
    });
    return !failing;
}

void ScriptRecovery::remove(Followed& followed) {
    if (!followed.written) {
        return;
    }
    followed.written = false;
    // The edits are saved or discarded: a copy that failed no longer matters.
    queue_->async([this, store = store_, id = followed.id] {
        reportWrite(id, std::nullopt);
        try {
            store->remove(id);
        } catch (const std::exception& error) {
            base::log("Cannot remove the copy of unsaved edits " + id + ": " + error.what());
        }
    });
}

} // namespace cw
