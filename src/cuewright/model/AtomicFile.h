// Putting a complete file in place of another so that readers see the old file or the new one,
// never a mix, and a failure leaves the old file as it was.
#pragma once

#include <filesystem>
#include <functional>
#include <string_view>

namespace cw {

// Called with the finished, synced file just before it replaces the destination; answering
// false abandons the replacement as if it had failed (tests inject failures with it).
using BeforeReplaceHook = std::function<bool(const std::filesystem::path& finishedFile)>;

// Writes `bytes` to a new file beside `destination`, syncs it, and renames it over the
// destination; an existing destination keeps its permissions. Throws std::system_error naming
// the file; on failure the destination is untouched and the new file is removed.
void writeFileAtomically(const std::filesystem::path& destination, std::string_view bytes,
                         const BeforeReplaceHook& beforeReplace = {});

// Syncs `finishedFile` (which must lie in the destination's folder) and renames it over the
// destination, then syncs the folder. An existing destination keeps its permissions. Throws
// std::system_error; the destination is then untouched and `finishedFile` is left to the caller.
void replaceFileAtomically(const std::filesystem::path& finishedFile,
                           const std::filesystem::path& destination,
                           const BeforeReplaceHook& beforeReplace = {});

} // namespace cw
