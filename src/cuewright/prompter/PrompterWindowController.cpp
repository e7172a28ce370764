#include "cuewright/prompter/PrompterWindowController.h"

#include "base/Log.h"
#include "cuewright/model/Project.h"
#include "cuewright/model/ScreenManager.h"
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/model/UserDefaults.h"
#include "cuewright/prompter/ApplicationShell.h"
#include "cuewright/prompter/PrompterControlBar.h"
#include "cuewright/prompter/PrompterKeyHandler.h"
#include "cuewright/prompter/PrompterView.h"
#include "cuewright/prompter/PrompterViewController.h"
#include "dispatch/MainThreadChecker.h"
#include "platform/defaults/Defaults.h"
#include "platform/defaults/NotificationCenter.h"
#include "platform/screens/ScreenProvider.h"
#include "platform/ui/ActionRoute.h"
#include "platform/ui/Appearance.h"
#include "platform/ui/DisplayFullScreen.h"
#include "platform/ui/PlainText.h"
#include "platform/ui/StandardShortcut.h"
#include "platform/ui/TranslucentWindow.h"
#include "platform/ui/WindowFrame.h"
#include "platform/ui/WindowLevel.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>

#include <filesystem>

namespace cw {

namespace {

constexpr int sliderSteps = 100;

QToolButton* makeToggle(QWidget* parent, const QString& text, const QString& tip) {
    auto* button = new QToolButton(parent);
    button->setText(text);
    button->setToolTip(tip);
    button->setCheckable(true);
    button->setAutoRaise(true);
    // Tab, F6 and Ctrl+Tab reach it; a click leaves the keys with the prompter view.
    button->setFocusPolicy(Qt::TabFocus);
    return button;
}

QSlider* makeSlider(QWidget* parent, const QString& tip) {
    auto* slider = new QSlider(Qt::Horizontal, parent);
    slider->setRange(0, sliderSteps);
    slider->setFixedWidth(90);
    slider->setToolTip(tip);
    slider->setFocusPolicy(Qt::TabFocus);
    return slider;
}

int sliderValue(float value) {
    return static_cast<int>(std::lround(std::clamp(value, 0.0f, 1.0f) * sliderSteps));
}

float sliderFraction(const QSlider* slider) {
    return static_cast<float>(slider->value()) / sliderSteps;
}

void setChecked(QAbstractButton* button, bool checked) {
    const QSignalBlocker quiet(button);
    button->setChecked(checked);
}

void setSlider(QSlider* slider, float value) {
    const QSignalBlocker quiet(slider);
    slider->setValue(sliderValue(value));
}

} // namespace

std::shared_ptr<PrompterWindowController>
PrompterWindowController::create(std::shared_ptr<Project> project, TeleprompterWindowPreset preset,
                                 std::optional<ScreenDescription> screenDesc, Environment environment) {
    if (!project) {
        base::fatal("use init(project:) instead!");
    }
    return std::make_shared<PrompterWindowController>(PrivateTag{}, std::move(project), preset,
                                                      std::move(screenDesc), std::move(environment));
}

PrompterWindowController::PrompterWindowController(PrivateTag, std::shared_ptr<Project> project,
                                                   TeleprompterWindowPreset preset,
                                                   std::optional<ScreenDescription> screenDesc,
                                                   Environment environment)
    : project_(std::move(project))
    , screenDesc_(std::move(screenDesc))
    // A window bound to a display always uses the normal preset.
    , preset_(screenDesc_ ? TeleprompterWindowPreset::normal : preset)
    , defaults_(environment.defaults ? environment.defaults : &platform::Defaults::standard())
    , center_(environment.center ? environment.center : &platform::NotificationCenter::defaultCenter()) {
    CW_DCHECK_MAIN_THREAD();
}

PrompterWindowController::~PrompterWindowController() {
    project_->unregisterEventListener(static_cast<const ProjectEventListener*>(this));
    if (viewController_ && viewController_->isViewLoaded()) {
        viewController_->prompterView()->setContextMenu(nullptr); // the view may outlive the menu
    }
    delete menu_.data();
}

PrompterView* PrompterWindowController::prompterView() const {
    CW_DCHECK_MAIN_THREAD();
    return viewController_ ? viewController_->prompterView() : nullptr;
}

float PrompterWindowController::windowOpacityValue() const {
    CW_DCHECK_MAIN_THREAD();
    return windowOpacitySlider_ ? sliderFraction(windowOpacitySlider_) : 1.0f;
}

// ---- the window ----

QWidget* PrompterWindowController::makeWindow() {
    auto* window = new QWidget;
    window->setObjectName(preset_ == TeleprompterWindowPreset::transparent
                              ? QStringLiteral("TransparentPrompterWindowController")
                              : QStringLiteral("PrompterWindowController"));
    // Every prompter window can be made see-through with its opacity slider, so each gets an
    // alpha channel before it is first shown.
    platform::makeTranslucent(window, platform::WindowFrameStyle::titled);
    window->setMinimumSize(320, 200);
    // The first size, made smaller on a screen that has no room for it (a stored frame replaces it).
    platform::resizeToFitScreen(window, preset_ == TeleprompterWindowPreset::transparent ? QSize(800, 500)
                                                                                         : QSize(960, 640));

    auto* column = new QVBoxLayout(window);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    anchor_ = new QWidget(window);
    anchor_->setObjectName(QStringLiteral("prompterAnchorView"));
    column->addWidget(anchor_, 1);

    auto* bar = new PrompterControlBar(window);
    bar->setObjectName(QStringLiteral("prompterControlBar"));
    bar->setAutoFillBackground(true); // stays solid when the window is see-through
    column->addWidget(bar);
    bar_ = bar;

    toggleControlsButton_ = makeToggle(bar, tr("Controls"), tr("Show the on-screen controls"));
    toggleTimestampButton_ = makeToggle(bar, tr("Time"), tr("Show the time read-out"));
    toggleProgressButton_ = makeToggle(bar, tr("Progress"), tr("Show the progress bar"));
    auto* controlsLabel = new QLabel(tr("Controls opacity"), bar);
    controlsOpacitySlider_ = makeSlider(bar, tr("Opacity of the on-screen controls"));
    auto* windowLabel = new QLabel(tr("Window opacity"), bar);
    windowOpacitySlider_ = makeSlider(bar, tr("Opacity of the window"));
    flipHButton_ = makeToggle(bar, tr("Flip H"), tr("Mirror horizontally"));
    flipVButton_ = makeToggle(bar, tr("Flip V"), tr("Mirror vertically"));
    alignLeftButton_ = makeToggle(bar, tr("Left"), tr("Align the text left"));
    alignCenterButton_ = makeToggle(bar, tr("Center"), tr("Centre the text"));
    alignRightButton_ = makeToggle(bar, tr("Right"), tr("Align the text right"));
    toggleSpeedLockButton_ = makeToggle(bar, tr("Lock Speed"), tr("Lock the on-screen speed control"));
    pinWindowButton_ = makeToggle(bar, tr("Pin"), tr("Keep the window above other windows"));
    toggleFullscreenButton_ = makeToggle(bar, tr("Full Screen"), tr("Full screen"));
    auto* menuButton = new QToolButton(bar);
    menuButton->setText(QStringLiteral("\u22EF"));
    menuButton->setToolTip(tr("More"));
    menuButton->setAutoRaise(true);
    menuButton->setPopupMode(QToolButton::InstantPopup);
    menuButton->setFocusPolicy(Qt::TabFocus);
    menuButton_ = menuButton;

    // Ranks: what stays in the bar longest when the window narrows; the menu offers every control.
    using Side = PrompterControlBar::Side;
    bar->addGroup({toggleControlsButton_}, 1, Side::left);
    bar->addGroup({toggleTimestampButton_}, 2, Side::left);
    bar->addGroup({toggleProgressButton_}, 3, Side::left);
    bar->addGroup({controlsLabel, controlsOpacitySlider_}, 5, Side::left);
    bar->addGroup({windowLabel, windowOpacitySlider_}, 4, Side::left);
    bar->addGroup({flipHButton_, flipVButton_}, 7, Side::left);
    bar->addGroup({alignLeftButton_, alignCenterButton_, alignRightButton_}, 6, Side::left);
    bar->addGroup({toggleSpeedLockButton_}, 9, Side::left);
    bar->addGroup({pinWindowButton_}, 8, Side::right);
    bar->addGroup({toggleFullscreenButton_}, 0, Side::right);
    bar->setMenuButton(menuButton);

    connect(toggleControlsButton_, &QAbstractButton::clicked, this, [this] { toggleControls(); });
    connect(toggleTimestampButton_, &QAbstractButton::clicked, this, [this] { toggleTimestamp(); });
    connect(toggleProgressButton_, &QAbstractButton::clicked, this, [this] { toggleProgress(); });
    connect(controlsOpacitySlider_, &QSlider::valueChanged, this, [this] { changeControlsOpacity(); });
    connect(windowOpacitySlider_, &QSlider::valueChanged, this, [this] { changeWindowOpacity(); });
    connect(flipHButton_, &QAbstractButton::clicked, this, [this] { flipH(); });
    connect(flipVButton_, &QAbstractButton::clicked, this, [this] { flipV(); });
    connect(alignLeftButton_, &QAbstractButton::clicked, this, [this] { alignLeft(); });
    connect(alignCenterButton_, &QAbstractButton::clicked, this, [this] { alignCenter(); });
    connect(alignRightButton_, &QAbstractButton::clicked, this, [this] { alignRight(); });
    connect(toggleSpeedLockButton_, &QAbstractButton::clicked, this, [this] { toggleSpeedLock(); });
    connect(pinWindowButton_, &QAbstractButton::clicked, this, [this] { togglePin(); });
    connect(toggleFullscreenButton_, &QAbstractButton::clicked, this,
            [this] { toggleFullScreenFromButton(); });
    return window;
}

void PrompterWindowController::windowDidLoad() {
    QWidget* w = window();
    restoreWindowFrame();

    platform::Appearance::applyToWindow(w, platform::AppearanceStyle::dark);
    w->setMouseTracking(true);
    fullScreen_ = new platform::DisplayFullScreen(w);
    connect(fullScreen_, &platform::DisplayFullScreen::displayLost, this, [this] { displayLost(); });
    connect(qGuiApp, &QGuiApplication::screenAdded, this, [this] { displayAdded(); });

    viewController_ = PrompterViewController::create(project_, *defaults_);
    viewController_->setMirroringLinkedToDocument(!screenDesc_);
    PrompterView* view = viewController_->prompterView();
    view->setInputDefaults(defaults_);
    viewController_->embedIn(anchor_);
    view->resize(anchor_->size());
    auto* keyHandler = new PrompterKeyHandler(view, *defaults_, *center_);
    for (QWidget* control : bar_->findChildren<QWidget*>()) {
        if (control->focusPolicy() & Qt::TabFocus) {
            keyHandler->watchControl(control);
        }
    }
    static_cast<QToolButton*>(menuButton_.data())->setMenu(menu());
    view->setContextMenu(menu());
    // The keyboard between the prompter and the bar, back and forth.
    for (const QKeySequence& key :
         {QKeySequence(Qt::Key_F6), QKeySequence(Qt::SHIFT | Qt::Key_F6),
          QKeySequence(Qt::CTRL | Qt::Key_Tab), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab)}) {
        connect(new QShortcut(key, w), &QShortcut::activated, this, [this] { focusOtherPart(); });
    }

