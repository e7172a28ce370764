// Window frames as text, for keeping a window's place in the settings, and sizes of new windows
// that fit the screen.
#pragma once

#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <optional>

class QWidget;

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

// Room kept for the window manager's frame around a window not shown yet (its real frame is known
// only once it is mapped): a title bar above, a thin border elsewhere.
inline constexpr QMargins assumedWindowFrame{4, 36, 4, 4};

// The size for a new window: `preferred`, made smaller where the window with `frame` around it
// would not fit into `available` (a screen's work area), but never below `minimum`.
QSize fittedWindowSize(QSize preferred, QSize minimum, const QRect& available,
                       const QMargins& frame = assumedWindowFrame);

// Where a window of `size` goes so that it, with `frame` around it, lies within `available`:
// `wanted` moved in as little as needed, or, without a wanted place, centred and stepped down
// and right by `cascade` windows already shown. The size is not changed.
QPoint fittedWindowPosition(QSize size, const QRect& available, std::optional<QPoint> wanted, int cascade = 0,
                            const QMargins& frame = assumedWindowFrame);

// Before a window is first shown: its size fitted to its screen's work area, and its place too,
// kept where it was set or else centred and cascaded over the visible windows of its kind.
void placeWithinScreen(QWidget* window);

// Where a new window of `size` goes when it follows the window at `previous` (both client areas,
// in screen coordinates): `step` further down and right, within `available` with `frame` around
// it, made smaller when that is needed to stay inside; back at the work area's top left corner
// when it would have to become smaller than `minimum` or than two thirds of `size`.
QRect cascadedGeometry(const QRect& previous, QSize size, QSize minimum, const QRect& available,
                       int step = 24, const QMargins& frame = assumedWindowFrame);

// Gives a new window the `preferred` size fitted to the work area of its screen (the primary
// screen when it has none). Main thread only.
void resizeToFitScreen(QWidget* window, QSize preferred);

} // namespace platform
