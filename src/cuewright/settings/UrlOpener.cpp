#include "cuewright/settings/UrlOpener.h"

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

} // namespace cw
