// Opening web pages and mail addresses in the user's programs, behind an interface tests replace.
#pragma once

#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>

namespace cw {

// Hands a URL to the desktop (the default browser, the mail program). Main thread only.
class UrlOpener {
public:
    // Whether a program took the URL. Called once, on the main thread; perhaps before open()
    // returns (a fake, an invalid URL), perhaps much later.
    using Done = std::function<void(bool taken)>;

    virtual ~UrlOpener();
    // Hands the URL on; an invalid URL is refused without asking anyone.
    virtual void open(const QUrl& url, Done done) = 0;
};

// The opener over xdg-open, run as a process of its own whose exit status tells whether a program
// took the URL: xdg-open exits non-zero when it finds none (a desktop without a browser or a mail
// program), though it started. One still running after `handedOnAfter` counts as having handed
// the URL on (some desktops' xdg-open waits for the program it started); it is left to run, never
// killed. Without xdg-open, QDesktopServices looks for a browser itself.
class DesktopUrlOpener final : public UrlOpener {
public:
    static constexpr std::chrono::milliseconds defaultHandedOnAfter{10000};

    explicit DesktopUrlOpener(std::chrono::milliseconds handedOnAfter = defaultHandedOnAfter)
        : handedOnAfter_(handedOnAfter) {}
    void open(const QUrl& url, Done done) override;

private:
    std::chrono::milliseconds handedOnAfter_;
};

// The opener the settings panes and the help actions use: DesktopUrlOpener unless another was
// installed. Installing null restores it; the previous one is returned.
UrlOpener& urlOpener();
std::shared_ptr<UrlOpener> setUrlOpener(std::shared_ptr<UrlOpener> opener);

// Opens `url` through urlOpener(); when nothing took it (no web browser, no mail program, no
// file manager), an alert says so with the address, which can be copied from it.
void openOrSayWhy(const QUrl& url);
// The alert alone, for a `url` nothing took.
void sayNotOpened(const QUrl& url);

} // namespace cw
