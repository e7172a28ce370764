// The rich-text view in which the script is edited.
#pragma once

#include "cuewright/editor/EditorAppearance.h"
#include "cuewright/editor/LineMetrics.h"
#include "cuewright/model/ScriptImport.h"
#include "platform/text/AttributedString.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>

#include <QTextEdit>
#include <QTransform>
#include <chrono>
#include <deque>

#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QMimeData;
class QVariantAnimation;

namespace platform {
class Defaults;
struct KeyEvent;
} // namespace platform

namespace cw::editor {

class PasteInsertion;
class ProgressWindow;
class ScriptTextViewKeyEventDelegate;

// A QTextEdit over the script's QTextDocument (see TextBridge). Beyond Qt's own editing it:
//  - restyles every paste through the paste rules (pastedText) with the paste style and the
//    typing font's size; the pasted text takes the paragraph it lands in; Copy, Cut and a drag
//    give the text as it is (see attributedText());
//  - keeps the bookmark object of the character before the insertion point out of typed text
//    or composed by an input method (a bookmark marks one character, never what follows it);
//  - hands keys held with Ctrl, Alt or Super, and F-keys, to its key-event delegate first (see
//    handleKeyDown), except the standard editing keys (Ctrl+C, Ctrl+Z, ...), which stay editing.
//  - inserts and deletes bookmarks at a laid-out line (numbered from 1), each one undo step,
//    and names its undo steps.
// Main thread only, as every widget.
class ScriptTextView : public QTextEdit {
    Q_OBJECT

public:
    explicit ScriptTextView(QWidget* parent = nullptr);
    ~ScriptTextView() override;
    ScriptTextView(const ScriptTextView&) = delete;
    ScriptTextView& operator=(const ScriptTextView&) = delete;

    // The script's default font and colour that pasted text takes on: "defaultFont" and
    // "defaultTextColor" of the view's settings store (see setKeyEventDelegate) at the moment.
    ScriptImport::DefaultStyle pasteStyle() const;

    // What a paste of `source` inserts at the insertion point: Cuewright's own flavour (see
    // ClipboardText) or RTF when offered, else HTML, else the plain text, restyled by the paste
    // rules. HTML past ClipboardText's bounds is not read: the plain text goes in instead, or
    // nothing when there is none; `notice` (when given) then says so.
    platform::AttributedString pastedContent(const QMimeData& source, QString* notice = nullptr) const;

    // The bindings and "PerformCustomBindingActionOnKeyDown" come from `defaults` (the standard
    // store when null), which must outlive the view. A null delegate handles nothing.
    void setKeyEventDelegate(ScriptTextViewKeyEventDelegate* delegate,
                             platform::Defaults* defaults = nullptr);
    ScriptTextViewKeyEventDelegate* keyEventDelegate() const;
    // Whether a key with Ctrl, Alt or Super, or an F-key, is a binding the view keeps from the
    // text: one-shot actions act on the key-down or the key-up as the setting says and swallow
    // the other; held actions start on the key-down, and fast winding ends on the key-up, or
    // when the view loses the keyboard focus (endHeldKeys).
    bool handleKeyDown(const platform::KeyEvent& event);
    bool handleKeyUp(const platform::KeyEvent& event);
    void endHeldKeys();
    // The laid-out line holding the insertion point; -1 when it stands after the last line, 0
    // for an empty text.
    int currentLine() const;
    // The characters of a line; empty at 0 when there is no such line.
    platform::TextRange rangeOfLine(int line) const;
    // A new bookmark on the first character of `line` (of the text for a line that does not
    // exist). False, leaving the text alone, for a negative line, an empty or read-only text.
    bool insertBookmark(int line);
    // Removes every bookmark on `line` and the "*" the line begins with, as one undo step
    // "Delete Bookmark"; false as for insertBookmark().
    bool deleteBookmark(int line);
    // Gives the bookmark object `id` the note `note`, as one undo step "Rename Bookmark": a fresh
    // object in its place, so that undo brings the old note back. With no such object (a line
    // that begins with "*") the first character of `line` gets one carrying the note. False as
    // for insertBookmark().
    bool renameBookmark(int line, const QString& id, const QString& note);

