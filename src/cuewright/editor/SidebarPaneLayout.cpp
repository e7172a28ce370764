#include "cuewright/editor/SidebarPaneLayout.h"

#include "cuewright/controls/LabelButton.h"
#include "cuewright/controls/LabeledDivider.h"

#include <QBoxLayout>
#include <QGridLayout>
#include <QLabel>
#include <QSlider>
#include <QWidget>

#include <string>

namespace cw::editor::paneform {

namespace {
constexpr int captionWidth = 72;
constexpr int captionFontSize = 12;
} // namespace

QBoxLayout* column(QWidget* pane) {
    auto* layout = new QVBoxLayout(pane);
    layout->setContentsMargins(margin, 8, margin, margin);
    layout->setSpacing(rowGap);
    layout->setAlignment(Qt::AlignTop);
    return layout;
}

controls::LabeledDivider* divider(const QString& title, QWidget* parent) {
    auto* d = new controls::LabeledDivider(parent);
    d->setTitle(title);
    return d;
}

void addHeader(QBoxLayout* column, controls::LabeledDivider* divider, controls::LabelButton* reset) {
    if (column->count() > 0)
        column->addSpacing(sectionGap - column->spacing());
    // One cell: the divider's line runs the full width, under the button as under the title.
    auto* header = new QGridLayout;
    header->setContentsMargins(0, 0, 0, 0);
    controls::LabeledDivider::Style style = divider->style();
    style.labelMarginLeft = 0;
    style.labelAreaHeight = 20;
    style.labelBaseline = 3;
    divider->setStyle(style);
    divider->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    header->addWidget(divider, 0, 0);
    if (reset) {
        reset->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        header->addWidget(reset, 0, 0, Qt::AlignRight | Qt::AlignTop);
        // Sharing the divider's cell, the button must lie above it to get its clicks, whichever
        // of the two was made first.
        reset->raise();
    }
    column->addLayout(header);
}

controls::LabelButton* resetButton(QObject* target, std::string_view action, QWidget* parent) {
    auto* button = new controls::LabelButton(parent);
    button->setTitle(QObject::tr("Reset"));
    button->setActionBinding({target, std::string(action)});
    return button;
}

QSlider* slider(int min, int max, QWidget* parent) {
    auto* s = new QSlider(Qt::Horizontal, parent);
    s->setRange(min, max);
    s->setFocusPolicy(Qt::TabFocus);
    return s;
}

QLabel* caption(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setPixelSize(11);
    label->setFont(font);
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

QBoxLayout* row(QBoxLayout* column, const QString& text) {
    auto* r = new QHBoxLayout;
    r->setContentsMargins(0, 0, 0, 0);
    r->setSpacing(8);
    if (!text.isEmpty()) {
        auto* label = new QLabel(text);
        QFont font = label->font();
        font.setPixelSize(captionFontSize);
        label->setFont(font);
        label->setFixedWidth(captionWidth);
        r->addWidget(label);
    }
    column->addLayout(r);
    return r;
}

} // namespace cw::editor::paneform
