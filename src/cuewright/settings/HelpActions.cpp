#include "cuewright/settings/HelpActions.h"

#include "cuewright/settings/DownloadiOSAppWindowController.h"
#include "cuewright/settings/GamepadLayoutWindowController.h"
#include "cuewright/settings/HelpLinks.h"
#include "cuewright/settings/KeyboardShortcutsWindowController.h"
#include "cuewright/settings/SupportMail.h"
#include "cuewright/settings/UrlOpener.h"
#include "platform/ui/AlertRunner.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
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

// Without a mail program, the address to write to and the prepared message to copy into it:
// the system's details in it are what support asks for first.
static void offerToCopy(const QString& subject, const QString& body) {
    const auto tr = [](const char* text) { return QCoreApplication::translate("HelpActions", text); };
    platform::Alert alert;
    alert.messageText = tr("No mail program took the message.");
    alert.informativeText =
        tr("Write to this address yourself:") + u'\n' + supportAddress() + QStringLiteral("\n\n") +
        tr("Copy Message puts the prepared message on the clipboard, to paste into yours.");
    alert.buttons = {tr("Copy Message"), tr("OK")};
    if (platform::runModalSheet(alert) == platform::alertFirstButtonReturn)
        QGuiApplication::clipboard()->setText(tr("Subject: %1").arg(subject) + QStringLiteral("\n\n") + body);
}

void HelpActions::composeMail(const QString& subject, const QString& body) {
    const auto url = mailtoUrl(supportAddress(), subject, body);
    if (!url) {
        openHelpPage(HelpPage::help);
        return;
    }
    urlOpener().open(*url, [subject, body](bool taken) {
        if (!taken)
            offerToCopy(subject, body);
    });
}

void HelpActions::suggestAnImprovement() {
    composeMail(QString::fromUtf8(improvementSubject), QString::fromUtf8(improvementBody));
}

void HelpActions::contactSupport() {
    composeMail(QString::fromUtf8(supportSubject),
                supportMailBody(ApplicationInfo::current(), operatingSystemVersion(), machineModel()));
}

} // namespace cw
