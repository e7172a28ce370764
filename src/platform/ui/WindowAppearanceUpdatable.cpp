#include "platform/ui/WindowAppearanceUpdatable.h"

#include "dispatch/MainThreadChecker.h"

#include <QWidget>

namespace platform {

static AppearanceChoice& installedChoice() {
    static AppearanceChoice choice;
    return choice;
}

void setAppearanceChoice(AppearanceChoice choice) {
    CW_DCHECK_MAIN_THREAD();
    installedChoice() = std::move(choice);
}

AppearanceStyle chosenAppearanceStyle() {
    const auto& read = installedChoice().style;
    return read ? read() : AppearanceStyle::system;
}

WindowAppearanceUpdatable::~WindowAppearanceUpdatable() {
    // The centre would otherwise call into a destroyed controller on the next change.
    unregisterForAppearanceChanges();
}

void WindowAppearanceUpdatable::registerForAppearanceChanges() {
    CW_DCHECK_MAIN_THREAD();
    unregisterForAppearanceChanges();
    const AppearanceChoice& choice = installedChoice();
    if (choice.didChangeNotification.empty()) {
        return;
    }
    registeredCenter_ = choice.center != nullptr ? choice.center : &NotificationCenter::defaultCenter();
    registeredCenter_->addObserver(this, choice.didChangeNotification,
                                   [this](const Notification& n) { didChangeUIMode(n); });
}

void WindowAppearanceUpdatable::unregisterForAppearanceChanges() {
    if (registeredCenter_ == nullptr) {
        return;
    }
    registeredCenter_->removeObserver(this);
    registeredCenter_ = nullptr;
}

void WindowAppearanceUpdatable::didChangeUIMode(const Notification& notification) {
    (void)notification;
    updateWindowAppearance();
}

void WindowAppearanceUpdatable::updateWindowAppearance() {
    CW_DCHECK_MAIN_THREAD();
    QWidget* window = appearanceWindow();
    if (window == nullptr) {
        return;
    }
    Appearance::applyToWindow(window, chosenAppearanceStyle());
}

} // namespace platform
