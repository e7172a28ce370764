// The application controller over fake windows: launching, quitting, the window lists, the
// Bookmarks menu and the key-binding actions.
#include "AppTestSupport.h"

#include "cuewright/app/LargeFileOpening.h"
#include "cuewright/app/MainMenu.h"
#include "cuewright/app/RecentDocuments.h"
#include "cuewright/app/RemoteServices.h"
#include "cuewright/editor/DocumentCommands.h"
#include "cuewright/editor/ScriptTextView.h"
#include "cuewright/editor/TextBridge.h"
#include "cuewright/model/ProjectError.h"
#include "cuewright/model/RecoveryStore.h"
#include "cuewright/model/ScriptRecovery.h"
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/model/UserDefaults.h"
#include "cuewright/remote/BluetoothServer.h"
#include "cuewright/remote/NetworkSettings.h"
#include "cuewright/remote/WorkspaceBluetooth.h"
#include "cuewright/remote/WorkspaceNetworking.h"
#include "cuewright/settings/HelpActions.h"
#include "cuewright/settings/KeysSettingsController.h"
#include "cuewright/settings/Updater.h"
#include "cuewright/settings/UrlOpener.h"

#include "platform/bluetooth/PeripheralManager.h"
#include "platform/netservice/FakeNetService.h"
#include "platform/text/RichTextFile.h"
#include "platform/ui/ActionRoute.h"
#include "platform/ui/Appearance.h"
#include "platform/ui/FakeFileDialogs.h"
#include "platform/ui/WindowAppearanceUpdatable.h"
#include "sql/Connection.h"

#include "support/LogCapture.h"

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QTest>
#include <QTextCursor>
#include <QWindow>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <set>

#include <sys/resource.h>
#include <sys/stat.h>

using namespace apptest;
namespace fs = std::filesystem;

