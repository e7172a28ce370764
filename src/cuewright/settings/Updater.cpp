#include "cuewright/settings/Updater.h"

#include "cuewright/settings/HelpLinks.h"

#include <QCoreApplication>

namespace cw {

QString Updater::explanation() {
    return QCoreApplication::translate(
        "Updater", "Cuewright does not check for updates itself. New versions come with the package "
                   "manager of your distribution, or as a new download from the web site if you "
                   "downloaded this copy.");
}

platform::Alert Updater::alert() {
    platform::Alert a;
    a.messageText = QCoreApplication::translate("Updater", "Updates come with your package or download");
    a.informativeText = explanation();
    a.buttons = {QCoreApplication::translate("Updater", "OK"),
                 QCoreApplication::translate("Updater", "Open Web Site")};
    a.style = platform::Alert::Style::informational;
    return a;
}

int Updater::checkForUpdates(QWidget* window) {
    const int answer = platform::runModalSheetForWindow(alert(), window);
    if (answer == platform::alertFirstButtonReturn + 1)
        openHelpPage(HelpPage::website);
    return answer;
}

} // namespace cw
