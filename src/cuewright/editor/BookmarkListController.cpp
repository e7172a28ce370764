#include "cuewright/editor/BookmarkListController.h"

#include "base/Log.h"
#include "cuewright/model/Project.h"
#include "dispatch/MainThreadChecker.h"
#include "platform/keys/StandardKeys.h"
#include "platform/ui/ActionRoute.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace cw::editor {

std::shared_ptr<BookmarkListController> BookmarkListController::create(std::shared_ptr<Project> project) {
    return std::make_shared<BookmarkListController>(PrivateTag{}, std::move(project));
}

BookmarkListController::BookmarkListController(PrivateTag, std::shared_ptr<Project> project)
    : project_(std::move(project)) {
    CW_DCHECK_MAIN_THREAD();
    if (!project_)
        base::fatal(missingProjectMessage);
}

BookmarkListController::~BookmarkListController() {
    project_->unregisterEventListener(static_cast<const ProjectEventListener*>(this));
}

QString BookmarkListController::label(const Bookmark& bookmark) {
    QString text = bookmark.userBlurb.empty() ? QString::fromStdString(bookmark.excerpt).remove(u'*')
                                              : QString::fromStdString(bookmark.userBlurb);
    return tr("Line") + QStringLiteral(" %1: ").arg(bookmark.line) + text + QChar(0x2026);
}

double BookmarkListController::jumpProgress(const Bookmark& bookmark, int lineCount) {
    return (bookmark.line - 1 + jumpOffsetInLine) / lineCount;
}

namespace {

// A label that cuts its text with "…" where the row is too narrow, instead of widening the row.
class ElidedLabel final : public QLabel {
public:
    using QLabel::QLabel;
    QSize sizeHint() const override { return {0, QLabel::sizeHint().height()}; }
    QSize minimumSizeHint() const override { return {0, QLabel::minimumSizeHint().height()}; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setPen(palette().color(foregroundRole()));
        painter.drawText(contentsRect(), int(alignment()), BookmarkListController::shownText(*this));
    }
};

// Lines that begin with "*" have ids made of their place: after an edit above them they are
// known by their text.
bool isSameBookmark(const Bookmark& a, const Bookmark& b) {
    const auto isLine = [](const Bookmark& x) { return x.id.rfind("custom.", 0) == 0; };
    return a.id == b.id || (isLine(a) && isLine(b) && a.excerpt == b.excerpt);
}

} // namespace

QString BookmarkListController::shownText(const QLabel& label) {
    return label.fontMetrics().elidedText(label.text(), Qt::ElideRight, label.contentsRect().width());
}

