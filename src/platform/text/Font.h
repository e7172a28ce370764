// A font value: family, size in points and the bold and italic traits.
#pragma once

#include <QMetaType>
#include <QString>

class QFont;

namespace platform {

// One point of ours is one device-independent pixel, as on the desktop the scripts come from:
// toQFont() scales the size by the screen's logical DPI so that text measures the same.
struct Font {
    QString family;
    double pointSize = 12;
    bool bold = false;
    bool italic = false;

    // The desktop's general font at the given size.
    static Font systemFont(double pointSize);

    Font withPointSize(double size) const;
    Font withTraits(bool isBold, bool isItalic) const;

    QFont toQFont() const;
    static Font fromQFont(const QFont& font);

    friend bool operator==(const Font&, const Font&) = default;
};

} // namespace platform

Q_DECLARE_METATYPE(platform::Font)
