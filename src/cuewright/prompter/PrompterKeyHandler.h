// The prompter surface's keyboard: custom bindings, presenter remotes and the fixed keys.
#pragma once

#include "cuewright/model/BindingActions.h"
#include "cuewright/model/BindingKeyInput.h"
#include "cuewright/prompter/KeyHints.h"
#include "cuewright/prompter/PrompterControlPanel.h"
#include "platform/keys/KeyEvent.h"

#include <QObject>
#include <QPointer>

#include <optional>

class QKeyEvent;

namespace platform {
class Defaults;
class NotificationCenter;
} // namespace platform

namespace cw {

class PrompterView;
struct KeyBindings;

// Answers the key events of one PrompterView. Three handlers look at every event in turn: the
// user's custom bindings, the keys presentation remotes send (while "isPresenterSupportEnabled"
// is on) and the fixed keys (Space, Delete, the arrows, W, S, U, J); the first that claims the
// event ends it. An unclaimed event goes on to the view and up to its parents, as Qt does with an
// ignored key event. X11 auto-repeat releases never reach the handlers (see KeyEventTranslator), so a
// held key acts on its release once.
//
// While a key is held the control panel shows the control that stands for it as pressed, until
// any key goes up.
// Most actions run on the key-up; speed steps, the four-line jumps and fast winding on the
// key-down, and "PerformCustomBindingActionOnKeyDown" moves a binding's one-shot action to the
// key-down. The bindings run as BindingKeys and runBindingAction say for the prompter (a speed
// step of 2.5; an auto-repeat acts again). Bindings and settings are read afresh at every event.
//
// A bound key wins over the window's menu shortcuts, as in the editor.
// A held binding ends when its key goes up, or at the latest when the view loses the keyboard
// focus (another window activated, the window closed).
//
// The handler also keeps the view's key hints in step with the saved bindings
// ("KeyBindingsDidChange").
//
// Installed as an event filter of the view, whose child it is; also of the window's own controls
// (watchControl), where the bindings act too while every other key (Space, the arrows, a
// presenter's Page Down, ...) stays with the control. Main thread only.
class PrompterKeyHandler : public QObject, private BindingActionTarget {
    Q_OBJECT

public:
    // The view's key events pass through the handler from now on. `defaults` and `center` must
    // outlive it.
    explicit PrompterKeyHandler(PrompterView* view);
    PrompterKeyHandler(PrompterView* view, platform::Defaults& defaults,
                       platform::NotificationCenter& center);
    ~PrompterKeyHandler() override;
    PrompterKeyHandler(const PrompterKeyHandler&) = delete;
    PrompterKeyHandler& operator=(const PrompterKeyHandler&) = delete;

    // Whether the event was claimed.
    bool keyDown(const platform::KeyEvent& event);
    bool keyUp(const platform::KeyEvent& event);
    // The view lost the keyboard focus: held bindings (fast winding) end as if their keys went
    // up here, since their key-ups will reach another window or widget.
    void endHeldKeys();

    // The bindings' keys typed into `control` act as in the view.
    void watchControl(QWidget* control);

    // The hints the controls draw for these bindings.
    static KeyHints keyHints(const KeyBindings& bindings);
    // Hands the view the hints of the saved bindings.
    void refreshKeyHints();

    static constexpr int jumpLineCount = 4;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool handleCustomBindingKeyDown(const platform::KeyEvent& event);
    bool handlePresenterKeyDown(const platform::KeyEvent& event);
    bool handleFixedKeyDown(const platform::KeyEvent& event);
    bool handleCustomBindingKeyUp(const platform::KeyEvent& event);
    bool handlePresenterKeyUp(const platform::KeyEvent& event);
    bool handleFixedKeyUp(const platform::KeyEvent& event);

    // Shows the control the key stands for as pressed until the key goes up.
    void press(PrompterControl control);
    void toggleTransport();
    void requestRewind();
    void changeFastForward(double factor);
    void stepLines(bool up, int count);
    int manualLineCount() const;
    bool isPlaying() const;

    // BindingActionTarget: the bindings act on the view and tell its delegate.
    void togglePlayback() override { toggleTransport(); }
    void rewind() override { requestRewind(); }
    void stepSpeed(double delta) override;
    double ffwdFactor() const override;
    void setFfwdFactor(double factor) override { changeFastForward(factor); }
    bool stepLine(LineStep step) override;
    void jumpToNextBookmark() override;
    void jumpToPreviousBookmark() override;

    QPointer<PrompterView> view_;
    bool inControl_ = false; // the event being handled went to a watched control, not the view
    platform::Defaults* defaults_;
    platform::NotificationCenter* center_;
    BindingKeyInput input_;
};

} // namespace cw