QWidget* BookmarkListController::makeView() {
    auto* column = new QWidget;
    table_ = new QListWidget(column);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->setContextMenuPolicy(Qt::CustomContextMenu);
    table_->setFrameShape(QFrame::NoFrame);
    // Rows are as wide as the column: long labels are cut, the jump buttons stay in sight.
    table_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    table_->setResizeMode(QListView::Adjust);
    table_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);

    contextMenu_ = new QMenu(column);
    contextMenu_->addAction(tr("Go to Bookmark"), [this] { goToClickedBookmark(); });
    contextMenu_->addAction(tr("Delete Bookmark"), [this] { deleteClickedBookmark(); });
    contextMenu_->addAction(tr("Rename Bookmark"), [this] { renameClickedBookmark(); });

    // "+": the editor's bookmark at its current line (titled "Delete Bookmark" where there is one).
    addMenu_ = new QMenu(column);
    QAction* insert = addMenu_->addAction(tr("Insert Bookmark"));
    insert->setProperty("cwAction", QStringLiteral("toggleBookmark:"));
    connect(insert, &QAction::triggered, this, [this, insert] { sendToWindow("toggleBookmark:", insert); });

    // "⋯": the selected bookmark, and the jumps between bookmarks.
    actionMenu_ = new QMenu(column);
    QAction* goTo = actionMenu_->addAction(tr("Go to Bookmark"), [this] { goToSelectedBookmark(); });
    QAction* remove = actionMenu_->addAction(tr("Delete Bookmark"));
    remove->setProperty("cwAction", QStringLiteral("deleteBookmark:"));
    connect(remove, &QAction::triggered, this, [this, remove] {
        if (const Bookmark* bookmark = selectedBookmark()) {
            remove->setProperty("tag", bookmark->line);
            sendToWindow("deleteBookmark:", remove);
        }
    });
    actionMenu_->addSeparator();
    actionMenu_->addAction(tr("Next Bookmark"), [this] { project_->jumpToNextBookmark(); });
    actionMenu_->addAction(tr("Previous Bookmark"), [this] { project_->jumpToPreviousBookmark(); });
    for (QAction* needsSelection : {goTo, remove})
        needsSelection->setProperty("needsSelection", true);

    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(6, 2, 6, 2);
    const struct {
        const char* name;
        QString text;
        QString tip;
        QMenu* menu;
    } buttons[] = {{"addButton", QStringLiteral("+"), tr("Insert or delete a bookmark"), addMenu_},
                   {"actionButton", QStringLiteral("⋯"), tr("Bookmark actions"), actionMenu_}};
    for (const auto& b : buttons) {
        auto* button = new QToolButton(column);
        button->setObjectName(QString::fromLatin1(b.name));
        button->setText(b.text);
        button->setToolTip(b.tip);
        button->setAutoRaise(true);
        QMenu* menu = b.menu;
        connect(menu, &QMenu::aboutToShow, this, [this, menu] { validateButtonMenu(*menu); });
        connect(button, &QToolButton::clicked, button,
                [button, menu] { menu->popup(button->mapToGlobal(QPoint(0, button->height()))); });
        bar->addWidget(button);
    }
    bar->addStretch(1);

    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(table_, 1);
    layout->addLayout(bar);
    return column;
}

void BookmarkListController::viewDidLoad() {
    QObject::connect(table_, &QListWidget::itemDoubleClicked, this, [this] { goToSelectedBookmark(); });
    QObject::connect(table_, &QWidget::customContextMenuRequested, this,
                     [this](const QPoint& position) { showContextMenu(position); });
    QObject::connect(contextMenu_, &QMenu::aboutToShow, this, [this] {
        for (QAction* action : contextMenu_->actions())
            action->setEnabled(hasValidClickedRow());
    });
    table_->installEventFilter(this);
    table_->viewport()->installEventFilter(this);
    project_->registerEventListener(shared_from_this());
    reloadBookmarks();
}

QListWidget& BookmarkListController::tableView() {
    view();
    return *table_;
}

QMenu& BookmarkListController::addButtonMenu() {
    view();
    return *addMenu_;
}

QMenu& BookmarkListController::actionButtonMenu() {
    view();
    return *actionMenu_;
}

QMenu& BookmarkListController::contextMenu() {
    view();
    return *contextMenu_;
}

void BookmarkListController::projectEditorDidChange(Project& project) {
    // Only a new layout of the lines can move bookmarks; the editor's other state (lock, mode,
    // typing attributes) changes nothing here.
    const std::vector<Editor::LineRange>& lines = project.editor().lineRanges;
    if (!table_ || reloadQueued_ || project.linesRevision() == readLines_)
        return;
    // Lines that end where the project's text ends are its own (a new layout, a hand-over).
    const qsizetype length = project.document().text.string().size();
    const int end = lines.empty() ? 0 : lines.back().range.location + lines.back().range.length;
    if (end == length) {
        reloadBookmarks();
        return;
    }
    // Otherwise they are the lines of an edit whose hand-over is not yet due. The editor says so
    // only once the edit is done: ask on the next turn of the event loop.
    reloadQueued_ = true;
    QTimer::singleShot(0, this, [self = weak_from_this()] {
        if (const auto list = self.lock()) {
            list->reloadQueued_ = false;
            list->reloadBookmarks();
        }
    });
}

