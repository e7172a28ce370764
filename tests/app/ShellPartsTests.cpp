// The shell's small parts: the recent-documents list, the Help menu and handing files to the
// running instance.
#include "base/PrivateFolder.h"
#include "cuewright/app/ApplicationController.h"
#include "cuewright/app/CommandLine.h"
#include "cuewright/app/MainMenu.h"
#include "cuewright/app/RecentDocuments.h"
#include "cuewright/app/SignalQuit.h"
#include "cuewright/app/SingleInstance.h"
#include "cuewright/app/WindowBindingKeys.h"
#include "cuewright/model/KeyBindings.h"
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/settings/KeyWellButton.h"
#include "platform/defaults/Defaults.h"
#include "platform/ui/FakeAlertRunner.h"
#include "platform/ui/StandardShortcut.h"

#include "support/LogCapture.h"
#include "support/OtherUserListener.h"
#include "support/ShortOfDescriptors.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QShortcut>
#include <QStandardPaths>
#include <QSysInfo>
#include <QTest>
#include <QThread>
#include <QUuid>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <thread>
#include <tuple>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Sets an environment variable for the life of the object.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const std::string& value)
        : name_(name) {
        if (const char* previous = std::getenv(name))
            previous_ = previous;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedVariable() { previous_ ? setenv(name_, previous_->c_str(), 1) : unsetenv(name_); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* name_;
    std::optional<std::string> previous_;
};

TEST(RecentDocuments, MostRecentFirstAtMostTenNoDuplicatesMissingFilesKept) {
    testsupport::TempDir dir;
    platform::Defaults defaults({dir.path() / "defaults.json", std::chrono::hours(1), {}});
    cw::RecentDocuments recent(defaults);
    std::vector<std::string> paths;
    for (int i = 0; i < 12; ++i) {
        paths.push_back((dir.path() / ("s" + std::to_string(i) + ".cwr")).string());
        std::ofstream(paths.back()) << "x";
        recent.note(paths.back());
    }
    recent.note(paths[5]);
    const std::vector<std::string> listed = recent.paths();
    ASSERT_EQ(listed.size(), 10u);
    EXPECT_EQ(listed[0], paths[5]);
    EXPECT_EQ(listed[1], paths[11]);
    EXPECT_EQ(std::count(listed.begin(), listed.end(), paths[5]), 1);
    EXPECT_EQ(std::count(listed.begin(), listed.end(), paths[1]), 0) << "the oldest fell off";

    fs::remove(paths[11]);
    EXPECT_EQ(recent.paths(), listed) << "a file out of reach is kept";
    recent.clear();
    EXPECT_TRUE(recent.paths().empty());
}

// Every help page and window has its item in the Help menu; only the companion app's download page
// is reached from its own window's link instead.
TEST(MainMenu, HelpOffersEveryPageAndWindow) {
    const cw::MainMenu menu({});
    const std::string_view actions[] = {"helpShowManual:",
                                        "helpShowKeyboardShortcutsWindow:",
                                        "helpShowGamepadLayoutWindow:",
                                        "showDownloadiOSAppWindow:",
                                        "helpShowFAQ:",
                                        "helpUseIpadAsADisplay:",
                                        "helpFixDisplayIssues:",
                                        "helpFixPerformanceIssues:",
                                        "suggestAnImprovement:",
                                        "contactSupport:",
                                        "visitWebsite:",
                                        "visitBlog:"};
    for (std::string_view action : actions) {
        const QAction* item = menu.action(action);
        ASSERT_NE(item, nullptr) << action;
        EXPECT_TRUE(menu.menus().back()->actions().contains(const_cast<QAction*>(item))) << action;
        EXPECT_FALSE(item->text().isEmpty()) << action;
    }
}

// A plain window gets the application's keys when it shows, and the Close key unless it has its
// own; one whose bar holds the menus keeps them there; a dialog gets neither; showing again adds
// nothing.
TEST(MainMenu, EveryWindowShownGetsTheApplicationKeysAndTheCloseKey) {
    const cw::MainMenu menu({});
    const QKeySequence close = platform::standardShortcut(QKeySequence::Close);
    QWidget plain;
    QWidget ownClose;
    new QShortcut(close, &ownClose);
    QWidget withBar;
    (new QVBoxLayout(&withBar))->setMenuBar(menu.makeMenuBar(&withBar));
    QDialog dialog;
    const struct {
        QWidget* window;
        const char* name;
        bool getsItems;
        long closeKeys;
    } cases[] = {{&plain, "plain", true, 1},
                 {&ownClose, "own close key", true, 1},
                 {&withBar, "menu bar", false, 1},
                 {&dialog, "dialog", false, 0}};
    const auto closeKeys = [&](const QWidget& w) {
        const QList<QShortcut*> shortcuts = w.findChildren<QShortcut*>();
        return std::count_if(shortcuts.begin(), shortcuts.end(),
                             [&](const QShortcut* s) { return s->keys().contains(close); });
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (int shown = 0; shown < 2; ++shown) {
            c.window->show();
            c.window->hide();
        }
        EXPECT_EQ(c.window->actions().contains(menu.action("terminate:")), c.getsItems);
        EXPECT_EQ(closeKeys(*c.window), c.closeKeys);
        EXPECT_TRUE(c.closeKeys || c.window->actions().isEmpty()) << "a dialog gets nothing";
    }
}

// With background listening on, the bindings act in a window that does not run them itself: from
// a button, and from a text field only held with Ctrl, Alt or Super or on an F-key. A recording
// key well keeps its key, a window that runs its own bindings is left alone, and nothing acts with
// listening off. A held wind ends when its key goes up, also in a menu opened meanwhile (which has
// the keyboard then), or when the keyboard goes to another window.
TEST(WindowBindingKeys, BindingsActInTheOtherWindowsButWhereTheKeyIsTheControls) {
    namespace kc = platform::keycode;
    using Action = cw::KeyBindings::Action;
    using Performed = std::vector<std::pair<Action, bool>>;
    testsupport::TempDir dir;
    platform::Defaults defaults({dir.path() / "defaults.json", std::chrono::hours(1), {}});
    cw::KeyBindings bindings;
    bindings.playPause = cw::KeyBindings::Key{kc::p, 0};
    bindings.rewind = cw::KeyBindings::Key{kc::f8, platform::modifier::function};
    bindings.ffwd = cw::KeyBindings::Key{kc::f9, platform::modifier::function};
    defaults.set(cw::settings::customKeyBindings, bindings.storedValue());
    defaults.set(cw::settings::performCustomBindingActionOnKeyDown, true);

    QWidget settings;
    auto* layout = new QVBoxLayout(&settings);
    auto* button = new QPushButton("Button", &settings);
    auto* field = new QLineEdit(&settings);
    auto* well = new cw::KeyWellButton(&settings);
    for (QWidget* control : std::initializer_list<QWidget*>{button, field, well}) {
        layout->addWidget(control);
    }
    QWidget editor; // runs its own bindings
    auto* editorButton = new QPushButton("Editor", &editor);
    Performed performed;
    const cw::WindowBindingKeys keys(
        defaults, [&](const QWidget& window) { return &window == &editor; },
        [&](Action action, bool isDown) { performed.emplace_back(action, isDown); });
    editor.show();
    settings.show();
    const auto focusOn = [](QWidget* control) {
        control->window()->activateWindow();
        control->setFocus();
        return QTest::qWaitForWindowActive(control->window()) &&
               QTest::qWaitFor([&] { return control->hasFocus(); });
    };

    const struct {
        const char* name;
        QWidget* control;
        Qt::Key key;
        bool listening;
        Performed performed;
    } cases[] = {
        {"P on a button", button, Qt::Key_P, true, {{Action::playPause, true}}},
        {"F8 on a button", button, Qt::Key_F8, true, {{Action::rewind, true}}},
        {"P typed into a field", field, Qt::Key_P, true, {}},
        {"F8 in a field", field, Qt::Key_F8, true, {{Action::rewind, true}}},
        {"F8 recorded in a well", well, Qt::Key_F8, true, {}},
        {"P in a window with bindings of its own", editorButton, Qt::Key_P, true, {}},
        {"P with listening off", button, Qt::Key_P, false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        defaults.set(cw::settings::listenToShortcutsInBackground, c.listening);
        ASSERT_TRUE(focusOn(c.control));
        if (c.control == well) {
            well->setChecked(true);
        }
        performed.clear();
        QTest::keyClick(c.control, c.key);
        EXPECT_EQ(performed, c.performed);
    }
    EXPECT_EQ(field->text(), "p");
    EXPECT_EQ(well->key(), bindings.rewind);

    defaults.set(cw::settings::listenToShortcutsInBackground, true);
    QMenu menu;
    menu.addAction("Item");
    enum class Then { keyUp, keyUpInAMenu, keyboardToTheEditor };
    for (const Then then : {Then::keyUp, Then::keyUpInAMenu, Then::keyboardToTheEditor}) {
        SCOPED_TRACE(int(then));
        ASSERT_TRUE(focusOn(button));
        performed.clear();
        QTest::keyPress(button, Qt::Key_F9);
        EXPECT_EQ(performed, (Performed{{Action::ffwd, true}}));
        switch (then) {
        case Then::keyUp:
            QTest::keyRelease(button, Qt::Key_F9);
            break;
        case Then::keyUpInAMenu:
            menu.popup(button->mapToGlobal(QPoint(0, 0)));
            ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activePopupWidget() == &menu; }));
            EXPECT_EQ(performed, (Performed{{Action::ffwd, true}})) << "the wind ended before its key-up";
            QTest::keyRelease(&menu, Qt::Key_F9);
            menu.close();
            break;
        case Then::keyboardToTheEditor:
            ASSERT_TRUE(focusOn(editorButton));
            break;
        }
        EXPECT_EQ(performed, (Performed{{Action::ffwd, true}, {Action::ffwd, false}}));
    }
}

