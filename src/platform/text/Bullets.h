// Bullets drawn from symbol fonts, as Unicode characters.
#pragma once

#include <QString>

namespace platform {

// The character a bullet shows: the private-use codes of the Symbol and Wingdings fonts
// (U+F0xx) and the Symbol font's own bullet ('·' in it) become their Unicode look-alikes,
// any other private-use character a plain "•".
QString bulletText(const QString& text, bool symbolFont);

} // namespace platform
