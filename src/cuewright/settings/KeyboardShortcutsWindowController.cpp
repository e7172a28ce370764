#include "cuewright/settings/KeyboardShortcutsWindowController.h"

#include "cuewright/settings/CloseShortcut.h"
#include "cuewright/settings/KeyWellButton.h"
#include "platform/keys/KeyNames.h"
#include "platform/ui/WindowFrame.h"

#include <QCoreApplication>
#include <QFile>
#include <QScreen>
#include <QTextBrowser>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <utility>

namespace cw {

namespace {

using Action = KeyBindings::Action;

// In the order they are replaced; ffwd and bbwd have none.
constexpr std::array<std::pair<const char*, Action>, 9> placeholders{{
    {"$play$", Action::playPause},
    {"$rewind$", Action::rewind},
    {"$scrollup$", Action::scrollLineUp},
    {"$scrolldown$", Action::scrollLineDown},
    {"$faster$", Action::incSpeed},
    {"$slower$", Action::decSpeed},
    {"$reverse$", Action::reverse},
    {"$nextbookmark$", Action::jumpNextBookmark},
    {"$previousbookmark$", Action::jumpPrevBookmark},
}};

namespace kc = platform::keycode;

// The prompter's fixed keys and the presentation remotes' keys, named as every key is.
constexpr std::array<std::pair<const char*, kc::KeyCode>, 13> fixedKeyPlaceholders{{
    {"$key-space$", kc::space},
    {"$key-backspace$", kc::deleteKey},
    {"$key-up$", kc::upArrow},
    {"$key-down$", kc::downArrow},
    {"$key-w$", kc::w},
    {"$key-s$", kc::s},
    {"$key-u$", kc::u},
    {"$key-j$", kc::j},
    {"$key-escape$", kc::escape},
    {"$key-f5$", kc::f5},
    {"$key-b$", kc::b},
    {"$key-pageup$", kc::pageUp},
    {"$key-pagedown$", kc::pageDown},
}};

} // namespace

KeyboardShortcutsWindowController::KeyboardShortcutsWindowController(platform::Defaults& defaults,
                                                                     QObject* parent)
    : platform::WindowController(parent)
    , defaults_(defaults) {}

QString KeyboardShortcutsWindowController::keyText(const std::optional<KeyBindings::Key>& key) {
    return key ? QString::fromStdString(KeyBindings::keyText(*key)) : KeyWellButton::notAssignedTitle();
}

QString KeyboardShortcutsWindowController::filledPage(QString page, const KeyBindings& bindings) {
    for (const auto& [placeholder, action] : placeholders) {
        const auto& key = bindings.key(action);
        // An unassigned action reads quieter than a key.
        const QString text =
            key ? keyText(key).toHtmlEscaped()
                : QStringLiteral("<span style=\"font-weight: normal; color: #8c8c8c\">%1</span>")
                      .arg(keyText(key).toHtmlEscaped());
        page.replace(QLatin1String(placeholder), text, Qt::CaseSensitive);
    }
    for (const auto& [placeholder, code] : fixedKeyPlaceholders) {
        page.replace(QLatin1String(placeholder),
                     QString::fromStdString(platform::keyDisplayName(code)).toHtmlEscaped(),
                     Qt::CaseSensitive);
    }
    return page;
}

QRect KeyboardShortcutsWindowController::placement(const QRect& visible, int topOffset, int width, int height,
                                                   int minWidth, int minHeight) {
    int left = visible.x() + visible.width() / 2 - width / 2;
    const int top = visible.y() + topOffset;
    const int right = visible.x() + visible.width();
    const int bottom = visible.y() + visible.height();
    if (left + width > right) {
        left = std::max(left, visible.x());
        width = std::max(right - left - 8, minWidth);
    }
    if (top + height > bottom)
        height = std::max(bottom - top - 8, minHeight);
    // A window held at its minimums may still not fit: keep it inside, its top-left first.
    left = std::max(visible.x(), std::min(left, right - width));
    const int placedTop = std::max(visible.y(), std::min(top, bottom - height));
    return QRect(left, placedTop, width, height);
}

QWidget* KeyboardShortcutsWindowController::makeWindow() {
    auto* window = new QWidget(nullptr, Qt::Window);
    window->setWindowTitle(tr("Keyboard Shortcuts"));
    window->setMinimumSize(minWidth, minHeight);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    browser_ = new QTextBrowser(window);
    browser_->setFrameShape(QFrame::NoFrame);
    browser_->setOpenExternalLinks(true);
    browser_->document()->setDocumentMargin(22);
    layout->addWidget(browser_);
    return window;
}

void KeyboardShortcutsWindowController::windowDidLoad() {
    addCloseShortcut(*this);
    updateWindowAppearance();
    registerForAppearanceChanges();
}

void KeyboardShortcutsWindowController::loadPage() {
    window();
    const QString name =
        QCoreApplication::translate("KeyboardShortcutsWindowController", "KeyboardShortcuts");
    QFile file(QStringLiteral(":/%1.html").arg(name));
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QString page = QString::fromUtf8(file.readAll());
    browser_->setHtml(filledPage(page, KeyBindings::load(defaults_)));
}

void KeyboardShortcutsWindowController::showWindow() {
    QWidget* w = window();
    // The room its frame leaves in the work area, smaller than the minimum on a small screen.
    if (const QRect room = platform::workAreaRoom(w); !room.isEmpty()) {
        const QSize least = QSize(minWidth, minHeight).boundedTo(room.size());
        w->setMinimumSize(least);
        setFrame(placement(room, topOffset, width, height, least.width(), least.height()));
    }
    platform::WindowController::showWindow();
    updateWindowAppearance();
    registerForAppearanceChanges();
}

} // namespace cw