void BookmarkListController::reloadBookmarks() {
    if (!table_ || isEditorAhead())
        return;
    readLines_ = project_->linesRevision();
    std::vector<Bookmark> fresh = project_->bookmarks();
    if (fresh == bookmarks_)
        return;

    std::vector<std::string> selectedIds;
    for (const QModelIndex& index : table_->selectionModel()->selectedRows())
        if (isValidRow(index.row()))
            selectedIds.push_back(bookmarks_[static_cast<size_t>(index.row())].id);
    const int scrolled = table_->verticalScrollBar()->value();
    table_->setUpdatesEnabled(false);

    // The rows that stay: the same bookmarks at the start and at the end of both lists. Between
    // them the old rows go and the new ones come; rows that stay change only their labels.
    const size_t oldCount = bookmarks_.size();
    const size_t newCount = fresh.size();
    size_t head = 0;
    while (head < oldCount && head < newCount && isSameBookmark(bookmarks_[head], fresh[head]))
        ++head;
    size_t tail = 0;
    while (tail < oldCount - head && tail < newCount - head &&
           isSameBookmark(bookmarks_[oldCount - 1 - tail], fresh[newCount - 1 - tail]))
        ++tail;
    // Same count and nothing matched in between: the same rows show other bookmarks.
    if (oldCount == newCount) {
        head = oldCount;
        tail = 0;
    }
    bookmarks_ = std::move(fresh);
    for (size_t removed = oldCount - head - tail; removed > 0; --removed)
        delete table_->takeItem(int(head));
    for (size_t row = head; row < newCount - tail; ++row)
        insertRow(int(row));
    for (int row = 0; row < int(newCount); ++row) {
        QLabel* text = cellLabel(row);
        const QString shown = label(bookmarks_[size_t(row)]);
        if (text && text->text() != shown)
            text->setText(shown);
    }

    // The same bookmarks stay selected where their rows went.
    bool selectedAny = false;
    for (int row = 0; row < int(newCount); ++row) {
        const bool keep = std::find(selectedIds.begin(), selectedIds.end(),
                                    bookmarks_[static_cast<size_t>(row)].id) != selectedIds.end();
        if (keep && !table_->item(row)->isSelected())
            table_->item(row)->setSelected(true);
        selectedAny = selectedAny || keep;
    }
    if (selectedAny && table_->currentRow() < 0)
        table_->setCurrentRow(table_->selectionModel()->selectedRows().front().row(),
                              QItemSelectionModel::NoUpdate);
    table_->verticalScrollBar()->setValue(scrolled);
    table_->setUpdatesEnabled(true);
}

QListWidgetItem* BookmarkListController::insertRow(int row) {
    auto* item = new QListWidgetItem;
    table_->insertItem(row, item);
    QWidget* cell = makeCellView(row);
    // As wide as the column: the label gives way, not the row.
    item->setSizeHint(QSize(table_->viewport()->width(), cell->sizeHint().height()));
    table_->setItemWidget(item, cell);
    auto* button = cell->findChild<QToolButton*>(QStringLiteral("button"));
    // The row is asked when clicked: rows above may have come or gone since.
    QObject::connect(button, &QToolButton::clicked, this,
                     [this, item] { handleCellButton(table_->row(item)); });
    return item;
}

QWidget* BookmarkListController::makeCellView(int row) {
    if (!isValidRow(row))
        return nullptr;
    auto* cell = new QWidget;
    auto* text = new ElidedLabel(label(bookmarks_[static_cast<size_t>(row)]), cell);
    text->setObjectName(QStringLiteral("label"));
    text->setTextFormat(Qt::PlainText);
    text->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    auto* note = new QLineEdit(cell);
    note->setObjectName(QStringLiteral("noteEditor"));
    note->setPlaceholderText(tr("Note"));
    note->hide();
    note->installEventFilter(this);
    auto* button = new QToolButton(cell);
    button->setObjectName(QStringLiteral("button"));
    button->setArrowType(Qt::RightArrow);
    button->setAutoRaise(true);
    button->setToolTip(tr("Go to Bookmark"));
    auto* layout = new QHBoxLayout(cell);
    layout->setContentsMargins(8, 3, 4, 3);
    layout->addWidget(text, 1);
    layout->addWidget(note, 1);
    layout->addWidget(button);
    return cell;
}

