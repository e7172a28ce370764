#include "cuewright/app/WindowBindingKeys.h"

#include "cuewright/editor/EditorWindowKeys.h"
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/settings/KeyWellButton.h"
#include "platform/defaults/Defaults.h"

#include <QApplication>

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
    return input_.takeKeyEvent(*event, [&] { return watches(watched); }) ||
           QObject::eventFilter(watched, event);
}

void WindowBindingKeys::endHeldKeys() {
    for (const BindingKeys::Decision& decision : input_.endHeld()) {
        if (decision.runs) {
            perform_(decision.action, decision.isDown);
        }
    }
}

} // namespace cw
