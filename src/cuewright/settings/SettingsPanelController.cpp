#include "cuewright/settings/SettingsPanelController.h"

#include "cuewright/settings/CloseShortcut.h"
#include "cuewright/settings/GeneralSettingsViewController.h"
#include "cuewright/settings/KeysSettingsController.h"
#include "cuewright/settings/NetworkSettingsViewController.h"
#include "cuewright/settings/ScriptSettingsController.h"
#include "cuewright/settings/UpdateSettingsViewController.h"
#include "platform/ui/WindowFrame.h"

#include <QAction>
#include <QActionGroup>
#include <QFrame>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

namespace cw {

namespace {

using Pane = SettingsPanelController::Pane;

constexpr std::array<const char*, SettingsPanelController::paneCount> paneTitles{
    QT_TRANSLATE_NOOP("SettingsPanelController", "General"),
    QT_TRANSLATE_NOOP("SettingsPanelController", "Script"),
    QT_TRANSLATE_NOOP("SettingsPanelController", "Remote control"),
    QT_TRANSLATE_NOOP("SettingsPanelController", "Keys"),
    QT_TRANSLATE_NOOP("SettingsPanelController", "Updates"),
};

// A symbolic picture of the pane in a mid grey that reads on light and dark toolbars.
QIcon paneIcon(Pane pane) {
    constexpr int size = 28;
    QPixmap pixmap(size * 2, size * 2);
    pixmap.setDevicePixelRatio(2);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor ink(0x80, 0x8b, 0x9a);
    QPen pen(ink, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    const QPointF c(size / 2.0, size / 2.0);
    switch (pane) {
    case Pane::general: {
        QPainterPath gear;
        for (int i = 0; i < 8; ++i) {
            const double a = i * M_PI / 4;
            gear.addRect(QRectF(-2.5, -12, 5, 6));
            QTransform t;
            t.translate(c.x(), c.y());
            t.rotateRadians(a);
            p.fillPath(t.map(gear), ink);
            gear.clear();
        }
        p.setBrush(ink);
        p.drawEllipse(c, 8.5, 8.5);
        p.setCompositionMode(QPainter::CompositionMode_Clear);
        p.setPen(Qt::NoPen);
        p.drawEllipse(c, 3.5, 3.5);
        break;
    }
    case Pane::script:
        p.drawRoundedRect(QRectF(6, 3, 16, 22), 2, 2);
        for (double y : {9.0, 13.0, 17.0, 21.0})
            p.drawLine(QPointF(10, y), QPointF(y == 21.0 ? 15 : 18, y));
        break;
    case Pane::network:
        p.setBrush(ink);
        p.drawEllipse(QPointF(c.x(), 21), 2.2, 2.2);
        p.setBrush(Qt::NoBrush);
        for (double r : {6.0, 11.0}) {
            const QRectF box(c.x() - r, 21 - r, 2 * r, 2 * r);
            p.drawArc(box, 45 * 16, 90 * 16);
        }
        p.drawArc(QRectF(c.x() - 16, 5, 32, 32), 50 * 16, 80 * 16);
        break;
    case Pane::keys:
        p.drawRoundedRect(QRectF(2.5, 7, 23, 14), 2.5, 2.5);
        p.setPen(Qt::NoPen);
        p.setBrush(ink);
        for (int row = 0; row < 2; ++row)
            for (int col = 0; col < 5; ++col)
                p.drawRect(QRectF(5.5 + col * 3.8, 10 + row * 3.5, 2.2, 2.0));
        p.drawRect(QRectF(9, 17.2, 10, 1.8));
        break;
    case Pane::updates: {
        p.drawArc(QRectF(5, 5, 18, 18), 100 * 16, 290 * 16);
        QPainterPath head;
        head.moveTo(10.5, 2.5);
        head.lineTo(16, 6.2);
        head.lineTo(10.5, 10);
        head.closeSubpath();
        p.setPen(Qt::NoPen);
        p.fillPath(head, ink);
        break;
    }
    }
    p.end();
    return QIcon(pixmap);
}

} // namespace

SettingsPanelController::SettingsPanelController(std::string computerName, platform::Defaults& defaults,
                                                 platform::NotificationCenter& center, QObject* parent)
    : platform::WindowController(parent)
    , computerName_(std::move(computerName))
    , defaults_(defaults)
    , center_(center) {}

SettingsPanelController::~SettingsPanelController() {
    // The panes' views live in the window; let them go before it does.
    for (SettingsPane* pane : panes_)
        delete pane;
}

QRect SettingsPanelController::frameForContent(const QRect& frame, int currentContentHeight,
                                               QSize newContentSize) {
    const int difference = newContentSize.height() - currentContentHeight;
    return QRect(frame.x(), frame.y(), newContentSize.width(), frame.height() + difference);
}

QWidget* SettingsPanelController::makeWindow() {
    auto* window = new QWidget(nullptr, Qt::Window);
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    auto* column = new QVBoxLayout(window);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    toolbar_ = new QToolBar(window);
    toolbar_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    toolbar_->setIconSize(QSize(28, 28));
    toolbar_->setMovable(false);
    toolbar_->setContentsMargins(8, 4, 8, 2);
    auto* group = new QActionGroup(toolbar_);
    group->setExclusive(true);
    for (std::size_t i = 0; i < items_.size(); ++i) {
        const auto pane = static_cast<Pane>(i);
        QAction* item = toolbar_->addAction(paneIcon(pane), tr(paneTitles[i]));
        item->setCheckable(true);
        group->addAction(item);
        connect(item, &QAction::triggered, this, [this, pane] { showPane(pane); });
        items_[i] = item;
        // A toolbar keeps its buttons out of the focus chain; these are the only way to the
        // other panes, so Tab reaches them and Space chooses.
        toolbar_->widgetForAction(item)->setFocusPolicy(Qt::TabFocus);
    }
    const auto stepShortcuts = [&](std::initializer_list<QKeySequence> keys, int step) {
        for (const QKeySequence& key : keys) {
            connect(new QShortcut(key, window), &QShortcut::activated, this,
                    [this, step] { stepPane(step); });
        }
    };
    stepShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Tab), QKeySequence(Qt::CTRL | Qt::Key_PageDown)}, 1);
    // X11 delivers Ctrl+Shift+Tab as Backtab with Ctrl+Shift, which only this spelling matches;
    // a second spelling for the same keys would make both ambiguous.
    stepShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab), QKeySequence(Qt::CTRL | Qt::Key_PageUp)},
                  -1);
    column->addWidget(toolbar_, 0, Qt::AlignHCenter);
    auto* line = new QFrame(window);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    column->addWidget(line);
    contentScroll_ = new QScrollArea(window);
    contentScroll_->setFrameShape(QFrame::NoFrame);
    contentScroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    contentScroll_->setWidgetResizable(false);
    contentScroll_->viewport()->setAutoFillBackground(false); // the window's own background
    // Tab goes from the toolbar straight into the pane, which scrolls to show what has the focus.
    contentScroll_->setFocusPolicy(Qt::NoFocus);
    contentHost_ = new QWidget;
    auto* hostLayout = new QVBoxLayout(contentHost_);
    hostLayout->setContentsMargins(0, 0, 0, 0);
    contentScroll_->setWidget(contentHost_);
    column->addWidget(contentScroll_);
    return window;
}

