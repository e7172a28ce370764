// The document window of one open script: editor, sidebar, bookmark column, status bar, toolbar.
#pragma once

#include "cuewright/editor/BookmarkColumnFrames.h"
#include "cuewright/editor/DocumentCommands.h"
#include "cuewright/editor/EditorController.h"
#include "cuewright/model/Editor.h"
#include "cuewright/model/ProjectEventListener.h"
#include "cuewright/prompter/TeleprompterWindowPreset.h"
#include "platform/ui/ActionRoute.h"
#include "platform/ui/MenuKeys.h"
#include "platform/ui/WindowController.h"

#include <QPointer>
#include <QRgb>
#include <QString>

#include <array>
#include <chrono>
#include <memory>
#include <optional>
#include <string_view>

class QAction;
class QLabel;
class QMainWindow;
class QMenu;
class QScrollBar;
class QToolBar;

namespace platform {
class Defaults;
class NotificationCenter;
} // namespace platform

namespace cw {
class Project;
}

namespace cw::editor {

class BookmarkListController;
class EditorController;
class EditorWindowControllerDelegate;
class EditorWindowKeys;
class ScriptTextView;
class SidebarController;
class StatusbarController;
class FindBar;

// Where an editor window finds its settings and its notifications.
struct EditorWindowEnvironment {
    platform::Defaults* defaults = nullptr;         // Defaults::standard() when null
    platform::NotificationCenter* center = nullptr; // the default centre when null
};

// Runs the window of one project: the editor in the centre, the sidebar on the right, the
// bookmark column (250 wide, shown or moved out to the left by "showBookmarkSidebar") on the
// left, the status bar with the transport row at the bottom, and a toolbar with the bookmark
// column, prompt/pause, a prompter window, the editor lock and the three editor modes.
//
//  - Its actions (saveDocument:, printBoy:, switchEditorMode:, ...) are named actions: it is the
//    ActionResponder attached to its window, so menu items and buttons reach it along the
//    responder chain. The window's menus validate their items there when they open.
//  - The title follows the script's file and the edited mark its unsaved changes.
//  - Closing a script with unsaved changes asks first (DocumentCommands); "Save" closes only
//    after a successful save. Closing during a long edit waits for its end, the window shown:
//    any number of requests meanwhile make one close. The Close and Quit keys work from the
//    windows the text view opens over it (a paste's progress) too.
//  - The application shell is its delegate (held weakly): told when the window becomes main and
//    when it closes, and asked for prompter windows.
//
// Made by create() (the project holds it weakly as a listener); the window is made lazily by
// window() or showWindow(). The settings store and the notification centre must outlive it.
// Main thread only.
class EditorWindowController final : public platform::WindowController,
                                     public ProjectEventListener,
                                     public platform::ActionResponder,
                                     public std::enable_shared_from_this<EditorWindowController> {
    Q_OBJECT
    struct PrivateTag {};

public:
    static constexpr std::string_view missingProjectMessage = "use init(project:) instead!";
    static constexpr int bookmarkColumnWidth = BookmarkColumnFrames::columnWidth;
    static constexpr int sidebarWidth = 300;
    // The second re-sync of the editor the first time the window becomes main.
    static constexpr std::chrono::milliseconds lateResyncDelay{100};

    using Environment = EditorWindowEnvironment;

    // A null project stops the program with missingProjectMessage.
    static std::shared_ptr<EditorWindowController> create(std::shared_ptr<Project> project,
                                                          Environment environment = {});
    EditorWindowController(PrivateTag, std::shared_ptr<Project> project, Environment environment);
    ~EditorWindowController() override;

    const std::shared_ptr<Project>& project() const { return project_; }
    std::shared_ptr<EditorWindowControllerDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<EditorWindowControllerDelegate> delegate) {
        delegate_ = std::move(delegate);
    }
    // Set once the window has closed; the shell reads it while quitting.
    bool hasBeenClosed() const { return hasBeenClosed_; }
    // A print, or a long edit of the script (see ScriptTextView::isInLongEdit), goes on: closing
    // asks first (a print) or waits for its end (a long edit), whatever the script's changes.
    bool hasWorkGoingOn() const;
    // Closes as close() does, but waits for a paste going in first (the event loop runs
    // meanwhile), so that the answer is known on return, as quitting needs it. Any other long
    // edit leaves the close for its end: false now.
    bool closeAfterPaste();

