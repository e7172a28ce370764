#include "cuewright/app/ApplicationController.h"

#include "base/Log.h"
#include "base/OutsideInput.h"
#include "cuewright/app/LargeFileOpening.h"
#include "cuewright/app/MainMenu.h"
#include "cuewright/app/RecentDocuments.h"
#include "cuewright/app/ResetSettings.h"
#include "cuewright/app/SignalQuit.h"
#include "cuewright/app/StartWindow.h"
#include "cuewright/app/WindowBindingKeys.h"
#include "cuewright/editor/EditorWindowController.h"
#include "cuewright/model/ApplicationSupport.h"
#include "cuewright/model/Project.h"
#include "cuewright/model/ProjectError.h"
#include "cuewright/model/RecoveryStore.h"
#include "cuewright/model/ScriptRecovery.h"
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/model/UserDefaults.h"
#include "cuewright/model/Workspace.h"
#include "cuewright/prompter/PrompterWindowController.h"
#include "cuewright/remote/GlobalKeyMonitoring.h"
#include "cuewright/remote/NetworkSettings.h"
#include "cuewright/remote/WorkspaceBluetooth.h"
#include "cuewright/remote/WorkspaceNetworking.h"
#include "cuewright/settings/HelpActions.h"
#include "cuewright/settings/RemoteControlWindowController.h"
#include "cuewright/settings/SettingsPanelController.h"
#include "cuewright/settings/Updater.h"
#include "cuewright/settings/UrlOpener.h"
#include "dispatch/MainThreadChecker.h"
#include "platform/defaults/Defaults.h"
#include "platform/defaults/NotificationCenter.h"
#include "platform/ui/ActionRoute.h"
#include "platform/ui/AlertRunner.h"
#include "platform/ui/FileDialogs.h"
#include "platform/ui/PlainText.h"
#include "platform/ui/WindowController.h"
#include "platform/ui/WindowFocus.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QLayout>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QTextEdit>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <set>

