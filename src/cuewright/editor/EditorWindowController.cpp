#include "cuewright/editor/EditorWindowController.h"
#include "cuewright/editor/EditorWindowKeys.h"

#include "base/Log.h"
#include "cuewright/controls/TransportButton.h"
#include "cuewright/displays/DisplayPrompterOpener.h"
#include "cuewright/editor/BookmarkListController.h"
#include "cuewright/editor/EditorController.h"
#include "cuewright/editor/EditorWindowControllerDelegate.h"
#include "cuewright/editor/FindBar.h"
#include "cuewright/editor/ScriptTextView.h"
#include "cuewright/editor/SidebarController.h"
#include "cuewright/editor/StatusbarController.h"
#include "cuewright/editor/ToolbarIcons.h"
#include "cuewright/editor/TransportController.h"
#include "cuewright/model/Project.h"
#include "cuewright/model/SettingsKeys.h"
#include "dispatch/MainThreadChecker.h"
#include "platform/defaults/Defaults.h"
#include "platform/defaults/NotificationCenter.h"
#include "platform/ui/AlertRunner.h"
#include "platform/ui/Appearance.h"
#include "platform/ui/PlainText.h"
#include "platform/ui/StandardShortcut.h"
#include "platform/ui/WindowFrame.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QChildEvent>
#include <QEvent>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QTextDocument>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

#include <optional>
#include <utility>

namespace cw::editor {

namespace {

using Window = EditorWindowController;

// The Displays pane's switches, passed on to the window's delegate (the application shell).
class DelegateDisplayOpener final : public DisplayPrompterOpener {
public:
    explicit DelegateDisplayOpener(std::weak_ptr<Window> window)
        : window_(std::move(window)) {}
    bool toggleScreenBoundPrompter(const std::shared_ptr<Project>&,
                                   const ScreenDescription& screen) override {
        const auto window = window_.lock();
        const auto shell = window ? window->delegate() : nullptr;
        return shell && shell->editorWindowControllerToggleScreenBoundPrompter(*window, screen);
    }
    // To the transport's play button, where Space plays and pauses.
    void giveKeyboardBackFromSwitch() override {
        const auto window = window_.lock();
        if (window && window->statusbarController() && window->statusbarController()->transportController()) {
            window->statusbarController()
                ->transportController()
                ->button(TransportController::Button::play)
                .setFocus(Qt::ShortcutFocusReason);
        }
    }

private:
    std::weak_ptr<Window> window_;
};

// The window's named actions and what each does; `sender` carries a mode item's tag.
struct WindowAction {
    std::string_view name;
    void (*perform)(Window& window, QObject* sender);
};

constexpr char tagProperty[] = "tag";
constexpr char actionProperty[] = "cwAction";

int tagOf(const QObject* sender) {
    return sender ? sender->property(tagProperty).toInt() : 0;
}

constexpr std::array<WindowAction, 24> windowActions{{
    {"saveDocument:", [](Window& w, QObject*) { w.saveDocument(); }},
    {"saveDocumentAs:", [](Window& w, QObject*) { w.saveDocumentAs(); }},
    {"exportDocument:", [](Window& w, QObject*) { w.exportDocument(); }},
    {"printBoy:", [](Window& w, QObject*) { w.printBoy(); }},
    {"performClose:", [](Window& w, QObject*) { w.close(); }},
    {"spawnIndependentPrompterWindow:", [](Window& w, QObject*) { w.spawnIndependentPrompterWindow(); }},
    {"spawnTransparentPrompterWindow:", [](Window& w, QObject*) { w.spawnTransparentPrompterWindow(); }},
    {"startPrompting:", [](Window& w, QObject*) { w.startPrompting(); }},
    {"toggleEditorLock:", [](Window& w, QObject*) { w.toggleEditorLock(); }},
    {"switchEditorMode:", [](Window& w, QObject* sender) { w.switchEditorMode(tagOf(sender)); }},
    {"toggleLeftSidebar:", [](Window& w, QObject*) { w.toggleLeftSidebar(); }},
    {"resyncEditorController:", [](Window& w, QObject*) { w.resyncEditorController(); }},
    {"toggleFullScreen:", [](Window& w, QObject*) { w.toggleFullScreen(); }},
    {"toggleBookmark:", [](Window& w, QObject*) { w.toggleBookmark(); }},
    {"deleteBookmark:",
     [](Window& w, QObject* sender) {
         // The line comes from a menu item's tag; another sender names no line.
         if (qobject_cast<QAction*>(sender))
             w.deleteBookmark(tagOf(sender));
     }},
    {"undo:", [](Window& w, QObject*) { w.undoInEditor(Window::UndoDirection::undo); }},
    {"redo:", [](Window& w, QObject*) { w.undoInEditor(Window::UndoDirection::redo); }},
    {"toggleBold:", [](Window& w, QObject*) { w.toggleTraitInEditor(EditorController::TextTrait::bold); }},
    {"toggleItalic:",
     [](Window& w, QObject*) { w.toggleTraitInEditor(EditorController::TextTrait::italic); }},
    {"toggleUnderline:",
     [](Window& w, QObject*) { w.toggleTraitInEditor(EditorController::TextTrait::underline); }},
    {"showFindBar:", [](Window& w, QObject*) { w.find(Window::FindCommand::show); }},
    {"showReplaceBar:", [](Window& w, QObject*) { w.find(Window::FindCommand::showReplace); }},
    {"findNext:", [](Window& w, QObject*) { w.find(Window::FindCommand::next); }},
    {"findPrevious:", [](Window& w, QObject*) { w.find(Window::FindCommand::previous); }},
}};

bool isUndoAction(std::string_view action) {
    return action == "undo:" || action == "redo:";
}

bool isTraitAction(std::string_view action) {
    return action == "toggleBold:" || action == "toggleItalic:" || action == "toggleUnderline:";
}

const WindowAction* findWindowAction(std::string_view name) {
    for (const auto& action : windowActions)
        if (action.name == name)
            return &action;
    return nullptr;
}

// The window's own menus, before the application's; the Keys pane reads their keys too.
struct MenuItemEntry {
    const char* title;
    std::string_view action;
    QKeySequence shortcut;
    int tag = 0;
    bool checkable = false;
};
struct MenuEntry {
    const char* title;
    std::vector<MenuItemEntry> items; // an empty action is a separator
};
const std::array<MenuEntry, 3>& windowMenus() {
    static const std::array<MenuEntry, 3> menus{{
        {QT_TR_NOOP("&File"),
         {{QT_TR_NOOP("Save"), "saveDocument:", platform::standardShortcut(QKeySequence::Save)},
          {QT_TR_NOOP("Save As…"), "saveDocumentAs:", platform::standardShortcut(QKeySequence::SaveAs)},
          {QT_TR_NOOP("Export…"), "exportDocument:", QKeySequence(Qt::CTRL | Qt::Key_E)},
          {nullptr, {}, {}},
          {QT_TR_NOOP("Print…"), "printBoy:", platform::standardShortcut(QKeySequence::Print)},
          {nullptr, {}, {}},
          {QT_TR_NOOP("Close"), "performClose:", platform::standardShortcut(QKeySequence::Close)}}},
        {QT_TR_NOOP("&View"),
         {{QT_TR_NOOP("Script"), "switchEditorMode:", QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_1), 1, true},
          {QT_TR_NOOP("Overlay"), "switchEditorMode:", QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_2), 2, true},
          {QT_TR_NOOP("Displays"), "switchEditorMode:", QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_3), 3,
           true},
          {nullptr, {}, {}},
          {QT_TR_NOOP("Show Bookmark List"),
           "toggleLeftSidebar:", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_B)},
          {QT_TR_NOOP("Lock Editor"), "toggleEditorLock:", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_L), 0,
           true},
          {nullptr, {}, {}},
          {QT_TR_NOOP("Enter Full Screen"),
           "toggleFullScreen:", platform::standardShortcut(QKeySequence::FullScreen)}}},
        {QT_TR_NOOP("&Prompter"),
         {{QT_TR_NOOP("Start Prompting"), "startPrompting:", QKeySequence(Qt::CTRL | Qt::Key_Return)},
          {nullptr, {}, {}},
          {QT_TR_NOOP("New Prompter Window"),
           "spawnIndependentPrompterWindow:", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P)},
          {QT_TR_NOOP("New Transparent Prompter Window"), "spawnTransparentPrompterWindow:", {}},
          {nullptr, {}, {}},
          {QT_TR_NOOP("Resync Editor"), "resyncEditorController:", {}}}},
    }};
    return menus;
}

