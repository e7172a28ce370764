#include "cuewright/editor/ScriptTextView.h"

#include "cuewright/editor/ClipboardText.h"
#include "cuewright/editor/EditorAppearance.h"
#include "cuewright/editor/PasteRules.h"
#include "cuewright/editor/PieceSize.h"
#include "cuewright/editor/ProgressWindow.h"
#include "cuewright/editor/TextBridge.h"
#include "platform/text/Font.h"
#include "platform/text/RtfReader.h"
#include "platform/text/RtfWriter.h"
#include "platform/ui/AlertRunner.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLocale>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPointer>
#include <QScopeGuard>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QVariantAnimation>

#include <algorithm>
#include <cmath>
#include <limits>

namespace cw::editor {

static const QString kRtfTypes[] = {QStringLiteral("text/rtf"), QStringLiteral("application/rtf")};

ScriptTextView::ScriptTextView(QWidget* parent)
    : QTextEdit(parent) {
    setAcceptRichText(true);
    // The inset keeps the scroll range open at both ends, so the bar is always of use.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    turnTimer_ = new QTimer(this);
    turnTimer_->setSingleShot(true);
    turnTimer_->setInterval(0);
    connect(turnTimer_, &QTimer::timeout, this, &ScriptTextView::runNextTurnStep);
    connect(document(), &QTextDocument::undoCommandAdded, this, &ScriptTextView::undoStepAdded);
    // The caret blinks by a timer of the object that holds the document (see caretWaitsForLayout).
    if (QObject* caret = document()->parent(); caret && caret != this) {
        caret->installEventFilter(this);
    }
    connect(document(), &QTextDocument::contentsChange, this, [this] { countedLines_.reset(); });
    connect(verticalScrollBar(), &QScrollBar::rangeChanged, this, &ScriptTextView::keepInsetInScrollRange);
    connect(document()->documentLayout(), &QAbstractTextDocumentLayout::documentSizeChanged, this,
            [this](const QSizeF& size) {
                laidOutHeight_ = size.height();
                if (const int maximum = textMaximum(qtMaximum_); maximum != qtMaximum_) {
                    qtMaximum_ = maximum;
                    applyScrollRange();
                }
            });
    // A block's break may stand for another character (a CR, the space a long paragraph was cut
    // at) or for none: typing in an empty block takes the break's format, but not what it stands for.
    connect(this, &QTextEdit::currentCharFormatChanged, this, [this](const QTextCharFormat& format) {
        if ((format.hasProperty(TextProperty::separator) || format.hasProperty(TextProperty::cut)) &&
            !textCursor().hasSelection()) {
            QTextCharFormat own = format;
            own.clearProperty(TextProperty::separator);
            own.clearProperty(TextProperty::cut);
            setCurrentCharFormat(own);
        }
    });
    keepPageHeight();
}

void ScriptTextView::keepPageHeight() {
    QTextDocument& text = *document();
    if (text.pageSize().height() != pageHeight) {
        text.setPageSize(QSizeF(text.pageSize().width(), pageHeight));
    }
}

void ScriptTextView::resizeEvent(QResizeEvent* event) {
    if (event->size().width() != event->oldSize().width()) {
        layOutInParts(); // first: Qt's range follows the new layout at once
    }
    QTextEdit::resizeEvent(event); // sets the page's width, without a height
    applyWrapWidth();
}

void ScriptTextView::layOutInParts() {
    const bool going = layoutReach_ >= 0;
    layoutReach_ = 0;
    if (!going) {
        inTurnOfItsOwn(this, [this] { layOutNextParts(); });
    }
}

void ScriptTextView::inTurnOfItsOwn(QObject* context, std::function<void()> step) {
    turnSteps_.emplace_back(context, std::move(step));
    if (!turnTimer_->isActive()) {
        turnTimer_->start(); // a zero timer fires once a turn
    }
}

void ScriptTextView::runNextTurnStep() {
    while (!turnSteps_.empty()) {
        auto [context, step] = std::move(turnSteps_.front());
        turnSteps_.pop_front();
        if (!turnSteps_.empty()) {
            turnTimer_->start();
        }
        if (context) {
            step();
            return;
        }
    }
}

void ScriptTextView::layOutNextParts() {
    if (layoutReach_ < 0) {
        return;
    }
    QTextDocument& text = *document();
    const auto started = std::chrono::steady_clock::now();
    do {
        // Qt lays its lazy layout out up to the block asked for; what is laid out already costs nothing.
        const int end = text.characterCount() - 1;
        const QTextBlock block = text.findBlock(std::min(layoutReach_ + layoutPartCharacters, end));
        if (!block.isValid()) {
            layoutDone();
            return;
        }
        text.documentLayout()->blockBoundingRect(block);
        layoutReach_ = block.position() + block.length();
        if (layoutReach_ > end) {
            layoutDone();
            return;
        }
    } while (std::chrono::steady_clock::now() - started < layoutTurnTime);
    inTurnOfItsOwn(this, [this] { layOutNextParts(); });
}

void ScriptTextView::layoutDone() {
    layoutReach_ = -1;
    if (const auto focus = std::exchange(focusAfterLayout_, std::nullopt)) {
        QFocusEvent event(focus->first, focus->second);
        if (focus->first == QEvent::FocusIn) {
            QTextEdit::focusInEvent(&event);
        } else {
            QTextEdit::focusOutEvent(&event);
        }
    }
}

bool ScriptTextView::caretWaitsForLayout(const QFocusEvent& event) {
    if (!isLayingOutInParts()) {
        return false;
    }
    if (focusAfterLayout_ && focusAfterLayout_->first != event.type()) {
        focusAfterLayout_.reset(); // back to the focus Qt knows of
    } else {
        focusAfterLayout_.emplace(event.type(), event.reason());
    }
    return true;
}

bool ScriptTextView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Timer && isLayingOutInParts() && watched == document()->parent()) {
        return true; // a blink: the timer goes on, and so does the caret once the text is laid out
    }
    return QTextEdit::eventFilter(watched, event);
}