namespace cw {

namespace {

// The four settings shown with check marks, by their menu actions.
struct PreferenceToggle {
    std::string_view action;
    std::string_view key;
};
constexpr std::array<PreferenceToggle, 4> preferenceToggles{{
    {"toggleEditorPrompterScrollSync:", settings::syncTeleprompterWindowToEditorScrolling},
    {"toggleEditorAutoScroll:", settings::autoscrollEditorDuringPrompting},
    {"toggleScrollOnStop:", settings::scrollEditorToStopPosition},
    {"toggleScrollWheelControlsSpeed:", settings::scrollWheelChangesSpeed},
}};

const PreferenceToggle* findToggle(std::string_view action) {
    const auto found = std::find_if(preferenceToggles.begin(), preferenceToggles.end(),
                                    [&](const PreferenceToggle& t) { return t.action == action; });
    return found == preferenceToggles.end() ? nullptr : &*found;
}

// Editing actions go to the focused text widget's slot of the same name.
constexpr std::array<std::string_view, 6> editActions{
    "undo:", "redo:", "cut:", "copy:", "paste:", "selectAll:"};

bool isEditAction(std::string_view action) {
    return std::find(editActions.begin(), editActions.end(), action) != editActions.end();
}

// Whether a text widget has something selected; true for other widgets, which say nothing of it.
bool hasSelection(const QWidget& widget) {
    if (const auto* edit = qobject_cast<const QTextEdit*>(&widget)) {
        return edit->textCursor().hasSelection();
    }
    if (const auto* plain = qobject_cast<const QPlainTextEdit*>(&widget)) {
        return plain->textCursor().hasSelection();
    }
    if (const auto* line = qobject_cast<const QLineEdit*>(&widget)) {
        return line->hasSelectedText();
    }
    return true;
}

QByteArray slotOf(std::string_view action) {
    return QByteArray(action.data(), static_cast<qsizetype>(action.size() - 1)); // without the colon
}

// The application's actions besides the toggles, the edit actions and the help actions. Items
// of generated menus carry what they stand for in their "path" and "tag" properties.
struct OwnAction {
    std::string_view name;
    void (*perform)(ApplicationController& app, QObject* sender);
};
const std::array<OwnAction, 13>& ownActions() {
    using App = ApplicationController;
    static const std::array<OwnAction, 13> table{{
        {"newDocument:", [](App& app, QObject*) { app.newDocument(); }},
        {"openDocument:", [](App& app, QObject*) { app.openDocumentPanel(); }},
        {"openRecentDocument:",
         [](App& app, QObject* sender) {
             if (sender != nullptr) {
                 app.openFile(sender->property("path").toByteArray().toStdString(),
                              App::ScriptReading::offMainThread);
             }
         }},
        {"clearRecentDocuments:", [](App& app, QObject*) { app.recentDocuments().clear(); }},
        {"terminate:", [](App& app, QObject*) { app.terminate(); }},
        {"showSettingsPanel:", [](App& app, QObject*) { app.showSettingsPanel(); }},
        {"showRemoteControlWindow:", [](App& app, QObject*) { app.showRemoteControlWindow(); }},
        {"checkUpdates:", [](App& app, QObject*) { app.checkUpdates(); }},
        {"jumpToBookmarkNumber:",
         [](App& app, QObject* sender) {
             if (sender != nullptr) {
                 app.jumpToBookmarkNumber(sender->property("tag").toInt());
             }
         }},
        {"jumpToNextBookmark:", [](App& app, QObject*) { app.jumpToNextBookmark(); }},
        {"jumpToPrevBookmark:", [](App& app, QObject*) { app.jumpToPrevBookmark(); }},
        {"spawnIndependentPrompterWindow:",
         [](App& app, QObject*) {
             if (const auto& project = app.workspace().activeProject()) {
                 app.spawnPrompterWindow(project, TeleprompterWindowPreset::normal);
             }
         }},
        {"spawnTransparentPrompterWindow:",
         [](App& app, QObject*) {
             if (const auto& project = app.workspace().activeProject()) {
                 app.spawnPrompterWindow(project, TeleprompterWindowPreset::transparent);
             }
         }},
    }};
    return table;
}

const OwnAction* findOwnAction(std::string_view action) {
    const auto& table = ownActions();
    const auto found =
        std::find_if(table.begin(), table.end(), [&](const OwnAction& own) { return own.name == action; });
    return found == table.end() ? nullptr : &*found;
}

void bringToFront(ShellWindow& window) {
    platform::bringForward(window.window());
}

template <typename T> std::shared_ptr<T> takeOut(std::vector<std::shared_ptr<T>>& list, const void* element) {
    std::shared_ptr<T> taken;
    std::erase_if(list, [&](const std::shared_ptr<T>& w) {
        if (w.get() != element) {
            return false;
        }
        taken = w;
        return true;
    });
    return taken;
}

WorkspaceNetworking::Options networkingOptions(platform::Defaults* defaults) {
    WorkspaceNetworking::Options options;
    options.defaults = defaults;
    return options;
}

WorkspaceBluetooth::Options bluetoothOptions(platform::Defaults* defaults) {
    WorkspaceBluetooth::Options options;
    options.defaults = defaults;
    return options;
}

} // namespace

QString bookmarkMenuTitle(const Bookmark& bookmark) {
    const std::string& label = bookmark.userBlurb.empty() ? bookmark.excerpt : bookmark.userBlurb;
    return QApplication::translate("ApplicationController", "Line") +
           QStringLiteral(" %1: ").arg(bookmark.line) +
           platform::plainMenuText(QString::fromStdString(label)) + QStringLiteral("...");
}

std::optional<double> bookmarkJumpProgress(int line, int lineCount) {
    if (lineCount <= 0) {
        return std::nullopt;
    }
    return (line - 1 + 0.155) / lineCount;
}

std::shared_ptr<ApplicationController> ApplicationController::create(Environment environment) {
    auto controller = std::make_shared<ApplicationController>(PrivateTag{}, std::move(environment));
    if (!controller->env_.windows.makeEditorWindow) {
        controller->env_.windows =
            makeRealWindowFactory(controller, *controller->defaults_, *controller->center_);
    }
    if (!controller->keyMonitor_) {
        controller->keyMonitor_ =
            makeGlobalKeyMonitor(*controller->workspace_, controller, *controller->defaults_);
    }
    if (!controller->env_.makeGameControllers) {
        controller->env_.makeGameControllers = &openGameControllers;
    }
    return controller;
}

ApplicationController::ApplicationController(PrivateTag, Environment environment)
    : env_(std::move(environment))
    , defaults_(env_.defaults ? env_.defaults : &platform::Defaults::standard())
    , center_(env_.center ? env_.center : &platform::NotificationCenter::defaultCenter())
    , workspace_(std::make_unique<Workspace>(*defaults_))
    , keyMonitor_(env_.keyMonitor)
    , recent_(std::make_unique<RecentDocuments>(*defaults_))
    , help_(std::make_unique<HelpActions>(*defaults_))
    , updater_(std::make_unique<Updater>()) {
    if (env_.makeRemoteServers) {
        servers_ = env_.makeRemoteServers(*workspace_);
    } else {
        servers_ = std::make_unique<WorkspaceRemoteServers>(
            WorkspaceNetworking::make(*workspace_, networkingOptions(defaults_)),
            WorkspaceBluetooth::make(*workspace_, bluetoothOptions(defaults_)));
    }
    MainMenu::Hooks hooks;
    hooks.checkedState = [this](std::string_view action) { return preferenceState(action); };
    hooks.bookmarksWillShow = [this](QMenu& menu) { rebuildBookmarksMenu(menu); };
    hooks.recentWillShow = [this](QMenu& menu) {
        menu.clear();
        for (const std::string& path : recent_->paths()) {
            const QString name = platform::plainMenuText(QFileInfo(platform::displayPath(path)).fileName());
            // One out of reach (a stick or a share not mounted) is shown unavailable, and kept.
            const bool available = RecentDocuments::isAvailable(path);
            QAction* item =
                available ? menu_->makeItem(menu, name, "openRecentDocument:") : menu.addAction(name);
            item->setEnabled(available);
            item->setProperty("path", QByteArray::fromStdString(path)); // a name need not be UTF-8
            item->setToolTip(platform::plainToolTip(platform::displayPath(path)));
        }
        if (menu.isEmpty()) {
            menu.addAction(QApplication::translate("ApplicationController", "No Recent Scripts"))
                ->setEnabled(false);
            return;
        }
        menu.addSeparator();
        menu_->makeItem(menu, QApplication::translate("ApplicationController", "Clear Menu"),
                        "clearRecentDocuments:");
    };
    menu_ = std::make_unique<MainMenu>(std::move(hooks));
    // The editor windows' own menus, whether one is open or not, for the Keys pane.
    static const auto editorMenuKeys = platform::addMenuKeys(&editor::EditorWindowController::menuItemKeys);
}

ApplicationController::~ApplicationController() {
    center_->removeObserver(this);
    platform::ActionResponder* self = this;
    if (platform::responderForAction("terminate:", nullptr, nullptr) == self) {
        platform::setApplicationResponder(nullptr);
    }
    // The windows report to us while they close: let them forget us first.
    editors_.clear();
    floating_.clear();
    bound_.clear();
    // Closed windows whose release was still to come (the loop ended first) go now, while the
    // application object still stands: a window destroyed under its destructor hangs there.
    closed_.clear();
    // The application's life ends with its controller (tests make one after another).
    platform::setApplicationQuitting(false);
}

// Lets go of a window handle once the event that closed it is over: its own code may still run.
// The handle stays with the controller, not with the posted event, so that it is released even
// when the loop ends before the event comes.
void ApplicationController::releaseLater(std::shared_ptr<void> handle) {
    if (!handle) {
        return;
    }
    closed_.push_back(std::move(handle));
    if (closed_.size() == 1) {
        QTimer::singleShot(0, qApp, [weak = weak_from_this()] {
            if (const auto self = weak.lock()) {
                // Moved out first: a window going may close another one.
                std::vector<std::shared_ptr<void>> closed = std::move(self->closed_);
                self->closed_.clear();
            }
        });
    }
}

// The windows and input devices never reach for it: they are handed what they need.
static std::weak_ptr<ApplicationController>& sharedController() {
    static std::weak_ptr<ApplicationController> controller;
    return controller;
}

std::shared_ptr<ApplicationController> ApplicationController::shared() {
    CW_DCHECK_MAIN_THREAD();
    return sharedController().lock();
}

QMenu* ApplicationController::bookmarkMenu() const {
    return menu_->bookmarksMenu();
}

QWidget* ApplicationController::startWindow() const {
    return startWindow_.get();
}

std::vector<platform::WindowController*> ApplicationController::remoteControlWindows() const {
    std::vector<platform::WindowController*> open;
    for (const QPointer<QObject>& window : remoteWindows_) {
        if (auto* controller = qobject_cast<platform::WindowController*>(window.data())) {
            open.push_back(controller);
        }
    }
    return open;
}

// ---- life cycle ---------------------------------------------------------------------------------

void ApplicationController::applicationWillFinishLaunching() {
    CW_DCHECK_MAIN_THREAD();
    defaults_->set(settings::launchCount, defaults_->integerForKey(settings::launchCount) + 1);
    base::log(welcomeLine(env_.buildInfo ? *env_.buildInfo : BuildInfo::current()));
    sharedController() = weak_from_this();
    platform::setApplicationResponder(this);
    registerUserDefaults(*defaults_);
    // Saves run on the store's queue: the alert waits for the main thread.
    defaults_->setSaveFailureHandler([weak = weak_from_this()](const std::string& why) {
        if (QCoreApplication::instance() == nullptr) {
            return;
        }
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [weak, why] {
                if (const auto self = weak.lock(); self && !self->terminating_) {
                    platform::runModalSheet(unsavedSettingsAlert(why));
                }
            },
            Qt::QueuedConnection);
    });
    applicationSupportFolder(); // made now, where the display settings will live
    if (env_.recoveryFolder) {
        std::string whyNot;
        if (auto store = RecoveryStore::open(*env_.recoveryFolder, &whyNot)) {
            store->setSecondMarkFolder(env_.recoverySecondMarkFolder);
            recovery_ = std::make_unique<ScriptRecovery>(std::move(store), *defaults_, env_.recoverySchedule);
            recovery_->setProblemHandler([this](const ScriptRecovery::Problem& problem) {
                setRecoveryProblem(problem.scripts, problem.reason);
            });
        } else {
            setRecoveryProblem(whyNot);
        }
    }
    if (defaults_->boolForKey(settings::listenToShortcutsInBackground)) {
        keyMonitor_->install(); // warns itself when it will see nothing
    }
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) {
        windowKeys_ = std::make_unique<WindowBindingKeys>(
            *defaults_, [this](const QWidget& window) { return runsOwnBindings(window); },
            [this](KeyBindings::Action action, bool isDown) {
                const auto project = workspace_->activeProject();
                if (!project) {
                    base::log(GlobalKeyMonitoring::noActiveProject);
                    return;
                }
                // The window the person is in keeps the keyboard, as in another application.
                const base::OutsideInputScope notAPrompterWindow;
                performBindingAction(*project, action, isDown);
            });
    }
    center_->addObserver(this, std::string(NetworkSettings::networkStateDidChange),
                         [this](const auto&) { didChangeNetworkState(); });
    center_->addObserver(this, std::string(notifications::backgroundEventListeningDidChange),
                         [this](const auto&) { keyMonitor_->backgroundListeningDidChange(); });
    // Before any file is opened, so that opening a script whose edits came back shows them.
    restoreRecoveredScripts();
}