    // Shows the window; the first time, loads the script into the editor at its shown size,
    // later applies the script properties to the editor again.
    void showWindow() override;
    // Whether the editor holds the script: from the first showWindow() on.
    bool isEditorLoaded() const { return editorLoaded_; }

    // A line of warning across the top of the window while `text` is not empty (unsaved edits
    // that cannot be kept, for instance); empty hides it. May come before the window is made.
    void setNotice(const QString& text);
    const QString& notice() const { return notice_; }
    // The line's background, a warning colour in light and dark appearance alike.
    static constexpr QRgb noticeColor = 0xfff3c64d;

    // ---- the window's parts (present once the window has loaded) ----
    QMainWindow* mainWindow() const;
    EditorController* editorController() const { return editorController_.get(); }
    StatusbarController* statusbarController() const { return statusbarController_.get(); }
    SidebarController* sidebarController() const { return sidebarController_.get(); }
    BookmarkListController* bookmarkListController() const { return bookmarkListController_.get(); }
    // Save, export, print and the close question; the shell gives it the recent-documents list.
    DocumentCommands& documentCommands();
    QWidget* leftSidebarAnchorView() const { return leftAnchor_; }
    QWidget* centerAnchorView() const { return centerAnchor_; }
    QWidget* rightSidebarAnchorView() const { return rightAnchor_; }
    QWidget* statusbarAnchorView() const { return statusbarAnchor_; }
    // The editor's vertical scroll bar, at the right edge of the centre anchor.
    QScrollBar* editorScrollBar() const { return editorScrollBar_; }
    QToolBar* toolbar() const { return toolbar_; }
    QAction* toggleLeftSidebarToolbarItem() const { return toggleLeftSidebarItem_; }
    QAction* toggleEditorLockToolbarItem() const { return toggleEditorLockItem_; }
    QAction* playPauseToolbarItem() const { return playPauseItem_; }
    QAction* editorModeToolbarItem(Editor::Mode mode) const { return modeItems_[static_cast<int>(mode)]; }
    // The window's menus, in the order of its menu bar.
    const std::array<QMenu*, 3>& menus() const { return menus_; }

    // ---- actions ----
    DocumentCommands::Outcome saveDocument() { return commands_->save(); }
    DocumentCommands::Outcome saveDocumentAs() { return commands_->saveAs(); }
    DocumentCommands::Outcome exportDocument() { return commands_->exportAs(); }
    DocumentCommands::Outcome printBoy() { return commands_->print(); }
    void spawnIndependentPrompterWindow();
    void spawnTransparentPrompterWindow();
    // Pauses a playing project, else starts it.
    void startPrompting();
    void toggleEditorLock();
    // Tags 1, 2 and 3 choose the modes script, overlay and displays; any other tag nothing.
    void switchEditorMode(int tag);
    // Inverts "showBookmarkSidebar" and shows or hides the column.
    void toggleLeftSidebar();
    void resyncEditorController();
    void toggleFullScreen();
    // The editor's bookmark at its current line, added or taken away; every bookmark on `line`
    // removed. Both are undo steps; nothing happens before the editor has loaded.
    void toggleBookmark();
    void deleteBookmark(int line);
    enum class UndoDirection { undo, redo };
    // The keys of the window's own menu items (File, View, Prompter), for the Keys pane.
    static std::vector<platform::MenuItemKey> menuItemKeys();
    // Undo or redo in the editor while it has the keyboard focus.
    void undoInEditor(UndoDirection direction);
    // F6 and Shift+F6: the keyboard to the next or previous part of the window (the text, the
    // bookmark list while it shows, the sidebar, the status bar), from the part that has it.
    void focusNextPart(int step);
    // Bold, italic or underline over the editor's selection (see EditorController::toggleTrait),
    // while it has the keyboard focus.
    void toggleTraitInEditor(EditorController::TextTrait trait);
    // The find bar over the editor (Ctrl+F, Ctrl+H, Ctrl+G, Ctrl+Shift+G); present once loaded.
    enum class FindCommand { show, showReplace, next, previous };
    void find(FindCommand command);
    FindBar* findBar() const;
    bool isBookmarkColumnShown() const { return bookmarkColumnShown_; }
    // How many re-syncs of the editor were scheduled by the window becoming main.
    int scheduledResyncs() const { return scheduledResyncs_; }

