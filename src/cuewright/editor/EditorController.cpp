#include "cuewright/editor/EditorController.h"

#include "cuewright/editor/EditorAppearance.h"
#include "cuewright/editor/EditorBackgroundView.h"
#include "cuewright/editor/EditorScrolling.h"
#include "cuewright/editor/LineMetrics.h"
#include "cuewright/editor/ScriptTextView.h"
#include "cuewright/editor/TextBridge.h"
#include "cuewright/model/Project.h"
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/model/UserDefaults.h"
#include "cuewright/prompter/OverlayView.h"
#include "dispatch/MainThreadChecker.h"
#include "platform/defaults/Defaults.h"
#include "platform/defaults/NotificationCenter.h"

#include <QCoreApplication>
#include <QLocale>
#include <QPalette>
#include <QResizeEvent>
#include <QScrollBar>
#include <QSet>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <limits>

#include <cassert>
#include <utility>
#include <vector>

namespace cw::editor {

namespace {

class QtOneShotTimer final : public OneShotTimer {
public:
    QtOneShotTimer() { timer_.setSingleShot(true); }
    void start(std::chrono::milliseconds interval, std::function<void()> fire) override {
        QObject::disconnect(&timer_, &QTimer::timeout, nullptr, nullptr);
        QObject::connect(&timer_, &QTimer::timeout, &timer_, std::move(fire));
        timer_.start(interval);
    }
    void stop() override { timer_.stop(); }
    bool isActive() const override { return timer_.isActive(); }

private:
    QTimer timer_;
};

// Keeps the background view and the overlay at its own size; the controller places the text.
class EditorContainer final : public QWidget {
public:
    using QWidget::QWidget;
    EditorViews views;

protected:
    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        views.background->setGeometry(rect());
        views.overlay->setGeometry(rect());
    }
};

// Restores a flag when the scope ends, also when a listener throws.
class FlagScope {
public:
    explicit FlagScope(bool& flag)
        : flag_(flag)
        , previous_(std::exchange(flag, true)) {}
    ~FlagScope() { flag_ = previous_; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

private:
    bool& flag_;
    bool previous_;
};

} // namespace

std::unique_ptr<OneShotTimer> makeQtOneShotTimer() {
    return std::make_unique<QtOneShotTimer>();
}

EditorViews makeEditorViews(QWidget* parent) {
    auto* container = new EditorContainer(parent);
    EditorViews& views = container->views;
    views.container = container;
    views.background = new EditorBackgroundView(container);
    views.text = new ScriptTextView(container);
    views.overlay = new OverlayView(container);
    views.overlay->raise(); // stacking follows creation: background, text, overlay
    return views;
}

EditorController::EditorController(std::shared_ptr<Project> project, ScriptTextView& textView,
                                   platform::Defaults& defaults, EditorTimers timers)
    : project_(std::move(project))
    , textView_(&textView)
    , defaults_(&defaults)
    , timers_(std::move(timers))
    , cachedProperties_(EditorAppearance::invalidated(DocumentScriptProperties::fromUserDefaults(defaults))) {
    assert(project_ && "an editor controller needs its project");
    if (!timers_.autosave) {
        timers_.autosave = makeQtOneShotTimer();
    }
    if (!timers_.settle) {
        timers_.settle = makeQtOneShotTimer();
    }
    if (!timers_.autosaveDeadline) {
        timers_.autosaveDeadline = makeQtOneShotTimer();
    }
    if (!timers_.scroll) {
        timers_.scroll = std::make_unique<KQTimer>(dispatch::mainQueue());
    }
    // Qt reports programmatic replacements too; the guard flag tells them apart.
    connections_ = {
        QObject::connect(textView_, &QTextEdit::textChanged, textView_, [this] { textDidChange(); }),
        // What the long edit starts from reaches the script now; nothing of it until it ends.
        QObject::connect(textView_, &ScriptTextView::longEditStarted, textView_,
                         [this] {
                             if (hasPendingEdit()) {
                                 autosave();
                             }
                         }),
        QObject::connect(textView_, &ScriptTextView::longEditEnded, textView_,
                         [this] { longEditEnding_ = true; }),
        QObject::connect(textView_, &QTextEdit::currentCharFormatChanged, textView_,
                         [this] { typingAttributesDidChange(); }),
        QObject::connect(textView_->verticalScrollBar(), &QScrollBar::valueChanged, textView_,
                         [this] { editorViewDidScroll(); }),
        QObject::connect(
            textView_->document(), &QTextDocument::contentsChange, textView_,
            [this](int position, int removed, int added) { noteTextChange(position, removed, added); }),
    };
}

EditorController::~EditorController() {
    for (const auto& connection : connections_) {
        QObject::disconnect(connection);
    }
    close();
}

void EditorController::setViews(EditorBackgroundView* background, OverlayView* overlay) {
    CW_DCHECK_MAIN_THREAD();
    background_ = background;
    overlay_ = overlay;
    if (background_) {
        background_->setDelegate(weak_from_this());
    }
}

void EditorController::load() {
    CW_DCHECK_MAIN_THREAD();
    project_->registerEventListener(shared_from_this());
    loaded_ = true;
    textView_->setKeyEventDelegate(this, defaults_);
    // The background view paints behind the text.
    textView_->setFrameShape(QFrame::NoFrame);
    textView_->viewport()->setAutoFillBackground(false);
    QPalette palette = textView_->palette();
    palette.setColor(QPalette::Base, Qt::transparent);
    textView_->setPalette(palette);
    platform::NotificationCenter::defaultCenter().addObserver(
        this, std::string(notifications::autoScrollSettingDidChange),
        [weak = weak_from_this()](const platform::Notification&) {
            if (auto self = weak.lock()) {
                self->updateAutoScrollTimer();
            }
        });

    // A long paste is shown smaller before Qt lays it out at the size of the short text.
    textView_->setInsertionGuard([weak = weak_from_this()](const EditorAppearance::TextAmount& after) {
        auto self = weak.lock();
        if (!self) {
            return std::optional<bool>(false);
        }
        if (!EditorAppearance::narrowestLineWidth(after)) {
            return std::optional<bool>(); // more lines than the view can lay out
        }
        self->amountPasted_ = after;
        if (self->showsWithinLayoutLimit(after)) {
            return std::optional<bool>(false);
        }
        const FlagScope restyling(self->ignoreTextChange_);
        self->applyColumn(self->project_->document().scriptProperties, /*widthChanged=*/true,
                          /*placeChanged=*/false, after);
        return std::optional<bool>(true);
    });
    applyTypingAttributes();
    loadDocumentText(Load::force);
    applyTypingAttributes();
    cachedProperties_ = EditorAppearance::invalidated(cachedProperties_);
    timers_.autosave->stop();
    timers_.autosaveDeadline->stop();
    projectEditorDidChange(*project_);
    setInset();
    // The caret to the start first: placing it scrolls it into view, which the transport position
    // then overrides.
    QTextCursor start = textView_->textCursor();
    start.setPosition(0);
    textView_->setTextCursor(start);
    scrollToTransportPosition(/*animated=*/false);
    timers_.settle->start(settleDelay, [weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->settle();
        }
    });
}

