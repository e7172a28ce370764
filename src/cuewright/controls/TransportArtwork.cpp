#include "cuewright/controls/TransportArtwork.h"

#include "cuewright/controls/ControlPainting.h"
#include "platform/layers/LayerPainting.h"

#include <QPainter>
#include <QPainterPath>
#include <QStringList>
#include <QWidget>

#include <algorithm>
#include <array>
#include <cmath>
#include <string_view>

namespace cw::controls {

namespace {

// Glyph outlines in a 24 × 24 box; y grows downwards.
QPainterPath triangle(double left, double right, bool pointsRight) {
    QPainterPath path;
    const double tip = pointsRight ? right : left;
    const double base = pointsRight ? left : right;
    path.moveTo(base, 5);
    path.lineTo(tip, 12);
    path.lineTo(base, 19);
    path.closeSubpath();
    return path;
}

QPainterPath bar(double left, double width) {
    QPainterPath path;
    path.addRect(QRectF(left, 5, width, 14));
    return path;
}

QPainterPath pauseBars(double left) {
    return bar(left, 3.5) + bar(left + 6, 3.5);
}

struct Glyph {
    std::string_view name;
    QPainterPath (*outline)();
};

const std::array<Glyph, 10>& glyphs() {
    static const std::array<Glyph, 10> table{{
        {"beginning", [] { return bar(5, 2.5) + triangle(7.5, 18, false); }},
        {"slower", [] { return triangle(3, 12, false) + triangle(12, 21, false); }},
        {"playBackward", [] { return triangle(6, 17, false); }},
        {"pauseBackward", [] { return triangle(3, 8, false) + pauseBars(10.5); }},
        {"pauseForward", [] { return pauseBars(4) + triangle(16, 21, true); }},
        {"pause", [] { return pauseBars(7.25); }},
        {"stop",
         [] {
             QPainterPath path;
             path.addRect(QRectF(6.5, 6.5, 11, 11));
             return path;
         }},
        {"playForward", [] { return triangle(7, 18, true); }},
        {"faster", [] { return triangle(3, 12, true) + triangle(12, 21, true); }},
        {"ending", [] { return triangle(6, 16.5, true) + bar(16.5, 2.5); }},
    }};
    return table;
}

enum class Look { normal, active, disabled };

struct Colors {
    QColor glyph;
    QColor plate; // behind the glyph; transparent for none
};

Colors colorsFor(Look look, bool dark) {
    switch (look) {
    case Look::normal:
        return {dark ? QColor(225, 225, 225) : QColor(64, 64, 64), Qt::transparent};
    case Look::active:
        return {dark ? QColor(255, 255, 255) : QColor(0, 0, 0),
                dark ? QColor(255, 255, 255, 60) : QColor(0, 0, 0, 40)};
    case Look::disabled:
        return {dark ? QColor(120, 120, 120) : QColor(150, 150, 150), Qt::transparent};
    }
    return {};
}

// Null when it cannot be made (too large, or no memory for it).
QImage blankImage(QSize pixels) {
    if (!platform::layers::imageFits(pixels))
        return {};
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

QImage drawGlyph(const Glyph& glyph, Look look, bool dark, QSize pixels) {
    QImage image = blankImage(pixels);
    if (image.isNull())
        return image;
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const Colors colors = colorsFor(look, dark);
    if (colors.plate.alpha() > 0) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(colors.plate);
        const double radius = std::min(pixels.width(), pixels.height()) * 0.25;
        painter.drawRoundedRect(QRectF(QPointF(0, 0), QSizeF(pixels)), radius, radius);
    }
    // The 24-point box, as large as fits, centred.
    const double scale = std::min(pixels.width(), pixels.height()) / 24.0;
    painter.translate((pixels.width() - 24 * scale) / 2, (pixels.height() - 24 * scale) / 2);
    painter.scale(scale, scale);
    painter.fillPath(glyph.outline(), colors.glyph);
    return image;
}

QImage drawPlate(bool dark, QSize pixels) {
    QImage image = blankImage(pixels);
    if (image.isNull())
        return image;
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = QRectF(QPointF(0, 0), QSizeF(pixels)).adjusted(0.5, 0.5, -0.5, -0.5);
    const double radius = std::min(bounds.width(), bounds.height()) * 0.3;
    QLinearGradient fill(bounds.topLeft(), bounds.bottomLeft());
    fill.setColorAt(0, dark ? QColor(70, 70, 70) : QColor(250, 250, 250));
    fill.setColorAt(1, dark ? QColor(45, 45, 45) : QColor(218, 218, 218));
    painter.setBrush(fill);
    painter.setPen(QPen(dark ? QColor(0, 0, 0, 140) : QColor(0, 0, 0, 70), 1));
    painter.drawRoundedRect(bounds, radius, radius);
    return image;
}

} // namespace

QImage transportArtwork(const QString& name, QSize pixels) {
    if (pixels.isEmpty())
        return {};
    QStringList parts = name.split(u'_');
    if (parts.size() < 2 || parts.front() != u"transport")
        return {};
    parts.removeFirst();
    const bool dark = parts.back() == u"HS";
    if (dark)
        parts.removeLast();
    if (parts.size() == 1 && parts[0] == u"schwatte")
        return drawPlate(dark, pixels);
    if (parts.size() != 2)
        return {};
    Look look = Look::normal;
    if (parts[1] == u"active")
        look = Look::active;
    else if (parts[1] == u"disabled")
        look = Look::disabled;
    else if (parts[1] != u"normal")
        return {};
    for (const Glyph& glyph : glyphs())
        if (parts[0] == QLatin1String(glyph.name.data(), qsizetype(glyph.name.size())))
            return drawGlyph(glyph, look, dark, pixels);
    return {};
}

QImage tinted(const QImage& image, const QColor& color) {
    if (image.isNull())
        return blankImage(QSize(32, 32));
    QImage copy = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&copy);
    painter.setCompositionMode(QPainter::CompositionMode_SourceAtop);
    painter.fillRect(copy.rect(), color);
    return copy;
}

void paintArtwork(QWidget& widget, const std::function<QImage(QSize pixels)>& image) {
    const double ratio = widget.devicePixelRatioF();
    const QRectF bounds = alignedToDevicePixels(QRectF(widget.rect()), ratio);
    QPainter painter(&widget);
    // A window too large for its pixels (a huge size or scale factor) shows no artwork.
    const QSize pixels = platform::layers::imagePixels(bounds.size(), ratio);
    if (!platform::layers::imageFits(pixels) || !platform::layers::canDrawImages(painter))
        return;
    const QImage drawn = image(pixels);
    if (drawn.isNull())
        return;
    painter.drawImage(bounds, drawn);
}

} // namespace cw::controls
