// The settings registry, its readers and fallbacks, the setters' notifications and new-script
// properties from the settings.
#include "cuewright/model/ScriptProperties.h"
#include "cuewright/model/SpeedProperties.h"
#include "cuewright/model/UserDefaults.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

using namespace std::chrono_literals;
using namespace cw;
using platform::ArchivedColor;
using platform::ArchivedFont;
using platform::Value;

namespace {

class Settings : public ::testing::Test {
protected:
    Settings()
        : defaults(platform::Defaults::Options{dir / "defaults.json", 1h, {}}) {
        center.addObserver("", [this](const platform::Notification& n) { posted.push_back(n.name); });
    }

    RegistrationHost host() const {
        RegistrationHost h;
        h.localizedName = "Studio Mac";
        return h;
    }

    testsupport::TempDir dir;
    platform::Defaults defaults;
    platform::NotificationCenter center;
    std::vector<std::string> posted;
};

} // namespace

TEST_F(Settings, TheRegistryHoldsFiftySevenKeysInOrderWithTheirDefaults) {
    const std::vector<std::pair<std::string, Value>> expected{
        {"isBonjourEnabled", true},
        {"bonjourName", "Studio Mac"},
        {"bonjourKey", 19824},
        {"defaultScrollSpeed", 31.0},
        {"defaultMinScrollSpeedLPS", 0.1},
        {"defaultMaxScrollSpeedLPS", 3.0},
        {"defaultWordCountFactorKey", 0.5f},
        {"defaultPrompterMarginKey", 0.1f},
        {"defaultPrompterMarginAlignmentKey", 0.0f},
        {"defaultBackgroundColor", platform::encodeColor(ArchivedColor::sRGB(0.01, 0.03, 0.08, 1.0))},
        {"defaultFont", platform::encodeFont(ArchivedFont{"Helvetica Neue", 34.0, false, false})},
        {"defaultTextColor", platform::encodeColor(ArchivedColor::sRGB(0.95, 0.96, 0.9, 1.0))},
        {"defaultOverlayType", "none"},
        {"defaultOverlayOpacity", 1.0f},
        {"defaultIndicatorType", "arrow"},
        {"defaultIndicatorSize", "medium"},
        {"defaultIndicatorColor", "red"},
        {"defaultIndicatorPosition", 0.65f},
        {"defaultShowReadingLine", false},
        {"StartupMode", "OpenMostRecentDocument"},
        {"userInterfaceStyle", "UserInterfaceStyleSystemDefault"},
        {"manualScrollingDuration", 1.0},
        {"manualScrollingEnabled", false},
        {"manualScrollingLineCount", 1},
        {"autospawnPrompterWindow", true},
        {"showBookmarkSidebar", false},
        {"showWelcomeWindow25", true},
        {"showFeedbackButton", false},
        {"lockEditorDuringPrompting", true},
        {"showControlsInTeleprompterWindow", true},
        {"controlsOpacityInPrompterWindow", 1.0},
        {"showTimestampInTeleprompterWindow", true},
        {"showProgressInPrompterWindow", true},
        {"prompterWindowOpacityNormal", 1.0},
        {"showControlsInTeleprompterWindowTransparent", false},
        {"controlsOpacityInPrompterWindowTransparent", 1.0},
        {"showTimestampInTeleprompterWindowTransparent", true},
        {"showProgressInPrompterWindowTransparent", true},
        {"prompterWindowOpacityTransparent", 0.25},
        {"prompterWindowFrameNormal", ""},
        {"prompterWindowFrameTransparent", ""},
        {"prompterWindowPinnedNormal", false},
        {"prompterWindowPinnedTransparent", false},
        {"timestampInPrompterShowsRemainingTime", false},
        {"syncTeleprompterWindowToEditorScrolling", true},
        {"autoscrollEditorDuringPrompting", false},
        {"scrollEditorToStopPosition", true},
        {"PerformCustomBindingActionOnKeyDown", true},
        {"listenToShortcutsInBackground", false},
        {"isPresenterSupportEnabled", true},
        {"isOneClickPromptingEnabled", true},
        {"selectedExportFileTypeIndex", 0},
        {"invertScrollWheelInTeleprompterView", false},
        {"speedSliderSensitivityFactor", 1.0},
        {"scrollWheelChangesSpeed", true},
        {"defaulScrollingSpeedUnit", "linespersecond"},
        {"preferredScrollSpeedDisplayMode", "percentage"},
    };
    ASSERT_EQ(expected.size(), 57u);
    const auto registered = registeredDefaultValues(host());
    ASSERT_EQ(registered.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(registered[i].first, expected[i].first) << i;
        EXPECT_EQ(registered[i].second, expected[i].second) << expected[i].first;
    }

    registerUserDefaults(defaults, host());
    for (const auto& [key, value] : expected) {
        EXPECT_EQ(defaults.object(key), value) << key;
        EXPECT_FALSE(defaults.persistentObject(key)) << "registered, not stored: " << key;
    }
    EXPECT_EQ(defaults.doubleForKey("defaultScrollSpeed"), 31.0);
    EXPECT_EQ(defaults.object("defaultScrollSpeed")->type(), Value::Type::real);
    EXPECT_EQ(defaults.integerForKey("launchCount"), 0) << "used without a default";
    EXPECT_FALSE(defaults.object("CustomKeyBindings"));
}

