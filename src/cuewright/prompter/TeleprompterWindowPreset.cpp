#include "cuewright/prompter/TeleprompterWindowPreset.h"

#include "cuewright/model/SettingsKeys.h"

namespace cw {

namespace {

constexpr PrompterWindowPresetKeys normalKeys{
    settings::prompterWindowOpacityNormal,       settings::showControlsInTeleprompterWindow,
    settings::showTimestampInTeleprompterWindow, settings::showProgressInPrompterWindow,
    settings::controlsOpacityInPrompterWindow,   settings::prompterWindowPinnedNormal,
    settings::prompterWindowFrameNormal,
};

constexpr PrompterWindowPresetKeys transparentKeys{
    settings::prompterWindowOpacityTransparent,
    settings::showControlsInTeleprompterWindowTransparent,
    settings::showTimestampInTeleprompterWindowTransparent,
    settings::showProgressInPrompterWindowTransparent,
    settings::controlsOpacityInPrompterWindowTransparent,
    settings::prompterWindowPinnedTransparent,
    settings::prompterWindowFrameTransparent,
};

} // namespace

const PrompterWindowPresetKeys& presetKeys(TeleprompterWindowPreset preset) {
    switch (preset) {
    case TeleprompterWindowPreset::normal:
        return normalKeys;
    case TeleprompterWindowPreset::transparent:
        return transparentKeys;
    }
    return normalKeys;
}

} // namespace cw