void ApplicationController::applicationDidFinishLaunching() {
    CW_DCHECK_MAIN_THREAD();
    if (terminating_) {
        return; // the session ended while launching: nothing more is started
    }
    if (env_.offerMoveToApplicationsFolder) {
        env_.offerMoveToApplicationsFolder();
        if (terminating_) {
            return; // the session ended while the offer was up
        }
    }
    // Remote control switched off stays off after a restart, over the network and Bluetooth alike.
    if (defaults_->boolForKey(settings::isBonjourEnabled)) {
        servers_->startNetworking();
        servers_->startBluetooth();
    }
    if (hasNoScript() && storedStartupMode(*defaults_) == StartupMode::createNewDocument) {
        newDocument();
    }
    if (hasNoScript() && storedStartupMode(*defaults_) == StartupMode::openMostRecentDocument) {
        openMostRecentDocument(/*newDocumentWhenNone=*/true);
    }
    updater_->checkForUpdatesInBackground();
    gameControllers_.reset(); // one set at a time: SDL is process-wide
    gameControllers_ = env_.makeGameControllers(*workspace_, weak_from_this());
    if (gameControllers_) {
        gameControllers_->start();
    }
    launched_ = true;
    windowsChanged();
    tellOfResetSettings();
    showAlertsAfterStart();
}

void ApplicationController::alertAfterStart(std::function<void()> alert) {
    laterAlerts_.push_back(std::move(alert));
    if (launched_) {
        showAlertsAfterStart();
    }
}

// From the main loop, one after the other: an alert shown from another alert's loop would lie
// over it, and the one in front would not have the keyboard.
void ApplicationController::showAlertsAfterStart() {
    QTimer::singleShot(0, qApp, [weak = weak_from_this()] {
        const auto self = weak.lock();
        if (!self || self->showingLaterAlerts_) {
            return; // the one showing goes on with the rest
        }
        self->showingLaterAlerts_ = true;
        while (!self->laterAlerts_.empty() && !self->terminating_) {
            const std::function<void()> next = std::move(self->laterAlerts_.front());
            self->laterAlerts_.pop_front();
            next();
        }
        self->showingLaterAlerts_ = false;
    });
}

void ApplicationController::tellOfResetSettings() {
    const platform::Defaults::Reset reset = defaults_->resetAtLoad();
    if (!reset.any()) {
        return;
    }
    // After the start is through, so that it never holds a window or a hand-over up. The file no
    // longer holds what was reset, so the next start says nothing.
    alertAfterStart([alert = resetSettingsAlert(reset)] { platform::runModalSheet(alert); });
}

bool ApplicationController::applicationShouldHandleReopen(bool hasVisibleWindows) {
    if (!hasVisibleWindows) {
        newDocument();
    }
    return true;
}

void ApplicationController::handOver(const QStringList& paths) {
    for (const QString& path : paths) {
        openFile(path, ScriptReading::offMainThread);
    }
    if (!paths.isEmpty()) {
        return;
    }
    if (!editors_.empty()) {
        bringToFront(*editors_.back());
    } else if (startWindow_ && startWindow_->isVisible()) {
        platform::bringForward(startWindow_.get());
    } else {
        applicationShouldHandleReopen(hasVisibleWindows());
    }
}

bool ApplicationController::showsOrOpens(const QString& path) const {
    return showsOrOpensHere(platform::fileSystemPath(path));
}

bool ApplicationController::applicationShouldTerminate() {
    CW_DCHECK_MAIN_THREAD();
    // A second Ctrl+Q while a question is up, or while a paste is waited for, would ask again.
    if (askingToQuit_) {
        return false;
    }
    askingToQuit_ = true;
    const auto asking = qScopeGuard([this] { askingToQuit_ = false; });
    // Looked for again after every answer: a script edited or opened while a question was up is
    // asked about too. A window asked once is not asked again, should it stay listed.
    std::set<const void*> asked;
    for (;;) {
        const auto next = std::find_if(editors_.begin(), editors_.end(), [&](const auto& w) {
            return asked.count(w->controllerKey()) == 0 && (w->isDocumentEdited() || w->hasWorkGoingOn());
        });
        if (next == editors_.end()) {
            return true;
        }
        const std::shared_ptr<EditorWindow> window = *next;
        asked.insert(window->controllerKey());
        window->close();
        // Cancelled, or the save failed: the script is still unsaved, so stay.
        if (!window->hasBeenClosed()) {
            return false;
        }
    }
}

void ApplicationController::applicationWillTerminate() {
    CW_DCHECK_MAIN_THREAD();
    if (terminating_) {
        return;
    }
    terminating_ = true;
    // No question asked from here on, or up now, is answered.
    platform::setApplicationQuitting(true);
    for (const auto& opening : openings_) {
        opening->cancel();
    }
    keyMonitor_->uninstall();
    gameControllers_.reset();
    center_->removeObserver(this);
    servers_->stopNetworking();
    servers_->stopBluetooth();
    defaults_->synchronize();
}

