#include "platform/text/Font.h"

#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QScreen>

namespace platform {

// Qt sizes fonts in typographic points at the screen's logical DPI; ours are pixels.
static double pointsPerPixel() {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr) {
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            const double dpi = screen->logicalDotsPerInchY();
            if (dpi > 0) {
                return 72.0 / dpi;
            }
        }
    }
    return 72.0 / 96.0;
}

Font Font::systemFont(double pointSize) {
    QString family = QStringLiteral("Sans Serif");
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr) {
        family = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    }
    return Font{family, pointSize, false, false};
}

Font Font::withPointSize(double size) const {
    Font f = *this;
    f.pointSize = size;
    return f;
}

Font Font::withTraits(bool isBold, bool isItalic) const {
    Font f = *this;
    f.bold = isBold;
    f.italic = isItalic;
    return f;
}

QFont Font::toQFont() const {
    QFont font(family);
    if (pointSize > 0) {
        font.setPointSizeF(pointSize * pointsPerPixel());
    }
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

Font Font::fromQFont(const QFont& font) {
    double size = font.pointSizeF();
    size = size > 0 ? size / pointsPerPixel() : font.pixelSize();
    return Font{font.family(), size, font.bold(), font.italic()};
}

} // namespace platform
