#include "cuewright/settings/NetworkNames.h"

namespace cw {

namespace {

bool isBidiFormatting(char32_t c) {
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

} // namespace

QString visibleNetworkName(QStringView name) {
    QString shown;
    shown.reserve(name.size());
    for (const char32_t c : name.toUcs4()) {
        if (c < 0x20) {
            shown += QChar(char16_t(0x2400 + c)); // the control pictures
        } else if (c == 0x7F) {
            shown += QChar(char16_t(0x2421));
        } else if ((c >= 0x80 && c < 0xA0) || isBidiFormatting(c) || c == 0x2028 || c == 0x2029) {
            shown += QStringLiteral("[U+%1]").arg(uint(c), 4, 16, QLatin1Char('0')).toUpper();
        } else {
            shown += QString::fromUcs4(&c, 1);
        }
    }
    return shown;
}

} // namespace cw
