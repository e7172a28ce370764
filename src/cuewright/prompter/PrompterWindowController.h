// PrompterWindowController: one prompter window, free-floating in a preset or full screen on a
// display.
#pragma once

#include "cuewright/model/ProjectEventListener.h"
#include "cuewright/model/ScreenDescription.h"
#include "cuewright/model/TextAlignment.h"
#include "cuewright/prompter/PrompterControlBar.h"
#include "cuewright/prompter/TeleprompterWindowPreset.h"
#include "platform/ui/WindowController.h"

#include <QAbstractButton>
#include <QMenu>
#include <QPointer>
#include <QSlider>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <string_view>

class QScreen;

namespace platform {
class Defaults;
class DisplayFullScreen;
class NotificationCenter;
} // namespace platform

namespace cw {

class Project;
class PrompterView;
class PrompterViewController;
class PrompterWindowControllerDelegate;

// Where a prompter window finds its settings and its notifications.
struct PrompterWindowEnvironment {
    platform::Defaults* defaults = nullptr;         // Defaults::standard() when null
    platform::NotificationCenter* center = nullptr; // the default centre when null
};

// Owns one prompter window: the project's text scrolls in a PrompterView that fills the window's
// anchor, under a bar of the window's own controls (on-screen controls, time read-out, progress
// bar, controls and window opacity, mirroring, alignment, speed lock, pinning, full screen, menu).
//
// A window is either
//  - free-floating (no screen description): it belongs to a preset, reads that preset's settings
//    when it loads and stores every change at once under the preset's keys; its frame is saved
//    when it closes (only after it was shown) and restored when it loads and shows; or
//  - display-bound (a screen description): normal preset, normal window level whatever the preset
//    says, full screen on its display (showFullScreen), no frame kept. Escape, Ctrl+W, the "Full
//    Screen" button and the menu's "Switch Display Off" close it, switching the display off, so
//    a prompter on the editor's own display never holds the editor hidden. Mirroring, controls, time
//    read-out, progress bar and alignment come from the description, and changes go back to it
//    through the project's screen manager; the copy held here is replaced only when the project
//    announces the description (which update() does before it returns). When its display goes
//    away the window hides, so it never lands over the editor, and the display stays switched
//    on: the window comes back in full screen when a display with the same UUID returns.
//
// Actions take their sender: one from a menu inverts what the view shows, one from the window's
// own control applies the control's state. validateMenuItem() tells menus what they may do.
//
// Made by create() (the project holds it weakly as a listener); the window is made lazily by
// window() or showWindow(). The application shell keeps the controller and drops it when
// prompterWindowControllerWillClose() arrives. Main thread only.
class PrompterWindowController : public platform::WindowController,
                                 public ProjectEventListener,
                                 public std::enable_shared_from_this<PrompterWindowController> {
    Q_OBJECT
    struct PrivateTag {};

public:
    enum class Sender { control, menu };
    enum class Action {
        toggleControls,
        toggleTimestamp,
        toggleProgress,
        changeControlsOpacity,
        changeWindowOpacity,
        flipH,
        flipV,
        alignLeft,
        alignCenter,
        alignRight,
        toggleSpeedLock,
        togglePin,
        playPause,
        rewind,
        spawnIndependentPrompterWindow,
        spawnTransparentPrompterWindow,
        toggleFullScreen,
        performClose,
    };
    struct MenuItemState {
        bool enabled = false;
        std::optional<bool> checked;  // set the item's check mark to this
        std::optional<QString> title; // set the item's title to this
    };

    using Environment = PrompterWindowEnvironment;

    // A free-floating window of the preset, or, with a description, one bound to its display.
    static std::shared_ptr<PrompterWindowController>
    create(std::shared_ptr<Project> project, TeleprompterWindowPreset preset,
           std::optional<ScreenDescription> screenDesc = std::nullopt, Environment environment = {});
    PrompterWindowController(PrivateTag, std::shared_ptr<Project> project, TeleprompterWindowPreset preset,
                             std::optional<ScreenDescription> screenDesc, Environment environment);
    ~PrompterWindowController() override;

    const std::shared_ptr<Project>& project() const { return project_; }
    const std::optional<ScreenDescription>& screenDesc() const { return screenDesc_; }
    TeleprompterWindowPreset preset() const { return preset_; }
    std::shared_ptr<PrompterWindowControllerDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<PrompterWindowControllerDelegate> delegate) {
        delegate_ = std::move(delegate);
    }
    // Present once the window has loaded.
    PrompterViewController* prompterViewController() const { return viewController_.get(); }
    PrompterView* prompterView() const;
    bool okToSaveWindowFrame() const { return okToSaveWindowFrame_; }

    // Shows the window, starts prompting, sets the title and the window opacity, then puts the
    // preset's frame back. May be called again.
    void showWindow() override;
    // For a display-bound window: onto the display, shown, then full screen there.
    void showFullScreen(QScreen* screen);
    // The attached display with this UUID; null when none is attached.
    static QScreen* screenForDisplayUUID(std::string_view displayUUID);
    // A display-bound window whose display went away, hidden until it returns.
    bool isWaitingForDisplay() const { return waitingForDisplay_; }

