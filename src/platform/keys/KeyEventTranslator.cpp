#include "platform/keys/KeyEventTranslator.h"

#include "dispatch/MainThreadChecker.h"
#include "platform/keys/KeyTranslation.h"

#include <QKeyEvent>

namespace platform {

namespace {

// The release and the press of an X11 auto-repeat carry the same server time; a person cannot
// release and press a key again within a few milliseconds.
constexpr std::uint64_t repeatWindowMs = 5;

} // namespace

KeyEventTranslator::KeyEventTranslator(Sink sink, std::chrono::milliseconds grace)
    : sink_(std::move(sink)) {
    CW_DCHECK_MAIN_THREAD();
    graceTimer_.setSingleShot(true);
    graceTimer_.setInterval(grace);
    graceTimer_.callOnTimeout([this] { deliverHeldRelease(); });
}

bool KeyEventTranslator::translate(const QKeyEvent& qtEvent) {
    CW_DCHECK_MAIN_THREAD();
    auto event = translateKeyEvent(qtEvent);
    if (event && event->isARepeat && qtEvent.timestamp() != 0 && !followsItsRelease(qtEvent)) {
        event->isARepeat = false; // left over from a key that went up elsewhere
    }
    noteKeyEvent(qtEvent);
    if (!event) {
        return qtEvent.type() == QEvent::KeyRelease && qtEvent.isAutoRepeat();
    }
    const std::uint64_t timestamp = qtEvent.timestamp();
    if (held_) {
        const bool repeats = event->type == KeyEvent::Type::keyDown &&
                             event->keyCode == held_->event.keyCode &&
                             timestamp - held_->timestamp <= repeatWindowMs;
        if (repeats) {
            held_.reset();
            graceTimer_.stop();
            event->isARepeat = true;
        } else {
            deliverHeldRelease();
        }
    }
    if (event->type == KeyEvent::Type::keyUp && timestamp != 0) {
        held_ = HeldRelease{*event, timestamp};
        graceTimer_.start();
        return true;
    }
    return sink_(*event);
}

void KeyEventTranslator::noteKeyEvent(const QKeyEvent& event) {
    last_ = {event.type() == QEvent::KeyRelease, event.nativeScanCode(), event.key(), event.timestamp()};
}

bool KeyEventTranslator::followsItsRelease(const QKeyEvent& press) const {
    const bool sameKey =
        press.nativeScanCode() != 0 ? press.nativeScanCode() == last_.scanCode : press.key() == last_.key;
    return last_.release && sameKey && press.timestamp() - last_.timestamp <= repeatWindowMs;
}

void KeyEventTranslator::deliverHeldRelease() {
    CW_DCHECK_MAIN_THREAD();
    graceTimer_.stop();
    if (!held_) {
        return;
    }
    const KeyEvent event = held_->event;
    held_.reset();
    sink_(event);
}

} // namespace platform