bool ApplicationController::terminate() {
    if (terminating_) {
        return true;
    }
    if (!applicationShouldTerminate()) {
        return false;
    }
    applicationWillTerminate();
    // Not quit(): that closes every window once more, and the windows have been asked already.
    QCoreApplication::exit(0);
    return true;
}

void ApplicationController::terminateWithoutAsking() {
    CW_DCHECK_MAIN_THREAD();
    std::vector<std::shared_ptr<EditorWindow>> edited;
    std::copy_if(editors_.begin(), editors_.end(), std::back_inserter(edited),
                 [](const auto& window) { return window->isDocumentEdited(); });
    if (recovery_) {
        for (const auto& window : edited) {
            // What the editor has not handed to the script yet, it hands over before a save.
            window->project()->notifyWillSave();
            recovery_->writeNow(*window->project());
        }
    }
    // Edits that no copy keeps are asked about, as quitting asks.
    for (const auto& window : edited) {
        const bool kept = recovery_ ? recovery_->keepsEdits(*window->project()) : recoveryNotice_.isEmpty();
        if (kept) {
            continue;
        }
        // The signal's watchdog does not end the process under the question: nothing else keeps these edits.
        const SignalQuit::AnswerAwaited answer;
        window->close();
        if (!window->hasBeenClosed()) {
            return; // cancelled, or the save failed: the application goes on
        }
    }
    if (recovery_) {
        // The windows closing on the way out discard nothing.
        recovery_->preserve();
    }
    applicationWillTerminate();
    // Ends every loop running, start-up dialogs' included; before the main loop runs, main()
    // sees isTerminating() and does not start it.
    QCoreApplication::exit(0);
}

bool ApplicationController::openFile(const QString& path, ScriptReading reading) {
    return openFile(platform::fileSystemPath(path), reading);
}

bool ApplicationController::openFile(const std::string& path, ScriptReading reading) {
    try {
        openDocument(path, reading);
        return true;
    } catch (const std::exception& error) {
        presentDocumentError(error);
        return false;
    }
}

void ApplicationController::didChangeNetworkState() {
    if (defaults_->boolForKey(settings::isBonjourEnabled)) {
        servers_->startNetworking();
        servers_->startBluetooth();
    } else {
        servers_->stopNetworking();
        servers_->stopBluetooth();
    }
}

// ---- documents ----------------------------------------------------------------------------------

std::optional<std::string> ApplicationController::applicationSupportFolder() {
    if (const std::optional<std::filesystem::path> folder = applicationSupportDirectory()) {
        return folder->string();
    }
    base::log("Unable to find or create application support directory:\n" +
              std::string(std::getenv(std::string(applicationSupportVariable).c_str())
                              ? "$CUEWRIGHT_DATA_DIR"
                              : "$XDG_DATA_HOME/Cuewright") +
              " cannot be made, or is not the user's own");
    return std::nullopt;
}

std::string ApplicationController::canonicalPath(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error).lexically_normal();
    const std::filesystem::path canonical = std::filesystem::canonical(absolute, error);
    std::string result = (error ? absolute : canonical).string();
    // "/a/b/" names the folder "/a/b", as it is compared.
    while (result.size() > 1 && result.back() == '/') {
        result.pop_back();
    }
    return result;
}

std::string ApplicationController::absolutePath(const std::string& path) {
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error) {
        absolute = path;
    }
    // "." and doubled slashes go; ".." stays, as after a link to a folder it leads to the parent
    // of the folder linked to, which only the system knows.
    if (std::none_of(absolute.begin(), absolute.end(), [](const auto& part) { return part == ".."; })) {
        absolute = absolute.lexically_normal();
    }
    std::string result = absolute.string();
    while (result.size() > 1 && result.back() == '/') {
        result.pop_back();
    }
    return result;
}

// Whether `path` is the file at `canonical`: by name, or a hard link of it.
static bool sameFile(const std::string& path, const std::string& canonical) {
    std::error_code error;
    return ApplicationController::canonicalPath(path) == canonical ||
           (std::filesystem::equivalent(path, canonical, error) && !error);
}

EditorWindow* ApplicationController::editorShowing(const std::string& canonical,
                                                   const Project* except) const {
    for (const auto& editor : editors_) {
        const std::optional<std::string> shown =
            editor->project() ? editor->project()->representedPath() : std::nullopt;
        if (editor->project().get() != except && shown && sameFile(*shown, canonical)) {
            return editor.get();
        }
    }
    return nullptr;
}

bool ApplicationController::showsOrOpensHere(const std::string& path) const {
    const std::string canonical = canonicalPath(path);
    return editorShowing(canonical) != nullptr ||
           std::any_of(openings_.begin(), openings_.end(), [&](const auto& opening) {
               return !opening->isDone() && sameFile(opening->filePath(), canonical);
           });
}

void ApplicationController::openDocument(const std::string& path, ScriptReading reading) {
    CW_DCHECK_MAIN_THREAD();
    // The file is read, named and kept by the path given: through a link ("current.cwr" ->
    // "talk-v3") the extension is the link's, and a save writes through it. Which file it is
    // goes by where the path leads.
    const std::string given = absolutePath(path);
    const std::string canonical = canonicalPath(given);
    if (EditorWindow* editor = editorShowing(canonical)) {
        editor->showWindow();
        return;
    }
    // Still being read or laid out: a second load would make a second window of the same file.
    for (const auto& opening : openings_) {
        if (!opening->isDone() && sameFile(opening->filePath(), canonical)) {
            base::log("opening " + given + " again while it is opened: brought forward, not read twice");
            opening->bringForward();
            return;
        }
    }
    // Two windows in two copies would save over each other. A script's lock is taken before it
    // is read, not once it shows: of two copies given it at one moment, one opens it.
    const bool script = Workspace::fileExtension(given) == "cwr";
    const bool heldElsewhere =
        script ? shownLocks_.claim(given) == ShownFileLocks::Claim::heldElsewhere : true;
    if (heldElsewhere && shownElsewhere_ && shownElsewhere_(given)) {
        return;
    }
    // An RTFD package is a folder by nature; any other folder would be told as an unknown or
    // unreadable file, with no word of why.
    std::error_code error;
    if (std::filesystem::is_directory(given, error) && Workspace::fileExtension(given) != "rtfd") {
        throw ProjectError::couldNotOpen(given, "it is a folder, not a file");
    }
    if ((reading == ScriptReading::offMainThread || !script) && LargeFileOpening::opensOffMainThread(given)) {
        openOffMainThread(given);
        return;
    }
    std::shared_ptr<Project> project;
    try {
        project = workspace_->openProject(given);
    } catch (...) {
        lockShownFiles(); // the claim goes with the read
        throw;
    }
    makeEditorWindow(project);
    recent_->note(given);
}

