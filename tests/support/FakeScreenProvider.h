// A screen provider for tests: displays are added, removed and changed by hand.
#pragma once

#include "platform/screens/ScreenProvider.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// Holds a list of displays in order. Changes call the screens-changed handler at once.
class FakeScreenProvider final : public platform::ScreenProvider {
public:
    // A display as the real provider would describe it (UUID and identifier derived the same way).
    static platform::ScreenInfo display(std::string connector, std::string manufacturer, std::string model,
                                        std::string serial, double width, double height, double x = 0) {
        platform::ScreenInfo s;
        s.connector = std::move(connector);
        s.manufacturer = std::move(manufacturer);
        s.model = std::move(model);
        s.serialNumber = std::move(serial);
        s.productName = productName(s.model, s.connector);
        s.displayUUID = displayUUID(s.manufacturer, s.model, s.serialNumber, s.connector);
        s.displayID = displayIDFromUUIDString(s.displayUUID);
        s.size = platform::ScreenSize{width, height};
        s.geometry = platform::ScreenRect{x, 0, width, height};
        return s;
    }

    // Three displays: a laptop panel, a monitor with a serial and one without a product name.
    static FakeScreenProvider threeDisplays() {
        FakeScreenProvider p;
        p.attach(display("eDP-1", "BOE", "NE135FBM-N41", "", 1504, 1003));
        p.attach(display("DP-1", "Dell Inc.", "DELL U2720Q", "8H3K2L3", 2560, 1440, 1504));
        p.attach(display("HDMI-A-1", "", "", "", 1920, 1080, 4064));
        return p;
    }

    std::vector<platform::ScreenInfo> screens() const override { return screens_; }
    void setScreensChangedHandler(std::function<void()> handler) override { handler_ = std::move(handler); }

    void attach(platform::ScreenInfo screen) {
        screens_.push_back(std::move(screen));
        changed();
    }
    void detach(const std::string& uuid) {
        std::erase_if(screens_, [&](const platform::ScreenInfo& s) { return s.displayUUID == uuid; });
        changed();
    }
    void resize(const std::string& uuid, double width, double height) {
        for (auto& s : screens_) {
            if (s.displayUUID == uuid) {
                s.size = platform::ScreenSize{width, height};
                s.geometry.width = width;
                s.geometry.height = height;
            }
        }
        changed();
    }
    void setScreens(std::vector<platform::ScreenInfo> screens) {
        screens_ = std::move(screens);
        changed();
    }

private:
    void changed() {
        if (handler_) {
            handler_();
        }
    }

    std::vector<platform::ScreenInfo> screens_;
    std::function<void()> handler_;
};

} // namespace testsupport
