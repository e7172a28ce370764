#include "cuewright/editor/FindBar.h"

#include "cuewright/editor/ProgressWindow.h"
#include "cuewright/editor/ScriptTextView.h"
#include "cuewright/editor/TextBridge.h"
#include "cuewright/editor/TextFinder.h"
#include "cuewright/editor/ToolbarIcons.h"
#include "platform/text/ParagraphLines.h"
#include "platform/ui/AlertRunner.h"
#include "platform/ui/Appearance.h"

#include <QAction>
#include <QCoreApplication>
#include <QEvent>
#include <QGraphicsDropShadowEffect>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <utility>

namespace cw::editor {

namespace {

constexpr int barWidth = 480;
constexpr int edgeMargin = 10;         // from the top of the editor's area
constexpr int rightMargin = 28;        // clear of the editor's scroll bar
constexpr int maxTintedMatches = 1000; // more would only slow the drawing of the text
constexpr int maxSelectionSearched = 200;
constexpr int minFieldWidth = 160; // a word or two shows whole

QToolButton* toolButton(QWidget* parent, const QString& name, const QString& tip) {
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setAutoRaise(true);
    button->setToolTip(tip);
    button->setIconSize(QSize(16, 16));
    return button;
}

bool isKey(const QEvent* event, std::initializer_list<int> keys) {
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride) {
        return false;
    }
    const auto* key = static_cast<const QKeyEvent*>(event);
    const Qt::KeyboardModifiers held = key->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier);
    return held == Qt::NoModifier && std::find(keys.begin(), keys.end(), key->key()) != keys.end();
}

// A key held with Ctrl, Alt or Super that the window's menus and keys may have a use for. A field
// keeps the editing keys every field has; Qt's line edit claims more for itself on X11 (Ctrl+E,
// Ctrl+U, Ctrl+K), which would keep Export or Underline from the window.
bool isWindowKey(const QEvent* event) {
    if (event->type() != QEvent::ShortcutOverride) {
        return false;
    }
    const auto* key = static_cast<const QKeyEvent*>(event);
    if (!(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) ||
        key->key() >= Qt::Key_Escape) {
        return false;
    }
    for (const QKeySequence::StandardKey own :
         {QKeySequence::Undo, QKeySequence::Redo, QKeySequence::Cut, QKeySequence::Copy, QKeySequence::Paste,
          QKeySequence::SelectAll}) {
        if (key->matches(own)) {
            return false;
        }
    }
    return true;
}

} // namespace