// An anchor of one of the window's parts, with a hairline along one edge (outside the part).
class AnchorView final : public QWidget {
public:
    AnchorView(QWidget* parent, const char* name, std::optional<Qt::Edge> hairline = std::nullopt)
        : QWidget(parent)
        , hairline_(hairline) {
        setObjectName(QString::fromLatin1(name));
        if (hairline_ == Qt::RightEdge)
            setContentsMargins(0, 0, 1, 0);
        else if (hairline_ == Qt::LeftEdge)
            setContentsMargins(1, 0, 0, 0);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        if (!hairline_)
            return;
        QPainter painter(this);
        const QRect line =
            *hairline_ == Qt::RightEdge ? QRect(width() - 1, 0, 1, height()) : QRect(0, 0, 1, height());
        painter.fillRect(line, platform::isDarkMode(this) ? QColor(0, 0, 0, 200) : QColor(0, 0, 0, 40));
    }

private:
    std::optional<Qt::Edge> hairline_;
};

QAction* makeItem(QObject* parent, const QString& title, std::string_view action, int tag = 0) {
    auto* item = new QAction(title, parent);
    item->setProperty(actionProperty, QString::fromLatin1(action.data(), qsizetype(action.size())));
    if (tag != 0)
        item->setProperty(tagProperty, tag);
    return item;
}

std::string actionOf(const QAction& item) {
    return item.property(actionProperty).toString().toStdString();
}

} // namespace

std::shared_ptr<EditorWindowController> EditorWindowController::create(std::shared_ptr<Project> project,
                                                                       Environment environment) {
    return std::make_shared<EditorWindowController>(PrivateTag{}, std::move(project), environment);
}

