// The script editor's controller: the project's text in the text view, edits back to the project.
#pragma once

#include "cuewright/editor/EditorAppearance.h"
#include "cuewright/editor/EditorBackgroundViewDelegate.h"
#include "cuewright/editor/PieceSize.h"
#include "cuewright/editor/ScriptTextViewKeyEventDelegate.h"
#include "cuewright/model/Bookmark.h"
#include "cuewright/model/KQTimer.h"
#include "cuewright/model/ProjectEventListener.h"
#include "cuewright/model/ScriptProperties.h"
#include "platform/text/AttributedString.h"

#include <QString>
#include <QTextCharFormat>
#include <QTextCursor>

#include <QMetaObject>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QWidget;

namespace platform {
class Defaults;
}

namespace cw {
class BindingActionPerformer;
class EditorBackgroundView;
class OverlayView;
class Project;
} // namespace cw

namespace cw::editor {

struct LineMetrics;
class ScriptTextView;

// A one-shot timer on the main thread (the autosave wait, the settling step after a load). Qt's
// by default; tests inject one on a clock of their own.
class OneShotTimer {
public:
    virtual ~OneShotTimer() = default;
    // (Re)starts the wait: `fire` runs once, `interval` after the latest start, unless stopped.
    virtual void start(std::chrono::milliseconds interval, std::function<void()> fire) = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
};
// A single-shot QTimer on the main thread's event loop.
std::unique_ptr<OneShotTimer> makeQtOneShotTimer();

// The controller's timers; each one left null is made by the controller (Qt's one-shot timers, a
// KQTimer delivering on the main queue).
struct EditorTimers {
    std::unique_ptr<OneShotTimer> autosave; // hands the text over once typing pauses
    std::unique_ptr<OneShotTimer> settle;   // applies everything again once the views have settled
    std::unique_ptr<KQTimer> scroll;        // follows the prompter while it plays
    // Hands the text over while typing goes on without a pause long enough for the autosave.
    std::unique_ptr<OneShotTimer> autosaveDeadline;
};

// The editor's widgets stacked as the prompter paints them: the background view filling the
// container, the text column above it (placed by the controller) and the overlay above both.
// The container owns the three and keeps the background and the overlay at its own size.
struct EditorViews {
    QWidget* container = nullptr;
    EditorBackgroundView* background = nullptr;
    ScriptTextView* text = nullptr;
    OverlayView* overlay = nullptr;
};
EditorViews makeEditorViews(QWidget* parent = nullptr);

// Keeps one project's text and one ScriptTextView in step, and makes the editor look like the
// prompter:
//  - load() registers with the project (priority 0, held weakly by it) and copies its text into
//    the view; close() unregisters (so does the destructor). The view must outlive the controller.
//  - A user edit (or an explicit textDidChange()) publishes the line metrics and restarts the
//    autosave wait; the project receives the whole text once, autosaveInterval() after the last
//    edit, or maxAutosaveWait after the first edit it has not received yet, so that steady
//    typing reaches the project (and its recovery copy) too. The controller's own loads and
//    restyles (column, font size, alignment, mirroring) are not edits: they publish metrics but
//    start no wait and leave the project's text alone.
//  - Before the project saves, a pending edit is handed over at once.
//  - A long edit of the view (ScriptTextView::isInLongEdit: Replace All, a paste in pieces, their
//    undo and redo) is one edit to the project: a pending edit goes over as it starts, nothing of
//    it until it ends, so that saves, recovery copies and close questions meanwhile see the text
//    from before it.
//  - Line count, line ranges and words per line are published after layout (measureLines), in
//    one Project::setEditor so that listeners never see ranges and a count that disagree.
//  - A script too long for Qt's layout at the column's font size (or a paste that makes it so)
//    is shown at a smaller size, before it is laid out; its lines are still counted at the
//    column's size, so line count, running time and bookmark lines do not change with it.
//  - The view is read-only while the project's editor is locked; with "lockEditorDuringPrompting"
//    on, playback locks it and stopping unlocks it.
//  - While loaded it is the view's key-event delegate: a custom binding typed in the editor runs
//    its transport action on the project.
//  - Bookmark commands change the text as one named undo step and hand it to the project at once.
//  - The script properties go to the views (applyScriptProperties): the text column and the font
//    size that follows from its width, alignment, mirroring, the background view behind the text
//    and the overlay above it (both optional, see setViews). A size change of the background view
//    applies them again.
//  - The project's typing attributes, font and text colour changes reach the text view; typing
//    attributes read at the insertion point go back to the project.
//  - Scrolling: while stopped, a wheel scroll of the editor sets the project's progress (not while
//    freezeScroll() is set, as it is until the editor window shows the view); jumps, seek steps
//    and stops scroll the editor; while playing with "autoscrollEditorDuringPrompting" on, the
//    editor follows every 1/33 s. A progress is a counted line and a share of it in every view:
//    the editor shows that line's characters at its reading position, whatever its own breaks.
//  - An edit keeps the reading position on its words: the character there is followed through
//    every change of the view's text (typing, pastes, Replace All, Undo and Redo), and once both the
//    project's text and its lines are the view's again the project's progress is set to the one that
//    shows it, with whichever of the two came last. Meanwhile the project keeps its position, and the
//    editor, when it showed the transport position, shows that character. An edit handed over after
//    a typing pause while the lines are still counted in parts waits for the count, so that the
//    prompters never lay out the new text at a position meant for the old one.
// Main thread only.
class EditorController : public ProjectEventListener,
                         public ScriptTextViewKeyEventDelegate,
                         public EditorBackgroundViewDelegate,
                         public std::enable_shared_from_this<EditorController> {
public:
    static constexpr std::chrono::milliseconds defaultAutosaveInterval{300};
    static constexpr std::chrono::milliseconds maxAutosaveWait{1000};
    static constexpr std::chrono::milliseconds settleDelay{100};
    static constexpr double autoScrollInterval = 1.0 / 33.0;
    // A text this long goes into the view in pieces of whole blocks (see TextInsertion) of about
    // loadPieceCharacters, counted as they come, the event loop running between them: a window
    // with a long script goes on answering (and can be closed) while it fills.
    static constexpr int piecewiseLoadCharacters = 1 << 20;
    // So does one of this many paragraphs: Qt lays out each on its own.
    static constexpr int piecewiseLoadParagraphs = 1 << 14;
    static constexpr int loadPieceCharacters = 1 << 18;
    // The pieces are sized to take about loadPieceTime each (see PieceSize), down to
    // minimumLoadPieceCharacters. Not smaller than a line can be long, though: each piece counts
    // the last line before it again, which under a storm of marks is thousands of characters.
    static constexpr std::chrono::milliseconds loadPieceTime{70};
    static constexpr int minimumLoadPieceCharacters = 1 << 14;

    // `defaults` (the settings store) must outlive the controller.
    EditorController(std::shared_ptr<Project> project, ScriptTextView& textView, platform::Defaults& defaults,
                     EditorTimers timers = {});
    ~EditorController() override;
    EditorController(const EditorController&) = delete;
    EditorController& operator=(const EditorController&) = delete;

    // The views around the text view (either may be null); before load(). They must outlive the
    // controller; the background view's frame is the one the text column is placed in.
    void setViews(EditorBackgroundView* background, OverlayView* overlay);

    // Registers, loads the text and applies the script properties; settleDelay later everything
    // is applied again with force and the editor scrolls to the project's position.
    void load();
    void close();

    enum class Load { ifChanged, force };
    // Loads the project's text unless the view already shows it, as loaded or handed over and
    // perhaps restyled or edited since (always with `force`), then
    // applies the script properties the same way.
    void loadDocumentText(Load load);

    // Pushes the script properties into the views; without force only what differs from the
    // views or from the properties applied last time.
    void applyScriptProperties(Load load);
    void syncProps() { applyScriptProperties(Load::force); }
    // The editor's font size in points, from the column width and the word-count factor.
    double lineHeight() const { return lineHeight_; }
    // The default font (at lineHeight()) and text colour for typing, and the script's alignment.
    void applyTypingAttributes();

    // While set (initially), scrolling the editor never moves the transport.
    bool freezeScroll() const { return freezeScroll_; }
    void setFreezeScroll(bool freeze) { freezeScroll_ = freeze; }
    // Puts the counted line the progress names, at its share, at the editor's reading position.
    void scrollToTransportPosition(bool animated);
    // A scroll of the editor's view; moves the project's progress when it was the wheel's.
    void editorViewDidScroll();
    // Follows the prompter while playing with "autoscrollEditorDuringPrompting" on; else stops.
    void updateAutoScrollTimer();

    // What follows an edit of the text: metrics, then a new autosave wait.
    void textDidChange();
    // Hands a pending edit to the project now (the view's whole text; an equal text is ignored).
    void autosave();
    bool hasPendingEdit() const;

    // Hands the view's lines to the project; whether they were others than it had.
    bool publishLineMetrics();
    // The same once they are counted: at once when that takes little (a keystroke), else a part at
    // a time (see countSomeLines), the event loop turning between the parts (a Replace All over a
    // long paragraph, each of its slices and undone steps); without `countNow` (after a long edit)
    // from the next turn on. Meanwhile isCountingLines(). Whether it published other lines at once.
    bool publishLineMetricsSoon(bool countNow = true);
    bool isCountingLines() const { return countingLines_; }
    // The parts are sized to take about countPartTime each (see PieceSize), from
    // minimumCountPartCharacters (each part counts the last line before it again) to
    // countPartCharacters; a count starts at the least, the cost of the text not known.
    static constexpr int countPartCharacters = 1 << 19;
    static constexpr int minimumCountPartCharacters = 1 << 14;
    static constexpr std::chrono::milliseconds countPartTime{40};

    // While a long text goes into the view: how much of it is in, from 0 to 1. Meanwhile the
    // view is read-only, the line metrics wait for the whole text, and restyles, the settling
    // step, bookmark commands and wheel scrolls of the transport wait or do nothing.
    std::optional<double> loadProgress() const;
    bool isLoadingText() const { return piecewise_ != nullptr; }
    // Until the views have settled after the load, the editor goes back to the transport position.
    bool isSettling() const { return timers_.settle && timers_.settle->isActive(); }

    // Bookmarks at a line: the current line's is toggled (the last line's from the empty line
    // after the final line break); deleting removes every bookmark object on the line and the "*"
    // it begins with, as one undo step. The project receives the line metrics always, and the
    // text only when the command changed it: a refused command marks nothing edited. While lines
    // are counted in parts a command waits for the count (counting the rest at once would hold the
    // window), and the current line shows no bookmark; during a long edit it does nothing.
    void toggleBookmark();
    void deleteBookmark(int line);
    void removeBookmark(const Bookmark& bookmark) { deleteBookmark(bookmark.line); }
    // The bookmark's own note becomes `note` (a "*" line gets it too), as one undo step.
    void renameBookmark(const Bookmark& bookmark, const QString& note);
    bool hasBookmarkOnCurrentLine();
    // "Delete Bookmark" on a line with a bookmark, else "Insert Bookmark".
    QString toggleBookmarkTitle();

    enum class TextTrait { bold, italic, underline };
    // Over a selection: the trait on for all of it, or off when all of it has it already, each
    // run keeping the rest of its look, as one undo step named after the trait ("Bold"). Without
    // one, for what is typed next. Nothing while the view is read-only or a text goes in.
    void toggleTrait(TextTrait trait);
    // Whether toggleTrait() can act now.
    bool canStyleText() const;

    std::chrono::milliseconds autosaveInterval() const { return autosaveInterval_; }
    void setAutosaveInterval(std::chrono::milliseconds interval) { autosaveInterval_ = interval; }

    ScriptTextView& textView() const { return *textView_; }
    Project& project() const { return *project_; }

    // ProjectEventListener
    void projectTextDidChange(Project&) override;
    void projectTransportStateDidChange(Project&) override;
    void projectScriptPropertiesDidChange(Project&) override;
    void projectPositionDidJump(Project&, bool animated, bool immediate) override;
    void projectSeekDidStep(Project&, double from, double to, double step) override;
    void projectTypingAttributesDidChange(Project&) override;
    void projectTextColorDidChange(Project&, const platform::Color& color) override;
    void projectFontDidChange(Project&, const platform::Font& font) override;
    void projectWillSave(Project&) override;
    void projectDidSave(Project&) override;
    void projectWillGatherBookmarks(Project&) override;
    void projectEditorDidChange(Project&) override;
    void projectDidStartPlayback(Project&) override;
    void projectDidStopPlayback(Project&) override;
    int listenerPriority() const override { return 0; }

    // EditorBackgroundViewDelegate: the views were resized; everything is applied again.
    void editorBackgroundViewDidLayout(EditorBackgroundView& view) override;

    // ScriptTextViewKeyEventDelegate: the bound action, or false when the key is no binding.
    bool handleKeyEvent(const platform::KeyEvent& event, bool isKeyDown) override;
    // Runs the line steps (scrollLineUp, scrollLineDown) through the prompter windows, which the
    // application owns; held weakly. Without it the line steps are not handled and the keys go on
    // to the text.
    void setBindingActionPerformer(std::weak_ptr<BindingActionPerformer> performer) {
        bindingActionPerformer_ = std::move(performer);
    }
    // Brings the project's prompter windows forward when playback starts with
    // "autospawnPrompterWindow" on; nothing happens without it.
    void setShowPrompter(std::function<void()> showPrompter) { showPrompter_ = std::move(showPrompter); }

private:
    // The reading position's place in the view's text while an edit has not yet reached both the
    // project's text and its line table.
    // Qt moves the cursor with every change of the text, however many one edit makes at once: on
    // with the text after an insertion or removal before it (or an insertion at it), to where the
    // text went when its character is removed.
    struct TextAnchor {
        QTextCursor character;   // the view's character at the reading position
        double share = 0;        // and how much of it lies before the reading position
        double progress = 0;     // the project's progress when it was placed
        int lineCount = 0;       // and the project's line count then
        bool linesBehind = true; // the project's lines are not yet the view's
        bool textBehind = true;  // the project's text is not yet the view's
        double position() const { return character.position() + share; }
    };
    // Keeps a standby anchor at the transport position while the project is up to date with the
    // view: the first change of the text makes it the anchor (it must be in place before it).
    void placeStandbyAnchor();
    void noteTextChange(int position, int removed, int added);
    // The progress that shows the anchor in the view's lines as counted, with what the transport
    // has played since it was taken.
    double anchoredProgress(const LineMetrics& lines) const;
    // Where the editor shows the transport: the anchor's progress while the project's own waits.
    double shownProgress() const;
    // After an edit or a new count: back to the transport position, when the view was there.
    void followTransportPosition();
    // The typing pause's hand-over: after the count when the lines are being counted.
    void autosaveWhenCounted();
    void setLockedForPrompting(bool locked);
    void settle();
    // Whether a bookmark command may run now; if not, it runs once the lines are counted, or
    // never while the text still comes in or during a long edit.
    bool bookmarkCommandNow(std::function<void()> command);
    // The next piece of a long text, then the next one on a later turn of the event loop.
    void loadNextPiece(int generation);
    void loadPieceLater(int generation);
    void finishPiecewiseLoad();
    void countMoreLines();
    void countMoreLinesLater();
    // Places the text view in the background's frame and, with a new width, computes lineHeight_.
    // `amount` is the text to be shown, for the size a long script is shown at.
    void placeColumn(const DocumentScriptProperties& properties, bool widthChanged,
                     const EditorAppearance::TextAmount& amount);
    // Whether `amount` of text at the size shown stays within what Qt's layout can lay out.
    bool showsWithinLayoutLimit(const EditorAppearance::TextAmount& amount) const;
    // Shows no text but a word on why: `text` has more lines than the view can lay out. The view
    // stays read-only and the project keeps the text as it is, its lines counted unwrapped.
    void holdBack(const platform::AttributedString& text);
    // Whether the view holds the project's whole text (not while it goes in, nor held back).
    bool holdsWholeText() const { return !piecewise_ && !heldBack_; }
    // Whether the view's lines can be had at once: not for part of a long text, a long edit half
    // done or lines still being counted in parts (counting them now would hold the window).
    bool hasLineTable() const;
    // The same, then gives the text the new size; `amount` is the text's when not given.
    void applyColumn(const DocumentScriptProperties& properties, bool widthChanged, bool placeChanged,
                     std::optional<EditorAppearance::TextAmount> amount = std::nullopt);
    void setInset();
    // The editor's own layout changed (its size, full screen, margins, font size): the text
    // under the reading position moved, so scroll back to the transport position.
    void showTransportPositionAgain();
    double viewHeight() const;
    // The text format of `attributes` in this editor: its font at the editor's size.
    QTextCharFormat editorFormat(platform::Attributes attributes) const;
    void typingAttributesDidChange();
    // A font picked over a selection: every run takes what `to` changes against `from` (family,
    // bold, italic) and keeps the rest of its look; one undo step named "Font".
    void convertSelectionFonts(const QTextCursor& selection, const platform::Font& from,
                               const platform::Font& to);
    // The selection's runs of one format each, gathered before any of them changes (changing
    // formats splits and merges the fragments being walked).
    struct Run {
        platform::TextRange range;
        QTextCharFormat format;
    };
    std::vector<Run> selectedRuns(const QTextCursor& selection) const;
    // Gives every run the format `restyle` makes of its own, as one undo step named `stepName`.
    void restyleRuns(const QString& stepName, const std::vector<Run>& runs,
                     const std::function<QTextCharFormat(const QTextCharFormat&)>& restyle);
    // `format` with the font `font` at the editor's size; its underline and strike-out stay.
    QTextCharFormat withFont(const QTextCharFormat& format, const platform::Font& font) const;
    // What the run of `format` shows.
    platform::Attributes shownAttributes(const QTextCharFormat& format) const;
    // Runs `step` as the editor's own scroll: it does not come back as a wheel scroll.
    template <typename Step> void scrollingItself(Step step);
    std::vector<Bookmark> bookmarksOnLines();
    // The line a bookmark command at the caret acts on: the current line, and the last line for
    // a caret on the empty line after the text's final line break; 0 or less when there is none.
    int bookmarkLine() const;
    // After a bookmark command: the text to the project when `changed`, the line metrics always.
    void publishBookmarkEdit(bool changed);
    // The view's document now stands for the project's text as it is (loaded or saved).
    void markViewClean();

    std::shared_ptr<Project> project_;
    ScriptTextView* textView_;
    platform::Defaults* defaults_;
    EditorBackgroundView* background_ = nullptr;
    OverlayView* overlay_ = nullptr;
    EditorTimers timers_;
    std::chrono::milliseconds autosaveInterval_ = defaultAutosaveInterval;
    std::weak_ptr<BindingActionPerformer> bindingActionPerformer_;
    std::function<void()> showPrompter_;
    std::vector<QMetaObject::Connection> connections_;
    DocumentScriptProperties cachedProperties_; // applied last
    platform::AttributedString shownText_;      // the project's text last loaded or handed over
    // The project's text that the view stands for while its document is unmodified: the text
    // loaded or saved last. An undo back to that state hands it over as it was, not as the view
    // would write it again.
    platform::AttributedString cleanText_;
    double lineHeight_ = 0;
    bool shownSmaller_ = false; // a long script, shown smaller than the prompter's size
    bool freezeScroll_ = true;
    bool ignoreScroll_ = false;           // set while the editor scrolls itself
    bool ignoreTextChange_ = false;       // set while the controller itself replaces the text
    bool ignoreTypingAttributes_ = false; // set while the controller itself sets them
    bool loaded_ = false;
    // A long text going into the view (see piecewiseLoadCharacters), and what waits for it.
    struct PiecewiseLoad;
    std::unique_ptr<PiecewiseLoad> piecewise_;
    bool heldBack_ = false;
    int loadGeneration_ = 0;
    std::optional<EditorAppearance::TextAmount> amountGoingIn_;
    // The text a paste will leave: while it goes in by pieces the column is sized for it, so the
    // size stays when it ends (another size lays all of it out again).
    std::optional<EditorAppearance::TextAmount> amountPasted_;
    bool propertiesAfterLoad_ = false;
    bool settleAfterLoad_ = false;
    bool countingLines_ = false;
    std::vector<std::function<void()>> afterCount_; // bookmark commands waiting for the count
    PieceSize countPart_{minimumCountPartCharacters, countPartCharacters, countPartTime};
    bool longEditEnding_ = false; // the text change that follows counts no lines itself
    bool publishNext_ = false;    // counted: the next part publishes the lines
    // A restyle's lines are being counted: the reading position is shown on them once they are.
    bool showPositionWhenCounted_ = false;
    std::optional<TextAnchor> anchor_;
    bool linesHeld_ = false; // counted, waiting for the text to go over with them
    std::optional<TextAnchor> standby_;
    std::vector<int> publishedCuts_;   // the cuts that stand for no character when the lines were published
    bool movingWithText_ = false;      // set while the project's position follows an edit
    bool atTransportPosition_ = false; // the view shows the transport position, not scrolled away
    bool autosaveAfterCount_ = false;  // a typing pause ended while the lines were counted
    std::uint64_t publishedLinesRevision_ = 0; // the project's lines when this editor last published
};

} // namespace cw::editor
