// The gamepad-layout window: a picture of which controller buttons do what.
#pragma once

#include "platform/ui/WindowController.h"

namespace cw {

// A static picture drawn in the window's colours, so it follows light and dark. Main thread only.
class GamepadLayoutWindowController : public platform::WindowController {
    Q_OBJECT

public:
    explicit GamepadLayoutWindowController(QObject* parent = nullptr);
    void showWindow() override;

protected:
    QWidget* makeWindow() override;
    void windowDidLoad() override;
    void windowWillClose() override { unregisterForAppearanceChanges(); }
};

} // namespace cw