    // The preset's settings.
    const PrompterWindowPresetKeys& keys = presetKeys(preset_);
    setSlider(windowOpacitySlider_, storedFloat(keys.windowOpacity, 0, 1, *defaults_));
    const bool showsControls = defaults_->boolForKey(keys.showControls);
    view->updateDisplay([showsControls](PrompterDisplayState& s) { s.showsControls = showsControls; });
    viewController_->setShowsTimestamp(defaults_->boolForKey(keys.showTimestamp));
    viewController_->setShowsProgress(defaults_->boolForKey(keys.showProgress));
    viewController_->setControlsOpacity(storedFloat(keys.controlsOpacity, 0, 1, *defaults_));
    const float windowOpacity = windowOpacityValue();
    view->updateDisplay([windowOpacity](PrompterDisplayState& s) { s.windowOpacity = windowOpacity; });
    platform::setWindowLevel(w, defaults_->boolForKey(keys.pinned) ? platform::WindowLevel::floating
                                                                   : platform::WindowLevel::normal);

    const bool remaining = defaults_->boolForKey(settings::timestampInPrompterShowsRemainingTime);
    view->updateDisplay([remaining](PrompterDisplayState& s) { s.timestampShowsRemainingTime = remaining; });
    view->controls().updateTimestampLabel();

