#include "cuewright/model/ListenerList.h"

#include "base/Log.h"
#include "dispatch/Queue.h"

namespace cw {

ListenerListBase::ListenerListBase(std::string_view queueLabel, std::string_view offMainThreadWarning)
    : offMainThreadWarning_(offMainThreadWarning)
    , queue_(dispatch::Queue::makeSerial(std::string(queueLabel))) {}

ListenerListBase::~ListenerListBase() = default;

bool ListenerListBase::addEntry(std::shared_ptr<void> listener, const void* key) {
    if (!onMainThread()) {
        base::log(offMainThreadWarning_);
        return false;
    }
    if (!listener) {
        return false;
    }
    queue_->sync([&] {
        std::erase_if(entries_, [](const Entry& e) { return e.listener.expired(); });
        const bool known =
            std::any_of(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.key == key; });
        if (!known) {
            entries_.push_back({listener, key});
        }
    });
    return true;
}

void ListenerListBase::removeEntry(const void* key) {
    if (!onMainThread()) {
        base::log(offMainThreadWarning_);
        return;
    }
    queue_->sync([&] {
        std::erase_if(entries_, [&](const Entry& e) { return e.key == key || e.listener.expired(); });
    });
}

std::vector<std::shared_ptr<void>> ListenerListBase::livingEntries() const {
    std::vector<std::shared_ptr<void>> result;
    queue_->sync([&] {
        result.reserve(entries_.size());
        for (const auto& entry : entries_) {
            if (auto listener = entry.listener.lock()) {
                result.push_back(std::move(listener));
            }
        }
    });
    return result;
}

bool ListenerListBase::onMainThread() {
    return dispatch::isMainThread();
}

void ListenerListBase::postToMain(std::function<void()> task) {
    dispatch::mainQueue()->async(std::move(task));
}

void ListenerListBase::waitOnMain(const std::function<void()>& task) {
    dispatch::mainQueue()->sync([&] { task(); });
}

} // namespace cw
