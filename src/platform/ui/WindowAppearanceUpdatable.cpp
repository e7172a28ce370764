#include "platform/ui/WindowAppearanceUpdatable.h"

#include "dispatch/MainThreadChecker.h"

#include <QWidget>

namespace platform {

static AppearanceChoice& installedChoice() {
    static AppearanceChoice choice;
    return choice;
}

static NotificationCenter& centerOf(const AppearanceChoice& choice) {
    return choice.center != nullptr ? *choice.center : NotificationCenter::defaultCenter();
}

// Menus, alerts and file dialogs are windows of their own without a controller: they take the
// application's palette, so the application follows the choice as well.
static void applyToApplication() {
    Appearance::shared().apply(chosenAppearanceStyle());
}

void setAppearanceChoice(AppearanceChoice choice) {
    CW_DCHECK_MAIN_THREAD();
    AppearanceChoice& installed = installedChoice();
    if (!installed.didChangeNotification.empty()) {
        centerOf(installed).removeObserver(&installed);
    }
    installed = std::move(choice);
    applyToApplication();
    if (!installed.didChangeNotification.empty()) {
        centerOf(installed).addObserver(&installed, installed.didChangeNotification,
                                        [](const Notification&) { applyToApplication(); });
    }
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
    registeredCenter_ = &centerOf(choice);
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
