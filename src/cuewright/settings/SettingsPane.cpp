#include "cuewright/settings/SettingsPane.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>

#include <algorithm>

namespace cw {

SettingsPane::SettingsPane(HelpPage helpPage, platform::Defaults& defaults,
                           platform::NotificationCenter& center, QObject* parent)
    : platform::ViewController(parent)
    , defaults_(defaults)
    , center_(center)
    , helpPage_(helpPage) {}

SettingsPane::~SettingsPane() {
    center_.removeObserver(this);
}

void SettingsPane::showHelp() {
    openHelpPage(helpPage_);
}

bool SettingsPane::respondsToAction(std::string_view action) const {
    return action == "showHelp:";
}

void SettingsPane::performAction(std::string_view action, QObject*) {
    if (action == "showHelp:")
        showHelp();
}

void SettingsPane::attachToView() {
    attachment_ = std::make_unique<platform::ResponderAttachment>(view(), this);
}

void SettingsForm::fitWrappedText(QLabel* label) {
    // A grid gives wrapped text the height of one line unless the label asks for more.
    constexpr int width = SettingsPane::paneWidth - 2 * sideMargin - labelColumnWidth - columnGap;
    label->setWordWrap(true);
    label->setFixedWidth(width);
    // An empty label has no height for a width (-1): none.
    label->setMinimumHeight(std::max(0, label->heightForWidth(width)));
}

SettingsForm::SettingsForm(QWidget* view, SettingsPane* pane)
    : grid_(new QGridLayout(view))
    , pane_(pane)
    , view_(view) {
    grid_->setContentsMargins(sideMargin, 22, sideMargin, 16);
    grid_->setHorizontalSpacing(columnGap);
    grid_->setVerticalSpacing(9);
    grid_->setColumnMinimumWidth(0, labelColumnWidth);
    grid_->setColumnStretch(1, 1);
    view->setFixedWidth(SettingsPane::paneWidth);
}

QLabel* SettingsForm::addRow(const QString& label, QWidget* field) {
    auto* l = new QLabel(label.isEmpty() ? QString() : label + u':', view_);
    l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    if (!label.isEmpty())
        l->setBuddy(field);
    grid_->addWidget(l, row_, 0);
    grid_->addWidget(field, row_, 1, Qt::AlignLeft | Qt::AlignVCenter);
    ++row_;
    return l;
}

QLabel* SettingsForm::addRow(const QString& label, QLayout* field) {
    auto* holder = new QWidget(view_);
    field->setContentsMargins(0, 0, 0, 0);
    holder->setLayout(field);
    QLabel* l = addRow(label, holder);
    grid_->removeWidget(holder);
    grid_->addWidget(holder, row_ - 1, 1);
    return l;
}

QLabel* SettingsForm::addNote(const QString& text) {
    auto* note = new QLabel(text, view_);
    note->setWordWrap(true);
    note->setForegroundRole(QPalette::PlaceholderText);
    QFont small = note->font();
    small.setPointSizeF(small.pointSizeF() * 0.88);
    note->setFont(small);
    fitWrappedText(note);
    grid_->addWidget(note, row_++, 1);
    return note;
}

void SettingsForm::addSeparator() {
    auto* line = new QFrame(view_);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    grid_->setRowMinimumHeight(row_, 6);
    grid_->addWidget(line, row_ + 1, 0, 1, 2);
    grid_->setRowMinimumHeight(row_ + 2, 6);
    row_ += 3;
}

void SettingsForm::finish() {
    grid_->setRowMinimumHeight(row_++, 8);
    auto* help = new QToolButton(view_);
    help->setText(QStringLiteral("?"));
    help->setToolTip(QObject::tr("Help"));
    help->setAccessibleName(QObject::tr("Help"));
    help->setFixedSize(24, 24);
    QObject::connect(help, &QToolButton::clicked, pane_, [pane = pane_] { pane->showHelp(); });
    grid_->addWidget(help, row_, 1, Qt::AlignRight);
    // Wrapped texts need the width to know their height.
    const int height = grid_->hasHeightForWidth() ? grid_->totalHeightForWidth(SettingsPane::paneWidth)
                                                  : view_->sizeHint().height();
    view_->setFixedHeight(height);
}

} // namespace cw
