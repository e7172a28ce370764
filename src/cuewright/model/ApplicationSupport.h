// The per-user application-support folder, where the display database lives.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace cw {

// Names the folder directly when set and not empty (tests, portable installs).
inline constexpr std::string_view applicationSupportVariable = "CUEWRIGHT_DATA_DIR";

// The folder, created with any missing parents: $CUEWRIGHT_DATA_DIR, else
// $XDG_DATA_HOME/Cuewright (when that is an absolute path), else ~/.local/share/Cuewright.
// nullopt when no home folder is known, the folder cannot be made, or it is another user's or
// others may write in it (logged: nothing is read from it or written to it). Worked out anew on
// every call, so a folder removed meanwhile is made again. Any thread.
std::optional<std::filesystem::path> applicationSupportDirectory();
// Where that folder is, neither made nor checked; nullopt when no home folder is known.
std::optional<std::filesystem::path> applicationSupportPath();

} // namespace cw
