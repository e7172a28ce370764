// The script text view's custom key bindings: which keys go to the delegate, which are typed.
#include "cuewright/editor/ScriptTextView.h"
#include "cuewright/editor/ScriptTextViewKeyEventDelegate.h"
#include "cuewright/model/BindingKeyInput.h"
#include "platform/defaults/Defaults.h"
#include "platform/keys/KeyTranslation.h"

#include <QFocusEvent>
#include <QKeyEvent>

namespace cw::editor {

namespace {

using Action = KeyBindings::Action;

// Keys that type nothing into the script: held with Ctrl, Alt or Super, or F-keys. The standard
// editing keys among them (copy, undo, word moves, ...) stay with the text.
bool mayBeBinding(const platform::KeyEvent& event) {
    using namespace platform::modifier;
    const bool held = (event.modifierFlags & (command | option | control)) != 0;
    return (held || platform::isFunctionKey(event.keyCode)) &&
           !platform::isStandardEditingKey(event.keyCode, event.modifierFlags);
}

} // namespace

// The same input as the prompter's, so a binding matches the same keys in both places; it also
// keeps X11's auto-repeat releases from ending a held action.
struct ScriptTextView::KeyRouting {
    explicit KeyRouting(ScriptTextView& view)
        : input(
              BindingContext::editor,
              [&view](const platform::KeyEvent& event) {
                  switch (event.type) {
                  case platform::KeyEvent::Type::keyDown:
                      return view.handleKeyDown(event);
                  case platform::KeyEvent::Type::keyUp:
                      return view.handleKeyUp(event);
                  case platform::KeyEvent::Type::flagsChanged:
                      return false;
                  }
                  return false;
              },
              platform::Defaults::standard(), mayBeBinding) {}

    ScriptTextViewKeyEventDelegate* delegate = nullptr;
    BindingKeyInput input;

    bool ask(const platform::KeyEvent& event, bool isKeyDown) const {
        return delegate != nullptr && delegate->handleKeyEvent(event, isKeyDown);
    }
};

ScriptTextView::~ScriptTextView() = default;

ScriptImport::DefaultStyle ScriptTextView::pasteStyle() const {
    return ScriptImport::DefaultStyle::fromUserDefaults(keys_ ? keys_->input.defaults()
                                                              : platform::Defaults::standard());
}

void ScriptTextView::KeyRoutingDeleter::operator()(KeyRouting* keys) const {
    delete keys;
}

ScriptTextView::KeyRouting& ScriptTextView::keyRouting() {
    if (!keys_) {
        keys_.reset(new KeyRouting(*this));
    }
    return *keys_;
}

void ScriptTextView::setKeyEventDelegate(ScriptTextViewKeyEventDelegate* delegate,
                                         platform::Defaults* defaults) {
    KeyRouting& keys = keyRouting();
    keys.delegate = delegate;
    keys.input.setDefaults(defaults ? *defaults : platform::Defaults::standard());
}

ScriptTextViewKeyEventDelegate* ScriptTextView::keyEventDelegate() const {
    return keys_ ? keys_->delegate : nullptr;
}

bool ScriptTextView::routeKeyEvent(const QKeyEvent& event) {
    return keyRouting().input.translate(event);
}

bool ScriptTextView::event(QEvent* event) {
    // Qt offers a key to the window's shortcuts (a menu's Alt letter among them) before the focus
    // widget sees it; taking the override keeps the user's binding for the key press that follows.
    if (event->type() == QEvent::ShortcutOverride &&
        keyRouting().input.isBinding(static_cast<QKeyEvent&>(*event))) {
        event->accept();
        return true;
    }
    return QTextEdit::event(event);
}

void ScriptTextView::focusOutEvent(QFocusEvent* event) {
    endHeldKeys();
    QTextEdit::focusOutEvent(event);
}

void ScriptTextView::endHeldKeys() {
    KeyRouting& keys = keyRouting();
    for (const BindingKeys::Decision& decision : keys.input.endHeld()) {
        keys.ask(decision.event, /*isKeyDown=*/false);
    }
}

void ScriptTextView::keyReleaseEvent(QKeyEvent* event) {
    if (routeKeyEvent(*event)) {
        event->accept();
        return;
    }
    QTextEdit::keyReleaseEvent(event);
}

bool ScriptTextView::handleKeyDown(const platform::KeyEvent& event) {
    KeyRouting& keys = keyRouting();
    const auto decision = keys.input.keyDown(event);
    if (!decision) {
        return false;
    }
    // Swallowed when the action runs on the other edge or ran already.
    return !decision->runs || keys.ask(decision->event, true);
}

bool ScriptTextView::handleKeyUp(const platform::KeyEvent& event) {
    KeyRouting& keys = keyRouting();
    const auto decision = keys.input.keyUp(event);
    if (!decision) {
        return false;
    }
    return !decision->runs || keys.ask(decision->event, false);
}

} // namespace cw::editor
