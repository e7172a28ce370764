// Display identity: name-based UUIDs, identifiers, product names, the Qt provider and the fake.
#include "platform/screens/ScreenProvider.h"

#include "support/FakeScreenProvider.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QUuid>

#include <algorithm>
#include <set>

using platform::ScreenProvider;
using testsupport::FakeScreenProvider;

// Stored display settings are keyed by these: a UUID named by the display's identity (upper case, no
// braces, under a fixed namespace that must never change) and an identifier that follows from it.
TEST(DisplayUUID, IsAStableNameBasedUuidOfTheDisplaysIdentity) {
    const auto uuid = ScreenProvider::displayUUID("Dell Inc.", "DELL U2720Q", "8H3K2L3", "DP-1");
    EXPECT_EQ(uuid, ScreenProvider::displayUUID("Dell Inc.", "DELL U2720Q", "8H3K2L3", "HDMI-A-1"))
        << "a display with a serial keeps its UUID on another connector";
    EXPECT_EQ(uuid, QUuid::createUuidV5(QUuid(QStringLiteral("7218af39-9f50-42ca-9f6c-4e71af14914d")),
                                        QByteArray("Dell Inc.\nDELL U2720Q\n8H3K2L3"))
                        .toString(QUuid::WithoutBraces)
                        .toUpper()
                        .toStdString());
    const std::set<std::string> uuids{
        ScreenProvider::displayUUID("Dell Inc.", "DELL U2720Q", "A", "DP-1"),
        ScreenProvider::displayUUID("Dell Inc.", "DELL U2720Q", "B", "DP-1"),
        ScreenProvider::displayUUID("Dell Inc.", "DELL U2720Q", "", "DP-1"),
        ScreenProvider::displayUUID("Dell Inc.", "DELL U2720Q", "", "DP-2"),
        ScreenProvider::displayUUID("ab", "c", "", "DP-1"),
        ScreenProvider::displayUUID("a", "bc", "", "DP-1"),
    };
    EXPECT_EQ(uuids.size(), 6u);
    EXPECT_EQ(ScreenProvider::displayUUID("", "", "", ""), "") << "nothing to name it by";
    EXPECT_NE(ScreenProvider::displayUUID("", "", "", "Virtual-1"), "");

    const auto id = ScreenProvider::displayIDFromUUIDString(uuid);
    EXPECT_NE(id, 0u);
    EXPECT_EQ(id,
              ScreenProvider::displayIDFromUUIDString(QString::fromStdString(uuid).toLower().toStdString()));
    for (const std::optional<std::string>& none : {std::optional<std::string>(), {""}, {"not a uuid"}}) {
        EXPECT_EQ(ScreenProvider::displayIDFromUUIDString(none), 0u);
    }
    EXPECT_EQ(ScreenProvider::displayIDFromUUIDString("00000000-0000-5000-8000-000000000001"), 1u)
        << "a UUID never maps to the 'no display' identifier";
    EXPECT_EQ(ScreenProvider::productName("DELL U2720Q", "DP-1"), "DELL U2720Q");
    EXPECT_EQ(ScreenProvider::productName("", "DP-1"), "DP-1");
    EXPECT_EQ(ScreenProvider::productName("", ""), "Unknown");
}

TEST(DisplayUUID, AlikeDisplaysGetUuidsOfTheirOwnAndTheFirstKeepsItsOwn) {
    const auto xScreen = FakeScreenProvider::display("screen", "", "", "", 1280, 800);
    const auto other = FakeScreenProvider::display("DP-1", "Acme", "Panel", "S1", 1920, 1080);
    const auto twin = FakeScreenProvider::display("DP-2", "Acme", "Panel", "S1", 1920, 1080);
    platform::ScreenInfo nameless;
    std::vector<platform::ScreenInfo> screens{xScreen, other, xScreen, nameless, twin, xScreen, nameless};
    ScreenProvider::tellApartAlike(screens);
    EXPECT_EQ(screens[0], xScreen);
    EXPECT_EQ(screens[1], other);
    EXPECT_EQ(screens[3], nameless);
    EXPECT_EQ(screens[6], nameless);
    std::set<std::string> uuids;
    for (std::size_t i : {0, 1, 2, 4, 5}) {
        EXPECT_EQ(screens[i].displayID, ScreenProvider::displayIDFromUUIDString(screens[i].displayUUID));
        uuids.insert(screens[i].displayUUID);
    }
    EXPECT_EQ(uuids.size(), 5u);
    auto again =
        std::vector<platform::ScreenInfo>{xScreen, other, xScreen, nameless, twin, xScreen, nameless};
    ScreenProvider::tellApartAlike(again);
    EXPECT_EQ(again, screens) << "the same displays in the same order get the same UUIDs";
}

