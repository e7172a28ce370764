#include "cuewright/app/ResetSettings.h"

#include "cuewright/app/RecentDocuments.h"
#include "cuewright/model/SettingsKeys.h"
#include "platform/ui/FileDialogs.h"

#include <QApplication>
#include <QStringList>

#include <array>
#include <utility>

namespace cw {

namespace {

QString tr(const char* text) {
    return QApplication::translate("ResetSettings", text);
}

} // namespace

QString settingInWords(std::string_view key) {
    using namespace settings;
    static const std::array<std::pair<std::string_view, const char*>, 33> words{{
        {isBonjourEnabled, QT_TRANSLATE_NOOP("ResetSettings", "whether remote control is on")},
        {bonjourName, QT_TRANSLATE_NOOP("ResetSettings", "the remote control's name")},
        {bonjourKey, QT_TRANSLATE_NOOP("ResetSettings", "the remote control's port")},
        {defaultScrollSpeed, QT_TRANSLATE_NOOP("ResetSettings", "the scroll speed of new scripts")},
        {defaultMinScrollSpeedLPS, QT_TRANSLATE_NOOP("ResetSettings", "the speed range of new scripts")},
        {defaultMaxScrollSpeedLPS, QT_TRANSLATE_NOOP("ResetSettings", "the speed range of new scripts")},
        {defaultWordCountFactorKey, QT_TRANSLATE_NOOP("ResetSettings", "the words per line of new scripts")},
        {defaultPrompterMarginKey, QT_TRANSLATE_NOOP("ResetSettings", "the margins of new scripts")},
        {defaultPrompterMarginAlignmentKey, QT_TRANSLATE_NOOP("ResetSettings", "the margins of new scripts")},
        {defaultBackgroundColor, QT_TRANSLATE_NOOP("ResetSettings", "the background colour of new scripts")},
        {defaultFont, QT_TRANSLATE_NOOP("ResetSettings", "the font of new scripts")},
        {defaultTextColor, QT_TRANSLATE_NOOP("ResetSettings", "the text colour of new scripts")},
        {defaultOverlayType, QT_TRANSLATE_NOOP("ResetSettings", "the overlay of new scripts")},
        {defaultOverlayOpacity, QT_TRANSLATE_NOOP("ResetSettings", "the overlay of new scripts")},
        {defaultIndicatorType, QT_TRANSLATE_NOOP("ResetSettings", "the reading indicator of new scripts")},
        {defaultIndicatorSize, QT_TRANSLATE_NOOP("ResetSettings", "the reading indicator of new scripts")},
        {defaultIndicatorColor, QT_TRANSLATE_NOOP("ResetSettings", "the reading indicator of new scripts")},
        {defaultIndicatorPosition,
         QT_TRANSLATE_NOOP("ResetSettings", "the reading indicator of new scripts")},
        {defaultShowReadingLine, QT_TRANSLATE_NOOP("ResetSettings", "the reading line of new scripts")},
        {startupMode, QT_TRANSLATE_NOOP("ResetSettings", "what Cuewright opens at start")},
        {userInterfaceStyle, QT_TRANSLATE_NOOP("ResetSettings", "the appearance")},
        {manualScrollingDuration, QT_TRANSLATE_NOOP("ResetSettings", "manual scrolling")},
        {manualScrollingEnabled, QT_TRANSLATE_NOOP("ResetSettings", "manual scrolling")},
        {manualScrollingLineCount, QT_TRANSLATE_NOOP("ResetSettings", "manual scrolling")},
        {customKeyBindings, QT_TRANSLATE_NOOP("ResetSettings", "the keyboard shortcuts")},
        {RecentDocuments::key, QT_TRANSLATE_NOOP("ResetSettings", "the list of recent scripts")},
        {selectedExportFileTypeIndex, QT_TRANSLATE_NOOP("ResetSettings", "the last export format")},
        {defaultScrollingSpeedUnit, QT_TRANSLATE_NOOP("ResetSettings", "the unit of scroll speeds")},
        {preferredScrollSpeedDisplayMode, QT_TRANSLATE_NOOP("ResetSettings", "the unit of scroll speeds")},
        {speedSliderSensitivityFactor, QT_TRANSLATE_NOOP("ResetSettings", "the speed slider's sensitivity")},
        {listenToShortcutsInBackground,
         QT_TRANSLATE_NOOP("ResetSettings", "keys heard in other applications")},
        {launchCount, QT_TRANSLATE_NOOP("ResetSettings", "the count of starts")},
        {isPresenterSupportEnabled, QT_TRANSLATE_NOOP("ResetSettings", "presenter remotes")},
    }};
    for (const auto& [name, text] : words) {
        if (name == key) {
            return tr(text);
        }
    }
    // "showBookmarkSidebar": "show bookmark sidebar".
    QString plain;
    for (const QChar c : QString::fromUtf8(key.data(), qsizetype(key.size()))) {
        if (c.isUpper() && !plain.isEmpty() && !plain.endsWith(u' ')) {
            plain += u' ';
        }
        plain += c.toLower();
    }
    return plain;
}

platform::Alert resetSettingsAlert(const platform::Defaults::Reset& reset) {
    platform::Alert alert;
    alert.buttons = {tr("OK")};
    const QString kept = reset.keptAs.empty() ? QString()
                                              : u' ' + tr("The settings file as it was is kept as “%1”.")
                                                           .arg(platform::displayPath(reset.keptAs.string()));
    if (reset.all) {
        alert.messageText = tr("The settings could not be read and were all reset to their defaults.");
        alert.informativeText = tr("The settings file was damaged.") + kept;
        return alert;
    }
    QStringList named;
    for (const std::string& key : reset.keys) {
        const QString words = settingInWords(key);
        if (!named.contains(words)) {
            named << words;
        }
    }
    alert.messageText =
        reset.keys.size() == 1
            ? tr("One setting could not be read and was reset to its default.")
            : tr("%1 settings could not be read and were reset to their defaults.").arg(reset.keys.size());
    alert.informativeText =
        tr("Reset: %1. The others are as they were.").arg(named.join(QStringLiteral(", "))) + kept;
    return alert;
}

platform::Alert unsavedSettingsAlert(const std::string& why) {
    QString reason = QString::fromStdString(why);
    if (!reason.isEmpty()) {
        reason[0] = reason[0].toUpper();
    }
    platform::Alert alert;
    alert.messageText = tr("Changes to the settings could not be saved.");
    alert.informativeText =
        tr("%1. Cuewright tries again with each change; until one is saved, changes to the "
           "settings are lost when it quits.")
            .arg(reason);
    alert.buttons = {tr("OK")};
    alert.style = platform::Alert::Style::warning;
    return alert;
}

} // namespace cw