EditorWindowController::EditorWindowController(PrivateTag, std::shared_ptr<Project> project,
                                               Environment environment)
    : project_(std::move(project))
    , defaults_(environment.defaults ? environment.defaults : &platform::Defaults::standard())
    , center_(environment.center ? environment.center : &platform::NotificationCenter::defaultCenter()) {
    CW_DCHECK_MAIN_THREAD();
    if (!project_)
        base::fatal(missingProjectMessage);
}

EditorWindowController::~EditorWindowController() {
    if (registered_)
        project_->unregisterEventListener(static_cast<const ProjectEventListener*>(this));
    // A notification queued from the project's clock holds its listener until it runs, so a part
    // may outlive this window: each part takes its own view out of the window, to go with it.
    const auto release = [](QWidget* view) {
        if (!view)
            return;
        view->hide();
        view->setParent(nullptr);
    };
    for (platform::ViewController* part : std::initializer_list<platform::ViewController*>{
             statusbarController_.get(), sidebarController_.get(), bookmarkListController_.get()})
        if (part && part->isViewLoaded())
            release(part->view());
    release(editorViews_);
}

DocumentCommands& EditorWindowController::documentCommands() {
    window();
    return *commands_;
}

QMainWindow* EditorWindowController::mainWindow() const {
    return static_cast<QMainWindow*>(appearanceWindow());
}

QLabel* EditorWindowController::makeNoticeLine(QWidget* parent, const QString& name, const QString& text) {
    auto* line = platform::plainTextLabel(new QLabel(parent)); // it names scripts and files
    line->setObjectName(name);
    line->setWordWrap(true);
    line->setContentsMargins(12, 6, 12, 6);
    line->setAutoFillBackground(true);
    QPalette notice = line->palette();
    notice.setColor(QPalette::Window, QColor::fromRgba(noticeColor));
    notice.setColor(QPalette::WindowText, Qt::black);
    line->setPalette(notice);
    line->setText(text);
    line->setVisible(!text.isEmpty());
    return line;
}

void EditorWindowController::projectDidSave(Project&) {
    updateTitle();
    if (readNoticeLine_) {
        readNoticeLine_->hide(); // the file now saved is the script, whole as it shows
    }
}

void EditorWindowController::setNotice(const QString& text) {
    notice_ = text;
    if (noticeLine_) {
        noticeLine_->setText(text);
        noticeLine_->setVisible(!text.isEmpty());
    }
}

// ---- the window ----------------------------------------------------------------------------

// The shown editor window furthest down the cascade (lowest, then furthest right); null when
// none is shown.
static QWidget* lastEditorWindow() {
    QWidget* last = nullptr;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (!window->isVisible() || window->objectName() != QLatin1String("EditorWindowController"))
            continue;
        const auto place = [](const QWidget* w) {
            return std::pair(w->geometry().top(), w->geometry().left());
        };
        if (!last || place(window) > place(last))
            last = window;
    }
    return last;
}

QWidget* EditorWindowController::makeWindow() {
    auto* window = new QMainWindow;
    window->setObjectName(QStringLiteral("EditorWindowController"));
    window->setUnifiedTitleAndToolBarOnMac(true);
    window->setMinimumSize(760, 420);
    platform::resizeToFitScreen(window, QSize(1180, 760));
    // A window opened beside another editor window follows it down the screen, within the work
    // area; the first one is placed by the window manager.
    if (const QWidget* previous = lastEditorWindow(); previous && previous->screen()) {
        window->setGeometry(platform::cascadedGeometry(previous->geometry(), window->size(),
                                                       window->minimumSize(),
                                                       previous->screen()->availableGeometry()));
    }

    auto* body = new QWidget(window);
    auto* rows = new QVBoxLayout(body);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(0);
    columns_ = new QWidget(body);
    columns_->installEventFilter(this);
    leftAnchor_ = new AnchorView(columns_, "leftSidebarAnchorView", Qt::RightEdge);
    centerAnchor_ = new AnchorView(columns_, "centerAnchorView");
    rightAnchor_ = new AnchorView(columns_, "rightSidebarAnchorView", Qt::LeftEdge);
    statusbarAnchor_ = new AnchorView(body, "statusbarAnchorView");
    noticeLine_ = makeNoticeLine(body, QStringLiteral("noticeLine"), notice_);
    rows->addWidget(noticeLine_);
    // How the file the script came from was read: until the script is saved.
    readNoticeLine_ = makeNoticeLine(body, QStringLiteral("readNoticeLine"), project_->readNotice());
    rows->addWidget(readNoticeLine_);
    refusalLine_ = makeNoticeLine(body, QStringLiteral("refusalNoticeLine"), {});
    rows->addWidget(refusalLine_);
    rows->addWidget(columns_, 1);
    rows->addWidget(statusbarAnchor_);
    window->setCentralWidget(body);

    makeToolbar(*window);
    makeMenus(*window);
    return window;
}