// The real application as a start of the instance `name`, in folders of its own under `home` (in
// case it does not end), and its runtime folder `runtime` when given.
QProcessEnvironment startEnvironment(const QString& name, const fs::path& home,
                                     const fs::path& runtime = {}) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!runtime.empty()) {
        environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime.string()));
    }
    environment.insert("CUEWRIGHT_INSTANCE_NAME", name);
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("CUEWRIGHT_DATA_DIR", QString::fromStdString((home / "data").string()));
    environment.insert("CUEWRIGHT_DEFAULTS_FILE", QString::fromStdString((home / "defaults.json").string()));
    environment.insert("XDG_CONFIG_HOME", QString::fromStdString((home / "config").string()));
    environment.insert("XDG_DATA_HOME", QString::fromStdString((home / "share").string()));
    return environment;
}

// Runs the event loop until `done` holds; false after a minute (a passing run never waits so long).
bool processEventsUntil(const std::function<bool()>& done) {
    return QTest::qWaitFor(done, 60000);
}

// Runs the real application as a second start with `arguments` in `folder` until it ends;
// whether it ended at once, having handed its paths over.
bool handsOver(const QString& name, const QStringList& arguments, const fs::path& folder = {}) {
    testsupport::TempDir home;
    QProcess second;
    second.setProcessEnvironment(startEnvironment(name, home.path()));
    if (!folder.empty()) {
        second.setWorkingDirectory(QString::fromStdString(folder.string()));
    }
    second.start(QStringLiteral(CW_APP_BINARY), arguments);
    return second.waitForStarted() &&
           processEventsUntil([&] { return second.state() == QProcess::NotRunning; }) &&
           second.exitStatus() == QProcess::NormalExit && second.exitCode() == 0;
}