namespace {

using Action = cw::KeyBindings::Action;

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A saved script: a "cwr" database with the text.
std::string saveScript(platform::Defaults& defaults, const fs::path& path, const QString& text) {
    cw::Workspace scratch(defaults);
    auto project = scratch.newProject();
    project->setText(platform::AttributedString(text));
    project->save(path.string());
    return path.string();
}

class Shell : public ::testing::Test, public Fixture {
protected:
    std::string writeFile(const std::string& name, const std::string& content = "Hello\n") {
        const fs::path path = dir.path() / name;
        std::ofstream(path) << content;
        return path.string();
    }
    // The script's lines as the editor lays them out: one per paragraph.
    static void setLines(cw::Project& project, const QStringList& lines) {
        const QString text = lines.join(u'\n');
        project.setText(platform::AttributedString(text));
        cw::Editor editor = project.editor();
        editor.lineRanges.clear();
        int start = 0;
        for (int i = 0; i < lines.size(); ++i) {
            editor.lineRanges.push_back({i + 1, {start, int(lines[i].size()) + 1}});
            start += int(lines[i].size()) + 1;
        }
        editor.lineCount = int(lines.size());
        project.setEditor(editor);
    }
    void waitForOpenings() {
        EXPECT_TRUE(QTest::qWaitFor([&] { return app->largeFileOpenings().empty(); }, 60000));
    }
    // The script the file `path` (text or bytes) opened into once it was read; none if no window.
    template <typename Path> std::shared_ptr<cw::Project> openAndWait(const Path& path) {
        const std::size_t before = app->editorControllers().size();
        EXPECT_TRUE(app->openFile(path));
        waitForOpenings();
        const auto& editors = app->editorControllers();
        return editors.size() == before + 1 ? editors.back()->project() : nullptr;
    }
    // The application launched on `settings`; with none, made again on the test's own.
    void launchOn(platform::Defaults* settings) {
        environment.defaults = settings ? settings : &defaults;
        app = cw::ApplicationController::create(environment);
        if (settings) {
            launch();
        }
    }
    bool askedAnything() const {
        return std::any_of(events.begin(), events.end(), [](const auto& e) { return e.starts_with("ask"); });
    }
    std::vector<std::string> bookmarkTitles() const {
        std::vector<std::string> titles;
        for (QAction* item : app->bookmarkMenu()->actions()) {
            if (item->property("tag").toInt() > 0) {
                titles.push_back(item->text().section(QLatin1Char('\t'), 0, 0).toStdString());
            }
        }
        return titles;
    }
};

TEST_F(Shell, LaunchingCountsLaunchesAndLogsTheWelcomeLine) {
    testsupport::LogCapture log;
    EXPECT_FALSE(defaults.object(cw::settings::launchCount));
    launch();
    EXPECT_EQ(defaults.integerForKey(cw::settings::launchCount), 1);
    app->applicationWillFinishLaunching();
    EXPECT_EQ(defaults.integerForKey(cw::settings::launchCount), 2);
    EXPECT_EQ(log.lines().front(), "Welcome to Cuewright v1.2 (7) - built on 2026-12-07!");
    EXPECT_EQ(cw::ApplicationController::shared(), app);
    EXPECT_FALSE(keyMonitor->isInstalled());

    EXPECT_EQ(cw::welcomeLine({"Cuewright", std::nullopt, "", "today"}),
              "Welcome to Cuewright vUNKNOWN (UNKNOWN) - built on today!");
}

TEST_F(Shell, InputDevicesStartWithTheLaunchAndStopWithTermination) {
    defaults.set(cw::settings::listenToShortcutsInBackground, true);
    launch();
    center.post(std::string(cw::notifications::backgroundEventListeningDidChange));
    app->applicationDidFinishLaunching();
    app->applicationWillTerminate();
    EXPECT_EQ(devices, (Events{"installKeys", "startGamepads", "keysListeningChanged", "closeGamepads",
                               "startGamepads", "uninstallKeys", "closeGamepads"}))
        << "one set of game controllers at a time";
}

TEST_F(Shell, EachStartupModeOpensWhatItSays) {
    const std::string recent = writeFile("recent.txt");
    struct Case {
        const char* mode;
        bool withRecent;
        std::size_t editors;
        bool startWindow;
        bool missingFirst = false; // out of reach: said so, nothing else opened, kept
    };
    for (const Case& c :
         {Case{"CreateNewDocument", true, 1, false}, Case{"OpenMostRecentDocument", false, 1, false},
          Case{"OpenMostRecentDocument", true, 1, false}, Case{"DoNothing", true, 0, true},
          Case{"SomethingElse", true, 1, false}, Case{"OpenMostRecentDocument", true, 0, true, true}}) {
        SCOPED_TRACE(std::string(c.mode) + (c.withRecent ? " with a recent file" : ""));
        Fixture fresh;
        fresh.defaults.set(cw::settings::startupMode, c.mode);
        if (c.withRecent) {
            cw::RecentDocuments(fresh.defaults).note(recent);
        }
        if (c.missingFirst) {
            cw::RecentDocuments(fresh.defaults).note((dir.path() / "gone.cwr").string());
        }
        fresh.launch();
        QCoreApplication::processEvents();
        ASSERT_EQ(fresh.alerts->shown().size(), std::size_t(c.missingFirst));
        EXPECT_TRUE(!c.missingFirst ||
                    fresh.alerts->shown()[0].messageText ==
                        "The file “gone.cwr” couldn’t be opened because there is no such file.");
        EXPECT_EQ(fresh.app->editorControllers().size(), c.editors);
        EXPECT_EQ(fresh.app->startWindow() != nullptr && fresh.app->startWindow()->isVisible(),
                  c.startWindow);
        if (std::string(c.mode) == "OpenMostRecentDocument" && c.withRecent && !c.missingFirst) {
            EXPECT_EQ(fresh.app->workspace().projects().front()->document().text.string(),
                      QStringLiteral("Hello\n"));
        }
    }
    // A script opened while launching wins over the mode. One that cannot be opened is told once
    // the start is through: the files after it and the remote control do not wait for the alert.
    defaults.set(cw::settings::startupMode, "CreateNewDocument");
    defaults.set(cw::settings::isBonjourEnabled, true);
    app->applicationWillFinishLaunching();
    EXPECT_FALSE(app->openFile((dir.path() / "missing.cwr").string()));
    EXPECT_TRUE(app->openFile(QString::fromStdString(recent)));
    app->applicationDidFinishLaunching();
    EXPECT_EQ(app->editorControllers().size(), 1u);
    EXPECT_EQ(app->workspace().activeProject(), app->editorControllers().front()->project()) << "not driven";
    EXPECT_TRUE(alerts->shown().empty());
    EXPECT_NE(std::find(events.begin(), events.end(), "startNetworking"), events.end());
    QCoreApplication::processEvents();
    ASSERT_EQ(alerts->shown().size(), 1u);
    EXPECT_TRUE(alerts->shown().front().messageText.contains("missing.cwr"));
}

TEST_F(Shell, QuittingAsksUnsavedScriptsInTurnAndStopsAtTheFirstThatStays) {
    defaults.set(cw::settings::startupMode, "DoNothing");
    launch();
    for (int i = 0; i < 3; ++i) {
        app->newDocument();
    }
    auto projects = app->workspace().projects();
    EXPECT_TRUE(app->applicationShouldTerminate()) << "nothing unsaved: no question";
    EXPECT_FALSE(askedAnything());

    for (CloseAnswer stays : {CloseAnswer::cancel, CloseAnswer::saveFails}) {
        events.clear();
        const auto first = editorOf(*projects[0]);
        const auto third = editorOf(*projects[2]);
        first->name = "first";
        third->name = "third";
        first->answer = stays;
        first->whileAsked = [&] { EXPECT_FALSE(app->applicationShouldTerminate()); }; // asks no more
        projects[0]->setHasUnsavedChanges(true);
        projects[2]->setHasUnsavedChanges(true);
        EXPECT_FALSE(app->applicationShouldTerminate());
        EXPECT_EQ(events, Events{"ask first"}) << "the second unsaved script is not asked";
        EXPECT_EQ(app->editorControllers().size(), 3u);
    }
    // While the first question is up, the second script is edited and a fourth is opened and
    // edited: each is asked about before the quit goes on.
    editorOf(*projects[0])->answer = CloseAnswer::dontSave;
    editorOf(*projects[1])->name = "second";
    editorOf(*projects[0])->whileAsked = [&] {
        projects[1]->setHasUnsavedChanges(true);
        app->newDocument();
        editorOf(*app->workspace().projects().back())->name = "fourth";
        app->workspace().projects().back()->setHasUnsavedChanges(true);
    };
    events.clear();
    EXPECT_TRUE(app->applicationShouldTerminate());
    EXPECT_EQ(events, (Events{"ask first", "ask second", "ask third", "ask fourth"}));
    EXPECT_TRUE(app->editorControllers().empty()) << "each answered Don't Save";
}

TEST_F(Shell, TheNetworkSwitchStartsAndStopsBothRemoteListeners) {
    defaults.set(cw::settings::isBonjourEnabled, false);
    launch();
    EXPECT_EQ(events, Events{}) << "switched off, neither listener starts at launch";
    defaults.set(cw::settings::isBonjourEnabled, true);
    center.post(std::string(cw::NetworkSettings::networkStateDidChange));
    defaults.set(cw::settings::isBonjourEnabled, false);
    center.post(std::string(cw::NetworkSettings::networkStateDidChange));
    EXPECT_EQ(events, (Events{"startNetworking", "startBluetooth", "stopNetworking", "stopBluetooth"}));
    events.clear();
    app->applicationWillTerminate();
    center.post(std::string(cw::NetworkSettings::networkStateDidChange));
    EXPECT_EQ(events, (Events{"stopNetworking", "stopBluetooth"})) << "no observer is left";
}

TEST_F(Shell, OneFileHasOneEditorHoweverItIsNamed) {
    launch();
    const std::size_t before = app->editorControllers().size();
    const std::string script = saveScript(defaults, dir.path() / "show.cwr", "A script");
    fs::create_symlink(script, dir.path() / "link.cwr");
    const QString previous = QDir::currentPath();
    QDir::setCurrent(QString::fromStdString(dir.path().string()));
    for (const std::string& name : {script, (dir.path() / "link.cwr").string(), std::string("show.cwr"),
                                    std::string("./sub/../show.cwr")}) {
        SCOPED_TRACE(name);
        app->openDocument(name);
        EXPECT_EQ(app->editorControllers().size(), before + 1);
    }
    QDir::setCurrent(previous);
    EXPECT_EQ(editorOf(*app->workspace().projects().back())->shows, 4) << "the open editor comes forward";
    EXPECT_EQ(app->recentDocuments().paths(),
              std::vector<std::string>{cw::ApplicationController::canonicalPath(script)});

    const std::string text = writeFile("notes.txt");
    app->openDocument(text);
    app->openDocument(text);
    EXPECT_EQ(app->editorControllers().size(), before + 3)
        << "a text has no file of its own: each open is new";

    const std::size_t projects = app->workspace().projects().size();
    EXPECT_FALSE(app->openFile(QString::fromStdString(writeFile("notes.xyz"))));
    ASSERT_EQ(alerts->shown().size(), 1u);
    EXPECT_FALSE(alerts->shown().front().messageText.isEmpty());
    // A folder, named as a script or a text or not, says that it is one, as bytes (the command
    // line, Open Recent) or as text (the open panel, a hand-over).
    for (const char* folder : {"c.txt", "d.cwr", "plain"}) {
        SCOPED_TRACE(folder);
        fs::create_directory(dir.path() / folder);
        EXPECT_FALSE(app->openFile((dir.path() / folder).string()));
        EXPECT_FALSE(app->openFile(QString::fromStdString((dir.path() / folder).string())));
        EXPECT_EQ(alerts->shown().back().messageText.toStdString(),
                  "The file \u201C" + std::string(folder) +
                      "\u201D couldn\u2019t be opened because it is a folder, not a file.");
    }
    EXPECT_EQ(app->workspace().projects().size(), projects);
    EXPECT_EQ(app->editorControllers().size(), before + 3);
    EXPECT_EQ(app->recentDocuments().paths().size(), 2u);
    fs::create_directory(dir.path() / "package.rtfd");
    std::ofstream(dir.path() / "package.rtfd" / platform::kRtfdTextFileName) << "{\\rtf1 In a package}";
    EXPECT_TRUE(app->openFile((dir.path() / "package.rtfd").string())) << "an RTFD package is a folder";
}

// A file opened through a symbolic link is read by the link's extension and named by the link,
// on every way in (the command line, a hand-over, the open panel, Open Recent); saving writes
// through the link, which stays. A link to a device is refused as no regular file, by its name.
TEST_F(Shell, AFileOpenedThroughALinkIsReadAndNamedByTheLink) {
    defaults.set(cw::settings::startupMode, "DoNothing");
    launch();
    const fs::path versions = dir.path() / "versions";
    fs::create_directory(versions);
    const std::string target = saveScript(defaults, versions / "talk-v3", "Version three");
    const fs::path link = dir.path() / "current.cwr";
    fs::create_symlink("versions/talk-v3", link);
    const auto dialogs = std::make_shared<platform::FakeFileDialogs>();
    const auto previousDialogs = platform::setFileDialogs(dialogs);
    const std::pair<const char*, std::function<void()>> ways[] = {
        {"command line", [&] { app->openFile(link.string()); }},
        {"hand-over", [&] { app->handOver({QString::fromStdString(link.string())}); }},
        {"open panel",
         [&] {
             dialogs->answerOpen({QString::fromStdString(link.string())});
             app->openDocumentPanel();
         }},
        {"Open Recent", [&] { app->openMostRecentDocument(false); }},
    };
    for (const auto& [way, open] : ways) {
        SCOPED_TRACE(way);
        open();
        waitForOpenings();
        ASSERT_TRUE(alerts->shown().empty()) << alerts->shown().front().messageText.toStdString();
        ASSERT_EQ(app->workspace().projects().size(), 1u);
        const auto project = app->workspace().projects().front();
        EXPECT_EQ(project->document().text.string(), "Version three");
        EXPECT_EQ(project->representedPath(), link.string());
        EXPECT_EQ(app->recentDocuments().paths(), std::vector<std::string>{link.string()});
        editorOf(*project)->close();
    }
    platform::setFileDialogs(previousDialogs);

    app->openFile(link.string());
    const auto project = app->workspace().projects().front();
    project->setText(platform::AttributedString("Version three, edited"));
    project->save(*project->representedPath());
    EXPECT_TRUE(fs::is_symlink(link)) << "the save replaced the link";
    EXPECT_EQ(fs::read_symlink(link), "versions/talk-v3");
    EXPECT_EQ(cw::ScriptDocumentFile::open(target, defaults).text.string(), "Version three, edited");
    for (const auto& item : fs::directory_iterator(dir.path())) {
        EXPECT_FALSE(item.path().filename().string().starts_with(".cw-")) << item.path();
    }

    for (const char* name : {"zero.rtf", "zero.cwr", "zero.txt", "zero.pdf", "pipe.txt", "pipe.pdf"}) {
        SCOPED_TRACE(name);
        const fs::path path = dir.path() / name;
        if (name[0] == 'z')
            fs::create_symlink("/dev/zero", path);
        else
            ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
        app->handOver({QString::fromStdString(path.string())});
        waitForOpenings();
        ASSERT_FALSE(alerts->shown().empty());
        const QString said = alerts->shown().back().messageText + alerts->shown().back().informativeText;
        EXPECT_TRUE(said.contains(QString::fromLatin1(name))) << said.toStdString();
        EXPECT_TRUE(said.contains("it is not a file")) << said.toStdString();
        EXPECT_FALSE(said.contains("format")) << said.toStdString();
        EXPECT_FALSE(said.contains("/dev/zero")) << said.toStdString();
    }
    EXPECT_EQ(app->workspace().projects().size(), 1u);
}

// A script is held from before it is read, so that of two copies given it at one moment one
// opens it; a read that fails holds nothing. A hard link of a script shown here brings its window
// forward. Nothing is written over a script another copy shows.
TEST_F(Shell, AScriptIsHeldFromBeforeItIsReadAndNoWindowWritesOverOneAnotherCopyShows) {
    defaults.set(cw::settings::startupMode, "DoNothing");
    launch();
    app->setShownElsewhereCheck(
        [](const std::string& path) { return cw::ShownFileLocks::heldElsewhere(path); });
    const std::string talk = saveScript(defaults, dir.path() / "talk.cwr", "Talk");
    const std::string damaged = writeFile("damaged.cwr", "not a script");
    for (const std::string& path : {talk, damaged}) {
        app->handOver({QString::fromStdString(path)});
        EXPECT_TRUE(cw::ShownFileLocks::heldElsewhere(path)) << "not held while it is read: " << path;
    }
    waitForOpenings();
    EXPECT_FALSE(cw::ShownFileLocks::heldElsewhere(damaged));
    ASSERT_EQ(app->editorControllers().size(), 1u);
    const auto editor = editorOf(*app->editorControllers().front()->project());
    fs::create_hard_link(talk, dir.path() / "link.cwr");
    EXPECT_TRUE(app->openFile((dir.path() / "link.cwr").string()));
    EXPECT_EQ(editor->shows, 2) << "the window of the linked script did not come forward";
    ASSERT_TRUE(editor->otherCopy);
    EXPECT_FALSE(editor->otherCopy(talk) || editor->otherCopy((dir.path() / "link.cwr").string()));
    cw::ShownFileLocks otherCopy;
    otherCopy.hold({damaged, talk}); // talk as well, as when it was brought back here from a recovery copy
    EXPECT_TRUE(editor->otherCopy(damaged) && editor->otherCopy(talk));
    otherCopy.hold({});
    EXPECT_TRUE(!editor->otherCopy(talk) && cw::ShownFileLocks::heldElsewhere(talk)) << "its own lock";
}

TEST_F(Shell, LargeAndSlowFilesAreReadOffTheMainThreadIntoWhatTheUsualWayMakes) {
    defaults.set(cw::settings::startupMode, "DoNothing");
    launch();
    // Line ends of three kinds, a tab, a control character and letters beyond ASCII, past the size
    // read off the main thread.
    std::string content;
    while (content.size() < std::size_t(cw::LargeFileOpening::largeFileBytes))
        content += "Guten Abend, caf\u00e9 \U0001F3AC\r\nzweite\tZeile\x01\rdritte\n";
    const std::string large = writeFile("large.txt", content);
    const std::string notUtf8 = writeFile("latin1.txt", content + "\xff");
    ASSERT_TRUE(cw::LargeFileOpening::opensOffMainThread(large));
    cw::Workspace scratch(defaults);
    const platform::AttributedString expected = scratch.openProject(large)->document().text;

    // Cancelled at once, then opened again: one script comes of the two.
    EXPECT_TRUE(app->openFile(QString::fromStdString(large)));
    ASSERT_EQ(app->largeFileOpenings().size(), 1u);
    EXPECT_TRUE(app->editorControllers().empty()) << "read on the main thread";
    app->largeFileOpenings().front()->cancel();
    EXPECT_TRUE(app->openFile(QString::fromStdString(large)));
    waitForOpenings();
    ASSERT_EQ(app->editorControllers().size(), 1u);
    const auto project = app->editorControllers().front()->project();
    EXPECT_TRUE(project->document().text == expected);
    EXPECT_FALSE(project->representedPath());
    EXPECT_FALSE(project->hasUnsavedChanges());
    EXPECT_EQ(app->recentDocuments().paths(), std::vector<std::string>{large});

    // Opened again while it is read, under another name too: that opening comes forward (its
    // progress window at once) and one more script comes of the three.
    const std::string alias = (dir.path() / "alias.txt").string();
    std::filesystem::create_symlink(large, alias);
    EXPECT_TRUE(app->openFile(QString::fromStdString(large)));
    ASSERT_EQ(app->largeFileOpenings().size(), 1u);
    EXPECT_EQ(app->largeFileOpenings().front()->progressWindow(), nullptr);
    EXPECT_TRUE(app->openFile(alias));
    EXPECT_TRUE(app->openFile(QString::fromStdString(large)));
    ASSERT_EQ(app->largeFileOpenings().size(), 1u) << "read twice";
    EXPECT_NE(app->largeFileOpenings().front()->progressWindow(), nullptr) << "not brought forward";
    waitForOpenings();
    EXPECT_EQ(app->editorControllers().size(), 2u);
    app->editorControllers().back()->close();

    // A name whose bytes are not UTF-8 (as a Latin-1 system writes it) is read all the same.
    const auto latin1 = openAndWait(writeFile("caf\xe9.txt", content));
    ASSERT_TRUE(latin1);
    EXPECT_TRUE(latin1->document().text == expected);
    EXPECT_TRUE(alerts->shown().empty());

    // A DOC file, its reader being slow at any size.
    const std::string doc = CW_FIXTURES_DIR "/script-sample.doc";
    ASSERT_TRUE(cw::LargeFileOpening::opensOffMainThread(doc));
    const auto opened = openAndWait(QString::fromStdString(doc));
    ASSERT_TRUE(opened);
    EXPECT_TRUE(opened->document().text == scratch.openProject(doc)->document().text);

    // One that is not UTF-8 is told as a small one is, a damaged DOC as the usual way tells it;
    // neither opens, nor becomes a recent document.
    EXPECT_EQ(openAndWait(QString::fromStdString(notUtf8)), nullptr);
    const std::string damaged = CW_FIXTURES_DIR "/damaged-word97.doc";
    EXPECT_EQ(openAndWait(QString::fromStdString(damaged)), nullptr);
    EXPECT_THROW(scratch.openProject(damaged), cw::ProjectError);
    ASSERT_EQ(alerts->shown().size(), 2u);
    EXPECT_EQ(alerts->shown()[0].messageText.toStdString(),
              "The file \u201Clatin1.txt\u201D couldn\u2019t be opened using text encoding Unicode (UTF-8).");
    EXPECT_EQ(
        alerts->shown()[1].messageText.toStdString(),
        "The file \u201Cdamaged-word97.doc\u201D couldn\u2019t be opened because it is not a readable Word "
        "document.");
    const std::vector<std::string> recent = app->recentDocuments().paths();
    EXPECT_EQ(std::find(recent.begin(), recent.end(), damaged), recent.end());
}

// A file refused once it was read off the main thread is told in its alert alone: no progress
// window comes up from within the alert's event loop, however long the alert stays.
TEST_F(Shell, AFileRefusedAfterItsReadShowsNoProgressBesideItsAlert) {
    const std::string damaged = writeFile("damaged.cwr", std::string(4096, 'x'));
    bool refused = false;
    QStringList besideTheAlert;
    // Windows an earlier test of this process left shown are none of this opening's.
    QWidgetList shownBefore;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isVisible()) {
            shownBefore << window;
        }
    }
    cw::LargeFileOpening opening(damaged, cw::ScriptImport::DefaultStyle{},
                                 [&](cw::LargeFileOpening::Read read) {
                                     refused = read.error != nullptr;
                                     // The alert, up for longer than the progress window waits.
                                     QTest::qWait(3 * cw::LargeFileOpening::progressDelayMs);
                                     for (QWidget* window : QApplication::topLevelWidgets()) {
                                         if (window->isVisible() && !shownBefore.contains(window)) {
                                             besideTheAlert << window->windowTitle();
                                         }
                                     }
                                     return cw::LargeFileOpening::Opened{};
                                 });
    ASSERT_TRUE(QTest::qWaitFor([&] { return opening.isDone(); }, 30000));
    EXPECT_TRUE(refused);
    EXPECT_TRUE(besideTheAlert.isEmpty()) << besideTheAlert.join(u',').toStdString();
}