void EditorWindowController::makeToolbar(QMainWindow& window) {
    toolbar_ = window.addToolBar(tr("Toolbar"));
    toolbar_->setObjectName(QStringLiteral("editorToolbar"));
    toolbar_->setMovable(false);
    toolbar_->setFloatable(false);
    toolbar_->setIconSize(QSize(20, 20));
    toolbar_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    toolbar_->setContextMenuPolicy(Qt::PreventContextMenu);

    toggleLeftSidebarItem_ = makeItem(toolbar_, tr("Bookmarks"), "toggleLeftSidebar:");
    toggleLeftSidebarItem_->setToolTip(tr("Show or hide the bookmark list"));
    playPauseItem_ = makeItem(toolbar_, tr("Prompt"), "startPrompting:");
    playPauseItem_->setToolTip(tr("Start or stop prompting"));
    prompterWindowItem_ = makeItem(toolbar_, tr("Prompter"), "spawnIndependentPrompterWindow:");
    prompterWindowItem_->setToolTip(tr("Open a prompter window"));
    toggleEditorLockItem_ = makeItem(toolbar_, tr("Lock"), "toggleEditorLock:");
    toggleEditorLockItem_->setToolTip(tr("Lock the editor"));
    for (QAction* item : {toggleLeftSidebarItem_, playPauseItem_, toggleEditorLockItem_})
        item->setCheckable(true);
    auto* modes = new QActionGroup(toolbar_);
    const QString modeTitles[] = {tr("Script"), tr("Overlay"), tr("Displays")};
    for (int i = 0; i < 3; ++i) {
        modeItems_[size_t(i)] = makeItem(modes, modeTitles[i], "switchEditorMode:", i + 1);
        modeItems_[size_t(i)]->setCheckable(true);
    }

    // The column's toggle over the column; the modes at the right, over the sidebar they choose.
    toolbar_->addAction(toggleLeftSidebarItem_);
    toolbar_->addSeparator();
    toolbar_->addAction(playPauseItem_);
    toolbar_->addAction(prompterWindowItem_);
    toolbar_->addAction(toggleEditorLockItem_);
    auto* spacer = new QWidget(toolbar_);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolbar_->addWidget(spacer);
    toolbar_->addActions(modes->actions());

    for (QAction* item : toolbar_->actions()) {
        if (actionOf(*item).empty())
            continue;
        // The window's own items go straight to it; others travel the responder chain.
        connect(item, &QAction::triggered, this,
                [this, item] { platform::sendAction(actionOf(*item), mainWindow(), item); });
    }
    refreshIcons();
}

std::vector<platform::MenuItemKey> EditorWindowController::menuItemKeys() {
    std::vector<platform::MenuItemKey> keys;
    for (const MenuEntry& menu : windowMenus()) {
        for (const MenuItemEntry& entry : menu.items) {
            if (!entry.shortcut.isEmpty())
                keys.push_back({tr(entry.title), entry.shortcut});
        }
    }
    return keys;
}

void EditorWindowController::makeMenus(QMainWindow& window) {
    const auto& menus = windowMenus();
    for (size_t m = 0; m < menus_.size(); ++m) {
        QMenu* menu = window.menuBar()->addMenu(tr(menus[m].title));
        menus_[m] = menu;
        for (const MenuItemEntry& entry : menus[m].items) {
            if (entry.action.empty()) {
                menu->addSeparator();
                continue;
            }
            QAction* item = makeItem(menu, tr(entry.title), entry.action, entry.tag);
            item->setShortcut(entry.shortcut);
            item->setCheckable(entry.checkable);
            menu->addAction(item);
            connect(item, &QAction::triggered, this,
                    [this, item] { platform::sendAction(actionOf(*item), mainWindow(), item); });
        }
        connect(menu, &QMenu::aboutToShow, this, [this, menu] { validateMenu(*menu); });
    }
}

void EditorWindowController::refreshIcons() {
    QWidget* window = appearanceWindow();
    const QColor color = (window ? window->palette() : QPalette()).color(QPalette::WindowText);
    toggleLeftSidebarItem_->setIcon(toolbarIcon(ToolbarGlyph::bookmarkColumn, color));
    playPauseItem_->setIcon(toolbarIcon(ToolbarGlyph::play, ToolbarGlyph::pause, color));
    prompterWindowItem_->setIcon(toolbarIcon(ToolbarGlyph::prompterWindow, color));
    toggleEditorLockItem_->setIcon(toolbarIcon(ToolbarGlyph::lockOpen, ToolbarGlyph::lockClosed, color));
    const ToolbarGlyph modeGlyphs[] = {ToolbarGlyph::script, ToolbarGlyph::overlay, ToolbarGlyph::displays};
    for (size_t i = 0; i < modeItems_.size(); ++i)
        modeItems_[i]->setIcon(toolbarIcon(modeGlyphs[i], color));
}

