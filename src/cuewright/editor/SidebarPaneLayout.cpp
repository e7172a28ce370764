#include "cuewright/editor/SidebarPaneLayout.h"

#include "cuewright/controls/LabelButton.h"
#include "cuewright/controls/LabeledDivider.h"

#include <QBoxLayout>
#include <QLabel>
#include <QSlider>
#include <QWidget>

#include <string>

namespace cw::editor::paneform {

namespace {
constexpr int captionWidth = 64;
}

QBoxLayout* column(QWidget* pane) {
    auto* layout = new QVBoxLayout(pane);
    layout->setContentsMargins(margin, 8, margin, margin);
    layout->setSpacing(rowGap);
    layout->setAlignment(Qt::AlignTop);
    return layout;
}

void addHeader(QBoxLayout* column, controls::LabeledDivider* divider, controls::LabelButton* reset) {
    if (column->count() > 0)
        column->addSpacing(sectionGap - column->spacing());
    auto* header = new QHBoxLayout;
    header->setContentsMargins(0, 0, 0, 0);
    header->setSpacing(0);
    controls::LabeledDivider::Style style = divider->style();
    style.labelMarginLeft = 0;
    style.labelAreaHeight = 18;
    divider->setStyle(style);
    divider->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    header->addWidget(divider, 1);
    if (reset) {
        // The button sits on the divider's line, level with the title.
        reset->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        header->addWidget(reset, 0, Qt::AlignBottom);
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
        label->setFixedWidth(captionWidth);
        r->addWidget(label);
    }
    column->addLayout(r);
    return r;
}

} // namespace cw::editor::paneform