void ScriptTextView::setWrapWidthFloor(double width) {
    if (width != wrapWidthFloor_) {
        wrapWidthFloor_ = width;
        applyWrapWidth();
    }
}

void ScriptTextView::applyWrapWidth() {
    const int floor = int(std::ceil(wrapWidthFloor_));
    if (floor > viewport()->width()) {
        if (lineWrapMode() != FixedPixelWidth || lineWrapColumnOrWidth() != floor) {
            setLineWrapColumnOrWidth(floor);
            setLineWrapMode(FixedPixelWidth);
            setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        }
    } else if (lineWrapMode() != WidgetWidth) {
        setLineWrapMode(WidgetWidth);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    }
    keepPageHeight();
}

// A key that types characters rather than moving, deleting or commanding.
static bool typesText(const QKeyEvent& event) {
    const QString text = event.text();
    if (text.isEmpty() || (event.modifiers() & (Qt::ControlModifier | Qt::MetaModifier))) {
        return false;
    }
    return text.at(0).isPrint() || text.at(0) == u'\t';
}

bool ScriptTextView::typeWithScriptLook(const QString& text) {
    if (isReadOnly()) {
        return false;
    }
    QTextCursor cursor = textCursor();
    const QTextCharFormat current = cursor.charFormat();
    QTextCharFormat format = current;
    format.clearProperty(TextProperty::bookmark);
    // Qt's own default (a small grey font) where the text names no font or no colour: after
    // deleting everything, on a new first line.
    const bool needsFont = !format.hasProperty(QTextFormat::FontFamilies);
    const bool needsColour = !format.hasProperty(QTextFormat::ForegroundBrush);
    const auto look = typingLook_.properties();
    for (auto it = look.cbegin(); it != look.cend(); ++it) {
        const bool colour =
            it.key() == QTextFormat::ForegroundBrush || it.key() == TextProperty::foregroundColor;
        if ((colour ? needsColour : needsFont) && !format.hasProperty(it.key())) {
            format.setProperty(it.key(), it.value());
        }
    }
    if (format == current) {
        return false;
    }
    if (!cursor.hasSelection()) {
        setCurrentCharFormat(format); // only the typing format: the text keeps its bookmark
        return false;
    }
    // Over a selection Qt would take the format of the character before the insertion point.
    cursor.insertText(text, format);
    setTextCursor(cursor);
    return true;
}

void ScriptTextView::keyPressEvent(QKeyEvent* event) {
    if (routeKeyEvent(*event) || runTextCommand(*event)) {
        event->accept();
        return;
    }
    if (typesText(*event)) {
        typeWithinLimits(event->text(), [&] {
            if (typeWithScriptLook(event->text())) {
                event->accept();
            } else {
                QTextEdit::keyPressEvent(event);
            }
        });
        return;
    }
    if (event->matches(QKeySequence::InsertLineSeparator)) {
        typeWithinLimits(QString(QChar::LineSeparator), [&] { QTextEdit::keyPressEvent(event); });
        return;
    }
    if (deleteOverCut(*event) || deleteWordOverCut(*event)) {
        event->accept();
        return;
    }
    using SK = QKeySequence;
    const bool back = event->matches(SK::Backspace) || event->key() == Qt::Key_Backspace ||
                      event->matches(SK::DeleteStartOfWord);
    const bool forward = event->matches(SK::Delete) || event->matches(SK::DeleteEndOfWord);
    // A selection, or a key at a block's edge, joins two blocks.
    const QTextCursor at = textCursor();
    const int from = at.hasSelection() ? at.selectionStart() : at.position() - (back && at.atBlockStart());
    const int to = at.hasSelection() ? at.selectionEnd() : at.position() + (forward && at.atBlockEnd());
    if (!isReadOnly() && (back || forward || event->matches(SK::InsertParagraphSeparator)) &&
        joiningChangesReading(*document(), from, to)) {
        QTextCursor step = at;
        step.beginEditBlock();
        splitBeforeJoining(*document(), from, to);
        QTextEdit::keyPressEvent(event);
        step.endEditBlock();
        return;
    }
    const int before = textCursor().position();
    QTextEdit::keyPressEvent(event);
    moveOverCut(*event, before);
}

bool ScriptTextView::typingPassesLimits(const QString& typed) const {
    const QTextCursor cursor = textCursor();
    const QTextBlock block = cursor.block();
    if (block.length() - 1 + typed.size() <= TextInsertion::maxRunCharacters) {
        return false; // no run can be too long
    }
    if (cursor.hasSelection()) {
        return true; // rare: looked at once it is typed
    }
    QString text = block.text();
    text.insert(cursor.positionInBlock(), typed);
    return TextInsertion::cutPosition(text, 0, int(text.size())).first < text.size();
}

void ScriptTextView::typeWithinLimits(const QString& typed, const std::function<void()>& type) {
    // Among short paragraphs that share a block a line separator reads as their break.
    const QTextCursor at = textCursor();
    const bool soft = typed.contains(QChar::LineSeparator);
    const bool splits =
        !isReadOnly() && ((soft && (holdsJoinedParagraphs(at.document()->findBlock(at.selectionStart())) ||
                                    holdsJoinedParagraphs(at.document()->findBlock(at.selectionEnd())))) ||
                          joiningChangesReading(*document(), at.selectionStart(), at.selectionEnd()));
    if (!splits && !typingPassesLimits(typed)) {
        type();
        return;
    }
    // One undo step, and Qt lays the block out once, cut.
    QTextCursor step = textCursor();
    step.beginEditBlock();
    if (splits && soft) {
        splitJoinedParagraphs(*document(), at.selectionEnd());
        splitJoinedParagraphs(*document(), at.selectionStart());
    } else if (splits) {
        splitBeforeJoining(*document(), at.selectionStart(), at.selectionEnd());
    }
    type();
    const QTextBlock block = textCursor().block();
    cutLongBlocks(*document(), block.position(), block.position() + block.length() - 1);
    step.endEditBlock();
    ensureCursorVisible();
}

