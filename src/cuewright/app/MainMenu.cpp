#include "cuewright/app/MainMenu.h"

#include "platform/ui/ActionRoute.h"
#include "platform/ui/ContextMenuKey.h"
#include "platform/ui/MenuKeys.h"
#include "platform/ui/StandardShortcut.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QProxyStyle>
#include <QScreen>
#include <QShortcut>
#include <QWidget>

#include <algorithm>

namespace cw {

namespace {

constexpr const char* actionProperty = "cwAction";
constexpr const char* titleProperty = "cwTitle"; // the title an item shows when no responder names it

struct Item {
    const char* title; // null: a separator
    std::string_view action;
    QKeySequence shortcut = {};
    bool checkable = false;
};

struct Menu {
    const char* title;
    std::vector<Item> items;
};

// "openRecent" stands for the Open Recent submenu, "bookmarks" for the generated bookmark items.
const Menu& menuTable(int index) {
    static const Menu table[] = {
        {QT_TR_NOOP("&Cuewright"),
         {{QT_TR_NOOP("New Script"), "newDocument:", platform::standardShortcut(QKeySequence::New)},
          {QT_TR_NOOP("Open…"), "openDocument:", platform::standardShortcut(QKeySequence::Open)},
          {QT_TR_NOOP("Open Recent"), "openRecent"},
          {nullptr, {}},
          {QT_TR_NOOP("Settings…"), "showSettingsPanel:", QKeySequence(Qt::CTRL | Qt::Key_Comma)},
          {QT_TR_NOOP("Remote Control…"), "showRemoteControlWindow:"},
          {QT_TR_NOOP("Check for Updates…"), "checkUpdates:"},
          {nullptr, {}},
          {QT_TR_NOOP("Quit Cuewright"), "terminate:", platform::standardShortcut(QKeySequence::Quit)}}},
        {QT_TR_NOOP("&Edit"),
         {{QT_TR_NOOP("Undo"), "undo:", platform::standardShortcut(QKeySequence::Undo)},
          {QT_TR_NOOP("Redo"), "redo:", platform::standardShortcut(QKeySequence::Redo)},
          {nullptr, {}},
          {QT_TR_NOOP("Cut"), "cut:", platform::standardShortcut(QKeySequence::Cut)},
          {QT_TR_NOOP("Copy"), "copy:", platform::standardShortcut(QKeySequence::Copy)},
          {QT_TR_NOOP("Paste"), "paste:", platform::standardShortcut(QKeySequence::Paste)},
          {QT_TR_NOOP("Select All"), "selectAll:", platform::standardShortcut(QKeySequence::SelectAll)},
          {nullptr, {}},
          {QT_TR_NOOP("Find…"), "showFindBar:", platform::standardShortcut(QKeySequence::Find)},
          {QT_TR_NOOP("Find and Replace…"), "showReplaceBar:", QKeySequence(Qt::CTRL | Qt::Key_H)},
          {QT_TR_NOOP("Find Next"), "findNext:", QKeySequence(Qt::CTRL | Qt::Key_G)},
          {QT_TR_NOOP("Find Previous"), "findPrevious:", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_G)},
          {nullptr, {}},
          {QT_TR_NOOP("Bold"), "toggleBold:", platform::standardShortcut(QKeySequence::Bold)},
          {QT_TR_NOOP("Italic"), "toggleItalic:", platform::standardShortcut(QKeySequence::Italic)},
          {QT_TR_NOOP("Underline"),
           "toggleUnderline:", platform::standardShortcut(QKeySequence::Underline)}}},
        {QT_TR_NOOP("&Options"),
         {{QT_TR_NOOP("Scroll Editor with Prompter"), "toggleEditorPrompterScrollSync:", {}, true},
          {QT_TR_NOOP("Follow Prompter in Editor While Playing"), "toggleEditorAutoScroll:", {}, true},
          {QT_TR_NOOP("Scroll Editor to Stop Position"), "toggleScrollOnStop:", {}, true},
          {QT_TR_NOOP("Scroll Wheel Changes Speed"), "toggleScrollWheelControlsSpeed:", {}, true}}},
        {QT_TR_NOOP("&Bookmarks"),
         {{QT_TR_NOOP("Insert Bookmark"), "toggleBookmark:", QKeySequence(Qt::CTRL | Qt::Key_D)},
          {nullptr, {}},
          {QT_TR_NOOP("Next Bookmark"), "jumpToNextBookmark:", QKeySequence(Qt::CTRL | Qt::Key_BracketRight)},
          {QT_TR_NOOP("Previous Bookmark"),
           "jumpToPrevBookmark:", QKeySequence(Qt::CTRL | Qt::Key_BracketLeft)},
          {nullptr, {}}}},
        {QT_TR_NOOP("&Help"),
         {{QT_TR_NOOP("Cuewright Help"),
           "helpShowManual:", platform::standardShortcut(QKeySequence::HelpContents)},
          {QT_TR_NOOP("Keyboard Shortcuts"), "helpShowKeyboardShortcutsWindow:"},
          {QT_TR_NOOP("Gamepad Layout"), "helpShowGamepadLayoutWindow:"},
          {QT_TR_NOOP("Companion App"), "showDownloadiOSAppWindow:"},
          {nullptr, {}},
          {QT_TR_NOOP("Frequently Asked Questions"), "helpShowFAQ:"},
          {QT_TR_NOOP("Using a Tablet as a Display"), "helpUseIpadAsADisplay:"},
          {QT_TR_NOOP("Fixing Display Issues"), "helpFixDisplayIssues:"},
          {QT_TR_NOOP("Fixing Performance Issues"), "helpFixPerformanceIssues:"},
          {nullptr, {}},
          {QT_TR_NOOP("Suggest an Improvement…"), "suggestAnImprovement:"},
          {QT_TR_NOOP("Contact Support…"), "contactSupport:"},
          {QT_TR_NOOP("Visit the Website"), "visitWebsite:"},
          {QT_TR_NOOP("Read the Blog"), "visitBlog:"}}},
    };
    return table[index];
}
constexpr int menuCount = 5;

// A long menu scrolls within the screen instead of growing columns across it.
class ScrollingMenuStyle final : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* data) const override {
        return hint == QStyle::SH_Menu_Scrollable ? 1 : QProxyStyle::styleHint(hint, option, widget, data);
    }
};

