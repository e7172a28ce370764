#include "cuewright/model/BindingKeyInput.h"

#include "cuewright/model/KeyBindings.h"
#include "cuewright/model/SettingsKeys.h"
#include "dispatch/MainThreadChecker.h"
#include "platform/defaults/Defaults.h"
#include "platform/keys/KeyTranslation.h"

#include <QKeyEvent>

namespace cw {

bool mayBindWhileTyping(const platform::KeyEvent& event) {
    using namespace platform::modifier;
    const bool held = (event.modifierFlags & (command | option | control)) != 0;
    return (held || platform::isFunctionKey(event.keyCode)) &&
           !platform::isStandardEditingKey(event.keyCode, event.modifierFlags);
}

BindingKeyInput::BindingKeyInput(BindingContext context, platform::KeyEventTranslator::Sink sink,
                                 platform::Defaults& defaults, MayBind mayBind)
    : defaults_(&defaults)
    , mayBind_(std::move(mayBind))
    , keys_(context)
    , translator_(std::move(sink)) {}

std::optional<KeyBindings::Action> BindingKeyInput::boundAction(const platform::KeyEvent& event) const {
    if (mayBind_ && !mayBind_(event)) {
        return std::nullopt;
    }
    return KeyBindings::action(event, *defaults_);
}

bool BindingKeyInput::actsOnKeyDown() const {
    return defaults_->boolForKey(settings::performCustomBindingActionOnKeyDown);
}

std::optional<BindingKeys::Decision> BindingKeyInput::keyDown(const platform::KeyEvent& event) {
    CW_DCHECK_MAIN_THREAD();
    return keys_.keyDown(event, boundAction(event), actsOnKeyDown());
}

std::optional<BindingKeys::Decision> BindingKeyInput::keyUp(const platform::KeyEvent& event) {
    CW_DCHECK_MAIN_THREAD();
    return keys_.keyUp(event, actsOnKeyDown());
}

bool BindingKeyInput::dispatch(const platform::KeyEvent& event,
                               const std::function<bool(const platform::KeyEvent&, bool)>& act) {
    std::optional<BindingKeys::Decision> decision;
    switch (event.type) {
    case platform::KeyEvent::Type::keyDown:
        decision = keyDown(event);
        break;
    case platform::KeyEvent::Type::keyUp:
        decision = keyUp(event);
        break;
    case platform::KeyEvent::Type::flagsChanged:
        return false;
    }
    if (!decision) {
        return false;
    }
    // Swallowed when the action runs on the other edge or ran already.
    return !decision->runs || act(decision->event, decision->isDown);
}

bool BindingKeyInput::isBinding(const QKeyEvent& shortcutOverride) const {
    // A shortcut override carries the press it stands for.
    const QKeyEvent& event = shortcutOverride;
    const QKeyEvent press(QEvent::KeyPress, event.key(), event.modifiers(), event.nativeScanCode(),
                          event.nativeVirtualKey(), event.nativeModifiers(), event.text(),
                          event.isAutoRepeat(), event.count());
    const auto key = platform::translateKeyEvent(press);
    if (!key || key->type != platform::KeyEvent::Type::keyDown) {
        return false;
    }
    // A key whose binding's press has not come up is repeating that press.
    return keys_.holdsPress(key->keyCode) || boundAction(*key).has_value();
}

bool BindingKeyInput::ownsRelease(const QKeyEvent& release) const {
    const auto key = platform::translateKeyEvent(release);
    return key && keys_.holdsPress(key->keyCode);
}

bool BindingKeyInput::takeKeyEvent(QEvent& event, const std::function<bool()>& watched) {
    switch (event.type()) {
    case QEvent::ShortcutOverride:
        if (isBinding(static_cast<QKeyEvent&>(event)) && watched()) {
            event.accept();
            return true;
        }
        return false;
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
        // The translation holds X11's releases back a moment.
        const auto& key = static_cast<QKeyEvent&>(event);
        // The release of a press taken here is ours wherever it goes: a menu opened with the
        // mouse meanwhile has the keyboard, and a held wind must still end on its key-up.
        const bool ours = event.type() == QEvent::KeyPress ? isBinding(key) && watched() : ownsRelease(key);
        if (ours && translate(key)) {
            event.accept();
            return true;
        }
        if (watched()) {
            noteKeyEvent(key); // an X11 repeat's release, say: the press after it is a repeat
        }
        return false;
    }
    default:
        return false;
    }
}

std::vector<BindingKeys::Decision> BindingKeyInput::endHeld() {
    CW_DCHECK_MAIN_THREAD();
    if (translator_.isHoldingRelease()) {
        translator_.deliverHeldRelease(); // a release that came before the focus went
    }
    return keys_.endHeld();
}

} // namespace cw
