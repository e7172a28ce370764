// The application controller: start-up and shut-down, the window lists, menus and binding actions.
#pragma once

#include "cuewright/app/RemoteServices.h"
#include "cuewright/app/ShellWindows.h"
#include "cuewright/app/SingleInstance.h"
#include "cuewright/app/WelcomeLine.h"
#include "cuewright/editor/EditorWindowControllerDelegate.h"
#include "cuewright/model/BindingActions.h"
#include "cuewright/model/Bookmark.h"
#include "cuewright/prompter/ApplicationShell.h"
#include "platform/ui/ActionRoute.h"

#include <QPointer>
#include <QString>
#include <QStringList>

#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QMenu;
class QWidget;

namespace platform {
class Defaults;
class NotificationCenter;
class WindowController;
} // namespace platform

namespace cw {

class HelpActions;
class LargeFileOpening;
class MainMenu;
class RecentDocuments;
class ScriptRecovery;
class SettingsPanelController;
class StartWindow;
class Updater;
class WindowBindingKeys;
class Workspace;

// The title of the n-th generated Bookmarks item: "Line 12: Intro..." (the label, else the excerpt).
QString bookmarkMenuTitle(const Bookmark& bookmark);
// Where a jump to the bookmark's 1-based line puts the transport: a little inside that line.
// nullopt when the script has no laid-out lines (nothing to jump into).
std::optional<double> bookmarkJumpProgress(int line, int lineCount);

// What the controller works with; tests replace the windows, the listeners and the stores.
struct ApplicationEnvironment {
    platform::Defaults* defaults = nullptr;         // the standard store when null
    platform::NotificationCenter* center = nullptr; // the default centre when null
    // Real windows when unset (see makeRealWindowFactory).
    ShellWindowFactory windows;
    // The workspace's network server and Bluetooth peripheral when unset.
    std::function<std::unique_ptr<RemoteServers>(Workspace&)> makeRemoteServers;
    // The X11 monitor when null.
    std::shared_ptr<GlobalKeyMonitor> keyMonitor;
    // Made at launch, given the controller as performer; SDL's when unset. Null: none.
    std::function<std::unique_ptr<GameControllers>(Workspace&, std::weak_ptr<BindingActionPerformer>)>
        makeGameControllers;
    // The remote-control window for the workspace; the real one when unset.
    std::function<platform::WindowController*(Workspace&)> makeRemoteControlWindow;
    std::function<void()> offerMoveToApplicationsFolder; // nothing when unset
    std::optional<BuildInfo> buildInfo;                  // BuildInfo::current() when unset
    bool showsStartWindow = true;
    // Where copies of unsaved edits are kept (RecoveryStore::defaultFolder() in the
    // application); none keeps none.
    std::optional<std::filesystem::path> recoveryFolder;
    // Where a copy is marked older than its edits when the recovery folder takes no change (see
    // RecoveryStore::setSecondMarkFolder); none marks only there.
    std::optional<std::filesystem::path> recoverySecondMarkFolder;
    // When copies are written after an edit; Qt's timers when unset.
    std::function<void(std::chrono::milliseconds, std::function<void()>)> recoverySchedule;
};

// Runs the life of the process on the main thread:
//  - Launching: applicationWillFinishLaunching() counts the launch, logs the welcome line,
//    becomes the shared shell, registers the settings, installs the global key monitor when
//    asked, takes the bindings in the windows that do not run them themselves
//    (WindowBindingKeys) and observes the network switch; applicationDidFinishLaunching() offers the move,
//    starts the remote listeners, acts on "StartupMode" when no script is open yet and starts
//    the game controllers. Terminating stops them all again.
//  - Windows: one editor window per open script, free-floating and display-bound prompter
//    windows, each list in creation order. A file is opened, named and saved by the path given
//    (absolute; a symbolic link kept, so its extension chooses the reader); paths are compared
//    canonical, so one file has one editor however it is named. Closing an editor window closes its project
//    and every prompter window of it.
//  - Quitting asks every window with unsaved changes or work going on in turn, after a paste
//    going in there has ended; a quit asked for meanwhile is the same quit, and asks nothing more.
//    A cancelled or failed save cancels the quit and the windows after it are not asked.
//    Quitting on a signal asks nothing while the unsaved edits are kept as recovery copies instead.
//  - With a recovery folder, every script with unsaved edits has a copy there (ScriptRecovery);
//    launching brings the copies back as unsaved scripts under their own names and says so.
//    While copies cannot be kept (the folder is refused, or writing fails), every editor window
//    says so in a notice line, and quitting on a signal asks as quitting does.
//  - Menus: the application menus are made once and put into every window; the controller is
//    the last responder of the action chain and answers the menus' application-wide actions.
//  - With no script window open, a small start window offers New, Open and the recent scripts,
//    as a Linux desktop has no menu bar without a window.
// Made by create(). Main thread only.
class ApplicationController final : public ApplicationShell,
                                    public PrompterWindowControllerDelegate,
                                    public editor::EditorWindowControllerDelegate,
                                    public platform::ActionResponder,
                                    public BindingActionPerformer,
                                    public std::enable_shared_from_this<ApplicationController> {
    struct PrivateTag {};

public:
    using Environment = ApplicationEnvironment;

    static std::shared_ptr<ApplicationController> create(Environment environment);
    static std::shared_ptr<ApplicationController> create() { return create(Environment{}); }
    ApplicationController(PrivateTag, Environment environment);
    ~ApplicationController() override;
    ApplicationController(const ApplicationController&) = delete;
    ApplicationController& operator=(const ApplicationController&) = delete;

    // The running controller; null until launching sets it.
    static std::shared_ptr<ApplicationController> shared();

    Workspace& workspace() const { return *workspace_; }
    const std::vector<std::shared_ptr<EditorWindow>>& editorControllers() const { return editors_; }
    const std::vector<std::shared_ptr<PrompterWindow>>& freeFloatingPrompterControllers() const {
        return floating_;
    }
    const std::vector<std::shared_ptr<PrompterWindow>>& screenBoundPrompterControllers() const {
        return bound_;
    }
    RecentDocuments& recentDocuments() const { return *recent_; }
    MainMenu& mainMenu() const { return *menu_; }
    QMenu* bookmarkMenu() const;
    // The start window; null until first needed.
    QWidget* startWindow() const;
    // The remote-control windows still open (each owns itself until it closes).
    std::vector<platform::WindowController*> remoteControlWindows() const;

    // ---- life cycle ----
    void applicationWillFinishLaunching();
    void applicationDidFinishLaunching();
    // Once, after a start whose settings file had values that could not be read.
    void tellOfResetSettings();
    // The user started the running application again: a new script when nothing is visible.
    bool applicationShouldHandleReopen(bool hasVisibleWindows);
    // Paths handed over by a second start; none brings this one forward.
    void handOver(const QStringList& paths);
    // Whether an editor shows the file at `path` (a handed-over path; a hard link of it too) or
    // it is being opened.
    bool showsOrOpens(const QString& path) const;
    bool showsOrOpensHere(const std::string& path) const;
    // Asked before a file that no window here shows is opened: true when another copy shows it
    // (and has been told of); it is then not opened here.
    void setShownElsewhereCheck(std::function<bool(const std::string& path)> check) {
        shownElsewhere_ = std::move(check);
    }
    // Whether quitting may go on: every window with unsaved changes is asked, in order. False at
    // once while an earlier call asks.
    bool applicationShouldTerminate();
    void applicationWillTerminate();
    // Quits when applicationShouldTerminate() allows it; returns whether it did.
    bool terminate();
    // Quits without asking (the session is ending): the unsaved edits of every script are
    // written to its recovery copy first, and the copies stay for the next start. The scripts
    // whose copies cannot be written (all of them when no copies are kept) are asked about
    // first, as terminate() asks; a cancelled question keeps the application running.
    void terminateWithoutAsking();
    // Quitting has begun: the main loop must not start (a signal came during a start-up dialog).
    bool isTerminating() const { return terminating_; }
    // The recovery copies' keeper; null without a recovery folder or when another process holds it.
    ScriptRecovery* scriptRecovery() const { return recovery_.get(); }
    // Opens the file, presenting the document error on failure; false then. The path is the file
    // system's bytes, which need not be UTF-8; one that came as text is looked up as
    // platform::fileSystemPath() does.
    // How a script file is read: off the main thread for what the user opens (a file built to
    // read slowly then never holds the application; its window comes once it is read), or now,
    // its window there on return.
    enum class ScriptReading { now, offMainThread };
    bool openFile(const std::string& path, ScriptReading reading = ScriptReading::now);
    bool openFile(const QString& path, ScriptReading reading = ScriptReading::now);
    // "NetworkStateDidchange": both listeners follow "isBonjourEnabled".
    void didChangeNetworkState();

    // ---- documents ----
    // The open editor comes forward when it shows this file; otherwise opens it. Throws the
    // workspace's open error (no window or list changes then).
    void openDocument(const std::string& path, ScriptReading reading = ScriptReading::now);
    void openMostRecentDocument(bool newDocumentWhenNone);
    void newDocument();
    // Large or slowly read files being read off the main thread (see LargeFileOpening), oldest
    // first.
    std::vector<LargeFileOpening*> largeFileOpenings() const;
    // The open panel; nothing when cancelled.
    void openDocumentPanel();
    // The application's support folder ($XDG_DATA_HOME/Cuewright), made when missing; logs and
    // answers nullopt when it cannot be made.
    static std::optional<std::string> applicationSupportFolder();
    // The path as it is compared: absolute, symbolic links resolved when it exists; bytes kept
    // as they are.
    static std::string canonicalPath(const std::string& path);
    // The path as it is opened, named and stored: absolute, "." left out, symbolic links kept;
    // bytes kept as they are.
    static std::string absolutePath(const std::string& path);

    // ---- windows (ApplicationShell) ----
    void spawnPrompterWindow(const std::shared_ptr<Project>& project,
                             TeleprompterWindowPreset preset) override;
    bool toggleScreenBoundPrompter(const std::shared_ptr<Project>& project,
                                   const ScreenDescription& screen) override;
    void showPrompter(const std::shared_ptr<Project>& project) override;
    // BindingActionPerformer: the editor's, the global key monitor's and the game controllers'
    // route into the application. Opens a prompter window when the project has none, then runs
    // the action in the application's context, line steps on that window.
    bool performBindingAction(Project& project, KeyBindings::Action action, bool isDown,
                              int depth = 0) override;

    // ---- what the windows tell ----
    void editorWindowDidBecomeMain(EditorWindow& window);
    void editorWindowWillClose(EditorWindow& window);
    void prompterWindowDidBecomeMain(PrompterWindow& window);
    void prompterWindowWillClose(PrompterWindow& window);
    // PrompterWindowControllerDelegate: the real windows, found by their controller.
    void prompterWindowControllerDidBecomeMain(PrompterWindowController& controller) override;
    void prompterWindowControllerWillClose(PrompterWindowController& controller) override;
    // EditorWindowControllerDelegate: the real editor windows, found by their controller.
    void editorWindowControllerDidBecomeMain(editor::EditorWindowController& controller) override;
    void editorWindowControllerWillClose(editor::EditorWindowController& controller) override;
    void editorWindowControllerSpawnPrompterWindow(editor::EditorWindowController& controller,
                                                   TeleprompterWindowPreset preset) override;
    void editorWindowControllerShowPrompter(editor::EditorWindowController& controller) override;
    bool editorWindowControllerToggleScreenBoundPrompter(editor::EditorWindowController& controller,
                                                         const ScreenDescription& screen) override;
    void prompterWindowControllerSpawnPrompterWindow(PrompterWindowController& controller,
                                                     TeleprompterWindowPreset preset) override;
    EditorWindow* editorWindowFor(const void* controllerKey) const;

    // ---- menus ----
    void rebuildBookmarksMenu(QMenu& menu);
    // The item's tag picks the bookmark (1-based); any other number does nothing.
    void jumpToBookmarkNumber(int number);
    void jumpToNextBookmark();
    void jumpToPrevBookmark();
    // The four check-mark settings by their actions ("toggleEditorAutoScroll:", ...).
    void togglePreference(std::string_view action);
    std::optional<bool> preferenceState(std::string_view action) const;
    void showRemoteControlWindow();
    void showSettingsPanel();
    void checkUpdates();

    // ActionResponder: the last link of the action chain.
    bool respondsToAction(std::string_view action) const override;
    void performAction(std::string_view action, QObject* sender) override;
    bool validateAction(std::string_view action) const override;

private:
    std::shared_ptr<EditorWindow> makeEditorWindow(const std::shared_ptr<Project>& project);
    std::shared_ptr<PrompterWindow> findPrompterWindow(const Project& project) const;
    void presentDocumentError(const std::exception& error);
    // Runs the alert once the start is through and no alert of this queue is up; at once (from
    // the main loop) after the start.
    void alertAfterStart(std::function<void()> alert);
    void showAlertsAfterStart();
    void releaseLater(std::shared_ptr<void> handle);
    void windowsChanged();
    // Marks the files the editors show as shown here, for other copies to see.
    void lockShownFiles();
    void showStartWindowWhenAlone();
    // Whether the top-level widget is an editor or prompter window, which runs the bindings itself.
    bool runsOwnBindings(const QWidget& window) const;
    bool hasVisibleWindows() const;
    void installMenus(ShellWindow& window, bool withBar);
    void restoreRecoveredScripts();
    // Reads the file off the main thread, then opens its text as openDocument() would.
    void openOffMainThread(const std::string& path);
    // No script open and none on its way.
    bool hasNoScript() const;
    // The editor window of the script whose file is `canonical` (canonicalPath()), other than
    // the one of `except`; null when none shows it.
    EditorWindow* editorShowing(const std::string& canonical, const Project* except = nullptr) const;
    // Why unsaved edits are not being kept; empty when they are.
    void setRecoveryProblem(const std::string& problem);
    void setRecoveryProblem(const std::vector<std::string>& scripts, const std::string& reason);
    void showRecoveryNotice(const QString& notice);

    Environment env_;
    platform::Defaults* defaults_;
    platform::NotificationCenter* center_;
    std::unique_ptr<Workspace> workspace_;
    std::unique_ptr<RemoteServers> servers_;
    std::shared_ptr<GlobalKeyMonitor> keyMonitor_;
    std::unique_ptr<WindowBindingKeys> windowKeys_; // the bindings in the other windows
    std::unique_ptr<GameControllers> gameControllers_;
    std::unique_ptr<RecentDocuments> recent_;
    std::unique_ptr<MainMenu> menu_;
    std::unique_ptr<HelpActions> help_;
    std::unique_ptr<Updater> updater_;
    std::unique_ptr<SettingsPanelController> settings_;
    std::unique_ptr<StartWindow> startWindow_;
    std::unique_ptr<ScriptRecovery> recovery_;
    QString recoveryNotice_; // shown in every editor window while not empty
    std::vector<std::shared_ptr<EditorWindow>> editors_;
    std::vector<std::shared_ptr<PrompterWindow>> floating_;
    std::vector<std::shared_ptr<PrompterWindow>> bound_;
    std::vector<std::shared_ptr<void>> closed_; // closed windows waiting for releaseLater's turn
    std::vector<QPointer<QObject>> remoteWindows_;
    std::vector<std::shared_ptr<LargeFileOpening>> openings_;
    ShownFileLocks shownLocks_;
    std::function<bool(const std::string& path)> shownElsewhere_;
    std::deque<std::function<void()>> laterAlerts_;
    bool showingLaterAlerts_ = false;
    bool launched_ = false;
    bool terminating_ = false;
    bool askingToQuit_ = false; // applicationShouldTerminate() asks, or waits for a paste's end
};

// Windows of the real controllers on the given stores (which must outlive them), told to report
// to `controller`.
ShellWindowFactory makeRealWindowFactory(const std::weak_ptr<ApplicationController>& controller,
                                         platform::Defaults& defaults, platform::NotificationCenter& center);

} // namespace cw
