// Saving a project as a "cwr" file, opening one into a project, and exporting its text.
#include "cuewright/model/Project.h"

#include "cuewright/model/Database.h"
#include "cuewright/model/ProjectError.h"
#include "cuewright/model/ScriptDocumentFile.h"
#include "cuewright/model/ScriptExporter.h"
#include "dispatch/MainThreadChecker.h"
#include "sql/Connection.h"

#include <filesystem>
#include <tuple>
#include <vector>

namespace cw {

Document Project::defaultDocument() const {
    return Document{Document::ScriptProperties::fromUserDefaults(*defaults_),
                    Document::SpeedProperties::fromUserDefaults(*defaults_), platform::AttributedString()};
}

void Project::save(const std::string& path, ChangedOnDisk changedOnDisk) {
    save(path, ScriptDocumentFile::SaveOptions{}, changedOnDisk);
}

void Project::save(const std::string& path, const ScriptDocumentFile::SaveOptions& givenOptions,
                   ChangedOnDisk changedOnDisk) {
    ScriptDocumentFile::SaveOptions options = givenOptions;
    if (changedOnDisk == ChangedOnDisk::refuse) {
        std::lock_guard lock(mutex_);
        if (representedPath_ == path) {
            options.replacing = diskStamp_;
        }
    }
    // Listeners put pending edits into the project here, so it comes before anything is read.
    notifyWillSave();
    // The bookmark list reads the editor's line table, which belongs to the main thread; taking
    // both there gives a text and bookmarks of one moment.
    Document saved;
    std::uint64_t savedRevision = 0;
    std::vector<Bookmark> marks;
    auto take = [&] {
        marks = bookmarks(); // first: gathering them may hand over a pending edit
        std::tie(saved, savedRevision) = revisedDocumentSnapshot();
    };
    if (dispatch::isMainThread()) {
        take();
    } else {
        dispatch::mainQueue()->sync(take);
    }
    const std::optional<base::FileStamp> written = ScriptDocumentFile::save(path, saved, marks, options);
    setRepresentedPath(path);
    {
        std::lock_guard lock(mutex_);
        diskStamp_ = written;
    }
    // A save run off the main thread can overlap an edit made on it after the snapshot: that
    // edit is not in the file, so the project must still count as changed.
    if (revisedDocumentSnapshot().second == savedRevision) {
        setHasUnsavedChanges(false);
    }
    notifyDidSave();
}

void Project::loadDocument(const std::string& path) {
    CW_DCHECK_MAIN_THREAD();
    // Through the file's own opening, which also clears what saves killed half-way left beside it.
    // Taken before reading: a file written meanwhile counts as changed at the next save.
    const std::optional<base::FileStamp> read = base::fileStamp(path);
    Document document;
    QString notice;
    try {
        document = ScriptDocumentFile::open(path, *defaults_, &notice);
    } catch (const ProjectError&) {
        throw; // refused before anything was read: the project stays as it was
    } catch (...) {
        setDocument(defaultDocument());
        throw;
    }
    takeReadDocument(path, std::move(document), read, notice);
}

void Project::takeReadDocument(const std::string& path, Document document,
                               std::optional<base::FileStamp> stamp, const QString& readNotice) {
    CW_DCHECK_MAIN_THREAD();
    setDocument(std::move(document));
    readNotice_ = readNotice;
    setRepresentedPath(path);
    {
        std::lock_guard lock(mutex_);
        diskStamp_ = stamp;
    }
    setHasUnsavedChanges(false);
}

void Project::exportPlainText(const std::string& path) const {
    ScriptExporter::exportPlainText(path, documentSnapshot().text);
}

void Project::exportRTF(const std::string& path) const {
    const Document document = documentSnapshot();
    ScriptExporter::exportRTF(path, document.text, document.scriptProperties.backgroundColor);
}

void Project::exportDOCX(const std::string& path) const {
    const Document document = documentSnapshot();
    ScriptExporter::exportDOCX(path, document.text, document.scriptProperties.backgroundColor);
}

} // namespace cw