// Whether `cursor` stands beside a break that stands for no character.
static bool besideCharacterlessCut(const QTextCursor& cursor) {
    return (cursor.atBlockStart() && blockBreak(cursor.block()).standsForNoCharacter()) ||
           (cursor.atBlockEnd() && blockBreak(cursor.block().next()).standsForNoCharacter());
}

// Whether a move by a word from `before` to `cursor` stopped at a break that stands for a space (a
// long paragraph cut into blocks) where it would have passed that space: leftwards over the break
// alone, rightwards at the end of the word before it.
static bool stoppedAtSpaceCut(const QTextCursor& cursor, int before, bool leftwards) {
    if (leftwards) {
        const QTextBlock block = cursor.document()->findBlock(before);
        return block.position() == before && cursor.position() == before - 1 &&
               blockBreak(block).kind == BlockBreak::Kind::cutAtSpace;
    }
    return cursor.atBlockEnd() && before < cursor.position() && before >= cursor.block().position() &&
           blockBreak(cursor.block().next()).kind == BlockBreak::Kind::cutAtSpace;
}

bool ScriptTextView::deleteWordOverCut(const QKeyEvent& event) {
    const bool back = event.matches(QKeySequence::DeleteStartOfWord);
    if (isReadOnly() || (!back && !event.matches(QKeySequence::DeleteEndOfWord)) ||
        textCursor().hasSelection()) {
        return false;
    }
    QTextCursor cursor = textCursor();
    const int before = cursor.position();
    const QTextCursor::MoveOperation operation = back ? QTextCursor::PreviousWord : QTextCursor::NextWord;
    cursor.movePosition(operation, QTextCursor::KeepAnchor);
    if (!stoppedAtSpaceCut(cursor, before, back)) {
        return false; // Qt's own deletion
    }
    cursor.movePosition(operation, QTextCursor::KeepAnchor);
    cursor.beginEditBlock();
    cursor.removeSelectedText();
    // The two blocks are one again: cut anew if together they pass the limits.
    const QTextBlock joined = cursor.block();
    cutLongBlocks(*document(), joined.position(), joined.position() + joined.length() - 1);
    cursor.endEditBlock();
    setTextCursor(cursor);
    return true;
}

void ScriptTextView::moveOverCut(const QKeyEvent& event, int before) {
    using SK = QKeySequence;
    struct Move {
        SK::StandardKey key;
        QTextCursor::MoveOperation operation;
        bool selects;
        bool byWord;
    };
    static constexpr Move moves[] = {
        {SK::MoveToPreviousChar, QTextCursor::Left, false, false},
        {SK::MoveToNextChar, QTextCursor::Right, false, false},
        {SK::SelectPreviousChar, QTextCursor::Left, true, false},
        {SK::SelectNextChar, QTextCursor::Right, true, false},
        {SK::MoveToPreviousWord, QTextCursor::WordLeft, false, true},
        {SK::MoveToNextWord, QTextCursor::WordRight, false, true},
        {SK::SelectPreviousWord, QTextCursor::WordLeft, true, true},
        {SK::SelectNextWord, QTextCursor::WordRight, true, true},
    };
    const auto move =
        std::find_if(std::begin(moves), std::end(moves), [&](const Move& m) { return event.matches(m.key); });
    QTextCursor cursor = textCursor();
    if (move != std::end(moves) && move->byWord &&
        stoppedAtSpaceCut(cursor, before, move->operation == QTextCursor::WordLeft)) {
        const QTextCursor::MoveMode mode = move->selects ? QTextCursor::KeepAnchor : QTextCursor::MoveAnchor;
        cursor.movePosition(move->operation, mode);
        setTextCursor(cursor);
        ensureCursorVisible();
        return;
    }
    if (move == std::end(moves) || cursor.position() == before || !besideCharacterlessCut(cursor)) {
        return;
    }
    // The break between two blocks of a run is no character: a press passes one on either side
    // of it, and a word runs on across it.
    const QTextCursor::MoveMode mode = move->selects ? QTextCursor::KeepAnchor : QTextCursor::MoveAnchor;
    const bool crossedOnlyTheCut =
        std::abs(cursor.position() - before) == 1 && document()->findBlock(before) != cursor.block();
    if (!move->byWord && !crossedOnlyTheCut) {
        return;
    }
    int position = cursor.position();
    do {
        cursor.movePosition(move->operation, mode);
    } while (move->byWord && cursor.position() != std::exchange(position, cursor.position()) &&
             besideCharacterlessCut(cursor));
    setTextCursor(cursor);
    ensureCursorVisible();
}

bool ScriptTextView::deleteOverCut(const QKeyEvent& event) {
    const bool back = event.matches(QKeySequence::Backspace) || event.key() == Qt::Key_Backspace;
    if (isReadOnly() || (!back && !event.matches(QKeySequence::Delete)) || textCursor().hasSelection()) {
        return false;
    }
    // Beside a break that stands for no character the key takes the character beyond it as well,
    // as the break itself is nothing the reader sees.
    QTextCursor cursor = textCursor();
    const QTextBlock beyond = back ? cursor.block() : cursor.block().next();
    if ((back ? !cursor.atBlockStart() : !cursor.atBlockEnd()) || !beyond.isValid() ||
        !blockBreak(beyond).standsForNoCharacter()) {
        return false;
    }
    cursor.beginEditBlock();
    for (int i = 0; i < 2; ++i) {
        back ? cursor.deletePreviousChar() : cursor.deleteChar();
    }
    cursor.endEditBlock();
    setTextCursor(cursor);
    return true;
}

void ScriptTextView::inputMethodEvent(QInputMethodEvent* event) {
    // A composition still shown beside a selection is Qt's to handle; the commit alone is ours.
    const bool plainCommit = !event->commitString().isEmpty() && event->replacementLength() == 0 &&
                             (event->preeditString().isEmpty() || !textCursor().hasSelection());
    typeWithinLimits(event->commitString(), [&] {
        if (plainCommit && typeWithScriptLook(event->commitString())) {
            event->accept();
        } else {
            QTextEdit::inputMethodEvent(event);
        }
    });
}

