#include "cuewright/model/ScriptProperties.h"

#include "base/Log.h"
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/model/SpeedProperties.h"
#include "cuewright/model/UserDefaults.h"
#include "platform/defaults/Defaults.h"

#include <QString>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

namespace cw {

namespace {

template <class E> E choice(const platform::Defaults& defaults, std::string_view key) {
    return base::fromRawValue<E>(defaults.stringForKey(key).value_or(""));
}

} // namespace

DocumentScriptProperties DocumentScriptProperties::fromUserDefaults(const platform::Defaults& defaults) {
    namespace k = settings;
    DocumentScriptProperties p;
    p.backgroundColor = defaultBackgroundColor(defaults);
    p.prompterMargin = storedFloat(k::defaultPrompterMarginKey, 0, maxPrompterMargin, defaults);
    p.prompterMarginAlignment = storedFloat(k::defaultPrompterMarginAlignmentKey, -1, 1, defaults);
    p.prompterWordCountFactor = storedFloat(k::defaultWordCountFactorKey, 0, 1, defaults);
    p.indicatorType = choice<IndicatorType>(defaults, k::defaultIndicatorType);
    const float position = defaults.floatForKey(k::defaultIndicatorPosition);
    // A NaN would survive the clamp and put the reading position nowhere; use the usual place.
    p.indicatorPosition = std::isnan(position) ? 0.65f : std::clamp(position, 0.0f, 1.0f);
    p.indicatorSize = choice<IndicatorSize>(defaults, k::defaultIndicatorSize);
    p.indicatorColor = choice<IndicatorColor>(defaults, k::defaultIndicatorColor);
    p.showReadingLine = defaults.boolForKey(k::defaultShowReadingLine);
    p.overlayType = choice<OverlayType>(defaults, k::defaultOverlayType);
    p.overlayOpacity = storedFloat(k::defaultOverlayOpacity, 0, 1, defaults);
    p.textAlignment = TextAlignment::center;
    return p;
}

float DocumentScriptProperties::heldMargin(float margin) {
    return std::isnan(margin) ? defaultPrompterMargin : std::clamp(margin, 0.0f, maxPrompterMargin);
}

DocumentScriptProperties DocumentScriptProperties::fromUserDefaults() {
    return fromUserDefaults(platform::Defaults::standard());
}

DocumentSpeedProperties DocumentSpeedProperties::held(const DocumentSpeedProperties& fallback,
                                                      std::string_view source) const {
    DocumentSpeedProperties result = *this;
    if (!std::isfinite(scrollSpeedPerc)) {
        result.scrollSpeedPerc = fallback.scrollSpeedPerc;
    }
    if (!std::isfinite(minScrollSpeedLPS) || !std::isfinite(maxScrollSpeedLPS) ||
        minScrollSpeedLPS > maxScrollSpeedLPS) {
        result.minScrollSpeedLPS = fallback.minScrollSpeedLPS;
        result.maxScrollSpeedLPS = fallback.maxScrollSpeedLPS;
    }
    result.scrollSpeedPerc = heldPercent(result.scrollSpeedPerc);
    result.minScrollSpeedLPS = std::clamp(result.minScrollSpeedLPS, minLinesPerSecond, maxLinesPerSecond);
    result.maxScrollSpeedLPS = std::clamp(result.maxScrollSpeedLPS, minLinesPerSecond, maxLinesPerSecond);
    // A range without width (also one clamped to a single end) offers no speed to choose and
    // gives the range slider no room between its knobs; the fallback's has width, or the
    // defaults' does.
    if (!(result.minScrollSpeedLPS < result.maxScrollSpeedLPS)) {
        const bool fallbackHasWidth = fallback.minScrollSpeedLPS < fallback.maxScrollSpeedLPS &&
                                      fallback.minScrollSpeedLPS >= minLinesPerSecond &&
                                      fallback.maxScrollSpeedLPS <= maxLinesPerSecond;
        const DocumentSpeedProperties& wide = fallbackHasWidth ? fallback : DocumentSpeedProperties{};
        result.minScrollSpeedLPS = wide.minScrollSpeedLPS;
        result.maxScrollSpeedLPS = wide.maxScrollSpeedLPS;
    }
    // Bits, not ==: a NaN never equals itself.
    const auto same = [](double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; };
    if (!same(result.scrollSpeedPerc, scrollSpeedPerc) ||
        !same(result.minScrollSpeedLPS, minScrollSpeedLPS) ||
        !same(result.maxScrollSpeedLPS, maxScrollSpeedLPS)) {
        const auto text = [](double value) { return QString::number(value).toStdString(); };
        base::log(std::string(source) + ": the speed " + text(scrollSpeedPerc) + " % of " +
                  text(minScrollSpeedLPS) + " - " + text(maxScrollSpeedLPS) +
                  " lines per second is not one the controls offer; using " + text(result.scrollSpeedPerc) +
                  " % of " + text(result.minScrollSpeedLPS) + " - " + text(result.maxScrollSpeedLPS));
    }
    return result;
}

DocumentSpeedProperties DocumentSpeedProperties::fromUserDefaults(const platform::Defaults& defaults) {
    // The registered defaults stand in for what the settings file holds that cannot be used.
    return DocumentSpeedProperties{defaults.doubleForKey(settings::defaultScrollSpeed),
                                   defaults.doubleForKey(settings::defaultMinScrollSpeedLPS),
                                   defaults.doubleForKey(settings::defaultMaxScrollSpeedLPS)}
        .held(DocumentSpeedProperties{}, "the settings");
}

DocumentSpeedProperties DocumentSpeedProperties::fromUserDefaults() {
    return fromUserDefaults(platform::Defaults::standard());
}

} // namespace cw
