// The text view's counted lines, its named undo steps and its bookmark edits at a line.
#include "base/Log.h"
#include "cuewright/editor/LineMetrics.h"
#include "cuewright/editor/ScriptTextView.h"
#include "cuewright/editor/TextBridge.h"
#include "dispatch/MainThreadChecker.h"

#include <QPointer>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QUuid>

#include <algorithm>

namespace cw::editor {

ScriptTextView::CountedFor ScriptTextView::countedFor() const {
    const QTextDocument& text = *document();
    return {lineCounting_,         text.textWidth(),   text.documentMargin(),
            text.indentWidth(),    text.defaultFont(), int(text.defaultTextOption().wrapMode()),
            text.characterCount(), text.blockCount()};
}

const LineMetrics& ScriptTextView::lineMetrics() const {
    const CountedFor now = countedFor();
    if (!countedLines_ || countedLines_->first != now) {
        countedLines_.emplace(now, measureLines(*document(), lineCounting_));
    }
    return countedLines_->second;
}

int ScriptTextView::currentLine() const {
    const auto& lines = lineMetrics().lineRanges;
    if (lines.empty()) {
        return 0;
    }
    const int position = textCursor().position();
    const auto found = std::find_if(lines.begin(), lines.end(), [&](const Editor::LineRange& line) {
        return line.range.contains(position);
    });
    if (found != lines.end()) {
        return found->lineNum;
    }
    // The caret after the text's last character is still on the last line, unless that character
    // ends the paragraph: then it stands on an empty line of its own, which counts as none.
    const QChar before = document()->characterAt(position - 1);
    const bool afterBreak = before == QChar::ParagraphSeparator || before == u'\n';
    return position == lines.back().range.end() && !afterBreak ? lines.back().lineNum : -1;
}

platform::TextRange ScriptTextView::rangeOfLine(int line) const {
    const auto& lines = lineMetrics().lineRanges;
    return line >= 1 && line <= int(lines.size()) ? lines[line - 1].range : platform::TextRange{};
}

void ScriptTextView::undoStepAdded() {
    // A new step drops the redo steps, so with redo steps left Qt reports an undo, not a step.
    // (Qt 6.4's availableRedoSteps() stays 0 after an undo; isRedoAvailable() does not.)
    if (document()->availableUndoSteps() == 0 || document()->isRedoAvailable()) {
        return;
    }
    // Qt counts the commands inside a step, so a step is known by the count it ends at; the
    // steps at or above the new one's start were undone (or belong to a reset history).
    const int end = document()->availableUndoSteps();
    while (!steps_.empty() && steps_.back().end >= end) {
        steps_.pop_back();
    }
    steps_.push_back({end, std::exchange(nextStepName_, QString()), openGroup_});
}

void ScriptTextView::holdReadOnly() {
    if (readOnlyHolds_++ == 0) {
        lockedAfterHolds_ = isReadOnly();
        setReadOnly(true);
    }
}

void ScriptTextView::releaseReadOnly() {
    if (readOnlyHolds_ > 0 && --readOnlyHolds_ == 0) {
        setReadOnly(lockedAfterHolds_);
    }
}

void ScriptTextView::setLocked(bool locked) {
    // Qt lays the text out to the caret when it becomes editable: a half-made paste's end is
    // millions of lines away, and nothing may be typed into it anyway.
    if (readOnlyHolds_ > 0) {
        lockedAfterHolds_ = locked;
    } else {
        setReadOnly(locked);
    }
}

void ScriptTextView::enterLongEdit() {
    if (longEdits_ == 0) {
        emit longEditStarted(); // still the text from before it
    }
    ++longEdits_;
    holdReadOnly();
}

void ScriptTextView::leaveLongEdit() {
    releaseReadOnly();
    if (--longEdits_ > 0) {
        return;
    }
    emit longEditEnded();
    emit textChanged(); // the steps' own changes came while it went on
}

void ScriptTextView::beginStepGroup() {
    enterLongEdit();
    openGroup_ = ++lastGroup_;
}

void ScriptTextView::endStepGroup() {
    openGroup_ = 0;
    leaveLongEdit();
}

void ScriptTextView::cancelStepGroup(ProgressWindow* shown) {
    const int group = openGroup_;
    openGroup_ = 0;
    if (group != 0 && groupBelow() == group) {
        QPointer<ScriptTextView> self(this);
        walkHistory(/*back=*/true, /*cancellable=*/false, shown);
        if (!self || groupBelow() == group) {
            return; // gone, or the application ends under it: the half edit stays a long one
        }
    }
    // What it made is undone: there is nothing to make again.
    const int count = document()->availableUndoSteps();
    document()->clearUndoRedoStacks(QTextDocument::RedoStack);
    std::erase_if(steps_, [count](const Step& s) { return s.end > count; });
    leaveLongEdit();
}

int ScriptTextView::stepGroup(int end) const {
    const auto found =
        std::find_if(steps_.begin(), steps_.end(), [&](const Step& s) { return s.end == end; });
    return found != steps_.end() ? found->group : 0;
}

QString ScriptTextView::undoActionName() const {
    const int count = document()->availableUndoSteps();
    const auto found =
        std::find_if(steps_.begin(), steps_.end(), [&](const Step& s) { return s.end == count; });
    return found != steps_.end() ? found->name : QString();
}

QString ScriptTextView::redoActionName() const {
    // The steps undone stay in the list, above the ones that can be undone.
    const int count = document()->availableUndoSteps();
    const auto found =
        std::find_if(steps_.begin(), steps_.end(), [&](const Step& s) { return s.end > count; });
    return document()->isRedoAvailable() && found != steps_.end() ? found->name : QString();
}

// Why a bookmark command leaves the text alone; false when it may go on.
static bool refusesBookmarkLine(int line, const QTextDocument& document) {
    if (line < 0) {
        base::log("invalid line number");
        return true;
    }
    if (document.isEmpty()) {
        base::log("empty document. not inserting bookmark, bro.");
        return true;
    }
    return false;
}

template <typename Edit> void ScriptTextView::namedStep(const QString& name, Edit edit) {
    nextStepName_ = name;
    QTextCursor cursor(document());
    cursor.beginEditBlock();
    edit(cursor);
    cursor.endEditBlock();
    nextStepName_.clear(); // a step that changed nothing leaves no name behind
}

void ScriptTextView::namedEdit(const QString& name, const std::function<void(QTextCursor&)>& edit) {
    namedStep(name, [&](QTextCursor& cursor) {
        const int revision = document()->revision(); // the open edit block's
        edit(cursor);
        // What it grew (a Replace All) is cut in the same step, before Qt lays it out; Qt tells
        // what changed only once the step is over, so the blocks' revisions tell it here.
        cutChangedLongBlocks(*document(), revision);
    });
}

bool ScriptTextView::insertBookmark(int line) {
    if (refusesBookmarkLine(line, *document())) {
        return false;
    }
    const int position = rangeOfLine(line).location;
    base::log(QStringLiteral("inserting bookmark at line %1 which is pos %2!")
                  .arg(line)
                  .arg(position)
                  .toStdString());
    if (isReadOnly()) {
        return false;
    }
    auto bookmark = std::make_shared<platform::EmbeddedBookmark>();
    bookmark->id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    namedStep(QStringLiteral("Insert Bookmark at line %1").arg(line), [&](QTextCursor& cursor) {
        cursor.setPosition(position);
        cursor.setPosition(position + 1, QTextCursor::KeepAnchor);
        QTextCharFormat format;
        format.setProperty(TextProperty::bookmark, QVariant::fromValue(bookmark));
        cursor.mergeCharFormat(format);
    });
    return true;
}

bool ScriptTextView::deleteBookmark(int line) {
    if (refusesBookmarkLine(line, *document())) {
        return false;
    }
    base::log(QStringLiteral("deleting bookmark at line %1!").arg(line).toStdString());
    if (isReadOnly()) {
        return false;
    }
    const platform::TextRange range = rangeOfLine(line);
    namedStep(tr("Delete Bookmark"), [&](QTextCursor& cursor) {
        // Fragment by fragment, each keeping the rest of its format; gathered first, as changing
        // formats splits and merges the fragments being walked.
        std::vector<std::pair<platform::TextRange, QTextCharFormat>> changes;
        for (QTextBlock block = document()->findBlock(range.location); block.isValid();
             block = block.next()) {
            if (block.position() >= range.end()) {
                break;
            }
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                const QTextFragment fragment = it.fragment();
                QTextCharFormat format = fragment.charFormat();
                const int start = std::max(fragment.position(), range.location);
                const int end = std::min(fragment.position() + fragment.length(), range.end());
                if (start >= end || !format.hasProperty(TextProperty::bookmark)) {
                    continue;
                }
                format.clearProperty(TextProperty::bookmark);
                changes.push_back({{start, end - start}, format});
            }
        }
        for (const auto& [where, format] : changes) {
            cursor.setPosition(where.location);
            cursor.setPosition(where.end(), QTextCursor::KeepAnchor);
            cursor.setCharFormat(format);
        }
        // A line that begins with "*" is a bookmark by itself: it stops being one without them.
        int stars = 0;
        while (stars < range.length && document()->characterAt(range.location + stars) == u'*') {
            ++stars;
        }
        if (stars > 0) {
            cursor.setPosition(range.location);
            cursor.setPosition(range.location + stars, QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
        }
    });
    return true;
}

bool ScriptTextView::renameBookmark(int line, const QString& id, const QString& note) {
    if (refusesBookmarkLine(line, *document()) || isReadOnly()) {
        return false;
    }
    // The runs carrying the object, gathered first as for deleting.
    std::vector<platform::TextRange> runs;
    platform::EmbeddedBookmarkPtr old;
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const auto object =
                fragment.charFormat().property(TextProperty::bookmark).value<platform::EmbeddedBookmarkPtr>();
            if (object && !id.isEmpty() && object->id == id) {
                old = object;
                runs.push_back({fragment.position(), fragment.length()});
            }
        }
    }
    auto renamed = std::make_shared<platform::EmbeddedBookmark>();
    if (old) {
        *renamed = *old;
    } else {
        renamed->id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        runs.push_back({rangeOfLine(line).location, 1});
    }
    renamed->userBlurb = note;
    namedStep(tr("Rename Bookmark"), [&](QTextCursor& cursor) {
        QTextCharFormat format;
        format.setProperty(TextProperty::bookmark, QVariant::fromValue(renamed));
        for (const platform::TextRange& run : runs) {
            cursor.setPosition(run.location);
            cursor.setPosition(run.end(), QTextCursor::KeepAnchor);
            cursor.mergeCharFormat(format);
        }
    });
    return true;
}

} // namespace cw::editor