QString uniqueInstanceName() {
    return QStringLiteral("cuewright-test-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
}

// Asked from a terminal without a display (an SSH session), the usage is printed all the same,
// and an option the program does not have is refused by name with a status, never opened as a
// file; after "--" a name like an option is a file.
TEST(CommandLine, HelpIsPrintedAndAnUnknownOptionRefusedWithoutADisplay) {
    testsupport::TempDir home;
    QProcessEnvironment environment = startEnvironment(uniqueInstanceName(), home.path());
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        environment.remove(variable);
    }
    // Each with its status and the beginning of what it says (standard output, else error).
    const std::tuple<QStringList, int, QByteArray> starts[] = {
        {{"--help"}, 0, "usage: cuewright [--] [FILE...]"},
        {{"-h"}, 0, "usage: cuewright [--] [FILE...]"},
        {{"--version"}, 2, "cuewright: unknown option \"--version\""},
        {{"talk.cwr", "-platfrom", "offscreen"}, 2, "cuewright: unknown option \"-platfrom\""},
        {{"talk.cwr", "-platform"}, 2, "cuewright: unknown option \"-platform\""},
        {{"-style=", "-platform=xcb"}, 2, "cuewright: unknown option \"-style=\""},
    };
    for (const auto& [arguments, status, said] : starts) {
        QProcess start;
        start.setProcessEnvironment(environment);
        start.start(QStringLiteral(CW_APP_BINARY), arguments);
        ASSERT_TRUE(start.waitForFinished(30000)) << arguments.join(' ').toStdString();
        EXPECT_EQ(start.exitStatus() == QProcess::NormalExit ? start.exitCode() : -1, status);
        EXPECT_TRUE((status ? start.readAllStandardError() : start.readAllStandardOutput()).startsWith(said))
            << arguments.join(' ').toStdString();
    }
    const char* argv[] = {"cuewright", "a.cwr", "-session", "s1", "", "--", "--version", "-h", "-", "-sync"};
    const cw::CommandLine line = cw::CommandLine::parse(10, argv);
    EXPECT_EQ(line.files, (std::vector<std::string>{"a.cwr", "--version", "-h", "-", "-sync"}));
    EXPECT_EQ(line.toolkitArguments, (std::vector<std::string>{"-session", "s1"}));
    const char* joined[] = {"cuewright", "-style=fusion", "-stylesheet=a.qss", "--", "-style=x"};
    EXPECT_EQ(cw::CommandLine::parse(5, joined).toolkitArguments,
              (std::vector<std::string>{"-style=fusion", "-stylesheet=a.qss"}));
}

TEST(SingleInstance, ASecondStartHandsItsPathsToTheRunningOne) {
    const QString name = uniqueInstanceName();
    cw::SingleInstance running(name);
    std::vector<QStringList> received;
    ASSERT_TRUE(running.listen([&](const QStringList& paths) { received.push_back(paths); }));

    testsupport::TempDir dir;
    const QString folder = QString::fromStdString(dir.path().string());
    const fs::path script = dir.path() / "handed.cwr";
    std::ofstream(script) << "x";
    // A name may hold a line break; each path arrives whole, a relative one from the sender's folder.
    std::ofstream(dir.path() / "a.txt\nnotes.txt") << "x";
    const struct {
        QStringList arguments;
        QStringList expected;
    } cases[] = {
        {{QString::fromStdString(script.string())}, {QString::fromStdString(script.string())}},
        {{}, {}},
        {{QStringLiteral("a.txt\nnotes.txt"), QStringLiteral("handed.cwr")},
         {folder + QStringLiteral("/a.txt\nnotes.txt"), folder + QStringLiteral("/handed.cwr")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(u'|').toStdString());
        received.clear();
        EXPECT_TRUE(handsOver(name, c.arguments, dir.path()));
        // The list reaches the main thread after the answer went out.
        ASSERT_TRUE(processEventsUntil([&] { return !received.empty(); }));
        ASSERT_EQ(received.size(), 1u);
        EXPECT_EQ(received[0], c.expected) << "without paths the running one is asked to come forward";
    }
}

TEST(SingleInstance, TheRunningOneAnswersBeforeItOpensTheFiles) {
    const QString name = uniqueInstanceName();
    cw::SingleInstance running(name);
    std::vector<QStringList> received;
    bool answeredBeforeOpening = false;
    QProcess start;
    ASSERT_TRUE(running.listen([&](const QStringList& paths) {
        received.push_back(paths);
        // Opening a large file, longer than a start waits: that start has its answer already
        // and ends; without one it would go on on its own.
        answeredBeforeOpening = start.waitForFinished(30000) && start.exitCode() == 0;
    }));
    testsupport::TempDir home;
    start.setProcessEnvironment(startEnvironment(name, home.path()));
    start.start(QStringLiteral(CW_APP_BINARY), {QStringLiteral("/home/ann/large.txt")});
    ASSERT_TRUE(start.waitForStarted());
    EXPECT_TRUE(processEventsUntil([&] { return !received.empty(); }));
    start.kill();
    start.waitForFinished();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_TRUE(answeredBeforeOpening) << "the second start was left waiting while the files opened";
}

TEST(SingleInstance, AnInstanceRemovesOnlyItsOwnSocket) {
    testsupport::TempDir dir;
    const QString path = QString::fromStdString((dir / "instance").string());
    std::vector<QStringList> received;
    auto silent = std::make_unique<cw::SingleInstance>(path);
    ASSERT_TRUE(silent.get()->listen([](const QStringList&) {}));
    // A later start found it silent and took the place.
    QFile::remove(path);
    cw::SingleInstance later(path);
    ASSERT_TRUE(later.listen([&](const QStringList& paths) { received.push_back(paths); }));
    silent.reset(); // the silent one quits
    ASSERT_TRUE(QFileInfo::exists(path)) << "the first one removed the socket of the one that replaced it";
    EXPECT_TRUE(handsOver(path, {QStringLiteral("/home/ann/a.cwr")}));
    ASSERT_TRUE(processEventsUntil([&] { return !received.empty(); }));
    EXPECT_EQ(received, std::vector<QStringList>{{QStringLiteral("/home/ann/a.cwr")}});
}

// The process listening on the local socket `path`; 0 when none does (or its queue is full, as a
// stopped one's fills). Reached through a descriptor of its folder, as a path of any length is.
pid_t listenerOf(const QString& path) {
    const fs::path file = path.toStdString();
    const int folder = ::open(file.parent_path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    const int connection = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "/proc/self/fd/%d/%s", folder,
                  file.filename().c_str());
    ucred credentials{};
    socklen_t length = sizeof credentials;
    const bool found = ::connect(connection, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                       ::getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0;
    ::close(connection);
    ::close(folder);
    return found ? credentials.pid : 0;
}

// Three starts at the same moment (a double click beside a session's autostart): one becomes
// the running instance and keeps its socket, the other two hand over to it and end. Many
// rounds, as the starts race each other.
TEST(SingleInstance, StartsAtTheSameMomentLeaveOneInstanceAndItsSocket) {
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE(round);
        testsupport::TempDir runtime;
        testsupport::TempDir home;
        const QString name = uniqueInstanceName();
        const QProcessEnvironment environment = startEnvironment(name, home.path(), runtime.path());
        std::vector<std::unique_ptr<QProcess>> starts;
        for (int i = 0; i < 3; ++i) {
            starts.push_back(std::make_unique<QProcess>());
            starts.back()->setProcessEnvironment(environment);
        }
        for (const auto& start : starts)
            start->start(QStringLiteral(CW_APP_BINARY), {});
        const auto running = [&] {
            return std::count_if(starts.begin(), starts.end(),
                                 [](const auto& s) { return s->state() != QProcess::NotRunning; });
        };
        QElapsedTimer guard;
        guard.start();
        while (running() > 1 && guard.elapsed() < 60000) {
            starts[std::size_t(guard.elapsed() / 50 % 3)]->waitForFinished(50);
        }
        ASSERT_EQ(running(), 1) << "more than one instance stayed";
        const auto& survivor = *std::find_if(
            starts.begin(), starts.end(), [](const auto& s) { return s->state() != QProcess::NotRunning; });
        for (const auto& start : starts) {
            if (start != survivor) {
                EXPECT_EQ(start->exitStatus(), QProcess::NormalExit);
                EXPECT_EQ(start->exitCode(), 0) << "a start that ended did not hand over";
            }
        }
        EXPECT_EQ(listenerOf(QString::fromStdString((runtime / name.toStdString()).string())),
                  pid_t(survivor->processId()))
            << "the running instance has no socket";
        survivor->kill();
        survivor->waitForFinished();
    }
}

bool hasLine(const testsupport::LogCapture& log, const std::string& part) {
    const auto lines = log.lines();
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.find(part) != l.npos; });
}

