#include "platform/keymonitor/GlobalKeyMonitor.h"

#include "base/Log.h"
#include "dispatch/Queue.h"
#include "dispatch/Source.h"
#include "platform/keys/KeyTranslation.h"

#include <QGuiApplication>
#include <QWindow>

#include <X11/Xlib.h>
#include <X11/Xproto.h>
#include <X11/extensions/record.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace platform {

namespace {

bool isWaylandSession() {
    const char* type = std::getenv("XDG_SESSION_TYPE");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (type != nullptr && std::string_view(type) == "wayland") ||
           (wayland != nullptr && *wayland != '\0');
}

Display* openDisplay(const std::string& name) {
    return XOpenDisplay(name.empty() ? nullptr : name.c_str());
}

bool hasRecord(Display* display) {
    int major = 0;
    int minor = 0;
    return XRecordQueryVersion(display, &major, &minor) != 0;
}

bool isApplicationWindow(unsigned long window) {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
        return false;
    }
    const auto windows = QGuiApplication::allWindows();
    return std::any_of(windows.begin(), windows.end(), [window](const QWindow* own) {
        return own->handle() != nullptr && own->winId() == window;
    });
}

} // namespace

struct GlobalKeyMonitor::State {
    Handler handler;
    std::function<bool(unsigned long window)> isOwnWindow;
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);

    Display* control = nullptr; // the context's owner
    Display* data = nullptr;    // the recording; read when its descriptor is readable
    XRecordContext context = 0;
    std::shared_ptr<dispatch::ReadSource> source;

    // The modifier bit each X keycode sets (0 for other keys), and the modifiers held: RECORD's
    // raw device events do not carry a reliable state of their own.
    std::array<unsigned, 256> modifierOf{};
    unsigned modifiers = 0;
    std::array<bool, 256> pressed{};
    std::vector<KeyEvent> received;

    void readModifierMap() {
        XModifierKeymap* map = XGetModifierMapping(control);
        if (map == nullptr) {
            return;
        }
        for (int modifier = 0; modifier < 8; ++modifier) {
            for (int k = 0; k < map->max_keypermod; ++k) {
                const KeyCode code = map->modifiermap[modifier * map->max_keypermod + k];
                if (code != 0) {
                    modifierOf[code] = 1u << modifier;
                }
            }
        }
        XFreeModifiermap(map);
        // The modifiers held (and Caps Lock's state) when recording begins.
        Window root = 0;
        Window child = 0;
        int x = 0;
        int y = 0;
        unsigned mask = 0;
        if (XQueryPointer(control, DefaultRootWindow(control), &root, &child, &x, &y, &x, &y, &mask) != 0) {
            modifiers = mask & 0xFF;
        }
    }

    void keyEvent(bool press, unsigned keycode) {
        const unsigned before = modifiers;
        if (const unsigned bit = modifierOf[keycode]; bit != 0) {
            if (bit == LockMask) {
                modifiers ^= press ? LockMask : 0; // a toggle
            } else if (press) {
                modifiers |= bit;
            } else {
                modifiers &= ~bit;
            }
        }
        const bool repeat = press && pressed[keycode];
        pressed[keycode] = press;
        if (press && ownWindowHasFocus()) {
            return; // that window gets it
        }
        const auto type = press ? KeyEvent::Type::keyDown : KeyEvent::Type::keyUp;
        if (auto event = translateX11KeyEvent(keycode, before, type, repeat)) {
            received.push_back(std::move(*event));
        }
    }

    // Asked of the server at each press: where its keyboard is now. None and PointerRoot name no
    // window of ours.
    bool ownWindowHasFocus() const {
        Window focus = None;
        int revertTo = 0;
        XGetInputFocus(control, &focus, &revertTo);
        return focus != None && focus != PointerRoot && isOwnWindow(focus);
    }

    static void intercept(XPointer closure, XRecordInterceptData* record) {
        auto* state = reinterpret_cast<State*>(closure);
        if (record->category == XRecordFromServer && record->data != nullptr && record->data_len * 4 >= 2) {
            const int type = record->data[0] & 0x7F;
            if (type == KeyPress || type == KeyRelease) {
                state->keyEvent(type == KeyPress, record->data[1]);
            }
        }
        XRecordFreeData(record);
    }

    // Reads what the server recorded, then hands it over; the handler may destroy the monitor.
    void readRecords() {
        received.clear();
        XRecordProcessReplies(data);
        const auto events = std::move(received);
        received.clear();
        const Handler deliver = handler;
        const auto stillAlive = alive;
        for (const auto& event : events) {
            if (!*stillAlive) {
                return;
            }
            deliver(event);
        }
    }

    void close() {
        if (control != nullptr && context != 0) {
            XRecordFreeContext(control, context);
        }
        if (data != nullptr) {
            XCloseDisplay(data);
        }
        if (control != nullptr) {
            XCloseDisplay(control);
        }
        data = control = nullptr;
        context = 0;
    }
};

