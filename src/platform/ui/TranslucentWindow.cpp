#include "platform/ui/TranslucentWindow.h"

#include "base/Log.h"

#include <QWidget>

namespace platform {

void makeTranslucent(QWidget* window, WindowFrameStyle frame) {
    if (window->testAttribute(Qt::WA_WState_Created) &&
        !window->testAttribute(Qt::WA_TranslucentBackground)) {
        base::log("window: translucency asked for after the window was made; it stays opaque");
    }
    window->setAttribute(Qt::WA_TranslucentBackground, true);
    window->setAttribute(Qt::WA_NoSystemBackground, true);
    switch (frame) {
    case WindowFrameStyle::titled:
        window->setWindowFlag(Qt::FramelessWindowHint, false);
        break;
    case WindowFrameStyle::frameless:
        window->setWindowFlag(Qt::FramelessWindowHint, true);
        break;
    }
}

bool isTranslucent(const QWidget* window) {
    return window->testAttribute(Qt::WA_TranslucentBackground);
}

void applyBackgroundOpacity(QWidget* window, double opacity) {
    const bool opaque = opacity >= 1.0;
    window->setAutoFillBackground(opaque);
    window->setAttribute(Qt::WA_NoSystemBackground, !opaque);
    window->update();
}

bool isOpaque(const QWidget* window) {
    return window->autoFillBackground();
}

} // namespace platform
