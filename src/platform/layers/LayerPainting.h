// Painting helpers shared by the layers: point-based images and upright drawing into the y-up space.
#pragma once

#include <QImage>
#include <QPoint>
#include <QRectF>

#include <optional>

class QPainter;
class QPaintDevice;

namespace platform::layers {

// Whether an ARGB image of `pixels` can be made and drawn: Qt's raster engine reaches an image's
// pixels through int byte offsets when it scales or transforms, and crashes past 2 GiB.
bool imageFits(QSize pixels);
// `points` at `scale` pixels per point, rounded; empty when that is no size or past what an int holds.
QSize imagePixels(QSizeF points, double scale);
// Whether images can be drawn through `painter`: its real device (a window's backing store, huge at a
// huge size or scale factor) fits as imageFits() says. Where it does not, images are skipped.
bool canDrawImages(const QPainter& painter);

// A transparent ARGB image of `points` at `scale` pixels per point, 72 dots per inch so that one font
// point is one point of layer space. Null when the size is empty or too large (imageFits()).
QImage makeLayerImage(QSizeF points, double scale);
// The pixel size makeLayerImage() gives (empty when it gives no image).
QSize layerImagePixels(QSizeF points, double scale);
// `image`, of makeLayerImage()'s pixel size, cleared and set up as makeLayerImage() sets up a new one.
QImage resetLayerImage(QImage image, double scale);

// A paint device at 72 dots per inch for measuring text (QTextLayout, QFontMetricsF) in layer points.
// Text measured against it lines up with what the layers draw.
QPaintDevice* layerMetricsDevice();

// Draws an image (row 0 at the visual top) into a rectangle of a y-up painter.
void drawImageUpright(QPainter& painter, const QRectF& rect, const QImage& image);

// Where drawImageUpright() would put the image's top-left pixel, in the painter's space after
// resetTransform(), when it would copy the image one to one at a whole-pixel offset (moved only: not
// mirrored or scaled, image and device at pixel ratio 1); nullopt otherwise. Lets a caller put down the
// same pixels another way.
std::optional<QPoint> uprightImageDeviceOrigin(const QPainter& painter, const QRectF& rect,
                                               const QImage& image);
// The same for an image of `pixels` at `devicePixelRatio`, without the image.
std::optional<QPoint> uprightImageDeviceOrigin(const QPainter& painter, const QRectF& rect, QSize pixels,
                                               double devicePixelRatio);

// Turns a y-up painter into a y-down one whose origin is the visual top-left corner of `rect`, for drawing
// text and images; wrap the call in save() and restore().
void flipToTopLeft(QPainter& painter, const QRectF& rect);

} // namespace platform::layers
