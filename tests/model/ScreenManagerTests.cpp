// The screen manager: one description per attached display, stored settings, the delegate.
#include "cuewright/model/ScreenManager.h"

#include "ScreenTestSupport.h"
#include "base/Log.h"
#include "cuewright/model/ScreenDatabase.h"
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/model/UserDefaults.h"
#include "support/FakeScreenProvider.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace std::chrono_literals;
using cw::ScreenDatabase;
using cw::ScreenDescription;
using cw::ScreenManager;
using cw::TextAlignment;
using testsupport::FakeScreenProvider;
namespace fs = std::filesystem;
namespace settings = cw::settings;

namespace {

class RecordingDelegate : public cw::ScreenManagerDelegate {
public:
    void screenManagerDidUpdateScreen(const ScreenDescription& screen) override { told.push_back(screen); }
    std::vector<ScreenDescription> told;
};

class ScreenManagerTest : public ::testing::Test {
protected:
    ScreenManagerTest()
        : defaults(platform::Defaults::Options{support.dir() / "defaults.json", 1h, {}}) {
        cw::RegistrationHost host;
        host.localizedName = "Studio";
        cw::registerUserDefaults(defaults, host);
        // The normal preset differs from the transparent one, so the test sees which is read.
        defaults.set(settings::showControlsInTeleprompterWindow, false);
        defaults.set(settings::showTimestampInTeleprompterWindow, true);
        defaults.set(settings::showProgressInPrompterWindow, false);
        defaults.set(settings::showControlsInTeleprompterWindowTransparent, true);
        defaults.set(settings::showTimestampInTeleprompterWindowTransparent, false);
        defaults.set(settings::showProgressInPrompterWindowTransparent, true);
        manager.setDelegate(delegate);
        previousSink = base::setLogSink([this](std::string_view line) { logged.emplace_back(line); });
    }
    ~ScreenManagerTest() override { base::setLogSink(previousSink); }

    ScreenManager newManager() { return ScreenManager(provider, defaults); }
    const ScreenDescription& screen(const std::string& uuid) const {
        return manager.availableScreens().at(uuid);
    }

    screentests::ScopedSupportFolder support;
    platform::Defaults defaults;
    std::shared_ptr<FakeScreenProvider> provider =
        std::make_shared<FakeScreenProvider>(FakeScreenProvider::threeDisplays());
    std::string laptop = provider->screens()[0].displayUUID;
    std::string dell = provider->screens()[1].displayUUID;
    std::string nameless = provider->screens()[2].displayUUID;
    ScreenManager manager{provider, defaults};
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
    std::vector<std::string> logged;
    base::LogSink previousSink;
};

} // namespace

// Displays without a size are left out.
TEST_F(ScreenManagerTest, NewDisplaysGetTheNormalPresetsShowSettingsWithoutAnyFile) {
    platform::ScreenInfo sizeless = FakeScreenProvider::display("DP-9", "Acme", "Wall", "1", 0, 0);
    sizeless.size.reset();
    provider->attach(sizeless);
    manager.refreshAvailableScreens();
    ASSERT_EQ(manager.availableScreens().size(), 3u);
    for (const auto& [uuid, s] : manager.availableScreens()) {
        EXPECT_EQ(s.displayUUID, uuid);
        EXPECT_FALSE(s.flipH);
        EXPECT_FALSE(s.flipV);
        EXPECT_EQ(s.textAlignment, TextAlignment::center);
        EXPECT_FALSE(s.isActive);
        EXPECT_EQ(s.nickname, std::nullopt);
        EXPECT_FALSE(s.showControls);
        EXPECT_TRUE(s.showTimestamp);
        EXPECT_FALSE(s.showProgress);
    }
    EXPECT_EQ(screen(laptop).name, "NE135FBM-N41");
    EXPECT_EQ(screen(dell).resolutionWidth, 2560);
    EXPECT_EQ(screen(dell).resolutionHeight, 1440);
    EXPECT_EQ(screen(nameless).name, "HDMI-A-1");
    // Looking settings up never makes the file.
    EXPECT_FALSE(fs::exists(support.databasePath()));
    EXPECT_TRUE(logged.empty());
}

TEST_F(ScreenManagerTest, UpdateStoresSavesAndTellsTheDelegate) {
    manager.refreshAvailableScreens();
    ScreenDescription changed = screen(dell);
    changed.nickname = "Confidence monitor";
    changed.flipH = true;
    changed.showControls = true;
    changed.textAlignment = TextAlignment::right;
    changed.isActive = true;
    manager.update(changed);

    EXPECT_EQ(screen(dell), changed);
    ASSERT_EQ(delegate->told.size(), 1u);
    EXPECT_EQ(delegate->told[0], changed);
    EXPECT_TRUE(logged.empty());

    // A new project's manager gets the stored settings back, inactive.
    ScreenManager other = newManager();
    other.refreshAvailableScreens();
    ScreenDescription expected = changed;
    expected.isActive = false;
    EXPECT_EQ(other.availableScreens().at(dell), expected);
    EXPECT_FALSE(other.availableScreens().at(laptop).showControls); // untouched: defaults
}