// The characters of the paragraph `block` is part of, as the text counts them: a long paragraph
// is cut into blocks, the cut standing for a space or for nothing.
static qint64 paragraphLength(const QTextBlock& block) {
    qint64 length = block.length() - 1;
    const auto joined = [&](const QTextBlock& later) {
        const BlockBreak before = blockBreak(later);
        return before.continuesParagraph() ? (before.standsForNoCharacter() ? 0 : 1) : -1;
    };
    for (QTextBlock b = block; b.previous().isValid() && joined(b) >= 0; b = b.previous()) {
        length += b.previous().length() - 1 + joined(b);
    }
    for (QTextBlock b = block.next(); b.isValid() && joined(b) >= 0; b = b.next()) {
        length += b.length() - 1 + joined(b);
    }
    return length;
}

// Why HTML on the clipboard was not read, for the line above the text.
static QString htmlRefusal(ClipboardText::HtmlExcess excess) {
    switch (excess) {
    case ClipboardText::HtmlExcess::none:
        break;
    case ClipboardText::HtmlExcess::size:
        return ScriptTextView::tr("the copied HTML is larger than %1 MB.")
            .arg(QLocale().toString(ClipboardText::HtmlBounds{}.maxCharacters >> 20));
    case ClipboardText::HtmlExcess::depth:
        return ScriptTextView::tr("the copied HTML is nested too deeply.");
    case ClipboardText::HtmlExcess::attributes:
        return ScriptTextView::tr("the copied HTML has a tag with too many attributes.");
    }
    return {};
}

platform::AttributedString ScriptTextView::pastedContent(const QMimeData& source, QString* notice) const {
    platform::AttributedString pasted;
    bool read = false;
    // Cuewright's own flavour first: the text as it left the editor.
    for (const QString& type :
         {QString::fromLatin1(ClipboardText::scriptMimeType), kRtfTypes[0], kRtfTypes[1]}) {
        if (!read && source.hasFormat(type)) {
            if (auto rtf = platform::readRtf(source.data(type))) {
                pasted = std::move(*rtf);
                read = true;
            }
        }
    }
    if (!read && source.hasHtml()) {
        ClipboardText::HtmlPaste html = ClipboardText::readHtml(ClipboardText::htmlOf(source));
        if (html.excess == ClipboardText::HtmlExcess::none) {
            pasted = std::move(html.text);
            read = true;
        } else if (notice) {
            const QString why = htmlRefusal(html.excess);
            *notice =
                !source.hasText()
                    ? (dropping_ ? tr("Nothing was dropped: %1") : tr("Nothing was pasted: %1")).arg(why)
                    : (dropping_ ? tr("Dropped as plain text: %1") : tr("Pasted as plain text: %1")).arg(why);
        }
        if (!read && !source.hasText()) {
            return {};
        }
    }
    if (!read) {
        pasted = platform::AttributedString(source.text());
    }
    // Text shows at the document's size. The caret's own format may name no font at all (after
    // a paste that ended in a line break): the paste keeps its bold and italic all the same.
    const auto typingFont = fromTextCharFormat(shownCharFormat(*document(), textCursor().charFormat())).font;
    const double size =
        typingFont ? typingFont->pointSize : platform::Font::fromQFont(document()->defaultFont()).pointSize;
    return pastedText(pasted, pasteStyle(), size);
}

namespace {

// What Copy, Cut and a drag take from the text: the characters as they are (no break where the
// editor cut a long paragraph), as Cuewright's own flavour and plain text, and as HTML made when
// another program asks for it.
class SelectionMimeData final : public QMimeData {
public:
    explicit SelectionMimeData(platform::AttributedString text)
        : text_(std::move(text)) {
        setText(text_.string());
    }
    QStringList formats() const override {
        return {QString::fromLatin1(ClipboardText::scriptMimeType), QStringLiteral("text/plain"),
                QStringLiteral("text/html")};
    }

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override {
        auto* self = const_cast<SelectionMimeData*>(this);
        if (!QMimeData::formats().contains(mimeType)) {
            if (mimeType == QLatin1String("text/html")) {
                self->setHtml(ClipboardText::toHtml(text_));
            } else if (mimeType == QLatin1String(ClipboardText::scriptMimeType)) {
                self->setData(mimeType, platform::writeRtf(text_));
            }
        }
        return QMimeData::retrieveData(mimeType, type);
    }

private:
    platform::AttributedString text_;
};

} // namespace

QMimeData* ScriptTextView::createMimeDataFromSelection() const {
    const QTextCursor selection = textCursor();
    return new SelectionMimeData(
        attributedText(*document(), selection.selectionStart(), selection.selectionEnd()));
}

bool ScriptTextView::canInsertFromMimeData(const QMimeData* source) const {
    return source->hasFormat(QString::fromLatin1(ClipboardText::scriptMimeType)) ||
           source->hasFormat(kRtfTypes[0]) || source->hasFormat(kRtfTypes[1]) ||
           QTextEdit::canInsertFromMimeData(source);
}

