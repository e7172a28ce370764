// PrompterDisplayState: everything the prompter view shows that is not the text or the transport.
#pragma once

#include "cuewright/model/PrompterEnums.h"
#include "cuewright/model/TextAlignment.h"

#include <QColor>
#include <QImage>

namespace cw {

// A value: copy it from PrompterView::display(), change what you like and hand it to
// PrompterView::apply(), which does only the work the differences need.
struct PrompterDisplayState {
    // Text layout: a change lays the text out again.
    TextAlignment textAlignment = TextAlignment::center;
    double prompterMargin = 0;
    double prompterMarginAlignment = 0; // -1 hugs the left edge, 1 the right
    float prompterWordCountFactor = 0;

    // Geometry: a change re-frames every layer.
    bool flipHorizontal = false;
    bool flipVertical = false;
    float indicatorPosition = 0.5f; // the reading position, a fraction of the height from the bottom
    float windowOpacity = 1.0f;     // below 1 the background becomes a see-through fill

    // Appearance: a change redraws the layers concerned.
    QColor backgroundColor{Qt::black};
    QImage backgroundImage;
    bool showsBackgroundImage = false;
    float backgroundImageOpacity = 1.0f;
    bool showsReadingLine = true;
    IndicatorType indicatorType = IndicatorType::none;
    IndicatorSize indicatorSize = IndicatorSize::medium;
    IndicatorColor indicatorColor = IndicatorColor::green;
    OverlayType overlayType = OverlayType::highlight;
    double overlayOpacity = 1.0;

    // The on-screen controls and read-outs.
    bool showsControls = true;
    bool showsTimestamp = true;
    bool showsProgress = true;
    float controlsOpacity = 1.0f; // the control panel's and the time read-out's
    bool speedLocked = false;     // the speed scale ignores the pointer and the wheel, and dims
    bool timestampShowsRemainingTime = false;
    SpeedDisplayMode speedDisplayMode = SpeedDisplayMode::percentage;

    bool operator==(const PrompterDisplayState&) const = default;
};

// The work a change of display state needs, the least first.
enum class DisplayChange { none, redraw, relayout, layout };

DisplayChange classifyDisplayChange(const PrompterDisplayState& from, const PrompterDisplayState& to);

} // namespace cw