// Once the window has shown the views at their size: everything again, at the project's place.
void EditorController::settle() {
    if (!loaded_) {
        return;
    }
    if (piecewise_) {
        settleAfterLoad_ = true;
        return;
    }
    // Keys typed since the load have moved the caret: it stays there, so typing goes on in order.
    const QTextCursor caret = textView_->textCursor();
    applyTypingAttributes();
    loadDocumentText(Load::ifChanged);
    applyScriptProperties(Load::force);
    applyTypingAttributes();
    cachedProperties_ = EditorAppearance::invalidated(cachedProperties_);
    setInset();
    textView_->setTextCursor(caret);
    scrollToTransportPosition(/*animated=*/false);
}

void EditorController::close() {
    CW_DCHECK_MAIN_THREAD();
    if (!loaded_) {
        return;
    }
    project_->unregisterEventListener(this);
    platform::NotificationCenter::defaultCenter().removeObserver(this);
    timers_.scroll->stop();
    timers_.settle->stop();
    textView_->setInsertionGuard(nullptr);
    piecewise_.reset();
    if (textView_->keyEventDelegate() == this) {
        textView_->setKeyEventDelegate(nullptr, defaults_);
    }
    loaded_ = false;
}

struct EditorController::PiecewiseLoad {
    std::unique_ptr<TextInsertion> insertion;
    int generation = 0;
    PieceSize piece{minimumLoadPieceCharacters, loadPieceCharacters, loadPieceTime};
};

void EditorController::loadDocumentText(Load load) {
    CW_DCHECK_MAIN_THREAD();
    const platform::AttributedString& text = project_->document().text;
    QTextDocument& document = *textView_->document();
    // The view shows this text, restyled or edited since: a reload would undo neither.
    if (load == Load::ifChanged && text == shownText_) {
        return;
    }
    piecewise_.reset(); // a text still going in gives way to this one
    anchor_.reset();    // the project's text and position replace the view's
    standby_.reset();
    linesHeld_ = false;
    autosaveAfterCount_ = false;
    const auto amount = EditorAppearance::textAmount(text.string());
    if (!EditorAppearance::narrowestLineWidth(amount)) {
        holdBack(text);
        return;
    }
    if (heldBack_) {
        heldBack_ = false;
        textView_->setPlaceholderText({});
        projectEditorDidChange(*project_);
    }
    std::unique_ptr<TextInsertion> insertion;
    {
        const FlagScope ignoring(ignoreTextChange_);
        const FlagScope typing(ignoreTypingAttributes_);
        // At the editor's size and alignment from the start: restyling afterwards would lay
        // everything out twice.
        const DocumentScriptProperties properties = project_->document().scriptProperties;
        // A long script is shown smaller, and a short one that follows it at its own size again.
        if (load == Load::force || lineHeight_ <= 0 || shownSmaller_ || !showsWithinLayoutLimit(amount)) {
            placeColumn(properties, /*widthChanged=*/true, amount);
        }
        insertion = std::make_unique<TextInsertion>(document, text, lineHeight_,
                                                    qtAlignment(properties.textAlignment));
        const bool piecewise =
            text.string().size() >= piecewiseLoadCharacters || amount.paragraphs >= piecewiseLoadParagraphs;
        // The first piece small: how long its kind of text takes is not known yet.
        if (!insertion->insert(piecewise ? minimumLoadPieceCharacters : std::numeric_limits<int>::max())) {
            countLinesFrom(document, {}, textView_->lineCounting());
            amountGoingIn_ = amount; // the document holds only the first piece yet
        } else {
            insertion.reset();
        }
        shownText_ = text;
        applyScriptProperties(load);
        amountGoingIn_.reset();
    }
    if (insertion) {
        piecewise_ = std::make_unique<PiecewiseLoad>(PiecewiseLoad{std::move(insertion), ++loadGeneration_});
        projectEditorDidChange(*project_); // read-only until the whole text is in
        loadPieceLater(loadGeneration_);
        return;
    }
    markViewClean();
    publishLineMetrics();
}

void EditorController::holdBack(const platform::AttributedString& text) {
    {
        const FlagScope ignoring(ignoreTextChange_);
        const FlagScope typing(ignoreTypingAttributes_);
        textView_->document()->clear();
    }
    heldBack_ = true;
    // Its lines as the status bar counts those of a text shown, none wrapping: the count, the
    // running time and the bookmarks' lines go on as for any script.
    const LineMetrics lines = paragraphLines(text.string());
    textView_->setPlaceholderText(
        QCoreApplication::translate("EditorController",
                                    "This text has %1 lines, more than the editor can show. It is kept "
                                    "as it is, and saved whole.")
            .arg(QLocale().toString(lines.lineCount)));
    shownText_ = text;
    markViewClean();
    projectEditorDidChange(*project_);
    project_->setEditorLines(lines.lineCount, lines.lineRanges);
    if (lines.wordsPerLine) {
        project_->setAverageWordsPerLine(*lines.wordsPerLine);
    }
}

