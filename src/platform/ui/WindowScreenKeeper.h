// Keeping the application's windows shown and reachable when a display goes away.
#pragma once

class QScreen;
class QWidget;

namespace platform {

// Watches the displays for the whole run. When one goes away, every top-level window on it moves
// to a display of the same desktop (another monitor of the same X screen) before Qt moves it to
// the primary display, which may lie on another X screen: there Qt makes the window anew and
// leaves it unmapped while the rest of the program believes it shown. A window that was shown
// is shown again on its new display, inside its available area, and keeps the focus it had.
// Windows held in full screen on that display by a DisplayFullScreen, menus, tips and windows
// that bypass the window manager are left to their owners.
//
// Call once, on the main thread, after the QApplication exists; later calls do nothing.
void installWindowScreenKeeper();

// Where a window on `removed` goes: a remaining display of the same desktop (the one the window
// overlaps most), else the primary display. Meant for the application's screenRemoved handlers,
// while the keeper still knows the desktops as they were; null when no display remains.
QScreen* screenInPlaceOf(const QScreen* removed, const QWidget* window);

// The display a new window opens on: that of the active window, else of the first shown window
// of the application, else the primary one (which, after a display change, Qt may have chosen on
// another X screen than the one the user works on); null when there is no display.
QScreen* workingScreen();

// Moves a top-level window onto `screen`, its frame fitted into the display's available area;
// one that was shown is hidden first and shown again after, as a window moved to another X
// screen is made anew. Keeps the focus the window had. Nothing for a null window or screen.
void moveWindowToScreen(QWidget* window, QScreen* screen);

} // namespace platform
