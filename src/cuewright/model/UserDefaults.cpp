#include "cuewright/model/UserDefaults.h"

#include "base/Log.h"
#include "cuewright/model/ArchivedText.h"

#include <QFontDatabase>
#include <QGuiApplication>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <string>

#include <limits.h>
#include <unistd.h>

namespace cw {

namespace {

using platform::ArchivedColor;
using platform::ArchivedFont;
using platform::Value;

constexpr std::string_view kPreferredFontFamily = "Helvetica Neue";
constexpr double kDefaultFontSize = 34.0;

// PRETTY_HOSTNAME from /etc/machine-info: the name a person gave the machine, quotes removed.
std::string prettyHostName() {
    std::ifstream in("/etc/machine-info");
    std::string line;
    while (std::getline(in, line)) {
        constexpr std::string_view prefix = "PRETTY_HOSTNAME=";
        if (!line.starts_with(prefix)) {
            continue;
        }
        std::string value = line.substr(prefix.size());
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        return value;
    }
    return {};
}

std::string hostName() {
    char buf[HOST_NAME_MAX + 1] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0) {
        return {};
    }
    return buf;
}

template <class E>
E storedChoice(const platform::Defaults& defaults, std::string_view key,
               base::CaseMatch match = base::CaseMatch::ignoreCase) {
    return base::fromRawValue<E>(defaults.stringForKey(key).value_or(""), match);
}

} // namespace

RegistrationHost RegistrationHost::current() {
    RegistrationHost host;
    host.localizedName = prettyHostName();
    if (host.localizedName.empty()) {
        host.localizedName = hostName();
    }
    // The font database needs the GUI application; without one the preferred family is kept.
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr) {
        host.fontFamily = [](std::string_view preferred) {
            const QString family =
                QString::fromUtf8(preferred.data(), static_cast<qsizetype>(preferred.size()));
            if (QFontDatabase::hasFamily(family)) {
                return std::string(preferred);
            }
            return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family().toStdString();
        };
    }
    return host;
}

std::vector<std::pair<std::string_view, Value>> registeredDefaultValues(const RegistrationHost& host) {
    namespace k = settings;
    const std::string family =
        host.fontFamily ? host.fontFamily(kPreferredFontFamily) : std::string(kPreferredFontFamily);
    return {
        {k::isBonjourEnabled, true},
        {k::bonjourName, host.localizedName.empty() ? std::string("Cuewright") : host.localizedName},
        {k::bonjourKey, 19824},
        {k::defaultScrollSpeed, 31.0},
        {k::defaultMinScrollSpeedLPS, 0.1},
        {k::defaultMaxScrollSpeedLPS, 3.0},
        {k::defaultWordCountFactorKey, 0.5f},
        {k::defaultPrompterMarginKey, 0.1f},
        {k::defaultPrompterMarginAlignmentKey, 0.0f},
        {k::defaultBackgroundColor, platform::encodeColor(ArchivedColor::sRGB(0.01, 0.03, 0.08, 1.0))},
        {k::defaultFont, platform::encodeFont(ArchivedFont{family, kDefaultFontSize, false, false})},
        {k::defaultTextColor, platform::encodeColor(ArchivedColor::sRGB(0.95, 0.96, 0.9, 1.0))},
        {k::defaultOverlayType, std::string(base::rawValue(OverlayType::none))},
        {k::defaultOverlayOpacity, 1.0f},
        {k::defaultIndicatorType, std::string(base::rawValue(base::fromMenuIndex<IndicatorType>(1)))},
        {k::defaultIndicatorSize, std::string(base::rawValue(base::fromMenuIndex<IndicatorSize>(1)))},
        {k::defaultIndicatorColor, std::string(base::rawValue(base::fromMenuIndex<IndicatorColor>(2)))},
        {k::defaultIndicatorPosition, 0.65f},
        {k::defaultShowReadingLine, false},
        {k::startupMode, "OpenMostRecentDocument"},
        {k::userInterfaceStyle, "UserInterfaceStyleSystemDefault"},
        {k::manualScrollingDuration, 1.0},
        {k::manualScrollingEnabled, false},
        {k::manualScrollingLineCount, 1},
        {k::autospawnPrompterWindow, true},
        {k::showBookmarkSidebar, false},
        {k::showWelcomeWindow25, true},
        {k::showFeedbackButton, false},
        {k::lockEditorDuringPrompting, true},
        {k::showControlsInTeleprompterWindow, true},
        {k::controlsOpacityInPrompterWindow, 1.0},
        {k::showTimestampInTeleprompterWindow, true},
        {k::showProgressInPrompterWindow, true},
        {k::prompterWindowOpacityNormal, 1.0},
        {k::showControlsInTeleprompterWindowTransparent, false},
        {k::controlsOpacityInPrompterWindowTransparent, 1.0},
        {k::showTimestampInTeleprompterWindowTransparent, true},
        {k::showProgressInPrompterWindowTransparent, true},
        {k::prompterWindowOpacityTransparent, 0.25},
        {k::prompterWindowFrameNormal, ""},
        {k::prompterWindowFrameTransparent, ""},
        {k::prompterWindowPinnedNormal, false},
        {k::prompterWindowPinnedTransparent, false},
        {k::timestampInPrompterShowsRemainingTime, false},
        {k::syncTeleprompterWindowToEditorScrolling, true},
        {k::autoscrollEditorDuringPrompting, false},
        {k::scrollEditorToStopPosition, true},
        {k::performCustomBindingActionOnKeyDown, true},
        {k::listenToShortcutsInBackground, false},
        {k::isPresenterSupportEnabled, true},
        {k::isOneClickPromptingEnabled, true},
        {k::selectedExportFileTypeIndex, 0},
        {k::invertScrollWheelInTeleprompterView, false},
        {k::speedSliderSensitivityFactor, 1.0},
        {k::scrollWheelChangesSpeed, true},
        {k::defaultScrollingSpeedUnit, std::string(base::rawValue(ScrollingSpeedUnit::linesPerSecond))},
        {k::preferredScrollSpeedDisplayMode, std::string(base::rawValue(SpeedDisplayMode::percentage))},
    };
}

