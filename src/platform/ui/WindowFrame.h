// Window frames as text, for keeping a window's place in the settings, and sizes of new windows
// that fit the screen.
#pragma once

#include <QList>
#include <QMargins>
#include <QRect>
#include <QSize>
#include <QString>

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
// only once it is mapped): a title bar above, a thin border at the sides and a grip below (openbox
// draws one 5 pixels high).
inline constexpr QMargins assumedWindowFrame{4, 36, 4, 8};

// The size for a new window: `preferred`, made smaller where the window with `frame` around it
// would not fit into `available` (a screen's work area), but never below `minimum`.
QSize fittedWindowSize(QSize preferred, QSize minimum, const QRect& available,
                       const QMargins& frame = assumedWindowFrame);

// Where a new window of `size` goes when it follows the window at `previous` (both client areas,
// in screen coordinates): `step` further down and right, within `available` with `frame` around
// it, made smaller when that is needed to stay inside; back at the work area's top left corner
// when it would have to become smaller than `minimum` or than two thirds of `size`.
QRect cascadedGeometry(const QRect& previous, QSize size, QSize minimum, const QRect& available,
                       int step = 24, const QMargins& frame = assumedWindowFrame);

// Gives a new window the `preferred` size fitted to the work area of its screen (the primary
// screen when it has none). Main thread only.
void resizeToFitScreen(QWidget* window, QSize preferred);

// The window manager's frame around a top-level window: the real one once the window is shown
// and framed, none for a frameless window, else assumedWindowFrame.
QMargins windowFrameMargins(const QWidget* window);

// The work area of the window's screen less its frame: the room its client area may take.
// Empty when there is no screen.
QRect workAreaRoom(const QWidget* window);

// How a window goes into its screen's work area: to its middle (a window shown for the first
// time), or moved just far enough to lie inside (a window the user may have placed).
enum class WorkAreaPlacement { centred, keptInPlace };

// How many pixels two rectangles share: 0 when they do not meet.
qint64 overlapArea(const QRect& a, const QRect& b);

// Where a frame kept from an earlier run goes on the displays there are now: into the work area
// of `workAreas` it overlaps most (`fallback` when it overlaps none), moved and, where it is
// larger, made smaller so that it lies inside with `frame` around it. The displays it was kept on
// may be gone, or smaller.
QRect keptFrameInWorkArea(const QRect& client, const QList<QRect>& workAreas, const QRect& fallback,
                          const QMargins& frame = assumedWindowFrame);

// Gives a top-level window a frame kept from an earlier run, inside a work area of its desktop
// (keptFrameInWorkArea over the displays beside its screen, the primary one as the fallback),
// and at least the window's minimum size; that minimum is lowered only where the area is
// smaller. Main thread only.
void applyKeptFrame(QWidget* window, const QRect& client);

// Puts a top-level window, its frame included, inside the work area of its screen: its size is
// cut to fit first (its minimum size lowered where the area is smaller), then it is placed.
// Nothing without a screen. Main thread only.
void placeInWorkArea(QWidget* window, WorkAreaPlacement placement);

} // namespace platform
