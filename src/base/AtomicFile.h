// Putting a complete file in place of another so that readers see the old file or the new one,
// never a mix, and a failure leaves the old file as it was.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <sys/types.h>

namespace base {

// Called with the finished, synced file just before it replaces the destination; answering
// false abandons the replacement as if it had failed (tests inject failures with it).
using BeforeReplaceHook = std::function<bool(const std::filesystem::path& finishedFile)>;

// A failed save or export told in the user's words: what() names the file they chose and the
// reason ("the folder \"...\" is read-only", "no permission to write in ...", "the disk is full"),
// which names the folder that refused: through a link, the folder of the file it leads to.
// code() keeps the system's error.
class FileWriteError : public std::system_error {
public:
    // Written in the destination's own folder.
    FileWriteError(std::error_code code, const std::filesystem::path& destination);
    FileWriteError(std::error_code code, const std::filesystem::path& destination,
                   const std::filesystem::path& folder);
    const char* what() const noexcept override { return message_.c_str(); }
    // The reason alone, without the file ("the disk is full"), for a sentence of the caller's.
    const std::string& reason() const noexcept { return reason_; }

private:
    std::string reason_;
    std::string message_;
};

// Working files are named a stem, the writer's pid, "-" and six random characters, so that one
// left behind by a writer that is gone (killed in the middle of a save) can be told from another
// process's save in progress. The default stem is short whatever the destination's name, so
// that even a name as long as the system allows has room beside it.
inline constexpr std::string_view defaultTemporaryStem = ".cw-";

// `stem`, this process's pid and "-": a working file's name up to its random characters.
std::string temporaryPrefix(std::string_view stem = defaultTemporaryStem);

// Whether the writer of a working file may still be writing it, given the file's name after its
// stem: false only when it reads "<pid>-" and six letters or digits and that process is gone.
bool temporaryFileWriterMayBeAlive(std::string_view nameAfterStem);

// Removes the working files in `folder` named `stem`... whose writer is gone and that belong to
// this user (another's may be a save in progress on another machine sharing the folder), logging
// each; failures are ignored (a read-only folder keeps them). Returns the files removed.
std::vector<std::filesystem::path> removeStaleTemporaryFiles(const std::filesystem::path& folder,
                                                             std::string_view stem = defaultTemporaryStem);

// What a save does with a destination that is a symbolic link.
enum class DestinationLink {
    // Replaces the file the link leads to (links followed to the end; a dangling one to where its
    // file would be) and the link stays: a user's "current.cwr -> talk-v3" saves into talk-v3.
    writeThrough,
    // Replaces the link itself: in a folder of the program's own, nothing is followed.
    replace,
};

// The file a save of `destination` replaces, as `link` says. A loop of links gives `destination`.
std::filesystem::path fileToReplace(const std::filesystem::path& destination,
                                    DestinationLink link = DestinationLink::writeThrough);

// A new, empty file named `prefix` and six random characters (mkstemp) in the folder of the file
// a save of the destination replaces (fileToReplace), readable by its owner alone while it is
// written (replaceFileAtomically gives it its final mode). The descriptor is returned open; the
// caller closes it. Throws FileWriteError naming the destination.
struct TemporaryFile {
    std::filesystem::path path;
    int fd = -1;
};
TemporaryFile createTemporaryFileBeside(const std::filesystem::path& destination,
                                        const std::string& prefix = temporaryPrefix(),
                                        DestinationLink link = DestinationLink::writeThrough);

struct AtomicWriteOptions {
    std::string temporaryPrefix = base::temporaryPrefix();
    BeforeReplaceHook beforeReplace;
    // The finished file's mode whatever the destination had (private files: 0600); none keeps an
    // existing destination's mode and group, and gives a new file the usual mode (the umask
    // applies).
    std::optional<mode_t> mode;
    DestinationLink link = DestinationLink::writeThrough;
};

// Writes `bytes` to a new file beside `destination`, syncs it, and renames it over the
// destination, which keeps its permissions (see AtomicWriteOptions::mode). Throws
// std::system_error naming the file; on failure the destination is untouched and the new file is
// removed.
void writeFileAtomically(const std::filesystem::path& destination, std::string_view bytes,
                         const AtomicWriteOptions& options = {});

// Syncs `finishedFile` (which must lie in the folder of the file replaced, see
// createTemporaryFileBeside), gives it its final mode and renames it over the file a save of the
// destination replaces (fileToReplace), then syncs the folder. Without `mode`, an existing file
// keeps its mode and its group (when the user belongs to that group) and a new one gets the usual
// mode of a new file. Throws std::system_error naming the destination; the file is then untouched
// and `finishedFile` is left to the caller.
void replaceFileAtomically(const std::filesystem::path& finishedFile,
                           const std::filesystem::path& destination,
                           const BeforeReplaceHook& beforeReplace = {},
                           std::optional<mode_t> mode = std::nullopt,
                           DestinationLink link = DestinationLink::writeThrough);

} // namespace base