TEST_F(Settings, TheHostNameAndFontFamilyComeFromTheHost) {
    RegistrationHost nameless;
    nameless.fontFamily = [](std::string_view preferred) {
        EXPECT_EQ(preferred, "Helvetica Neue");
        return std::string("DejaVu Sans");
    };
    registerUserDefaults(defaults, nameless);
    EXPECT_EQ(defaults.stringForKey("bonjourName"), "Cuewright");
    EXPECT_EQ(defaultFont(defaults), (platform::Font{"DejaVu Sans", 34.0, false, false}));
}

TEST_F(Settings, ColourAndFontReadersFallBack) {
    EXPECT_EQ(defaultBackgroundColor(defaults), platform::Color::black()) << "black when absent";
    EXPECT_EQ(defaultTextColor(defaults), platform::Color::yellow()) << "yellow when absent";
    EXPECT_EQ(defaultFont(defaults), platform::Font::systemFont(34.0)) << "the system font of 34 pt";

    registerUserDefaults(defaults, host());
    EXPECT_EQ(defaultTextColor(defaults), platform::Color(0.95, 0.96, 0.9, 1.0));
    defaults.set("defaultTextColor", "red");
    EXPECT_EQ(defaultTextColor(defaults), platform::Color::yellow()) << "a string where data belongs";
    defaults.set("defaultBackgroundColor", platform::Data{0xde, 0xad});
    EXPECT_EQ(defaultBackgroundColor(defaults), platform::Color::black()) << "data that does not decode";
}

TEST_F(Settings, ChoiceReadersFallBack) {
    EXPECT_EQ(storedStartupMode(defaults), StartupMode::createNewDocument);
    EXPECT_EQ(storedUserInterfaceStyle(defaults), UserInterfaceStyle::systemDefault);
    EXPECT_EQ(defaultScrollingSpeedUnit(defaults), ScrollingSpeedUnit::linesPerSecond);
    EXPECT_EQ(preferredScrollSpeedDisplayMode(defaults), SpeedDisplayMode::percentage);
    registerUserDefaults(defaults, host());
    EXPECT_EQ(storedStartupMode(defaults), StartupMode::openMostRecentDocument);
    defaults.set("StartupMode", "Whatever");
    EXPECT_EQ(storedStartupMode(defaults), StartupMode::createNewDocument);
    defaults.set("userInterfaceStyle", "Dark");
    EXPECT_EQ(storedUserInterfaceStyle(defaults), UserInterfaceStyle::systemDefault);
    defaults.set("preferredScrollSpeedDisplayMode", "");
    EXPECT_EQ(preferredScrollSpeedDisplayMode(defaults), SpeedDisplayMode::percentage);
    defaults.set("preferredScrollSpeedDisplayMode", "LinesPerMinute");
    EXPECT_EQ(preferredScrollSpeedDisplayMode(defaults), SpeedDisplayMode::linesPerMinute);
}

