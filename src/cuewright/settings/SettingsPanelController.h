// The settings window: a toolbar of five panes over the chosen pane.
#pragma once

#include "platform/defaults/Defaults.h"
#include "platform/defaults/NotificationCenter.h"
#include "platform/ui/WindowController.h"

#include <QRect>

#include <array>
#include <string>

class QAction;
class QScrollArea;
class QToolBar;

namespace cw {

class SettingsPane;

// The one settings window. Choosing a toolbar item shows that pane (made on first use, then kept
// with its controls for the window's life); the window takes the pane's size and keeps its top
// edge where it was, within its screen's work area: a pane taller than the area leaves scrolls.
// The first showWindow() centres the window on its screen; later ones leave it where the user
// put it, moved inside the work area when it is not. A pane is told when it appears and when it goes (another
// pane, or the window closing), so it reloads and stores its settings then. From the keyboard, Tab reaches
// the toolbar's items and Ctrl+Tab / Ctrl+PageDown (Ctrl+Shift+Tab / Ctrl+PageUp back) step
// through the panes, leaving the focus on the chosen item.
//
// `defaults` and `center` must outlive the controller. Main thread only.
class SettingsPanelController : public platform::WindowController {
    Q_OBJECT

public:
    // In toolbar order.
    enum class Pane { general, script, network, keys, updates };
    static constexpr int paneCount = 5;

    // `computerName`: the name the Remote control pane falls back to ("" when the computer has
    // none); RegistrationHost::current().localizedName in the application.
    explicit SettingsPanelController(
        std::string computerName, platform::Defaults& defaults = platform::Defaults::standard(),
        platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter(),
        QObject* parent = nullptr);
    ~SettingsPanelController() override;

    void showWindow() override;
    // The toolbar's actions; each marks its item and shows its pane (animation is not used).
    void showPane(Pane pane);

    Pane currentPane() const { return current_; }
    // The pane's controller, made on first use.
    SettingsPane& pane(Pane pane);
    // The pane's controller when it was made, else null.
    SettingsPane* loadedPane(Pane pane) const { return panes_[index(pane)]; }
    QAction* toolbarItem(Pane pane) const { return items_[index(pane)]; }

    // The window frame for new content: the width becomes the content's, the height changes by
    // the content's change in height, and the top edge stays.
    static QRect frameForContent(const QRect& frame, int currentContentHeight, QSize newContentSize);

protected:
    QWidget* makeWindow() override;
    void windowDidLoad() override;
    void windowWillClose() override;

private:
    static std::size_t index(Pane pane) { return static_cast<std::size_t>(pane); }
    void setContentPane(QWidget* content);
    // Shows the pane `step` places on in toolbar order, wrapping around.
    void stepPane(int step);

    std::string computerName_;
    platform::Defaults& defaults_;
    platform::NotificationCenter& center_;
    std::array<SettingsPane*, paneCount> panes_{};
    std::array<QAction*, paneCount> items_{};
    QToolBar* toolbar_ = nullptr;
    QScrollArea* contentScroll_ = nullptr; // around contentHost_
    QWidget* contentHost_ = nullptr;
    QWidget* content_ = nullptr;
    Pane current_ = Pane::general;
};

} // namespace cw