// A rich-text file that ends early says so in its window's notice however large it is, read on
// the main thread or off it; a whole one says nothing. So does a script whose stored RTF is cut
// short, opening the words of its plain copy.
TEST_F(Shell, ARichTextFileThatEndsEarlySaysSoAtAnySize) {
    defaults.set(cw::settings::startupMode, "DoNothing");
    launch();
    std::string large = "{\\rtf1\\ansi ";
    while (large.size() < std::size_t(cw::LargeFileOpening::largeFileBytes))
        large += "A line of the script\\par\n";
    const QString lines = QStringLiteral("A line of the script\n").repeated(60000);
    const auto cutScript = [&](const QString& text) {
        const std::string made = saveScript(defaults, dir.path() / "made.cwr", text);
        sql::Connection::open(made)->execute(
            "UPDATE texts SET binary_contents = substr(binary_contents, 1, length(binary_contents) - 20)");
        return fileBytes(made);
    };
    const struct {
        const char* name;
        std::string content;
        bool endsEarly;
        QString text; // a script's, whole
    } cases[] = {
        {"small cut.rtf", "{\\rtf1\\ansi Only the first", true, {}},
        {"large cut.rtf", large, true, {}},
        {"large whole.rtf", large + "}", false, {}},
        {"small cut.cwr", cutScript(lines.first(2000)), true, lines.first(2000)},
        {"large cut.cwr", cutScript(lines), true, lines},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto opened = openAndWait(writeFile(c.name, c.content));
        ASSERT_TRUE(opened);
        const QString notice = opened->readNotice();
        const QString says = c.text.isEmpty() ? QStringLiteral("ends early")
                                              : QStringLiteral("holds its formatted text cut short");
        EXPECT_EQ(notice.contains(QStringLiteral("\u201C%1\u201D %2").arg(c.name, says)), c.endsEarly)
            << notice.toStdString();
        EXPECT_EQ(notice.isEmpty(), !c.endsEarly) << notice.toStdString();
        EXPECT_TRUE(c.text.isEmpty() || opened->document().text.string() == c.text) << "a script opens whole";
    }
}

// A name as a Latin-1 system writes it arrives as text from the open panel or a hand-over (where
// it shows with U+FFFD) and as bytes from the command line and Open Recent: each way opens the file
// itself, which stays in Open Recent through the settings file. A new name in such a folder, as a
// save panel gives it, is written into that folder.
TEST_F(Shell, ANameThatIsNotUtf8OpensHoweverItArrives) {
    launch();
    const std::size_t before = app->editorControllers().size();
    const fs::path folder = dir.path() / "d\xe9j\xe0";
    fs::create_directory(folder);
    const std::string script = cw::ApplicationController::canonicalPath(
        saveScript(defaults, folder / "caf\xe9.cwr", QStringLiteral("A script")));
    const QString shown = QFile::decodeName(QByteArray::fromStdString(script));
    ASSERT_NE(QFile::encodeName(shown).toStdString(), script) << "the text does not spell the name";

    EXPECT_TRUE(app->openFile(shown));
    ASSERT_EQ(app->editorControllers().size(), before + 1);
    EXPECT_EQ(app->workspace().projects().back()->representedPath(), script);
    EXPECT_TRUE(app->openFile(script));
    auto dialogs = std::make_shared<platform::FakeFileDialogs>();
    const auto previousDialogs = platform::setFileDialogs(dialogs);
    dialogs->answerOpen({shown});
    app->openDocumentPanel();
    platform::setFileDialogs(previousDialogs);
    EXPECT_EQ(app->editorControllers().size(), before + 1) << "the one editor comes forward";
    EXPECT_TRUE(alerts->shown().empty());

    ASSERT_TRUE(defaults.synchronize());
    platform::Defaults reread({defaults.filePath(), std::chrono::hours(1), {}});
    EXPECT_EQ(cw::RecentDocuments(reread).paths(), std::vector<std::string>{script});

    const fs::path fresh = folder / "new.txt";
    EXPECT_EQ(platform::fileSystemPath(QFile::decodeName(QByteArray::fromStdString(fresh.string()))),
              fresh.string());
}

