#include "GalleryRows.h"

#include "cuewright/controls/ActionableLabelDivider.h"
#include "cuewright/controls/ButtonLabel.h"
#include "cuewright/controls/ColorWell.h"
#include "cuewright/controls/LabelButton.h"
#include "cuewright/controls/LabeledDivider.h"
#include "cuewright/controls/LinkLabel.h"
#include "cuewright/controls/NormalSlider.h"
#include "cuewright/controls/ProminentButton.h"
#include "cuewright/controls/PrompterColorWell.h"
#include "cuewright/controls/RangeSlider.h"
#include "cuewright/controls/TimeControl.h"

namespace cw::gallery {

namespace {

template <typename Control> QWidget* sized(Control* control, QSize size) {
    control->resize(size);
    return control;
}

} // namespace

const std::vector<GalleryRow>& galleryRows() {
    using namespace cw::controls;
    static const std::vector<GalleryRow> rows = {
        {"labeled-divider",
         {200, 20},
         [](QWidget* parent, QSize size) -> QWidget* {
             auto* divider = new LabeledDivider(parent);
             divider->setTitle("Presentation");
             return sized(divider, size);
         }},
        {"actionable-label-divider",
         {200, 20},
         [](QWidget* parent, QSize size) -> QWidget* {
             auto* divider = new ActionableLabelDivider(parent);
             divider->setTitle("Speed (words per minute)");
             return sized(divider, size);
         }},
        {"label-button",
         {80, 20},
         [](QWidget* parent, QSize size) -> QWidget* { return sized(new LabelButton(parent), size); }},
        {"link-label",
         {240, 26},
         [](QWidget* parent, QSize size) -> QWidget* { return sized(new LinkLabel(parent), size); }},
        {"button-label",
         {160, 26},
         [](QWidget* parent, QSize size) -> QWidget* { return sized(new ButtonLabel(parent), size); }},
        {"prominent-button",
         {260, 44},
         [](QWidget* parent, QSize size) -> QWidget* { return sized(new ProminentButton(parent), size); }},
        {"color-well",
         {60, 24},
         [](QWidget* parent, QSize size) -> QWidget* {
             auto* well = new ColorWell(parent);
             well->setColor(Qt::red);
             return sized(well, size);
         }},
        {"prompter-color-well",
         {60, 24},
         [](QWidget* parent, QSize size) -> QWidget* {
             auto* well = new PrompterColorWell(parent);
             well->setColor(Qt::blue);
             return sized(well, size);
         }},
        {"normal-slider",
         {200, 24},
         [](QWidget* parent, QSize size) -> QWidget* {
             auto* slider = new NormalSlider(parent);
             slider->setValue(0.4);
             return sized(slider, size);
         }},
        {"range-slider",
         {200, 24},
         [](QWidget* parent, QSize size) -> QWidget* {
             auto* slider = new RangeSlider(parent);
             slider->setRange(0, 6);
             slider->setValues(1, 4);
             return sized(slider, size);
         }},
        {"time-control",
         {120, 24},
         [](QWidget* parent, QSize size) -> QWidget* {
             auto* control = new TimeControl(parent);
             control->setTime(36, 5, 9);
             return sized(control, size);
         }},
    };
    return rows;
}

} // namespace cw::gallery
