#include "platform/text/Bullets.h"

namespace platform {

namespace {

// Glyphs of the symbol fonts that lists use as bullets, by their code in the font.
QString symbolGlyph(char16_t code) {
    switch (code) {
    case 0xB7: // Symbol
        return QStringLiteral("\u2022");
    case 0xA7: // Wingdings from here on
        return QStringLiteral("\u25AA");
    case 0xD8:
        return QStringLiteral("\u27A2");
    case 0x76:
        return QStringLiteral("\u2756");
    case 0xFC:
        return QStringLiteral("\u2713");
    case 0x6C:
        return QStringLiteral("\u25CF");
    case 0x6E:
        return QStringLiteral("\u25A0");
    case 0x6F:
        return QStringLiteral("\u25A1");
    case 0x71:
        return QStringLiteral("\u2751");
    case 0x75:
        return QStringLiteral("\u25C6");
    default:
        return QStringLiteral("\u2022");
    }
}

} // namespace

QString bulletText(const QString& text, bool symbolFont) {
    QString result;
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        if (code >= 0xF000 && code <= 0xF0FF)
            result += symbolGlyph(code - 0xF000);
        else if (code >= 0xE000 && code <= 0xF8FF)
            result += QStringLiteral("\u2022");
        else if (symbolFont && code >= 0x20 && code <= 0xFF)
            result += symbolGlyph(code);
        else
            result += c;
    }
    return result;
}

} // namespace platform