TEST_F(Shell, ClosingAnEditorClosesItsProjectAndItsPrompterWindowsOnly) {
    defaults.set(cw::settings::startupMode, "DoNothing");
    launch();
    app->newDocument();
    app->newDocument();
    const auto mine = app->workspace().projects()[0];
    const auto other = app->workspace().projects()[1];
    app->spawnPrompterWindow(mine, cw::TeleprompterWindowPreset::normal);
    app->spawnPrompterWindow(other, cw::TeleprompterWindowPreset::transparent);
    app->spawnPrompterWindow(mine, cw::TeleprompterWindowPreset::transparent);
    app->toggleScreenBoundPrompter(mine, display("attached-1"));
    app->toggleScreenBoundPrompter(mine, display("detached"));
    EXPECT_EQ(app->screenBoundPrompterControllers().size(), 1u) << "a detached display gets no window";

    editorOf(*mine)->close();
    EXPECT_EQ(app->freeFloatingPrompterControllers().size(), 1u);
    EXPECT_EQ(app->freeFloatingPrompterControllers().front()->project(), other);
    EXPECT_TRUE(app->screenBoundPrompterControllers().empty());
    EXPECT_EQ(app->workspace().projects(), std::vector{other});
    QCoreApplication::sendPostedEvents(nullptr, 0);
    for (const auto& prompter : prompters) {
        if (auto alive = prompter.lock()) {
            EXPECT_EQ(alive->project(), other) << "the closed windows are let go";
        }
    }
}

TEST_F(Shell, TogglingADisplayClosesItsWindowWhileTheListShrinks) {
    launch();
    const auto project = app->workspace().projects().front();
    app->toggleScreenBoundPrompter(project, display("attached-1"));
    app->toggleScreenBoundPrompter(project, display("attached-2"));
    ASSERT_EQ(app->screenBoundPrompterControllers().size(), 2u);
    const auto second = app->screenBoundPrompterControllers()[1];

    app->toggleScreenBoundPrompter(project, display("attached-1"));
    EXPECT_EQ(app->screenBoundPrompterControllers(),
              std::vector<std::shared_ptr<cw::PrompterWindow>>{second});
    EXPECT_EQ(static_cast<FakePrompter&>(*second).closes, 0);
    app->toggleScreenBoundPrompter(project, display("attached-1"));
    EXPECT_EQ(app->screenBoundPrompterControllers().size(), 2u) << "toggling again opens it again";
}

TEST_F(Shell, ShowPrompterOpensOneWindowOnlyWhenTheScriptHasNone) {
    launch();
    const auto project = app->workspace().projects().front();
    app->showPrompter(project);
    app->showPrompter(project);
    EXPECT_EQ(app->freeFloatingPrompterControllers().size(), 1u);
    app->toggleScreenBoundPrompter(project, display("attached-1"));
    app->freeFloatingPrompterControllers().front()->close();
    app->showPrompter(project);
    EXPECT_TRUE(app->freeFloatingPrompterControllers().empty()) << "the display-bound window counts";
}

TEST_F(Shell, BookmarksMenuFollowsTheActiveScript) {
    struct Title {
        int line;
        const char* excerpt;
        const char* label;
        const char* title;
    };
    for (const Title& t :
         {Title{12, "*Intro text", "Intro", "Line 12: Intro..."},
          Title{3, "*The end", "", "Line 3: *The end..."}, Title{7, "*x", "A", "Line 7: A..."}}) {
        cw::Bookmark bookmark;
        bookmark.line = t.line;
        bookmark.excerpt = t.excerpt;
        bookmark.userBlurb = t.label;
        EXPECT_EQ(cw::bookmarkMenuTitle(bookmark).toStdString(), t.title);
    }
    EXPECT_NEAR(*cw::bookmarkJumpProgress(12, 200), 0.055775, 1e-12);
    EXPECT_FALSE(cw::bookmarkJumpProgress(12, 0)) << "no lines: nothing to jump into";

    launch();
    QMenu& menu = *app->bookmarkMenu();
    const int fixed = int(menu.actions().size());
    const auto project = app->workspace().projects().front();
    app->rebuildBookmarksMenu(menu);
    EXPECT_TRUE(bookmarkTitles().empty()) << "no active script: only the fixed items";

    setLines(*project, {"Title", "*Intro", "body", "*Outro"});
    app->editorWindowDidBecomeMain(*editorOf(*project));
    app->rebuildBookmarksMenu(menu);
    EXPECT_EQ(bookmarkTitles(), (std::vector<std::string>{"Line 2: *Intro...", "Line 4: *Outro..."}));
    EXPECT_EQ(int(menu.actions().size()), fixed + 2) << "rebuilding twice adds nothing";
    EXPECT_TRUE(menu.actions()[fixed + 1]->text().endsWith(QStringLiteral("\tCtrl+2")))
        << "the item shows the window's key of the second bookmark";
    EXPECT_TRUE(app->mainMenu().action("jumpToNextBookmark:")->isEnabled());

    menu.actions()[fixed + 1]->trigger();
    EXPECT_DOUBLE_EQ(project->transportState().progress, (4 - 1 + 0.155) / 4);
    cw::Editor editor = project->editor();
    editor.lineCount = 0;
    project->setEditor(editor);
    project->setProgress(0.25, false, true);
    app->jumpToBookmarkNumber(1);
    EXPECT_DOUBLE_EQ(project->transportState().progress, 0.25) << "no lines laid out: the jump does nothing";
    app->jumpToBookmarkNumber(3);
    EXPECT_DOUBLE_EQ(project->transportState().progress, 0.25);

    setLines(*project, {"no bookmarks"});
    app->editorWindowDidBecomeMain(*editorOf(*project));
    EXPECT_FALSE(app->mainMenu().action("jumpToNextBookmark:")->isEnabled());
    EXPECT_FALSE(app->mainMenu().action("jumpToPrevBookmark:")->isEnabled());
    EXPECT_TRUE(app->mainMenu().action("toggleScrollOnStop:")->isEnabled());
}

TEST_F(Shell, PreferenceTogglesFlipTheirSettingsAndShowThem) {
    launch();
    int posts = 0;
    center.addObserver(std::string(cw::notifications::autoScrollSettingDidChange),
                       [&](const auto&) { ++posts; });
    QAction* autoScroll = app->mainMenu().action("toggleEditorAutoScroll:");
    QAction* sync = app->mainMenu().action("toggleEditorPrompterScrollSync:");
    autoScroll->trigger();
    autoScroll->trigger();
    sync->trigger();
    EXPECT_EQ(posts, 2);
    EXPECT_FALSE(defaults.boolForKey(cw::settings::syncTeleprompterWindowToEditorScrolling));
    app->mainMenu().validateAll();
    EXPECT_FALSE(sync->isChecked());
    EXPECT_FALSE(autoScroll->isChecked());
}

TEST_F(Shell, BindingActionsOpenAPrompterFirstAndActOnTheScript) {
    launch();
    const auto project = app->workspace().projects().front();
    EXPECT_FALSE(app->performBindingAction(*project, Action::playPause, true, 3));
    EXPECT_TRUE(app->freeFloatingPrompterControllers().empty()) << "depth 3 gives up at once";

    // The editor and the input devices come in through the performer.
    const std::shared_ptr<cw::BindingActionPerformer> performer = app;
    EXPECT_TRUE(performer->performBindingAction(*project, Action::playPause, true, 0));
    EXPECT_EQ(app->freeFloatingPrompterControllers().size(), 1u);
    EXPECT_TRUE(project->transportState().isPlaying());
    app->performBindingAction(*project, Action::playPause, false);
    EXPECT_FALSE(project->transportState().isPlaying());

    struct SpeedStep {
        double from;
        Action action;
        double to;
    };
    for (const SpeedStep& s : {SpeedStep{98, Action::incSpeed, 100}, SpeedStep{100, Action::incSpeed, 100},
                               SpeedStep{3, Action::decSpeed, 0}, SpeedStep{50, Action::decSpeed, 45}}) {
        project->setScrollSpeed(s.from, 0.5, 4.0);
        app->performBindingAction(*project, s.action, true);
        EXPECT_EQ(project->document().speedProperties.scrollSpeedPerc, s.to) << s.from;
        EXPECT_EQ(project->document().speedProperties.maxScrollSpeedLPS, 4.0);
    }

    struct Wind {
        Action action;
        bool isDown;
        double factor;
    };
    project->setFfwdFactor(1.0);
    for (const Wind& w :
         {Wind{Action::reverse, true, -1}, Wind{Action::ffwd, true, 5}, Wind{Action::ffwd, false, 1},
          Wind{Action::bbwd, true, -5}, Wind{Action::bbwd, false, 1}, Wind{Action::reverse, false, -1},
          Wind{Action::reverse, true, 1}}) {
        app->performBindingAction(*project, w.action, w.isDown);
        EXPECT_EQ(project->transportState().ffwdFactor, w.factor);
    }

    // Line steps move the free-floating window's view, also beside a display-bound one.
    app->toggleScreenBoundPrompter(project, display("attached-1"));
    app->performBindingAction(*project, Action::scrollLineDown, true);
    app->performBindingAction(*project, Action::scrollLineUp, true);
    const auto& floating = static_cast<FakePrompter&>(*app->freeFloatingPrompterControllers().front());
    EXPECT_EQ(floating.steps,
              (std::vector{cw::PrompterWindow::LineStep::down, cw::PrompterWindow::LineStep::up}));
}

TEST_F(Shell, TheRemoteControlWindowOwnsItselfUntilItCloses) {
    launch();
    app->showRemoteControlWindow();
    app->showRemoteControlWindow();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    auto windows = app->remoteControlWindows();
    ASSERT_EQ(windows.size(), 2u) << "each use makes another window, kept alive by itself";
    EXPECT_TRUE(windows[0]->window()->isVisible());
    windows[0]->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(app->remoteControlWindows(), std::vector{windows[1]});
}