// Starts the real application with the instance `name` and tells whether it became the
// running instance at `socket` (answering a hand-over) instead of ending; `tempFolder`, when
// given, is its temporary folder.
bool becomesTheRunningInstance(const QString& name, const QString& socket, const fs::path& runtimeFolder,
                               const QString& tempFolder = {}) {
    testsupport::TempDir home;
    QProcess start;
    QProcessEnvironment environment = startEnvironment(name, home.path(), runtimeFolder);
    if (!tempFolder.isEmpty()) {
        environment.insert("TMPDIR", tempFolder);
    }
    start.setProcessEnvironment(environment);
    start.start(QStringLiteral(CW_APP_BINARY), {});
    if (!start.waitForStarted())
        return false;
    bool answered = false;
    QElapsedTimer guard;
    guard.start();
    while (!answered && start.state() == QProcess::Running && guard.elapsed() < 60000) {
        answered = cw::SingleInstance(socket).handOff({}, 500);
        start.waitForFinished(50);
    }
    start.kill();
    start.waitForFinished();
    return answered;
}

TEST(SingleInstance, AnotherUsersListenerIsHandedNothingAndAStartGoesOnWithoutIt) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run a listener as another user";
    const testsupport::SharedFolder shared;
    const testsupport::OtherUserListener squatter(shared / "instance");
    ASSERT_TRUE(squatter.listening());
    testsupport::LogCapture log;
    EXPECT_FALSE(
        cw::SingleInstance(QString::fromStdString(shared / "instance")).handOff({"/home/ann/private.cwr"}));
    EXPECT_EQ(squatter.bytesReceived(), 0);
    EXPECT_TRUE(hasLine(log, "held by another user"));

    // The place in the temporary folder an instance name used to take, squatted: a start is not
    // fooled by it. The start's temporary folder is one the other user may write in (the test's own
    // may be private), and the name short, so that the squatter's socket fits in a long one too.
    const QString name = QStringLiteral("cw-%1").arg(::getpid());
    const QString tempFolder = QString::fromStdString(shared.path.string());
    const testsupport::OtherUserListener inTemporaryFolder(shared / name.toStdString());
    ASSERT_TRUE(inTemporaryFolder.listening());
    testsupport::TempDir runtime;
    EXPECT_TRUE(becomesTheRunningInstance(
        name, QString::fromStdString((runtime / name.toStdString()).string()), runtime.path(), tempFolder));
}

