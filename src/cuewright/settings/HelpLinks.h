// The product's web pages and support address, as configured when the application is built.
#pragma once

#include <QString>
#include <QUrl>

#include <optional>

namespace cw {

// Every page the application opens. The addresses come from the build's configuration
// (CW_WEBSITE_URL, CW_SUPPORT_ADDRESS in CMake), each a path below the web site.
enum class HelpPage {
    manual,
    performance,
    faq,
    tabletAsDisplay,
    displayIssues,
    website,
    blog,
    companionApp,
    help, // opened when an e-mail cannot be composed
    settingsGeneral,
    settingsScript,
    settingsRemoteControl,
    settingsKeys,
    settingsUpdates,
};

// The configured address of the page, before localisation.
QString helpPageAddress(HelpPage page);

// The address as a localisation may replace it (the address is its own key and default), as a
// URL; nullopt when the text does not form a valid URL.
std::optional<QUrl> helpPageUrl(HelpPage page);
std::optional<QUrl> localizedUrl(const QString& address);

// The e-mail address of the product's support.
QString supportAddress();

// Opens the page through openOrSayWhy(); an address that does not form a URL opens nothing.
void openHelpPage(HelpPage page);

} // namespace cw
