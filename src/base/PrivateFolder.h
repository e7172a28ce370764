// A folder of this user's own for what would otherwise land in the shared temporary folder.
#pragma once

#include <filesystem>
#include <optional>

namespace base {

// $XDG_RUNTIME_DIR when it is a private folder; otherwise "cuewright-<uid>" in the temporary
// folder ($TMPDIR or /tmp), made with mode 0700 when missing. A folder counts as private only
// when it is a real folder (no link), owned by this user, that no one else may enter: a name
// another user made first in the shared folder is never used. nullopt (with a log line) when
// there is no such folder; callers then keep what they would write in memory.
std::optional<std::filesystem::path> privateTemporaryFolder();

} // namespace base
