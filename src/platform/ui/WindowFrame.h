// Window frames as text, for keeping a window's place in the settings.
#pragma once

#include <QRect>
#include <QString>

namespace platform {

// "{{x, y}, {width, height}}": the origin pair and the size pair, each in braces, both in braces.
// Whole numbers are written without a fraction.
QString frameToString(const QRectF& frame);

// Reads the first four numbers of the text as x, y, width and height, whatever stands between
// them; missing numbers count as 0, so a text without numbers gives the zero rectangle.
QRectF frameFromString(const QString& text);

// Whether a frame read back may be applied to a window: finite, with a width and a height above 0.
// The origin may be anywhere, negative included.
bool isUsableFrame(const QRectF& frame);

} // namespace platform
