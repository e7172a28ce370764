// What the sidebar's panes share: their named actions and the pieces their forms are built of.
#pragma once

#include "platform/ui/ActionRoute.h"

#include <QString>

#include <array>
#include <cstddef>
#include <string_view>

class QBoxLayout;
class QLabel;
class QObject;
class QSlider;
class QWidget;

namespace cw::controls {
class LabelButton;
class LabeledDivider;
} // namespace cw::controls

namespace cw::editor {

// One named action of a pane ("resetScrollSpeed:") and the member that performs it.
template <class Pane> struct PaneAction {
    std::string_view name;
    void (Pane::*perform)();
};

// The entry named `name`, or null.
template <class Pane, std::size_t N>
const PaneAction<Pane>* findPaneAction(const std::array<PaneAction<Pane>, N>& table, std::string_view name) {
    for (const auto& action : table)
        if (action.name == name)
            return &action;
    return nullptr;
}

// A pane's form: a column of sections, each a header over rows of controls.
namespace paneform {

// Outer margins of a pane and the gaps inside it.
inline constexpr int margin = 12;
inline constexpr int sectionGap = 14;
inline constexpr int rowGap = 6;

// The pane's column: margins, spacing, controls packed at the top.
QBoxLayout* column(QWidget* pane);
// A section divider titled `title`, for addHeader().
controls::LabeledDivider* divider(const QString& title, QWidget* parent);
// A section header: the divider with the title, and (when given) a "Reset" button at its right end.
void addHeader(QBoxLayout* column, controls::LabeledDivider* divider, controls::LabelButton* reset = nullptr);
// A "Reset" label button sending `action` to `target`.
controls::LabelButton* resetButton(QObject* target, std::string_view action, QWidget* parent);
// A horizontal slider over min...max.
QSlider* slider(int min, int max, QWidget* parent);
// A caption in the small secondary text of the sidebar.
QLabel* caption(const QString& text, QWidget* parent);
// A row: an optional leading caption of fixed width, then the widgets.
QBoxLayout* row(QBoxLayout* column, const QString& caption = {});

} // namespace paneform

} // namespace cw::editor