// Connections from another user, as many as one can make: each refused, and told in a line a
// second at most with how many there were.
TEST(SingleInstance, RefusedHandOversAreLoggedOnceASecondWithACount) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to connect as another user";
    const testsupport::SharedFolder shared;
    testsupport::LogCapture log;
    cw::SingleInstance instance(QString::fromStdString(shared / "instance"));
    ASSERT_TRUE(instance.listen([](const QStringList&) { ADD_FAILURE() << "handed over"; }));
    ASSERT_EQ(::chmod((shared / "instance").c_str(), 0777), 0);
    QElapsedTimer clock;
    clock.start();
    const passwd* nobody = ::getpwnam("nobody");
    ASSERT_TRUE(nobody);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, (shared / "instance").c_str(), sizeof address.sun_path - 1);
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    // Only system calls after the fork: this process has threads.
    const pid_t child = ::fork();
    if (child == 0) {
        int connected = 0;
        if (::setgroups(0, nullptr) == 0 && ::setgid(nobody->pw_gid) == 0 && ::setuid(nobody->pw_uid) == 0) {
            for (int i = 0; i < 3000; ++i) {
                const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
                connected += ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
                char end = 0;
                (void)!::read(fd, &end, 1); // until the listener closes it
                ::close(fd);
            }
        }
        (void)!::write(ends[1], &connected, sizeof connected);
        ::_exit(0);
    }
    ::close(ends[1]);
    int connected = 0;
    ASSERT_EQ(::read(ends[0], &connected, sizeof connected), ssize_t(sizeof connected));
    ::close(ends[0]);
    ::waitpid(child, nullptr, 0);
    EXPECT_EQ(connected, 3000);

    const auto refusals = [&] {
        std::pair<int, int> linesAndCount;
        for (const std::string& line : log.lines()) {
            if (line.starts_with("refused a hand-over")) {
                ++linesAndCount.first;
                ++linesAndCount.second;
            } else if (line.starts_with("refused ")) {
                ++linesAndCount.first;
                linesAndCount.second += std::stoi(line.substr(8));
            }
        }
        return linesAndCount;
    };
    for (int i = 0; i < 6000 && refusals().second < connected; ++i)
        QThread::msleep(10);
    const auto [lines, count] = refusals();
    EXPECT_EQ(count, connected);
    EXPECT_LE(lines, 2 + clock.elapsed() / 1000) << "more than a line a second";
}

TEST(SingleInstance, AnInstanceThatNeverAnswersIsReplaced) {
    testsupport::TempDir dir;
    testsupport::TempDir runtime;
    const QString path = QString::fromStdString((dir / "instance").string());
    QLocalServer hung; // accepts through the system, and never reads: its event loop is not run
    ASSERT_TRUE(hung.listen(path));
    testsupport::LogCapture log;
    EXPECT_FALSE(cw::SingleInstance(path).handOff({"/home/ann/a.cwr"}, 200));
    EXPECT_TRUE(hasLine(log, "did not answer within 200 ms"));
    EXPECT_TRUE(becomesTheRunningInstance(path, path, runtime.path()));
}

// A copy that did not answer for a moment (stopped) is stood in for by a later start; once the
// stand-in quits, the first copy takes hand-overs again. A stand-in that was itself stood in for
// and quits first passes that copy's place down.
TEST(SingleInstance, TheCopyAStartStoodInForTakesHandOversAgainWhenTheStandInQuits) {
    for (const bool standInReplaced : {false, true}) {
        SCOPED_TRACE(standInReplaced);
        testsupport::TempDir dir;
        const fs::path socket = dir / "instance";
        const QString path = QString::fromStdString(socket.string());
        QLocalServer first; // accepts through the system, and never reads: its event loop is not run
        ASSERT_TRUE(first.listen(path));
        struct stat before {};
        ASSERT_EQ(::stat(socket.c_str(), &before), 0);

        auto standIn = std::make_unique<cw::SingleInstance>(path);
        EXPECT_FALSE(standIn->handOff({"/home/ann/a.cwr"}, 200));
        ASSERT_TRUE(standIn->listen([](const QStringList&) {}));
        std::unique_ptr<cw::SingleInstance> above;
        if (standInReplaced) {
            above = std::make_unique<cw::SingleInstance>(path);
            ASSERT_TRUE(above->listen([](const QStringList&) {}));
        }
        standIn.reset();
        above.reset();

        struct stat after {};
        ASSERT_EQ(::stat(socket.c_str(), &after), 0) << "no socket left for later starts";
        EXPECT_EQ(after.st_ino, before.st_ino) << "the socket is not the first copy's";
        QLocalSocket later;
        later.connectToServer(path);
        EXPECT_TRUE(later.waitForConnected(2000));
        std::vector<std::string> left;
        for (const auto& entry : fs::directory_iterator(dir.path())) {
            left.push_back(entry.path().filename().string());
        }
        std::sort(left.begin(), left.end());
        EXPECT_EQ(left, (std::vector<std::string>{"instance", "instance.lock"}));
    }
}

// A stand-in killed (SIGKILL) gives nothing back: the next start finds its dead socket, puts back
// the socket of the copy it stood in for and hands over to that copy. Also where the socket's
// path only just fits a socket address, or is longer than one holds (a long runtime folder).
TEST(SingleInstance, AStartAfterAStandInWasKilledHandsOverToTheCopyItStoodInFor) {
    for (const std::size_t socketLength : {0, 100, 140}) {
        SCOPED_TRACE(socketLength);
        testsupport::TempDir top;
        const QString name = uniqueInstanceName();
        fs::path runtime = top.path();
        const std::size_t rest = (runtime / name.toStdString()).string().size();
        if (socketLength > rest) {
            runtime /= std::string(socketLength - rest - 1, 'r');
        }
        fs::create_directories(runtime);
        fs::permissions(runtime, fs::perms::owner_all);
        testsupport::TempDir home;
        const QString socket = QString::fromStdString((runtime / name.toStdString()).string());
        const QProcessEnvironment environment = startEnvironment(name, home.path(), runtime);
        QProcess first;
        QProcess standIn;
        for (QProcess* start : {&first, &standIn}) {
            start->setProcessEnvironment(environment);
        }
        const auto listensAt = [&](const QProcess& start) {
            return processEventsUntil([&] { return listenerOf(socket) == pid_t(start.processId()); });
        };
        // Stopped once it answers and has let go of the lock starts take turns with.
        const auto lockIsFree = [&] {
            const int fd =
                ::open((socket + QStringLiteral(".lock")).toLocal8Bit().constData(), O_RDWR | O_CLOEXEC);
            const bool free = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
            if (fd >= 0)
                ::close(fd);
            return free;
        };
        first.start(QStringLiteral(CW_APP_BINARY), {});
        ASSERT_TRUE(listensAt(first));
        ASSERT_TRUE(processEventsUntil(lockIsFree));
        ASSERT_EQ(::kill(pid_t(first.processId()), SIGSTOP), 0);
        standIn.start(QStringLiteral(CW_APP_BINARY), {});
        const bool stoodIn = listensAt(standIn);
        ASSERT_EQ(::kill(pid_t(first.processId()), SIGCONT), 0);
        ASSERT_TRUE(stoodIn);
        standIn.kill();
        standIn.waitForFinished();

        EXPECT_TRUE(cw::SingleInstance(socket).handOff({}, 10000)) << "the start would go on on its own";
        EXPECT_EQ(listenerOf(socket), pid_t(first.processId()));
        first.kill();
        first.waitForFinished();
    }
}