TEST_F(Settings, TheStyleSetterPostsOnlyOnARealChange) {
    registerUserDefaults(defaults, host());
    setUserInterfaceStyle(0, defaults, center);
    EXPECT_TRUE(posted.empty()) << "system default was already in effect";
    EXPECT_EQ(defaults.stringForKey("userInterfaceStyle"), "UserInterfaceStyleSystemDefault");
    setUserInterfaceStyle(2, defaults, center);
    EXPECT_EQ(posted, std::vector<std::string>{"UIModeDidSwitch"});
    EXPECT_EQ(defaults.stringForKey("userInterfaceStyle"), "UserInterfaceStyleDark");
    setUserInterfaceStyle(2, defaults, center);
    EXPECT_EQ(posted.size(), 1u);
    setUserInterfaceStyle(1, defaults, center);
    EXPECT_EQ(posted.size(), 2u);
    EXPECT_EQ(defaults.stringForKey("userInterfaceStyle"), "UserInterfaceStyleLight");
}

TEST_F(Settings, TheStyleSetterCountsAMissingValueAsTheSystemDefault) {
    setUserInterfaceStyle(0, defaults, center);
    EXPECT_TRUE(posted.empty());
    EXPECT_EQ(defaults.stringForKey("userInterfaceStyle"), "UserInterfaceStyleSystemDefault");
}

TEST_F(Settings, TheBoolSetterPostsOnlyOnARealChange) {
    registerUserDefaults(defaults, host());
    setAutoscrollEditorDuringPrompting(false, defaults, center);
    setScrollEditorToStopPosition(true, defaults, center);
    EXPECT_TRUE(posted.empty()) << "both equal their registered defaults";
    setAutoscrollEditorDuringPrompting(true, defaults, center);
    EXPECT_EQ(posted, std::vector<std::string>{"AutoScrollSettingDidChange"});
    EXPECT_TRUE(defaults.boolForKey("autoscrollEditorDuringPrompting"));
    setAutoscrollEditorDuringPrompting(true, defaults, center);
    setScrollEditorToStopPosition(false, defaults, center);
    EXPECT_EQ(posted.size(), 2u);
    EXPECT_FALSE(defaults.boolForKey("scrollEditorToStopPosition"));
}

TEST_F(Settings, TheSpeedUnitSetterPostsOnlyOnARealChange) {
    setDefaultScrollingSpeedUnit(ScrollingSpeedUnit::linesPerSecond, defaults, center);
    EXPECT_TRUE(posted.empty()) << "a missing unit counts as lines per second";
    EXPECT_EQ(defaults.stringForKey("defaulScrollingSpeedUnit"), "linespersecond") << "written all the same";
    setDefaultScrollingSpeedUnit(ScrollingSpeedUnit::wordsPerMinute, defaults, center);
    EXPECT_EQ(posted, std::vector<std::string>{"ScrollingSpeedUnitDidChange"});
    EXPECT_EQ(defaults.stringForKey("defaulScrollingSpeedUnit"), "wordsperminute");
    setDefaultScrollingSpeedUnit(ScrollingSpeedUnit::wordsPerMinute, defaults, center);
    EXPECT_EQ(posted.size(), 1u);
    defaults.set("defaulScrollingSpeedUnit", "WORDSPERMINUTE");
    setDefaultScrollingSpeedUnit(ScrollingSpeedUnit::wordsPerMinute, defaults, center);
    EXPECT_EQ(posted.size(), 1u) << "a stored unit in capitals is the same unit";
}

TEST_F(Settings, NewScriptPropertiesComeFromTheRegisteredDefaults) {
    registerUserDefaults(defaults, host());
    const auto p = DocumentScriptProperties::fromUserDefaults(defaults);
    EXPECT_EQ(p.backgroundColor, platform::Color(0.01, 0.03, 0.08, 1.0));
    EXPECT_FALSE(p.backgroundImage);
    EXPECT_FALSE(p.showBackgroundImage);
    EXPECT_EQ(p.backgroundImageOpacity, 1.0f);
    EXPECT_FALSE(p.flipHorizontal);
    EXPECT_FALSE(p.flipVertical);
    EXPECT_EQ(p.prompterMargin, 0.1f);
    EXPECT_EQ(p.prompterMarginAlignment, 0.0f);
    EXPECT_EQ(p.prompterWordCountFactor, 0.5f);
    EXPECT_EQ(p.indicatorType, IndicatorType::arrow);
    EXPECT_EQ(p.indicatorPosition, 0.65f);
    EXPECT_EQ(p.indicatorSize, IndicatorSize::medium);
    EXPECT_EQ(p.indicatorColor, IndicatorColor::red);
    EXPECT_FALSE(p.showReadingLine);
    EXPECT_EQ(p.overlayType, OverlayType::none);
    EXPECT_EQ(p.overlayOpacity, 1.0f);
    EXPECT_EQ(p.textAlignment, TextAlignment::center);

    const auto s = DocumentSpeedProperties::fromUserDefaults(defaults);
    EXPECT_EQ(s, (DocumentSpeedProperties{31.0, 0.1, 3.0}));
    EXPECT_DOUBLE_EQ(s.linesPerSecond(), 0.1 + 0.31 * 2.9);
}