TEST_F(Shell, TheStartWindowStandsInWhileNoScriptIsOpen) {
    defaults.set(cw::settings::startupMode, "DoNothing");
    // The user's appearance choice, dark first.
    auto style = platform::AppearanceStyle::dark;
    platform::setAppearanceChoice({[&style] { return style; }, "UIModeDidSwitch", &center});
    const struct ChoiceReset {
        ~ChoiceReset() { platform::setAppearanceChoice({}); }
    } reset;
    launch();
    QWidget* start = app->startWindow();
    ASSERT_TRUE(start && start->isVisible());
    EXPECT_TRUE(platform::isDarkMode(start));
    const fs::path pictures =
        fs::path(std::getenv("CW_TEST_OUTPUT_DIR") ? std::getenv("CW_TEST_OUTPUT_DIR") : "/tmp") / "app";
    fs::create_directories(pictures);
    start->grab().save(QString::fromStdString((pictures / "start-window-dark.png").string()));
    style = platform::AppearanceStyle::light;
    center.post("UIModeDidSwitch");
    EXPECT_FALSE(platform::isDarkMode(start));
    start->grab().save(QString::fromStdString((pictures / "start-window.png").string()));
    app->newDocument();
    EXPECT_FALSE(start->isVisible());
    editorOf(*app->workspace().projects().front())->close();
    EXPECT_TRUE(start->isVisible());
    app->handOver({});
    EXPECT_TRUE(app->editorControllers().empty()) << "a visible start window only comes forward";
    start->hide();
    app->handOver({});
    EXPECT_EQ(app->editorControllers().size(), 1u) << "nothing visible: reopening makes a new script";
}

// Records the folders and pages it is asked to show.
struct RecordingOpener : cw::UrlOpener {
    std::vector<QUrl> opened;
    bool takes = true; // false: no program took it
    void open(const QUrl& url, Done done) override {
        opened.push_back(url);
        done(takes);
    }
};

// Quits while its alert is up (a signal), then answers as a box closed under a quit once did:
// its Cancel, else its first button. The runner must not pass that on.
struct QuittingAlerts : platform::FakeAlertRunner {
    std::function<void()> quit;
    int show(const platform::Alert& alert, QWidget* window) override {
        FakeAlertRunner::show(alert, window);
        quit();
        return platform::alertFirstButtonReturn + std::max<int>(0, int(alert.buttons.indexOf("Cancel")));
    }
};

// Copies of unsaved edits in a folder of the test's own; scheduled writes wait for the test.
class Recovery : public Shell {
protected:
    Recovery() {
        quitting->quit = [this] { app->terminateWithoutAsking(); };
        defaults.set(cw::settings::startupMode, "DoNothing");
        environment.recoveryFolder = folder();
        environment.recoverySchedule = [this](std::chrono::milliseconds, std::function<void()> fire) {
            scheduled.push_back(std::move(fire));
        };
        app = cw::ApplicationController::create(environment);
    }
    ~Recovery() override { cw::setUrlOpener(previousOpener); }
    fs::path folder() const { return dir.path() / "Recovery"; }
    // The process ends and starts again on the same folder.
    void restart() {
        app.reset();
        QCoreApplication::sendPostedEvents(nullptr, 0);
        scheduled.clear();
        app = cw::ApplicationController::create(environment);
        launch();
        QCoreApplication::sendPostedEvents(nullptr, 0); // the message comes once the loop runs
    }
    std::size_t copies() const {
        if (cw::ScriptRecovery* recovery = app->scriptRecovery()) {
            recovery->flush();
        }
        std::size_t count = 0;
        for (const auto& item : fs::directory_iterator(folder())) {
            count += item.path().extension() == ".cwr";
        }
        return count;
    }

    // The copies' scheduled writes come due.
    void keepEdits() {
        for (auto& fire : std::exchange(scheduled, {})) {
            fire();
        }
    }
    // keepEdits with files limited to `bytes` (a write past that fails rather than signalling);
    // the limit is lifted before the posted notices are delivered.
    void keepEditsWithFilesUpTo(rlim_t bytes) {
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit previous{};
        ::getrlimit(RLIMIT_FSIZE, &previous);
        rlimit lowered = previous;
        lowered.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &lowered);
        keepEdits();
        app->scriptRecovery()->flush();
        ::setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, previousHandler);
        QCoreApplication::sendPostedEvents(nullptr, 0);
    }
    // Another instance's copy beside ours, of the script at `path`, holding `text`; without one,
    // a copy that cannot be read.
    void writeOtherCopy(std::optional<std::string> path, const std::string& name,
                        std::optional<QString> text = {}) {
        const auto other = cw::RecoveryStore::open(folder());
        const cw::RecoveryStore::Entry entry{cw::RecoveryStore::makeId(), std::move(path), name};
        cw::Document document;
        document.text = platform::AttributedString(text.value_or(QString()));
        other->write(entry, document, {});
        if (!text) {
            std::ofstream(other->copyPath(entry.id), std::ios::trunc) << "not a script";
        }
    }

    std::vector<std::function<void()>> scheduled;
    const std::shared_ptr<RecordingOpener> opener = std::make_shared<RecordingOpener>();
    const std::shared_ptr<cw::UrlOpener> previousOpener = cw::setUrlOpener(opener);
    const std::shared_ptr<QuittingAlerts> quitting = std::make_shared<QuittingAlerts>();
};

TEST_F(Recovery, EndingTheSessionAsksNothingAndTheNextLaunchBringsTheEditsBack) {
    const std::string saved = saveScript(defaults, dir.path() / "talk.cwr", "as saved");
    const std::string savedBytes = fileBytes(saved);
    launch();
    app->openDocument(saved);
    app->newDocument();
    const auto projects = app->workspace().projects();
    projects[0]->setText(platform::AttributedString("as saved, then edited"));
    projects[1]->setText(platform::AttributedString("never saved"));
    for (const auto& project : projects) {
        editorOf(*project)->answer = CloseAnswer::cancel; // a question would keep the window
    }

    app->terminateWithoutAsking();
    EXPECT_FALSE(askedAnything());
    EXPECT_EQ(copies(), 2u);

    restart();
    const auto restored = app->workspace().projects();
    ASSERT_EQ(restored.size(), 2u);
    EXPECT_EQ(app->editorControllers().size(), 2u);
    EXPECT_EQ(restored[0]->document().text.string(), "as saved, then edited");
    EXPECT_EQ(restored[0]->representedPath(), saved);
    EXPECT_EQ(restored[1]->document().text.string(), "never saved");
    EXPECT_EQ(restored[1]->representedPath(), std::nullopt);
    EXPECT_TRUE(restored[0]->hasUnsavedChanges() && restored[1]->hasUnsavedChanges());
    ASSERT_EQ(alerts->shown().size(), 1u);
    EXPECT_TRUE(alerts->shown().front().informativeText.contains("talk.cwr, Untitled"));
    EXPECT_EQ(fileBytes(saved), savedBytes) << "the script's file was written";

    // Opening the script's file shows the brought-back edits, not the file.
    app->openDocument(saved);
    EXPECT_EQ(app->editorControllers().size(), 2u);
}

// A script whose copy cannot be written is named in every window's notice whatever other
// copies do, and ending the session asks about it alone, until its copy is written again.
TEST_F(Recovery, AScriptWhoseCopyFailsIsNamedAndAskedAboutWhenTheSessionEnds) {
    launch();
    app->openDocument(saveScript(defaults, dir.path() / "big.cwr", "big"));
    app->openDocument(saveScript(defaults, dir.path() / "small.cwr", "small"));
    const auto projects = app->workspace().projects();
    const auto edit = [&](std::size_t script, const char* text) {
        projects[script]->setText(platform::AttributedString(text));
        keepEdits();
        app->scriptRecovery()->flush();
        QCoreApplication::sendPostedEvents(nullptr, 0);
    };
    edit(0, "big, edited");
    edit(1, "small, edited");
    const std::vector<cw::RecoveryStore::Entry> entries = app->scriptRecovery()->store().entries();
    ASSERT_EQ(entries.size(), 2u);
    const fs::path bigCopy = app->scriptRecovery()->store().copyPath(entries[0].id);
    fs::remove(bigCopy);
    fs::create_directories(bigCopy / "in the way");
    edit(0, "big, edited again");
    edit(1, "small, edited again"); // kept: big's copy still is not
    for (const auto& project : projects) {
        const auto editor = editorOf(*project);
        editor->answer = CloseAnswer::cancel;
        editor->name = *project->representedPath();
        EXPECT_EQ(
            editor->notice.toStdString(),
            "Unsaved edits of big.cwr are not being kept: is a directory. Save it to keep your changes.");
    }
    events.clear();
    app->terminateWithoutAsking();
    EXPECT_EQ(events, apptest::Events{"ask " + *projects[0]->representedPath()});
    EXPECT_FALSE(app->isTerminating()) << "cancelled";

    fs::remove_all(bigCopy); // the next copy is written as the session ends: nothing to ask
    events.clear();
    app->terminateWithoutAsking();
    EXPECT_FALSE(askedAnything());
    EXPECT_TRUE(app->isTerminating());
}

// Edits whose copy could never be written (a file-size limit) are named at the next start after
// a crash, once, though no copy brings them back.
TEST_F(Recovery, EditsNoCopyEverHeldAreNamedAtTheNextStart) {
    launch();
    app->openDocument(saveScript(defaults, dir.path() / "lost.cwr", "as saved"));
    const auto project = app->workspace().projects().front();
    project->setText(platform::AttributedString(QString("Edited, never kept. ").repeated(2000)));
    keepEditsWithFilesUpTo(4096); // the index fits, the copy does not
    ASSERT_TRUE(editorOf(*project)->notice.startsWith("Unsaved edits of lost.cwr are not being kept"))
        << editorOf(*project)->notice.toStdString();
    ASSERT_EQ(copies(), 0u);

    restart();
    EXPECT_TRUE(app->workspace().projects().empty());
    ASSERT_EQ(alerts->shown().size(), 1u);
    EXPECT_EQ(alerts->shown().front().messageText.toStdString(), "Edits of lost.cwr could not be kept.");
    restart();
    EXPECT_EQ(alerts->shown().size(), 1u) << "told once";
}

