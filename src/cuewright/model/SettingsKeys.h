// The keys of the user-defaults settings and the names of the settings notifications.
#pragma once

#include <string_view>

namespace cw {

// Every key with a registered default (see registerUserDefaults), in registration order, plus
// the two keys used without one. The stored texts are users' data: their spelling stays.
namespace settings {

inline constexpr std::string_view isBonjourEnabled = "isBonjourEnabled";
inline constexpr std::string_view bonjourName = "bonjourName";
inline constexpr std::string_view bonjourKey = "bonjourKey";
inline constexpr std::string_view defaultScrollSpeed = "defaultScrollSpeed";
inline constexpr std::string_view defaultMinScrollSpeedLPS = "defaultMinScrollSpeedLPS";
inline constexpr std::string_view defaultMaxScrollSpeedLPS = "defaultMaxScrollSpeedLPS";
inline constexpr std::string_view defaultWordCountFactorKey = "defaultWordCountFactorKey";
inline constexpr std::string_view defaultPrompterMarginKey = "defaultPrompterMarginKey";
inline constexpr std::string_view defaultPrompterMarginAlignmentKey = "defaultPrompterMarginAlignmentKey";
inline constexpr std::string_view defaultBackgroundColor = "defaultBackgroundColor";
inline constexpr std::string_view defaultFont = "defaultFont";
inline constexpr std::string_view defaultTextColor = "defaultTextColor";
inline constexpr std::string_view defaultOverlayType = "defaultOverlayType";
inline constexpr std::string_view defaultOverlayOpacity = "defaultOverlayOpacity";
inline constexpr std::string_view defaultIndicatorType = "defaultIndicatorType";
inline constexpr std::string_view defaultIndicatorSize = "defaultIndicatorSize";
inline constexpr std::string_view defaultIndicatorColor = "defaultIndicatorColor";
inline constexpr std::string_view defaultIndicatorPosition = "defaultIndicatorPosition";
inline constexpr std::string_view defaultShowReadingLine = "defaultShowReadingLine";
inline constexpr std::string_view startupMode = "StartupMode";
inline constexpr std::string_view userInterfaceStyle = "userInterfaceStyle";
inline constexpr std::string_view manualScrollingDuration = "manualScrollingDuration";
inline constexpr std::string_view manualScrollingEnabled = "manualScrollingEnabled";
inline constexpr std::string_view manualScrollingLineCount = "manualScrollingLineCount";
inline constexpr std::string_view autospawnPrompterWindow = "autospawnPrompterWindow";
inline constexpr std::string_view showBookmarkSidebar = "showBookmarkSidebar";
inline constexpr std::string_view showWelcomeWindow25 = "showWelcomeWindow25";
inline constexpr std::string_view showFeedbackButton = "showFeedbackButton";
inline constexpr std::string_view lockEditorDuringPrompting = "lockEditorDuringPrompting";
inline constexpr std::string_view showControlsInTeleprompterWindow = "showControlsInTeleprompterWindow";
inline constexpr std::string_view controlsOpacityInPrompterWindow = "controlsOpacityInPrompterWindow";
inline constexpr std::string_view showTimestampInTeleprompterWindow = "showTimestampInTeleprompterWindow";
inline constexpr std::string_view showProgressInPrompterWindow = "showProgressInPrompterWindow";
inline constexpr std::string_view prompterWindowOpacityNormal = "prompterWindowOpacityNormal";
inline constexpr std::string_view showControlsInTeleprompterWindowTransparent =
    "showControlsInTeleprompterWindowTransparent";
inline constexpr std::string_view controlsOpacityInPrompterWindowTransparent =
    "controlsOpacityInPrompterWindowTransparent";
inline constexpr std::string_view showTimestampInTeleprompterWindowTransparent =
    "showTimestampInTeleprompterWindowTransparent";
inline constexpr std::string_view showProgressInPrompterWindowTransparent =
    "showProgressInPrompterWindowTransparent";
inline constexpr std::string_view prompterWindowOpacityTransparent = "prompterWindowOpacityTransparent";
inline constexpr std::string_view prompterWindowFrameNormal = "prompterWindowFrameNormal";
inline constexpr std::string_view prompterWindowFrameTransparent = "prompterWindowFrameTransparent";
inline constexpr std::string_view prompterWindowPinnedNormal = "prompterWindowPinnedNormal";
inline constexpr std::string_view prompterWindowPinnedTransparent = "prompterWindowPinnedTransparent";
inline constexpr std::string_view timestampInPrompterShowsRemainingTime =
    "timestampInPrompterShowsRemainingTime";
inline constexpr std::string_view syncTeleprompterWindowToEditorScrolling =
    "syncTeleprompterWindowToEditorScrolling";
inline constexpr std::string_view autoscrollEditorDuringPrompting = "autoscrollEditorDuringPrompting";
inline constexpr std::string_view scrollEditorToStopPosition = "scrollEditorToStopPosition";
inline constexpr std::string_view performCustomBindingActionOnKeyDown = "PerformCustomBindingActionOnKeyDown";
inline constexpr std::string_view listenToShortcutsInBackground = "listenToShortcutsInBackground";
inline constexpr std::string_view isPresenterSupportEnabled = "isPresenterSupportEnabled";
inline constexpr std::string_view isOneClickPromptingEnabled = "isOneClickPromptingEnabled";
inline constexpr std::string_view selectedExportFileTypeIndex = "selectedExportFileTypeIndex";
inline constexpr std::string_view invertScrollWheelInTeleprompterView = "invertScrollWheelInTeleprompterView";
inline constexpr std::string_view speedSliderSensitivityFactor = "speedSliderSensitivityFactor";
inline constexpr std::string_view scrollWheelChangesSpeed = "scrollWheelChangesSpeed";
inline constexpr std::string_view defaultScrollingSpeedUnit = "defaulScrollingSpeedUnit"; // sic: users' files
inline constexpr std::string_view preferredScrollSpeedDisplayMode = "preferredScrollSpeedDisplayMode";

// Used without a registered default: they read as 0 and absent until first written.
inline constexpr std::string_view launchCount = "launchCount";
inline constexpr std::string_view customKeyBindings = "CustomKeyBindings";

} // namespace settings

// Names of the notifications about settings, posted on the default centre with no object and
// no user information.
namespace notifications {

inline constexpr std::string_view uiModeDidSwitch = "UIModeDidSwitch";
inline constexpr std::string_view keyBindingsDidChange = "KeyBindingsDidChange";
inline constexpr std::string_view backgroundEventListeningDidChange = "BackgroundEventListeningDidChange";
inline constexpr std::string_view scrollingSpeedUnitDidChange = "ScrollingSpeedUnitDidChange";
inline constexpr std::string_view autoScrollSettingDidChange = "AutoScrollSettingDidChange";

} // namespace notifications

} // namespace cw