void ApplicationController::openOffMainThread(const std::string& path) {
    std::erase_if(openings_, [](const auto& opening) { return opening->isDone(); });
    std::weak_ptr<ApplicationController> weak = weak_from_this();
    auto finished = [weak, path](LargeFileOpening::Read read) -> LargeFileOpening::Opened {
        const auto self = weak.lock();
        if (!self || self->terminating_) {
            return {};
        }
        std::shared_ptr<EditorWindow> window;
        try {
            if (read.error) {
                self->shownLocks_.release(path);    // not held while the error is told
                std::rethrow_exception(read.error); // a file is not read twice
            }
            // An unreadable text (or not UTF-8): the usual way reads it again and says why.
            std::shared_ptr<Project> project =
                read.script
                    ? self->workspace_->openReadScript(path, std::move(*read.script), read.stamp, read.notice)
                : read.text ? self->workspace_->openImportedText(*read.text, read.notice)
                            : self->workspace_->openProject(path);
            window = self->makeEditorWindow(project);
        } catch (const std::exception& error) {
            self->presentDocumentError(error);
            return {};
        }
        // A long text fills its window piece by piece; it is a recent document once all of it
        // is in, and a cancel meanwhile closes the window unasked (nothing of it was edited).
        const std::weak_ptr<EditorWindow> shown = window;
        auto noted = std::make_shared<bool>(false);
        LargeFileOpening::Opened opened;
        opened.progress = [weak, shown, path, noted]() -> std::optional<double> {
            const auto window = shown.lock();
            const auto self = weak.lock();
            if (!window || !self || window->hasBeenClosed()) {
                return std::nullopt;
            }
            std::optional<double> progress = window->textLoadProgress();
            if (!progress && !std::exchange(*noted, true)) {
                self->recent_->note(path);
            }
            return progress;
        };
        opened.show = [shown] {
            if (const auto window = shown.lock()) {
                window->showWindow();
            }
        };
        opened.window = window->window();
        opened.cancel = [shown] {
            if (const auto window = shown.lock()) {
                window->project()->setHasUnsavedChanges(false);
                window->close();
            }
        };
        return opened;
    };
    openings_.push_back(
        std::make_shared<LargeFileOpening>(path, ScriptImport::DefaultStyle::fromUserDefaults(*defaults_),
                                           std::move(finished), nullptr, defaults_));
    // A script's lock, claimed before the read, stays with its window or goes.
    QObject::connect(openings_.back().get(), &LargeFileOpening::ended, openings_.back().get(), [weak] {
        if (const auto self = weak.lock()) {
            self->lockShownFiles();
        }
    });
}

std::vector<LargeFileOpening*> ApplicationController::largeFileOpenings() const {
    std::vector<LargeFileOpening*> pending;
    for (const auto& opening : openings_) {
        if (!opening->isDone()) {
            pending.push_back(opening.get());
        }
    }
    return pending;
}

bool ApplicationController::hasNoScript() const {
    return workspace_->projects().empty() && largeFileOpenings().empty();
}

void ApplicationController::openMostRecentDocument(bool newDocumentWhenNone) {
    const std::vector<std::string> paths = recent_->paths();
    if (!paths.empty()) {
        // Out of reach, it is said so; another script in its place would be prompted unawares.
        openFile(paths.front(), ScriptReading::offMainThread);
    } else if (newDocumentWhenNone) {
        newDocument();
    }
}

// The scripts of recovery entries, as a message names them: "a.txt, b.txt".
static QString entryNames(const std::vector<RecoveryStore::Entry>& entries) {
    QStringList names;
    for (const RecoveryStore::Entry& entry : entries) {
        names << platform::displayPath(entry.name);
    }
    return names.join(QStringLiteral(", "));
}

// Asked once: either answer takes the copies out of what a start brings back. The application
// quitting under the question (a signal, the session ending) answers nothing: the next start asks.
static void askAboutUnreadableCopies(ScriptRecovery& recovery,
                                     const std::vector<RecoveryStore::Entry>& unreadable, QWidget* window) {
    platform::Alert alert;
    alert.messageText =
        QApplication::translate("ApplicationController", "Unsaved changes could not be brought back.");
    alert.informativeText =
        QApplication::translate("ApplicationController",
                                "The unsaved changes of %1 cannot be read. Show Folder sets their copies "
                                "aside in “%2” and shows it; Discard deletes them.")
            .arg(entryNames(unreadable), platform::displayPath(recovery.store().folder().string()));
    alert.buttons = {QApplication::translate("ApplicationController", "Show Folder"),
                     QApplication::translate("ApplicationController", "Discard")};
    alert.style = platform::Alert::Style::warning;
    const int answer = platform::alertRunner().run(alert, window);
    if (answer == platform::alertNoAnswer) {
        return;
    }
    const bool show = answer == platform::alertFirstButtonReturn;
    for (const RecoveryStore::Entry& entry : unreadable) {
        show ? recovery.setAsideUnreadable(entry.id) : recovery.discardUnreadable(entry.id);
    }
    if (show) {
        openOrSayWhy(QUrl::fromLocalFile(QFile::decodeName(recovery.store().folder().c_str())));
    }
}

void ApplicationController::restoreRecoveredScripts() {
    if (!recovery_) {
        return;
    }
    std::vector<RecoveryStore::Entry> unreadable;
    std::vector<std::shared_ptr<Project>> older;
    const std::vector<std::shared_ptr<Project>> restored =
        recovery_->restore([this] { return workspace_->newProject(); }, &unreadable, &older);
    const auto shownName = [](const Project& project) {
        const std::optional<std::string> path = project.representedPath();
        const std::optional<std::string> name = project.untitledName();
        return path   ? QFileInfo(platform::displayPath(*path)).fileName()
               : name ? platform::displayPath(*name)
                      : QApplication::translate("ApplicationController", "Untitled");
    };
    QStringList names;
    QPointer<QWidget> first;
    for (const std::shared_ptr<Project>& project : restored) {
        std::shared_ptr<EditorWindow> window = makeEditorWindow(project);
        window->setDocumentEdited(); // the window took the script for saved when it loaded
        if (std::find(older.begin(), older.end(), project) == older.end()) {
            names << shownName(*project); // the older ones are told apart below
        }
        if (!first) {
            first = window->window();
        }
    }
    if (!names.isEmpty()) {
        base::log("Brought back unsaved edits of " + names.join(QStringLiteral(", ")).toStdString());
        platform::Alert alert;
        alert.messageText =
            QApplication::translate("ApplicationController", "Unsaved changes were brought back.");
        alert.informativeText =
            QApplication::translate(
                "ApplicationController",
                "Cuewright ended before these scripts were saved: %1. Save them to keep the changes.")
                .arg(names.join(QStringLiteral(", ")));
        alert.buttons = {QApplication::translate("ApplicationController", "OK")};
        alert.style = platform::Alert::Style::informational;
        // Once the application runs, so that launching goes on meanwhile.
        alertAfterStart([alert, first] { platform::alertRunner().run(alert, first); });
    }
    if (!older.empty()) {
        QStringList olderNames;
        for (const std::shared_ptr<Project>& project : older) {
            olderNames << shownName(*project);
        }
        platform::Alert alert;
        alert.messageText =
            QApplication::translate("ApplicationController", "The last edits of %1 could not be kept.")
                .arg(olderNames.join(QStringLiteral(", ")));
        alert.informativeText = QApplication::translate(
            "ApplicationController",
            "Cuewright ended before a recovery copy of them was written: what came back is older than "
            "the last edits. Save it to keep what came back.");
        alert.buttons = {QApplication::translate("ApplicationController", "OK")};
        alert.style = platform::Alert::Style::warning;
        alertAfterStart([alert, first] { platform::alertRunner().run(alert, first); });
    }
    recovery_->flush();
    if (const std::vector<RecoveryStore::Entry>& lost = recovery_->store().lostAtOpen(); !lost.empty()) {
        platform::Alert alert;
        alert.messageText = QApplication::translate("ApplicationController", "Edits of %1 could not be kept.")
                                .arg(entryNames(lost));
        alert.informativeText = QApplication::translate(
            "ApplicationController",
            "Cuewright ended while no recovery copy of these edits could be written.");
        alert.buttons = {QApplication::translate("ApplicationController", "OK")};
        alert.style = platform::Alert::Style::warning;
        alertAfterStart([alert, first] { platform::alertRunner().run(alert, first); });
    }
    if (!unreadable.empty()) {
        alertAfterStart([weak = weak_from_this(), unreadable, first] {
            if (const auto self = weak.lock(); self && self->recovery_) {
                askAboutUnreadableCopies(*self->recovery_, unreadable, first);
            }
        });
    }
}