FindBar::FindBar(ScriptTextView& text, QWidget* area)
    : QWidget(area->parentWidget() ? area->parentWidget() : area)
    , text_(&text)
    , area_(area) {
    setObjectName(QStringLiteral("findBar"));
    hide();
    auto* rows = new QVBoxLayout(this);
    rows->setContentsMargins(8, 7, 8, 7);
    rows->setSpacing(6);

    auto* findRow = new QHBoxLayout;
    findRow->setSpacing(4);
    disclosure_ = toolButton(this, QStringLiteral("replaceDisclosure"), tr("Show Replace"));
    disclosure_->setArrowType(Qt::RightArrow);
    findField_ = new QLineEdit(this);
    findField_->setObjectName(QStringLiteral("findField"));
    findField_->setPlaceholderText(tr("Find"));
    findField_->setClearButtonEnabled(true);
    findField_->setMinimumWidth(minFieldWidth);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("findStatus"));
    status_->setTextFormat(Qt::PlainText);
    status_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    status_->setMinimumWidth(status_->fontMetrics().horizontalAdvance(QStringLiteral("888 of 8888")));
    matchCase_ = toolButton(this, QStringLiteral("matchCase"), tr("Match Case"));
    matchCase_->setText(QStringLiteral("Aa"));
    matchCase_->setCheckable(true);
    previous_ = toolButton(this, QStringLiteral("findPrevious"), tr("Previous Match (Shift+Return)"));
    next_ = toolButton(this, QStringLiteral("findNext"), tr("Next Match (Return)"));
    done_ = toolButton(this, QStringLiteral("findDone"), tr("Done (Escape)"));
    findRow->addWidget(disclosure_);
    findRow->addWidget(findField_, 1);
    findRow->addWidget(status_);
    findRow->addWidget(matchCase_);
    findRow->addWidget(previous_);
    findRow->addWidget(next_);
    findRow->addWidget(done_);
    rows->addLayout(findRow);

    replaceRow_ = new QWidget(this);
    auto* replaceRow = new QHBoxLayout(replaceRow_);
    replaceRow->setContentsMargins(0, 0, 0, 0);
    replaceRow->setSpacing(4);
    replaceField_ = new QLineEdit(replaceRow_);
    replaceField_->setObjectName(QStringLiteral("replaceField"));
    replaceField_->setPlaceholderText(tr("Replace"));
    replaceField_->setMinimumWidth(minFieldWidth);
    replaceButton_ = new QPushButton(tr("Replace"), replaceRow_);
    replaceButton_->setObjectName(QStringLiteral("replaceButton"));
    replaceAllButton_ = new QPushButton(tr("Replace All"), replaceRow_);
    replaceAllButton_->setObjectName(QStringLiteral("replaceAllButton"));
    for (QPushButton* button : {replaceButton_, replaceAllButton_}) {
        button->setAutoDefault(false);
    }
    replaceRow->addSpacing(disclosure_->sizeHint().width());
    replaceRow->addWidget(replaceField_, 1);
    replaceRow->addWidget(replaceButton_);
    replaceRow->addWidget(replaceAllButton_);
    replaceRow_->hide();
    rows->addWidget(replaceRow_);
    // Tab goes from field to field first, then to the buttons.
    QWidget* order[] = {findField_, replaceField_, replaceButton_, replaceAllButton_, matchCase_,
                        previous_,  next_,         done_,          disclosure_};
    for (size_t i = 1; i < std::size(order); ++i) {
        setTabOrder(order[i - 1], order[i]);
    }

    auto* shadow = new QGraphicsDropShadowEffect(this);
    shadow->setBlurRadius(18);
    shadow->setOffset(0, 3);
    shadow->setColor(QColor(0, 0, 0, 90));
    setGraphicsEffect(shadow);

    // The fields' keys, and Escape wherever in the bar the keyboard is (a button clicked).
    for (QWidget* control : order) {
        control->installEventFilter(this);
    }
    area->installEventFilter(this); // its size places the bar
    // The text view may go first when a window closes: the bar goes with it.
    connect(&text, &QObject::destroyed, this, [this] { delete this; });
    connect(findField_, &QLineEdit::textEdited, this, [this] { findFromOrigin(); });
    connect(disclosure_, &QToolButton::clicked, this, [this] { showReplaceRow(!isReplaceShown()); });
    connect(matchCase_, &QToolButton::toggled, this, [this] { findFromOrigin(); });
    connect(previous_, &QToolButton::clicked, this, [this] { findPrevious(); });
    connect(next_, &QToolButton::clicked, this, [this] { findNext(); });
    connect(done_, &QToolButton::clicked, this, [this] { closeBar(); });
    connect(replaceButton_, &QPushButton::clicked, this, [this] { replace(); });
    connect(replaceAllButton_, &QPushButton::clicked, this, [this] { replaceAll(); });
    // The count and the tint follow edits of the text, once per turn of the event loop.
    // A long edit (a paste, an undo or redo going step by step) tells once, at its end.
    const auto queueRefresh = [this] {
        if (!isVisible() || refreshQueued_ || text_->isStepping() || text_->isInLongEdit()) {
            return;
        }
        refreshQueued_ = true;
        QTimer::singleShot(0, this, [this] {
            refreshQueued_ = false;
            if (!text_->isInLongEdit()) {
                refreshMatches(); // else at its end: asked for before it began, it would count its half
            }
        });
    };
    connect(text_->document(), &QTextDocument::contentsChanged, this, queueRefresh);
    connect(text_, &QTextEdit::textChanged, this, queueRefresh);
    refreshIcons();
    updateReplaceAllowed();
}

Qt::CaseSensitivity FindBar::caseSensitivity() const {
    return matchCase_->isChecked() ? Qt::CaseSensitive : Qt::CaseInsensitive;
}

