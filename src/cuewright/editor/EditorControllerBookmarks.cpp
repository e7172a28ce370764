// The editor's bookmark commands: the bookmark at the current line inserted, deleted or renamed.
#include "cuewright/editor/EditorController.h"
#include "cuewright/editor/ScriptTextView.h"
#include "cuewright/model/Project.h"
#include "dispatch/MainThreadChecker.h"

#include <algorithm>

namespace cw::editor {

bool EditorController::bookmarkCommandNow(std::function<void()> command) {
    if (piecewise_ || textView_->isInLongEdit()) {
        return false; // the lines are known once the whole text is in; read-only meanwhile
    }
    if (countingLines_) {
        afterCount_.push_back(std::move(command)); // the controller's own: it runs them or drops them
        return false;
    }
    return true;
}

bool EditorController::hasBookmarkOnCurrentLine() {
    CW_DCHECK_MAIN_THREAD();
    if (piecewise_ || countingLines_ || textView_->isInLongEdit()) {
        return false; // the lines are known once the whole text is in and counted
    }
    const auto all = bookmarksOnLines();
    const int line = bookmarkLine();
    // A bookmark whose line is unknown (-1) is on no line, also not after the last one.
    return line >= 0 &&
           std::any_of(all.begin(), all.end(), [&](const Bookmark& b) { return b.line == line; });
}

QString EditorController::toggleBookmarkTitle() {
    return hasBookmarkOnCurrentLine() ? ScriptTextView::tr("Delete Bookmark")
                                      : ScriptTextView::tr("Insert Bookmark");
}

std::vector<Bookmark> EditorController::bookmarksOnLines() {
    // The project places its bookmarks by its text and our line table: both must be current.
    if (hasPendingEdit()) {
        autosave();
    }
    publishLineMetrics();
    return project_->bookmarks();
}

void EditorController::toggleBookmark() {
    CW_DCHECK_MAIN_THREAD();
    if (!bookmarkCommandNow([this] { toggleBookmark(); })) {
        return;
    }
    const int line = bookmarkLine();
    const bool changed =
        hasBookmarkOnCurrentLine() ? textView_->deleteBookmark(line) : textView_->insertBookmark(line);
    publishBookmarkEdit(changed);
}

int EditorController::bookmarkLine() const {
    const int line = textView_->currentLine();
    if (line >= 0) {
        return line;
    }
    // The caret on the empty line after the final line break: a person means the last line.
    const auto& lines = textView_->lineMetrics().lineRanges;
    return lines.empty() ? line : lines.back().lineNum;
}

void EditorController::deleteBookmark(int line) {
    CW_DCHECK_MAIN_THREAD();
    if (!bookmarkCommandNow([this, line] { deleteBookmark(line); })) {
        return;
    }
    bookmarksOnLines();
    publishBookmarkEdit(textView_->deleteBookmark(line));
}

void EditorController::renameBookmark(const Bookmark& bookmark, const QString& note) {
    CW_DCHECK_MAIN_THREAD();
    if (!bookmarkCommandNow([this, bookmark, note] { renameBookmark(bookmark, note); })) {
        return;
    }
    bookmarksOnLines();
    // A "*" line has no object of its own yet: its id names its place, not an object.
    const bool isObject = bookmark.id.rfind("custom.", 0) != 0;
    if (!isObject && note.isEmpty()) {
        return; // no note for a line without one: nothing to keep
    }
    publishBookmarkEdit(textView_->renameBookmark(
        bookmark.line, isObject ? QString::fromStdString(bookmark.id) : QString(), note));
}

void EditorController::publishBookmarkEdit(bool changed) {
    if (changed) {
        autosave(); // the project learns of it at once, not after the typing pause
    }
    publishLineMetrics();
}

} // namespace cw::editor