void EditorWindowController::windowDidLoad() {
    updateWindowAppearance();
    QMainWindow* window = mainWindow();
    attachment_ = std::make_unique<platform::ResponderAttachment>(window, this);
    commands_ = std::make_unique<DocumentCommands>(project_, window, *defaults_);
    project_->registerEventListener(shared_from_this());
    registered_ = true;
    placeChildren();
    windowKeys_ = std::make_unique<EditorWindowKeys>(*window, editorController_->textView(),
                                                     *editorController_, *defaults_);
    editorController_->textView().installEventFilter(this);
    connect(&editorController_->textView(), &ScriptTextView::longEditEnded, this,
            &EditorWindowController::closeAfterLongEdit);
    registerForAppearanceChanges();
    for (const auto& [key, step] :
         {std::pair{QKeyCombination(Qt::Key_F6), 1}, {Qt::SHIFT | Qt::Key_F6, -1}}) {
        connect(new QShortcut(QKeySequence(key), window), &QShortcut::activated, this,
                [this, step = step] { focusNextPart(step); });
    }

    project_->setHasUnsavedChanges(false);
    updateTitle();
    projectEditorDidChange(*project_);
    showPlaybackState(project_->transportState().isPlaying());
    const bool columnShown = defaults_->boolForKey(settings::showBookmarkSidebar);
    toggleLeftSidebarItem_->setChecked(columnShown);
    showBookmarkColumn(columnShown);
    editorController_->textView().setFocus();
}

void EditorWindowController::placeChildren() {
    statusbarController_ = StatusbarController::create(project_, *defaults_, *center_);
    statusbarController_->embedIn(statusbarAnchor_);
    statusbarAnchor_->setFixedHeight(std::max(30, statusbarController_->view()->sizeHint().height()));

    const EditorViews views = makeEditorViews();
    editorViews_ = views.container;
    // The views go with the controller, which may outlive the window (see the destructor).
    editorController_ = std::shared_ptr<EditorController>(
        new EditorController(project_, *views.text, *defaults_),
        [views = QPointer<QWidget>(views.container)](EditorController* controller) {
            delete controller;
            delete views.data();
        });
    editorController_->setViews(views.background, views.overlay);
    editorController_->setShowPrompter([self = weak_from_this()] {
        const auto window = self.lock();
        if (const auto shell = window ? window->delegate() : nullptr)
            shell->editorWindowControllerShowPrompter(*window);
    });
    auto* centre = new QHBoxLayout(centerAnchor_);
    centre->setContentsMargins(0, 0, 0, 0);
    centre->setSpacing(0);
    centre->addWidget(views.container, 1);
    centre->addWidget(makeEditorScrollBar(*views.text));
    findBar_ = new FindBar(*views.text, centerAnchor_);
    QObject::connect(views.text, &ScriptTextView::insertionRefused, views.text,
                     [line = refusalLine_](qint64 paragraphs, bool dropped) {
                         if (!line)
                             return;
                         const QString why = dropped ? tr("Nothing was dropped: the script would have %1 "
                                                          "lines, more than the editor can show.")
                                                     : tr("Nothing was pasted: the script would have %1 "
                                                          "lines, more than the editor can show.");
                         line->setText(why.arg(QLocale().toString(paragraphs)));
                         line->show();
                     });
    QObject::connect(views.text, &ScriptTextView::insertionNotice, views.text,
                     [line = refusalLine_](const QString& notice) {
                         if (!line)
                             return;
                         line->setText(notice);
                         line->show();
                     });
    QObject::connect(views.text->document(), &QTextDocument::contentsChanged, views.text,
                     [line = refusalLine_] {
                         if (line)
                             line->hide();
                     });

    sidebarController_ = std::make_shared<SidebarController>(project_, *defaults_, *center_);
    sidebarController_->setDisplayPrompterOpener(std::make_shared<DelegateDisplayOpener>(weak_from_this()));
    sidebarController_->embedIn(rightAnchor_);

    bookmarkListController_ = BookmarkListController::create(project_);
    bookmarkListController_->setBookmarkRemover(
        [editor = std::weak_ptr(editorController_)](const Bookmark& b) {
            if (const auto controller = editor.lock())
                controller->removeBookmark(b);
        });
    bookmarkListController_->setBookmarkRenamer(
        [editor = std::weak_ptr(editorController_)](const Bookmark& b, const QString& note) {
            if (const auto controller = editor.lock())
                controller->renameBookmark(b, note);
        });
    bookmarkListController_->setEditorAheadQuery([editor = std::weak_ptr(editorController_)] {
        const auto controller = editor.lock();
        return controller && controller->hasPendingEdit();
    });
    bookmarkListController_->embedIn(leftAnchor_);
}

QScrollBar* EditorWindowController::makeEditorScrollBar(ScriptTextView& text) {
    // The text column may be narrow or off centre: its own scroll bar would float inside the
    // editor with the reading line across it. This one stands at the editor's right edge and
    // moves with the column's (hidden) one both ways.
    QScrollBar* own = text.verticalScrollBar();
    text.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* bar = new QScrollBar(Qt::Vertical, centerAnchor_);
    bar->setObjectName(QStringLiteral("editorScrollBar"));
    const auto follow = [bar, own] {
        bar->setRange(own->minimum(), own->maximum());
        bar->setPageStep(own->pageStep());
        bar->setSingleStep(own->singleStep());
        bar->setValue(own->value());
    };
    follow();
    connect(own, &QScrollBar::rangeChanged, bar, follow);
    connect(own, &QScrollBar::valueChanged, bar, &QScrollBar::setValue);
    connect(bar, &QScrollBar::valueChanged, own, &QScrollBar::setValue);
    editorScrollBar_ = bar;
    return bar;
}

