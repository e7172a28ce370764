// Notifications by name: observers register a handler, posters call every matching handler.
#pragma once

#include "platform/defaults/Value.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

struct Notification {
    std::string name;
    const void* object = nullptr; // the poster's object, compared by address only
    Dictionary userInfo;
};

// Identifies one registration; 0 is never handed out.
struct ObserverToken {
    std::uint64_t id = 0;
    explicit operator bool() const { return id != 0; }
    bool operator==(const ObserverToken&) const = default;
};

// Delivers posted notifications to observers, synchronously on the posting thread, in the
// order the observers registered.
//
// Guarantees:
//  - An observer registered for an empty name hears every name; one registered with an object
//    hears only posts with that object (null hears posts with any object).
//  - A registration removed before or during a post is not called afterwards by that post
//    (unless the call already began on another thread); handlers may add and remove
//    registrations, and post, from inside a handler.
//  - Thread-safe; handlers run outside the centre's lock.
class NotificationCenter {
public:
    using Handler = std::function<void(const Notification&)>;

    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // The application's centre; lives until exit.
    static NotificationCenter& defaultCenter();

    // Registers `handler` for `name` (empty: every name). `owner` groups registrations so that
    // removeObserver(owner) ends them all (null: no owner); `object` filters by poster.
    ObserverToken addObserver(const void* owner, std::string name, Handler handler,
                              const void* object = nullptr);
    ObserverToken addObserver(std::string name, Handler handler, const void* object = nullptr) {
        return addObserver(nullptr, std::move(name), std::move(handler), object);
    }

    void removeObserver(ObserverToken token);
    // Every registration of `owner`; with a name only those for that name.
    void removeObserver(const void* owner);
    void removeObserver(const void* owner, std::string_view name);

    void post(const Notification& notification);
    void post(std::string name, const void* object = nullptr, Dictionary userInfo = {});

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace platform
