#include "cuewright/settings/ScriptSettings.h"

#include "cuewright/model/ArchivedText.h"
#include "cuewright/model/SettingsKeys.h"

#include <QFontDatabase>

namespace cw::ScriptSettings {

void setDefaultTextColor(const platform::Color& color, platform::Defaults& defaults) {
    platform::setArchivedColor(defaults, settings::defaultTextColor, archivedFromColor(color));
}

void setDefaultBackgroundColor(const platform::Color& color, platform::Defaults& defaults) {
    platform::setArchivedColor(defaults, settings::defaultBackgroundColor, archivedFromColor(color));
}

void setDefaultFont(const platform::Font& font, platform::Defaults& defaults) {
    platform::setArchivedFont(defaults, settings::defaultFont, archivedFromFont(font));
}

platform::Color factoryTextColor() {
    return platform::Color(0.95, 0.96, 0.90, 1.0);
}

platform::Color factoryBackgroundColor() {
    return platform::Color(0.01, 0.03, 0.08, 1.0);
}

platform::Font factoryFont() {
    constexpr double size = 34;
    const QString preferred = QStringLiteral("Helvetica Neue");
    if (QFontDatabase::hasFamily(preferred))
        return platform::Font{preferred, size, false, false};
    return platform::Font::systemFont(size);
}

} // namespace cw::ScriptSettings
