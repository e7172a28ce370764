// A folder of this user's own for what would otherwise land in the shared temporary folder.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

struct stat;

namespace base {

// $XDG_RUNTIME_DIR when it is a private folder; otherwise "cuewright-<uid>" in the temporary
// folder ($TMPDIR or /tmp), made with mode 0700 when missing. A folder counts as private only
// when it is a real folder (no link), owned by this user, that no one else may enter: a name
// another user made first in the shared folder is never used. nullopt (with a log line) when
// there is no such folder; callers then keep what they would write in memory.
std::optional<std::filesystem::path> privateTemporaryFolder();

// Sets $XDG_RUNTIME_DIR to privateTemporaryFolder() when it names no private folder, so that
// libraries that keep runtime files there (Qt among them) use that folder instead of making one
// of their own in $TMPDIR, or at the root when TMPDIR names nothing. Before any thread starts
// (the environment is changed) and before the toolkit reads the variable.
void namePrivateRuntimeFolder();

// Why `folder`, whose lstat or stat gave `status`, is no place for the user's own files: it
// belongs to another user, or others may write in it (and so take, swap or plant files there);
// nullopt when it is the user's alone to change. Group members may write when the group is the
// user's own private group (named after them, no one else in it), as a umask of 002 leaves
// folders. Not thread-safe (the user and group databases): the main thread's.
std::optional<std::string> whyNotTheUsersOwn(const std::filesystem::path& folder, const struct stat& status);

} // namespace base
