#include "cuewright/settings/HelpActions.h"

#include "cuewright/settings/DownloadiOSAppWindowController.h"
#include "cuewright/settings/GamepadLayoutWindowController.h"
#include "cuewright/settings/HelpLinks.h"
#include "cuewright/settings/KeyboardShortcutsWindowController.h"
#include "cuewright/settings/SupportMail.h"
#include "cuewright/settings/UrlOpener.h"

#include <QSysInfo>

#include <array>
#include <utility>

namespace cw {

namespace {

constexpr std::array<std::pair<std::string_view, HelpPage>, 8> pageActions{{
    {"helpShowManual:", HelpPage::manual},
    {"helpFixPerformanceIssues:", HelpPage::performance},
    {"helpShowFAQ:", HelpPage::faq},
    {"helpUseIpadAsADisplay:", HelpPage::tabletAsDisplay},
    {"helpFixDisplayIssues:", HelpPage::displayIssues},
    {"visitWebsite:", HelpPage::website},
    {"visitBlog:", HelpPage::blog},
    {"visitShortlinkForiOSApp:", HelpPage::companionApp},
}};

constexpr std::array<std::string_view, 5> windowAndMailActions{
    "helpShowKeyboardShortcutsWindow:", "helpShowGamepadLayoutWindow:", "showDownloadiOSAppWindow:",
    "suggestAnImprovement:", "contactSupport:"};

} // namespace

HelpActions::HelpActions(platform::Defaults& defaults)
    : defaults_(defaults) {}
HelpActions::~HelpActions() = default;

bool HelpActions::respondsToAction(std::string_view action) const {
    for (const auto& [name, page] : pageActions)
        if (name == action)
            return true;
    for (std::string_view name : windowAndMailActions)
        if (name == action)
            return true;
    return false;
}

void HelpActions::performAction(std::string_view action, QObject*) {
    for (const auto& [name, page] : pageActions) {
        if (name == action) {
            openHelpPage(page);
            return;
        }
    }
    if (action == "helpShowKeyboardShortcutsWindow:")
        showKeyboardShortcuts();
    else if (action == "helpShowGamepadLayoutWindow:")
        showGamepadLayout();
    else if (action == "showDownloadiOSAppWindow:")
        showCompanionApp();
    else if (action == "suggestAnImprovement:")
        suggestAnImprovement();
    else if (action == "contactSupport:")
        contactSupport();
}

void HelpActions::showKeyboardShortcuts() {
    if (!shortcuts_)
        shortcuts_ = std::make_unique<KeyboardShortcutsWindowController>(defaults_);
    shortcuts_->loadPage();
    shortcuts_->showWindow();
}

void HelpActions::showGamepadLayout() {
    if (!gamepad_)
        gamepad_ = std::make_unique<GamepadLayoutWindowController>();
    gamepad_->showWindow();
}

void HelpActions::showCompanionApp() {
    if (!companion_)
        companion_ = std::make_unique<DownloadiOSAppWindowController>();
    companion_->showWindow();
}

QString HelpActions::operatingSystemVersion() {
    return QSysInfo::prettyProductName() + QStringLiteral(" (") + QSysInfo::kernelType() + u' ' +
           QSysInfo::kernelVersion() + u')';
}

bool HelpActions::composeMail(const QString& subject, const QString& body) {
    const auto url = mailtoUrl(supportAddress(), subject, body);
    if (url && urlOpener().open(*url))
        return true;
    // Without a mail program the help page; without a browser either, the address to write to.
    if (const auto page = helpPageUrl(HelpPage::help); page && urlOpener().open(*page))
        return false;
    if (url)
        sayNotOpened(*url);
    else
        openHelpPage(HelpPage::help);
    return false;
}

bool HelpActions::suggestAnImprovement() {
    return composeMail(QString::fromUtf8(improvementSubject), QString::fromUtf8(improvementBody));
}

bool HelpActions::contactSupport() {
    return composeMail(QString::fromUtf8(supportSubject),
                       supportMailBody(ApplicationInfo::current(), operatingSystemVersion(), machineModel()));
}

} // namespace cw
