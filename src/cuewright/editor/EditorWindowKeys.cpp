#include "cuewright/editor/EditorWindowKeys.h"
#include "cuewright/controls/TimeControl.h"
#include "cuewright/editor/ScriptTextViewKeyEventDelegate.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
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
    if (input_.takeKeyEvent(*event, [&] { return watches(watched); })) {
        return true;
    }
    switch (event->type()) {
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