void ScriptTextView::insertFromMimeData(const QMimeData* source) {
    if (isReadOnly() || source == nullptr) {
        return;
    }
    QString notice;
    platform::AttributedString content = pastedContent(*source, &notice);
    if (content.isEmpty() && !notice.isEmpty()) {
        QApplication::beep();
        emit insertionNotice(notice);
        return;
    }
    if (insertionGuard_) {
        // Counted as the text will be after it, so that the size it is shown at stays: another
        // size lays it all out again. A paste over all of it (Ctrl+A) leaves only itself.
        const QTextCursor at = textCursor();
        const bool all = at.selectionStart() == 0 && at.selectionEnd() >= document()->characterCount() - 1;
        EditorAppearance::TextAmount after =
            all ? EditorAppearance::TextAmount{1, 1, 1} : EditorAppearance::textAmount(*document());
        const EditorAppearance::TextAmount added = EditorAppearance::textAmount(content.string());
        after.characters += added.characters - 1;
        after.paragraphs += added.paragraphs - 1;
        // The first pasted paragraph joins the one at the insertion point.
        after.longestParagraph = std::max(after.longestParagraph,
                                          added.longestParagraph + (all ? 0 : paragraphLength(at.block())));
        const std::optional<bool> restyled = insertionGuard_(after);
        if (!restyled) {
            QApplication::beep();
            emit insertionRefused(after.paragraphs, dropping_);
            return;
        }
        if (*restyled) {
            content = pastedContent(*source); // at the new typing size
        }
    }
    QTextCursor cursor = textCursor();
    const bool piecewise = !dropping_ && content.string().size() >= piecewisePasteCharacters;
    if (piecewise) {
        beginStepGroup(); // each piece a step of it
    }
    nextStepName_ = dropping_ ? tr("Drop") : tr("Paste");
    cursor.beginEditBlock();
    splitBeforeJoining(*document(), cursor.selectionStart(), cursor.selectionEnd());
    cursor.removeSelectedText();
    // Run by run: line breaks open blocks in the paragraph's own format.
    auto insertion =
        std::make_unique<PasteInsertion>(cursor, std::move(content), [](const platform::Attributes& a) {
            return EditorAppearance::unsized(toTextCharFormat(a));
        });
    // The first piece small: how long its kind of text takes is not known yet.
    insertion->insert(piecewise ? minimumPastePieceCharacters : std::numeric_limits<int>::max());
    cursor.endEditBlock();
    nextStepName_.clear(); // a paste of nothing leaves no name behind
    setTextCursor(insertion->cursor());
    ensureCursorVisible();
    if (!notice.isEmpty()) {
        emit insertionNotice(notice);
    }
    if (!insertion->isDone()) {
        pasteInPieces(std::move(insertion));
    } else if (piecewise) {
        endStepGroup();
    }
}

struct ScriptTextView::PiecewisePaste {
    std::unique_ptr<PasteInsertion> insertion;
    std::unique_ptr<ProgressWindow> progress;
    PieceSize piece{minimumPastePieceCharacters, pastePieceCharacters, pastePieceTime};
};

ScriptTextView::~ScriptTextView() = default;

void ScriptTextView::pasteInPieces(std::unique_ptr<PasteInsertion> insertion) {
    // Nothing else may change the text meanwhile: the step group holds it read-only.
    auto paste = std::make_unique<PiecewisePaste>();
    paste->insertion = std::move(insertion);
    const PasteInsertion* going = paste->insertion.get();
    // Over the view, not its window: the editor window gives a dialog of its view the Close and
    // Quit keys.
    paste->progress = std::make_unique<ProgressWindow>(
        tr("Paste"), tr("Pasting\u2026"),
        [going]() -> std::optional<double> {
            return double(going->inserted()) / std::max(1, going->length());
        },
        [this] { cancelPaste(); }, this, pasteProgressDelayMs);
    paste_ = std::move(paste);
    QTimer::singleShot(0, this, &ScriptTextView::pasteNextPiece);
}

void ScriptTextView::pasteNextPiece() {
    if (!paste_) {
        return;
    }
    PasteInsertion& insertion = *paste_->insertion;
    nextStepName_ = tr("Paste");
    QTextCursor cursor = insertion.cursor();
    const auto started = std::chrono::steady_clock::now();
    cursor.beginEditBlock(); // a step of the paste's group: its redo goes a piece at a time too
    const bool done = insertion.insert(paste_->piece.characters());
    cursor.endEditBlock(); // Qt lays the piece out here
    nextStepName_.clear();
    paste_->piece.took(std::chrono::steady_clock::now() - started);
    if (!done) {
        QTimer::singleShot(0, this, &ScriptTextView::pasteNextPiece);
        return;
    }
    const std::unique_ptr<PiecewisePaste> finished = std::move(paste_);
    setTextCursor(insertion.cursor());
    ensureCursorVisible();
    finished->progress.reset();
    endStepGroup();
}

void ScriptTextView::cancelPaste() {
    if (!paste_) {
        return;
    }
    const std::unique_ptr<PiecewisePaste> cancelled = std::move(paste_);
    // What went in so far is the group's steps: the text goes back to what it was, in the paste's
    // window when it shows.
    cancelStepGroup(cancelled->progress.get());
}

bool ScriptTextView::isPasting() const {
    return paste_ != nullptr;
}

void ScriptTextView::undo() {
    walkHistory(/*back=*/true);
}

void ScriptTextView::redo() {
    walkHistory(/*back=*/false);
}

int ScriptTextView::groupBelow() const {
    return stepGroup(document()->availableUndoSteps());
}

int ScriptTextView::groupAbove() const {
    // The step redone is the first of those above the count.
    const int count = document()->availableUndoSteps();
    const auto found =
        std::find_if(steps_.begin(), steps_.end(), [&](const Step& s) { return s.end > count; });
    return found != steps_.end() ? found->group : 0;
}

