// The transport row's images, drawn in code and looked up by name like bundle images.
#pragma once

#include <QColor>
#include <QImage>
#include <QSize>
#include <QString>

#include <functional>

class QWidget;

namespace cw::controls {

// The image named `name` at `pixels`: "transport_<glyph>_<normal|active|disabled>[_HS]" for a
// button glyph, "transport_schwatte[_HS]" for the row's background plate. "_HS" is the dark
// appearance's artwork. A name that names no artwork, or an empty size, gives a null image.
QImage transportArtwork(const QString& name, QSize pixels);

// A copy of `image` whose opaque pixels take `color` in proportion to their alpha; a null image
// gives a transparent 32 × 32 one.
QImage tinted(const QImage& image, const QColor& color);

// For a paint event: `image`, made at the widget's size in device pixels, drawn stretched into
// its bounds aligned to device pixels. A null image draws nothing.
void paintArtwork(QWidget& widget, const std::function<QImage(QSize pixels)>& image);

} // namespace cw::controls
