// The settings registry and the accessors that read, write and announce settings.
#pragma once

#include "platform/text/Color.h"
#include "platform/text/Font.h"

#include "base/EnumTable.h"
#include "cuewright/model/PrompterEnums.h"
#include "cuewright/model/ScrollingSpeedUnit.h"
#include "cuewright/model/SettingsKeys.h"
#include "platform/defaults/ArchivedValues.h"
#include "platform/defaults/Defaults.h"
#include "platform/defaults/NotificationCenter.h"

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace cw {

// What the machine contributes to the registered defaults.
struct RegistrationHost {
    // The computer's name shown to people; "Cuewright" is registered when it is empty.
    std::string localizedName;
    // Answers the family to archive for the default font given the preferred one
    // ("Helvetica Neue"): the family itself when installed, else the system font's family.
    // Unset: the preferred family is kept.
    std::function<std::string(std::string_view preferredFamily)> fontFamily;

    // This machine: the pretty host name (/etc/machine-info) or else the host name; with a GUI
    // application, the font database decides the family.
    static RegistrationHost current();
};

// Every registered key with its default, in registration order (57 entries).
std::vector<std::pair<std::string_view, platform::Value>>
registeredDefaultValues(const RegistrationHost& host = RegistrationHost::current());

// Registers registeredDefaultValues() with the store as its registration domain.
void registerUserDefaults(platform::Defaults& defaults = platform::Defaults::standard(),
                          const RegistrationHost& host = RegistrationHost::current());

// The start-up action: 0 create a new document, 1 open the most recent one, 2 do nothing.
// Raw strings match exactly; anything else is createNewDocument.
enum class StartupMode { createNewDocument, openMostRecentDocument, doNothing };
inline constexpr base::EnumTable<StartupMode, 3> startupModeTable{
    {{{StartupMode::createNewDocument, "CreateNewDocument", 0},
      {StartupMode::openMostRecentDocument, "OpenMostRecentDocument", 1},
      {StartupMode::doNothing, "DoNothing", 2}}},
    StartupMode::createNewDocument};
constexpr const auto& enumTable(StartupMode) {
    return startupModeTable;
}

// The appearance: 0 follow the system, 1 light, 2 dark. Raw strings match exactly; anything
// else is systemDefault. This is the one reader of the stored choice: the application maps it to
// the window layer's platform::AppearanceStyle.
enum class UserInterfaceStyle { systemDefault, light, dark };
inline constexpr base::EnumTable<UserInterfaceStyle, 3> userInterfaceStyleTable{
    {{{UserInterfaceStyle::systemDefault, "UserInterfaceStyleSystemDefault", 0},
      {UserInterfaceStyle::light, "UserInterfaceStyleLight", 1},
      {UserInterfaceStyle::dark, "UserInterfaceStyleDark", 2}}},
    UserInterfaceStyle::systemDefault};
constexpr const auto& enumTable(UserInterfaceStyle) {
    return userInterfaceStyleTable;
}

// 0, 1 or 2 for "CreateNewDocument", "OpenMostRecentDocument", "DoNothing"; 0 for anything else.
int startupMode(std::string_view raw);
// 0, 1 or 2 for "UserInterfaceStyleSystemDefault", "UserInterfaceStyleLight",
// "UserInterfaceStyleDark"; 0 for anything else.
int userInterfaceStyle(std::string_view raw);

// Readers of stored choices; each answers an absent or unknown value with its fallback.
StartupMode storedStartupMode(const platform::Defaults& defaults = platform::Defaults::standard());
UserInterfaceStyle
storedUserInterfaceStyle(const platform::Defaults& defaults = platform::Defaults::standard());
ScrollingSpeedUnit
defaultScrollingSpeedUnit(const platform::Defaults& defaults = platform::Defaults::standard());
SpeedDisplayMode
preferredScrollSpeedDisplayMode(const platform::Defaults& defaults = platform::Defaults::standard());

// The colours and font of new scripts. Fallbacks: black background, yellow text, and
// the system font (an empty family) of 34 pt.
// A number from the settings held to low…high (an opacity, a margin). One that is no number
// reads as the key's registered value, with a log line: a NaN or an infinity would make a window
// or its controls vanish, or the prompter's text lose its width.
float storedFloat(std::string_view key, float low, float high,
                  const platform::Defaults& defaults = platform::Defaults::standard());

platform::Color defaultBackgroundColor(const platform::Defaults& defaults = platform::Defaults::standard());
platform::Color defaultTextColor(const platform::Defaults& defaults = platform::Defaults::standard());
platform::Font defaultFont(const platform::Defaults& defaults = platform::Defaults::standard());

// Writes the style (0, 1 or 2; another number counts as 0) and posts "UIModeDidSwitch" when it
// differs from the stored one.
void setUserInterfaceStyle(
    int style, platform::Defaults& defaults = platform::Defaults::standard(),
    platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter());

// Writes the Boolean and posts "AutoScrollSettingDidChange" when it differs from the previous
// value of the key (registered defaults count).
void setBoolPreference(bool value, std::string_view key,
                       platform::Defaults& defaults = platform::Defaults::standard(),
                       platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter());
void setAutoscrollEditorDuringPrompting(
    bool value, platform::Defaults& defaults = platform::Defaults::standard(),
    platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter());
void setScrollEditorToStopPosition(
    bool value, platform::Defaults& defaults = platform::Defaults::standard(),
    platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter());

// Writes the unit's raw string and posts "ScrollingSpeedUnitDidChange" when the unit changed
// (a missing value counts as linesPerSecond).
void setDefaultScrollingSpeedUnit(
    ScrollingSpeedUnit unit, platform::Defaults& defaults = platform::Defaults::standard(),
    platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter());

} // namespace cw