void ScriptTextView::walkHistory(bool back, bool cancellable, ProgressWindow* shown) {
    if (stepping_ || paste_ || openGroup_ != 0) {
        return; // the text is read-only until that is over, or a group is still being made
    }
    const auto stepOf = [](bool undoing) { return undoing ? &QTextEdit::undo : &QTextEdit::redo; };
    const auto groupNext = [this](bool undoing) { return undoing ? groupBelow() : groupAbove(); };
    const auto available = [this](bool undoing) {
        return undoing ? document()->isUndoAvailable() : document()->isRedoAvailable();
    };
    const int group = groupNext(back);
    const int total = group == 0 ? 1 : int(std::count_if(steps_.begin(), steps_.end(), [&](const Step& s) {
        return s.group == group;
    }));
    if (total == 1) {
        stepThroughHistory(stepOf(back));
        return;
    }
    // Each step is a slice of a long edit: the event loop turns between them, as when it was made.
    int done = 0;
    std::optional<int> cancelledAt; // the steps done when Cancel came
    QPointer<ScriptTextView> self(this);
    enterLongEdit();
    stepping_ = true;
    const auto fraction = [&]() -> std::optional<double> {
        // Once cancelled, how far back towards where it began.
        return cancelledAt ? 1.0 - double(done) / std::max(1, *cancelledAt) : double(done) / total;
    };
    std::unique_ptr<ProgressWindow> own;
    if (!shown) {
        QString title = back ? tr("Undo") : tr("Redo");
        QString label = back ? tr("Undoing\u2026") : tr("Redoing\u2026");
        if (!back && redoActionName() == tr("Paste")) {
            title = tr("Paste"); // a paste made again shows the paste's own window
            label = tr("Pasting\u2026");
        } else if (!cancellable) {
            title = undoActionName();
            label = ProgressWindow::cancellingLabel();
        }
        std::function<void()> cancel;
        if (cancellable) {
            cancel = [&] { cancelledAt = done; };
        }
        own = std::make_unique<ProgressWindow>(title, label, fraction, std::move(cancel), window(),
                                               ProgressWindow::defaultDelayMs, Qt::ApplicationModal);
        shown = own.get();
    } else {
        shown->setProgress(fraction);
    }
    const QPointer<ProgressWindow> progress(shown);
    // Cancel walks back the way it came, to the text as it was before; nothing stops that walk.
    // Steps go by as many a turn as fit in its time, so a cancel is seen within about that time.
    // They are the document's own: Qt's view lays the text out as far as its caret after each, and
    // a paste's end lies millions of lines on. The caret goes to the change once, at the end.
    int changedFrom = std::numeric_limits<int>::max();
    const auto changes =
        connect(document(), &QTextDocument::contentsChange, this,
                [&](int position, int, int) { changedFrom = std::min(changedFrom, position); });
    const auto stopWatching = qScopeGuard([&] { disconnect(changes); });
    auto turnStarted = std::chrono::steady_clock::now();
    for (;;) {
        const bool undoing = cancelledAt ? !back : back;
        const bool onward = !cancelledAt;
        if (onward ? !available(undoing) || groupNext(undoing) != group : done == 0) {
            break;
        }
        undoing ? document()->undo() : document()->redo();
        done += onward ? 1 : -1;
        if (std::chrono::steady_clock::now() - turnStarted < stepTurnTime) {
            continue;
        }
        QCoreApplication::processEvents(progress && progress->window() ? QEventLoop::AllEvents
                                                                       : QEventLoop::ExcludeUserInputEvents);
        if (!self || platform::applicationQuitting()) {
            if (progress) {
                progress->setProgress(nullptr); // it may outlive this
            }
            return; // a half walk stays a long edit, handed to no one
        }
        turnStarted = std::chrono::steady_clock::now();
    }
    if (progress) {
        progress->setProgress(nullptr);
    }
    own.reset();
    if (changedFrom != std::numeric_limits<int>::max()) {
        QTextCursor atChange(document());
        atChange.setPosition(std::clamp(changedFrom, 0, document()->characterCount() - 1));
        setTextCursor(atChange);
        ensureCursorVisible();
    }
    stepping_ = false;
    leaveLongEdit();
}

void ScriptTextView::stepThroughHistory(void (QTextEdit::*step)()) {
    int first = std::numeric_limits<int>::max();
    int last = -1;
    bool formatsOnly = true;
    const auto changes =
        connect(document(), &QTextDocument::contentsChange, this, [&](int position, int removed, int added) {
            first = std::min(first, position);
            last = std::max(last, position + added);
            formatsOnly = formatsOnly && removed == added;
        });
    (this->*step)();
    disconnect(changes);
    const int position = textCursor().position();
    // A step of formats only (a bookmark, a trait) leaves Qt's caret at its end, after the first
    // letter of a bookmarked line: its start is where typing goes on.
    const bool formatStepEnd = formatsOnly && position != first && !textCursor().hasSelection();
    if (last < 0 || (position >= first && position <= last && !formatStepEnd)) {
        return;
    }
    QTextCursor atChange(document());
    atChange.setPosition(std::clamp(first, 0, document()->characterCount() - 1));
    setTextCursor(atChange);
    ensureCursorVisible();
}

void ScriptTextView::contextMenuEvent(QContextMenuEvent* event) {
    // The menu's Undo and Redo are Qt's own otherwise, which leave the caret at the top.
    QMenu* menu = createStandardContextMenu(event->pos());
    menu->setAttribute(Qt::WA_DeleteOnClose);
    for (QAction* action : menu->actions()) {
        const bool undoes = action->objectName() == QLatin1String("edit-undo");
        if (undoes || action->objectName() == QLatin1String("edit-redo")) {
            disconnect(action, &QAction::triggered, nullptr, nullptr);
            // Queued: a long undo turns the event loop, and the menu that sent it goes meanwhile.
            connect(action, &QAction::triggered, this, undoes ? &ScriptTextView::undo : &ScriptTextView::redo,
                    Qt::QueuedConnection);
        } else if (action->objectName() == QLatin1String("edit-cut")) {
            disconnect(action, &QAction::triggered, nullptr, nullptr);
            connect(action, &QAction::triggered, this, &ScriptTextView::cut);
        }
    }
    menu->popup(event->globalPos());
}

void ScriptTextView::dropEvent(QDropEvent* event) {
    dropping_ = true;
    QTextEdit::dropEvent(event);
    dropping_ = false;
}

double ScriptTextView::setFontSize(double points) {
    layOutInParts(); // first: Qt's range follows the new layout at once
    const double size = EditorAppearance::setFontSize(*document(), points);
    // With a selection the format would be the selected text's: only the typing is changed here.
    if (const QTextCharFormat typing = currentCharFormat();
        !textCursor().hasSelection() && typing != EditorAppearance::unsized(typing)) {
        setCurrentCharFormat(EditorAppearance::unsized(typing));
    }
    return size;
}