    // Nothing for a display-bound window, before the first showWindow(), or without a window.
    void saveWindowFrame();
    // Applies the preset's stored frame; an absent or unusable one (no numbers, no width or
    // height) is ignored. Nothing for a display-bound window.
    void restoreWindowFrame();

    // ---- actions ----
    void toggleControls(Sender sender = Sender::control);
    void toggleTimestamp(Sender sender = Sender::control);
    void toggleProgress(Sender sender = Sender::control);
    void changeControlsOpacity();
    void changeWindowOpacity();
    void flipH();
    void flipV();
    void alignLeft() { align(TextAlignment::left); }
    void alignCenter() { align(TextAlignment::center); }
    void alignRight() { align(TextAlignment::right); }
    void toggleSpeedLock(Sender sender = Sender::control);
    void togglePin();
    void playPause();
    void rewind();
    void spawnIndependentPrompterWindow();
    void spawnTransparentPrompterWindow();
    void perform(Action action, Sender sender);
    MenuItemState validateMenuItem(Action action) const;
    // A menu of the window's actions, validated each time it opens; made on first use. Its window
    // keys (F11 full screen, Ctrl+W close) work in the window while the menu is closed.
    QMenu* menu();

    // ---- the window's controls (present once the window has loaded) ----
    QWidget* prompterAnchorView() const { return anchor_; }
    QAbstractButton* toggleControlsButton() const { return toggleControlsButton_; }
    QAbstractButton* toggleTimestampButton() const { return toggleTimestampButton_; }
    QAbstractButton* toggleProgressButton() const { return toggleProgressButton_; }
    QSlider* controlsOpacitySlider() const { return controlsOpacitySlider_; }
    QSlider* windowOpacitySlider() const { return windowOpacitySlider_; }
    QAbstractButton* flipHButton() const { return flipHButton_; }
    QAbstractButton* flipVButton() const { return flipVButton_; }
    QAbstractButton* alignLeftButton() const { return alignLeftButton_; }
    QAbstractButton* alignCenterButton() const { return alignCenterButton_; }
    QAbstractButton* alignRightButton() const { return alignRightButton_; }
    QAbstractButton* toggleSpeedLockButton() const { return toggleSpeedLockButton_; }
    QAbstractButton* pinWindowButton() const { return pinWindowButton_; }
    QAbstractButton* toggleFullscreenButton() const { return toggleFullscreenButton_; }
    PrompterControlBar* controlBar() const { return bar_; }
    // The window opacity the slider holds, 0...1.
    float windowOpacityValue() const;

    // ---- ProjectEventListener ----
    void projectScriptPropertiesDidChange(Project& project) override;
    void projectScreenDescriptionDidChange(Project& project, const ScreenDescription& screen) override;
    // A save, Save As included, may have given the script a new name: the title follows.
    void projectDidSave(Project& project) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    QWidget* makeWindow() override;
    void windowDidLoad() override;
    void windowWillClose() override;
    void windowDidBecomeMain() override;
    void windowFullScreenDidChange(bool isFullScreen) override;

private:
    void applyMirroring(bool flipHorizontal, bool flipVertical);
    void applyShows(bool controls, bool timestamp, bool progress);
    void applyWindowOpacityRule(float opacity);
    void align(TextAlignment alignment);
    void showAlignment(TextAlignment alignment);
    void writeToDescription(const std::function<void(ScreenDescription&)>& change);
    void updateTitle();
    void toggleFullScreenFromButton();
    void switchDisplayOff();
    void displayLost();
    void displayAdded();
    // Closes the window once the event that asked for it is over, as closing may let go of this
    // controller; a display-bound window's display is switched off by the close.
    void closeAfterThisEvent();
    void storeBool(std::string_view key, bool value);
    void addBarControls();
    // F6 and Ctrl+Tab: the keyboard to the bar from the prompter view, or back.
    void focusOtherPart();

    std::shared_ptr<Project> project_;
    std::optional<ScreenDescription> screenDesc_;
    TeleprompterWindowPreset preset_;
    std::weak_ptr<PrompterWindowControllerDelegate> delegate_;
    platform::Defaults* defaults_;
    platform::NotificationCenter* center_;
    std::shared_ptr<PrompterViewController> viewController_;
    bool okToSaveWindowFrame_ = false;
    bool waitingForDisplay_ = false;

    QPointer<QWidget> anchor_;
    QPointer<QAbstractButton> toggleControlsButton_;
    QPointer<QAbstractButton> toggleTimestampButton_;
    QPointer<QAbstractButton> toggleProgressButton_;
    QPointer<QSlider> controlsOpacitySlider_;
    QPointer<QSlider> windowOpacitySlider_;
    QPointer<QAbstractButton> flipHButton_;
    QPointer<QAbstractButton> flipVButton_;
    QPointer<QAbstractButton> alignLeftButton_;
    QPointer<QAbstractButton> alignCenterButton_;
    QPointer<QAbstractButton> alignRightButton_;
    QPointer<QAbstractButton> toggleSpeedLockButton_;
    QPointer<QAbstractButton> pinWindowButton_;
    QPointer<QAbstractButton> toggleFullscreenButton_;
    QPointer<QAbstractButton> menuButton_;
    QPointer<QMenu> menu_;
    QPointer<PrompterControlBar> bar_;
    platform::DisplayFullScreen* fullScreen_ = nullptr;
};

} // namespace cw
