#include "platform/defaults/NotificationCenter.h"

#include <atomic>
#include <mutex>
#include <vector>

namespace platform {

namespace {

struct Registration {
    ObserverToken token;
    const void* owner;
    std::string name;
    const void* object;
    NotificationCenter::Handler handler;
    std::atomic<bool> removed{false};

    bool matches(const Notification& n) const {
        return (name.empty() || name == n.name) && (object == nullptr || object == n.object);
    }
};

} // namespace

struct NotificationCenter::Impl {
    std::mutex mutex; // guards the fields below
    std::uint64_t nextId = 1;
    std::vector<std::shared_ptr<Registration>> registrations;

    template <class Pred> void removeIf(Pred pred) {
        std::lock_guard lock(mutex);
        std::erase_if(registrations, [&](const std::shared_ptr<Registration>& r) {
            if (!pred(*r)) {
                return false;
            }
            r->removed = true; // a post holding a snapshot skips it from now on
            return true;
        });
    }
};

NotificationCenter::NotificationCenter()
    : impl_(std::make_unique<Impl>()) {}

NotificationCenter::~NotificationCenter() = default;

NotificationCenter& NotificationCenter::defaultCenter() {
    static auto* center = new NotificationCenter; // never destroyed: observers may post at exit
    return *center;
}

ObserverToken NotificationCenter::addObserver(const void* owner, std::string name, Handler handler,
                                              const void* object) {
    auto r = std::make_shared<Registration>();
    r->owner = owner;
    r->name = std::move(name);
    r->object = object;
    r->handler = std::move(handler);
    std::lock_guard lock(impl_->mutex);
    r->token = ObserverToken{impl_->nextId++};
    impl_->registrations.push_back(r);
    return r->token;
}

void NotificationCenter::removeObserver(ObserverToken token) {
    impl_->removeIf([&](const Registration& r) { return r.token == token; });
}

void NotificationCenter::removeObserver(const void* owner) {
    if (owner == nullptr) {
        return; // null is "no owner", not a group
    }
    impl_->removeIf([&](const Registration& r) { return r.owner == owner; });
}

void NotificationCenter::removeObserver(const void* owner, std::string_view name) {
    if (owner == nullptr) {
        return;
    }
    impl_->removeIf([&](const Registration& r) { return r.owner == owner && r.name == name; });
}

void NotificationCenter::post(const Notification& notification) {
    std::vector<std::shared_ptr<Registration>> matching;
    {
        std::lock_guard lock(impl_->mutex);
        for (const auto& r : impl_->registrations) {
            if (r->matches(notification)) {
                matching.push_back(r);
            }
        }
    }
    for (const auto& r : matching) {
        if (!r->removed) {
            r->handler(notification);
        }
    }
}

void NotificationCenter::post(std::string name, const void* object, Dictionary userInfo) {
    post(Notification{std::move(name), object, std::move(userInfo)});
}

} // namespace platform
