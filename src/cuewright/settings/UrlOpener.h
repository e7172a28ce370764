// Opening web pages and mail addresses in the user's programs, behind an interface tests replace.
#pragma once

#include <QUrl>

#include <memory>

namespace cw {

// Hands a URL to the desktop (the default browser, the mail program). Main thread only.
class UrlOpener {
public:
    virtual ~UrlOpener();
    // Returns whether the desktop took the URL; an invalid URL is refused without asking it.
    virtual bool open(const QUrl& url) = 0;
};

// The opener over QDesktopServices::openUrl.
class DesktopUrlOpener final : public UrlOpener {
public:
    bool open(const QUrl& url) override;
};

// The opener the settings panes and the help actions use: DesktopUrlOpener unless another was
// installed. Installing null restores it; the previous one is returned.
UrlOpener& urlOpener();
std::shared_ptr<UrlOpener> setUrlOpener(std::shared_ptr<UrlOpener> opener);

// Opens `url` through urlOpener(); when nothing took it (no web browser, no mail program), an
// alert says so with the address, which can be copied from it. Returns whether it opened.
bool openOrSayWhy(const QUrl& url);
// The alert alone, for a `url` nothing took.
void sayNotOpened(const QUrl& url);

} // namespace cw
