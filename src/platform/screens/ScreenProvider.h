// The attached displays: identity (UUID, identifier), product name, size and place.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QScreen;

namespace platform {

struct ScreenSize {
    double width = 0;
    double height = 0;
    bool operator==(const ScreenSize&) const = default;
};

struct ScreenRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    bool operator==(const ScreenRect&) const = default;
};

// One attached display as the provider saw it. Sizes and places are in logical pixels.
struct ScreenInfo {
    std::string connector;    // the output's name ("DP-1", "HDMI-A-2"); may be empty
    std::string manufacturer; // from the display's EDID when it reports one
    std::string model;
    std::string serialNumber;
    std::string productName;        // see ScreenProvider::productName
    std::string displayUUID;        // "" when the display cannot be identified
    std::uint32_t displayID = 0;    // 0 exactly when displayUUID is empty
    std::optional<ScreenSize> size; // the device size; absent when the display gives none
    ScreenRect geometry;            // where the display sits on the desktop
    double scale = 1.0;             // device pixels per logical pixel

    bool operator==(const ScreenInfo&) const = default;
};

// The source of attached displays. The real one reads Qt's screens; tests use a fake with
// several displays. Call on the main thread (the Qt one reads QGuiApplication's screens).
class ScreenProvider {
public:
    virtual ~ScreenProvider() = default;

    // The attached displays in the platform's order (the primary one first).
    virtual std::vector<ScreenInfo> screens() const = 0;

    // Called (on the main thread) after a display was attached, detached or changed; one
    // handler, an empty function removes it.
    virtual void setScreensChangedHandler(std::function<void()> handler) = 0;

    // The first attached display with this UUID; nullopt when none is attached (or the string
    // is empty).
    std::optional<ScreenInfo> screenForDisplayUUID(std::string_view uuid) const;

    // The name-based (version 5) UUID of a display, in upper-case textual form without braces,
    // from its manufacturer, model and serial number, or its connector name when it reports no
    // serial number. The same display gives the same UUID on every run and on every connector
    // (when it has a serial). "" when there is nothing to name it by.
    static std::string displayUUID(std::string_view manufacturer, std::string_view model,
                                   std::string_view serialNumber, std::string_view connector);

    // The 32-bit display identifier belonging to a UUID string: the UUID's first four bytes
    // (never 0); 0 for an absent, empty or malformed string. Works for detached displays too.
    static std::uint32_t displayIDFromUUIDString(const std::optional<std::string>& uuid);

    // Gives the second and later of displays that share a UUID one of their own, made from their
    // place among the alike: nothing else tells them apart (identical panels without serial
    // numbers behind connectors of one name, or the X screens of one server, all named
    // "screen"). The first keeps its UUID, so the settings stored for it stay its own.
    static void tellApartAlike(std::vector<ScreenInfo>& screens);

    // productName's rule: the model name the display reports; without one the name of its output
    // or monitor ("DP-1", a monitor "LEFT"), so that two such displays still differ; "Unknown"
    // when there is neither.
    static std::string productName(std::string_view model, std::string_view connector);
};

// The attached displays as Qt reports them (QGuiApplication::screens()). Needs a
// QGuiApplication.
class QtScreenProvider final : public ScreenProvider {
public:
    QtScreenProvider();
    ~QtScreenProvider() override;
    QtScreenProvider(const QtScreenProvider&) = delete;
    QtScreenProvider& operator=(const QtScreenProvider&) = delete;

    std::vector<ScreenInfo> screens() const override;
    void setScreensChangedHandler(std::function<void()> handler) override;

    // The provider's description of a QScreen (exposed for tests and for window placement):
    // the same as screens() gives for it.
    static ScreenInfo describe(const QScreen& screen);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace platform
