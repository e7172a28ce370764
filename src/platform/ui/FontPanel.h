// The font panel: a font dialog that lists and takes sizes as the application counts them.
#pragma once

#include "platform/text/Font.h"

class QFont;
class QFontDialog;
class QWidget;

namespace platform {

// Qt's font dialog counts sizes in Qt's points, which Font::toQFont() scales by the screen's
// DPI; the application's sizes are its own points. Everything that goes into or comes out of a
// font panel passes through here, unscaled, so the number the user sees and picks is the number
// the application stores and uses (a 34-point font is listed as 34; picking 20 gives 20).
// Main thread only.
class FontPanel {
public:
    FontPanel() = delete;

    // A non-modal dialog without buttons, titled "Fonts", showing `font`. Owned by `parent`
    // (none: by the caller).
    static QFontDialog* make(const Font& font, QWidget* parent);
    // Shows `font` in the panel without announcing it as a pick.
    static void setFont(QFontDialog& panel, const Font& font);
    // The font the user picked in the panel. A pick without a size keeps `fallbackSize`.
    static Font picked(const QFont& font, double fallbackSize);
};

} // namespace platform