void ScriptTextView::setParagraphAlignment(Qt::Alignment alignment) {
    layOutInParts();
    EditorAppearance::setAlignment(*document(), alignment);
}

void ScriptTextView::changeEvent(QEvent* event) {
    // Qt gives the document the widget's font whenever that changes (a new parent, a new style);
    // the document's own default font is the script's size.
    if (event->type() != QEvent::FontChange) {
        QTextEdit::changeEvent(event);
        return;
    }
    const QFont kept = document()->defaultFont();
    QTextEdit::changeEvent(event);
    if (document()->defaultFont() != kept) {
        document()->setDefaultFont(kept);
    }
}

// Qt sets the range to 0...(content - viewport) whenever the content or the viewport changes;
// the inset widens it above by the inset, so that offset 0 shows the first line one inset below
// the top, and below by the room under the reading position, so that the last line reaches it.
void ScriptTextView::keepInsetInScrollRange() {
    QScrollBar* bar = verticalScrollBar();
    if (adjustingRange_ || (bar->minimum() == ownRange_.first && bar->maximum() == ownRange_.second)) {
        return;
    }
    // Qt reports the new range before it holds the value to it. A value beyond the new range (a
    // text now shorter than the place shown: everything deleted with the view at the end) would
    // end at the range's edge, the first line at the top of the view; the text's end goes to the
    // reading position instead.
    const int value = bar->value();
    qtMaximum_ = textMaximum(bar->maximum());
    applyScrollRange();
    if (value > ownRange_.second) {
        // A text restyled whole is laid out a part at a time: its height as laid out so far.
        const double height = isLayingOutInParts() ? double(qtMaximum_ + viewport()->height()) : usedHeight();
        scrollToOffset(std::min(value + inset_, height), /*animated=*/false);
    }
}

// Qt works the range out in int as the height times 100 over the share laid out, which wraps
// round for a text over 21 million pixels high: such a text is given its height as laid out.
int ScriptTextView::textMaximum(int qtMaximum) const {
    constexpr double qtLimit = double(std::numeric_limits<int>::max() / 100);
    if (laidOutHeight_ < qtLimit) {
        return qtMaximum;
    }
    return std::max(0, int(std::lround(laidOutHeight_)) - viewport()->height());
}

void ScriptTextView::applyScrollRange() {
    QScrollBar* bar = verticalScrollBar();
    const int top = static_cast<int>(std::lround(inset_));
    const int below = std::max(top, viewport()->height() - top);
    ownRange_ = {-top, qtMaximum_ + below};
    adjustingRange_ = true;
    bar->setRange(ownRange_.first, ownRange_.second);
    adjustingRange_ = false;
}

void ScriptTextView::setTopInset(double inset) {
    inset = std::max(0.0, inset);
    if (inset == inset_) {
        return;
    }
    const double offset = scrollOffset();
    inset_ = inset;
    applyScrollRange();
    scrollToOffset(offset, /*animated=*/false);
}

double ScriptTextView::containerWidth() const {
    const int bar =
        verticalScrollBarPolicy() == Qt::ScrollBarAlwaysOff ? 0 : verticalScrollBar()->sizeHint().width();
    return std::max(0, width() - 2 * frameWidth() - bar);
}

double ScriptTextView::usedHeight() const {
    if (document()->isEmpty()) {
        return 0;
    }
    const double height = document()->documentLayout()->documentSize().height();
    return std::max(0.0, height - 2 * document()->documentMargin());
}

double ScriptTextView::scrollOffset() const {
    return verticalScrollBar()->value() + inset_;
}

void ScriptTextView::scrollToOffset(double offset, bool animated) {
    QScrollBar* bar = verticalScrollBar();
    const int target =
        std::clamp(static_cast<int>(std::lround(offset - inset_)), bar->minimum(), bar->maximum());
    if (scrollAnimation_) {
        scrollAnimation_->stop();
    }
    if (!animated || scrollAnimationMs_ <= 0 || !isVisible() || target == bar->value()) {
        bar->setValue(target);
        return;
    }
    if (!scrollAnimation_) {
        scrollAnimation_ = new QVariantAnimation(this);
        scrollAnimation_->setEasingCurve(QEasingCurve::OutCubic);
        connect(scrollAnimation_, &QVariantAnimation::valueChanged, this,
                [this](const QVariant& value) { verticalScrollBar()->setValue(value.toInt()); });
    }
    scrollAnimation_->setDuration(scrollAnimationMs_);
    scrollAnimation_->setStartValue(bar->value());
    scrollAnimation_->setEndValue(target);
    scrollAnimation_->start();
}

bool ScriptTextView::isAnimatingScroll() const {
    return scrollAnimation_ && scrollAnimation_->state() == QAbstractAnimation::Running;
}

void ScriptTextView::wheelEvent(QWheelEvent* event) {
    const bool previous = std::exchange(wheelScrolling_, true);
    QTextEdit::wheelEvent(event);
    wheelScrolling_ = previous;
}

void ScriptTextView::setMirroring(bool horizontal, bool vertical) {
    if (horizontal == mirrorH_ && vertical == mirrorV_) {
        return;
    }
    mirrorH_ = horizontal;
    mirrorV_ = vertical;
    viewport()->update();
}

QTransform ScriptTextView::mirrorTransform() const {
    return EditorAppearance::mirrorTransform(mirrorH_, mirrorV_, viewport()->size());
}