bool FindBar::isReplaceShown() const {
    return !replaceRow_->isHidden();
}

QString FindBar::status() const {
    return status_->text();
}

bool FindBar::canReplace() const {
    return !text_->isReadOnly();
}

void FindBar::showBar(Mode mode) {
    const QTextCursor selection = text_->textCursor();
    const int selectedLength = selection.selectionEnd() - selection.selectionStart();
    if (selectedLength > 0 && selectedLength <= maxSelectionSearched + 1) {
        const QString selected =
            TextFinder::characters(*text_->document(), {selection.selectionStart(), selectedLength});
        const bool breaksLine = std::any_of(selected.begin(), selected.end(), [](QChar c) {
            return platform::isParagraphEnd(c) || c == QChar::LineSeparator;
        });
        if (!selected.isEmpty() && selected.size() <= maxSelectionSearched && !breaksLine) {
            findField_->setText(selected);
        }
    }
    origin_ = selection.selectionStart();
    if (mode == Mode::replace || !isVisible()) {
        showReplaceRow(mode == Mode::replace);
    }
    updateReplaceAllowed();
    place();
    show();
    raise();
    refreshMatches();
    findField_->setFocus(Qt::ShortcutFocusReason);
    findField_->selectAll();
}

void FindBar::closeBar() {
    hide();
    text_->setExtraSelections({});
    text_->setFocus(Qt::OtherFocusReason);
}

void FindBar::findNext() {
    find(Direction::forward);
}

void FindBar::findPrevious() {
    find(Direction::backward);
}

void FindBar::find(Direction direction) {
    if (findField_->text().isEmpty()) {
        showBar(Mode::find);
        return;
    }
    const QTextCursor selection = text_->textCursor();
    const auto found = TextFinder::next(
        *text_->document(), findField_->text(),
        direction == Direction::forward ? selection.selectionEnd() : selection.selectionStart(),
        direction == Direction::forward ? TextFinder::Direction::forward : TextFinder::Direction::backward,
        caseSensitivity());
    if (found) {
        origin_ = found->location;
    }
    select(found);
}

void FindBar::findFromOrigin() {
    select(TextFinder::next(*text_->document(), findField_->text(), origin_, TextFinder::Direction::forward,
                            caseSensitivity()));
}

void FindBar::select(std::optional<platform::TextRange> range) {
    QTextCursor cursor = text_->textCursor();
    if (range) {
        cursor.setPosition(range->location);
        cursor.setPosition(range->end(), QTextCursor::KeepAnchor);
    } else if (!findField_->text().isEmpty()) {
        cursor.setPosition(std::min(origin_, text_->document()->characterCount() - 1));
    }
    text_->setTextCursor(cursor);
    if (range) {
        scrollIntoView(cursor);
    }
    refreshMatches();
}

void FindBar::scrollIntoView(const QTextCursor& match) {
    // The room the text shows in: below the bar while it shows.
    const QWidget* viewport = text_->viewport();
    int top = edgeMargin;
    if (isVisible()) {
        top = std::max(top, viewport->mapFrom(parentWidget(), geometry().bottomLeft()).y() + edgeMargin);
    }
    QTextCursor start = match;
    start.setPosition(match.selectionStart());
    const QRect shown = text_->cursorRect(start).united(text_->cursorRect(match));
    if (shown.top() >= top && shown.bottom() <= viewport->height() - edgeMargin) {
        return;
    }
    // Out of sight: a third of the way down, where the eye looks first, and never under the bar.
    const int target = std::max(top, viewport->height() / 3);
    QScrollBar* bar = text_->verticalScrollBar();
    bar->setValue(bar->value() + shown.top() - target);
}