void EditorWindowController::showWindow() {
    WindowController::showWindow();
    if (isEditorLoaded())
        editorController_->syncProps();
    else
        loadEditor();
}

void EditorWindowController::loadEditor() {
    // The script is laid out once shown, at the editor's own size: a window resized afterwards
    // would lay the whole script out again at another font size, and count lines that no one
    // sees. Frozen while it loads, so that the first layout's scrolling does not move the script.
    editorController_->setFreezeScroll(true);
    editorController_->load();
    editorController_->setFreezeScroll(false);
    editorLoaded_ = true;
}

bool EditorWindowController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == columns_ && event->type() == QEvent::Resize)
        layoutColumns();
    if (event->type() == QEvent::ChildPolished && isEditorLoaded() &&
        watched == &editorController_->textView()) {
        // A dialog of the text view (a paste's progress) takes the keyboard from the window; a
        // modal one holds the window back, and its keys stay its own.
        auto* child = qobject_cast<QWidget*>(static_cast<QChildEvent*>(event)->child());
        if (child && child->windowType() == Qt::Dialog && child->windowModality() == Qt::NonModal)
            giveCloseAndQuitKeys(*child);
    }
    if (watched == appearanceWindow() && event->type() == QEvent::PaletteChange && toolbar_)
        refreshIcons();
    return WindowController::eventFilter(watched, event);
}

// ---- the bookmark column -------------------------------------------------------------------

void EditorWindowController::layoutColumns() {
    const int height = columns_->height();
    const int rightX = columns_->width() - sidebarWidth;
    rightAnchor_->setGeometry(rightX, 0, sidebarWidth, height);
    const BookmarkColumnFrames frames = BookmarkColumnFrames::place(
        bookmarkColumnShown_, QRect(leftAnchor_->x(), 0, bookmarkColumnWidth, height),
        QRect(centerAnchor_->x(), 0, centerAnchor_->width(), height), rightX);
    leftAnchor_->setGeometry(frames.left);
    centerAnchor_->setGeometry(frames.center);
}

void EditorWindowController::showBookmarkColumn(bool shown) {
    bookmarkColumnShown_ = shown;
    layoutColumns();
    // Moved out of sight, it leaves the keyboard's focus chain as well.
    leftAnchor_->setVisible(shown);
    if (!isEditorLoaded())
        return;
    editorController_->syncProps();
    editorController_->scrollToTransportPosition(/*animated=*/false);
}

void EditorWindowController::toggleLeftSidebar() {
    const bool shown = !defaults_->boolForKey(settings::showBookmarkSidebar);
    defaults_->set(settings::showBookmarkSidebar, shown);
    toggleLeftSidebarItem_->setChecked(shown);
    showBookmarkColumn(shown);
}

// ---- actions -------------------------------------------------------------------------------

void EditorWindowController::spawnIndependentPrompterWindow() {
    requestPrompter(TeleprompterWindowPreset::normal);
}

void EditorWindowController::spawnTransparentPrompterWindow() {
    requestPrompter(TeleprompterWindowPreset::transparent);
}

void EditorWindowController::requestPrompter(TeleprompterWindowPreset preset) {
    if (const auto shell = delegate())
        shell->editorWindowControllerSpawnPrompterWindow(*this, preset);
}

void EditorWindowController::startPrompting() {
    if (project_->transportState().isPlaying())
        project_->pause();
    else
        project_->play();
}

void EditorWindowController::toggleEditorLock() {
    Editor editor = project_->editor();
    editor.isLocked = !editor.isLocked;
    project_->setEditor(std::move(editor));
}

void EditorWindowController::switchEditorMode(int tag) {
    if (tag < 1 || tag > 3)
        return;
    Editor editor = project_->editor();
    editor.mode = static_cast<Editor::Mode>(tag - 1);
    project_->setEditor(std::move(editor));
}

void EditorWindowController::resyncEditorController() {
    if (isEditorLoaded())
        editorController_->syncProps();
}

void EditorWindowController::toggleFullScreen() {
    QWidget* w = window();
    w->setWindowState(w->windowState() ^ Qt::WindowFullScreen);
}

bool EditorWindowController::respondsToAction(std::string_view action) const {
    // Undo and redo are the editor's while it has the keyboard; other text fields keep their own.
    // The bookmark list's edits are the text's: undo reaches them from there too.
    if (isUndoAction(action))
        return editorHasFocus() || bookmarkListHasFocus();
    if (isTraitAction(action))
        return editorHasFocus();
    return findWindowAction(action) != nullptr;
}

bool EditorWindowController::validateAction(std::string_view action) const {
    if (action == "undo:")
        return respondsToAction(action) && editorController_->textView().document()->isUndoAvailable();
    if (action == "redo:")
        return respondsToAction(action) && editorController_->textView().document()->isRedoAvailable();
    if (isTraitAction(action))
        return editorHasFocus() && editorController_->canStyleText();
    return respondsToAction(action);
}

std::optional<QString> EditorWindowController::titleForAction(std::string_view action,
                                                              const QObject* sender) const {
    if (action == "toggleBookmark:" || action == "undo:" || action == "redo:")
        return validateMenuItem(action, tagOf(sender)).title;
    return std::nullopt;
}

