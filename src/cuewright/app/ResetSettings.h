// What a start tells of settings that could not be read, and a run of settings that cannot be saved.
#pragma once

#include "platform/defaults/Defaults.h"
#include "platform/ui/AlertRunner.h"

#include <QString>

#include <string>
#include <string_view>

namespace cw {

// A setting in the words of the settings window ("the font of new scripts"); a key it does not
// know comes as its name in plain words ("show bookmark sidebar").
QString settingInWords(std::string_view key);

// The alert about `reset`: how many settings went back to their defaults, which (each once), and
// where the file as it was is kept.
platform::Alert resetSettingsAlert(const platform::Defaults::Reset& reset);

// The alert about settings that cannot be saved, with why (`why` as the store gives it).
platform::Alert unsavedSettingsAlert(const std::string& why);

} // namespace cw