// Settings stored by another project do not override what this manager holds; a resize
// changes only the resolution.
TEST_F(ScreenManagerTest, AKnownDisplayKeepsItsStateAcrossARefresh) {
    manager.refreshAvailableScreens();
    ScreenDescription active = screen(dell);
    active.isActive = true;
    active.flipV = true;
    active.nickname = "Left";
    manager.update(active);
    ScreenDescription elsewhere = active;
    elsewhere.flipV = false;
    elsewhere.nickname = "Other";
    ScreenDatabase(ScreenDatabase::openForUpdate()).save(elsewhere);

    manager.refreshAvailableScreens();
    EXPECT_EQ(screen(dell), active);
    provider->resize(dell, 3840, 2160);
    manager.refreshAvailableScreens();
    ScreenDescription before = active;
    active.resolutionWidth = 3840;
    active.resolutionHeight = 2160;
    EXPECT_EQ(screen(dell), active);

    // A window holding the description from before the change writes it back with the
    // display's present size, refreshed or not.
    for (const auto& [width, height] : {std::pair{3840.0, 2160.0}, std::pair{1920.0, 1080.0}}) {
        provider->resize(dell, width, height);
        before.isActive = false;
        manager.update(before);
        EXPECT_EQ(screen(dell).resolutionWidth, width);
        EXPECT_EQ(screen(dell).resolutionHeight, height);
        EXPECT_EQ(delegate->told.back().resolutionWidth, width);
    }
}

// A display switched on stays on through a loose cable (its prompter waits for it), and one
// switched off while away comes back off; a new run starts every display off.
TEST_F(ScreenManagerTest, DetachedDisplaysDisappearAndComeBackAsTheyWereLeft) {
    manager.refreshAvailableScreens();
    ScreenDescription changed = screen(dell);
    changed.flipV = true;
    changed.isActive = true;
    manager.update(changed);

    const platform::ScreenInfo dellInfo = provider->screens()[1];
    for (const bool switchedOffWhileAway : {false, true}) {
        SCOPED_TRACE(switchedOffWhileAway);
        provider->detach(dell);
        manager.refreshAvailableScreens();
        EXPECT_EQ(manager.availableScreens().count(dell), 0u);
        EXPECT_EQ(manager.screenForDisplayUUID(changed), std::nullopt);
        if (switchedOffWhileAway) {
            changed.isActive = false;
            manager.update(changed);
            EXPECT_EQ(manager.availableScreens().count(dell), 0u) << "a detached display is listed";
        }
        provider->attach(dellInfo);
        manager.refreshAvailableScreens();
        EXPECT_TRUE(screen(dell).flipV);
        EXPECT_EQ(screen(dell).isActive, !switchedOffWhileAway);
    }
    ScreenManager nextRun = newManager();
    nextRun.refreshAvailableScreens();
    EXPECT_TRUE(nextRun.availableScreens().at(dell).flipV);
    EXPECT_FALSE(nextRun.availableScreens().at(dell).isActive);
}

TEST_F(ScreenManagerTest, TheDelegateIsToldEvenWhenSavingFails) {
    manager.refreshAvailableScreens();
    fs::create_directories(support.databasePath()); // a folder where the file should be
    ScreenDescription changed = screen(nameless);
    changed.flipH = true;
    manager.update(changed);

    ASSERT_EQ(delegate->told.size(), 1u);
    EXPECT_EQ(delegate->told[0], changed);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].rfind("error while updating screen description: ", 0), 0u) << logged[0];
    // The change lives on in memory across a refresh.
    manager.refreshAvailableScreens();
    EXPECT_TRUE(screen(nameless).flipH);
}

TEST_F(ScreenManagerTest, TheDelegateIsHeldWeakly) {
    std::weak_ptr<RecordingDelegate> watch = delegate;
    delegate.reset();
    EXPECT_TRUE(watch.expired());
    manager.refreshAvailableScreens();
    manager.update(screen(laptop)); // no delegate left: nothing to tell
    EXPECT_EQ(manager.availableScreens().size(), 3u);
}

TEST_F(ScreenManagerTest, UpdateAcceptsADescriptionHeldInItsOwnMap) {
    struct Refresher : cw::ScreenManagerDelegate {
        ScreenManager* manager = nullptr;
        void screenManagerDidUpdateScreen(const ScreenDescription&) override {
            manager->refreshAvailableScreens();
        }
    };
    auto refresher = std::make_shared<Refresher>();
    refresher->manager = &manager;
    manager.setDelegate(refresher);
    manager.refreshAvailableScreens();
    manager.update(manager.availableScreens().at(dell));
    EXPECT_EQ(manager.availableScreens().size(), 3u);
}

TEST_F(ScreenManagerTest, ScreenForDisplayUUIDFindsAttachedDisplaysOnly) {
    manager.refreshAvailableScreens();
    const std::optional<platform::ScreenInfo> found = manager.screenForDisplayUUID(screen(dell));
    ASSERT_TRUE(found);
    EXPECT_EQ(found->connector, "DP-1");

    ScreenDescription unknown;
    unknown.displayUUID = "00000000-0000-0000-0000-000000000001";
    EXPECT_EQ(manager.screenForDisplayUUID(unknown), std::nullopt);
    unknown.displayUUID = dell;
    std::transform(unknown.displayUUID.begin(), unknown.displayUUID.end(), unknown.displayUUID.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    EXPECT_EQ(manager.screenForDisplayUUID(unknown), std::nullopt);
}