    // What a menu item of an action shows now. Always enabled.
    struct MenuItemState {
        std::optional<bool> checked;
        std::optional<QString> title;
    };
    MenuItemState validateMenuItem(std::string_view action, int tag) const;
    // Enables each item of the menu by the responder chain and, for this window's actions, sets
    // its check mark and title.
    void validateMenu(QMenu& menu);

    // ActionResponder: the sender's "tag" property is a switchEditorMode: item's tag, or a
    // deleteBookmark: item's line. Undo and redo are answered while the editor has the focus,
    // and named after the step they take back or make again.
    bool respondsToAction(std::string_view action) const override;
    void performAction(std::string_view action, QObject* sender) override;
    bool validateAction(std::string_view action) const override;
    std::optional<QString> titleForAction(std::string_view action, const QObject* sender) const override;

    // ProjectEventListener
    void projectTextDidChange(Project&) override { updateTitle(); }
    void projectScriptPropertiesDidChange(Project&) override { updateTitle(); }
    void projectSpeedDidChange(Project&) override { updateTitle(); }
    void projectDidSave(Project&) override;
    void projectEditorDidChange(Project& project) override;
    void projectDidStartPlayback(Project&) override { showPlaybackState(true); }
    void projectDidStopPlayback(Project&) override { showPlaybackState(false); }

protected:
    QWidget* makeWindow() override;
    void windowDidLoad() override;
    bool windowShouldClose() override;
    void windowWillClose() override;
    void windowDidBecomeMain() override;
    void windowFullScreenDidChange(bool isFullScreen) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void makeToolbar(QMainWindow& window);
    void makeMenus(QMainWindow& window);
    void refreshIcons();
    void placeChildren();
    static QLabel* makeNoticeLine(QWidget* parent, const QString& name, const QString& text);
    QScrollBar* makeEditorScrollBar(ScriptTextView& text);
    void loadEditor();
    void showBookmarkColumn(bool shown);
    void layoutColumns();
    void updateTitle();
    void showPlaybackState(bool playing);
    void scheduleResync(std::chrono::milliseconds delay);
    void requestPrompter(TeleprompterWindowPreset preset);
    bool editorHasFocus() const;
    bool bookmarkListHasFocus() const;
    void closeAfterLongEdit();
    void giveCloseAndQuitKeys(QWidget& dialog);

    std::shared_ptr<Project> project_;
    platform::Defaults* defaults_;
    platform::NotificationCenter* center_;
    std::weak_ptr<EditorWindowControllerDelegate> delegate_;
    std::shared_ptr<StatusbarController> statusbarController_;
    std::shared_ptr<EditorController> editorController_;
    std::shared_ptr<SidebarController> sidebarController_;
    std::shared_ptr<BookmarkListController> bookmarkListController_;
    std::unique_ptr<DocumentCommands> commands_;
    std::unique_ptr<platform::ResponderAttachment> attachment_;
    std::unique_ptr<EditorWindowKeys> windowKeys_; // gone before the editor controller it calls
    QPointer<QWidget> columns_;
    QPointer<QWidget> leftAnchor_;
    QPointer<QWidget> centerAnchor_;
    QPointer<QWidget> rightAnchor_;
    QPointer<QWidget> statusbarAnchor_;
    QPointer<QLabel> noticeLine_;
    QPointer<QLabel> readNoticeLine_; // the project's readNotice()
    QPointer<QLabel> refusalLine_;    // why a paste went nowhere, until the text changes
    QString notice_;
    QPointer<QWidget> editorViews_;         // the editor's stacked views
    QPointer<FindBar> findBar_;             // floats over the centre anchor
    QScrollBar* editorScrollBar_ = nullptr; // owned by the centre anchor
    QToolBar* toolbar_ = nullptr;           // owned by the window
    QAction* toggleLeftSidebarItem_ = nullptr;
    QAction* toggleEditorLockItem_ = nullptr;
    QAction* playPauseItem_ = nullptr;
    QAction* prompterWindowItem_ = nullptr;
    std::array<QAction*, 3> modeItems_{};
    std::array<QMenu*, 3> menus_{};
    bool bookmarkColumnShown_ = false;
    bool hackHasFixedDesyncAlready_ = false;
    bool hasBeenClosed_ = false;
    bool registered_ = false;
    bool editorLoaded_ = false;
    // A close asked for during a long edit, made once it ends: one for any number of requests.
    bool closeRequested_ = false;
    bool waitingForPaste_ = false; // closeAfterPaste() makes the close itself
    int scheduledResyncs_ = 0;
};

} // namespace cw::editor
