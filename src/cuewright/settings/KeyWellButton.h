// A button that records the next key pressed, with its modifiers, as a shortcut.
#pragma once

#include "cuewright/model/KeyBindings.h"
#include "platform/keys/KeyEvent.h"

#include <QPointer>
#include <QPushButton>

#include <functional>
#include <optional>

namespace cw {

class KeyWellButton;

// The pane that checks and stores what the wells record.
class KeyWellButtonDelegate {
public:
    virtual ~KeyWellButtonDelegate() = default;
    // Whether `well` may take the key.
    virtual bool keyWellButtonIsKeyAvailable(const KeyWellButton& well, std::uint16_t keyCode,
                                             platform::ModifierFlags modifiers) = 0;
    // A well recorded a new key.
    virtual void keyWellButtonDidChange() = 0;
};

// Idle while unchecked; a click checks it and it records. While recording it takes every key
// press before shortcuts and focus navigation do (ShortcutOverride, Tab included); modifier
// presses alone are ignored, the first other key ends recording. Escape without modifiers ends
// recording without a key, as losing the focus does; a key the delegate refuses beeps. Either
// way the well keeps the key it had. Only the device-independent modifier bits are kept, without
// Caps Lock (platform::bindingModifiers). Main thread only.
class KeyWellButton : public QPushButton {
    Q_OBJECT

public:
    explicit KeyWellButton(QWidget* parent = nullptr);

    std::optional<KeyBindings::Key> key() const { return key_; }
    // Sets or clears the key without asking the delegate; the title follows.
    void setKey(std::optional<KeyBindings::Key> key);

    void setDelegate(KeyWellButtonDelegate* delegate) { delegate_ = delegate; }

    bool isRecording() const { return isChecked(); }

    // The recording routine for a translated key-down: false (not taken) unless recording.
    bool recordKey(const platform::KeyEvent& event);

    // What sounds the refusal; QApplication::beep unless replaced (tests count the calls).
    // Returns the previous one.
    static std::function<void()> setBeep(std::function<void()> beep);

    static QString notAssignedTitle();

protected:
    bool event(QEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void updateTitle();

    std::optional<KeyBindings::Key> key_;
    KeyWellButtonDelegate* delegate_ = nullptr;
};

} // namespace cw