// A copy that answers on `path` only while the event loop runs, as a stopped copy does once it
// is back: it takes each whole list, and says so while `answering`.
class FakeCopy {
public:
    explicit FakeCopy(const QString& path) {
        server_.listen(path);
        QObject::connect(&server_, &QLocalServer::newConnection, [this] {
            while (QLocalSocket* connection = server_.nextPendingConnection()) {
                QObject::connect(connection, &QLocalSocket::readyRead, connection, [this, connection] {
                    received_[connection] += connection->readAll();
                    const QByteArray& list = received_[connection];
                    if (!list.endsWith(QByteArray("\0\0", 2))) {
                        return;
                    }
                    QStringList paths;
                    for (const QByteArray& field : list.split('\0').mid(1)) {
                        if (!field.isEmpty()) {
                            paths << QString::fromUtf8(field);
                        }
                    }
                    lists.push_back(paths);
                    if (answering) {
                        connection->write("ok\n");
                        connection->flush();
                    }
                });
            }
        });
    }
    bool listening() const { return server_.isListening(); }

    bool answering = true;
    std::vector<QStringList> lists;

private:
    QLocalServer server_;
    std::map<QLocalSocket*, QByteArray> received_;
};

// While a start stands in for a copy that did not answer, it keeps what it shows itself and hands
// every other path on to that copy once it answers again, so no script is open in both; while
// that copy still does not answer, the stand-in opens them.
TEST(SingleInstance, AStandInKeepsWhatItShowsAndHandsTheRestToTheCopyItStandsInFor) {
    for (const bool firstIsBack : {true, false}) {
        SCOPED_TRACE(firstIsBack);
        testsupport::TempDir dir;
        const QString path = QString::fromStdString((dir / "instance").string());
        FakeCopy first(path); // its event loop does not run while the start waits for it
        ASSERT_TRUE(first.listening());
        first.answering = firstIsBack;
        cw::SingleInstance standIn(path);
        ASSERT_FALSE(standIn.handOff({}, 200));
        std::vector<QStringList> opened;
        ASSERT_TRUE(
            standIn.listen([&](const QStringList& paths) { opened.push_back(paths); },
                           [](const QString& p) { return p == QStringLiteral("/home/ann/shown.cwr"); }));
        testsupport::LogCapture log;

        const QStringList handed{"/home/ann/shown.cwr", "/home/ann/talk.cwr"};
        EXPECT_TRUE(cw::SingleInstance(path).handOff(handed));
        const std::vector<QStringList> keptHere{{"/home/ann/shown.cwr"}};
        const std::vector<QStringList> openedHere{{"/home/ann/shown.cwr"}, {"/home/ann/talk.cwr"}};
        // The start's own empty list comes first: it gave up waiting for it.
        const std::vector<QStringList> handedOn{{}, {"/home/ann/talk.cwr"}};
        ASSERT_TRUE(processEventsUntil([&] {
            return first.lists.size() == 2 &&
                   (firstIsBack ? hasLine(log, "handed on to the Cuewright this one stands in for")
                                : opened.size() == 2);
        }));
        EXPECT_EQ(first.lists, handedOn);
        EXPECT_EQ(opened, firstIsBack ? keptHere : openedHere);
    }
}

// A stand-in asked to open a script another copy shows, while the copy it stands in for does
// not answer, opens nothing of it, says so, and hands it on again over a connection that waits
// for that copy's answer; a script no copy shows opens.
TEST(SingleInstance, AStandInOpensNoScriptAnotherCopyShowsAndHandsItOnAgain) {
    testsupport::TempDir dir;
    const QString path = QString::fromStdString((dir / "instance").string());
    const std::string talk = (dir / "talk.cwr").string();
    const std::string free = (dir / "free.cwr").string();
    std::ofstream(talk) << "script";
    std::ofstream(free) << "script";
    cw::ShownFileLocks otherCopy; // another open file, as another copy's is
    otherCopy.hold({talk});
    const auto alerts = std::make_shared<platform::FakeAlertRunner>();
    const auto previousAlerts = platform::setAlertRunner(alerts);
    FakeCopy first(path);
    first.answering = false;
    {
        cw::SingleInstance standIn(path);
        ASSERT_FALSE(standIn.handOff({}, 200));
        std::vector<QString> opened;
        ASSERT_TRUE(standIn.listen(
            [&](const QStringList& paths) {
                for (const QString& p : paths) {
                    if (!standIn.shownElsewhere(p.toStdString())) {
                        opened.push_back(p);
                    }
                }
            },
            [](const QString&) { return false; }));
        EXPECT_TRUE(
            cw::SingleInstance(path).handOff({QString::fromStdString(talk), QString::fromStdString(free)}));
        // The start's empty list, the list handed on, then talk.cwr alone on the waiting connection.
        ASSERT_TRUE(processEventsUntil([&] { return first.lists.size() == 3 && !alerts->shown().empty(); }));
        EXPECT_EQ(first.lists.back(), QStringList{QString::fromStdString(talk)});
        EXPECT_EQ(opened, std::vector<QString>{QString::fromStdString(free)});
        ASSERT_EQ(alerts->shown().size(), 1u);
        EXPECT_EQ(alerts->shown().front().messageText,
                  QStringLiteral(
                      "\u201ctalk.cwr\u201d is open in another copy of Cuewright that does not answer."));
    } // the wait ends with the stand-in
    platform::setAlertRunner(previousAlerts);
}