void SettingsPanelController::windowDidLoad() {
    keepInWorkArea();
    addCloseShortcut(*this);
    updateWindowAppearance();
    registerForAppearanceChanges();
    current_ = Pane::general;
    items_[index(Pane::general)]->setChecked(true);
    SettingsPane& general = pane(Pane::general);
    setContentPane(general.view());
    window()->setWindowTitle(tr(paneTitles[index(Pane::general)]));
}

SettingsPane& SettingsPanelController::pane(Pane which) {
    SettingsPane*& slot = panes_[index(which)];
    if (slot)
        return *slot;
    switch (which) {
    case Pane::general:
        slot = new GeneralSettingsViewController(defaults_, center_);
        break;
    case Pane::script:
        slot = new ScriptSettingsController(defaults_, center_);
        break;
    case Pane::network:
        slot = new NetworkSettingsViewController(computerName_, defaults_, center_);
        break;
    case Pane::keys:
        slot = new KeysSettingsController(defaults_, center_);
        break;
    case Pane::updates:
        slot = new UpdateSettingsViewController(defaults_, center_);
        break;
    }
    return *slot;
}

void SettingsPanelController::showPane(Pane which) {
    if (!isWindowLoaded()) {
        window();
    }
    items_[index(which)]->setChecked(true);
    if (which == current_ && content_)
        return;
    if (SettingsPane* leaving = panes_[index(current_)])
        leaving->viewWillDisappear();
    current_ = which;
    SettingsPane& next = pane(which);
    setContentPane(next.view());
    window()->setWindowTitle(tr(paneTitles[index(which)]));
    next.viewDidAppear();
}