    project_->registerEventListener(shared_from_this());

    const auto& document = project_->document().scriptProperties;
    if (screenDesc_) {
        applyMirroring(screenDesc_->flipH, screenDesc_->flipV);
        applyShows(screenDesc_->showControls, screenDesc_->showTimestamp, screenDesc_->showProgress);
        viewController_->setAlignmentOverride(screenDesc_->textAlignment);
        viewController_->applyProjectProperties(false);
        viewController_->setAlignmentLinkedToDocument(document.textAlignment == screenDesc_->textAlignment);
        platform::setWindowLevel(w, platform::WindowLevel::normal);
    } else {
        applyMirroring(document.flipHorizontal, document.flipVertical);
    }

    const PrompterDisplayState& shown = view->display();
    setChecked(toggleControlsButton_, shown.showsControls);
    setChecked(toggleTimestampButton_, shown.showsTimestamp);
    setChecked(toggleProgressButton_, shown.showsProgress);
    setChecked(toggleSpeedLockButton_, shown.speedLocked);
    setChecked(flipHButton_, shown.flipHorizontal);
    setChecked(flipVButton_, shown.flipVertical);
    setSlider(controlsOpacitySlider_, shown.controlsOpacity);
    setChecked(pinWindowButton_, platform::windowLevel(w) == platform::WindowLevel::floating);
    showAlignment(document.textAlignment);
    if (screenDesc_) {
        showAlignment(screenDesc_->textAlignment);
    }
    setChecked(toggleFullscreenButton_, w->isFullScreen());
}

