// The script text view's custom key bindings: which keys go to the delegate, which are typed.
#include "cuewright/editor/ScriptTextView.h"
#include "cuewright/editor/ScriptTextViewKeyEventDelegate.h"
#include "cuewright/editor/TextBridge.h"
#include "cuewright/model/BindingKeyInput.h"
#include "platform/defaults/Defaults.h"
#include "platform/keys/KeyTranslation.h"
#include "platform/keys/StandardKeys.h"
#include "platform/ui/ActionRoute.h"

#include <QFocusEvent>
#include <QKeyEvent>

#include <algorithm>
#include <iterator>
#include <optional>

namespace cw::editor {

namespace {

using Action = KeyBindings::Action;

// The text commands of the standard keys' table that the view carries out itself, so that a key
// means the same under every platform theme (plain X11 binds no Ctrl+Y to Redo), and whatever the
// menu items' shortcuts were last validated for.
std::optional<QKeySequence::StandardKey> textCommandOf(const QKeyEvent& event) {
    const auto command = platform::standardCommandOfKey(
        QKeyCombination(event.modifiers() & ~Qt::KeypadModifier, static_cast<Qt::Key>(event.key())));
    using SK = QKeySequence;
    static constexpr SK::StandardKey textCommands[] = {
        SK::Undo, SK::Redo, SK::Cut, SK::Copy, SK::Paste, SK::SelectAll, SK::Bold, SK::Italic, SK::Underline};
    if (!command ||
        std::find(std::begin(textCommands), std::end(textCommands), *command) == std::end(textCommands)) {
        return std::nullopt;
    }
    return command;
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
              platform::Defaults::standard(), mayBindWhileTyping) {}

    ScriptTextViewKeyEventDelegate* delegate = nullptr;
    BindingKeyInput input;

    bool ask(const platform::KeyEvent& event, bool isKeyDown) const {
        return delegate != nullptr && delegate->handleKeyEvent(event, isKeyDown);
    }
};

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
    // widget sees it; taking the override keeps the user's binding, or the text command, for the
    // key press that follows.
    if (event->type() == QEvent::ShortcutOverride) {
        const auto& key = static_cast<QKeyEvent&>(*event);
        if (keyRouting().input.isBinding(key) || textCommandOf(key)) {
            event->accept();
            return true;
        }
    }
    return QTextEdit::event(event);
}

bool ScriptTextView::runTextCommand(const QKeyEvent& event) {
    const auto command = textCommandOf(event);
    if (!command) {
        return false;
    }
    using SK = QKeySequence;
    // A locked text is still copied from and selected in; nothing else changes it.
    if (isReadOnly() && *command != SK::Copy && *command != SK::SelectAll) {
        return true;
    }
    // The traits are the window's, as its menu items are.
    const auto traitAction = [](QKeySequence::StandardKey trait) {
        return trait == SK::Bold ? "toggleBold:" : trait == SK::Italic ? "toggleItalic:" : "toggleUnderline:";
    };
    switch (*command) {
    case SK::Bold:
    case SK::Italic:
    case SK::Underline:
        platform::sendAction(traitAction(*command), nullptr, this);
        return true;
    case SK::Undo:
        undo();
        break;
    case SK::Redo:
        redo();
        break;
    case SK::Cut:
        cut();
        break;
    case SK::Copy:
        copy();
        break;
    case SK::Paste:
        paste();
        break;
    case SK::SelectAll:
        selectAll();
        break;
    default:
        return false;
    }
    ensureCursorVisible();
    return true;
}

void ScriptTextView::cut() {
    QTextCursor step = textCursor();
    step.beginEditBlock();
    splitBeforeJoining(*document(), step.selectionStart(), step.selectionEnd());
    QTextEdit::cut();
    step.endEditBlock();
}

void ScriptTextView::focusInEvent(QFocusEvent* event) {
    if (!caretWaitsForLayout(*event)) {
        QTextEdit::focusInEvent(event);
    }
}

void ScriptTextView::focusOutEvent(QFocusEvent* event) {
    endHeldKeys();
    if (!caretWaitsForLayout(*event)) {
        QTextEdit::focusOutEvent(event);
    }
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