void ScriptTextView::paintEvent(QPaintEvent* event) {
    if (!isMirrored()) {
        QTextEdit::paintEvent(event);
        return;
    }
    // Qt asks for the unmirrored rectangle of what changed (a cursor, a line): paint it all.
    if (event->rect() != viewport()->rect()) {
        viewport()->update();
        return;
    }
    QPainter painter(viewport());
    painter.setTransform(mirrorTransform());
    const QPointF offset(horizontalScrollBar()->value(), verticalScrollBar()->value());
    painter.translate(-offset);
    QAbstractTextDocumentLayout::PaintContext context;
    context.palette = palette();
    context.clip = QRectF(offset, viewport()->size());
    const QTextCursor cursor = textCursor();
    if (hasFocus() && !isReadOnly()) {
        context.cursorPosition = cursor.position();
    }
    if (cursor.hasSelection()) {
        QAbstractTextDocumentLayout::Selection selection;
        selection.cursor = cursor;
        selection.format.setBackground(palette().highlight());
        selection.format.setForeground(palette().highlightedText());
        context.selections.append(selection);
    }
    document()->documentLayout()->draw(&painter, context);
}

template <typename Handler> void ScriptTextView::mirroredMouseEvent(QMouseEvent* event, Handler handler) {
    if (!isMirrored()) {
        handler(event);
        return;
    }
    const QPointF local = mirrorTransform().map(event->position());
    QMouseEvent mirrored(event->type(), local, event->scenePosition(), event->globalPosition(),
                         event->button(), event->buttons(), event->modifiers(), event->pointingDevice());
    handler(&mirrored);
    event->setAccepted(mirrored.isAccepted());
}

void ScriptTextView::mousePressEvent(QMouseEvent* event) {
    // Qt's third click selects the block, which may be part of a paragraph or hold several, and its
    // drag and Shift+click after it extend by blocks: the third click and what follows it are taken
    // here, by paragraphs, without Qt.
    const bool left = event->button() == Qt::LeftButton;
    const bool thirdClick =
        left && doubleClicked_.isValid() && doubleClicked_.elapsed() < QApplication::doubleClickInterval() &&
        (event->position() - doubleClickPoint_).manhattanLength() < QApplication::startDragDistance();
    const QTextCursor cursor = textCursor();
    const bool extends = left && event->modifiers() == Qt::ShiftModifier && clickedParagraph_ &&
                         std::pair(cursor.anchor(), cursor.position()) == paragraphSelection_;
    if (!thirdClick && !extends) {
        clickedParagraph_.reset();
        mirroredMouseEvent(event, [this](QMouseEvent* e) { QTextEdit::mousePressEvent(e); });
        return;
    }
    if (thirdClick) {
        clickedParagraph_ =
            paragraphRange(*document(), cursor.selectionStart()); // the word the second click took
    }
    draggingParagraphs_ = true;
    mirroredMouseEvent(event, [this, thirdClick](QMouseEvent* e) {
        selectParagraphsTo(thirdClick ? clickedParagraph_->location
                                      : cursorForPosition(e->position().toPoint()).position());
    });
    event->accept();
}

void ScriptTextView::selectParagraphsTo(int position) {
    const int last = document()->characterCount() - 1;
    // A paragraph is taken with its break, as a line of the text is taken whole.
    const auto withBreak = [last](const platform::TextRange& paragraph) {
        return std::min(paragraph.end() + 1, last);
    };
    const platform::TextRange from = *clickedParagraph_;
    const platform::TextRange to = paragraphRange(*document(), std::clamp(position, 0, last));
    QTextCursor cursor(document());
    if (to.location < from.location) {
        cursor.setPosition(withBreak(from));
        cursor.setPosition(to.location, QTextCursor::KeepAnchor);
    } else {
        cursor.setPosition(from.location);
        cursor.setPosition(withBreak(to), QTextCursor::KeepAnchor);
    }
    paragraphSelection_ = {cursor.anchor(), cursor.position()};
    // Qt shows the selection's end, which in a long paragraph lies screens away: the view stays.
    QScrollBar* bars[] = {horizontalScrollBar(), verticalScrollBar()};
    const int kept[] = {bars[0]->value(), bars[1]->value()};
    const QSignalBlocker blockHorizontal(bars[0]);
    const QSignalBlocker blockVertical(bars[1]);
    setTextCursor(cursor);
    bars[0]->setValue(kept[0]);
    bars[1]->setValue(kept[1]);
}

void ScriptTextView::mouseMoveEvent(QMouseEvent* event) {
    if (draggingParagraphs_ && !(event->buttons() & Qt::LeftButton)) {
        draggingParagraphs_ = false; // released where the view did not see it
    }
    if (!draggingParagraphs_) {
        mirroredMouseEvent(event, [this](QMouseEvent* e) { QTextEdit::mouseMoveEvent(e); });
        return;
    }
    mirroredMouseEvent(event, [this](QMouseEvent* e) {
        const QPoint point = e->position().toPoint();
        selectParagraphsTo(cursorForPosition(point).position());
        // Past the top or the bottom the text comes towards the pointer.
        const int height = viewport()->height();
        const int past = point.y() < 0 ? point.y() : point.y() > height ? point.y() - height : 0;
        verticalScrollBar()->setValue(verticalScrollBar()->value() + past);
    });
    event->accept();
}

void ScriptTextView::mouseReleaseEvent(QMouseEvent* event) {
    if (!draggingParagraphs_ || event->button() != Qt::LeftButton) {
        mirroredMouseEvent(event, [this](QMouseEvent* e) { QTextEdit::mouseReleaseEvent(e); });
        return;
    }
    draggingParagraphs_ = false;
    // What a mouse selects is the X selection, as Qt makes it on its own release.
    if (QClipboard* clipboard = QGuiApplication::clipboard();
        clipboard->supportsSelection() && textCursor().hasSelection()) {
        clipboard->setMimeData(createMimeDataFromSelection(), QClipboard::Selection);
    }
    event->accept();
}

void ScriptTextView::mouseDoubleClickEvent(QMouseEvent* event) {
    clickedParagraph_.reset();
    draggingParagraphs_ = false;
    mirroredMouseEvent(event, [this](QMouseEvent* e) { QTextEdit::mouseDoubleClickEvent(e); });
    if (event->button() == Qt::LeftButton) {
        doubleClicked_.start();
        doubleClickPoint_ = event->position();
    }
}

} // namespace cw::editor
