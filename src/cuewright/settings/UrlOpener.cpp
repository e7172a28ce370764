#include "cuewright/settings/UrlOpener.h"

#include "platform/ui/AlertRunner.h"

#include <QCoreApplication>
#include <QDesktopServices>

namespace cw {

UrlOpener::~UrlOpener() = default;

bool DesktopUrlOpener::open(const QUrl& url) {
    return url.isValid() && QDesktopServices::openUrl(url);
}

static std::shared_ptr<UrlOpener>& installedOpener() {
    static std::shared_ptr<UrlOpener> opener = std::make_shared<DesktopUrlOpener>();
    return opener;
}

UrlOpener& urlOpener() {
    return *installedOpener();
}

std::shared_ptr<UrlOpener> setUrlOpener(std::shared_ptr<UrlOpener> opener) {
    auto previous = installedOpener();
    installedOpener() = opener ? std::move(opener) : std::make_shared<DesktopUrlOpener>();
    return previous;
}

bool openOrSayWhy(const QUrl& url) {
    if (urlOpener().open(url))
        return true;
    sayNotOpened(url);
    return false;
}

void sayNotOpened(const QUrl& url) {
    const auto tr = [](const char* text) { return QCoreApplication::translate("UrlOpener", text); };
    platform::Alert alert;
    if (url.isLocalFile()) {
        alert.messageText = tr("No file manager showed the folder.");
        alert.informativeText = tr("Open this folder yourself:") + u'\n' + url.toLocalFile();
        platform::runModalSheet(alert);
        return;
    }
    const bool mail = url.scheme() == QLatin1String("mailto");
    alert.messageText = mail ? tr("No mail program took the message.") : tr("No web browser took the page.");
    alert.informativeText = mail ? tr("Write to this address yourself:") : tr("Open this address yourself:");
    alert.informativeText += u'\n' + (mail ? url.path(QUrl::FullyDecoded) : url.toString(QUrl::FullyEncoded));
    platform::runModalSheet(alert);
}

} // namespace cw
