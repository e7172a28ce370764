// Window levels: whether a window floats above the others (pinning).
#pragma once

class QWidget;

namespace platform {

// The two levels windows use; the values are the ones stored and compared elsewhere.
enum class WindowLevel { normal = 0, floating = 3 };

// floating exactly when the window stays on top of other windows.
WindowLevel windowLevel(const QWidget* window);

// Moves the window to the level. Changing the stay-on-top flag makes Qt hide and re-make the
// native window; the window keeps its geometry, its state (full screen, maximised) and its
// visibility. Does nothing when the level is already that.
void setWindowLevel(QWidget* window, WindowLevel level);

} // namespace platform