void PrompterWindowController::showWindow() {
    CW_DCHECK_MAIN_THREAD();
    WindowController::showWindow();
    viewController_->start();
    if (screenDesc_) {
        applyMirroring(screenDesc_->flipH, screenDesc_->flipV);
    } else {
        const auto& document = project_->document().scriptProperties;
        applyMirroring(document.flipHorizontal, document.flipVertical);
    }
    updateTitle();
    applyWindowOpacityRule(windowOpacityValue());
    okToSaveWindowFrame_ = true;
    restoreWindowFrame();
    if (PrompterView* view = prompterView()) {
        view->setFocus(Qt::OtherFocusReason);
    }
}

void PrompterWindowController::showFullScreen(QScreen* screen) {
    CW_DCHECK_MAIN_THREAD();
    if (screen == nullptr) {
        showWindow();
        return;
    }
    // The screen is chosen before the first show: a shown window moved to another X screen is
    // made anew there.
    window()->setScreen(screen);
    window()->setGeometry(screen->availableGeometry());
    showWindow();
    fullScreen_->enter(screen);
}

QScreen* PrompterWindowController::screenForDisplayUUID(std::string_view displayUUID) {
    CW_DCHECK_MAIN_THREAD();
    if (displayUUID.empty()) {
        return nullptr;
    }
    for (QScreen* screen : QGuiApplication::screens()) {
        if (platform::QtScreenProvider::describe(*screen).displayUUID == displayUUID) {
            return screen;
        }
    }
    return nullptr;
}

void PrompterWindowController::updateTitle() {
    const auto path = project_->representedPath();
    if (path) {
        const QString name = QString::fromStdString(std::filesystem::path(*path).filename().string());
        window()->setWindowTitle(
            platform::plainWindowTitle(tr("Prompter Window") + QStringLiteral(" - ") + name));
        return;
    }
    window()->setWindowTitle(tr("Prompter Window - Untitled"));
}

void PrompterWindowController::windowDidBecomeMain() {
    if (auto d = delegate()) {
        d->prompterWindowControllerDidBecomeMain(*this);
    }
}

void PrompterWindowController::windowWillClose() {
    // The delegate may let go of this controller; it lives until the end of this call.
    const auto keep = shared_from_this();
    writeToDescription([](ScreenDescription& s) { s.isActive = false; });
    saveWindowFrame();
    if (viewController_) {
        viewController_->stop();
    }
    project_->unregisterEventListener(static_cast<const ProjectEventListener*>(this));
    if (auto d = delegate()) {
        d->prompterWindowControllerWillClose(*this);
    }
}

void PrompterWindowController::windowFullScreenDidChange(bool isFullScreen) {
    if (toggleFullscreenButton_) {
        setChecked(toggleFullscreenButton_, isFullScreen);
    }
}

void PrompterWindowController::focusOtherPart() {
    PrompterView* view = prompterView();
    QWidget* focus = QApplication::focusWidget();
    QWidget* stop = bar_ ? platform::firstTabStop(*bar_) : nullptr;
    // As a keyboard move: the control shows its focus mark.
    if (stop == nullptr || (focus != nullptr && bar_->isAncestorOf(focus))) {
        view->setFocus(Qt::ShortcutFocusReason);
    } else {
        stop->setFocus(Qt::ShortcutFocusReason);
    }
}

bool PrompterWindowController::eventFilter(QObject* watched, QEvent* event) {
    if (isWindowLoaded() && watched == window()) {
        // The bar's controls have no menu of their own: the window's is theirs.
        if (event->type() == QEvent::ContextMenu) {
            menu()->popup(static_cast<QContextMenuEvent*>(event)->globalPos());
            return true;
        }
        // Escape in the bar gives the keys back to the prompter first.
        QWidget* focus = QApplication::focusWidget();
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape &&
            focus != nullptr && bar_ && bar_->isAncestorOf(focus)) {
            prompterView()->setFocus(Qt::ShortcutFocusReason);
            return true;
        }
    }
    // A key the prompter did not claim reaches the window. A display-bound window covers its
    // whole display, perhaps the editor's: Escape and Ctrl+W switch it off.
    if (screenDesc_ && isWindowLoaded() && watched == window() && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape || key->matches(QKeySequence::Close)) {
            closeAfterThisEvent();
            return true;
        }
    }
    return WindowController::eventFilter(watched, event);
}

void PrompterWindowController::closeAfterThisEvent() {
    QMetaObject::invokeMethod(
        this, [this] { close(); }, Qt::QueuedConnection);
}

void PrompterWindowController::displayLost() {
    if (!screenDesc_) {
        return; // a free window goes on where the display's removal puts it
    }
    waitingForDisplay_ = true;
    window()->hide();
}

void PrompterWindowController::displayAdded() {
    if (!waitingForDisplay_) {
        return;
    }
    // Once the change has settled: a display comes as several signals.
    QMetaObject::invokeMethod(
        this,
        [this] {
            QScreen* screen = waitingForDisplay_ ? screenForDisplayUUID(screenDesc_->displayUUID) : nullptr;
            if (screen == nullptr) {
                return;
            }
            waitingForDisplay_ = false;
            fullScreen_->enter(screen);
        },
        Qt::QueuedConnection);
}

