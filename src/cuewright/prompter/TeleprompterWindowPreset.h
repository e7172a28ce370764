// The two presets of a free-floating prompter window and the settings keys each one uses.
#pragma once

#include <string_view>

namespace cw {

// normal: an opaque window with its controls; transparent: a see-through window. Display-bound
// windows always use normal.
enum class TeleprompterWindowPreset { normal, transparent };

// The user-defaults keys under which a preset keeps its window's settings. The spellings are
// users' data and differ between the settings on purpose (see SettingsKeys.h).
struct PrompterWindowPresetKeys {
    std::string_view windowOpacity;   // float
    std::string_view showControls;    // Bool
    std::string_view showTimestamp;   // Bool
    std::string_view showProgress;    // Bool
    std::string_view controlsOpacity; // float
    std::string_view pinned;          // Bool
    std::string_view windowFrame;     // frame text, "" when none
};

const PrompterWindowPresetKeys& presetKeys(TeleprompterWindowPreset preset);

} // namespace cw
