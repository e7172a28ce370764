#include "platform/ui/WindowScreenKeeper.h"

#include "dispatch/MainThreadChecker.h"
#include "platform/ui/DisplayFullScreen.h"
#include "platform/ui/WindowFrame.h"

#include <QApplication>
#include <QPointer>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <map>
#include <vector>

namespace platform {

namespace {

// The displays of each display's desktop as last seen. While Qt reports a removal, the removed
// display already counts as alone, so the desktops are kept from before; they are read again
// when a display is added (a removed display only leaves null entries behind).
class Desktops {
public:
    void refresh() {
        siblings_.clear();
        for (QScreen* screen : QGuiApplication::screens()) {
            std::vector<QPointer<QScreen>>& list = siblings_[screen];
            for (QScreen* sibling : screen->virtualSiblings()) {
                list.emplace_back(sibling);
            }
        }
    }
    std::vector<QScreen*> remainingSiblings(const QScreen* removed) const {
        std::vector<QScreen*> remaining;
        const auto found = siblings_.find(removed);
        if (found == siblings_.end()) {
            return remaining;
        }
        const QList<QScreen*> attached = QGuiApplication::screens();
        for (const QPointer<QScreen>& sibling : found->second) {
            if (sibling && sibling != removed && attached.contains(sibling.data())) {
                remaining.push_back(sibling);
            }
        }
        return remaining;
    }

private:
    std::map<const QScreen*, std::vector<QPointer<QScreen>>> siblings_;
};

Desktops& desktops() {
    static Desktops known;
    return known;
}

bool isKeptWindow(const QWidget* widget) {
    if (!widget->isWindow() || widget->windowHandle() == nullptr) {
        return false;
    }
    // Menus and tips close by themselves; a window placed past the window manager (a display's
    // identification frame) is its owner's to move or close.
    const Qt::WindowType type = widget->windowType();
    return type != Qt::Popup && type != Qt::ToolTip && type != Qt::SplashScreen && type != Qt::Desktop &&
           !widget->windowFlags().testFlag(Qt::BypassWindowManagerHint);
}

void screenRemoved(QScreen* removed) {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (!isKeptWindow(widget) || widget->windowHandle()->screen() != removed) {
            continue;
        }
        const auto* fullScreen = widget->findChild<DisplayFullScreen*>(QString(), Qt::FindDirectChildrenOnly);
        if (fullScreen != nullptr && fullScreen->screen() == removed) {
            continue; // it decides where its window goes
        }
        moveWindowToScreen(widget, screenInPlaceOf(removed, widget));
    }
}

} // namespace

void installWindowScreenKeeper() {
    CW_DCHECK_MAIN_THREAD();
    static bool installed = false;
    if (installed) {
        return;
    }
    installed = true;
    desktops().refresh();
    QObject::connect(qGuiApp, &QGuiApplication::screenAdded, qGuiApp, [] { desktops().refresh(); });
    QObject::connect(qGuiApp, &QGuiApplication::screenRemoved, qGuiApp, &screenRemoved);
}

QScreen* screenInPlaceOf(const QScreen* removed, const QWidget* window) {
    QScreen* best = nullptr;
    qint64 bestArea = -1;
    const QRect frame = window != nullptr ? window->frameGeometry() : QRect();
    for (QScreen* sibling : desktops().remainingSiblings(removed)) {
        const qint64 area = overlapArea(frame, sibling->geometry());
        if (area > bestArea) {
            best = sibling;
            bestArea = area;
        }
    }
    if (best != nullptr) {
        return best;
    }
    QScreen* primary = QGuiApplication::primaryScreen();
    return primary != removed ? primary : nullptr;
}

QScreen* workingScreen() {
    if (const QWidget* active = QApplication::activeWindow(); active != nullptr && active->screen()) {
        return active->screen();
    }
    for (const QWidget* widget : QApplication::topLevelWidgets()) {
        if (isKeptWindow(widget) && widget->isVisible() && widget->screen() != nullptr) {
            return widget->screen();
        }
    }
    return QGuiApplication::primaryScreen();
}

void moveWindowToScreen(QWidget* window, QScreen* screen) {
    CW_DCHECK_MAIN_THREAD();
    if (window == nullptr || screen == nullptr || window->windowHandle() == nullptr) {
        return;
    }
    const bool shown = window->isVisible();
    const bool active = window->isActiveWindow();
    if (shown) {
        window->hide();
    }
    window->windowHandle()->setScreen(screen);
    placeInWorkArea(window, WorkAreaPlacement::keptInPlace);
    if (!shown) {
        return;
    }
    window->show();
    if (active) {
        window->activateWindow();
    }
}

} // namespace platform