// Whether `item` works in `window`: added to it, or in a menu of a bar of the window.
bool worksIn(const QAction& item, const QWidget& window) {
    for (const QObject* owner : item.associatedObjects()) {
        if (owner == &window) {
            return true;
        }
        const auto* menu = qobject_cast<const QMenu*>(owner);
        if (menu == nullptr) {
            continue;
        }
        for (const QObject* holder : menu->menuAction()->associatedObjects()) {
            const auto* bar = qobject_cast<const QMenuBar*>(holder);
            if (bar != nullptr && bar->window() == &window) {
                return true;
            }
        }
    }
    return false;
}

// Whether a shortcut or an action of the window, its bar's menus included, takes `key`.
bool hasKey(const QWidget& window, const QKeySequence& key) {
    const auto takes = [&](const QAction* item) { return item->shortcuts().contains(key); };
    for (const QShortcut* shortcut : window.findChildren<QShortcut*>()) {
        if (shortcut->isEnabled() && shortcut->keys().contains(key)) {
            return true;
        }
    }
    const QList<QAction*> own = window.actions();
    if (std::any_of(own.begin(), own.end(), takes)) {
        return true;
    }
    for (const QMenuBar* bar : window.findChildren<QMenuBar*>()) {
        if (bar->window() != &window) {
            continue;
        }
        for (const QAction* title : bar->actions()) {
            const QMenu* menu = title->menu();
            const QList<QAction*> items = menu ? menu->actions() : QList<QAction*>();
            if (std::any_of(items.begin(), items.end(), takes)) {
                return true;
            }
        }
    }
    return false;
}

// Qt leaves a window's bar with the keyboard after a menu closed by Escape, and after a trip to
// another window, with no title marked: every key of the window would go to the bar. No menu
// open, the keys go back to where they were.
void giveKeysBackFromBar(QWidget& window) {
    auto* bar = qobject_cast<QMenuBar*>(window.focusWidget());
    if (bar == nullptr || QApplication::activePopupWidget() != nullptr) {
        return;
    }
    QWidget* back = platform::focusWidgetIn(&window);
    if (back == nullptr || back == bar) {
        back = platform::firstTabStop(window);
    }
    if (back != nullptr && back != bar) {
        back->setFocus(Qt::MenuBarFocusReason);
    } else {
        bar->clearFocus();
    }
}

void giveKeysBackFromBars() {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isVisible()) {
            giveKeysBackFromBar(*window);
        }
    }
}

} // namespace