void ApplicationController::setRecoveryProblem(const std::string& problem) {
    showRecoveryNotice(
        problem.empty() ? QString()
                        : QApplication::translate(
                              "ApplicationController",
                              "Unsaved edits are not being kept: %1. Save your scripts to keep your changes.")
                              .arg(QFile::decodeName(problem.c_str())));
}

void ApplicationController::setRecoveryProblem(const std::vector<std::string>& scripts,
                                               const std::string& reason) {
    QStringList names;
    for (const std::string& name : scripts) {
        names << platform::displayPath(name);
    }
    const QString notice =
        names.size() == 1
            ? QApplication::translate(
                  "ApplicationController",
                  "Unsaved edits of %1 are not being kept: %2. Save it to keep your changes.")
            : QApplication::translate(
                  "ApplicationController",
                  "Unsaved edits of %1 are not being kept: %2. Save them to keep your changes.");
    showRecoveryNotice(names.isEmpty()
                           ? QString()
                           : notice.arg(names.join(QStringLiteral(", ")), QString::fromStdString(reason)));
}

void ApplicationController::showRecoveryNotice(const QString& notice) {
    recoveryNotice_ = notice;
    for (const auto& window : editors_) {
        window->setNotice(recoveryNotice_);
    }
}

void ApplicationController::newDocument() {
    makeEditorWindow(workspace_->newProject());
}

void ApplicationController::openDocumentPanel() {
    platform::OpenPanel panel;
    panel.title = QApplication::translate("ApplicationController", "Open Script");
    panel.allowedExtensions = {"cwr", "rtf", "rtfd", "txt", "text", "docx", "doc", "pdf"};
    const QStringList chosen = platform::fileDialogs().runOpenPanel(panel, QApplication::activeWindow());
    if (!chosen.isEmpty() && !chosen.first().isEmpty()) {
        openFile(chosen.first(), ScriptReading::offMainThread);
    }
}

std::shared_ptr<EditorWindow>
ApplicationController::makeEditorWindow(const std::shared_ptr<Project>& project) {
    std::shared_ptr<EditorWindow> window = env_.windows.makeEditorWindow(project);
    window->setNotice(recoveryNotice_);
    editors_.push_back(window);
    // The remotes drive the script in front before its window is ever activated: an alert of the
    // start may hold the keyboard until it is answered.
    if (!launched_ || !workspace_->activeProject()) {
        workspace_->setActiveProject(project);
    }
    if (recovery_) {
        recovery_->follow(project);
    }
    std::weak_ptr<ApplicationController> weak = weak_from_this();
    window->setRecentDocumentHandler([weak](const std::string& saved) {
        if (auto self = weak.lock()) {
            self->recent_->note(absolutePath(saved));
            self->lockShownFiles(); // a new path, or the file replaced by the save
        }
    });
    window->setOpenElsewhereCheck([weak, own = std::weak_ptr<Project>(project)](const std::string& path) {
        const auto self = weak.lock();
        return self && self->editorShowing(canonicalPath(path), own.lock().get()) != nullptr;
    });
    // A file shown here may be another copy's too: a script brought back here while that copy
    // showed its file.
    window->setOtherCopyCheck([weak](const std::string& path) {
        const auto self = weak.lock();
        return self && self->shownLocks_.heldAlsoElsewhere(path);
    });
    window->showWindow();
    installMenus(*window, /*withBar=*/true);
    windowsChanged();
    return window;
}

void ApplicationController::presentDocumentError(const std::exception& error) {
    platform::Alert alert;
    alert.messageText = QString::fromUtf8(error.what());
    alert.buttons = {QApplication::translate("ApplicationController", "OK")};
    alert.style = platform::Alert::Style::critical;
    if (!launched_) {
        // A file named at the start: the start goes on (the other files, the remote control)
        // while this waits beside it.
        alertAfterStart([alert] { platform::alertRunner().run(alert, QApplication::activeWindow()); });
        return;
    }
    platform::alertRunner().run(alert, QApplication::activeWindow());
}

// ---- prompter windows ---------------------------------------------------------------------------

void ApplicationController::spawnPrompterWindow(const std::shared_ptr<Project>& project,
                                                TeleprompterWindowPreset preset) {
    CW_DCHECK_MAIN_THREAD();
    std::shared_ptr<PrompterWindow> window = env_.windows.makePrompterWindow(project, preset, std::nullopt);
    floating_.push_back(window);
    window->showWindow();
    installMenus(*window, /*withBar=*/preset == TeleprompterWindowPreset::normal);
}

bool ApplicationController::toggleScreenBoundPrompter(const std::shared_ptr<Project>& project,
                                                      const ScreenDescription& screen) {
    CW_DCHECK_MAIN_THREAD();
    const auto matches = [&](const std::shared_ptr<PrompterWindow>& w) {
        return w->project() == project && w->screenDesc() &&
               w->screenDesc()->displayUUID == screen.displayUUID;
    };
    if (std::any_of(bound_.begin(), bound_.end(), matches)) {
        // Each window leaves bound_ while it closes: walk a copy.
        const std::vector<std::shared_ptr<PrompterWindow>> windows = bound_;
        for (const auto& window : windows) {
            if (matches(window)) {
                window->close();
            }
        }
        return std::any_of(bound_.begin(), bound_.end(), matches);
    }
    QScreen* display =
        env_.windows.screenForDisplayUUID ? env_.windows.screenForDisplayUUID(screen.displayUUID) : nullptr;
    if (display == nullptr) {
        return false;
    }
    std::shared_ptr<PrompterWindow> window =
        env_.windows.makePrompterWindow(project, TeleprompterWindowPreset::normal, screen);
    bound_.push_back(window);
    window->showFullScreen(display);
    installMenus(*window, /*withBar=*/false);
    return true;
}

