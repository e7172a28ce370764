// Windows whose background shows through: the transparent prompter preset and any window
// made less than opaque.
#pragma once

class QWidget;

namespace platform {

enum class WindowFrameStyle { titled, frameless };

// Gives the window an alpha channel, so that what its widgets leave unpainted shows the desktop,
// and optionally drops the title bar and border. Call before the window is first shown: the
// alpha channel is chosen when the native window is made; later calls log and change only the
// frame style.
void makeTranslucent(QWidget* window, WindowFrameStyle frame);
bool isTranslucent(const QWidget* window);

// The opacity rule for a window whose own view paints its fill: below 1.0 the window stops
// filling its background (non-opaque, clear), so the view's fill at that opacity is all there
// is; at 1.0 and above it fills its background again and is opaque. The window's own alpha is
// left alone. Needs a translucent window to show through.
void applyBackgroundOpacity(QWidget* window, double opacity);
bool isOpaque(const QWidget* window);

} // namespace platform