QKeySequence MainMenu::bookmarkShortcut(int number) {
    if (number < 1 || number > 9) {
        return {};
    }
    return QKeySequence(Qt::CTRL | static_cast<Qt::Key>(Qt::Key_0 + number));
}

std::string MainMenu::actionOf(const QAction& item) {
    return item.property(actionProperty).toByteArray().toStdString();
}

MainMenu::MainMenu(Hooks hooks, QObject* parent)
    : QObject(parent)
    , hooks_(std::move(hooks)) {
    for (int m = 0; m < menuCount; ++m) {
        const Menu& table = menuTable(m);
        QMenu* menu = addMenu(tr(table.title));
        for (const Item& entry : table.items) {
            if (entry.title == nullptr) {
                menu->addSeparator();
            } else if (entry.action == "openRecent") {
                recent_ = menu->addMenu(tr(entry.title));
                connect(recent_, &QMenu::aboutToShow, this, [this] {
                    if (hooks_.recentWillShow) {
                        hooks_.recentWillShow(*recent_);
                    }
                    validate(*recent_);
                });
            } else {
                QAction* item = makeItem(*menu, tr(entry.title), entry.action);
                item->setShortcut(entry.shortcut);
                item->setCheckable(entry.checkable);
            }
        }
        if (m == 3) {
            bookmarks_ = menu;
            // Over a style of the application's kind; colours come from the menu's palette.
            auto* scrolling = new ScrollingMenuStyle(QApplication::style()->name());
            scrolling->setParent(menu); // a widget does not own its style
            menu->setStyle(scrolling);
            menu->installEventFilter(this);
        }
    }
    for (int number = 1; number <= 9; ++number) {
        auto* key = new QAction(this);
        key->setProperty(actionProperty, QByteArray("jumpToBookmarkNumber:"));
        key->setProperty("tag", number);
        key->setShortcut(bookmarkShortcut(number));
        connect(key, &QAction::triggered, this,
                [key] { platform::sendAction("jumpToBookmarkNumber:", nullptr, key); });
        bookmarkKeys_.push_back(key);
    }
    if (QCoreApplication* application = QCoreApplication::instance()) {
        application->installEventFilter(this); // every window's first show
    }
    new platform::ContextMenuKey(this);
    keys_ = platform::addMenuKeys([this] {
        std::vector<platform::MenuItemKey> keys;
        for (QMenu* menu : menus_) {
            for (QAction* item : menu->actions()) {
                // Generated bookmark items come and go; their keys are listed below.
                if (!item->shortcut().isEmpty() && actionOf(*item) != "jumpToBookmarkNumber:") {
                    keys.push_back({item->property(titleProperty).toString(), item->shortcut()});
                }
            }
        }
        for (int number = 1; number <= 9; ++number) {
            keys.push_back({tr("Bookmark %1 in the Bookmarks menu").arg(number), bookmarkShortcut(number)});
        }
        return keys;
    });
}

MainMenu::~MainMenu() {
    for (QMenu* menu : menus_) {
        delete menu;
    }
}

QMenu* MainMenu::addMenu(const QString& title) {
    auto* menu = new QMenu(title);
    menus_.push_back(menu);
    connect(menu, &QMenu::aboutToShow, this, [this, menu] {
        if (menu == bookmarks_ && hooks_.bookmarksWillShow) {
            hooks_.bookmarksWillShow(*menu);
        }
        validate(*menu);
    });
    // Once the bar has taken the keyboard back from the closed menu; another menu of the bar
    // opened meanwhile keeps it.
    connect(menu, &QMenu::aboutToHide, this,
            [] { QMetaObject::invokeMethod(qApp, &giveKeysBackFromBars, Qt::QueuedConnection); });
    return menu;
}

bool MainMenu::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if ((type == QEvent::Show || type == QEvent::WindowActivate || type == QEvent::WindowDeactivate) &&
        watched->isWidgetType()) {
        auto* window = static_cast<QWidget*>(watched);
        if (window->isWindow() && window->windowType() == Qt::Window) {
            if (type == QEvent::Show) {
                giveKeysTo(*window);
            } else {
                giveKeysBackFromBar(*window);
            }
        }
    }
    auto* menu = qobject_cast<QMenu*>(watched);
    if (menu && event->type() == QEvent::Show) {
        fitBelowTitle(*menu);
    }
    return QObject::eventFilter(watched, event);
}

