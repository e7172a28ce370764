// The companion-app window: where to get the remote-control app for phones and tablets.
#pragma once

#include "platform/ui/WindowController.h"

namespace cw {

namespace controls {
class LinkLabel;
}

// Its link sends "visitShortlinkForiOSApp:" without a target, so the action travels the
// responder chain to the application (HelpActions performs it). Main thread only.
class DownloadiOSAppWindowController : public platform::WindowController {
    Q_OBJECT

public:
    explicit DownloadiOSAppWindowController(QObject* parent = nullptr);
    void showWindow() override;

    controls::LinkLabel* linkLabel() {
        window();
        return linkLabel_;
    }

protected:
    QWidget* makeWindow() override;
    void windowDidLoad() override;
    void windowWillClose() override { unregisterForAppearanceChanges(); }

private:
    controls::LinkLabel* linkLabel_ = nullptr;
};

} // namespace cw
