// The keys the application's menu items carry, gathered for whoever must not hand one out again.
#pragma once

#include <QKeySequence>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace platform {

struct MenuItemKey {
    QString title; // as the menu shows it, without mnemonics
    QKeySequence key;
};

// Lists the items' keys. Each list is asked anew every time, so titles follow the language and a
// menu built later counts too.
using MenuKeysList = std::function<std::vector<MenuItemKey>()>;

// Adds `list` for as long as the returned handle lives. Main thread only.
[[nodiscard]] std::shared_ptr<void> addMenuKeys(MenuKeysList list);

// The title of the first menu item (in the order the lists were added) whose key is `key`;
// nullopt when none has it.
std::optional<QString> menuItemWithKey(const QKeySequence& key);

} // namespace platform
