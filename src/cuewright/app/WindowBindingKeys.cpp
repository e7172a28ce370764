#include "cuewright/app/WindowBindingKeys.h"

#include "cuewright/editor/EditorWindowKeys.h"
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/settings/KeyWellButton.h"
#include "platform/defaults/Defaults.h"

#include <QApplication>
#include <QKeyEvent>

namespace cw {

WindowBindingKeys::WindowBindingKeys(platform::Defaults& defaults, RunsOwnBindings runsOwnBindings,
                                     Perform perform)
    : runsOwnBindings_(std::move(runsOwnBindings))
    , perform_(std::move(perform))
    , input_(
          BindingContext::application,
          [this](const platform::KeyEvent& event) {
              std::optional<BindingKeys::Decision> decision;
              if (event.type == platform::KeyEvent::Type::keyDown) {
                  decision = input_.keyDown(event);
              } else if (event.type == platform::KeyEvent::Type::keyUp) {
                  decision = input_.keyUp(event);
              }
              if (!decision) {
                  return false;
              }
              if (decision->runs) {
                  perform_(decision->action, decision->isDown);
              }
              return true;
          },
          defaults,
          [this](const platform::KeyEvent& event) {
              if (!input_.defaults().boolForKey(settings::listenToShortcutsInBackground)) {
                  return false;
              }
              const QWidget* focus = QApplication::focusWidget();
              return focus == nullptr || !editor::EditorWindowKeys::typesText(*focus) ||
                     mayBindWhileTyping(event);
          }) {
    qApp->installEventFilter(this);
    connect(qApp, &QGuiApplication::focusWindowChanged, this, [this] { endHeldKeys(); });
}

WindowBindingKeys::~WindowBindingKeys() = default;

bool WindowBindingKeys::watches(const QObject* watched) const {
    // A key goes to the focus widget, or to the active window when none has the focus.
    const QWidget* focus = QApplication::focusWidget();
    const QWidget* target = focus != nullptr ? focus : QApplication::activeWindow();
    if (target == nullptr || watched != target) {
        return false;
    }
    if (const auto* well = qobject_cast<const KeyWellButton*>(target);
        well != nullptr && well->isRecording()) {
        return false;
    }
    const QWidget* window = target->window();
    return window->windowType() != Qt::Popup && QApplication::activeModalWidget() == nullptr &&
           !runsOwnBindings_(*window);
}

bool WindowBindingKeys::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::ShortcutOverride:
        if (watches(watched) && input_.isBinding(static_cast<QKeyEvent&>(*event))) {
            event->accept();
            return true;
        }
        break;
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
        // Only a binding's keys go through the bindings: the others reach the control as they came.
        const auto& key = static_cast<QKeyEvent&>(*event);
        const bool bindings =
            event->type() == QEvent::KeyPress ? input_.isBinding(key) : input_.ownsRelease(key);
        if (bindings && watches(watched) && input_.translate(key)) {
            event->accept();
            return true;
        }
        break;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void WindowBindingKeys::endHeldKeys() {
    for (const BindingKeys::Decision& decision : input_.endHeld()) {
        if (decision.runs) {
            perform_(decision.action, decision.isDown);
        }
    }
}

} // namespace cw