// Edits after the last copy that could be written (later copies fail: a file-size limit) are
// named at the next start after a crash as missing from what came back, which is the copy
// before them; a start after a copy was written again says nothing of them.
TEST_F(Recovery, EditsNewerThanTheCopyBroughtBackAreNamedAtTheNextStart) {
    launch();
    app->openDocument(saveScript(defaults, dir.path() / "talk.cwr", "as saved"));
    app->newDocument();
    const auto projects = app->workspace().projects();
    projects[0]->setText(platform::AttributedString("first edits, kept"));
    projects[1]->setText(platform::AttributedString("untitled, kept"));
    keepEdits();
    ASSERT_EQ(copies(), 2u);
    projects[0]->setText(platform::AttributedString(QString("Later edits, never kept. ").repeated(4000)));
    keepEditsWithFilesUpTo(16384); // the first copy is there; the later one does not fit
    ASSERT_TRUE(editorOf(*projects[0])->notice.startsWith("Unsaved edits of talk.cwr are not being kept"))
        << editorOf(*projects[0])->notice.toStdString();

    restart(); // after a crash: nothing written on the way out
    const auto restored = app->workspace().projects();
    ASSERT_EQ(restored.size(), 2u);
    EXPECT_EQ(restored[0]->document().text.string(), "first edits, kept");
    ASSERT_EQ(alerts->shown().size(), 2u);
    EXPECT_EQ(alerts->shown()[0].messageText.toStdString(), "Unsaved changes were brought back.");
    EXPECT_EQ(alerts->shown()[1].messageText.toStdString(), "The last edits of talk.cwr could not be kept.");
    EXPECT_EQ(alerts->shown()[0].informativeText.toStdString(),
              "Cuewright ended before these scripts were saved: Untitled. Save them to keep the changes.");
    EXPECT_EQ(alerts->shown()[1].informativeText.toStdString(),
              "Cuewright ended before a recovery copy of them was written: what came back is older than the "
              "last edits. Save it to keep what came back.");

    // Ending the session writes the copies again: what comes back then is what was shown.
    for (const auto& project : restored) {
        editorOf(*project)->answer = CloseAnswer::cancel;
    }
    app->terminateWithoutAsking();
    restart();
    ASSERT_EQ(alerts->shown().size(), 3u);
    EXPECT_EQ(alerts->shown()[2].messageText.toStdString(), "Unsaved changes were brought back.");

    // An edit, then a crash before its copy was due: what comes back is older, and said so.
    for (const auto& project : app->workspace().projects()) {
        if (project->representedPath()) {
            project->setText(platform::AttributedString("typed after the last copy"));
        }
    }
    restart();
    EXPECT_EQ(alerts->shown().back().messageText.toStdString(),
              "The last edits of talk.cwr could not be kept.");
}

// Another instance edited the same script, and a copy of a third script was damaged: after a
// crash of both, the script comes back in two windows of which one alone is on its file, and
// the messages name what came back and what could not.
TEST_F(Recovery, CopiesOfOneFileComeBackInOneWindowOnItAndAnUnreadableCopyIsNamed) {
    const std::string saved = saveScript(defaults, dir.path() / "talk.cwr", "as saved");
    launch();
    app->openDocument(saved);
    app->workspace().projects()[0]->setText(platform::AttributedString("edited here"));
    writeOtherCopy(saved, "talk.cwr", "edited in the other instance");
    writeOtherCopy(saved + ".old", "broken.cwr");
    app->terminateWithoutAsking();
    alerts->answerButton("OK");
    alerts->answerButton("Discard");
    restart();
    const auto restored = app->workspace().projects();
    ASSERT_EQ(restored.size(), 2u);
    EXPECT_EQ(restored[0]->representedPath(), saved);
    EXPECT_EQ(restored[1]->representedPath(), std::nullopt);
    EXPECT_EQ(restored[1]->untitledName(), "talk (copy).cwr");
    ASSERT_EQ(alerts->shown().size(), 2u);
    const QString message = alerts->shown()[0].informativeText;
    EXPECT_TRUE(message.contains("talk.cwr, talk (copy).cwr")) << message.toStdString();
    EXPECT_TRUE(
        alerts->shown()[1].informativeText.contains("The unsaved changes of broken.cwr cannot be read"))
        << alerts->shown()[1].informativeText.toStdString();
}

// A copy that cannot be read is offered to Discard or to Show Folder, and once answered either
// way no start names it again; shown, it stays in the folder under a name of its own. A signal
// while the question is up answers nothing: no folder is shown and the next start asks again.
TEST_F(Recovery, AnUnreadableCopyIsAskedAboutOnce) {
    launch();
    for (const std::string_view answer : {"a signal", "Discard", "Show Folder"}) {
        SCOPED_TRACE(answer);
        if (answer != "Discard") { // the signal left its copy
            writeOtherCopy(std::nullopt, "broken.cwr");
        }
        if (answer == "a signal") {
            const auto previousAlerts = platform::setAlertRunner(quitting);
            restart();
            platform::setAlertRunner(previousAlerts);
            ASSERT_EQ(quitting->shown().size(), 1u);
            EXPECT_TRUE(app->isTerminating());
            EXPECT_TRUE(opener->opened.empty()) << "the signal answered Show Folder";
            continue;
        }
        const std::size_t before = alerts->shown().size();
        alerts->answerButton(QString::fromUtf8(answer.data(), qsizetype(answer.size())));
        restart();
        ASSERT_EQ(alerts->shown().size(), before + 1) << "asked once more";
        EXPECT_EQ(alerts->shown().back().buttons, (QStringList{"Show Folder", "Discard"}));
        restart();
        EXPECT_EQ(alerts->shown().size(), before + 1) << "asked again";
    }
    ASSERT_EQ(opener->opened.size(), 1u);
    EXPECT_EQ(opener->opened[0], QUrl::fromLocalFile(QString::fromStdString(folder().string())));
    std::vector<std::string> kept;
    for (const auto& item : fs::directory_iterator(folder())) {
        if (item.path().extension() == ".cwr") {
            kept.push_back(item.path().filename().string());
        }
    }
    ASSERT_EQ(kept.size(), 1u) << "the discarded copy stayed";
    EXPECT_TRUE(kept[0].starts_with("unreadable-")) << kept[0];
}

// Every other question a signal may come under answers nothing either: no save, no discard, no
// file replaced, no page shown, nothing put on the clipboard; the edits come back at the next start.
TEST_F(Recovery, QuittingUnderAQuestionAnswersNothing) {
    const auto dialogs = std::make_shared<platform::FakeFileDialogs>();
    const auto previousDialogs = platform::setFileDialogs(dialogs);
    struct Question {
        const char* name;
        std::function<void(const fs::path& path)> ask; // about the saved script `path`, its own
    };
    // The script open with unsaved edits, and the commands of its window.
    const auto edited = [this](const fs::path& path) {
        app->openDocument(path.string());
        const auto project = app->workspace().projects().back();
        project->setText(
            platform::AttributedString("edited " + QString::fromStdString(path.stem().string())));
        return cw::editor::DocumentCommands(project, nullptr, defaults);
    };
    using Outcome = cw::editor::DocumentCommands::Outcome;
    const std::vector<Question> questions{
        {"Save changes?",
         [&](const fs::path& path) {
             EXPECT_FALSE(edited(path).windowShouldClose()) << "the window closed";
         }},
        {"read-only: replace it?",
         [&](const fs::path& path) {
             auto commands = edited(path);
             fs::permissions(path, fs::perms::owner_read);
             EXPECT_EQ(commands.save(), Outcome::cancelled);
         }},
        {"changed on disk: save anyway?",
         [&](const fs::path& path) {
             auto commands = edited(path);
             saveScript(defaults, path, "changed elsewhere");
             EXPECT_EQ(commands.save(), Outcome::cancelled);
         }},
        {"no mail program: copy the message?",
         [&](const fs::path&) {
             opener->takes = false;
             cw::HelpActions(defaults).contactSupport();
             opener->takes = true;
             opener->opened.clear(); // the mail program it tried
             EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "as it was")
                 << "the message was copied";
         }},
        {"updates: open the web site?", [&](const fs::path&) { cw::Updater().checkForUpdates(); }},
    };
    for (const Question& question : questions) {
        SCOPED_TRACE(question.name);
        const fs::path path = dir.path() / (std::to_string(&question - questions.data()) + ".cwr");
        saveScript(defaults, path, "as saved");
        QGuiApplication::clipboard()->setText("as it was");
        restart();
        const auto previousAlerts = platform::setAlertRunner(quitting);
        const std::size_t shown = quitting->shown().size();
        question.ask(path);
        const std::string expected = fileBytes(path);
        platform::setAlertRunner(previousAlerts);
        ASSERT_EQ(quitting->shown().size(), shown + 1) << "the question was not asked";
        EXPECT_TRUE(app->isTerminating());
        EXPECT_EQ(fileBytes(path), expected) << "the script's file was written";
        EXPECT_TRUE(opener->opened.empty())
            << "the signal opened " << opener->opened.front().toString().toStdString();
        EXPECT_TRUE(dialogs->savePanels().empty()) << "the signal asked for a file name";
        opener->opened.clear();
    }
    restart();
    for (const char* kept : {"edited 0", "edited 1", "edited 2"}) {
        const auto projects = app->workspace().projects();
        EXPECT_TRUE(std::any_of(projects.begin(), projects.end(),
                                [&](const auto& p) { return p->document().text.string() == kept; }))
            << kept << " did not come back";
    }
    platform::setFileDialogs(previousDialogs);
}

// A signal during a start-up dialog, or while the offer to move the application is up.
TEST_F(Recovery, TheSessionEndingWhileLaunchingStartsNothingMore) {
    defaults.set(cw::settings::startupMode, "CreateNewDocument");
    for (const bool duringTheOffer : {false, true}) {
        SCOPED_TRACE(duringTheOffer ? "during the offer to move" : "before it");
        events.clear();
        devices.clear();
        if (duringTheOffer) {
            environment.offerMoveToApplicationsFolder = [this] { app->terminateWithoutAsking(); };
        }
        app.reset();
        app = cw::ApplicationController::create(environment);
        app->applicationWillFinishLaunching();
        if (!duringTheOffer) {
            app->terminateWithoutAsking();
        }
        app->applicationDidFinishLaunching();
        EXPECT_TRUE(app->isTerminating());
        EXPECT_TRUE(app->workspace().projects().empty());
        EXPECT_EQ(std::count(events.begin(), events.end(), "startNetworking"), 0);
        EXPECT_EQ(std::count(devices.begin(), devices.end(), "startGamepads"), 0);
    }
}

