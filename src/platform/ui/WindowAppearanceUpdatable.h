// Window controllers following the user's light, dark or system appearance choice.
#pragma once

#include "platform/defaults/NotificationCenter.h"
#include "platform/ui/Appearance.h"

#include <functional>
#include <string>

class QWidget;

namespace platform {

// The user's appearance choice as the application stores it. The platform does not know the
// setting: the application installs a reader of it and the notification it posts on a change.
struct AppearanceChoice {
    std::function<AppearanceStyle()> style; // unset: the system's appearance
    std::string didChangeNotification;      // empty: changes are not announced
    NotificationCenter* center = nullptr;   // null: the default centre
};

// Installs the choice every window controller follows; the application does it once at start-up.
// The application itself (menus, alerts, dialogs: every window without a controller) follows it
// at once and on every change. Main thread only.
void setAppearanceChoice(AppearanceChoice choice);
// The installed choice's current style (system when none is installed).
AppearanceStyle chosenAppearanceStyle();

// What every window controller can do to follow the appearance choice: apply it to its window
// now, and re-apply it whenever the choice's notification is posted. A registration lasts until
// unregisterForAppearanceChanges() or the destruction of the object, whichever comes first.
// Main thread only.
class WindowAppearanceUpdatable {
public:
    virtual ~WindowAppearanceUpdatable();

    // Observes the choice's notification (from any sender) with didChangeUIMode(). Registering
    // again replaces the earlier registration, so each change applies once.
    void registerForAppearanceChanges();
    void unregisterForAppearanceChanges();
    void didChangeUIMode(const Notification& notification);
    // Gives the window the chosen appearance (system: the window follows the application again).
    // Does nothing while there is no window.
    void updateWindowAppearance();

protected:
    // The window to style, or null when it was not made yet.
    virtual QWidget* appearanceWindow() const = 0;

private:
    NotificationCenter* registeredCenter_ = nullptr;
};

} // namespace platform