bool EditorWindowController::editorHasFocus() const {
    return editorController_ && mainWindow() &&
           platform::focusWidgetIn(mainWindow()) == &editorController_->textView();
}

bool EditorWindowController::bookmarkListHasFocus() const {
    return bookmarkListController_ && mainWindow() &&
           platform::focusWidgetIn(mainWindow()) == &bookmarkListController_->tableView();
}

void EditorWindowController::focusNextPart(int step) {
    QWidget* window = mainWindow();
    if (!window || !editorController_)
        return;
    // The text, the bookmark list (while shown), the sidebar and the status bar, in a ring: each
    // part's area, and where the keyboard goes in it.
    struct Part {
        QWidget* area;
        QWidget* target;
    };
    std::vector<Part> parts{{&editorController_->textView(), &editorController_->textView()}};
    if (bookmarkColumnShown_ && bookmarkListController_)
        parts.push_back({leftAnchor_.data(), &bookmarkListController_->tableView()});
    for (QWidget* area : {rightAnchor_.data(), statusbarAnchor_.data()}) {
        if (QWidget* stop = area ? platform::firstTabStop(*area) : nullptr)
            parts.push_back({area, stop});
    }
    QWidget* focus = platform::focusWidgetIn(window);
    int current = -1;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (focus && (focus == parts[i].area || parts[i].area->isAncestorOf(focus)))
            current = int(i);
    }
    const int count = int(parts.size());
    const int next = current < 0 ? (step > 0 ? 0 : count - 1) : ((current + step) % count + count) % count;
    // As a keyboard move: the part shows its focus mark.
    parts[size_t(next)].target->setFocus(Qt::ShortcutFocusReason);
}

void EditorWindowController::toggleBookmark() {
    if (isEditorLoaded())
        editorController_->toggleBookmark();
}

void EditorWindowController::deleteBookmark(int line) {
    if (isEditorLoaded())
        editorController_->deleteBookmark(line);
}

void EditorWindowController::undoInEditor(UndoDirection direction) {
    if (!respondsToAction(direction == UndoDirection::undo ? "undo:" : "redo:"))
        return;
    // The text view's own slots, as the Edit menu calls them for any other text field.
    QMetaObject::invokeMethod(&editorController_->textView(),
                              direction == UndoDirection::undo ? "undo" : "redo");
}

void EditorWindowController::toggleTraitInEditor(EditorController::TextTrait trait) {
    if (editorHasFocus())
        editorController_->toggleTrait(trait);
}

FindBar* EditorWindowController::findBar() const {
    return findBar_;
}

void EditorWindowController::find(FindCommand command) {
    if (!findBar_)
        return;
    switch (command) {
    case FindCommand::show:
        findBar_->showBar(FindBar::Mode::find);
        return;
    case FindCommand::showReplace:
        findBar_->showBar(FindBar::Mode::replace);
        return;
    case FindCommand::next:
        findBar_->findNext();
        return;
    case FindCommand::previous:
        findBar_->findPrevious();
        return;
    }
}

void EditorWindowController::performAction(std::string_view action, QObject* sender) {
    if (const WindowAction* found = findWindowAction(action))
        found->perform(*this, sender);
}

// ---- menu validation -----------------------------------------------------------------------

EditorWindowController::MenuItemState EditorWindowController::validateMenuItem(std::string_view action,
                                                                               int tag) const {
    MenuItemState state;
    if (action == "switchEditorMode:")
        state.checked = tag == static_cast<int>(project_->editor().mode) + 1;
    else if (action == "toggleEditorLock:")
        state.checked = project_->editor().isLocked;
    else if (action == "toggleLeftSidebar:")
        state.title = defaults_->boolForKey(settings::showBookmarkSidebar) ? tr("Hide Bookmark List")
                                                                           : tr("Show Bookmark List");
    else if (action == "toggleFullScreen:")
        state.title = appearanceWindow() && appearanceWindow()->isFullScreen() ? tr("Exit Full Screen")
                                                                               : tr("Enter Full Screen");
    else if (action == "startPrompting:")
        state.title = project_->transportState().isPlaying() ? tr("Stop Prompting") : tr("Start Prompting");
    else if (action == "toggleBookmark:" && isEditorLoaded())
        state.title = editorController_->toggleBookmarkTitle();
    else if (isUndoAction(action) && editorController_) {
        const ScriptTextView& text = editorController_->textView();
        const QString name = action == "undo:" ? text.undoActionName() : text.redoActionName();
        const QString verb = action == "undo:" ? tr("Undo") : tr("Redo");
        state.title = name.isEmpty() ? verb : verb + u' ' + name;
    }
    return state;
}

void EditorWindowController::validateMenu(QMenu& menu) {
    for (QAction* item : menu.actions()) {
        const std::string action = actionOf(*item);
        if (action.empty())
            continue;
        platform::ActionResponder* responder = platform::responderForAction(action, mainWindow(), item);
        item->setEnabled(responder != nullptr && responder->validateAction(action));
        if (responder != this) {
            if (const std::optional<QString> title =
                    responder ? responder->titleForAction(action, item) : std::nullopt)
                item->setText(*title);
            continue;
        }
        const MenuItemState state = validateMenuItem(action, tagOf(item));
        if (state.checked)
            item->setChecked(*state.checked);
        if (state.title)
            item->setText(*state.title);
    }
}