void PrompterWindowController::toggleFullScreenFromButton() {
    if (screenDesc_) {
        // Full screen is what a display-bound window is: leaving it switches the display off.
        closeAfterThisEvent();
        return;
    }
    if (fullScreen_->isFullScreen() || window()->isFullScreen()) {
        fullScreen_->exit();
        if (window()->isFullScreen()) {
            window()->showNormal();
        }
    } else {
        QScreen* screen = screenDesc_ ? screenForDisplayUUID(screenDesc_->displayUUID) : nullptr;
        fullScreen_->enter(screen ? screen : window()->screen());
    }
    setChecked(toggleFullscreenButton_, window()->isFullScreen());
}

// ---- frames ----

void PrompterWindowController::saveWindowFrame() {
    CW_DCHECK_MAIN_THREAD();
    if (screenDesc_ || !okToSaveWindowFrame_ || !isWindowLoaded()) {
        return;
    }
    // A window closed in full screen or maximised keeps the frame it had before: the next one
    // opens framed at that size, not over the whole display.
    const QRect frame = fullScreen_ != nullptr ? fullScreen_->normalFrame() : window()->geometry();
    defaults_->set(presetKeys(preset_).windowFrame, platform::frameToString(frame).toStdString());
}

void PrompterWindowController::restoreWindowFrame() {
    CW_DCHECK_MAIN_THREAD();
    if (screenDesc_ || !isWindowLoaded()) {
        return;
    }
    const auto stored = defaults_->stringForKey(presetKeys(preset_).windowFrame);
    // An absent, empty or unusable text changes nothing.
    setFrameFromString(QString::fromStdString(stored.value_or(std::string())));
}

// ---- applying state ----

void PrompterWindowController::applyMirroring(bool flipHorizontal, bool flipVertical) {
    prompterView()->updateDisplay([flipHorizontal, flipVertical](PrompterDisplayState& s) {
        s.flipHorizontal = flipHorizontal;
        s.flipVertical = flipVertical;
    });
}

void PrompterWindowController::applyShows(bool controls, bool timestamp, bool progress) {
    prompterView()->updateDisplay([controls](PrompterDisplayState& s) { s.showsControls = controls; });
    viewController_->setShowsTimestamp(timestamp);
    viewController_->setShowsProgress(progress);
}

void PrompterWindowController::applyWindowOpacityRule(float opacity) {
    // The window only stops filling its background; the view's fill paints the colour at the
    // chosen opacity behind the text.
    platform::applyBackgroundOpacity(window(), opacity);
}

void PrompterWindowController::showAlignment(TextAlignment alignment) {
    setChecked(alignLeftButton_, alignment == TextAlignment::left);
    setChecked(alignCenterButton_, alignment == TextAlignment::center);
    setChecked(alignRightButton_, alignment == TextAlignment::right);
}

void PrompterWindowController::writeToDescription(const std::function<void(ScreenDescription&)>& change) {
    if (!screenDesc_) {
        return;
    }
    const auto manager = project_->editor().screenManager;
    if (!manager) {
        return;
    }
    ScreenDescription copy = *screenDesc_;
    change(copy);
    // Comes back through projectScreenDescriptionDidChange before update() returns.
    manager->update(copy);
}

void PrompterWindowController::storeBool(std::string_view key, bool value) {
    defaults_->set(key, platform::Value(value));
}

// ---- actions ----

void PrompterWindowController::toggleControls(Sender sender) {
    CW_DCHECK_MAIN_THREAD();
    PrompterView* view = prompterView();
    const bool shows =
        sender == Sender::menu ? !view->display().showsControls : toggleControlsButton_->isChecked();
    view->updateDisplay([shows](PrompterDisplayState& s) { s.showsControls = shows; });
    if (sender == Sender::menu) {
        setChecked(toggleControlsButton_, shows);
    }
    storeBool(presetKeys(preset_).showControls, shows);
    writeToDescription([shows](ScreenDescription& s) { s.showControls = shows; });
}

void PrompterWindowController::toggleTimestamp(Sender sender) {
    CW_DCHECK_MAIN_THREAD();
    PrompterView* view = prompterView();
    const bool shows =
        sender == Sender::menu ? !view->display().showsTimestamp : toggleTimestampButton_->isChecked();
    viewController_->setShowsTimestamp(shows);
    if (sender == Sender::menu) {
        setChecked(toggleTimestampButton_, shows);
    }
    storeBool(presetKeys(preset_).showTimestamp, shows);
    writeToDescription([shows](ScreenDescription& s) { s.showTimestamp = shows; });
}

