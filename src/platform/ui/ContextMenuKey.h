// Shift+F10 opens the context menu from the keyboard, as the Menu key does.
#pragma once

#include <QObject>

namespace platform {

// Watches the application's key presses: a Shift+F10 that no widget of its window claimed asks
// that window's focus widget (the window itself when none has the focus) for its context menu,
// as an unclaimed Menu key does, so laptop keyboards without that key reach every context menu.
// Installs itself on the application when made. Main thread only.
class ContextMenuKey final : public QObject {
    Q_OBJECT

public:
    explicit ContextMenuKey(QObject* parent = nullptr);
    ContextMenuKey(const ContextMenuKey&) = delete;
    ContextMenuKey& operator=(const ContextMenuKey&) = delete;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace platform