bool GlobalKeyMonitor::isTrusted(const std::string& display) {
    if (isWaylandSession()) {
        return false;
    }
    Display* connection = openDisplay(display);
    if (connection == nullptr) {
        return false;
    }
    const bool trusted = hasRecord(connection);
    XCloseDisplay(connection);
    return trusted;
}

std::unique_ptr<GlobalKeyMonitor> GlobalKeyMonitor::install(Handler handler, Options options) {
    auto state = std::make_shared<State>();
    state->handler = std::move(handler);
    state->isOwnWindow = options.isOwnWindow ? std::move(options.isOwnWindow) : &isApplicationWindow;
    std::unique_ptr<GlobalKeyMonitor> monitor(new GlobalKeyMonitor(state));
    if (isWaylandSession()) {
        return monitor;
    }
    state->control = openDisplay(options.display);
    state->data = openDisplay(options.display);
    if (state->control == nullptr || state->data == nullptr || !hasRecord(state->control)) {
        state->close();
        return monitor;
    }
    XRecordRange* range = XRecordAllocRange();
    if (range == nullptr) {
        state->close();
        return monitor;
    }
    range->device_events.first = KeyPress;
    range->device_events.last = KeyRelease;
    XRecordClientSpec clients = XRecordAllClients;
    state->context = XRecordCreateContext(state->control, 0, &clients, 1, &range, 1);
    XFree(range);
    if (state->context == 0) {
        state->close();
        return monitor;
    }
    state->readModifierMap();
    XSync(state->control, False);
    if (XRecordEnableContextAsync(state->data, state->context, &State::intercept,
                                  reinterpret_cast<XPointer>(state.get())) == 0) {
        state->close();
        return monitor;
    }
    state->source = dispatch::ReadSource::make(ConnectionNumber(state->data), dispatch::mainQueue());
    State* raw = state.get();
    state->source->setEventHandler([raw] { raw->readRecords(); });
    // The displays stay open until the watch of their descriptor is gone.
    state->source->setCancelHandler([state] { state->close(); });
    state->source->resume();
    // Replies that arrived while the context was enabled are already in Xlib's buffer.
    dispatch::mainQueue()->async([weak = std::weak_ptr<State>(state)] {
        if (const auto alive = weak.lock(); alive && *alive->alive && alive->data != nullptr) {
            alive->readRecords();
        }
    });
    return monitor;
}

GlobalKeyMonitor::GlobalKeyMonitor(std::shared_ptr<State> state)
    : state_(std::move(state)) {}

GlobalKeyMonitor::~GlobalKeyMonitor() {
    *state_->alive = false;
    if (!state_->source) {
        state_->close();
        return;
    }
    XRecordDisableContext(state_->control, state_->context);
    XFlush(state_->control);
    state_->source->cancel();
}

bool GlobalKeyMonitor::isRecording() const {
    return state_->source != nullptr && *state_->alive;
}

} // namespace platform
