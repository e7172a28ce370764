// KeyEventTranslator: one window's Qt key events as KeyEvents, without X11's auto-repeat releases.
#pragma once

#include "platform/keys/KeyEvent.h"

#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

class QKeyEvent;

namespace platform {

// Passes each translated key event (translateKeyEvent) to `sink`, in order. X11 repeats a held key as
// a release and a press with the same time stamp, and not every such release arrives marked as
// auto-repeat; so a release with a time stamp is held back until the next key event, or until the
// grace period ends, and dropped when that next event is a press of the same key at once (that press
// is then marked as a repeat). Releases without a time stamp (synthetic events) pass at once.
// Qt marks a press as a repeat while the last key event it saw repeated that key: when the keyboard
// went elsewhere while a key repeated, its release went there too, and the key's next press here
// comes marked though it is new. So a press with a time stamp keeps Qt's mark only when the key
// event before it here was that key's release at the same time.
// Main thread only; the sink is called from translate() or from the grace timer.
class KeyEventTranslator {
public:
    using Sink = std::function<bool(const KeyEvent&)>;

    explicit KeyEventTranslator(Sink sink, std::chrono::milliseconds grace = std::chrono::milliseconds(40));
    KeyEventTranslator(const KeyEventTranslator&) = delete;
    KeyEventTranslator& operator=(const KeyEventTranslator&) = delete;

    // Whether the event was taken: the sink handled it, or it is a release held back or dropped.
    // Returns false for events that do not translate, except auto-repeat releases (taken).
    bool translate(const QKeyEvent& event);
    // Hands a held release to the sink now (the grace timer's job).
    void deliverHeldRelease();
    bool isHoldingRelease() const { return held_.has_value(); }
    // A key event reached the place whose keys these are, though not handed to translate().
    void noteKeyEvent(const QKeyEvent& event);

private:
    // Whether the last key event here was the release of `press`'s key at its time.
    bool followsItsRelease(const QKeyEvent& press) const;

    struct LastKey {
        bool release = false;
        std::uint32_t scanCode = 0;
        int key = 0;
        std::uint64_t timestamp = 0;
    };
    struct HeldRelease {
        KeyEvent event;
        std::uint64_t timestamp = 0;
    };

    Sink sink_;
    std::optional<HeldRelease> held_;
    QTimer graceTimer_;
    LastKey last_;
};

} // namespace platform