void EditorController::loadNextPiece(int generation) {
    if (!piecewise_ || piecewise_->generation != generation) {
        return; // closed, or another text took its place
    }
    QTextDocument& document = *textView_->document();
    const QTextBlock last = document.lastBlock();
    const auto started = std::chrono::steady_clock::now();
    bool done = false;
    {
        const FlagScope ignoring(ignoreTextChange_);
        const FlagScope typing(ignoreTypingAttributes_);
        done = piecewise_->insertion->insert(piecewise_->piece.characters());
    }
    // The lines are counted as they come: the whole table at the end finds them counted.
    countLinesFrom(document, last, textView_->lineCounting());
    piecewise_->piece.took(std::chrono::steady_clock::now() - started);
    if (done) {
        finishPiecewiseLoad();
    } else {
        loadPieceLater(generation);
    }
}

void EditorController::loadPieceLater(int generation) {
    QTimer::singleShot(0, textView_, [weak = weak_from_this(), generation] {
        if (auto self = weak.lock()) {
            self->loadNextPiece(generation);
        }
    });
}

void EditorController::finishPiecewiseLoad() {
    piecewise_.reset();
    markViewClean();
    projectEditorDidChange(*project_);
    publishLineMetrics();
    // The settling step applies the properties too: one pass over the whole text, not two.
    const bool properties = std::exchange(propertiesAfterLoad_, false);
    if (std::exchange(settleAfterLoad_, false)) {
        settle();
        return;
    }
    if (properties) {
        applyScriptProperties(Load::force);
    }
    scrollToTransportPosition(/*animated=*/false);
}

std::optional<double> EditorController::loadProgress() const {
    if (!piecewise_) {
        return std::nullopt;
    }
    const int length = piecewise_->insertion->length();
    return length > 0 ? double(piecewise_->insertion->inserted()) / length : 0.0;
}

void EditorController::textDidChange() {
    CW_DCHECK_MAIN_THREAD();
    const bool afterLongEdit = std::exchange(longEditEnding_, false);
    if (ignoreTextChange_ || textView_->isInLongEdit()) {
        return; // the load, or the long edit, publishes the metrics once it is done
    }
    // After a long edit the count starts in a turn of its own: the edit's end held this one long.
    publishLineMetricsSoon(/*countNow=*/!afterLongEdit);
    followTransportPosition();
    if (background_ && background_->lineHeight() != lineHeight_) {
        background_->setLineHeight(lineHeight_);
    }
    const auto autosaveLater = [weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->autosaveWhenCounted();
        }
    };
    timers_.autosave->start(autosaveInterval_, autosaveLater);
    if (!timers_.autosaveDeadline->isActive()) {
        timers_.autosaveDeadline->start(maxAutosaveWait, autosaveLater);
    }
}

void EditorController::autosave() {
    CW_DCHECK_MAIN_THREAD();
    if (!holdsWholeText() || textView_->isInLongEdit()) {
        // The view holds part of the project's text, which has the whole; or a long edit's half,
        // while the project keeps the text from before it for saves and recovery copies.
        return;
    }
    timers_.autosave->stop();
    timers_.autosaveDeadline->stop();
    autosaveAfterCount_ = false;
    // Undone back to the text loaded or saved: that text itself, which marks the script unedited.
    const QTextDocument& document = *textView_->document();
    shownText_ = document.isModified() ? attributedText(document) : cleanText_;
    std::optional<double> moveTo;
    if (anchor_) {
        anchor_->textBehind = false;
        if (!anchor_->linesBehind && hasLineTable()) {
            moveTo = anchoredProgress(textView_->lineMetrics());
            anchor_.reset();
        }
    }
    if (linesHeld_) {
        publishLineMetrics();
    }
    {
        const FlagScope moving(movingWithText_);
        project_->setText(shownText_, moveTo);
    }
    placeStandbyAnchor();
}

void EditorController::autosaveWhenCounted() {
    if (countingLines_ && anchor_ && anchor_->linesBehind) {
        // Handed over now, the prompters would lay the new text out at the old position.
        timers_.autosave->stop();
        timers_.autosaveDeadline->stop();
        autosaveAfterCount_ = true;
        return;
    }
    autosave();
}

void EditorController::placeStandbyAnchor() {
    const Editor& editor = project_->editor();
    // Only where the project's lines are the view's as they stand (not while an edit is on its way).
    if (anchor_ || !loaded_ || !holdsWholeText() || editor.lineRanges.empty() ||
        project_->linesRevision() != publishedLinesRevision_) {
        standby_.reset();
        return;
    }
    const double progress = project_->transportState().progress;
    const double inText = EditorScrolling::textPosition({editor.lineRanges, editor.lineCount}, progress);
    const double whole = std::floor(inText);
    const int last = std::max(0, textView_->document()->characterCount() - 1);
    // As PlainText::documentStart, without copying the cuts on every tick of a playing transport.
    const int cutsBefore = int(std::upper_bound(publishedCuts_.begin(), publishedCuts_.end(), int(whole)) -
                               publishedCuts_.begin());
    const int position = std::clamp(int(whole) + cutsBefore, 0, last);
    if (!standby_) {
        standby_ = TextAnchor{QTextCursor(textView_->document())};
    }
    standby_->character.setPosition(position);
    standby_->share = inText - whole;
    standby_->progress = progress;
    standby_->lineCount = editor.lineCount;
}

void EditorController::noteTextChange(int position, int removed, int added) {
    if (ignoreTextChange_) {
        return; // the controller's own loads (which set the anchor aside) and restyles
    }
    // A new look over the reading position (a font over the whole text) is the script's, not the
    // caret's: the editor shows the reading position in it, wherever selecting took the view.
    const std::optional<TextAnchor>& mark = anchor_ ? anchor_ : standby_;
    if (mark && removed == added && position <= mark->character.position() &&
        mark->character.position() < position + added) {
        atTransportPosition_ = true;
    }
    if (!anchor_) {
        if (!standby_) {
            return;
        }
        anchor_ = std::exchange(standby_, std::nullopt);
    }
    anchor_->linesBehind = true;
    anchor_->textBehind = true;
}