void ApplicationController::showPrompter(const std::shared_ptr<Project>& project) {
    CW_DCHECK_MAIN_THREAD();
    QWidget* main = QApplication::activeWindow();
    const auto ofProject = [&](const std::shared_ptr<PrompterWindow>& w) { return w->project() == project; };
    const auto isMain = [&](const std::shared_ptr<PrompterWindow>& w) {
        return main != nullptr && ofProject(w) && w->window() == main;
    };
    bool hasFloating = std::any_of(floating_.begin(), floating_.end(), isMain) ||
                       std::any_of(bound_.begin(), bound_.end(), isMain);
    if (!hasFloating) {
        const bool editorStaysInFront = defaults_->boolForKey(settings::autoscrollEditorDuringPrompting);
        for (const auto& window : std::vector(floating_)) {
            if (ofProject(window)) {
                hasFloating = true;
                if (!editorStaysInFront) {
                    bringToFront(*window);
                }
            }
        }
    }
    bool hasBound = false;
    for (const auto& window : std::vector(bound_)) {
        // One hidden while its display is away stays hidden: it would land over the editor.
        const bool hidden = window->window() != nullptr && !window->window()->isVisible();
        if (ofProject(window) && !hidden) {
            hasBound = true;
            bringToFront(*window);
        }
    }
    if (!hasFloating && !hasBound) {
        spawnPrompterWindow(project, TeleprompterWindowPreset::normal);
    }
}

std::shared_ptr<PrompterWindow> ApplicationController::findPrompterWindow(const Project& project) const {
    for (const auto* list : {&floating_, &bound_}) {
        const auto found = std::find_if(list->begin(), list->end(),
                                        [&](const auto& w) { return w->project().get() == &project; });
        if (found != list->end()) {
            return *found;
        }
    }
    return nullptr;
}

bool ApplicationController::performBindingAction(Project& project, KeyBindings::Action action, bool isDown,
                                                 int depth) {
    CW_DCHECK_MAIN_THREAD();
    if (depth > 2) {
        return false;
    }
    std::shared_ptr<PrompterWindow> window = findPrompterWindow(project);
    if (!window) {
        showPrompter(project.shared_from_this());
        return performBindingAction(project, action, isDown, depth + 1);
    }
    ProjectBindingTarget target(project, [&](BindingActionTarget::LineStep step) {
        window->stepLines(step == BindingActionTarget::LineStep::up ? PrompterWindow::LineStep::up
                                                                    : PrompterWindow::LineStep::down);
        return true;
    });
    runBindingAction(target, action, isDown, BindingContext::application);
    return true;
}

bool ApplicationController::runsOwnBindings(const QWidget& window) const {
    const auto shows = [&](const auto& list) {
        return std::any_of(list.begin(), list.end(),
                           [&](const auto& shell) { return shell->window() == &window; });
    };
    return shows(editors_) || shows(floating_) || shows(bound_);
}

// ---- what the windows tell ----------------------------------------------------------------------

void ApplicationController::editorWindowDidBecomeMain(EditorWindow& window) {
    workspace_->setActiveProject(window.project());
    rebuildBookmarksMenu(*bookmarkMenu());
    menu_->validateAll();
}

void ApplicationController::prompterWindowDidBecomeMain(PrompterWindow& window) {
    workspace_->setActiveProject(window.project());
    rebuildBookmarksMenu(*bookmarkMenu());
    menu_->validateAll();
}

void ApplicationController::editorWindowWillClose(EditorWindow& closing) {
    CW_DCHECK_MAIN_THREAD();
    const std::shared_ptr<Project> project = closing.project();
    for (auto* list : {&floating_, &bound_}) {
        for (const auto& window : std::vector(*list)) { // closing changes the list
            if (window->project() == project) {
                std::erase(*list, window);
                window->close();
                releaseLater(window);
            }
        }
    }
    std::shared_ptr<EditorWindow> editor = takeOut(editors_, &closing);
    if (!editor) {
        return;
    }
    if (project) {
        if (recovery_) {
            recovery_->forget(*project); // saved, or its edits discarded
        }
        workspace_->closeProject(project);
    }
    releaseLater(std::move(editor));
    windowsChanged();
}

void ApplicationController::prompterWindowWillClose(PrompterWindow& closing) {
    releaseLater(takeOut(floating_, &closing));
    releaseLater(takeOut(bound_, &closing));
}

EditorWindow* ApplicationController::editorWindowFor(const void* controllerKey) const {
    for (const auto& window : editors_) {
        if (window->controllerKey() == controllerKey) {
            return window.get();
        }
    }
    return nullptr;
}

void ApplicationController::editorWindowControllerDidBecomeMain(editor::EditorWindowController& controller) {
    if (EditorWindow* window = editorWindowFor(&controller)) {
        editorWindowDidBecomeMain(*window);
    }
}

void ApplicationController::editorWindowControllerWillClose(editor::EditorWindowController& controller) {
    if (EditorWindow* window = editorWindowFor(&controller)) {
        editorWindowWillClose(*window);
    }
}

void ApplicationController::editorWindowControllerSpawnPrompterWindow(
    editor::EditorWindowController& controller, TeleprompterWindowPreset preset) {
    spawnPrompterWindow(controller.project(), preset);
}

void ApplicationController::editorWindowControllerShowPrompter(editor::EditorWindowController& controller) {
    showPrompter(controller.project());
}

bool ApplicationController::editorWindowControllerToggleScreenBoundPrompter(
    editor::EditorWindowController& controller, const ScreenDescription& screen) {
    return toggleScreenBoundPrompter(controller.project(), screen);
}

void ApplicationController::prompterWindowControllerSpawnPrompterWindow(PrompterWindowController& controller,
                                                                        TeleprompterWindowPreset preset) {
    spawnPrompterWindow(controller.project(), preset);
}

void ApplicationController::prompterWindowControllerDidBecomeMain(PrompterWindowController& controller) {
    for (const auto* list : {&floating_, &bound_}) {
        for (const auto& window : *list) {
            if (window->controllerKey() == &controller) {
                prompterWindowDidBecomeMain(*window);
                return;
            }
        }
    }
}

void ApplicationController::prompterWindowControllerWillClose(PrompterWindowController& controller) {
    for (const auto* list : {&floating_, &bound_}) {
        for (const auto& window : *list) {
            if (window->controllerKey() == &controller) {
                prompterWindowWillClose(*window);
                return;
            }
        }
    }
}