    // A paste of piecewisePasteCharacters or more goes in pieces of pastePieceCharacters with the
    // event loop running between them, the text read-only meanwhile; the pieces are one step group
    // (see beginStepGroup), so one undo takes it back and one redo makes it again, a piece at a
    // time. From pasteProgressDelayMs on a window shows how far it is, with Cancel, which takes
    // back what went in (as cancelStepGroup does) and leaves nothing to redo. It is a long edit
    // (see isInLongEdit).
    // The pieces are sized to take about pastePieceTime each (see PieceSize), from
    // minimumPastePieceCharacters to pastePieceCharacters.
    static constexpr int piecewisePasteCharacters = 1 << 18;
    static constexpr int pastePieceCharacters = 1 << 17;
    static constexpr int minimumPastePieceCharacters = 1 << 12;
    static constexpr std::chrono::milliseconds pastePieceTime{60};
    static constexpr int pasteProgressDelayMs = 1000;
    bool isPasting() const;
    void cancelPaste();

    // A long edit goes on: a step group being made (Replace All, a paste in pieces), or one being
    // undone or redone a step at a time. Its half-done text is no one's: what reads the text for
    // the script (the editor's hand-over, and with it saves and recovery copies) waits for its end.
    bool isInLongEdit() const { return longEdits_ > 0; }

    // The text is held read-only while anything holds it (a long edit, the matches of a Replace All
    // being gathered), whatever the lock says; a lock set meanwhile (setLocked) applies once the
    // last hold is released.
    void holdReadOnly();
    void releaseReadOnly();
    void setLocked(bool locked);
    bool isLocked() const { return readOnlyHolds_ > 0 ? lockedAfterHolds_ : isReadOnly(); }

signals:
    // Just before a long edit first changes the text: the text is still as it was before.
    void longEditStarted();
    // The long edit is over (made, undone, or cancelled back to where it began); textChanged
    // follows at once.
    void longEditEnded();
    // A paste or a drop was refused: with it the text would have `paragraphs`, more than the
    // editor shows (the guard's answer, see setInsertionGuard). The text stays as it was.
    void insertionRefused(qint64 paragraphs, bool dropped);
    // A paste or a drop went in other than offered, or not at all (see pastedContent).
    void insertionNotice(const QString& notice);

public slots:
    // Qt's undo and redo, leaving the insertion point at the change and showing it: after a step
    // of format changes (a trait, a bookmark) Qt puts it at the start of the text. Where Qt's own
    // place lies within what the step changed (typing), it stays. A group's steps go one at a time,
    // as they were made, with the event loop turning between them (see beginStepGroup).
    void undo();
    void redo();
    // Qt's, in one step with what keeps the breaks around the selection as they read.
    void cut();

public:
    // Runs `edit` on a cursor of the text as one undo step named `name`.
    void namedEdit(const QString& name, const std::function<void(QTextCursor&)>& edit);
    // The steps made from beginStepGroup() to endStepGroup() (a long edit made a slice at a time,
    // the event loop turning between them) are undone and redone together, by one undo() or
    // redo(). Groups do not nest. Meanwhile isStepping(): the text is read-only, one more
    // text-changed signal follows at the end, and from ProgressWindow::defaultDelayMs on a window
    // shows how far it is, with Cancel, which steps back to where it began. The steps go by as many
    // a turn as fit in stepTurnTime.
    void beginStepGroup();
    void endStepGroup();
    // Ends the group by taking back what it made, a step at a time as undo() does, in a walk back
    // that nothing stops half-way: its window says "Cancelling…" and has no Cancel. It leaves
    // nothing to redo. `shown`: the edit's own progress window, in which the walk goes on.
    void cancelStepGroup(ProgressWindow* shown = nullptr);
    static constexpr std::chrono::milliseconds stepTurnTime{40};
    bool isStepping() const { return stepping_; }