double EditorController::anchoredProgress(const LineMetrics& lines) const {
    const double at = EditorScrolling::progressAt({lines.lineRanges, lines.lineCount}, anchor_->position());
    // Played on since it was taken: as many lines on from the same words.
    const double played = (project_->transportState().progress - anchor_->progress) * anchor_->lineCount;
    return std::clamp(at + played / std::max(1, lines.lineCount), 0.0, 1.0);
}

double EditorController::shownProgress() const {
    if (anchor_ && !anchor_->linesBehind && hasLineTable()) {
        return anchoredProgress(textView_->lineMetrics());
    }
    return project_->transportState().progress;
}

void EditorController::followTransportPosition() {
    if (loaded_ && atTransportPosition_ && hasLineTable() &&
        defaults_->boolForKey(settings::syncTeleprompterWindowToEditorScrolling)) {
        scrollingItself([&] { scrollToTransportPosition(/*animated=*/false); });
    }
}

void EditorController::markViewClean() {
    textView_->document()->setModified(false);
    cleanText_ = shownText_;
}

bool EditorController::hasPendingEdit() const {
    return timers_.autosave->isActive() || autosaveAfterCount_;
}

bool EditorController::publishLineMetricsSoon(bool countNow) {
    CW_DCHECK_MAIN_THREAD();
    if (!holdsWholeText()) {
        return false;
    }
    if (countingLines_) {
        return false; // the parts go on from the first block not counted, wherever the text changed
    }
    countPart_.restart();
    if (countNow && countSomeLines(*textView_->document(), textView_->lineCounting(), countPart_.characters())) {
        return publishLineMetrics();
    }
    countingLines_ = true;
    countMoreLinesLater();
    return false;
}

void EditorController::countMoreLinesLater() {
    textView_->inTurnOfItsOwn(textView_, [weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->countMoreLines();
        }
    });
}

void EditorController::countMoreLines() {
    if (!countingLines_) {
        return;
    }
    if (!loaded_ || !holdsWholeText()) {
        countingLines_ = false; // a load publishes them itself
        publishNext_ = false;
        autosaveAfterCount_ = false;
        showPositionWhenCounted_ = false;
        afterCount_.clear(); // their lines were of the text before
        return;
    }
    const auto started = std::chrono::steady_clock::now();
    const bool done = countSomeLines(*textView_->document(), textView_->lineCounting(), countPart_.characters());
    countPart_.took(std::chrono::steady_clock::now() - started);
    // The publish, which maps every line to the script's text, takes a turn of its own.
    if (!done || !std::exchange(publishNext_, true)) {
        countMoreLinesLater();
        return;
    }
    countingLines_ = false;
    publishNext_ = false;
    publishLineMetrics();
    if (std::exchange(autosaveAfterCount_, false)) {
        autosave();
    }
    if (std::exchange(showPositionWhenCounted_, false)) {
        showTransportPositionAgain(); // another Words per Line: the same place on other lines
    }
    followTransportPosition();
    for (const auto& command : std::exchange(afterCount_, {})) {
        command();
    }
}

bool EditorController::publishLineMetrics() {
    CW_DCHECK_MAIN_THREAD();
    if (!holdsWholeText()) {
        return false; // published once the whole text is in
    }
    if (anchor_ && anchor_->textBehind) {
        // They go over with the text: the project never holds its old text and position with
        // the new lines, which would put the prompters' next step or the remote on other words.
        anchor_->linesBehind = false;
        linesHeld_ = true;
        return false;
    }
    linesHeld_ = false;
    const LineMetrics& metrics = textView_->lineMetrics();
    // Read before the listeners run: one of them may change the text, and the view's lines with it.
    const std::optional<double> wordsPerLine = metrics.wordsPerLine;
    // The project's lines are ranges of its text, which has no character where the view cut a
    // long run without a space.
    const std::vector<Editor::LineRange>* lineRanges = &metrics.lineRanges;
    std::vector<Editor::LineRange> textLines;
    if (PlainText plain{{}, characterlessCuts(*textView_->document())}; !plain.cuts.empty()) {
        textLines = metrics.lineRanges;
        for (Editor::LineRange& line : textLines) {
            line.range = plain.textRange(line.range);
        }
        lineRanges = &textLines;
        publishedCuts_ = std::move(plain.cuts);
    } else {
        publishedCuts_.clear();
    }
    const Editor& editor = project_->editor();
    const bool changed = editor.lineCount != metrics.lineCount || editor.lineRanges != *lineRanges;
    std::optional<double> moveTo;
    if (anchor_) {
        anchor_->linesBehind = false;
        if (!anchor_->textBehind) { // the project has the text: the lines come last
            moveTo = anchoredProgress(metrics);
            anchor_.reset();
        }
    }
    if (changed) {
        const FlagScope moving(movingWithText_);
        project_->setEditorLines(metrics.lineCount, *lineRanges, moveTo);
    }
    publishedLinesRevision_ = project_->linesRevision();
    placeStandbyAnchor();
    if (wordsPerLine) {
        project_->setAverageWordsPerLine(*wordsPerLine);
    }
    return changed;
}

void EditorController::projectTextDidChange(Project&) {
    CW_DCHECK_MAIN_THREAD();
    // After our own autosave the texts are equal and nothing happens.
    loadDocumentText(Load::ifChanged);
}

void EditorController::projectTransportStateDidChange(Project&) {
    CW_DCHECK_MAIN_THREAD();
    placeStandbyAnchor();
}

void EditorController::projectWillSave(Project&) {
    CW_DCHECK_MAIN_THREAD();
    if (hasPendingEdit()) {
        autosave();
    }
}