bool FindBar::replace() {
    const QString needle = findField_->text();
    if (!canReplace() || needle.isEmpty()) {
        return false;
    }
    const QTextCursor selection = text_->textCursor();
    const platform::TextRange range{selection.selectionStart(),
                                    selection.selectionEnd() - selection.selectionStart()};
    if (!TextFinder::isMatch(*text_->document(), range, needle, caseSensitivity())) {
        findNext();
        return false;
    }
    const QString replacement = replaceField_->text();
    const bool changes = TextFinder::characters(*text_->document(), range) != replacement;
    if (changes) {
        text_->namedEdit(tr("Replace"),
                         [&](QTextCursor& cursor) { TextFinder::replace(cursor, range, replacement); });
    }
    QTextCursor after = text_->textCursor();
    after.setPosition(changes ? range.location + int(replacement.size()) : range.end());
    text_->setTextCursor(after);
    findNext();
    return true;
}

int FindBar::replaceAll() {
    const QString needle = findField_->text();
    if (!canReplace() || needle.isEmpty()) {
        return 0;
    }
    // The matches gathered a part at a time, then replaced a slice at a time, each its own step of
    // one group (one undo), the event loop turning in between (the remote control, the windows)
    // with the text read-only; after half a second a window shows how far it is, keeping other
    // input away, with Cancel, which takes back what was replaced.
    TextFinder::ReplaceAll replacing(*text_->document(), needle, replaceField_->text(), caseSensitivity());
    QPointer<FindBar> self(this);
    QPointer<ScriptTextView> text(text_);
    bool cancelled = false;
    std::unique_ptr<ProgressWindow> progress;
    // Gathering is a tenth of the way.
    const auto fraction = [&]() -> std::optional<double> {
        return replacing.isGathered() ? 0.1 + 0.9 * replacing.replaced() / std::max(1, replacing.total())
                                      : 0.1 * replacing.gathered();
    };
    // A turn of the event loop between two parts; false when the work is to stop.
    const auto turn = [&] {
        if (!progress) {
            text_->holdReadOnly();
            progress = std::make_unique<ProgressWindow>(
                tr("Replace All"), tr("Replacing \u201C%1\u201D\u2026").arg(needle), fraction,
                [&] { cancelled = true; }, window(), ProgressWindow::defaultDelayMs, Qt::ApplicationModal);
        }
        QCoreApplication::processEvents(progress->window() ? QEventLoop::AllEvents
                                                           : QEventLoop::ExcludeUserInputEvents);
        return self && text && !cancelled && !platform::applicationQuitting();
    };
    bool going = true;
    while (!replacing.gatherNext() && (going = turn())) {
    }
    if (!going || replacing.isDone()) {
        const bool held = progress != nullptr;
        progress.reset();
        if (self && text) {
            if (held) {
                text_->releaseReadOnly();
            }
            if (cancelled) {
                status_->setText(tr("Cancelled"));
            }
        }
        return 0; // nothing changed: no edit, no undo step
    }
    // The count and the tint once, at the end; a refresh queued before it counts nothing meanwhile.
    refreshQueued_ = true;
    text_->beginStepGroup();
    for (;;) {
        text_->namedEdit(tr("Replace All"), [&](QTextCursor& cursor) {
            for (int spanned = 0; spanned < TextFinder::ReplaceAll::editCharacters && !replacing.isDone();) {
                spanned += replacing.replaceNext(cursor);
            }
        });
        if (replacing.isDone() && !progress) {
            break; // short: done in one go
        }
        // After the last slice of a long one a turn too: the edit's end gets one of its own.
        if (!turn() || replacing.isDone()) {
            break;
        }
    }
    if (!self || !text || (!cancelled && platform::applicationQuitting())) {
        // Gone, or the application ends under it: the half-made group stays a long edit, which
        // nothing hands to the script.
        return replacing.replaced();
    }
    const bool held = progress != nullptr;
    if (cancelled) {
        // The group, as far as it went, with nothing left to redo; back in the same window.
        text_->cancelStepGroup(progress.get());
        progress.reset();
        if (!self || !text || text_->isInLongEdit()) {
            return replacing.replaced(); // the application ends under the walk back
        }
        refreshQueued_ = false;
        text_->releaseReadOnly(); // held: a cancel comes only from the window
        status_->setText(tr("Cancelled"));
        return 0;
    }
    progress.reset();
    text_->endStepGroup();
    if (held) {
        text_->releaseReadOnly();
    }
    refreshQueued_ = false;
    QTextCursor caret = text_->textCursor();
    caret.setPosition(replacing.first());
    text_->setTextCursor(caret);
    origin_ = replacing.first();
    status_->setText(tr("%n replaced", nullptr, replacing.replaced()));
    refreshMatches(/*keepStatus=*/true);
    return replacing.replaced();
}

