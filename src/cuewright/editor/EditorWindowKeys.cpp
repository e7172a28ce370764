#include "cuewright/editor/EditorWindowKeys.h"
#include "cuewright/controls/TimeControl.h"
#include "cuewright/editor/ScriptTextViewKeyEventDelegate.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace cw::editor {

bool EditorWindowKeys::typesText(const QWidget& control) {
    if (const auto* line = qobject_cast<const QLineEdit*>(&control)) {
        return !line->isReadOnly();
    }
    if (const auto* spin = qobject_cast<const QAbstractSpinBox*>(&control)) {
        return !spin->isReadOnly();
    }
    if (const auto* text = qobject_cast<const QTextEdit*>(&control)) {
        return !text->isReadOnly();
    }
    if (const auto* plain = qobject_cast<const QPlainTextEdit*>(&control)) {
        return !plain->isReadOnly();
    }
    if (const auto* combo = qobject_cast<const QComboBox*>(&control)) {
        return combo->isEditable();
    }
    // Digits typed into the focused control start editing its field.
    return qobject_cast<const controls::TimeControl*>(&control) != nullptr;
}

EditorWindowKeys::EditorWindowKeys(QWidget& window, QWidget& textView,
                                   ScriptTextViewKeyEventDelegate& delegate, platform::Defaults& defaults)
    : window_(&window)
    , textView_(&textView)
    , delegate_(delegate)
    , input_(
          BindingContext::editor,
          [this](const platform::KeyEvent& event) {
              return input_.dispatch(event, [this](const platform::KeyEvent& bound, bool isKeyDown) {
                  return delegate_.handleKeyEvent(bound, isKeyDown);
              });
          },
          defaults,
          [](const platform::KeyEvent& event) {
              const QWidget* focus = QApplication::focusWidget();
              return focus == nullptr || !typesText(*focus) || mayBindWhileTyping(event);
          }) {
    qApp->installEventFilter(this);
}

EditorWindowKeys::~EditorWindowKeys() = default;

bool EditorWindowKeys::watches(const QObject* watched) const {
    if (!window_ || !textView_) {
        return false;
    }
    // A key goes to the focus widget, or to the window when none has the focus.
    const QWidget* focus = QApplication::focusWidget();
    const QWidget* target = focus ? focus : window_.data();
    return watched == target && target->window() == window_ && target != textView_ &&
           !textView_->isAncestorOf(target);
}

bool EditorWindowKeys::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::ShortcutOverride:
        if (watches(watched) && input_.isBinding(static_cast<QKeyEvent&>(*event))) {
            event->accept();
            return true;
        }
        break;
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
        // Only a binding's keys go through the bindings: the control's own keys reach it as they
        // came (the translation holds X11's releases back a moment).
        const auto& key = static_cast<QKeyEvent&>(*event);
        const bool bindings =
            event->type() == QEvent::KeyPress ? input_.isBinding(key) : input_.ownsRelease(key);
        if (bindings && watches(watched) && input_.translate(key)) {
            event->accept();
            return true;
        }
        break;
    }
    case QEvent::FocusIn:
        if (watched == textView_) {
            endHeldKeys();
        }
        break;
    case QEvent::WindowDeactivate:
        if (watched == window_) {
            endHeldKeys();
        }
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void EditorWindowKeys::endHeldKeys() {
    for (const BindingKeys::Decision& decision : input_.endHeld()) {
        delegate_.handleKeyEvent(decision.event, /*isKeyDown=*/false);
    }
}

} // namespace cw::editor