void EditorController::projectDidSave(Project&) {
    CW_DCHECK_MAIN_THREAD();
    // Saved as the view shows it, with no edit since: an undo back to here is unedited again.
    if (holdsWholeText() && !textView_->isInLongEdit() && !hasPendingEdit() &&
        !project_->hasUnsavedChanges() && project_->document().text == shownText_) {
        markViewClean();
    }
}

void EditorController::projectWillGatherBookmarks(Project&) {
    CW_DCHECK_MAIN_THREAD();
    // The line table published with the edit belongs to the view's text, not yet the project's.
    if (hasPendingEdit()) {
        autosave();
    }
}

void EditorController::projectEditorDidChange(Project&) {
    CW_DCHECK_MAIN_THREAD();
    const bool locked = project_->editor().isLocked || !holdsWholeText();
    if (textView_->isLocked() != locked) {
        textView_->setLocked(locked); // a long edit holds the text read-only until it ends
    }
}

void EditorController::projectDidStartPlayback(Project&) {
    CW_DCHECK_MAIN_THREAD();
    setLockedForPrompting(true);
    if (defaults_->boolForKey(settings::autospawnPrompterWindow) && showPrompter_) {
        showPrompter_();
    }
    updateAutoScrollTimer();
}

void EditorController::projectDidStopPlayback(Project&) {
    CW_DCHECK_MAIN_THREAD();
    setLockedForPrompting(false);
    timers_.scroll->stop();
    if (defaults_->boolForKey(settings::scrollEditorToStopPosition)) {
        scrollingItself([&] { scrollToTransportPosition(/*animated=*/false); });
    }
}

void EditorController::setLockedForPrompting(bool locked) {
    if (!defaults_->boolForKey(settings::lockEditorDuringPrompting) ||
        project_->editor().isLocked == locked) {
        return;
    }
    Editor editor = project_->editor();
    editor.isLocked = locked;
    project_->setEditor(std::move(editor)); // the editor-change notification sets the view
}

// --- Appearance --------------------------------------------------------------------------

void EditorController::applyTypingAttributes() {
    const FlagScope typing(ignoreTypingAttributes_);
    platform::Attributes attributes;
    const platform::Font font = defaultFont(*defaults_);
    attributes.font = lineHeight_ > 0 ? font.withPointSize(lineHeight_) : font;
    attributes.foregroundColor = defaultTextColor(*defaults_);
    // Text without a colour of its own shows in the script's text colour, as in the prompter (the
    // insertion point takes it too).
    QPalette palette = textView_->palette();
    palette.setColor(QPalette::Text, attributes.foregroundColor->toQColor());
    palette.setColor(QPalette::PlaceholderText, attributes.foregroundColor->toQColor()); // held back
    textView_->setPalette(palette);
    const QTextCharFormat format = editorFormat(attributes);
    textView_->setTypingLook(format);
    if (!textView_->textCursor().hasSelection()) {
        textView_->setCurrentCharFormat(format);
    }
}

QTextCharFormat EditorController::editorFormat(platform::Attributes attributes) const {
    // The size is the document's, the same for every run; the exact font kept beside the shown
    // one says so too, so that the text hands the font back unchanged.
    if (attributes.font && lineHeight_ > 0) {
        attributes.font = attributes.font->withPointSize(lineHeight_);
    }
    return EditorAppearance::unsized(toTextCharFormat(attributes));
}

double EditorController::viewHeight() const {
    return background_ ? background_->height() : textView_->height();
}

void EditorController::setInset() {
    const float position = project_->document().scriptProperties.indicatorPosition;
    textView_->setTopInset(EditorAppearance::textContainerInset(viewHeight(), position).height());
}

void EditorController::applyScriptProperties(Load load) {
    CW_DCHECK_MAIN_THREAD();
    if (piecewise_) {
        // A restyle now would lay out again what is in so far: the column only keeps its place
        // in a resized window until the whole text is in.
        propertiesAfterLoad_ = true;
        placeColumn(project_->document().scriptProperties, /*widthChanged=*/false, {});
        return;
    }
    const DocumentScriptProperties properties = project_->document().scriptProperties;
    const bool force = load == Load::force;
    // A restyle is never an edit: it starts no autosave wait and the project's text stays as it is.
    const bool nested = ignoreTextChange_;
    const FlagScope restyling(ignoreTextChange_);
    {
        const FlagScope typing(ignoreTypingAttributes_);
        textView_->setParagraphAlignment(qtAlignment(properties.textAlignment));
    }
    if (background_) {
        background_->applyScriptProperties(properties);
    }
    if (textView_->topInset() !=
        EditorAppearance::textContainerInset(viewHeight(), properties.indicatorPosition).height()) {
        setInset();
    }
    const auto changes = EditorAppearance::changes(properties, cachedProperties_, force);
    const int width = textView_->width();
    const double size = lineHeight_;
    applyColumn(properties, changes.column, changes.alignment);
    if (background_ && background_->lineHeight() != lineHeight_) {
        background_->setLineHeight(lineHeight_);
    }
    if (overlay_) {
        EditorAppearance::applyScriptProperties(*overlay_, properties, lineHeight_);
    }
    cachedProperties_ = properties;
    textView_->setMirroring(properties.flipHorizontal, properties.flipVertical);
    // A new width or font size lays the lines out anew; a load publishes them itself.
    if (!nested && (textView_->width() != width || lineHeight_ != size)) {
        publishLineMetricsSoon();
    }
}