    // The name of the step that undo would take back, or redo would make again; empty when there
    // is none or the step has no name of its own (typing: Qt's own edits).
    QString undoActionName() const;
    QString redoActionName() const;

    // Shows every run and the typing at fontSize(points) (see EditorAppearance::setFontSize);
    // returns the size used. A restyle, not an edit: the text and its undo history stay.
    double setFontSize(double points);
    // The script's lines, counted as `lineCounting()` says (see measureLines): in a column of
    // their own, whatever the view's width and the size shown. Kept until the text or what its
    // lines depend on changes: a long script's table takes a while.
    const LineMetrics& lineMetrics() const;
    const LineCounting& lineCounting() const { return lineCounting_; }
    void setLineCounting(const LineCounting& counting) { lineCounting_ = counting; }
    // Runs before a paste or a drop goes in with the text's size after it (the selection still
    // counted): Qt lays the insertion out at once, so a long one must find the script shown small
    // enough already. True when it changed the typing size (the insertion is then restyled);
    // none when the text would be too long to lay out (nothing goes in).
    using InsertionGuard = std::function<std::optional<bool>(const EditorAppearance::TextAmount& after)>;
    void setInsertionGuard(InsertionGuard guard) { insertionGuard_ = std::move(guard); }
    // Aligns every paragraph and the typing (see EditorAppearance::setAlignment); a restyle too.
    void setParagraphAlignment(Qt::Alignment alignment);
    // The script's look (font and colour, no size) that typed text takes on wherever its own
    // format says nothing of them: after everything was deleted, on a new first line.
    void setTypingLook(const QTextCharFormat& look) { typingLook_ = look; }

    // Free room above the first line (the inset) and below the last (the room under the reading
    // position, at least the inset), so that the text can scroll to the reading position at
    // either end. It lives in the scroll range, not in the document: the
    // text and its undo history stay as they are.
    double topInset() const { return inset_; }
    void setTopInset(double inset);
    // The width the text wraps in: the view without its frame and its vertical scroll bar.
    double containerWidth() const;
    // Height of the laid-out text without the document's margins; finishes the layout first.
    double usedHeight() const;
    // Qt lays a text restyled whole (font size, alignment, width) out again only as far as it is
    // shown or asked for, or all at once when its height is: this lays it out from its start a part
    // at a time, the event loop turning between the parts, until all of it is. Called by the
    // restyles here and on a resize; a text changed meanwhile is laid out by Qt as it changes.
    void layOutInParts();
    bool isLayingOutInParts() const { return layoutReach_ >= 0; }
    // Runs `step` in a later turn of the event loop, at most one such step a turn: the parts of
    // the work that follows a long edit (the layout, the lines and the matches counted) take
    // turns instead of all landing in each one. Dropped when `context` has gone.
    void inTurnOfItsOwn(QObject* context, std::function<void()> step);
    static constexpr int layoutPartCharacters = 1 << 14;
    static constexpr std::chrono::milliseconds layoutTurnTime{40};
    // The scroll offset in the text's own coordinates: 0 shows the first line at the inset.
    double scrollOffset() const;
    // Scrolls to `offset` (held to the scroll range); animated over scrollAnimationDuration().
    void scrollToOffset(double offset, bool animated);
    int scrollAnimationDuration() const { return scrollAnimationMs_; }
    void setScrollAnimationDuration(int milliseconds) { scrollAnimationMs_ = milliseconds; }
    // True while the wheel is scrolling the view (the scroll bar's value changes inside).
    bool isWheelScrolling() const { return wheelScrolling_; }
    // True while an animated scrollToOffset() goes on.
    bool isAnimatingScroll() const;

    // Shows the text mirrored about the viewport; clicks land where the mirrored text shows.
    void setMirroring(bool horizontal, bool vertical);
    bool isMirrored() const { return mirrorH_ || mirrorV_; }

