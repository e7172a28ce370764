// A weakly held, prioritised list of listeners that always hears on the main thread.
#pragma once

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace dispatch {
class Queue;
}

namespace cw {

// The part that does not depend on the listener type: the entries, kept on a serial queue of
// their own so that any thread may take a snapshot, and the hops to the main thread.
class ListenerListBase {
public:
    ListenerListBase(const ListenerListBase&) = delete;
    ListenerListBase& operator=(const ListenerListBase&) = delete;

protected:
    // `offMainThreadWarning` is logged when add or remove is called off the main thread.
    ListenerListBase(std::string_view queueLabel, std::string_view offMainThreadWarning);
    ~ListenerListBase();

    bool addEntry(std::shared_ptr<void> listener, const void* key);
    void removeEntry(const void* key);
    // The living listeners in registration order.
    std::vector<std::shared_ptr<void>> livingEntries() const;

    static bool onMainThread();
    static void postToMain(std::function<void()> task);
    // Runs the task on the main queue and waits for it; from another thread only.
    static void waitOnMain(const std::function<void()>& task);

private:
    struct Entry {
        std::weak_ptr<void> listener;
        const void* key = nullptr;
    };

    std::string offMainThreadWarning_;
    std::shared_ptr<dispatch::Queue> queue_;
    std::vector<Entry> entries_; // touched only on queue_
};

// Listeners are std::shared_ptr<Listener> held weakly: one that goes away drops out. They are
// heard in ascending `int Listener::listenerPriority() const` (asked at every pass, from the
// notifying thread), equal priorities in registration order; registering twice keeps one entry.
//
// Each notify() is one full pass over a fresh snapshot, so a change that sends several
// notifications sends each to every listener before the next one starts. On the main thread the
// pass runs at once; from another thread it becomes one main-queue task per listener, submitted
// in order, each holding its listener (and whatever the delivery captured) until it runs.
//
// add() and remove() are for the main thread: elsewhere they log the owner's warning and change
// nothing. Snapshots and notifications may come from any thread.
template <class Listener> class ListenerList : public ListenerListBase {
public:
    ListenerList(std::string_view queueLabel, std::string_view offMainThreadWarning)
        : ListenerListBase(queueLabel, offMainThreadWarning) {}

    // False (and nothing changed) off the main thread or for a null listener.
    bool add(const std::shared_ptr<Listener>& listener) {
        return addEntry(std::static_pointer_cast<void>(listener), static_cast<const void*>(listener.get()));
    }
    // For listeners that unregister from their destructor.
    void remove(const Listener* listener) { removeEntry(static_cast<const void*>(listener)); }

    // The living listeners by ascending priority.
    std::vector<std::shared_ptr<Listener>> sorted() const {
        std::vector<std::pair<int, std::shared_ptr<Listener>>> keyed;
        for (auto& entry : livingEntries()) {
            auto listener = std::static_pointer_cast<Listener>(std::move(entry));
            const int priority = listener->listenerPriority();
            keyed.emplace_back(priority, std::move(listener));
        }
        std::stable_sort(keyed.begin(), keyed.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        std::vector<std::shared_ptr<Listener>> result;
        result.reserve(keyed.size());
        for (auto& [priority, listener] : keyed) {
            result.push_back(std::move(listener));
        }
        return result;
    }

    // One full pass of delivery(Listener&). Off the main thread each task holds a copy of it.
    template <class Delivery> void notify(const Delivery& delivery) const {
        pass(delivery, [&] { return delivery; });
    }
    // One full pass of delivery(Listener&, Subject&). Off the main thread each task also holds
    // the subject (subject.shared_from_this()).
    template <class Subject, class Delivery> void notify(Subject& subject, const Delivery& delivery) const {
        pass([&](Listener& listener) { delivery(listener, subject); },
             [&] {
                 return [delivery, held = subject.shared_from_this()](Listener& listener) {
                     delivery(listener, *held);
                 };
             });
    }

    // The same, but from another thread it waits on each listener in turn, so it returns only
    // once every listener has handled it (the main thread must not be waiting for the caller).
    template <class Delivery> void notifyAndWait(const Delivery& delivery) const {
        const auto listeners = sorted();
        const bool here = onMainThread();
        for (const auto& listener : listeners) {
            if (here) {
                delivery(*listener);
            } else {
                waitOnMain([&] { delivery(*listener); });
            }
        }
    }

private:
    // The main-thread check is a system call: made once per pass, and only with listeners.
    template <class Here, class MakeQueued> void pass(const Here& here, const MakeQueued& makeQueued) const {
        const auto listeners = sorted();
        if (listeners.empty()) {
            return;
        }
        if (onMainThread()) {
            for (const auto& listener : listeners) {
                here(*listener);
            }
            return;
        }
        const auto queued = makeQueued();
        for (const auto& listener : listeners) {
            postToMain([listener, queued] { queued(*listener); });
        }
    }
};

} // namespace cw