void EditorController::placeColumn(const DocumentScriptProperties& properties, bool widthChanged,
                                   const EditorAppearance::TextAmount& amount) {
    // Moving the text view must not come back as a layout of the background.
    if (background_) {
        const bool ignoring = background_->ignoreDelegate();
        background_->setIgnoreDelegate(true);
        const QRect frame = background_->geometry();
        const auto column = EditorAppearance::textColumn(frame.width(), properties.prompterMargin,
                                                         properties.prompterMarginAlignment);
        const double width = widthChanged ? column.width : textView_->width();
        const double x = EditorAppearance::columnX(frame.width(), width, properties.prompterMarginAlignment,
                                                   properties.flipHorizontal);
        textView_->setGeometry(frame.x() + int(std::lround(x)), frame.y(), int(std::lround(width)),
                               frame.height());
        background_->setIgnoreDelegate(ignoring);
    }
    if (widthChanged) {
        const double width = textView_->containerWidth();
        const double padding = textView_->document()->documentMargin();
        const double size =
            EditorAppearance::fontSizeForColumn(width, padding, properties.prompterWordCountFactor);
        // Laid out at the prompter's size a long script could pass the height Qt's layout can
        // reach: it is shown smaller, its lines counted as ever; in a thin column, wider too.
        const double narrowest = EditorAppearance::narrowestLineWidth(amount).value_or(0);
        textView_->setWrapWidthFloor(narrowest > width - 2 * padding ? narrowest + 2 * padding : 0);
        lineHeight_ = EditorAppearance::shownFontSize(size, std::max(width - 2 * padding, narrowest), amount);
        shownSmaller_ = lineHeight_ < size;
        textView_->setLineCounting(
            EditorAppearance::lineCounting(lineHeight_, properties.prompterWordCountFactor));
    }
}

bool EditorController::showsWithinLayoutLimit(const EditorAppearance::TextAmount& amount) const {
    // At the smallest size too: a thin column then lays the text out wider.
    const double lineWidth = std::max(textView_->containerWidth(), textView_->wrapWidthFloor()) -
                             2 * textView_->document()->documentMargin();
    return EditorAppearance::fitsLayout(amount, lineHeight_, lineWidth);
}

void EditorController::applyColumn(const DocumentScriptProperties& properties, bool widthChanged,
                                   bool placeChanged, std::optional<EditorAppearance::TextAmount> amount) {
    if (!widthChanged && !placeChanged) {
        return;
    }
    if (!amount) {
        amount = amountGoingIn_                             ? *amountGoingIn_
                 : textView_->isPasting() && amountPasted_ ? *amountPasted_
                                                           : EditorAppearance::textAmount(*textView_->document());
    }
    placeColumn(properties, widthChanged, *amount);
    if (!widthChanged) {
        return;
    }
    textView_->setFontSize(lineHeight_);
    if (project_->editor().lineHeight != lineHeight_) {
        Editor editor = project_->editor();
        editor.lineHeight = lineHeight_;
        project_->setEditor(std::move(editor));
    }
}

void EditorController::editorBackgroundViewDidLayout(EditorBackgroundView&) {
    CW_DCHECK_MAIN_THREAD();
    const int width = textView_->width();
    const double size = lineHeight_;
    applyScriptProperties(Load::force);
    setInset();
    // Only a new width lays the text out anew; a view that just grew shorter or taller (a notice
    // line shown) keeps the text at the reading position where it was.
    if (textView_->width() != width || lineHeight_ != size) {
        showTransportPositionAgain();
    }
}

void EditorController::projectScriptPropertiesDidChange(Project&) {
    CW_DCHECK_MAIN_THREAD();
    const FlagScope ignoring(ignoreTextChange_);
    const QRect frame = textView_->geometry();
    const double inset = textView_->topInset();
    const double size = lineHeight_;
    applyScriptProperties(Load::ifChanged);
    // Another word count factor may count other lines at the same font size (the size's floor):
    // a long text's are counted in parts and published at the end, as are lines being counted. A
    // count this starts is of other lines (those counted as they were are read at once).
    const bool wasCounting = countingLines_;
    const bool linesChanged = publishLineMetricsSoon();
    showPositionWhenCounted_ = showPositionWhenCounted_ || (countingLines_ && !wasCounting);
    if (textView_->geometry() != frame || textView_->topInset() != inset || lineHeight_ != size ||
        linesChanged) {
        showTransportPositionAgain();
    }
}

void EditorController::showTransportPositionAgain() {
    if (!loaded_) {
        return;
    }
    scrollingItself([&] { scrollToTransportPosition(/*animated=*/false); });
    // Qt may lay the text out again once the new geometry has settled: once more after that.
    QTimer::singleShot(0, textView_, [weak = weak_from_this()] {
        if (auto self = weak.lock(); self && self->loaded_) {
            self->scrollingItself([&] { self->scrollToTransportPosition(/*animated=*/false); });
        }
    });
}

// --- Typing attributes, font and colour ----------------------------------------------------

// Whether two fonts look alike: their sizes, which are the document's anyway, may differ by what a
// trip through QFont rounds.
static bool looksAlike(const platform::Font& one, const platform::Font& other) {
    return one.withPointSize(other.pointSize) == other && qFuzzyCompare(one.pointSize, other.pointSize);
}

void EditorController::typingAttributesDidChange() {
    if (ignoreTypingAttributes_ || !loaded_) {
        return;
    }
    const platform::Attributes attributes =
        fromTextCharFormat(shownCharFormat(*textView_->document(), textView_->currentCharFormat()));
    Editor editor = project_->editor();
    editor.typingAttributes.font = attributes.font.value_or(defaultFont(*defaults_));
    editor.typingAttributes.textColor = attributes.foregroundColor.value_or(defaultTextColor(*defaults_));
    if (editor.typingAttributes == project_->editor().typingAttributes) {
        return;
    }
    // The project's echo must not restyle the selection with what it just read from it.
    const FlagScope typing(ignoreTypingAttributes_);
    project_->setEditor(std::move(editor));
}

void EditorController::projectTypingAttributesDidChange(Project&) {
    CW_DCHECK_MAIN_THREAD();
    if (ignoreTypingAttributes_ || !holdsWholeText()) {
        return;
    }
    const FlagScope typing(ignoreTypingAttributes_);
    const auto& typingAttributes = project_->editor().typingAttributes;
    platform::Attributes font;
    font.font = typingAttributes.font;
    QTextCursor selection = textView_->textCursor();
    if (!selection.hasSelection()) {
        platform::Attributes attributes = font;
        attributes.foregroundColor = typingAttributes.textColor;
        textView_->mergeCurrentCharFormat(editorFormat(attributes));
        return;
    }
    // Over a selection a new font changes the selection's fonts, as a font panel's change does,
    // and nothing else: its colours stay.
    const auto shown =
        fromTextCharFormat(shownCharFormat(*textView_->document(), textView_->currentCharFormat()));
    if (shown.font && !looksAlike(*shown.font, typingAttributes.font)) {
        convertSelectionFonts(selection, *shown.font, typingAttributes.font);
    } else if (!shown.font) {
        selection.mergeCharFormat(editorFormat(font));
    }
}