TEST_F(Recovery, CopiesGoWhenTheirEditsAreDiscardedOrSaved) {
    launch();
    app->newDocument();
    app->newDocument();
    const auto projects = app->workspace().projects();
    for (const auto& project : projects) {
        project->setText(platform::AttributedString("typed"));
    }
    ASSERT_EQ(scheduled.size(), 2u);
    keepEdits();
    EXPECT_EQ(copies(), 2u);

    projects[1]->save((dir.path() / "kept.cwr").string());
    EXPECT_EQ(copies(), 1u);
    EXPECT_TRUE(app->terminate()) << "Don't Save";
    EXPECT_EQ(copies(), 0u);
    restart();
    EXPECT_TRUE(app->workspace().projects().empty());
    EXPECT_TRUE(alerts->shown().empty());
}

// The real windows, offscreen: the editor and prompter windows report to the controller.
// Unless told otherwise the controller makes the real devices. The tests have no X display and
// no BlueZ: the key monitor warns and installs all the same, Bluetooth stays off.
struct RealApp : ::testing::Test {
    testsupport::TempDir dir;
    platform::Defaults defaults{{dir.path() / "defaults.json", std::chrono::hours(1), {}}};
    platform::NotificationCenter center;
    cw::ApplicationEnvironment environment;
    std::shared_ptr<cw::ApplicationController> app;
    RealApp() {
        defaults.set(cw::settings::startupMode, "DoNothing");
        environment.defaults = &defaults;
        environment.center = &center;
        environment.showsStartWindow = false;
    }
    ~RealApp() override { close(); }
    void launch() {
        app = cw::ApplicationController::create(environment);
        app->applicationWillFinishLaunching();
        app->applicationDidFinishLaunching();
    }
    void close() {
        app.reset();
        QCoreApplication::sendPostedEvents(nullptr, 0);
    }
};
using RealDevices = RealApp;

// The real windows beside fake alerts and remote listeners.
struct RealWindows : RealApp {
    Events events;
    std::shared_ptr<platform::FakeAlertRunner> alerts = std::make_shared<platform::FakeAlertRunner>();
    std::shared_ptr<platform::AlertRunner> previousAlerts = platform::setAlertRunner(alerts);
    std::shared_ptr<platform::ActivityInhibitor> previousInhibitor =
        platform::setSharedActivityInhibitor(std::make_shared<platform::FakeActivityInhibitor>());
    RealWindows() {
        environment.makeRemoteServers = [this](cw::Workspace&) {
            return std::make_unique<FakeServers>(events);
        };
    }
    ~RealWindows() override {
        close();
        platform::setAlertRunner(previousAlerts);
        platform::setSharedActivityInhibitor(previousInhibitor);
    }
    // A saved script in the one real editor window, active, its text view with the focus.
    cw::editor::ScriptTextView* openEditor(const char* name, const QString& text) {
        launch();
        app->openDocument(saveScript(defaults, dir.path() / name, text));
        QWidget* window = app->editorControllers().at(0)->window();
        window->activateWindow();
        auto* view = window->findChild<cw::editor::ScriptTextView*>();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window) && view && app->editorControllers().size() == 1);
        return view ? (view->setFocus(), view) : nullptr;
    }
    // The one editor closes without a question.
    bool closeEditor() {
        app->workspace().projects().front()->setHasUnsavedChanges(false);
        return app->editorControllers().front()->close();
    }
};

TEST_F(RealDevices, LaunchStartsAndTerminationStopsThem) {
    defaults.set(cw::settings::isBonjourEnabled, true);
    defaults.set(cw::settings::listenToShortcutsInBackground, true);
    defaults.set(cw::settings::bonjourKey, 0); // an ephemeral port
    // The real Bluetooth peripheral beside a network server that announces through a fake.
    environment.makeRemoteServers = [&](cw::Workspace& workspace) {
        cw::WorkspaceNetworking::Options network;
        network.netService = std::make_shared<platform::FakeNetService>();
        network.defaults = &defaults;
        network.pause = std::chrono::milliseconds(0);
        cw::WorkspaceBluetooth::Options bluetooth;
        bluetooth.defaults = &defaults;
        return std::make_unique<cw::WorkspaceRemoteServers>(
            cw::WorkspaceNetworking::make(workspace, network),
            cw::WorkspaceBluetooth::make(workspace, bluetooth));
    };
    testsupport::LogCapture log;
    launch();
    const auto ble = app->workspace().ble().server;
    ASSERT_NE(ble, nullptr);
    // Without BlueZ the peripheral says so by its state (its log line comes once per process).
    const auto unsupported = [&] {
        return ble->manager() && ble->manager()->state() == platform::bluetooth::ManagerState::unsupported;
    };
    EXPECT_TRUE(QTest::qWaitFor(unsupported, 20000));
    EXPECT_FALSE(ble->manager()->isAdvertising());
    app->applicationWillTerminate();
    close();

    // The devices' own lines, in order.
    const std::vector<std::string> expected{
        "Installing global event monitor...", "We're not trusted to receive global keys!",
        "starting bluetooth ...", "Uninstalling global event monotir...", "stopping bluetooth ..."};
    std::vector<std::string> lines;
    for (std::string line : log.lines()) {
        line = line.substr(0, line.find(" ("));
        if (std::find(expected.begin(), expected.end(), line) != expected.end()) {
            lines.push_back(line);
        }
    }
    EXPECT_EQ(lines, expected);
}

TEST_F(RealWindows, EditorAndPrompterWindowsReportToTheController) {
    ASSERT_TRUE(openEditor("real.cwr", "A saved script\nwith two lines"));
    QWidget* window = app->editorControllers().front()->window();
    const auto project = app->workspace().projects().front();
    EXPECT_TRUE(platform::sendAction("spawnIndependentPrompterWindow:", window, nullptr));
    ASSERT_EQ(app->freeFloatingPrompterControllers().size(), 1u);
    EXPECT_EQ(app->freeFloatingPrompterControllers().front()->project(), project);
    EXPECT_TRUE(app->performBindingAction(*project, Action::scrollLineDown, true)) << "a loaded view steps";

    EXPECT_TRUE(app->applicationShouldTerminate());

    window->resize(window->width() + 120, window->height()); // a new column is no edit
    const std::size_t alertsBefore = alerts->shown().size();
    EXPECT_TRUE(app->editorControllers().front()->close());
    EXPECT_EQ(alerts->shown().size(), alertsBefore) << "an untouched script closes without a question";
    EXPECT_TRUE(app->editorControllers().empty());
    EXPECT_TRUE(app->freeFloatingPrompterControllers().empty()) << "its prompter window closed with it";
    EXPECT_TRUE(app->workspace().projects().empty());

    // An untitled script with changes: "Save" whose panel is cancelled, or whose file cannot be
    // written, keeps the window and cancels the quit.
    app->newDocument();
    const auto untitled = app->workspace().projects().back();
    untitled->setText(platform::AttributedString(QStringLiteral("changed")));
    auto dialogs = std::make_shared<platform::FakeFileDialogs>();
    const auto previousDialogs = platform::setFileDialogs(dialogs);
    const std::size_t asked = alerts->shown().size();
    dialogs->answerSave(QString::fromStdString((dir.path() / "missing-folder" / "x.cwr").string()));
    alerts->answerButton(QStringLiteral("Save")); // the close question; the file cannot be written
    alerts->answerButton(QStringLiteral("OK"));   // the save's error
    EXPECT_FALSE(app->applicationShouldTerminate());
    EXPECT_EQ(app->editorControllers().size(), 1u);
    alerts->answerButton(QStringLiteral("Save")); // the close question; the save panel is cancelled
    EXPECT_FALSE(app->applicationShouldTerminate());
    EXPECT_EQ(app->editorControllers().size(), 1u);
    EXPECT_EQ(alerts->shown().size(), asked + 3);
    platform::setFileDialogs(previousDialogs);
    alerts->answerButton(QStringLiteral("Don't Save"));
    EXPECT_TRUE(app->applicationShouldTerminate());
    EXPECT_TRUE(app->editorControllers().empty());
}

// In a real editor window, Ctrl+D inserts the bookmark at the editor's line and deletes it again;
// the Bookmarks menu names what its item will do and the Edit menu's Undo names the step.
TEST_F(RealWindows, BookmarkShortcutAndMenuTitlesInTheEditorWindow) {
    cw::editor::ScriptTextView* view = openEditor("marks.cwr", "First line\nSecond line");
    ASSERT_TRUE(view);
    cw::editor::ScriptTextView& text = *view;
    text.moveCursor(QTextCursor::Start);
    const auto project = app->workspace().projects().front();
    cw::MainMenu& menus = app->mainMenu();
    QAction* toggle = menus.action("toggleBookmark:");
    ASSERT_TRUE(toggle);
    QAction* undo = menus.action("undo:");

    const struct {
        std::size_t bookmarks;
        const char* toggleTitle;
        const char* undoTitle;
    } steps[] = {{1, "Delete Bookmark", "Undo Insert Bookmark at line 1"},
                 {0, "Insert Bookmark", "Undo Delete Bookmark"}};
    for (const auto& step : steps) {
        QTest::keyClick(&text, Qt::Key_D, Qt::ControlModifier);
        EXPECT_EQ(project->bookmarks().size(), step.bookmarks);
        for (QMenu* menu : menus.menus())
            menus.validate(*menu);
        EXPECT_EQ(toggle->text().toStdString(), step.toggleTitle);
        EXPECT_EQ(undo->text().toStdString(), step.undoTitle);
    }
    // Away from the editor the Edit menu's item takes its own title again.
    text.window()->setFocus();
    menus.validateAll();
    EXPECT_EQ(undo->text().toStdString(), "Undo");
    EXPECT_TRUE(closeEditor());
}

