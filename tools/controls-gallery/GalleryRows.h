// The controls the gallery draws: one row per control.
#pragma once

#include <QSize>

#include <vector>

class QWidget;

namespace cw::gallery {

struct GalleryRow {
    const char* name;                              // the image is NAME-light.png / NAME-dark.png
    QSize size;                                    // the control fills the whole image
    QWidget* (*make)(QWidget* parent, QSize size); // a control of that size inside `parent`
};

const std::vector<GalleryRow>& galleryRows();

} // namespace cw::gallery
