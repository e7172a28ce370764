// Between the archived colours and fonts of the settings store and the text layer's values.
#pragma once

#include "platform/defaults/ArchivedValues.h"
#include "platform/text/Color.h"
#include "platform/text/Font.h"

namespace cw {

// Grey spaces become Color::gray; display-P3 and extended sRGB are read as sRGB; CMYK is
// converted to RGB. Missing components read as 0 (alpha as 1).
platform::Color colorFromArchived(const platform::ArchivedColor& archived);
platform::ArchivedColor archivedFromColor(const platform::Color& color);

// An archived font without a family is the system font of its size.
platform::Font fontFromArchived(const platform::ArchivedFont& archived);
platform::ArchivedFont archivedFromFont(const platform::Font& font);

} // namespace cw