// Ctrl+B, Ctrl+I and Ctrl+U style the editor's selection through the Edit menu's items, each an
// undo step the menu names; Cut and Copy wait for a selection. The Keys pane refuses the keys of the
// menus, the editor window's own and the application's, naming the item.
TEST_F(RealWindows, TheEditMenuStylesTheSelectionAndTheKeysPaneRefusesMenuKeys) {
    cw::editor::ScriptTextView* text = openEditor("styled.cwr", "alpha beta");
    ASSERT_TRUE(text);
    cw::MainMenu& menus = app->mainMenu();
    const auto enabled = [&](const char* action) {
        menus.validateAll();
        return menus.action(action)->isEnabled();
    };
    text->moveCursor(QTextCursor::End);
    EXPECT_FALSE(enabled("cut:") || enabled("copy:")) << "nothing selected";
    EXPECT_TRUE(enabled("paste:"));
    text->moveCursor(QTextCursor::StartOfWord, QTextCursor::KeepAnchor); // "beta"
    EXPECT_TRUE(enabled("cut:") && enabled("copy:"));
    for (const auto& [key, action, undoTitle] : {std::tuple{Qt::Key_B, "toggleBold:", "Undo Bold"},
                                                 {Qt::Key_I, "toggleItalic:", "Undo Italic"},
                                                 {Qt::Key_U, "toggleUnderline:", "Undo Underline"}}) {
        EXPECT_TRUE(enabled(action));
        EXPECT_FALSE(menus.action(action)->shortcut().isEmpty());
        QTest::keyClick(text, key, Qt::ControlModifier);
        menus.validateAll();
        EXPECT_EQ(menus.action("undo:")->text().toStdString(), undoTitle);
    }
    const auto shown = cw::editor::attributedText(*text->document()).attributes(7);
    ASSERT_TRUE(shown.font);
    EXPECT_TRUE(shown.font->bold && shown.font->italic && shown.underlineStyle.value_or(0) != 0);

    cw::KeysSettingsController pane(defaults, center);
    cw::KeyWellButton* well = pane.controls().wells[0];
    for (const auto& [key, modifiers, refusal] :
         {std::tuple{Qt::Key_D, Qt::KeyboardModifiers(Qt::ControlModifier), "“Insert Bookmark”"},
          {Qt::Key_E, Qt::KeyboardModifiers(Qt::ControlModifier), "“Export…”"},
          {Qt::Key_P, Qt::ControlModifier | Qt::ShiftModifier, "“New Prompter Window”"},
          {Qt::Key_F1, Qt::KeyboardModifiers(Qt::NoModifier), "“Cuewright Help”"},
          {Qt::Key_3, Qt::KeyboardModifiers(Qt::ControlModifier), "Bookmark 3"},
          {Qt::Key_B, Qt::KeyboardModifiers(Qt::ControlModifier), "editing"},
          {Qt::Key_Y, Qt::KeyboardModifiers(Qt::ControlModifier), "editing"}}) {
        well->setChecked(true);
        QTest::keyClick(well, key, modifiers);
        EXPECT_FALSE(well->key()) << refusal;
        EXPECT_TRUE(pane.controls().refusal->text().contains(QString::fromUtf8(refusal)))
            << pane.controls().refusal->text().toStdString();
    }
    well->setChecked(true);
    QTest::keyClick(well, Qt::Key_K, Qt::ControlModifier);
    EXPECT_TRUE(well->key()) << "a key no menu has";
    EXPECT_TRUE(closeEditor());
}

} // namespace

// Names and texts from outside are shown as they are, never as markup: every label, alert and
// window title of the real windows that shows a file name, a script's text or a notice naming a
// script, with a name that would render a headline and load a picture.
TEST(PlainText, EveryLabelAlertAndTitleShowsOutsideTextAsText) {
    Fixture f;
    f.environment.windows = {}; // the application's real windows
    f.app = cw::ApplicationController::create(f.environment);
    f.launch();
    const QString hostile = QStringLiteral("<h1 style=color:red>FAKE ALERT<img src=logo.png>");
    const std::string name = hostile.toStdString();
    // A script of that name, with a title placeholder and a mnemonic mark in it too, and a notice
    // naming it.
    const std::string scriptName = name + "[*] Q&A.cwr";
    const std::string script = saveScript(f.defaults, f.dir.path() / scriptName,
                                          QStringLiteral("*") + hostile + QStringLiteral("\nThe news."));
    ASSERT_TRUE(f.app->openFile(script));
    ASSERT_FALSE(f.app->editorControllers().empty());
    f.app->spawnPrompterWindow(f.app->editorControllers().back()->project(),
                               cw::TeleprompterWindowPreset::normal);
    // The editor's title and the prompter's show the name as it is.
    const auto titles = [] {
        std::set<std::string> shown;
        for (QWidget* window : QApplication::topLevelWidgets())
            if (window->isVisible() && window->windowHandle())
                shown.insert(window->windowHandle()->title().toStdString());
        return shown;
    };
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            const std::set<std::string> shown = titles();
            return shown.count(scriptName) && shown.count("Prompter Window - " + scriptName);
        },
        30000))
        << ::testing::PrintToString(titles());
    // Open Recent names it as it is, with no mnemonic.
    QMenu* recent = f.app->mainMenu().recentMenu();
    recent->popup(QPoint());
    ASSERT_FALSE(recent->actions().isEmpty());
    EXPECT_EQ(recent->actions().front()->iconText().toStdString(), scriptName);
    EXPECT_TRUE(QKeySequence::mnemonic(recent->actions().front()->text()).isEmpty());
    recent->hide();
    f.app->editorControllers().back()->setNotice(
        QStringLiteral("The copy of \u201C%1\u201D failed.").arg(hostile));
    // A file being opened, in its progress window, with a title placeholder in its name.
    const std::string large = f.dir.path() / (name + "[*].txt");
    std::ofstream(large) << "Hello\n";
    cw::LargeFileOpening opening(large, cw::ScriptImport::DefaultStyle{}, [](auto) {
        return cw::LargeFileOpening::Opened{[] { return std::optional(0.5); }, [] {}, [] {}, {}};
    });
    // Until the progress window shows.
    const auto showing = [] {
        const QList<QWidget*> widgets = QApplication::allWidgets();
        return std::count_if(widgets.begin(), widgets.end(), [](QWidget* widget) {
            auto* label = qobject_cast<QLabel*>(widget);
            return label && label->text().contains(QStringLiteral("FAKE ALERT"));
        });
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return opening.progressWindow() && showing() >= 2; }, 30000));
    // An alert about a file of that name, as the application words it, shown by the real runner.
    EXPECT_FALSE(f.app->openFile(f.dir.path() / (name + ".xyz")));
    ASSERT_FALSE(f.alerts->shown().empty());

    const std::unique_ptr<QMessageBox> alert =
        platform::MessageBoxAlertRunner::makeBox(f.alerts->shown().back(), nullptr);
    alert->show();

    std::vector<QLabel*> labels;
    for (QWidget* widget : QApplication::allWidgets()) {
        auto* label = qobject_cast<QLabel*>(widget);
        if (label && label->text().contains(QStringLiteral("FAKE ALERT"))) {
            labels.push_back(label);
            EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->text().toStdString();
        }
    }
    // The progress window's label and title, the notice line and the alert's text.
    EXPECT_EQ(labels.size(), 3u);
    ASSERT_TRUE(opening.progressWindow());
    EXPECT_EQ(opening.progressWindow()->windowHandle()->title().toStdString(), "Opening " + name + "[*].txt");
    opening.cancel();
}

// Settings that could not be read are told of once, after the start, each named in plain words
// with where the file as it was is kept, and the file then no longer holds them.
TEST_F(Shell, SettingsThatCouldNotBeReadAreToldOfOnceByName) {
    const fs::path file = dir.path() / "partly.json";
    std::ofstream(file) << "{\"bonjourName\": \"" << std::string(5000, 'n')
                        << "\", \"userInterfaceStyle\": \"" << std::string(5000, 'd')
                        << "\", \"StartupMode\": \"DoNothing\", \"defaultTextColor\": 12}";
    {
        platform::Defaults partly({file, std::chrono::hours(1), {}});
        launchOn(&partly);
        EXPECT_TRUE(alerts->shown().empty()) << "the start waits for nobody";
        EXPECT_TRUE(QTest::qWaitFor([&] { return !alerts->shown().empty(); }, 10000));
        ASSERT_EQ(alerts->shown().size(), 1u);
        const platform::Alert& told = alerts->shown().front();
        EXPECT_EQ(told.messageText.toStdString(),
                  "3 settings could not be read and were reset to their defaults.");
        EXPECT_TRUE(told.informativeText.startsWith(
            "Reset: the remote control's name, the appearance, the text colour of new scripts. "))
            << told.informativeText.toStdString();
        EXPECT_TRUE(
            told.informativeText.contains("kept as “" + QString::fromStdString(file.string()) + ".damaged-"))
            << told.informativeText.toStdString();
        EXPECT_EQ(partly.stringForKey(cw::settings::startupMode), "DoNothing");
        ASSERT_TRUE(partly.synchronize());
        launchOn(nullptr);
    }
    platform::Defaults again({file, std::chrono::hours(1), {}});
    cw::registerUserDefaults(again);
    EXPECT_FALSE(again.resetAtLoad().any());
}

// A settings change that cannot be written is told of when it happens, once until a save goes
// through again.
TEST_F(Shell, SettingsThatCannotBeSavedAreToldOfOnce) {
    bool failing = true;
    platform::Defaults unsaved(
        {dir.path() / "unsaved.json", std::chrono::hours(1), [&](const fs::path&) { return !failing; }});
    launchOn(&unsaved);
    for (int change = 0; change < 2; ++change) {
        unsaved.set(cw::settings::manualScrollingEnabled, change == 0);
        EXPECT_FALSE(unsaved.synchronize());
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return !alerts->shown().empty(); }, 10000));
    QCoreApplication::processEvents();
    ASSERT_EQ(alerts->shown().size(), 1u);
    EXPECT_EQ(alerts->shown().front().messageText.toStdString(),
              "Changes to the settings could not be saved.");
    failing = false;
    EXPECT_TRUE(unsaved.synchronize());
    failing = true;
    unsaved.set(cw::settings::manualScrollingEnabled, true);
    EXPECT_FALSE(unsaved.synchronize());
    EXPECT_TRUE(QTest::qWaitFor([&] { return alerts->shown().size() == 2; }, 10000));
    launchOn(nullptr);
}