// A script shown by another copy is held while that copy lives, stopped or not, and free once it
// has ended without a word; a file replaced by a save is held again once marked again; anything
// but a regular file is never held, and asking never waits; the locks are bounded in number and
// a copy short of descriptors holds none but goes on.
TEST(ShownFileLocks, AScriptIsHeldElsewhereOnlyWhileAnotherCopyShowsIt) {
    testsupport::TempDir dir;
    const auto make = [&](const std::string& name) {
        std::ofstream(dir / name) << "script";
        return (dir / name).string();
    };
    const std::string talk = make("talk.cwr");
    const std::string other = make("other.cwr");
    const std::string fifo = (dir / "fifo.cwr").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t copy = ::fork();
    if (copy == 0) {
        cw::ShownFileLocks locks;
        locks.hold({talk, fifo, dir.path().string(), (dir / "missing.cwr").string()});
        (void)!::write(ready[1], "x", 1);
        ::raise(SIGSTOP);
        ::pause();
        ::_exit(0);
    }
    ::close(ready[1]);
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ::close(ready[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(copy, &status, WUNTRACED), copy);
    ASSERT_TRUE(WIFSTOPPED(status));
    const std::pair<std::string, bool> whileStopped[] = {{talk, true},
                                                         {other, false},
                                                         {fifo, false},
                                                         {dir.path().string(), false},
                                                         {(dir / "missing.cwr").string(), false}};
    for (const auto& [path, held] : whileStopped) {
        EXPECT_EQ(cw::ShownFileLocks::heldElsewhere(path), held) << path;
    }
    ::kill(copy, SIGKILL);
    ASSERT_EQ(::waitpid(copy, &status, 0), copy);
    EXPECT_FALSE(cw::ShownFileLocks::heldElsewhere(talk)) << "a copy that ended keeps the script";

    cw::ShownFileLocks locks;
    locks.hold({talk, talk});
    EXPECT_EQ(locks.count(), 1u);
    EXPECT_TRUE(cw::ShownFileLocks::heldElsewhere(talk));
    const std::string saved = make("saved.tmp");
    ASSERT_EQ(::rename(saved.c_str(), talk.c_str()), 0);
    EXPECT_FALSE(cw::ShownFileLocks::heldElsewhere(talk));
    locks.hold({talk});
    EXPECT_TRUE(cw::ShownFileLocks::heldElsewhere(talk)) << "the saved file is not held";
    locks.hold({other});
    EXPECT_FALSE(cw::ShownFileLocks::heldElsewhere(talk)) << "a closed script stays held";
    EXPECT_TRUE(cw::ShownFileLocks::heldElsewhere(other));

    std::vector<std::string> many;
    for (std::size_t i = 0; i < cw::ShownFileLocks::maxFiles + 5; ++i) {
        many.push_back(make("many-" + std::to_string(i) + ".cwr"));
    }
    locks.hold(many);
    EXPECT_EQ(locks.count(), cw::ShownFileLocks::maxFiles);
    locks.hold({});
    EXPECT_EQ(locks.count(), 0u);

    // Of copies claiming one file at one moment exactly one has it, until it lets go.
    using Claim = cw::ShownFileLocks::Claim;
    for (int round = 0; round < 50; ++round) {
        std::array<cw::ShownFileLocks, 4> copies;
        std::atomic<int> taken = 0;
        {
            std::vector<std::jthread> claiming;
            for (cw::ShownFileLocks& copy : copies)
                claiming.emplace_back([&] { taken += copy.claim(talk) == Claim::taken ? 1 : 0; });
        }
        ASSERT_EQ(taken.load(), 1) << "round " << round;
    }
    EXPECT_EQ(locks.claim(talk), Claim::taken);
    EXPECT_EQ(locks.claim(talk), Claim::mine);
    locks.release(talk);

    EXPECT_EQ(testsupport::inChildShortOfDescriptors(0,
                                                     [&] {
                                                         cw::ShownFileLocks short_;
                                                         short_.hold({talk});
                                                         return std::to_string(short_.count());
                                                     }),
              "0");
}

TEST(SingleInstance, TheSocketLivesInAPrivateFolderOrNowhere) {
    testsupport::TempDir runtime;
    const testsupport::SharedFolder temporary;
    const ScopedVariable runtimeVariable("XDG_RUNTIME_DIR", runtime.path().string());
    const ScopedVariable temporaryVariable("TMPDIR", temporary.path.string());
    EXPECT_EQ(cw::SingleInstance::socketPath("cuewright-ann").toStdString(),
              (runtime / "cuewright-ann").string());

    // A runtime folder others may enter is not used.
    fs::permissions(runtime.path(), fs::perms::all);
    const fs::path fallback = temporary / ("cuewright-" + std::to_string(::geteuid()));
    EXPECT_EQ(cw::SingleInstance::socketPath("cuewright-ann").toStdString(),
              (fallback / "cuewright-ann").string());
    for (const std::string& tmpdir : {temporary.path.string(), temporary / "missing"}) {
        const ScopedVariable runtimeFolder("TMPDIR", tmpdir), told("XDG_RUNTIME_DIR", runtime.path());
        base::namePrivateRuntimeFolder(); // Qt makes none of its own ("/runtime-root" of a missing TMPDIR)
        EXPECT_EQ(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation).toStdString(),
                  (tmpdir == fallback.parent_path() ? fallback : "/tmp" / fallback.filename()).string());
    }
    struct stat status {};
    ASSERT_EQ(::stat(fallback.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
    EXPECT_EQ(status.st_uid, ::geteuid());

    if (::geteuid() != 0)
        return; // the rest needs a folder of another user's
    // Someone else made that folder first: the socket lives in a folder of the user's cache
    // folder, which only the user makes, and starts find each other there.
    ASSERT_EQ(::chown(fallback.c_str(), ::getpwnam("nobody")->pw_uid, 0), 0);
    testsupport::TempDir cache;
    const ScopedVariable cacheVariable("XDG_CACHE_HOME", (cache / "deeper").string());
    const fs::path own =
        cache / "deeper" /
        ("cuewright-" + std::to_string(::geteuid()) + "-" + QSysInfo::machineHostName().toStdString());
    testsupport::LogCapture log;
    EXPECT_EQ(cw::SingleInstance::socketPath("cuewright-ann").toStdString(),
              (own / "cuewright-ann").string());
    EXPECT_TRUE(
        hasLine(log, fallback.string() +
                         " is not a private folder of this user: the single-instance socket lives in " +
                         own.string()));
    ASSERT_EQ(::stat(own.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
    {
        cw::SingleInstance running(QStringLiteral("cuewright-ann"));
        ASSERT_TRUE(running.listen([](const QStringList&) {}));
        EXPECT_TRUE(cw::SingleInstance(QStringLiteral("cuewright-ann")).handOff({}));
    }

    {
        // A temporary folder that is not there: the same, never a folder at the root.
        const ScopedVariable missing("TMPDIR", (temporary.path / "missing").string());
        EXPECT_EQ(cw::SingleInstance::socketPath("cuewright-ann").toStdString(),
                  (own / "cuewright-ann").string());
        EXPECT_FALSE(fs::remove("/cuewright-" + std::to_string(::geteuid())));
    }

    // Not even that: no socket at all, and the start goes on alone, saying so.
    ASSERT_EQ(::chown(own.c_str(), ::getpwnam("nobody")->pw_uid, 0), 0);
    EXPECT_TRUE(cw::SingleInstance::socketPath("cuewright-ann").isEmpty());
    cw::SingleInstance alone(QStringLiteral("cuewright-ann"));
    EXPECT_FALSE(alone.handOff({}));
    EXPECT_FALSE(alone.listen([](const QStringList&) {}));
    EXPECT_TRUE(hasLine(log, "is not a private folder of this user: no single-instance socket"));
    EXPECT_TRUE(hasLine(log, "running as a lone instance"));
}

// A signal is handled in the event loop; one that comes while the one before is still being
// handled, or after the handler let the application end, ends the process at once; after a
// handler that answered that the application goes on, the next signal is handled again.
TEST(SignalQuit, ASignalIsHandledInTheEventLoopAndOneDuringItOrAfterTheEndEndsAtOnce) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction previous {};
    ::sigaction(SIGUSR1, &ignore, &previous);
    std::vector<int> handled;
    bool goesOn = true;
    {
        cw::SignalQuit quit({SIGUSR1, SIGUSR2}, [&](int signal) {
            handled.push_back(signal);
            // The question is up: another signal does not wait for its answer.
            EXPECT_EXIT(::raise(SIGUSR2), ::testing::KilledBySignal(SIGUSR2), "");
            return goesOn;
        });
        for (const bool cancelled : {true, true, false}) {
            goesOn = cancelled;
            handled.clear();
            ::raise(SIGUSR1);
            EXPECT_TRUE(handled.empty()) << "handled inside the signal handler";
            processEventsUntil([&] { return !handled.empty(); });
            EXPECT_EQ(handled, std::vector{SIGUSR1}) << "a signal after a cancelled quit was not handled";
        }
        EXPECT_EXIT(::raise(SIGUSR2), ::testing::KilledBySignal(SIGUSR2), "") << "the application ends";
    }
    struct sigaction restored {};
    ::sigaction(SIGUSR1, nullptr, &restored);
    EXPECT_EQ(restored.sa_handler, SIG_IGN) << "the earlier action comes back";
    ::sigaction(SIGUSR1, &previous, nullptr);
}

// A signal whose quit does not end in time ends the process by the watchdog: when the main
// thread never gets round to it, and when the quit itself is held; a question waiting for the
// user holds the watchdog, and an answer that the application goes on disarms it.
TEST(SignalQuit, AQuitThatDoesNotEndInTimeEndsByTheWatchdogUnlessAQuestionWaits) {
    enum class Held { mainThread, quit, question };
    struct Case {
        Held held;
        bool killed;
    };
    for (const Case& c :
         {Case{Held::mainThread, true}, Case{Held::quit, true}, Case{Held::question, false}}) {
        SCOPED_TRACE(int(c.held));
        const auto run = [&] {
            bool handled = false;
            cw::SignalQuit quit(
                {SIGUSR1},
                [&](int) {
                    if (c.held == Held::quit) {
                        std::this_thread::sleep_for(std::chrono::seconds(20));
                        std::_Exit(0);
                    }
                    {
                        const cw::SignalQuit::AnswerAwaited answer;
                        std::this_thread::sleep_for(std::chrono::seconds(3));
                    }
                    handled = true;
                    return true; // cancelled: the application goes on
                },
                nullptr, std::chrono::seconds(1));
            ::raise(SIGUSR1);
            if (c.held == Held::mainThread) {
                std::this_thread::sleep_for(std::chrono::seconds(20));
                std::_Exit(0);
            }
            processEventsUntil([&] { return handled; });
            std::this_thread::sleep_for(std::chrono::seconds(3)); // past the watchdog's time
            std::_Exit(0);
        };
        if (c.killed) {
            EXPECT_EXIT(run(), ::testing::KilledBySignal(SIGUSR1), "Quitting did not end in time");
        } else {
            EXPECT_EXIT(run(), ::testing::ExitedWithCode(0), "");
        }
    }
}

TEST(SupportFolder, IsMadeOnceAndAFailureIsLogged) {
    testsupport::TempDir dir;
    const fs::path folder = dir.path() / "deep" / "Cuewright";
    {
        const ScopedVariable data("CUEWRIGHT_DATA_DIR", folder.string());
        EXPECT_EQ(cw::ApplicationController::applicationSupportFolder(), folder.string());
        EXPECT_EQ(cw::ApplicationController::applicationSupportFolder(), folder.string());
        EXPECT_TRUE(fs::is_directory(folder));
    }
    std::ofstream(dir.path() / "file") << "x";
    const ScopedVariable data("CUEWRIGHT_DATA_DIR", (dir.path() / "file" / "below").string());
    testsupport::LogCapture log;
    EXPECT_FALSE(cw::ApplicationController::applicationSupportFolder());
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_TRUE(log.lines()[0].starts_with("Unable to find or create application support directory:\n"));
}

} // namespace
