// The keyboard-shortcuts window: our reference page with the user's own keys filled in.
#pragma once

#include "cuewright/model/KeyBindings.h"
#include "platform/defaults/Defaults.h"
#include "platform/ui/WindowController.h"

#include <QRect>
#include <QString>

#include <optional>

class QTextBrowser;

namespace cw {

// Shows the page compiled in as ":/KeyboardShortcuts.html". loadPage() fills the page's nine
// placeholders from the bindings stored now, and its "$key-...$" ones with the fixed keys' names; every
// showWindow() places the window afresh near the top of its screen's visible area. `defaults` must outlive
// the controller. Main thread only.
class KeyboardShortcutsWindowController : public platform::WindowController {
    Q_OBJECT

public:
    explicit KeyboardShortcutsWindowController(platform::Defaults& defaults = platform::Defaults::standard(),
                                               QObject* parent = nullptr);

    // Rebuilds the page from the current bindings. An unreadable page leaves the old one shown.
    void loadPage();
    void showWindow() override;

    QTextBrowser* browser() {
        window();
        return browser_;
    }

    // The page with every placeholder replaced (exact, case-sensitive) by its binding's key text
    // or its fixed key's name.
    static QString filledPage(QString page, const KeyBindings& bindings);
    // A key's text, "Not assigned" when there is none.
    static QString keyText(const std::optional<KeyBindings::Key>& key);

    // Where the window goes in the visible frame (top-left origin, y down): centred, `topOffset`
    // below its top; narrower or shorter (never below the minimums) when it would not fit, and
    // held inside the frame as far as the minimums allow.
    static QRect placement(const QRect& visibleFrame, int topOffset, int width, int height, int minWidth,
                           int minHeight);
    static constexpr int topOffset = 64;
    static constexpr int width = 620;
    static constexpr int height = 700;
    static constexpr int minWidth = 400;
    static constexpr int minHeight = 400;

protected:
    QWidget* makeWindow() override;
    void windowDidLoad() override;
    void windowWillClose() override { unregisterForAppearanceChanges(); }

private:
    platform::Defaults& defaults_;
    QTextBrowser* browser_ = nullptr;
};

} // namespace cw
