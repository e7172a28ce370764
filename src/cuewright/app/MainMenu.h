// The application's menus, built once from shared actions and shown in every window's menu bar.
#pragma once

#include <QKeySequence>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QAction;
class QMenu;
class QMenuBar;
class QWidget;

namespace cw {

// Each item carries a named action (see platform/ui/ActionRoute.h) in its data; triggering it
// sends the action along the responder chain, so the active window's controller gets it first and
// the application controller last. A menu validates its items when it is about to show (enabled
// when some responder takes the action; check marks from `checkedState`; the title the responder
// gives, such as "Undo Insert Bookmark at line 3", else the item's own), and validateAll()
// does every menu, which the shell calls after each change of the main window so that shortcuts
// follow too.
//
// The same QMenu objects sit in every window's menu bar, so a rebuilt Bookmarks menu is rebuilt
// everywhere. The object outlives the bars it made.
//
// The application's keys work in every window it shows: each plain top-level window (not a dialog,
// menu or tool tip) that shows without the menus in a bar of its own is given the items' shortcuts
// (the settings, help and remote control windows), and one that has no Close key of its own closes
// with the desktop's Close key (Ctrl+W) as with its close button. Ctrl+1 to Ctrl+9 jump to the
// active script's bookmarks in every such window, with or without a bar: they are keys of their
// own, not the generated items' (which exist only while the menu is built, and in no window without
// a bar), so they follow the bookmark list at once. Shift+F10 opens context menus as the Menu key
// does (see platform::ContextMenuKey). Main thread only.
class MainMenu final : public QObject {
    Q_OBJECT

public:
    struct Hooks {
        // The check mark of a checkable item's action; nullopt leaves it.
        std::function<std::optional<bool>(std::string_view action)> checkedState;
        // Called before the Bookmarks menu or the Open Recent menu shows.
        std::function<void(QMenu&)> bookmarksWillShow;
        std::function<void(QMenu&)> recentWillShow;
    };

    // Shortcuts of the first nine generated bookmark items: Ctrl+1 to Ctrl+9.
    static QKeySequence bookmarkShortcut(int number);
    // The named action of an item; empty for submenus and separators.
    static std::string actionOf(const QAction& item);

    explicit MainMenu(Hooks hooks, QObject* parent = nullptr);
    ~MainMenu() override;
    MainMenu(const MainMenu&) = delete;
    MainMenu& operator=(const MainMenu&) = delete;

    // The application menus, in order.
    const std::vector<QMenu*>& menus() const { return menus_; }
    QMenu* bookmarksMenu() const { return bookmarks_; }
    QMenu* recentMenu() const { return recent_; }
    // The first item sending `action`; null when none does.
    QAction* action(std::string_view action) const;

    // A menu bar for a window holding the application menus.
    QMenuBar* makeMenuBar(QWidget* parent) const;
    // Adds the application menus to an existing bar: the first menu in front of the bar's own, the
    // others after them.
    void addTo(QMenuBar& bar) const;
    // Gives a window without a bar the items' shortcuts.
    void addShortcutsTo(QWidget& window) const;
    // The items' shortcuts unless the window has them, and the Close key unless it closes with it:
    // what each window gets when it shows.
    void giveKeysTo(QWidget& window) const;

    // A generated item that sends `action` (for the Bookmarks and Open Recent menus).
    QAction* makeItem(QMenu& menu, const QString& title, std::string_view action);
    // The generated Bookmarks item of the `number`-th bookmark (tag `number`): it shows its
    // Ctrl+number key, which the windows' own bookmark keys carry.
    QAction* makeBookmarkItem(QMenu& menu, const QString& title, int number);

    void validate(QMenu& menu) const;
    void validateAll() const;

private:
    QMenu* addMenu(const QString& title);
    void fitBelowTitle(QMenu& menu);
    bool eventFilter(QObject* watched, QEvent* event) override;

    Hooks hooks_;
    std::vector<QMenu*> menus_;
    std::shared_ptr<void> keys_; // the items' keys, for the Keys pane
    QMenu* bookmarks_ = nullptr;
    QMenu* recent_ = nullptr;
    std::vector<QAction*> bookmarkKeys_; // Ctrl+1 to Ctrl+9, given to every window
};

} // namespace cw
