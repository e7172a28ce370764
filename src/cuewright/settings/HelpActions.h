// The Help menu's actions: web pages, the three help windows, and mails to support.
#pragma once

#include "platform/defaults/Defaults.h"
#include "platform/ui/ActionRoute.h"

#include <QString>

#include <memory>

namespace cw {

class DownloadiOSAppWindowController;
class GamepadLayoutWindowController;
class KeyboardShortcutsWindowController;

// Performs the Help menu's actions by name ("helpShowManual:", "contactSupport:", ...; see
// actionNames) for the application shell, which makes it the last responder or forwards to it.
// Pages and mails go through urlOpener(). A mail no program takes is told with the address and
// the prepared message offered to copy; one that cannot be composed opens the help page.
// The windows are made on first use and kept. `defaults` must outlive it. Main thread only.
class HelpActions : public platform::ActionResponder {
public:
    explicit HelpActions(platform::Defaults& defaults = platform::Defaults::standard());
    ~HelpActions() override;
    HelpActions(const HelpActions&) = delete;
    HelpActions& operator=(const HelpActions&) = delete;

    bool respondsToAction(std::string_view action) const override;
    void performAction(std::string_view action, QObject* sender) override;

    // Rebuilds the shortcuts page from the current bindings, then shows the window.
    void showKeyboardShortcuts();
    void showGamepadLayout();
    void showCompanionApp();
    // Hand the mail to the mail program; when none takes it, an alert offers to copy it.
    void suggestAnImprovement();
    void contactSupport();

    KeyboardShortcutsWindowController* keyboardShortcutsWindow() const { return shortcuts_.get(); }
    GamepadLayoutWindowController* gamepadLayoutWindow() const { return gamepad_.get(); }
    DownloadiOSAppWindowController* companionAppWindow() const { return companion_.get(); }

    // What the support mail reports as the system (the OS's pretty name, QSysInfo).
    static QString operatingSystemVersion();

private:
    static void composeMail(const QString& subject, const QString& body);

    platform::Defaults& defaults_;
    std::unique_ptr<KeyboardShortcutsWindowController> shortcuts_;
    std::unique_ptr<GamepadLayoutWindowController> gamepad_;
    std::unique_ptr<DownloadiOSAppWindowController> companion_;
};

} // namespace cw
