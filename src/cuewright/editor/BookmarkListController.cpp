#include "cuewright/editor/BookmarkListController.h"

#include "base/Log.h"
#include "cuewright/model/Project.h"
#include "dispatch/MainThreadChecker.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
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

QWidget* BookmarkListController::makeView() {
    auto* column = new QWidget;
    table_ = new QListWidget(column);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->setContextMenuPolicy(Qt::CustomContextMenu);
    table_->setFrameShape(QFrame::NoFrame);

    contextMenu_ = new QMenu(column);
    contextMenu_->addAction(tr("Go to Bookmark"), [this] { goToClickedBookmark(); });
    contextMenu_->addAction(tr("Delete Bookmark"), [this] { deleteClickedBookmark(); });
    contextMenu_->addAction(tr("Rename Bookmark"), [] { base::log("Renaming bookmark!"); });
    addMenu_ = new QMenu(column);
    actionMenu_ = new QMenu(column);

    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(6, 2, 6, 2);
    for (auto [text, menu] :
         {std::pair{QStringLiteral("+"), addMenu_}, std::pair{QStringLiteral("⋯"), actionMenu_}}) {
        auto* button = new QToolButton(column);
        button->setText(text);
        button->setAutoRaise(true);
        QObject::connect(button, &QToolButton::clicked, button,
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
    if (table_ && project.bookmarks() != bookmarks_)
        reloadBookmarks();
}

void BookmarkListController::reloadBookmarks() {
    if (!table_)
        return;
    std::vector<std::string> selectedIds;
    for (const QModelIndex& index : table_->selectionModel()->selectedRows())
        if (isValidRow(index.row()))
            selectedIds.push_back(bookmarks_[static_cast<size_t>(index.row())].id);

    bookmarks_ = project_->bookmarks();
    table_->clear();
    for (int row = 0; row < static_cast<int>(bookmarks_.size()); ++row) {
        auto* item = new QListWidgetItem(table_);
        QWidget* cell = makeCellView(row);
        item->setSizeHint(cell->sizeHint());
        table_->setItemWidget(item, cell);
    }

    // The same bookmarks stay selected where their rows went.
    bool selectedAny = false;
    for (int row = 0; row < static_cast<int>(bookmarks_.size()); ++row) {
        const bool keep = std::find(selectedIds.begin(), selectedIds.end(),
                                    bookmarks_[static_cast<size_t>(row)].id) != selectedIds.end();
        if (!keep)
            continue;
        table_->item(row)->setSelected(true);
        selectedAny = true;
    }
    if (selectedAny)
        table_->setCurrentRow(table_->selectionModel()->selectedRows().front().row(),
                              QItemSelectionModel::NoUpdate);
}

QWidget* BookmarkListController::makeCellView(int row) {
    if (!isValidRow(row))
        return nullptr;
    auto* cell = new QWidget;
    auto* text = new QLabel(label(bookmarks_[static_cast<size_t>(row)]), cell);
    text->setObjectName(QStringLiteral("label"));
    text->setTextFormat(Qt::PlainText);
    text->setMinimumWidth(1);
    auto* button = new QToolButton(cell);
    button->setObjectName(QStringLiteral("button"));
    button->setArrowType(Qt::RightArrow);
    button->setAutoRaise(true);
    button->setToolTip(tr("Go to Bookmark"));
    QObject::connect(button, &QToolButton::clicked, this, [this, row] { handleCellButton(row); });
    auto* layout = new QHBoxLayout(cell);
    layout->setContentsMargins(8, 3, 4, 3);
    layout->addWidget(text, 1);
    layout->addWidget(button);
    return cell;
}

QToolButton* BookmarkListController::cellButton(int row) {
    if (!isValidRow(row) || !tableView().item(row))
        return nullptr;
    QWidget* cell = table_->itemWidget(table_->item(row));
    return cell ? cell->findChild<QToolButton*>(QStringLiteral("button")) : nullptr;
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
    if (!table_)
        return;
    const QModelIndexList selected = table_->selectionModel()->selectedRows();
    if (selected.isEmpty() || !isValidRow(selected.front().row()))
        return;
    jumpTo(bookmarks_[static_cast<size_t>(selected.front().row())]);
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
