#include "cuewright/settings/HelpLinks.h"

#include "cuewright/settings/UrlOpener.h"

#include <QCoreApplication>

#include <array>
#include <utility>

#ifndef CW_WEBSITE_URL
#define CW_WEBSITE_URL "https://cuewright.org"
#endif
#ifndef CW_SUPPORT_ADDRESS
#define CW_SUPPORT_ADDRESS "support@cuewright.org"
#endif

namespace cw {

namespace {

// Paths below the web site, in the enumeration's order.
constexpr std::array<std::pair<HelpPage, const char*>, 14> pages{{
    {HelpPage::manual, "/manual/"},
    {HelpPage::performance, "/manual/performance/"},
    {HelpPage::faq, "/faq/"},
    {HelpPage::tabletAsDisplay, "/manual/tablet-as-display/"},
    {HelpPage::displayIssues, "/manual/display-issues/"},
    {HelpPage::website, "/"},
    {HelpPage::blog, "/blog/"},
    {HelpPage::companionApp, "/remote/"},
    {HelpPage::help, "/help/"},
    {HelpPage::settingsGeneral, "/manual/settings/#general"},
    {HelpPage::settingsScript, "/manual/settings/#script"},
    {HelpPage::settingsRemoteControl, "/manual/settings/#remote-control"},
    {HelpPage::settingsKeys, "/manual/settings/#keys"},
    {HelpPage::settingsUpdates, "/manual/settings/#updates"},
}};

} // namespace

QString helpPageAddress(HelpPage page) {
    QString site = QStringLiteral(CW_WEBSITE_URL);
    while (site.endsWith(u'/'))
        site.chop(1);
    for (const auto& [p, path] : pages) {
        if (p == page)
            return site + QString::fromLatin1(path);
    }
    return site + u'/';
}

std::optional<QUrl> localizedUrl(const QString& address) {
    const QByteArray key = address.toUtf8();
    const QUrl url(QCoreApplication::translate("HelpLinks", key.constData()), QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty())
        return std::nullopt;
    return url;
}

std::optional<QUrl> helpPageUrl(HelpPage page) {
    return localizedUrl(helpPageAddress(page));
}

QString supportAddress() {
    return QStringLiteral(CW_SUPPORT_ADDRESS);
}

void openHelpPage(HelpPage page) {
    if (const auto url = helpPageUrl(page)) {
        openOrSayWhy(*url);
    }
}

} // namespace cw