void ApplicationController::installMenus(ShellWindow& window, bool withBar) {
    QWidget* widget = window.window();
    if (widget == nullptr) {
        return;
    }
    if (auto* main = qobject_cast<QMainWindow*>(widget)) {
        menu_->addTo(*main->menuBar());
    } else if (withBar && widget->layout() != nullptr && widget->layout()->menuBar() == nullptr) {
        widget->layout()->setMenuBar(menu_->makeMenuBar(widget));
    } else {
        menu_->addShortcutsTo(*widget);
    }
}

bool ApplicationController::hasVisibleWindows() const {
    const auto visible = [](const auto& w) { return w->window() != nullptr && w->window()->isVisible(); };
    return std::any_of(editors_.begin(), editors_.end(), visible) ||
           std::any_of(floating_.begin(), floating_.end(), visible) ||
           std::any_of(bound_.begin(), bound_.end(), visible) || (startWindow_ && startWindow_->isVisible());
}

void ApplicationController::windowsChanged() {
    lockShownFiles();
    menu_->validateAll();
    showStartWindowWhenAlone();
}

void ApplicationController::lockShownFiles() {
    std::vector<std::string> shown;
    for (const auto& editor : editors_) {
        if (const std::optional<std::string> path =
                editor->project() ? editor->project()->representedPath() : std::nullopt) {
            shown.push_back(*path);
        }
    }
    for (const auto& opening : openings_) {
        if (!opening->isDone()) {
            shown.push_back(opening->filePath()); // claimed before it was read
        }
    }
    shownLocks_.hold(shown);
}

void ApplicationController::showStartWindowWhenAlone() {
    if (!launched_ || terminating_ || !env_.showsStartWindow) {
        return;
    }
    if (!editors_.empty()) {
        if (startWindow_) {
            startWindow_->hide();
        }
        return;
    }
    if (!startWindow_) {
        startWindow_ = std::make_unique<StartWindow>(menu_->makeMenuBar(nullptr), menu_->recentMenu());
        QObject::connect(startWindow_.get(), &StartWindow::closeRequested, startWindow_.get(),
                         [this] { terminate(); });
    }
    platform::bringForward(startWindow_.get());
}

// ---- menus --------------------------------------------------------------------------------------

void ApplicationController::rebuildBookmarksMenu(QMenu& menu) {
    for (QAction* item : menu.actions()) {
        if (item->property("tag").toInt() > 0) {
            menu.removeAction(item);
            delete item;
        }
    }
    const std::shared_ptr<Project>& project = workspace_->activeProject();
    if (!project) {
        return;
    }
    int number = 0;
    for (const Bookmark& bookmark : project->bookmarks()) {
        ++number;
        menu_->makeBookmarkItem(menu, bookmarkMenuTitle(bookmark), number);
    }
}

void ApplicationController::jumpToBookmarkNumber(int number) {
    const std::shared_ptr<Project>& project = workspace_->activeProject();
    if (!project) {
        return;
    }
    const std::vector<Bookmark> bookmarks = project->bookmarks();
    if (number < 1 || number > static_cast<int>(bookmarks.size())) {
        return;
    }
    const std::optional<double> progress = bookmarkJumpProgress(
        bookmarks[static_cast<std::size_t>(number - 1)].line, project->editor().lineCount);
    if (progress) {
        project->setProgress(*progress, /*animated=*/false, /*immediate=*/true);
    }
}

void ApplicationController::jumpToNextBookmark() {
    if (const auto& project = workspace_->activeProject()) {
        project->jumpToNextBookmark();
    }
}

void ApplicationController::jumpToPrevBookmark() {
    if (const auto& project = workspace_->activeProject()) {
        project->jumpToPreviousBookmark();
    }
}

void ApplicationController::togglePreference(std::string_view action) {
    const PreferenceToggle* toggle = findToggle(action);
    if (toggle == nullptr) {
        return;
    }
    const bool value = !defaults_->boolForKey(toggle->key);
    if (toggle->key == settings::autoscrollEditorDuringPrompting) {
        setAutoscrollEditorDuringPrompting(value, *defaults_, *center_);
    } else if (toggle->key == settings::scrollEditorToStopPosition) {
        setScrollEditorToStopPosition(value, *defaults_, *center_);
    } else {
        defaults_->set(toggle->key, value);
    }
}

std::optional<bool> ApplicationController::preferenceState(std::string_view action) const {
    const PreferenceToggle* toggle = findToggle(action);
    return toggle ? std::optional(defaults_->boolForKey(toggle->key)) : std::nullopt;
}

void ApplicationController::showRemoteControlWindow() {
    platform::WindowController* window = env_.makeRemoteControlWindow
                                             ? env_.makeRemoteControlWindow(*workspace_)
                                             : new RemoteControlWindowController(workspace_.get());
    // Nobody keeps it: it owns itself until its window closes.
    QObject::connect(window, &platform::WindowController::windowDidClose, window, &QObject::deleteLater);
    std::erase_if(remoteWindows_, [](const QPointer<QObject>& w) { return w.isNull(); });
    remoteWindows_.emplace_back(window);
    window->showWindow();
}

void ApplicationController::showSettingsPanel() {
    if (!settings_) {
        settings_ = std::make_unique<SettingsPanelController>(RegistrationHost::current().localizedName,
                                                              *defaults_, *center_);
    }
    settings_->showWindow();
}

void ApplicationController::checkUpdates() {
    updater_->checkForUpdates(QApplication::activeWindow());
}

bool ApplicationController::respondsToAction(std::string_view action) const {
    return findOwnAction(action) != nullptr || findToggle(action) != nullptr || isEditAction(action) ||
           help_->respondsToAction(action);
}

bool ApplicationController::validateAction(std::string_view action) const {
    if (action == "jumpToNextBookmark:" || action == "jumpToPrevBookmark:") {
        const auto& project = workspace_->activeProject();
        return project && !project->bookmarks().empty();
    }
    if (action == "spawnIndependentPrompterWindow:" || action == "spawnTransparentPrompterWindow:") {
        return workspace_->activeProject() != nullptr;
    }
    if (isEditAction(action)) {
        // The window's focus, not the menu that is open while the Edit menu is validated.
        QWidget* focus = platform::actionFocusWidget(nullptr);
        const bool needsSelection = action == "cut:" || action == "copy:";
        return focus != nullptr && focus->metaObject()->indexOfSlot(slotOf(action) + "()") >= 0 &&
               (!needsSelection || hasSelection(*focus));
    }
    return respondsToAction(action);
}

void ApplicationController::performAction(std::string_view action, QObject* sender) {
    if (const OwnAction* own = findOwnAction(action)) {
        own->perform(*this, sender);
    } else if (findToggle(action) != nullptr) {
        togglePreference(action);
    } else if (isEditAction(action)) {
        QWidget* focus = platform::actionFocusWidget(sender);
        if (focus && focus->metaObject()->indexOfSlot(slotOf(action) + "()") >= 0) {
            QMetaObject::invokeMethod(focus, slotOf(action).constData());
        }
    } else if (help_->respondsToAction(action)) {
        help_->performAction(action, sender);
    }
}

} // namespace cw