QToolButton* BookmarkListController::cellButton(int row) {
    if (!isValidRow(row) || !tableView().item(row))
        return nullptr;
    QWidget* cell = table_->itemWidget(table_->item(row));
    return cell ? cell->findChild<QToolButton*>(QStringLiteral("button")) : nullptr;
}

QLabel* BookmarkListController::cellLabel(int row) {
    if (!isValidRow(row) || !tableView().item(row))
        return nullptr;
    QWidget* cell = table_->itemWidget(table_->item(row));
    return cell ? cell->findChild<QLabel*>(QStringLiteral("label")) : nullptr;
}

QLineEdit* BookmarkListController::cellNoteEditor(int row) {
    if (!isValidRow(row) || !tableView().item(row))
        return nullptr;
    QWidget* cell = table_->itemWidget(table_->item(row));
    return cell ? cell->findChild<QLineEdit*>(QStringLiteral("noteEditor")) : nullptr;
}

void BookmarkListController::renameClickedBookmark() {
    if (hasValidClickedRow())
        beginRename(clickedRow_);
}

void BookmarkListController::beginRename(int row) {
    QLineEdit* note = cellNoteEditor(row);
    QLabel* text = cellLabel(row);
    if (!note || !text || !renamer_)
        return;
    endRename(RenameEnd::cancel);
    const Bookmark& bookmark = bookmarks_[static_cast<size_t>(row)];
    note->setText(bookmark.userBlurb.empty() ? QString::fromStdString(bookmark.excerpt).remove(u'*').trimmed()
                                             : QString::fromStdString(bookmark.userBlurb));
    renameShown_ = note->text();
    text->hide();
    note->show();
    renaming_ = note;
    table_->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
    note->setFocus(Qt::OtherFocusReason);
    note->selectAll();
}

int BookmarkListController::renamingRow() const {
    if (!renaming_ || !table_)
        return -1;
    for (int row = 0; row < table_->count(); ++row)
        if (table_->itemWidget(table_->item(row)) == renaming_->parentWidget())
            return row;
    return -1;
}

void BookmarkListController::endRename(RenameEnd end) {
    const int row = renamingRow();
    QLineEdit* note = renaming_;
    renaming_ = nullptr;
    if (!note || row < 0)
        return;
    note->hide();
    if (QLabel* text = cellLabel(row))
        text->show();
    table_->setFocus(Qt::OtherFocusReason);
    // Left as it was shown, the note changes nothing: the script is not edited.
    if (end == RenameEnd::store && renamer_ && note->text().trimmed() != renameShown_.trimmed()) {
        // The renamer changes the text, whose change reloads this list: copy the bookmark first.
        const Bookmark bookmark = bookmarks_[static_cast<size_t>(row)];
        renamer_(bookmark, note->text().trimmed());
    }
}

const Bookmark* BookmarkListController::selectedBookmark() const {
    if (!table_)
        return nullptr;
    const QModelIndexList selected = table_->selectionModel()->selectedRows();
    if (selected.isEmpty() || !isValidRow(selected.front().row()))
        return nullptr;
    return &bookmarks_[static_cast<size_t>(selected.front().row())];
}

void BookmarkListController::sendToWindow(std::string_view action, QAction* item) {
    platform::sendAction(action, table_->window(), item);
}

void BookmarkListController::validateButtonMenu(QMenu& menu) {
    for (QAction* item : menu.actions()) {
        if (item->isSeparator())
            continue;
        bool enabled = !item->property("needsSelection").toBool() || selectedBookmark() != nullptr;
        const std::string action = item->property("cwAction").toString().toStdString();
        if (!action.empty()) {
            platform::ActionResponder* responder =
                platform::responderForAction(action, table_->window(), item);
            enabled = enabled && responder && responder->validateAction(action);
            if (responder)
                if (const std::optional<QString> title = responder->titleForAction(action, item))
                    item->setText(*title);
        }
        item->setEnabled(enabled);
    }
}