    // The page height the view gives its document. Qt's layout takes a page without a height for
    // one ending at 2^23 pixels and, once an edit lays a line out past that, moves it to the next
    // page forever; a finite page just below lets a text reach 2^25 pixels, where its fixed point
    // ends (see EditorAppearance::maximumLaidOutHeight). A line that would cross a page's foot
    // starts the next one: a gap under a line's height every 8 million pixels.
    static constexpr double pageHeight = 8388600.0;
    // The narrowest the text wraps: a view narrower than `width` lays it out that wide and
    // scrolls sideways (a long text in a thin column would be laid out taller than Qt reaches).
    void setWrapWidthFloor(double width);
    double wrapWidthFloor() const { return wrapWidthFloor_; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    // The selection as it is: where a long paragraph was cut into blocks there is no break.
    QMimeData* createMimeDataFromSelection() const override;
    bool canInsertFromMimeData(const QMimeData* source) const override;
    void insertFromMimeData(const QMimeData* source) override;
    void dropEvent(QDropEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // Gives typing at the insertion point the script's look where its format lacks it, and no
    // bookmark of the character before it. True when it typed `text` itself (over a selection).
    bool typeWithScriptLook(const QString& text);
    // Backspace or Delete beside a break that stands for no character (see TextInsertion): true
    // when it deleted the character beyond the break.
    bool deleteOverCut(const QKeyEvent& event);
    // Ctrl+Backspace or Ctrl+Delete beside a break that stands for a space: true when it deleted
    // as far as over that space (Qt stops at the break).
    bool deleteWordOverCut(const QKeyEvent& event);
    // After a move by a character or a word that ended beside such a break: on past it, so that
    // each press passes a character and a word runs on across the break. `before`: the position
    // before the move.
    void moveOverCut(const QKeyEvent& event, int before);
    // Whether typing `typed` at the insertion point grows its block past the limits (see
    // cutLongBlocks).
    bool typingPassesLimits(const QString& typed) const;
    // Runs `type`, which types `typed`; when that grows the block past the limits, cuts it in the
    // same undo step, before Qt lays it out.
    void typeWithinLimits(const QString& typed, const std::function<void()>& type);
    struct PiecewisePaste;
    void pasteInPieces(std::unique_ptr<PasteInsertion> insertion);
    void pasteNextPiece();
    std::unique_ptr<PiecewisePaste> paste_;
    // Selects whole paragraphs, with their breaks, from the one a third click took
    // (clickedParagraph_) to the one holding `position`, leaving the view where it is.
    void selectParagraphsTo(int position);
    // Runs `edit` as one undo step named `name`.
    template <typename Edit> void namedStep(const QString& name, Edit edit);
    void undoStepAdded();
    // Runs Qt's undo or redo, then puts the insertion point at the change when Qt put it elsewhere.
    void stepThroughHistory(void (QTextEdit::*step)());
    // Undo or redo of the next step, or of every step of its group; a walk that is not
    // `cancellable` has no Cancel, and goes on in `shown` when given.
    void walkHistory(bool back, bool cancellable = true, ProgressWindow* shown = nullptr);
    // The group of the step undo would take back, or redo would make again; 0 when none.
    int groupBelow() const;
    int groupAbove() const;
    // The group of the step that ends at the undo count `end`; 0 when none.
    int stepGroup(int end) const;

    // The key events as the prompter reads them (see ScriptTextViewKeys.cpp).
    struct KeyRouting;
    struct KeyRoutingDeleter {
        void operator()(KeyRouting* keys) const;
    };
    KeyRouting& keyRouting();
    // True when the event is taken before Qt's own editing sees it.
    bool routeKeyEvent(const QKeyEvent& event);
    // Carries out undo, redo, cut, copy, paste or select all when the key is theirs in the
    // standard keys' table, and sends bold, italic or underline ("toggleBold:", ...) along the
    // responder chain; false for any other key.
    bool runTextCommand(const QKeyEvent& event);

    // Gives the document its page height back after Qt set the page's width (and no height).
    void keepPageHeight();
    void layOutNextParts();
    int layoutReach_ = -1; // laid out before this position while layOutInParts() goes on, else -1
    // Qt draws the caret anew when it blinks and when the view gains or loses the focus, laying
    // the text out to it at once: while the text is laid out in parts the blinks are skipped and a
    // focus change reaches Qt once the layout is done.
    bool caretWaitsForLayout(const QFocusEvent& event);
    void layoutDone();
    std::optional<std::pair<QEvent::Type, Qt::FocusReason>> focusAfterLayout_;
    void runNextTurnStep();
    std::deque<std::pair<QPointer<QObject>, std::function<void()>>> turnSteps_;
    QTimer* turnTimer_ = nullptr;
    // Wraps at the view's width, or at the floor's when the view is narrower.
    void applyWrapWidth();
    // The inset in the scroll bar's range, kept when Qt sets the range again.
    void keepInsetInScrollRange();
    void applyScrollRange();
    // The range's end for the text's height: `qtMaximum`, unless the text is too tall for Qt's.
    int textMaximum(int qtMaximum) const;
    // The viewport's mirror image of `event` (itself when not mirrored), for Qt's handlers.
    template <typename Handler> void mirroredMouseEvent(QMouseEvent* event, Handler handler);
    QTransform mirrorTransform() const;

    std::unique_ptr<KeyRouting, KeyRoutingDeleter> keys_;
    // The document's undo and redo steps, oldest first: the undo count each ends at, its name.
    struct Step {
        int end = 0;
        QString name;
        int group = 0; // steps of one group (see beginStepGroup) share it; 0 for none
    };
    std::vector<Step> steps_;
    int openGroup_ = 0;
    int lastGroup_ = 0;
    QString nextStepName_;
    void enterLongEdit();
    void leaveLongEdit();
    int longEdits_ = 0; // long edits going on, one inside another (a cancel's walk back)
    int readOnlyHolds_ = 0;
    bool lockedAfterHolds_ = false;
    bool dropping_ = false; // an insertion is a drop, not a paste
    bool stepping_ = false; // undo or redo of a group goes on
    double inset_ = 0;
    LineCounting lineCounting_;
    // The lines last counted and what they were counted for; any change of the text drops them.
    struct CountedFor {
        LineCounting counting;
        double textWidth = 0;
        double margin = 0;
        double indentWidth = 0;
        QFont font;
        int wrapMode = 0;
        int characters = 0;
        int blocks = 0;
        bool operator==(const CountedFor&) const = default;
    };
    CountedFor countedFor() const;
    mutable std::optional<std::pair<CountedFor, LineMetrics>> countedLines_;
    InsertionGuard insertionGuard_;
    bool adjustingRange_ = false;
    int qtMaximum_ = 0;        // the range's end as Qt last set it
    double laidOutHeight_ = 0; // the document's height as its layout last reported it
    double wrapWidthFloor_ = 0;
    std::pair<int, int> ownRange_{0, 0}; // the range as last widened here
    bool wheelScrolling_ = false;
    int scrollAnimationMs_ = 200;
    QVariantAnimation* scrollAnimation_ = nullptr;
    bool mirrorH_ = false;
    bool mirrorV_ = false;
    QTextCharFormat typingLook_;
    QElapsedTimer doubleClicked_; // since the last double click, for a third click
    QPointF doubleClickPoint_;
    // The paragraph a third click took: a drag from it, or a Shift+click while the selection is
    // still the one made from it (paragraphSelection_, anchor and position), extends by paragraphs.
    std::optional<platform::TextRange> clickedParagraph_;
    std::pair<int, int> paragraphSelection_{-1, -1};
    bool draggingParagraphs_ = false;
};

} // namespace cw::editor