void FindBar::updateReplaceAllowed() {
    const bool allowed = canReplace();
    const QString lockedTip = allowed ? QString() : tr("The editor is locked: unlock it to replace.");
    for (QWidget* control : {static_cast<QWidget*>(replaceField_), static_cast<QWidget*>(replaceButton_),
                             static_cast<QWidget*>(replaceAllButton_)}) {
        control->setEnabled(allowed);
        control->setToolTip(lockedTip);
    }
}

void FindBar::showReplaceRow(bool shown) {
    replaceRow_->setVisible(shown);
    disclosure_->setArrowType(shown ? Qt::DownArrow : Qt::RightArrow);
    disclosure_->setToolTip(shown ? tr("Hide Replace") : tr("Show Replace"));
    place();
}

void FindBar::place() {
    if (!area_) {
        return;
    }
    layout()->activate();
    // At the area's top right; in an area too narrow for it, over what lies to its left.
    const QRect area = area_ == parentWidget() ? area_->rect() : area_->geometry();
    const int width = std::min(
        std::max(minimumSizeHint().width(), std::min(barWidth, area.width() - rightMargin - edgeMargin)),
        parentWidget()->width());
    const int left = std::max(0, area.right() + 1 - rightMargin - width);
    setGeometry(left, area.top() + edgeMargin, width, sizeHint().height());
    raise();
}

struct FindBar::Counting {
    PlainText plain;
    TextFinder::MatchScan scan{QString(), QString(), Qt::CaseSensitive};
    bool begun = false;
    int revision = 0;             // the document's, when the counting began
    platform::TextRange selected; // in the document's positions
    int selectedText = 0;         // where the selection starts in the text
    bool keepStatus = false;
    int count = 0;
    int current = 0;
    std::vector<platform::TextRange> tinted;
};

FindBar::~FindBar() = default;

void FindBar::refreshMatches(bool keepStatus) {
    counting_ = std::make_unique<Counting>();
    counting_->keepStatus = keepStatus;
    ++countings_;
    // A long text is taken and counted from the next turn of the event loop on: what asked for
    // the count (an edit, a Replace All) may have held it long already.
    if (text_->document()->characterCount() > TextFinder::MatchScan::partCharacters) {
        countMoreMatches();
    } else {
        countMatches();
    }
}

void FindBar::countMoreMatches() {
    text_->inTurnOfItsOwn(this, [this, which = countings_] {
        if (!counting_ || countings_ != which) {
            return;
        }
        if (text_->isInLongEdit()) {
            counting_.reset(); // counted again once the edit is over, from its whole text
            return;
        }
        if (counting_->begun && text_->document()->revision() != counting_->revision) {
            refreshMatches(); // the text changed meanwhile
        } else {
            countMatches();
        }
    });
}

