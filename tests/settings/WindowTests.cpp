// The settings window's frame and panes, the shortcuts page and placement, and screenshots.
#include "settings/SettingsTestSupport.h"

#include "cuewright/controls/LinkLabel.h"
#include "cuewright/settings/DownloadiOSAppWindowController.h"
#include "cuewright/settings/GamepadLayoutWindowController.h"
#include "cuewright/settings/HelpActions.h"
#include "cuewright/settings/HelpLinks.h"
#include "cuewright/settings/KeyboardShortcutsWindowController.h"
#include "cuewright/settings/KeysSettingsController.h"
#include "cuewright/settings/SettingsPane.h"
#include "cuewright/settings/SettingsPanelController.h"
#include "cuewright/settings/UrlOpener.h"
#include "platform/keys/KeyCodes.h"
#include "platform/ui/Appearance.h"
#include "platform/ui/WindowAppearanceUpdatable.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <QTextBrowser>

namespace {

using namespace cw;
using settingstest::Store;
using Pane = SettingsPanelController::Pane;
namespace mod = platform::modifier;

TEST(SettingsWindow, FrameKeepsItsTopEdgeAndTakesTheContentsWidth) {
    struct Case {
        QRect frame;
        int currentHeight;
        QSize content;
        QRect expected;
    };
    const Case cases[] = {
        {{100, 200, 580, 600}, 540, {580, 300}, {100, 200, 580, 360}}, // tall to short: bottom moves up
        {{100, 200, 580, 360}, 300, {580, 540}, {100, 200, 580, 600}},
        {{-50, 0, 900, 400}, 340, {580, 340}, {-50, 0, 580, 400}}, // a width the user changed snaps back
    };
    for (const Case& c : cases)
        EXPECT_EQ(SettingsPanelController::frameForContent(c.frame, c.currentHeight, c.content), c.expected);
}

TEST(SettingsWindow, PanesAreKeptAndTheWindowFollowsTheirSize) {
    Store s;
    SettingsPanelController controller("Studio Mac", s.defaults, s.center);
    controller.showWindow();
    EXPECT_EQ(controller.currentPane(), Pane::general);
    EXPECT_TRUE(controller.toolbarItem(Pane::general)->isChecked());
    controller.setFrame(QRect(QPoint(40, 30), controller.frame().size()));
    const QRect generalFrame = controller.frame();
    SettingsPane* general = controller.loadedPane(Pane::general);

    controller.toolbarItem(Pane::network)->trigger();
    const QRect networkFrame = controller.frame();
    EXPECT_EQ(networkFrame.top(), generalFrame.top());
    EXPECT_LT(networkFrame.height(), generalFrame.height());
    EXPECT_EQ(controller.window()->windowTitle(), "Remote control");

    controller.showPane(Pane::general);
    EXPECT_EQ(controller.loadedPane(Pane::general), general);
    EXPECT_EQ(controller.frame(), generalFrame);
    // Showing again neither moves the window nor adds an appearance observation.
    controller.showWindow();
    EXPECT_EQ(controller.frame(), generalFrame);
    s.posted.clear();
    controller.close();
    EXPECT_TRUE(s.posted.empty()); // the General pane stored nothing that changed
}

TEST(SettingsWindow, CtrlWClosesItUnlessAWellIsRecording) {
    Store s;
    SettingsPanelController controller("Studio Mac", s.defaults, s.center);
    controller.showWindow();
    controller.showPane(Pane::keys);
    QApplication::setActiveWindow(controller.window());
    KeyWellButton* well =
        static_cast<KeysSettingsController&>(controller.pane(Pane::keys)).controls().wells[0];
    well->setFocus();
    well->setChecked(true);
    QTest::keyClick(well, Qt::Key_W, Qt::ControlModifier);
    EXPECT_TRUE(controller.window()->isVisible());
    EXPECT_EQ(well->key(), (KeyBindings::Key{platform::keycode::w, mod::command}));
    QTest::keyClick(well, Qt::Key_W, Qt::ControlModifier);
    EXPECT_FALSE(controller.window()->isVisible());
}

TEST(ShortcutsPage, PlaceholdersTakeTheCurrentKeys) {
    QFile file(":/KeyboardShortcuts.html");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString page = QString::fromUtf8(file.readAll());
    KeyBindings bindings;
    bindings.playPause = KeyBindings::Key{platform::keycode::k, mod::command | mod::shift | 0x100};
    const QString filled = KeyboardShortcutsWindowController::filledPage(page, bindings);
    EXPECT_FALSE(filled.contains(QRegularExpression("\\$[a-z0-9-]+\\$")));
    EXPECT_TRUE(filled.contains("Ctrl+Shift+K"));
    EXPECT_EQ(filled.count("Not assigned"), 8);
    // The fixed keys are named as every key is, and no key wears the other platform's glyphs.
    for (const char* name : {">Space<", ">Backspace<", ">Up &nbsp;Down<", ">PgUp &nbsp;PgDown<", ">F5<"})
        EXPECT_TRUE(filled.contains(QString::fromUtf8(name))) << name;
    EXPECT_FALSE(filled.contains(QRegularExpression(QString::fromUtf8("[⌘⌥⇧⌃⌫␣⇞⇟⏎⎋]"))));

    const QString tricky = KeyboardShortcutsWindowController::filledPage("$play$ $PLAY$ $play$", bindings);
    EXPECT_EQ(tricky, "Ctrl+Shift+K $PLAY$ Ctrl+Shift+K");
}

TEST(ShortcutsPage, PlacementStaysInsideTheVisibleFrame) {
    using W = KeyboardShortcutsWindowController;
    struct Case {
        QRect visible;
        QRect expected;
    };
    const Case cases[] = {
        {{0, 0, 1440, 900}, {410, 64, 620, 700}},
        {{0, 0, 1440, 700}, {410, 64, 620, 628}},
        {{0, 0, 1440, 400}, {410, 0, 620, 400}},
        {{0, 25, 1440, 875}, {410, 89, 620, 700}},    // below a top panel
        {{1920, 0, 500, 1000}, {1920, 64, 492, 700}}, // a narrow screen to the right
        {{100, 0, 300, 800}, {100, 64, 400, 700}},    // narrower than the minimum: from its left edge
    };
    for (const Case& c : cases)
        EXPECT_EQ(W::placement(c.visible, W::topOffset, W::width, W::height, W::minWidth, W::minHeight),
                  c.expected)
            << c.visible.x() << "," << c.visible.y() << " " << c.visible.width() << "x" << c.visible.height();
}

struct RecordingOpener : UrlOpener {
    std::vector<QUrl> opened;
    void open(const QUrl& url, Done done) override {
        opened.push_back(url);
        done(true);
    }
};

TEST(CompanionWindow, ItsLinkReachesTheApplicationWithoutATarget) {
    Store s;
    auto opener = std::make_shared<RecordingOpener>();
    const auto previous = setUrlOpener(opener);
    HelpActions help(s.defaults);
    platform::setApplicationResponder(&help);
    help.performAction("showDownloadiOSAppWindow:", nullptr);
    controls::LinkLabel* link = help.companionAppWindow()->linkLabel();
    QTest::mouseClick(link, Qt::LeftButton, {}, link->rect().center());
    platform::setApplicationResponder(nullptr);
    setUrlOpener(previous);
    ASSERT_EQ(opener->opened.size(), 1u);
    EXPECT_EQ(opener->opened[0], *helpPageUrl(HelpPage::companionApp));
}

// The Keys pane and the shortcuts window also go to the application's pictures: they show keys
// with Ctrl, Alt, Shift and Super as Linux names them.
TEST(Screenshots, EverySettingsPaneAndTheShortcutsWindowInLightAndDark) {
    const QString folder = settingstest::screenshotFolder();
    const QString appFolder = settingstest::screenshotFolder("app");
    const std::pair<platform::AppearanceStyle, const char*> styles[] = {
        {platform::AppearanceStyle::light, "light"}, {platform::AppearanceStyle::dark, "dark"}};
    const std::pair<Pane, const char*> panes[] = {{Pane::general, "general"},
                                                  {Pane::script, "script"},
                                                  {Pane::network, "remote-control"},
                                                  {Pane::keys, "keys"},
                                                  {Pane::updates, "updates"}};
    for (const auto& [style, name] : styles) {
        platform::Appearance::shared().apply(style);
        const auto save = [&](QWidget* window, std::initializer_list<QString> files) {
            QApplication::processEvents();
            const QImage shot = window->grab().toImage();
            for (const QString& file : files)
                EXPECT_TRUE(shot.save(file + '-' + name + ".png")) << file.toStdString();
        };
        Store s;
        KeyBindings bindings;
        bindings.playPause = KeyBindings::Key{platform::keycode::f7, mod::command | mod::function};
        bindings.rewind = KeyBindings::Key{platform::keycode::p, mod::option};
        bindings.incSpeed = KeyBindings::Key{platform::keycode::upArrow, mod::shift | mod::command};
        bindings.decSpeed = KeyBindings::Key{platform::keycode::k, mod::control};
        bindings.scrollLineUp = KeyBindings::Key{platform::keycode::space, 0};
        bindings.save(s.defaults, s.center);
        SettingsPanelController controller("Studio Mac", s.defaults, s.center);
        controller.showWindow();
        for (const auto& [pane, paneName] : panes) {
            controller.showPane(pane);
            const QString file = folder + "/settings-" + paneName;
            save(controller.window(), pane == Pane::keys
                                          ? std::initializer_list<QString>{file, appFolder + "/keys-pane"}
                                          : std::initializer_list<QString>{file});
        }
        KeyboardShortcutsWindowController shortcuts(s.defaults);
        shortcuts.loadPage();
        shortcuts.showWindow();
        shortcuts.window()->resize(620, 700);
        save(shortcuts.window(), {folder + "/shortcuts", appFolder + "/shortcuts-window"});
        GamepadLayoutWindowController gamepad;
        gamepad.showWindow();
        save(gamepad.window(), {folder + "/gamepad"});
        DownloadiOSAppWindowController companion;
        companion.showWindow();
        save(companion.window(), {folder + "/companion-app"});
        controller.close();
        shortcuts.close();
    }
    platform::Appearance::shared().apply(platform::AppearanceStyle::system);
}

} // namespace
