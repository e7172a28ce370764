#include "platform/ui/MenuKeys.h"

#include "dispatch/MainThreadChecker.h"

#include <algorithm>

namespace platform {

namespace {

struct Entry {
    int id;
    MenuKeysList list;
};

std::vector<Entry>& lists() {
    static std::vector<Entry> all;
    return all;
}

} // namespace

std::shared_ptr<void> addMenuKeys(MenuKeysList list) {
    CW_DCHECK_MAIN_THREAD();
    static int lastId = 0;
    const int id = ++lastId;
    lists().push_back({id, std::move(list)});
    // A handle of nothing whose deleter takes the list out again.
    return std::shared_ptr<void>(nullptr, [id](void*) {
        auto& all = lists();
        all.erase(std::remove_if(all.begin(), all.end(), [id](const Entry& e) { return e.id == id; }),
                  all.end());
    });
}

std::optional<QString> menuItemWithKey(const QKeySequence& key) {
    CW_DCHECK_MAIN_THREAD();
    if (key.isEmpty()) {
        return std::nullopt;
    }
    for (const Entry& entry : lists()) {
        for (const MenuItemKey& item : entry.list()) {
            if (item.key == key) {
                return item.title;
            }
        }
    }
    return std::nullopt;
}

} // namespace platform