void EditorController::convertSelectionFonts(const QTextCursor& selection, const platform::Font& from,
                                             const platform::Font& to) {
    // Each run keeps what the new font does not change against the old: bold, italic, underline.
    const auto convert = [&](platform::Font font) {
        if (to.family != from.family) {
            font.family = to.family;
        }
        if (to.bold != from.bold) {
            font.bold = to.bold;
        }
        if (to.italic != from.italic) {
            font.italic = to.italic;
        }
        return font;
    };
    restyleRuns(QCoreApplication::translate("EditorController", "Font"), selectedRuns(selection),
                [&](const QTextCharFormat& format) {
                    return withFont(format, convert(shownAttributes(format).font.value_or(from)));
                });
}

platform::Attributes EditorController::shownAttributes(const QTextCharFormat& format) const {
    return fromTextCharFormat(shownCharFormat(*textView_->document(), format));
}

QTextCharFormat EditorController::withFont(const QTextCharFormat& format, const platform::Font& font) const {
    platform::Attributes attributes;
    attributes.font = font;
    QTextCharFormat fontFormat = editorFormat(attributes);
    // A font's own underline and strike-out flags are not the run's: those stay.
    for (int property : {int(QTextFormat::TextUnderlineStyle), int(QTextFormat::FontUnderline),
                         int(QTextFormat::FontOverline), int(QTextFormat::FontStrikeOut)}) {
        fontFormat.clearProperty(property);
    }
    QTextCharFormat restyled = format;
    restyled.merge(fontFormat);
    return restyled;
}

std::vector<EditorController::Run> EditorController::selectedRuns(const QTextCursor& selection) const {
    const int start = selection.selectionStart();
    const int end = selection.selectionEnd();
    const QTextDocument& document = *textView_->document();
    std::vector<Run> runs;
    for (QTextBlock block = document.findBlock(start); block.isValid() && block.position() < end;
         block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const int runStart = std::max(fragment.position(), start);
            const int runEnd = std::min(fragment.position() + fragment.length(), end);
            if (runStart < runEnd) {
                runs.push_back({{runStart, runEnd - runStart}, fragment.charFormat()});
            }
        }
    }
    return runs;
}

void EditorController::restyleRuns(const QString& stepName, const std::vector<Run>& runs,
                                   const std::function<QTextCharFormat(const QTextCharFormat&)>& restyle) {
    textView_->namedEdit(stepName, [&](QTextCursor& cursor) {
        for (const Run& run : runs) {
            cursor.setPosition(run.range.location);
            cursor.setPosition(run.range.end(), QTextCursor::KeepAnchor);
            cursor.setCharFormat(restyle(run.format));
        }
    });
}

bool EditorController::canStyleText() const {
    return loaded_ && holdsWholeText() && !textView_->isReadOnly();
}

void EditorController::toggleTrait(TextTrait trait) {
    CW_DCHECK_MAIN_THREAD();
    if (!canStyleText()) {
        return;
    }
    namespace U = platform::UnderlineStyle;
    const auto has = [&](const QTextCharFormat& format) {
        const platform::Attributes shown = shownAttributes(format);
        switch (trait) {
        case TextTrait::bold:
            return shown.font && shown.font->bold;
        case TextTrait::italic:
            return shown.font && shown.font->italic;
        case TextTrait::underline:
            return shown.underlineStyle.value_or(U::none) != U::none;
        }
        return false;
    };
    const auto restyled = [&](const QTextCharFormat& format, bool on) {
        if (trait == TextTrait::underline) {
            QTextCharFormat underlined = format;
            for (int property : {int(QTextFormat::TextUnderlineStyle), int(QTextFormat::FontUnderline),
                                 int(TextProperty::underlineStyle)}) {
                underlined.clearProperty(property);
            }
            if (on) {
                platform::Attributes attributes;
                attributes.underlineStyle = U::single;
                underlined.merge(toTextCharFormat(attributes));
            }
            return underlined;
        }
        platform::Font font = shownAttributes(format).font.value_or(project_->editor().typingAttributes.font);
        (trait == TextTrait::bold ? font.bold : font.italic) = on;
        return withFont(format, font);
    };
    const QTextCursor selection = textView_->textCursor();
    if (!selection.hasSelection()) {
        const QTextCharFormat typing = textView_->currentCharFormat();
        textView_->setCurrentCharFormat(restyled(typing, !has(typing)));
        return;
    }
    static constexpr const char* names[] = {QT_TRANSLATE_NOOP("EditorController", "Bold"),
                                            QT_TRANSLATE_NOOP("EditorController", "Italic"),
                                            QT_TRANSLATE_NOOP("EditorController", "Underline")};
    const std::vector<Run> runs = selectedRuns(selection);
    const bool on = !std::all_of(runs.begin(), runs.end(), [&](const Run& run) { return has(run.format); });
    restyleRuns(QCoreApplication::translate("EditorController", names[static_cast<int>(trait)]), runs,
                [&](const QTextCharFormat& format) { return restyled(format, on); });
}

// Whether two characters' attributes are the same to the project, their fonts' sizes as looksAlike.
static bool readsAlike(platform::Attributes one, const platform::Attributes& other) {
    if (one.font && other.font && looksAlike(*one.font, *other.font)) {
        one.font = other.font;
    }
    return one == other;
}