void PrompterWindowController::toggleProgress(Sender sender) {
    CW_DCHECK_MAIN_THREAD();
    PrompterView* view = prompterView();
    const bool shows =
        sender == Sender::menu ? !view->display().showsProgress : toggleProgressButton_->isChecked();
    viewController_->setShowsProgress(shows);
    if (sender == Sender::menu) {
        setChecked(toggleProgressButton_, shows);
    }
    storeBool(presetKeys(preset_).showProgress, shows);
    writeToDescription([shows](ScreenDescription& s) { s.showProgress = shows; });
}

void PrompterWindowController::changeControlsOpacity() {
    CW_DCHECK_MAIN_THREAD();
    viewController_->setControlsOpacity(sliderFraction(controlsOpacitySlider_));
    const float opacity = prompterView()->display().controlsOpacity;
    setSlider(controlsOpacitySlider_, opacity);
    defaults_->set(presetKeys(preset_).controlsOpacity, platform::Value(opacity));
}

void PrompterWindowController::changeWindowOpacity() {
    CW_DCHECK_MAIN_THREAD();
    if (!isWindowLoaded()) {
        return;
    }
    const float opacity = windowOpacityValue();
    applyWindowOpacityRule(opacity);
    prompterView()->updateDisplay([opacity](PrompterDisplayState& s) { s.windowOpacity = opacity; });
    defaults_->set(presetKeys(preset_).windowOpacity, platform::Value(opacity));
}

void PrompterWindowController::flipH() {
    CW_DCHECK_MAIN_THREAD();
    PrompterView* view = prompterView();
    view->updateDisplay([](PrompterDisplayState& s) { s.flipHorizontal = !s.flipHorizontal; });
    const bool flipped = view->display().flipHorizontal;
    setChecked(flipHButton_, flipped);
    writeToDescription([flipped](ScreenDescription& s) { s.flipH = flipped; });
}

void PrompterWindowController::flipV() {
    CW_DCHECK_MAIN_THREAD();
    PrompterView* view = prompterView();
    view->updateDisplay([](PrompterDisplayState& s) { s.flipVertical = !s.flipVertical; });
    const bool flipped = view->display().flipVertical;
    setChecked(flipVButton_, flipped);
    writeToDescription([flipped](ScreenDescription& s) { s.flipV = flipped; });
}

void PrompterWindowController::align(TextAlignment alignment) {
    CW_DCHECK_MAIN_THREAD();
    viewController_->setAlignmentLinkedToDocument(project_->document().scriptProperties.textAlignment ==
                                                  alignment);
    viewController_->setAlignmentOverride(alignment);
    viewController_->applyProjectProperties(false);
    showAlignment(alignment);
    // Writing only a real change keeps the description coming back from starting another update.
    if (screenDesc_ && screenDesc_->textAlignment != alignment) {
        writeToDescription([alignment](ScreenDescription& s) { s.textAlignment = alignment; });
    }
}

void PrompterWindowController::toggleSpeedLock(Sender sender) {
    CW_DCHECK_MAIN_THREAD();
    PrompterView* view = prompterView();
    const bool locked =
        sender == Sender::menu ? !view->display().speedLocked : toggleSpeedLockButton_->isChecked();
    view->updateDisplay([locked](PrompterDisplayState& s) { s.speedLocked = locked; });
    setChecked(toggleSpeedLockButton_, locked);
}

void PrompterWindowController::togglePin() {
    CW_DCHECK_MAIN_THREAD();
    bool pinned = false;
    if (isWindowLoaded()) {
        QWidget* w = window();
        const bool wasPinned = platform::windowLevel(w) == platform::WindowLevel::floating;
        platform::setWindowLevel(w,
                                 wasPinned ? platform::WindowLevel::normal : platform::WindowLevel::floating);
        pinned = platform::windowLevel(w) == platform::WindowLevel::floating;
    }
    if (pinWindowButton_) {
        setChecked(pinWindowButton_, pinned);
    }
    storeBool(presetKeys(preset_).pinned, pinned);
}

void PrompterWindowController::playPause() {
    CW_DCHECK_MAIN_THREAD();
    if (project_->transportState().isPlaying()) {
        project_->pause();
    } else {
        project_->play();
    }
}

void PrompterWindowController::rewind() {
    CW_DCHECK_MAIN_THREAD();
    project_->rewind();
}

void PrompterWindowController::spawnIndependentPrompterWindow() {
    CW_DCHECK_MAIN_THREAD();
    if (auto shell = delegate()) {
        shell->prompterWindowControllerSpawnPrompterWindow(*this, TeleprompterWindowPreset::normal);
    }
}

void PrompterWindowController::spawnTransparentPrompterWindow() {
    CW_DCHECK_MAIN_THREAD();
    if (auto shell = delegate()) {
        shell->prompterWindowControllerSpawnPrompterWindow(*this, TeleprompterWindowPreset::transparent);
    }
}

