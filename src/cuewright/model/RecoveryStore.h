// Copies of scripts with unsaved edits, kept apart from the scripts' own files so that the
// edits outlive a crash, a kill or the end of the session.
#pragma once

#include "base/FileStamp.h"

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
// its window showed. Each copy carries the same in a table of its own, so that a lost or damaged
// index is rebuilt from the copies. Copies and the index are replaced atomically, so a kill at
// any moment leaves the last complete copy.
//
// The store removes nothing but what it is told to forget (a script saved or discarded): a copy
// the index does not name is taken back into it when the store opens, never removed. A folder
// that is a symbolic link is refused whole (nothing behind it is read or written), and so is one
// that (or whose parent) belongs to another user or that others may write in; nothing in the
// folder is followed through a link.
//
// One process uses a folder at a time: the store holds a lock on it (released by the system when
// the process ends, however it ends). A process that finds the folder held keeps its copies in a
// private folder of its own inside it ("instance-<id>"); whichever store opens next after that
// process has ended takes those copies over. It never writes outside its folder, so a script's own
// file is never touched. Any one thread at a time.
class RecoveryStore {
public:
    static constexpr std::string_view folderName = "Recovery";
    static constexpr std::string_view indexName = "index.json";
    // The name of a script without a file.
    static constexpr std::string_view untitledName = "Untitled";

    struct Entry {
        std::string id;
        std::optional<std::string> originalPath; // none for an untitled script
        std::string name;                        // the file's name, or "Untitled"
        // Where an untitled script belongs, when known (a second copy of a script: its folder).
        std::optional<std::string> folder = std::nullopt;

        friend bool operator==(const Entry&, const Entry&) = default;
    };

    // "Recovery" in the application-support folder; nullopt when there is none.
    static std::optional<std::filesystem::path> defaultFolder();

    // The store in `folder`, made when missing, or a private one inside it when another process
    // holds `folder`. Null (after a log line) when no copies can be kept: the folder is a link, is
    // another user's or open to others' writing (or its parent is), or cannot be made or locked;
    // `whyNot` then tells why in the user's words.
    static std::unique_ptr<RecoveryStore> open(const std::filesystem::path& folder,
                                               std::string* whyNot = nullptr);
    ~RecoveryStore();
    RecoveryStore(const RecoveryStore&) = delete;
    RecoveryStore& operator=(const RecoveryStore&) = delete;

    // Where the copies are: the folder asked for, or the private one inside it.
    const std::filesystem::path& folder() const { return folder_; }
    bool isPrivate() const { return isPrivate_; }
    std::filesystem::path copyPath(std::string_view id) const;

    // The copies the index names and that exist, in the order they were first written.
    std::vector<Entry> entries() const;
    // The scripts the index named when the store opened whose copy had never been written (their
    // edits are lost); the index no longer names them, so the next opening finds none.
    const std::vector<Entry>& lostAtOpen() const { return lost_; }
    // A fresh id for a script not yet kept.
    static std::string makeId();
    // Names `entry` in the index, marked as not yet written until its first copy is there, then
    // writes its copy (replacing an earlier one of the same id), with `stamp`, the script's file as its
    // project last read or wrote it. Throws std::system_error for the index, or what the script writer
    // throws; an earlier copy then stays as it was, marked older than the edits until a copy
    // replaces it (isOlderThanEdits).
    void write(const Entry& entry, const Document& document, const std::vector<Bookmark>& bookmarks,
               const ScriptDocumentFile::SaveOptions& options = {},
               std::optional<base::FileStamp> stamp = std::nullopt);
    // Whether the copy is older than its script's edits: they went further than it holds, and no
    // later copy replaced it (not yet, or it failed). The mark is the copy's own mode (no write
    // bit), set without a byte written, so that it is made on a full disk too; where the copy's
    // file system takes no change at all (read-only), it is a file named after the copy in the
    // second mark folder, when there is one. A new copy of the script takes the mark away.
    bool isOlderThanEdits(std::string_view id) const;
    void markOlderThanEdits(std::string_view id);
    // Where marks go that the copies' own folder refuses (see isOlderThanEdits): a folder on
    // another file system, such as defaultSecondMarkFolder(); made when first needed.
    void setSecondMarkFolder(std::optional<std::filesystem::path> folder) {
        secondMarks_ = std::move(folder);
    }
    // The user's runtime folder ($XDG_RUNTIME_DIR), which lasts as long as their session; none
    // without one.
    static std::optional<std::filesystem::path> defaultSecondMarkFolder();
    // The copy's document, and into `stamp` (when given) the file stamp it was written with;
    // throws what reading a script file throws.
    Document read(const Entry& entry, const platform::Defaults& defaults,
                  std::optional<base::FileStamp>* stamp = nullptr) const;
    // Keeps a copy that cannot be read where the user finds it and the store no more looks:
    // renamed "unreadable-<id>.cwr" in the folder, then out of the index. Returns the new path;
    // throws std::system_error when it stays.
    std::filesystem::path setAside(std::string_view id);
    // Forgets the copy: off the disk, then out of the index (a kill between the two leaves a name
    // without a copy, which is dropped). An unknown id is no error. Throws std::system_error when
    // the copy stays.
    void remove(std::string_view id);

private:
    RecoveryStore(std::filesystem::path folder, int lockFd, bool isPrivate);
    // Reads the index, takes back the copies it does not name, and those of private folders
    // whose process has ended.
    void load();
    void takeOverEndedPrivateFolders(const std::filesystem::path& shared);
    void writeIndex() const;
    // The same where a failure costs nothing the copies hold: logged, not thrown.
    void writeIndexOrLog() const;

    // The mark in the second folder; none without one.
    std::optional<std::filesystem::path> secondMark(std::string_view id) const;
    void removeSecondMark(std::string_view id) const;

    std::filesystem::path folder_;
    std::optional<std::filesystem::path> secondMarks_;
    int lockFd_;
    bool isPrivate_;
    std::vector<Entry> entries_;
    std::vector<std::string> unwritten_; // ids named whose copy was never written
    std::vector<Entry> lost_;
};

} // namespace cw
