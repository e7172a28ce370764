#include "cuewright/settings/KeyWellButton.h"

#include "platform/keys/KeyTranslation.h"

#include <QApplication>
#include <QKeyEvent>

namespace cw {

static std::function<void()>& beepFunction() {
    static std::function<void()> beep = [] { QApplication::beep(); };
    return beep;
}

std::function<void()> KeyWellButton::setBeep(std::function<void()> beep) {
    auto previous = beepFunction();
    beepFunction() = beep ? std::move(beep) : [] { QApplication::beep(); };
    return previous;
}

QString KeyWellButton::notAssignedTitle() {
    return tr("Not assigned");
}

KeyWellButton::KeyWellButton(QWidget* parent)
    : QPushButton(parent) {
    setCheckable(true);
    setMinimumWidth(150);
    setFocusPolicy(Qt::StrongFocus);
    connect(this, &QPushButton::toggled, this, [this] { updateTitle(); });
    updateTitle();
}

void KeyWellButton::setKey(std::optional<KeyBindings::Key> key) {
    if (key)
        key->modifiers = platform::bindingModifiers(key->modifiers);
    key_ = key;
    updateTitle();
}

void KeyWellButton::updateTitle() {
    if (isChecked()) {
        setText(tr("Type a shortcut…"));
        return;
    }
    setText(key_ ? QString::fromStdString(KeyBindings::keyText(*key_)) : notAssignedTitle());
}

bool KeyWellButton::recordKey(const platform::KeyEvent& event) {
    if (!isChecked())
        return false;
    if (event.type != platform::KeyEvent::Type::keyDown)
        return true; // releases and modifier presses alone: keep waiting for the key
    // Caps Lock's light is not part of the key: a key recorded with it on matches with it off.
    const platform::ModifierFlags modifiers = platform::bindingModifiers(event.modifierFlags);
    // Escape alone cancels, as it does in every recorder; bound, it would be lost to the prompter
    // (switching a full-screen display off) and, listened to in the background, to every program.
    if (event.keyCode == platform::keycode::escape && modifiers == 0) {
        setChecked(false);
        return true;
    }
    if (delegate_ && !delegate_->keyWellButtonIsKeyAvailable(*this, event.keyCode, modifiers)) {
        setChecked(false);
        beepFunction()();
        return true;
    }
    key_ = KeyBindings::Key{event.keyCode, modifiers};
    setChecked(false);
    if (delegate_)
        delegate_->keyWellButtonDidChange();
    return true;
}

bool KeyWellButton::event(QEvent* e) {
    if (!isChecked())
        return QPushButton::event(e);
    switch (e->type()) {
    case QEvent::ShortcutOverride:
        e->accept();
        return true;
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
        const auto translated = platform::translateKeyEvent(*static_cast<QKeyEvent*>(e));
        if (translated)
            recordKey(*translated);
        e->accept();
        return true;
    }
    default:
        return QPushButton::event(e);
    }
}

void KeyWellButton::focusOutEvent(QFocusEvent* e) {
    setChecked(false);
    QPushButton::focusOutEvent(e);
}

} // namespace cw
