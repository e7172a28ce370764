// The prompter settings of one attached display.
#pragma once

#include "cuewright/model/TextAlignment.h"

#include <optional>
#include <string>

namespace cw {

struct ScreenDescription {
    std::string name = "Unknown";        // the display's product name
    std::optional<std::string> nickname; // given by the user in the displays pane
    double resolutionWidth = 0;
    double resolutionHeight = 0;
    std::string displayUUID;             // the key of the description everywhere
    bool flipH = false;
    bool flipV = false;
    bool showControls = true;
    bool showTimestamp = true;
    bool showProgress = true;
    TextAlignment textAlignment = TextAlignment::center;
    bool isActive = false;               // a prompter window of the project is bound to it

    bool operator==(const ScreenDescription&) const = default;
};

// Told when the screen manager stored a display's settings. Main thread.
class ScreenManagerDelegate {
public:
    virtual ~ScreenManagerDelegate() = default;
    virtual void screenManagerDidUpdateScreen(const ScreenDescription& screen) = 0;
};

} // namespace cw