TEST_F(Settings, NewScriptPropertiesFallBackOnOddStoredValues) {
    registerUserDefaults(defaults, host());
    defaults.set("defaultIndicatorPosition", 1.4);
    defaults.set("defaultIndicatorType", 3); // a number, not a string
    defaults.set("defaultIndicatorSize", "HUGE");
    defaults.set("defaultIndicatorColor", "Blue");
    defaults.set("defaultOverlayType", "BlackOut3Lines");
    defaults.set("defaultBackgroundColor", "black");
    auto p = DocumentScriptProperties::fromUserDefaults(defaults);
    EXPECT_EQ(p.indicatorPosition, 1.0f);
    EXPECT_EQ(p.indicatorType, IndicatorType::none);
    EXPECT_EQ(p.indicatorSize, IndicatorSize::medium);
    EXPECT_EQ(p.indicatorColor, IndicatorColor::blue);
    EXPECT_EQ(p.overlayType, OverlayType::blackOut3Lines);
    EXPECT_EQ(p.backgroundColor, platform::Color::black());

    defaults.set("defaultIndicatorPosition", -0.3f);
    EXPECT_EQ(DocumentScriptProperties::fromUserDefaults(defaults).indicatorPosition, 0.0f);
    for (const auto& [stored, held] : {std::pair{1.0, 0.8f}, {7.5, 0.8f}, {0.81, 0.8f}, {-2.0, 0.0f}}) {
        defaults.set("defaultPrompterMarginKey", stored);
        EXPECT_EQ(DocumentScriptProperties::fromUserDefaults(defaults).prompterMargin, held)
            << stored << ": the margin control's range, where the text keeps a column";
    }
    defaults.set("defaultIndicatorPosition", std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(DocumentScriptProperties::fromUserDefaults(defaults).indicatorPosition, 0.65f);
}

TEST_F(Settings, NewScriptPropertiesWithNothingRegistered) {
    const auto p = DocumentScriptProperties::fromUserDefaults(defaults);
    EXPECT_EQ(p.indicatorType, IndicatorType::none);
    EXPECT_EQ(p.indicatorSize, IndicatorSize::medium);
    EXPECT_EQ(p.indicatorColor, IndicatorColor::red);
    EXPECT_EQ(p.overlayType, OverlayType::none);
    EXPECT_EQ(p.prompterMargin, 0.0f);
    EXPECT_EQ(p.indicatorPosition, 0.0f);
    // Absent speeds read as 0: a range without width, which falls back to the defaults' range.
    EXPECT_EQ(DocumentSpeedProperties::fromUserDefaults(defaults), (DocumentSpeedProperties{0, 0.1, 3.0}));
}

TEST_F(Settings, FloatSettingsKeepTheirExactValueThroughTheFile) {
    const auto file = dir / "defaults.json";
    defaults.set("defaultPrompterMarginKey", 0.1f);
    defaults.set("defaultScrollSpeed", 31.0);
    ASSERT_TRUE(defaults.synchronize());
    platform::Defaults reread(platform::Defaults::Options{file, 1h, {}});
    EXPECT_EQ(reread.floatForKey("defaultPrompterMarginKey"), 0.1f);
    EXPECT_EQ(reread.doubleForKey("defaultPrompterMarginKey"), static_cast<double>(0.1f));
    EXPECT_EQ(reread.object("defaultScrollSpeed"), Value(31.0));
}