void FindBar::countMatches() {
    Counting& counting = *counting_;
    if (!counting.begun) {
        const QString needle = isVisible() ? findField_->text() : QString();
        const QTextCursor selection = text_->textCursor();
        counting.begun = true;
        counting.plain = needle.isEmpty() ? PlainText() : plainText(*text_->document());
        counting.scan = TextFinder::MatchScan(counting.plain.string, needle, caseSensitivity());
        counting.revision = text_->document()->revision();
        counting.selected = {selection.selectionStart(),
                             selection.selectionEnd() - selection.selectionStart()};
        counting.selectedText = counting.plain.textPosition(selection.selectionStart());
        // Taking a long text is a turn's work of its own: its scan starts in the next.
        if (counting.plain.string.size() > TextFinder::MatchScan::partCharacters) {
            countMoreMatches();
            return;
        }
    }
    counting.scan.scanNext([&](platform::TextRange found) {
        ++counting.count;
        const bool near = std::abs(found.location - counting.selectedText) <= 1;
        if (near || counting.tinted.size() < size_t(maxTintedMatches)) {
            const platform::TextRange range = counting.plain.documentRange(found);
            if (range == counting.selected) {
                counting.current = counting.count;
            }
            if (counting.tinted.size() < size_t(maxTintedMatches)) {
                counting.tinted.push_back(range);
            }
        }
    });
    if (!counting.scan.isDone()) {
        countMoreMatches();
        return;
    }
    const std::unique_ptr<Counting> done = std::move(counting_);
    QList<QTextEdit::ExtraSelection> tints;
    const bool dark = platform::isDarkMode(this);
    const QColor tint = dark ? QColor(255, 170, 0, 110) : QColor(255, 196, 0, 120);
    for (const platform::TextRange& range : done->tinted) {
        QTextEdit::ExtraSelection tinted;
        tinted.cursor = QTextCursor(text_->document());
        tinted.cursor.setPosition(range.location);
        tinted.cursor.setPosition(range.end(), QTextCursor::KeepAnchor);
        tinted.format.setBackground(tint);
        tints.append(tinted);
    }
    text_->setExtraSelections(tints);
    const QString needle = findField_->text();
    const int count = done->count;
    if (done->keepStatus) {
    } else if (needle.isEmpty()) {
        status_->clear();
    } else if (count == 0) {
        status_->setText(tr("No matches"));
    } else if (done->current > 0) {
        status_->setText(tr("%1 of %2").arg(done->current).arg(count));
    } else {
        // No translation is loaded, so Qt's own plural forms never apply: "1 matches".
        status_->setText(count == 1 ? tr("1 match") : tr("%n matches", nullptr, count));
    }
    QPalette palette = status_->palette();
    palette.setColor(QPalette::WindowText, count == 0 && !needle.isEmpty()
                                               ? (dark ? QColor(255, 120, 110) : QColor(200, 40, 30))
                                               : this->palette().color(QPalette::PlaceholderText));
    status_->setPalette(palette);
}

void FindBar::refreshIcons() {
    const QColor color = palette().color(QPalette::ButtonText);
    previous_->setIcon(toolbarIcon(ToolbarGlyph::previousMatch, color));
    next_->setIcon(toolbarIcon(ToolbarGlyph::nextMatch, color));
    done_->setIcon(toolbarIcon(ToolbarGlyph::close, color));
    const QList<QAction*> actions = findField_->actions();
    for (QAction* action : actions) {
        if (action->objectName() == QLatin1String("searchGlyph")) {
            findField_->removeAction(action);
            delete action;
        }
    }
    QAction* glyph =
        findField_->addAction(toolbarIcon(ToolbarGlyph::search, palette().color(QPalette::PlaceholderText)),
                              QLineEdit::LeadingPosition);
    glyph->setObjectName(QStringLiteral("searchGlyph"));
}

bool FindBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == area_) {
        if ((event->type() == QEvent::Resize || event->type() == QEvent::Move) && isVisible()) {
            place();
        }
        return QWidget::eventFilter(watched, event);
    }
    const bool field = watched == findField_ || watched == replaceField_;
    if (field && isWindowKey(event)) {
        event->ignore(); // not the field's: the window's shortcut, or else the field's key press
        return true;
    }
    // Before the window's shortcuts: Escape is the bar's, and Return while its fields have the keys.
    if (isKey(event, {Qt::Key_Escape}) || (field && isKey(event, {Qt::Key_Return, Qt::Key_Enter}))) {
        event->accept();
        if (event->type() == QEvent::ShortcutOverride) {
            return true;
        }
        const auto* key = static_cast<const QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape) {
            closeBar();
        } else if (watched == replaceField_) {
            replace();
        } else if (key->modifiers() & Qt::ShiftModifier) {
            findPrevious();
        } else {
            findNext();
        }
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void FindBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool dark = platform::isDarkMode(this);
    const QColor window = palette().color(QPalette::Window);
    painter.setPen(QPen(dark ? QColor(255, 255, 255, 38) : QColor(0, 0, 0, 45), 1));
    painter.setBrush(dark ? window.lighter(118) : window.lighter(104));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
}

void FindBar::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) {
        refreshIcons();
        refreshMatches();
    }
    QWidget::changeEvent(event);
}

} // namespace cw::editor