void PrompterWindowController::perform(Action action, Sender sender) {
    CW_DCHECK_MAIN_THREAD();
    switch (action) {
    case Action::toggleControls:
        return toggleControls(sender);
    case Action::toggleTimestamp:
        return toggleTimestamp(sender);
    case Action::toggleProgress:
        return toggleProgress(sender);
    case Action::changeControlsOpacity:
        return changeControlsOpacity();
    case Action::changeWindowOpacity:
        return changeWindowOpacity();
    case Action::flipH:
        return flipH();
    case Action::flipV:
        return flipV();
    case Action::alignLeft:
        return alignLeft();
    case Action::alignCenter:
        return alignCenter();
    case Action::alignRight:
        return alignRight();
    case Action::toggleSpeedLock:
        return toggleSpeedLock(sender);
    case Action::togglePin:
        return togglePin();
    case Action::playPause:
        return playPause();
    case Action::rewind:
        return rewind();
    case Action::spawnIndependentPrompterWindow:
        return spawnIndependentPrompterWindow();
    case Action::spawnTransparentPrompterWindow:
        return spawnTransparentPrompterWindow();
    case Action::toggleFullScreen:
        return toggleFullScreenFromButton();
    case Action::performClose:
        return closeAfterThisEvent();
    }
}

PrompterWindowController::MenuItemState PrompterWindowController::validateMenuItem(Action action) const {
    CW_DCHECK_MAIN_THREAD();
    const auto stateOf = [](const QPointer<QAbstractButton>& button) -> std::optional<bool> {
        return button ? std::optional<bool>(button->isChecked()) : std::nullopt;
    };
    switch (action) {
    case Action::alignLeft:
        return {true, stateOf(alignLeftButton_), std::nullopt};
    case Action::alignCenter:
        return {true, stateOf(alignCenterButton_), std::nullopt};
    case Action::alignRight:
        return {true, stateOf(alignRightButton_), std::nullopt};
    case Action::playPause:
        return {true, std::nullopt, project_->transportState().isPlaying() ? tr("Pause") : tr("Play")};
    case Action::rewind:
    case Action::spawnIndependentPrompterWindow:
    case Action::spawnTransparentPrompterWindow:
    case Action::performClose:
        return {true, std::nullopt, std::nullopt};
    case Action::toggleFullScreen: {
        // A display-bound window is full screen for as long as it is open.
        const bool full = screenDesc_ || (fullScreen_ != nullptr && fullScreen_->isFullScreen());
        return {true, std::nullopt, full ? tr("Exit Full Screen") : tr("Enter Full Screen")};
    }
    case Action::toggleControls:
        return {true, stateOf(toggleControlsButton_), std::nullopt};
    case Action::toggleTimestamp:
        return {true, stateOf(toggleTimestampButton_), std::nullopt};
    case Action::toggleSpeedLock:
        return {true, stateOf(toggleSpeedLockButton_), std::nullopt};
    case Action::togglePin: {
        QWidget* w = isWindowLoaded() ? const_cast<PrompterWindowController*>(this)->window() : nullptr;
        return {true, w != nullptr && platform::windowLevel(w) == platform::WindowLevel::floating,
                std::nullopt};
    }
    case Action::toggleProgress:
    case Action::changeControlsOpacity:
    case Action::changeWindowOpacity:
    case Action::flipH:
    case Action::flipV:
        return {};
    }
    return {};
}

QMenu* PrompterWindowController::menu() {
    CW_DCHECK_MAIN_THREAD();
    if (menu_) {
        return menu_;
    }
    menu_ = new QMenu;
    // A window of its own, over the dark prompter window: dark as it is, whatever the application's look.
    platform::Appearance::applyToWindow(menu_, platform::AppearanceStyle::dark);
    struct Item {
        Action action;
        QString title;
        bool checkable;
        QKeySequence shortcut = {};
    };
    const Item items[] = {
        {Action::playPause, tr("Play"), false},
        {Action::rewind, tr("Rewind"), false},
        {Action::toggleControls, tr("Show Controls"), true},
        {Action::toggleTimestamp, tr("Show Time"), true},
        {Action::toggleSpeedLock, tr("Lock Speed"), true},
        {Action::alignLeft, tr("Align Left"), true},
        {Action::alignCenter, tr("Align Center"), true},
        {Action::alignRight, tr("Align Right"), true},
        {Action::togglePin, tr("Keep on Top"), true},
        {Action::spawnIndependentPrompterWindow, tr("New Prompter Window"), false},
        {Action::spawnTransparentPrompterWindow, tr("New Transparent Prompter Window"), false},
        {Action::toggleFullScreen, tr("Enter Full Screen"), false,
         platform::standardShortcut(QKeySequence::FullScreen)},
        {Action::performClose, tr("Close"), false, platform::standardShortcut(QKeySequence::Close)},
    };
    std::vector<std::pair<QAction*, Action>> actions;
    for (const Item& item : items) {
        if (item.action == Action::toggleFullScreen) {
            menu_->addSeparator(); // the window's own items
        }
        QAction* qaction = menu_->addAction(item.title);
        qaction->setCheckable(item.checkable);
        const Action action = item.action;
        connect(qaction, &QAction::triggered, this, [this, action] { perform(action, Sender::menu); });
        actions.emplace_back(qaction, action);
        if (!item.shortcut.isEmpty()) {
            qaction->setShortcut(item.shortcut);
            // The menu is a window of its own: the keys work in the prompter window through it.
            if (isWindowLoaded()) {
                window()->addAction(qaction);
            }
        }
    }
    addBarControls();
    if (screenDesc_) {
        menu_->addSeparator();
        QAction* off = menu_->addAction(tr("Switch Display Off"));
        off->setShortcut(QKeySequence(Qt::Key_Escape));
        off->setShortcutContext(Qt::WidgetShortcut); // shown only: Escape reaches the window itself
        connect(off, &QAction::triggered, this, [this] { closeAfterThisEvent(); });
    }
    connect(menu_, &QMenu::aboutToShow, this, [this, actions] {
        for (const auto& [qaction, action] : actions) {
            const MenuItemState state = validateMenuItem(action);
            qaction->setEnabled(state.enabled);
            if (state.checked) {
                qaction->setChecked(*state.checked);
            }
            if (state.title) {
                qaction->setText(*state.title);
            }
        }
    });
    return menu_;
}