void SettingsPanelController::stepPane(int step) {
    const int next = (static_cast<int>(current_) + step + paneCount) % paneCount;
    const auto pane = static_cast<Pane>(next);
    showPane(pane);
    // The focus was in the pane that went; it goes to the chosen item, from where Tab enters the pane.
    toolbar_->widgetForAction(items_[index(pane)])->setFocus(Qt::ShortcutFocusReason);
}

void SettingsPanelController::setContentPane(QWidget* content) {
    QWidget* w = window();
    const int currentHeight = content_ ? contentScroll_->height() : 0;
    // Panes fix their size (wrapped texts included); a view that does not gets its size hint.
    const bool fixed = content->minimumSize() == content->maximumSize();
    const QSize newSize = fixed ? content->minimumSize() : content->sizeHint();
    if (content_ && content_ != content)
        content_->hide();
    if (content->parentWidget() != contentHost_) {
        content->setParent(contentHost_);
        contentHost_->layout()->addWidget(content);
    }
    content->show();
    content_ = content;
    contentHost_->setFixedSize(newSize);
    // The window is made around the pane, as its style will draw it, but no taller than the
    // work area: there the pane scrolls.
    w->ensurePolished();
    QSize shown = newSize;
    contentScroll_->setFixedSize(shown);
    const int chrome = w->sizeHint().height() - shown.height();
    if (const QRect room = platform::workAreaRoom(w);
        !room.isEmpty() && chrome + shown.height() > room.height()) {
        shown = QSize(newSize.width() + contentScroll_->verticalScrollBar()->sizeHint().width(),
                      std::max(room.height() - chrome, 0));
        contentScroll_->setFixedSize(shown);
    }
    if (currentHeight == 0) {
        w->setFixedSize(w->sizeHint());
        return;
    }
    const QRect target = frameForContent(frame(), currentHeight, shown);
    w->setFixedSize(std::max(target.width(), w->minimumSizeHint().width()), target.height());
    setFrame(QRect(target.topLeft(), w->size()));
    if (w->isVisible()) {
        platform::placeInWorkArea(w, platform::WorkAreaPlacement::keptInPlace);
    }
}

void SettingsPanelController::showWindow() {
    const bool wasVisible = isWindowLoaded() && window()->isVisible();
    platform::WindowController::showWindow(); // centred the first time
    updateWindowAppearance();
    registerForAppearanceChanges();
    if (!wasVisible) {
        if (SettingsPane* shown = panes_[index(current_)]; shown && shown->isViewLoaded())
            shown->viewDidAppear();
    }
}

void SettingsPanelController::windowWillClose() {
    if (SettingsPane* shown = panes_[index(current_)])
        shown->viewWillDisappear();
    unregisterForAppearanceChanges();
}

} // namespace cw