// ---- the project's news --------------------------------------------------------------------

void EditorWindowController::updateTitle() {
    if (commands_)
        commands_->updateTitle();
}

void EditorWindowController::projectEditorDidChange(Project& project) {
    if (!toolbar_)
        return;
    const Editor& editor = project.editor();
    toggleEditorLockItem_->setChecked(editor.isLocked);
    if (findBar_)
        findBar_->updateReplaceAllowed(); // the text took the lock first
    for (size_t i = 0; i < modeItems_.size(); ++i)
        modeItems_[i]->setChecked(static_cast<size_t>(editor.mode) == i);
}

void EditorWindowController::showPlaybackState(bool playing) {
    if (!toolbar_)
        return;
    playPauseItem_->setChecked(playing);
    playPauseItem_->setText(playing ? tr("Pause") : tr("Prompt"));
}

// ---- focus, full screen and closing --------------------------------------------------------

void EditorWindowController::windowDidBecomeMain() {
    if (const auto shell = delegate())
        shell->editorWindowControllerDidBecomeMain(*this);
    scheduleResync(std::chrono::milliseconds{0});
    if (hackHasFixedDesyncAlready_)
        return;
    // The first time, once more after the window's first layouts have settled.
    hackHasFixedDesyncAlready_ = true;
    scheduleResync(lateResyncDelay);
}

void EditorWindowController::scheduleResync(std::chrono::milliseconds delay) {
    ++scheduledResyncs_;
    QTimer::singleShot(delay, this, [self = weak_from_this()] {
        if (const auto controller = self.lock())
            controller->resyncEditorController();
    });
}

void EditorWindowController::windowFullScreenDidChange(bool isFullScreen) {
    if (isFullScreen)
        platform::Appearance::applyToWindow(appearanceWindow(), platform::AppearanceStyle::dark);
    else
        updateWindowAppearance();
}

bool EditorWindowController::hasWorkGoingOn() const {
    return (commands_ && commands_->printJob()) ||
           (isEditorLoaded() && editorController_->textView().isInLongEdit());
}

bool EditorWindowController::closeAfterPaste() {
    if (isEditorLoaded() && editorController_->textView().isPasting() && !waitingForPaste_) {
        // It goes on in the event loop: wait for it here. A close asked for meanwhile is this one.
        QEventLoop waiting;
        QPointer<ScriptTextView> text(&editorController_->textView());
        QObject::connect(text, &ScriptTextView::longEditEnded, &waiting, &QEventLoop::quit);
        QObject::connect(text, &QObject::destroyed, &waiting, &QEventLoop::quit);
        waitingForPaste_ = true;
        waiting.exec();
        waitingForPaste_ = false;
        if (!text || platform::applicationQuitting())
            return false;
    }
    return close();
}

void EditorWindowController::closeAfterLongEdit() {
    if (!closeRequested_)
        return;
    // Once the edit has wound up (its progress window gone, the text handed to the script).
    QTimer::singleShot(0, this, [self = weak_from_this()] {
        const auto window = self.lock();
        if (window && window->closeRequested_ && !window->waitingForPaste_ && !window->hasBeenClosed_)
            window->close();
    });
}

void EditorWindowController::giveCloseAndQuitKeys(QWidget& dialog) {
    constexpr char given[] = "cwCloseAndQuitKeys";
    if (dialog.property(given).toBool())
        return;
    dialog.setProperty(given, true);
    for (const auto& [key, action] :
         {std::pair{QKeySequence::Close, "performClose:"}, std::pair{QKeySequence::Quit, "terminate:"}}) {
        // After the key's event: the dialog may close, and go, while a quit waits for the paste.
        connect(
            new QShortcut(platform::standardShortcut(key), &dialog), &QShortcut::activated, this,
            [this, action = action] { platform::sendAction(action, mainWindow(), nullptr); },
            Qt::QueuedConnection);
    }
}

bool EditorWindowController::windowShouldClose() {
    if (isEditorLoaded() && editorController_->textView().isInLongEdit()) {
        // The question is about the script with the whole edit, or without it if it is
        // cancelled meanwhile, never with part of it; the window stays shown until it is answered.
        closeRequested_ = true;
        return false;
    }
    closeRequested_ = false;
    // An edit still waiting for the autosave counts: without it the question would not be asked.
    if (isEditorLoaded() && editorController_->hasPendingEdit())
        editorController_->autosave();
    return commands_->windowShouldClose();
}

void EditorWindowController::windowWillClose() {
    unregisterForAppearanceChanges();
    project_->pause();
    project_->unregisterEventListener(static_cast<const ProjectEventListener*>(this));
    registered_ = false;
    if (isEditorLoaded())
        editorController_->close();
    hasBeenClosed_ = true;
    // Last: the shell may let go of this controller from here.
    if (const auto shell = delegate())
        shell->editorWindowControllerWillClose(*this);
}

} // namespace cw::editor