void registerUserDefaults(platform::Defaults& defaults, const RegistrationHost& host) {
    platform::Dictionary values;
    for (auto& [key, value] : registeredDefaultValues(host)) {
        values.insert_or_assign(std::string(key), std::move(value));
    }
    defaults.registerDefaults(values);
}

int startupMode(std::string_view raw) {
    return base::menuIndex(base::fromRawValue<StartupMode>(raw, base::CaseMatch::exact));
}

int userInterfaceStyle(std::string_view raw) {
    return base::menuIndex(base::fromRawValue<UserInterfaceStyle>(raw, base::CaseMatch::exact));
}

StartupMode storedStartupMode(const platform::Defaults& defaults) {
    return storedChoice<StartupMode>(defaults, settings::startupMode, base::CaseMatch::exact);
}

UserInterfaceStyle storedUserInterfaceStyle(const platform::Defaults& defaults) {
    return storedChoice<UserInterfaceStyle>(defaults, settings::userInterfaceStyle, base::CaseMatch::exact);
}

ScrollingSpeedUnit defaultScrollingSpeedUnit(const platform::Defaults& defaults) {
    return storedChoice<ScrollingSpeedUnit>(defaults, settings::defaultScrollingSpeedUnit);
}

SpeedDisplayMode preferredScrollSpeedDisplayMode(const platform::Defaults& defaults) {
    return storedChoice<SpeedDisplayMode>(defaults, settings::preferredScrollSpeedDisplayMode);
}

float storedFloat(std::string_view key, float low, float high, const platform::Defaults& defaults) {
    const float stored = defaults.floatForKey(key);
    if (std::isfinite(stored)) {
        return std::clamp(stored, low, high);
    }
    float registered = low;
    for (const auto& [name, value] : registeredDefaultValues(RegistrationHost{})) {
        if (name != key) {
            continue;
        }
        if (const double* real = value.real()) {
            registered = static_cast<float>(*real);
        } else if (const float* single = value.floating()) {
            registered = *single;
        }
    }
    base::log("the settings: " + std::string(key) + " " + QString::number(stored).toStdString() +
              " is no number; using " + QString::number(registered).toStdString());
    return registered;
}

platform::Color defaultBackgroundColor(const platform::Defaults& defaults) {
    return colorFromArchived(
        platform::archivedColor(defaults, settings::defaultBackgroundColor, ArchivedColor::sRGB(0, 0, 0)));
}

platform::Color defaultTextColor(const platform::Defaults& defaults) {
    return colorFromArchived(
        platform::archivedColor(defaults, settings::defaultTextColor, ArchivedColor::sRGB(1, 1, 0)));
}

platform::Font defaultFont(const platform::Defaults& defaults) {
    return fontFromArchived(platform::archivedFont(defaults, settings::defaultFont,
                                                   ArchivedFont{"", kDefaultFontSize, false, false}));
}

void setUserInterfaceStyle(int style, platform::Defaults& defaults, platform::NotificationCenter& center) {
    const auto previous = storedUserInterfaceStyle(defaults);
    const auto next = base::fromMenuIndex<UserInterfaceStyle>(style);
    defaults.set(settings::userInterfaceStyle, std::string(base::rawValue(next)));
    if (next != previous) {
        center.post(std::string(notifications::uiModeDidSwitch));
    }
}

void setBoolPreference(bool value, std::string_view key, platform::Defaults& defaults,
                       platform::NotificationCenter& center) {
    const bool previous = defaults.boolForKey(key);
    defaults.set(key, value);
    if (value != previous) {
        center.post(std::string(notifications::autoScrollSettingDidChange));
    }
}

void setAutoscrollEditorDuringPrompting(bool value, platform::Defaults& defaults,
                                        platform::NotificationCenter& center) {
    setBoolPreference(value, settings::autoscrollEditorDuringPrompting, defaults, center);
}

void setScrollEditorToStopPosition(bool value, platform::Defaults& defaults,
                                   platform::NotificationCenter& center) {
    setBoolPreference(value, settings::scrollEditorToStopPosition, defaults, center);
}

void setDefaultScrollingSpeedUnit(ScrollingSpeedUnit unit, platform::Defaults& defaults,
                                  platform::NotificationCenter& center) {
    const auto previous = defaultScrollingSpeedUnit(defaults);
    defaults.set(settings::defaultScrollingSpeedUnit, std::string(base::rawValue(unit)));
    if (unit != previous) {
        center.post(std::string(notifications::scrollingSpeedUnitDidChange));
    }
}

} // namespace cw