void BookmarkListController::setClickedRow(int row) {
    clickedRow_ = row;
}

bool BookmarkListController::hasValidClickedRow() const {
    return isValidRow(clickedRow_);
}

void BookmarkListController::jumpTo(const Bookmark& bookmark) {
    const int lineCount = project_->editor().lineCount;
    // Without a laid-out line there is nowhere to go (and nothing to divide by).
    if (lineCount <= 0)
        return;
    project_->setProgress(jumpProgress(bookmark, lineCount), /*animated=*/false, /*immediate=*/true);
}

void BookmarkListController::goToSelectedBookmark() {
    if (const Bookmark* bookmark = selectedBookmark())
        jumpTo(*bookmark);
}

void BookmarkListController::goToClickedBookmark() {
    if (hasValidClickedRow())
        jumpTo(bookmarks_[static_cast<size_t>(clickedRow_)]);
}

void BookmarkListController::deleteClickedBookmark() {
    if (!hasValidClickedRow() || !remover_)
        return;
    // The remover changes the text, whose change reloads this list: copy the bookmark first.
    const Bookmark bookmark = bookmarks_[static_cast<size_t>(clickedRow_)];
    remover_(bookmark);
}

void BookmarkListController::handleCellButton(int row) {
    if (!isValidRow(row) || !table_)
        return;
    table_->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
    jumpTo(bookmarks_[static_cast<size_t>(row)]);
}

void BookmarkListController::showContextMenu(const QPoint& position) {
    const QModelIndex index = table_->indexAt(position);
    setClickedRow(index.isValid() ? index.row() : -1);
    contextMenu_->popup(table_->viewport()->mapToGlobal(position));
}

bool BookmarkListController::eventFilter(QObject* watched, QEvent* event) {
    if (table_ && watched == table_->viewport() && event->type() == QEvent::Resize) {
        // The rows follow the column's width (the list lays its rows out at their own).
        const int width = table_->viewport()->width();
        for (int row = 0; row < table_->count(); ++row) {
            QListWidgetItem* item = table_->item(row);
            if (item->sizeHint().width() != width)
                item->setSizeHint(QSize(width, item->sizeHint().height()));
        }
        return false;
    }
    if (renaming_ && watched == renaming_) {
        if (event->type() == QEvent::FocusOut &&
            static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason) {
            // Leaving the field (a click elsewhere, another window) keeps the old note.
            QTimer::singleShot(0, this, [this, left = renaming_] {
                if (left && renaming_ == left)
                    endRename(RenameEnd::cancel);
            });
            return false;
        }
        if (event->type() != QEvent::KeyPress)
            return false;
        switch (static_cast<QKeyEvent*>(event)->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            endRename(RenameEnd::store);
            return true;
        case Qt::Key_Escape:
            endRename(RenameEnd::cancel);
            return true;
        default:
            return false;
        }
    }
    if (watched == table_ &&
        (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress)) {
        // Undo and redo of the list's edits, which are the text's, whatever the menu items were
        // last validated for.
        auto* key = static_cast<QKeyEvent*>(event);
        const auto command = platform::standardCommandOfKey(key->keyCombination());
        if (command == QKeySequence::Undo || command == QKeySequence::Redo) {
            if (event->type() == QEvent::KeyPress)
                platform::sendAction(command == QKeySequence::Undo ? "undo:" : "redo:", nullptr, table_);
            event->accept();
            return true;
        }
    }
    if (watched != table_ || event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        goToSelectedBookmark();
        return true;
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
        // Deleting from the keyboard is not offered; the key must not reach the table either.
        return true;
    default:
        return QObject::eventFilter(watched, event);
    }
}

} // namespace cw::editor