void MainMenu::fitBelowTitle(QMenu& menu) {
    // Too tall for the room below its title, a menu is moved up over the bar it drops from; a
    // scrolling one goes back below the title, as tall as the room there.
    QWidget* window = platform::actionWindow(nullptr);
    auto* bar = window ? window->findChild<QMenuBar*>() : nullptr;
    if (!bar || !bar->actions().contains(menu.menuAction()) || !bar->screen()) {
        return;
    }
    const QRect title = bar->actionGeometry(menu.menuAction());
    const int top = bar->mapToGlobal(title.bottomLeft()).y() + 1;
    const int room = bar->screen()->availableGeometry().bottom() + 1 - top;
    if (menu.y() < top && room >= 100) {
        menu.setGeometry(menu.x(), top, menu.width(), std::min(menu.height(), room));
    }
}

QAction* MainMenu::makeItem(QMenu& menu, const QString& title, std::string_view action) {
    QAction* item = menu.addAction(title);
    item->setProperty(actionProperty, QByteArray(action.data(), static_cast<qsizetype>(action.size())));
    item->setProperty(titleProperty, title);
    connect(item, &QAction::triggered, this,
            [item] { platform::sendAction(actionOf(*item), nullptr, item); });
    return item;
}

QAction* MainMenu::makeBookmarkItem(QMenu& menu, const QString& title, int number) {
    const QKeySequence key = bookmarkShortcut(number);
    // Shown after a tab as a shortcut is; a shortcut of its own would clash with the window's key.
    QAction* item = makeItem(
        menu, key.isEmpty() ? title : title + QLatin1Char('\t') + key.toString(QKeySequence::NativeText),
        "jumpToBookmarkNumber:");
    item->setProperty("tag", number);
    return item;
}

QAction* MainMenu::action(std::string_view action) const {
    for (QMenu* menu : menus_) {
        for (QAction* item : menu->actions()) {
            if (actionOf(*item) == action) {
                return item;
            }
        }
    }
    return nullptr;
}

QMenuBar* MainMenu::makeMenuBar(QWidget* parent) const {
    auto* bar = new QMenuBar(parent);
    addTo(*bar);
    return bar;
}

void MainMenu::addTo(QMenuBar& bar) const {
    const QList<QAction*> own = bar.actions();
    QAction* before = own.isEmpty() ? nullptr : own.first();
    for (std::size_t m = 0; m < menus_.size(); ++m) {
        if (m == 0 && before != nullptr) {
            bar.insertMenu(before, menus_[m]);
        } else {
            bar.addMenu(menus_[m]);
        }
    }
}

void MainMenu::addShortcutsTo(QWidget& window) const {
    for (QMenu* menu : menus_) {
        for (QAction* item : menu->actions()) {
            if (!item->shortcut().isEmpty()) {
                window.addAction(item);
            }
        }
    }
}

void MainMenu::giveKeysTo(QWidget& window) const {
    const QAction* quit = action("terminate:");
    if (quit != nullptr && !worksIn(*quit, window)) {
        addShortcutsTo(window);
    }
    for (QAction* key : bookmarkKeys_) {
        if (!window.actions().contains(key)) {
            window.addAction(key);
        }
    }
    const QKeySequence close = platform::standardShortcut(QKeySequence::Close);
    if (hasKey(window, close)) {
        return;
    }
    auto* shortcut = new QShortcut(close, &window);
    // After the key's event: closing may let go of the window's owner.
    connect(shortcut, &QShortcut::activated, &window,
            [&window] { QMetaObject::invokeMethod(&window, &QWidget::close, Qt::QueuedConnection); });
}

void MainMenu::validate(QMenu& menu) const {
    for (QAction* item : menu.actions()) {
        const std::string action = actionOf(*item);
        if (action.empty()) {
            continue;
        }
        platform::ActionResponder* responder = platform::responderForAction(action, nullptr, item);
        item->setEnabled(responder != nullptr && responder->validateAction(action));
        const std::optional<QString> title =
            responder ? responder->titleForAction(action, item) : std::nullopt;
        item->setText(title ? *title : item->property(titleProperty).toString());
        if (item->isCheckable() && hooks_.checkedState) {
            if (const std::optional<bool> checked = hooks_.checkedState(action)) {
                item->setChecked(*checked);
            }
        }
    }
}

void MainMenu::validateAll() const {
    for (QMenu* menu : menus_) {
        validate(*menu);
    }
}

} // namespace cw
