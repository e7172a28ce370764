// The display properties of a script: background, mirroring, margins, indicator, overlay.
#pragma once

#include "cuewright/model/PrompterEnums.h"
#include "cuewright/model/TextAlignment.h"
#include "platform/text/Color.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace platform {
class Defaults;
}

namespace cw {

// Document::ScriptProperties. A plain value; Float fields stay float so that they keep their
// exact binary value through the settings and the script file.
struct DocumentScriptProperties {
    platform::Color backgroundColor = platform::Color::black();
    std::optional<std::vector<std::uint8_t>> backgroundImage; // the encoded picture, when there is one
    bool showBackgroundImage = false;
    float backgroundImageOpacity = 1.0f;
    bool flipHorizontal = false;
    bool flipVertical = false;
    // Fraction of the view width left free, 0...maxPrompterMargin: a wider margin leaves the
    // column too narrow for a word, and at 1 no width at all (neither view shows any text).
    float prompterMargin = 0.1f;
    float prompterMarginAlignment = 0.0f; // where the free width goes
    float prompterWordCountFactor = 0.5f; // 0...1, sets the font size through words per line
    IndicatorType indicatorType = IndicatorType::none;
    float indicatorPosition = 0.5f; // 0...1, the vertical reading position
    IndicatorSize indicatorSize = IndicatorSize::medium;
    IndicatorColor indicatorColor = IndicatorColor::red;
    bool showReadingLine = false;
    OverlayType overlayType = OverlayType::none;
    float overlayOpacity = 1.0f;
    TextAlignment textAlignment = TextAlignment::center;

    // The properties of a new script from the settings; every unreadable value falls back
    // (black background, none/medium/red/none for the choices) and the alignment is center.
    static DocumentScriptProperties fromUserDefaults(const platform::Defaults& defaults);
    static DocumentScriptProperties fromUserDefaults();

    static constexpr float maxPrompterMargin = 0.8f; // the Script pane's margin control ends here
    static constexpr float defaultPrompterMargin = 0.1f;
    // The margin held to 0...maxPrompterMargin; a NaN is the default margin.
    static float heldMargin(float margin);

    bool operator==(const DocumentScriptProperties&) const = default;
};

} // namespace cw
