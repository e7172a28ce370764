#include "cuewright/model/ScriptProperties.h"

#include "cuewright/model/SettingsKeys.h"
#include "cuewright/model/SpeedProperties.h"
#include "cuewright/model/UserDefaults.h"
#include "platform/defaults/Defaults.h"

#include <algorithm>
#include <cmath>

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
    p.prompterMargin = defaults.floatForKey(k::defaultPrompterMarginKey);
    p.prompterMarginAlignment = defaults.floatForKey(k::defaultPrompterMarginAlignmentKey);
    p.prompterWordCountFactor = defaults.floatForKey(k::defaultWordCountFactorKey);
    p.indicatorType = choice<IndicatorType>(defaults, k::defaultIndicatorType);
    const float position = defaults.floatForKey(k::defaultIndicatorPosition);
    // A NaN would survive the clamp and put the reading position nowhere; use the usual place.
    p.indicatorPosition = std::isnan(position) ? 0.65f : std::clamp(position, 0.0f, 1.0f);
    p.indicatorSize = choice<IndicatorSize>(defaults, k::defaultIndicatorSize);
    p.indicatorColor = choice<IndicatorColor>(defaults, k::defaultIndicatorColor);
    p.showReadingLine = defaults.boolForKey(k::defaultShowReadingLine);
    p.overlayType = choice<OverlayType>(defaults, k::defaultOverlayType);
    p.overlayOpacity = defaults.floatForKey(k::defaultOverlayOpacity);
    p.textAlignment = TextAlignment::center;
    return p;
}

DocumentScriptProperties DocumentScriptProperties::fromUserDefaults() {
    return fromUserDefaults(platform::Defaults::standard());
}

DocumentSpeedProperties DocumentSpeedProperties::fromUserDefaults(const platform::Defaults& defaults) {
    return DocumentSpeedProperties{defaults.doubleForKey(settings::defaultScrollSpeed),
                                   defaults.doubleForKey(settings::defaultMinScrollSpeedLPS),
                                   defaults.doubleForKey(settings::defaultMaxScrollSpeedLPS)};
}

DocumentSpeedProperties DocumentSpeedProperties::fromUserDefaults() {
    return fromUserDefaults(platform::Defaults::standard());
}

} // namespace cw