TEST(FakeScreenProvider, ListsFindsAndForgetsDisplays) {
    auto provider = FakeScreenProvider::threeDisplays();
    int changes = 0;
    provider.setScreensChangedHandler([&] { ++changes; });
    const auto screens = provider.screens();
    ASSERT_EQ(screens.size(), 3u);
    EXPECT_EQ(screens[2].productName, "HDMI-A-1") << "no model: its connector";
    std::set<std::string> uuids;
    for (const auto& s : screens) {
        EXPECT_FALSE(s.displayUUID.empty());
        EXPECT_NE(s.displayID, 0u);
        uuids.insert(s.displayUUID);
    }
    EXPECT_EQ(uuids.size(), 3u);

    const auto monitor = screens[1];
    EXPECT_EQ(provider.screenForDisplayUUID(monitor.displayUUID), monitor);
    EXPECT_FALSE(provider.screenForDisplayUUID(""));
    provider.resize(monitor.displayUUID, 3840, 2160);
    EXPECT_EQ(provider.screenForDisplayUUID(monitor.displayUUID)->size, (platform::ScreenSize{3840, 2160}));
    provider.detach(monitor.displayUUID);
    EXPECT_FALSE(provider.screenForDisplayUUID(monitor.displayUUID)) << "a detached display is not found";
    EXPECT_EQ(ScreenProvider::displayIDFromUUIDString(monitor.displayUUID), monitor.displayID)
        << "its identifier still follows from its UUID";
    provider.attach(monitor);
    EXPECT_EQ(provider.screens().back().displayUUID, monitor.displayUUID);
    EXPECT_EQ(changes, 3);
}

TEST(QtScreenProvider, DescribesEveryQtScreenStably) {
    platform::QtScreenProvider provider;
    const auto screens = provider.screens();
    ASSERT_EQ(screens.size(), static_cast<size_t>(QGuiApplication::screens().size()));
    ASSERT_FALSE(screens.empty()) << "the offscreen platform has one screen";
    EXPECT_EQ(screens, provider.screens());
    const QScreen* primary = QGuiApplication::primaryScreen();
    const auto& first = screens.front();
    EXPECT_EQ(first.connector, primary->name().toStdString());
    EXPECT_EQ(first.displayUUID, ScreenProvider::displayUUID(first.manufacturer, first.model,
                                                             first.serialNumber, first.connector));
    EXPECT_EQ(first.displayID, ScreenProvider::displayIDFromUUIDString(first.displayUUID));
    EXPECT_FALSE(first.productName.empty());
    ASSERT_TRUE(first.size);
    EXPECT_EQ(first.size->width, primary->size().width());
    EXPECT_EQ(first.scale, primary->devicePixelRatio());
    if (!first.displayUUID.empty()) {
        EXPECT_EQ(provider.screenForDisplayUUID(first.displayUUID), first);
    }
}

namespace {

bool xrandr(const QStringList& arguments) {
    QProcess tool;
    tool.start(QStringLiteral("xrandr"), arguments);
    return tool.waitForFinished(10000) && tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
}

std::vector<std::string> productNames(const platform::QtScreenProvider& provider) {
    std::vector<std::string> names;
    for (const auto& screen : provider.screens()) {
        names.push_back(screen.productName);
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

// RandR monitors reporting no model (an X server's monitors, as a split screen's) are named by
// their monitor names, and keep the UUIDs their names give them, which key their settings.
TEST(QtScreenProvider, NamesDisplaysWithoutAModelByTheirRandRNames) {
    if (QGuiApplication::platformName() != QStringLiteral("xcb") || !xrandr({"--version"})) {
        GTEST_SKIP() << "needs an X server with RandR monitors and xrandr";
    }
    platform::QtScreenProvider provider;
    ASSERT_TRUE(xrandr({"--setmonitor", "LEFT", "1280/338x1080/285+0+0", "screen"}));
    ASSERT_TRUE(xrandr({"--setmonitor", "RIGHT", "1280/338x1080/285+1280+0", "none"}));
    const std::vector<std::string> expected{"LEFT", "RIGHT"};
    QDeadlineTimer deadline(30000);
    while (productNames(provider) != expected && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    EXPECT_EQ(productNames(provider), expected);
    for (const auto& screen : provider.screens()) {
        EXPECT_EQ(screen.displayUUID, ScreenProvider::displayUUID("", "", "", screen.productName));
    }
    xrandr({"--delmonitor", "RIGHT"});
    xrandr({"--delmonitor", "LEFT"});
}
