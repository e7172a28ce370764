// Copies of scripts with unsaved edits, kept apart from the scripts' own files so that the
// edits outlive a crash, a kill or the end of the session.
#pragma once

#include "cuewright/model/Bookmark.h"
#include "cuewright/model/Document.h"
#include "cuewright/model/ScriptDocumentFile.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {
class Defaults;
}

namespace cw {

// A folder holding one "cwr" copy per script ("<id>.cwr", written by the script file writer)
// and "index.json", which names each copy's script: its own file, when it has one, and the name
// its window showed. Copies and the index are replaced atomically, so a kill at any moment
// leaves the last complete copy. A copy the index does not name is left over from a write that
// did not finish and is removed when the store opens.
//
// One process uses a folder at a time: the store holds a lock on it (released by the system when
// the process ends, however it ends). It never writes outside its folder, so a script's own
// file is never touched. Any one thread at a time.
class RecoveryStore {
public:
    static constexpr std::string_view folderName = "Recovery";
    static constexpr std::string_view indexName = "index.json";

    struct Entry {
        std::string id;
        std::optional<std::string> originalPath; // none for an untitled script
        std::string name;                        // the file's name, or "Untitled"

        friend bool operator==(const Entry&, const Entry&) = default;
    };

    // "Recovery" in the application-support folder; nullopt when there is none.
    static std::optional<std::filesystem::path> defaultFolder();

    // The store in `folder`, made when missing. Null (after a log line) when the folder cannot be
    // made or another process holds it.
    static std::unique_ptr<RecoveryStore> open(const std::filesystem::path& folder);
    ~RecoveryStore();
    RecoveryStore(const RecoveryStore&) = delete;
    RecoveryStore& operator=(const RecoveryStore&) = delete;

    const std::filesystem::path& folder() const { return folder_; }
    std::filesystem::path copyPath(std::string_view id) const;

    // The copies the index names and that exist, in the order they were first written.
    std::vector<Entry> entries() const;
    // A fresh id for a script not yet kept.
    static std::string makeId();
    // Names `entry` in the index, then writes its copy (replacing an earlier one of the same
    // id). Throws std::system_error for the index, or what the script writer throws; an earlier
    // copy then stays as it was.
    void write(const Entry& entry, const Document& document, const std::vector<Bookmark>& bookmarks,
               const ScriptDocumentFile::SaveOptions& options = {});
    // The copy's document; throws what reading a script file throws.
    Document read(const Entry& entry, const platform::Defaults& defaults) const;
    // Forgets the copy: out of the index, then off the disk. An unknown id is no error.
    void remove(std::string_view id);

private:
    RecoveryStore(std::filesystem::path folder, int lockFd);
    void writeIndex(const std::vector<Entry>& entries) const;
    void removeUnnamedCopies() const;

    std::filesystem::path folder_;
    int lockFd_;
};

} // namespace cw