// Whether merging `format` into the selection would change any of its characters as the project
// reads them. A format's own properties may differ where the text does not: a script as opened
// keeps each font at its size in the file beside the one shown at the editor's size, and reads
// as the shown one all the same.
static bool changesFormat(const QTextCursor& selection, const QTextCharFormat& format) {
    const QTextDocument& document = *selection.document();
    const int start = selection.selectionStart();
    const int end = selection.selectionEnd();
    QSet<int> same; // the indexes of formats found unchanged: a script has few formats, many runs
    for (QTextBlock block = document.findBlock(start); block.isValid() && block.position() < end;
         block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (fragment.position() >= end || fragment.position() + fragment.length() <= start ||
                same.contains(fragment.charFormatIndex())) {
                continue;
            }
            const QTextCharFormat has = fragment.charFormat();
            QTextCharFormat merged = has;
            merged.merge(format);
            if (!readsAlike(fromTextCharFormat(shownCharFormat(document, has)),
                            fromTextCharFormat(shownCharFormat(document, merged)))) {
                return true;
            }
            same.insert(fragment.charFormatIndex());
        }
    }
    return false;
}

void EditorController::projectFontDidChange(Project&, const platform::Font& font) {
    CW_DCHECK_MAIN_THREAD();
    QTextCursor selection = textView_->textCursor();
    if (!selection.hasSelection() || !holdsWholeText()) {
        return; // an empty selection changes nothing in the text; a text going in stays as it is
    }
    const FlagScope typing(ignoreTypingAttributes_);
    // An edit of the text like any other font change (a Reset beside Font among them): the line
    // metrics, the autosave and, through it, the prompters and the recovery copy follow.
    platform::Attributes attributes;
    attributes.font = font;
    const QTextCharFormat format = editorFormat(attributes);
    if (!changesFormat(selection, format)) {
        return; // Reset on text already in the default font: no edit to mark
    }
    selection.mergeCharFormat(format);
}

void EditorController::projectTextColorDidChange(Project&, const platform::Color& color) {
    CW_DCHECK_MAIN_THREAD();
    if (textView_->isReadOnly()) {
        return;
    }
    const FlagScope typing(ignoreTypingAttributes_);
    // The selection, or the whole text when nothing is selected; the selection stays as it was.
    QTextCursor range = textView_->textCursor();
    if (!range.hasSelection()) {
        range.select(QTextCursor::Document);
    }
    platform::Attributes attributes;
    attributes.foregroundColor = color;
    range.mergeCharFormat(toTextCharFormat(attributes)); // a text change: the autosave follows
}

// --- Scrolling -----------------------------------------------------------------------------

template <typename Step> void EditorController::scrollingItself(Step step) {
    const FlagScope ignoring(ignoreScroll_);
    step();
}

bool EditorController::hasLineTable() const {
    return holdsWholeText() && !textView_->isInLongEdit() && !countingLines_;
}

void EditorController::scrollToTransportPosition(bool animated) {
    CW_DCHECK_MAIN_THREAD();
    const double progress = project_->transportState().progress;
    if (!holdsWholeText()) { // part of a long text: no line table yet
        textView_->scrollToOffset(EditorScrolling::scrollOffset(progress, textView_->usedHeight()), animated);
        atTransportPosition_ = true;
        return;
    }
    if (!hasLineTable()) {
        return; // the view stays where it is until the lines are counted
    }
    const LineMetrics& lines = textView_->lineMetrics();
    textView_->scrollToOffset(EditorScrolling::scrollOffset(*textView_->document(),
                                                            {lines.lineRanges, lines.lineCount},
                                                            shownProgress()),
                              animated);
    atTransportPosition_ = true;
}

void EditorController::editorViewDidScroll() {
    const bool wheel = textView_->isWheelScrolling();
    if (!ignoreScroll_ && !textView_->isAnimatingScroll()) {
        // The caret's or the scroll bar's place, unless the wheel moves the transport with it.
        atTransportPosition_ = false;
    }
    const TransportState transport = project_->transportState();
    const EditorScrolling::ScrollEvent event{
        freezeScroll_,
        defaults_->boolForKey(settings::syncTeleprompterWindowToEditorScrolling),
        wheel,
        /*sameWindow=*/wheel, // the wheel turned over this very view
        ignoreScroll_,
        transport.isPlaying(),
        /*hasScrollView=*/true};
    if (!loaded_ || !hasLineTable() || !EditorScrolling::movesProgress(event)) {
        return;
    }
    const LineMetrics& lines = textView_->lineMetrics();
    const double progress =
        EditorScrolling::progress(*textView_->document(), {lines.lineRanges, lines.lineCount},
                                  textView_->scrollOffset())
            .value_or(transport.progress);
    scrollingItself([&] { project_->setProgress(progress, /*animated=*/false, /*immediate=*/false); });
    atTransportPosition_ = true;
}

void EditorController::projectPositionDidJump(Project&, bool animated, bool) {
    CW_DCHECK_MAIN_THREAD();
    if (!movingWithText_ && anchor_) {
        anchor_.reset(); // moved elsewhere: the project's new position stands
        placeStandbyAnchor();
    }
    if (ignoreScroll_ || !defaults_->boolForKey(settings::syncTeleprompterWindowToEditorScrolling)) {
        return;
    }
    if (movingWithText_ && !atTransportPosition_) {
        return; // the same words: a view scrolled elsewhere (to the caret) stays there
    }
    scrollingItself([&] { scrollToTransportPosition(animated); });
}

void EditorController::projectSeekDidStep(Project&, double, double, double) {
    CW_DCHECK_MAIN_THREAD();
    anchor_.reset();
    if (!ignoreScroll_) {
        scrollingItself([&] { scrollToTransportPosition(/*animated=*/true); });
    }
}

void EditorController::updateAutoScrollTimer() {
    CW_DCHECK_MAIN_THREAD();
    if (!loaded_ || !project_->transportState().isPlaying() ||
        !defaults_->boolForKey(settings::autoscrollEditorDuringPrompting)) {
        timers_.scroll->stop();
        return;
    }
    timers_.scroll->start(autoScrollInterval, [weak = weak_from_this()](double) {
        if (auto self = weak.lock()) {
            self->scrollingItself([&] { self->scrollToTransportPosition(/*animated=*/true); });
        }
    });
}

} // namespace cw::editor
