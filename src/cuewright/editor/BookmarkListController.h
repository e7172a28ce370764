// The editor window's bookmark column: one row per bookmark of the script, each a jump target.
#pragma once

#include "cuewright/model/Bookmark.h"
#include "cuewright/model/Editor.h"
#include "cuewright/model/ProjectEventListener.h"
#include "platform/ui/ViewController.h"

#include <QPointer>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

class QAction;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QMenu;
class QToolButton;

namespace cw {
class Project;
}

namespace cw::editor {

// Shows the project's bookmarks (Project::bookmarks(), which live in the script text) and jumps
// the transport to them: a row's button, a double-click, Return or Enter on the selection, and
// the context menu's "Go to". The list does not own bookmarks: it re-reads them on every text or
// script-properties change and on a new layout of the lines, keeping the selection on the same
// bookmarks (by id) when they move; deleting goes through the remover the window wires to its
// editor. The context menu's "Rename Bookmark" makes the row's label editable in place: Return
// hands the note to the renamer the window wires to its editor, Escape (or leaving the field)
// keeps the old one. The "+" menu inserts or deletes the bookmark at the editor's current line
// and the "⋯" menu acts on the selected bookmark; both send their actions to the window's
// responders.
//
// A re-read changes only the rows that differ and keeps the scroll position and the selection.
// While the editor holds an edit the project has not received yet (see setEditorAheadQuery) the
// project's bookmarks would mix the old text with the new lines: the list waits for the edit.
//
// Made with create(); shared and held weakly by the project, which it joins when its view loads
// and leaves when destroyed. Main thread only.
class BookmarkListController final : public platform::ViewController,
                                     public ProjectEventListener,
                                     public std::enable_shared_from_this<BookmarkListController> {
    Q_OBJECT
    struct PrivateTag {};

public:
    static constexpr std::string_view missingProjectMessage = "use init(project:) instead!";
    // Where in its line a jump puts a bookmark, in lines.
    static constexpr double jumpOffsetInLine = 0.155;

    // Removes a bookmark from the script text (the editor does, as an undo step).
    using BookmarkRemover = std::function<void(const Bookmark&)>;

    // A null project stops the program with missingProjectMessage.
    static std::shared_ptr<BookmarkListController> create(std::shared_ptr<Project> project);
    BookmarkListController(PrivateTag, std::shared_ptr<Project> project);
    ~BookmarkListController() override;

    void setBookmarkRemover(BookmarkRemover remover) { remover_ = std::move(remover); }
    // Gives a bookmark its note in the script text (the editor does, as an undo step).
    using BookmarkRenamer = std::function<void(const Bookmark&, const QString& note)>;
    void setBookmarkRenamer(BookmarkRenamer renamer) { renamer_ = std::move(renamer); }
    // Whether the editor's text is ahead of the project's (an edit waiting for its hand-over).
    void setEditorAheadQuery(std::function<bool()> query) { editorAhead_ = std::move(query); }

    // "Line 12: " then the note, or the excerpt without its "*" when there is no note, then "…".
    static QString label(const Bookmark& bookmark);
    // The progress of a jump to the bookmark in a script of `lineCount` lines.
    static double jumpProgress(const Bookmark& bookmark, int lineCount);

    const std::vector<Bookmark>& bookmarks() const { return bookmarks_; }
    void reloadBookmarks();

    // The parts of the view (made on first use).
    QListWidget& tableView();
    QMenu& addButtonMenu();
    QMenu& actionButtonMenu();
    QMenu& contextMenu();
    // The row's jump button and label; null past the end of the list.
    QToolButton* cellButton(int row);
    QLabel* cellLabel(int row);
    // The row's in-place note field, shown while the row is renamed; null past the end.
    QLineEdit* cellNoteEditor(int row);
    // The text a row's label shows in its width: the label, cut with "…" when it does not fit.
    static QString shownText(const QLabel& label);

    // The row the context menu was opened on; -1 below the last row.
    int clickedRow() const { return clickedRow_; }
    void setClickedRow(int row);
    bool hasValidClickedRow() const;

    void jumpTo(const Bookmark& bookmark);
    void goToSelectedBookmark();
    void goToClickedBookmark();
    void deleteClickedBookmark();
    // The clicked row's label becomes an editable field holding the note (or the excerpt).
    void renameClickedBookmark();
    void beginRename(int row);
    // The row being renamed; -1 when none is.
    int renamingRow() const;
    // A row button: that row alone becomes the selection, then the jump.
    void handleCellButton(int row);

    // ProjectEventListener
    void projectTextDidChange(Project&) override { reloadBookmarks(); }
    void projectScriptPropertiesDidChange(Project&) override { reloadBookmarks(); }
    // The lines of bookmarks come from the editor's laid-out lines: a new layout may move them
    // (and the lines that begin with "*" are bookmarks only once they are laid out).
    void projectEditorDidChange(Project& project) override;

protected:
    QWidget* makeView() override;
    void viewDidLoad() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool isValidRow(int row) const { return row >= 0 && row < static_cast<int>(bookmarks_.size()); }
    QWidget* makeCellView(int row);
    enum class RenameEnd { store, cancel };
    void endRename(RenameEnd end);
    QListWidgetItem* insertRow(int row);
    void showContextMenu(const QPoint& position);
    // The selected row's bookmark; null without a selection.
    const Bookmark* selectedBookmark() const;
    // Sends a menu item's action to the responders of the window the list is in.
    void sendToWindow(std::string_view action, QAction* item);
    void validateButtonMenu(QMenu& menu);
    bool isEditorAhead() const { return editorAhead_ && editorAhead_(); }

    std::shared_ptr<Project> project_;
    std::vector<Bookmark> bookmarks_;
    BookmarkRemover remover_;
    BookmarkRenamer renamer_;
    QPointer<QLineEdit> renaming_; // the note field being edited; a reload may delete its row
    QString renameShown_;          // what the field showed when the renaming began
    std::function<bool()> editorAhead_;
    std::uint64_t readLines_ = 0; // the revision of the editor's lines at the last re-read
    bool reloadQueued_ = false;
    int clickedRow_ = -1;
    QListWidget* table_ = nullptr;
    QMenu* contextMenu_ = nullptr;
    QMenu* addMenu_ = nullptr;
    QMenu* actionMenu_ = nullptr;
};

} // namespace cw::editor
