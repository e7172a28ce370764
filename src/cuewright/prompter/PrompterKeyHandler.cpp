#include "cuewright/prompter/PrompterKeyHandler.h"

#include "cuewright/model/KeyBindings.h"
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/prompter/PrompterView.h"
#include "cuewright/prompter/PrompterViewDelegate.h"
#include "dispatch/MainThreadChecker.h"
#include "platform/defaults/Defaults.h"
#include "platform/defaults/NotificationCenter.h"

#include <QEvent>
#include <QFocusEvent>
#include <QKeyEvent>

#include <algorithm>
#include <vector>

namespace cw {

namespace {

namespace kc = platform::keycode;
using Action = KeyBindings::Action;

// Fixed and presenter keys compare the whole flags, device-dependent bits included, so any held
// modifier makes them not match. Caps Lock is no key held: with its light on, a clicker's keys and
// Space still work.
constexpr platform::ModifierFlags plainKey = 0x100;
constexpr platform::ModifierFlags functionKey = 0x800100;
constexpr platform::ModifierFlags arrowKey = 0xA00100;

bool is(const platform::KeyEvent& event, kc::KeyCode code, platform::ModifierFlags flags) {
    return event.keyCode == code && platform::withoutLocks(event.modifierFlags) == flags;
}

using PressSource = PrompterControlPanel::PressSource;

QString hintText(const std::optional<KeyBindings::Key>& key) {
    return key ? QString::fromStdString(KeyBindings::keyText(*key)) : QString();
}

} // namespace

PrompterKeyHandler::PrompterKeyHandler(PrompterView* view)
    : PrompterKeyHandler(view, platform::Defaults::standard(),
                         platform::NotificationCenter::defaultCenter()) {}

PrompterKeyHandler::PrompterKeyHandler(PrompterView* view, platform::Defaults& defaults,
                                       platform::NotificationCenter& center)
    : QObject(view)
    , view_(view)
    , defaults_(&defaults)
    , center_(&center)
    , input_(
          BindingContext::prompter,
          [this](const platform::KeyEvent& event) {
              switch (event.type) {
              case platform::KeyEvent::Type::keyDown:
                  return keyDown(event);
              case platform::KeyEvent::Type::keyUp:
                  return keyUp(event);
              case platform::KeyEvent::Type::flagsChanged:
                  return false;
              }
              return false;
          },
          defaults) {
    CW_DCHECK_MAIN_THREAD();
    view->installEventFilter(this);
    center_->addObserver(this, std::string(notifications::keyBindingsDidChange),
                         [this](const platform::Notification&) { refreshKeyHints(); });
    refreshKeyHints();
}

PrompterKeyHandler::~PrompterKeyHandler() {
    center_->removeObserver(this);
}

KeyHints PrompterKeyHandler::keyHints(const KeyBindings& bindings) {
    KeyHints hints;
    hints.spaceBound = bindings.isFixedKeyBound(KeyBindings::FixedKey::space);
    hints.deleteBound = bindings.isFixedKeyBound(KeyBindings::FixedKey::deleteKey);
    hints.upArrowBound = bindings.isFixedKeyBound(KeyBindings::FixedKey::upArrow);
    hints.downArrowBound = bindings.isFixedKeyBound(KeyBindings::FixedKey::downArrow);
    hints.playPause = hintText(bindings.playPause);
    hints.rewind = hintText(bindings.rewind);
    hints.incSpeed = hintText(bindings.incSpeed);
    hints.decSpeed = hintText(bindings.decSpeed);
    hints.lineUp = hintText(bindings.scrollLineUp);
    hints.lineDown = hintText(bindings.scrollLineDown);
    return hints;
}

void PrompterKeyHandler::refreshKeyHints() {
    CW_DCHECK_MAIN_THREAD();
    if (view_) {
        view_->controls().setKeyHints(keyHints(KeyBindings::load(*defaults_)));
    }
}

void PrompterKeyHandler::watchControl(QWidget* control) {
    control->installEventFilter(this);
}

bool PrompterKeyHandler::eventFilter(QObject* watched, QEvent* event) {
    const bool isView = watched == view_;
    // From a control the keyboard goes on to the view or a neighbour, which see the key-ups; only
    // another window, or a menu opened over this one (it has the keyboard until it closes), keeps
    // them away.
    const auto leaves = [](const QEvent& focus) {
        const Qt::FocusReason reason = static_cast<const QFocusEvent&>(focus).reason();
        return reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason;
    };
    if (event->type() == QEvent::FocusOut && (isView || leaves(*event))) {
        endHeldKeys();
        return QObject::eventFilter(watched, event);
    }
    if (event->type() == QEvent::ShortcutOverride && input_.isBinding(*static_cast<QKeyEvent*>(event))) {
        // Qt offers a key to the window's shortcuts (the menus') before the view sees it; taking
        // the override keeps the user's binding for the key press that follows, as in the editor.
        event->accept();
        return true;
    }
    const bool press = event->type() == QEvent::KeyPress;
    if (!press && event->type() != QEvent::KeyRelease) {
        return QObject::eventFilter(watched, event);
    }
    const auto& key = *static_cast<QKeyEvent*>(event);
    // A control's own keys reach it as they came (the translation holds X11's releases back a
    // moment): only a binding's go through the handlers there.
    if (!isView && !(press ? input_.isBinding(key) : input_.ownsRelease(key))) {
        input_.noteKeyEvent(key);
        return QObject::eventFilter(watched, event);
    }
    inControl_ = !isView;
    const bool taken = input_.translate(key);
    inControl_ = false;
    return taken;
}

void PrompterKeyHandler::endHeldKeys() {
    CW_DCHECK_MAIN_THREAD();
    const std::vector<BindingKeys::Decision> ended = input_.endHeld();
    if (!view_ || ended.empty()) {
        return;
    }
    view_->controls().release(PressSource::key);
    for (const BindingKeys::Decision& decision : ended) {
        runBindingAction(*this, decision.action, /*isDown=*/false, BindingContext::prompter);
    }
}

// ---- the chain ----

bool PrompterKeyHandler::keyDown(const platform::KeyEvent& event) {
    CW_DCHECK_MAIN_THREAD();
    if (!view_) {
        return false;
    }
    view_->controls().setHeld(PressSource::key, true);
    return handleCustomBindingKeyDown(event) ||
           (!inControl_ && (handlePresenterKeyDown(event) || handleFixedKeyDown(event)));
}

bool PrompterKeyHandler::keyUp(const platform::KeyEvent& event) {
    CW_DCHECK_MAIN_THREAD();
    if (!view_) {
        return false;
    }
    view_->controls().release(PressSource::key);
    return handleCustomBindingKeyUp(event) ||
           (!inControl_ && (handlePresenterKeyUp(event) || handleFixedKeyUp(event)));
}

// ---- custom bindings ----

bool PrompterKeyHandler::handleCustomBindingKeyDown(const platform::KeyEvent& event) {
    const auto decision = input_.keyDown(event);
    if (!decision) {
        return false;
    }
    // While the key is held, the control a one-shot action stands for shows pressed.
    switch (decision->action) {
    case Action::playPause:
        press(PrompterControl::transport);
        break;
    case Action::rewind:
        press(PrompterControl::rewind);
        break;
    case Action::reverse:
    case Action::scrollLineUp:
        press(PrompterControl::lineUp);
        break;
    case Action::scrollLineDown:
        press(PrompterControl::lineDown);
        break;
    case Action::incSpeed:
    case Action::decSpeed:
    case Action::jumpNextBookmark:
    case Action::jumpPrevBookmark:
    case Action::ffwd:
    case Action::bbwd:
        break;
    }
    if (decision->runs) {
        runBindingAction(*this, decision->action, /*isDown=*/true, BindingContext::prompter);
    }
    return true;
}

bool PrompterKeyHandler::handleCustomBindingKeyUp(const platform::KeyEvent& event) {
    const auto decision = input_.keyUp(event);
    if (!decision) {
        return false;
    }
    if (decision->runs) {
        runBindingAction(*this, decision->action, /*isDown=*/false, BindingContext::prompter);
    }
    return true;
}

// ---- presentation remotes ----

bool PrompterKeyHandler::handlePresenterKeyDown(const platform::KeyEvent& event) {
    if (!defaults_->boolForKey(settings::isPresenterSupportEnabled)) {
        return false;
    }
    if (is(event, kc::f5, functionKey)) {
        press(PrompterControl::transport);
        return true;
    }
    if (is(event, kc::b, plainKey)) {
        press(isPlaying() ? PrompterControl::transport : PrompterControl::rewind);
        return true;
    }
    if (is(event, kc::pageUp, functionKey)) {
        press(PrompterControl::lineUp);
        return true;
    }
    if (is(event, kc::pageDown, functionKey)) {
        press(PrompterControl::lineDown);
        return true;
    }
    return false;
}

bool PrompterKeyHandler::handlePresenterKeyUp(const platform::KeyEvent& event) {
    if (!defaults_->boolForKey(settings::isPresenterSupportEnabled)) {
        return false;
    }
    if (is(event, kc::f5, functionKey)) {
        toggleTransport();
        return true;
    }
    if (is(event, kc::b, plainKey)) {
        if (isPlaying()) {
            toggleTransport();
        } else {
            requestRewind();
        }
        return true;
    }
    if (is(event, kc::pageUp, functionKey)) {
        if (isPlaying()) {
            changeFastForward(-1.0);
        } else {
            stepLines(true, manualLineCount());
        }
        return true;
    }
    if (is(event, kc::pageDown, functionKey)) {
        if (isPlaying()) {
            changeFastForward(1.0);
        } else {
            stepLines(false, manualLineCount());
        }
        return true;
    }
    return false;
}

// ---- fixed keys ----

bool PrompterKeyHandler::handleFixedKeyDown(const platform::KeyEvent& event) {
    if (is(event, kc::space, plainKey)) {
        press(PrompterControl::transport);
        return true;
    }
    if (is(event, kc::deleteKey, plainKey)) {
        press(PrompterControl::rewind);
        return true;
    }
    if (is(event, kc::downArrow, arrowKey)) {
        press(PrompterControl::lineDown);
        return true;
    }
    if (is(event, kc::upArrow, arrowKey)) {
        press(PrompterControl::lineUp);
        return true;
    }
    if (is(event, kc::w, plainKey)) {
        stepSpeed(bindingContextRules(BindingContext::prompter).speedStep);
        return true;
    }
    if (is(event, kc::s, plainKey)) {
        stepSpeed(-bindingContextRules(BindingContext::prompter).speedStep);
        return true;
    }
    if (is(event, kc::u, plainKey)) {
        stepLines(true, jumpLineCount);
        return true;
    }
    if (is(event, kc::j, plainKey)) {
        stepLines(false, jumpLineCount);
        return true;
    }
    return false;
}

bool PrompterKeyHandler::handleFixedKeyUp(const platform::KeyEvent& event) {
    if (is(event, kc::space, plainKey)) {
        toggleTransport();
        return true;
    }
    if (is(event, kc::deleteKey, plainKey)) {
        requestRewind();
        return true;
    }
    if (is(event, kc::upArrow, arrowKey)) {
        if (isPlaying()) {
            changeFastForward(-1.0);
        } else {
            stepLines(true, manualLineCount());
        }
        return true;
    }
    if (is(event, kc::downArrow, arrowKey)) {
        if (isPlaying()) {
            changeFastForward(1.0);
        } else {
            stepLines(false, manualLineCount());
        }
        return true;
    }
    // W and S did their work going down; their releases are theirs all the same.
    return is(event, kc::w, plainKey) || is(event, kc::s, plainKey);
}

// ---- actions ----

void PrompterKeyHandler::press(PrompterControl control) {
    view_->controls().press(control);
}

void PrompterKeyHandler::stepSpeed(double delta) {
    PrompterControlPanel& controls = view_->controls();
    const double speed = std::clamp(controls.scrollSpeed() + delta, 0.0, 100.0);
    controls.setScrollSpeed(speed); // redraws only when the value moved
    controls.updateSpeedLabel();
    // Told also at a bound, so the project's speed is set again to it.
    if (auto delegate = view_->delegate()) {
        delegate->prompterViewDidChangeSpeed(*view_, speed);
    }
}

void PrompterKeyHandler::toggleTransport() {
    PrompterTransport state = view_->transportState();
    state.status =
        state.isPlaying() ? PrompterTransport::Status::stopped : PrompterTransport::Status::playing;
    view_->setTransportState(state);
    if (auto delegate = view_->delegate()) {
        delegate->prompterViewDidChangeTransportState(*view_);
    }
}

void PrompterKeyHandler::requestRewind() {
    if (auto delegate = view_->delegate()) {
        delegate->prompterViewDidRequestRewind(*view_);
    }
}

void PrompterKeyHandler::changeFastForward(double factor) {
    if (auto delegate = view_->delegate()) {
        delegate->prompterViewDidChangeFastForward(*view_, factor);
    }
}

void PrompterKeyHandler::stepLines(bool up, int count) {
    view_->stepLines(up ? PrompterView::StepDirection::up : PrompterView::StepDirection::down, count);
}

double PrompterKeyHandler::ffwdFactor() const {
    return view_->transportState().ffwdFactor;
}

bool PrompterKeyHandler::stepLine(LineStep step) {
    stepLines(step == LineStep::up, manualLineCount());
    return true;
}

void PrompterKeyHandler::jumpToNextBookmark() {
    if (auto delegate = view_->delegate()) {
        delegate->prompterViewDidRequestNextBookmark(*view_);
    }
}

void PrompterKeyHandler::jumpToPreviousBookmark() {
    if (auto delegate = view_->delegate()) {
        delegate->prompterViewDidRequestPreviousBookmark(*view_);
    }
}

int PrompterKeyHandler::manualLineCount() const {
    return static_cast<int>(defaults_->integerForKey(settings::manualScrollingLineCount));
}

bool PrompterKeyHandler::isPlaying() const {
    return view_->transportState().isPlaying();
}

} // namespace cw