// The bar's controls that have no menu item of their own, so that the keyboard reaches every control
// through the menu, and a narrow bar loses none. They act as the bar's controls do (a click, a
// slider's value), so menu validation does not apply to them.
void PrompterWindowController::addBarControls() {
    if (!bar_) {
        return;
    }
    menu_->addSeparator();
    const auto addToggle = [&](QAbstractButton* button, const QString& title) {
        QAction* action = menu_->addAction(title);
        action->setCheckable(true);
        connect(action, &QAction::triggered, button, &QAbstractButton::click);
        connect(menu_, &QMenu::aboutToShow, action,
                [action, button] { action->setChecked(button->isChecked()); });
    };
    // The opacities in steps of a tenth; the step nearest the slider's value shows checked.
    const auto addSteps = [&](QSlider* slider, const QString& title) {
        QMenu* steps = menu_->addMenu(title);
        platform::Appearance::applyToWindow(steps, platform::AppearanceStyle::dark);
        auto* group = new QActionGroup(steps);
        for (int tenth = 0; tenth <= 10; ++tenth) {
            QAction* step = steps->addAction(tr("%1 %").arg(tenth * 10));
            step->setCheckable(true);
            group->addAction(step);
            connect(step, &QAction::triggered, slider,
                    [slider, tenth] { slider->setValue(tenth * sliderSteps / 10); });
        }
        connect(menu_, &QMenu::aboutToShow, steps, [steps, slider] {
            const auto nearest = static_cast<qsizetype>(std::lround(sliderFraction(slider) * 10));
            steps->actions().at(nearest)->setChecked(true);
        });
    };
    addToggle(toggleProgressButton_, tr("Show Progress"));
    addToggle(flipHButton_, tr("Flip Horizontally"));
    addToggle(flipVButton_, tr("Flip Vertically"));
    addSteps(controlsOpacitySlider_, tr("Controls Opacity"));
    addSteps(windowOpacitySlider_, tr("Window Opacity"));
}

// ---- project ----

void PrompterWindowController::projectScriptPropertiesDidChange(Project&) {
    CW_DCHECK_MAIN_THREAD();
    if (viewController_ && viewController_->alignmentLinkedToDocument()) {
        showAlignment(project_->document().scriptProperties.textAlignment);
    }
    if (viewController_ && viewController_->isViewLoaded()) {
        // The view took the script's mirroring first (it listens before the window).
        const PrompterDisplayState& shown = prompterView()->display();
        setChecked(flipHButton_, shown.flipHorizontal);
        setChecked(flipVButton_, shown.flipVertical);
    }
}

void PrompterWindowController::projectDidSave(Project&) {
    CW_DCHECK_MAIN_THREAD();
    if (isWindowLoaded()) {
        updateTitle();
    }
}

void PrompterWindowController::projectScreenDescriptionDidChange(Project&, const ScreenDescription& screen) {
    CW_DCHECK_MAIN_THREAD();
    if (!screenDesc_ || screen.displayUUID != screenDesc_->displayUUID || !viewController_) {
        return;
    }
    screenDesc_ = screen;
    applyMirroring(screen.flipH, screen.flipV);
    const PrompterDisplayState& shown = prompterView()->display();
    setChecked(flipHButton_, shown.flipHorizontal);
    setChecked(flipVButton_, shown.flipVertical);
    applyShows(screen.showControls, screen.showTimestamp, screen.showProgress);
    setChecked(toggleControlsButton_, shown.showsControls);
    setChecked(toggleTimestampButton_, shown.showsTimestamp);
    setChecked(toggleProgressButton_, shown.showsProgress);
    align(screen.textAlignment);
}

} // namespace cw
