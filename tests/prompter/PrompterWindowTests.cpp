// Prompter windows: presets and their settings, saved frames, display-bound windows, the
// window's actions and menus.
#include "cuewright/prompter/PrompterWindowController.h"

#include "cuewright/model/KeyBindings.h"
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/prompter/PrompterView.h"
#include "cuewright/prompter/PrompterViewController.h"
#include "cuewright/prompter/SpeedControlLayer.h"
#include "cuewright/prompter/TeleprompterWindowPreset.h"
#include "dispatch/Queue.h"
#include "platform/ui/StandardShortcut.h"
#include "platform/ui/TranslucentWindow.h"
#include "platform/ui/WindowFrame.h"
#include "platform/ui/WindowLevel.h"
#include "prompter/PrompterTestSupport.h"
#include "prompter/WindowTestSupport.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLayout>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <map>

using cw::PrompterWindowController;
using cw::ScreenDescription;
using cw::TeleprompterWindowPreset;
using cw::TextAlignment;
using Sender = PrompterWindowController::Sender;
using Action = PrompterWindowController::Action;
namespace settings = cw::settings;

namespace {

// Counts the descriptions the project announces.
class DescriptionListener : public cw::ProjectEventListener {
public:
    void projectScreenDescriptionDidChange(cw::Project&, const ScreenDescription& screen) override {
        told.push_back(screen);
    }
    std::vector<ScreenDescription> told;
};

class PrompterWindowTest : public ::testing::Test {
protected:
    PrompterWindowTest() {
        project->setText(
            platform::AttributedString(QStringLiteral("One line.\nAnother line.\nA third one.")));
    }
    ~PrompterWindowTest() override {
        for (auto& w : windows) {
            if (w->isWindowLoaded())
                w->window()->hide();
        }
        // Notifications still on their way hold windows; deliver them while the settings they use live.
        windowtests::processEvents();
        dispatch::drainMainQueue();
    }

    std::shared_ptr<PrompterWindowController> make(TeleprompterWindowPreset preset,
                                                   std::optional<ScreenDescription> screen = std::nullopt) {
        auto w =
            PrompterWindowController::create(project, preset, std::move(screen), {&s.defaults, &s.center});
        w->setDelegate(shell);
        windows.push_back(w);
        return w;
    }

    ScreenDescription display(TextAlignment alignment = TextAlignment::center) const {
        ScreenDescription d;
        d.name = "DELL U2720Q";
        d.displayUUID = provider->screens()[1].displayUUID;
        d.textAlignment = alignment;
        d.isActive = true;
        return d;
    }

    bool hasUserValue(std::string_view key) const { return s.defaults.persistentObject(key).has_value(); }

    windowtests::Settings s;
    std::shared_ptr<testsupport::FakeScreenProvider> provider =
        std::make_shared<testsupport::FakeScreenProvider>(testsupport::FakeScreenProvider::threeDisplays());
    std::shared_ptr<cw::Project> project = cw::Project::create(s.defaults, provider);
    std::shared_ptr<windowtests::RecordingShell> shell = std::make_shared<windowtests::RecordingShell>();
    std::vector<std::shared_ptr<PrompterWindowController>> windows;
};

// The visible item titled `title` in `menu`, or null.
QAction* menuItem(QMenu* menu, const QString& title) {
    for (QAction* action : menu->actions())
        if (action->text() == title && action->isVisible())
            return action;
    return nullptr;
}

// Drags the slider's handle a quarter of its width, through the widget found under the handle.
void dragHandle(QSlider* slider) {
    QStyleOptionSlider option;
    option.initFrom(slider);
    option.orientation = slider->orientation();
    option.minimum = slider->minimum();
    option.maximum = slider->maximum();
    option.sliderPosition = slider->sliderPosition();
    option.sliderValue = slider->value();
    option.subControls = QStyle::SC_All;
    const QPoint from =
        slider->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider).center();
    QWidget* top = slider->window();
    const QPoint atTop = slider->mapTo(top, from);
    ASSERT_EQ(top->childAt(atTop), slider) << "covered by a neighbour";
    const QPoint to =
        from + QPoint(from.x() > slider->width() / 2 ? -slider->width() / 4 : slider->width() / 4, 0);
    const auto send = [&](QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
        QMouseEvent event(type, at, slider->mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(slider, &event);
    };
    send(QEvent::MouseButtonPress, from, Qt::LeftButton);
    send(QEvent::MouseMove, (from + to) / 2, Qt::LeftButton);
    send(QEvent::MouseMove, to, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, to, Qt::NoButton);
}

// ---- presets ----

TEST(PrompterWindowPresets, KeysAndRegisteredDefaultsOfEachPreset) {
    std::map<std::string_view, platform::Value> registered;
    for (auto& [key, value] : cw::registeredDefaultValues())
        registered.emplace(key, value);
    const auto& n = cw::presetKeys(TeleprompterWindowPreset::normal);
    const auto& t = cw::presetKeys(TeleprompterWindowPreset::transparent);
    const std::tuple<std::string_view, const char*, platform::Value> cases[] = {
        {n.windowOpacity, "prompterWindowOpacityNormal", 1.0},
        {t.windowOpacity, "prompterWindowOpacityTransparent", 0.25},
        {n.showControls, "showControlsInTeleprompterWindow", true},
        {t.showControls, "showControlsInTeleprompterWindowTransparent", false},
        {n.showTimestamp, "showTimestampInTeleprompterWindow", true},
        {t.showTimestamp, "showTimestampInTeleprompterWindowTransparent", true},
        {n.showProgress, "showProgressInPrompterWindow", true},
        {t.showProgress, "showProgressInPrompterWindowTransparent", true},
        {n.controlsOpacity, "controlsOpacityInPrompterWindow", 1.0},
        {t.controlsOpacity, "controlsOpacityInPrompterWindowTransparent", 1.0},
        {n.pinned, "prompterWindowPinnedNormal", false},
        {t.pinned, "prompterWindowPinnedTransparent", false},
        {n.windowFrame, "prompterWindowFrameNormal", std::string()},
        {t.windowFrame, "prompterWindowFrameTransparent", std::string()},
        {settings::timestampInPrompterShowsRemainingTime, "timestampInPrompterShowsRemainingTime", false},
    };
    for (const auto& [key, name, value] : cases) {
        EXPECT_EQ(key, name);
        EXPECT_EQ(registered.at(key), value) << name;
    }
}

// A fresh normal window is opaque with its controls, a transparent one see-through without them;
// both show the time and the progress, unpinned, at their own frame. The remaining-time setting
// reaches every window opened after it.
TEST_F(PrompterWindowTest, FreshWindowsShowTheirPresetsDefaults) {
    s.defaults.set(settings::timestampInPrompterShowsRemainingTime, true);
    for (const auto& [preset, opacity, controls] : {std::tuple{TeleprompterWindowPreset::normal, 1.0f, true},
                                                    {TeleprompterWindowPreset::transparent, 0.25f, false}}) {
        auto w = make(preset);
        const QSize nibSize = w->window()->size();
        w->showWindow();
        cw::PrompterView* view = w->prompterView();
        SCOPED_TRACE(opacity);
        EXPECT_FLOAT_EQ(w->windowOpacityValue(), opacity);
        EXPECT_FLOAT_EQ(view->display().windowOpacity, opacity);
        EXPECT_EQ(platform::isOpaque(w->window()), controls);
        EXPECT_TRUE(controls || platform::isTranslucent(w->window()));
        EXPECT_EQ(view->display().showsControls, controls);
        EXPECT_EQ(view->controls().uiLayer().isHidden(), !controls);
        EXPECT_EQ(w->toggleControlsButton()->isChecked(), controls);
        EXPECT_TRUE(view->display().showsTimestamp);
        EXPECT_TRUE(view->display().timestampShowsRemainingTime);
        EXPECT_TRUE(view->display().showsProgress);
        EXPECT_TRUE(w->toggleTimestampButton()->isChecked());
        EXPECT_TRUE(w->toggleProgressButton()->isChecked());
        EXPECT_FLOAT_EQ(view->display().controlsOpacity, 1.0f);
        EXPECT_EQ(w->controlsOpacitySlider()->value(), w->controlsOpacitySlider()->maximum());
        EXPECT_EQ(platform::windowLevel(w->window()), platform::WindowLevel::normal);
        EXPECT_FALSE(w->pinWindowButton()->isChecked());
        EXPECT_EQ(w->window()->size(), nibSize);
    }
}

TEST_F(PrompterWindowTest, SettingsBarFitsEveryWidthAndTheMenuOffersEveryControl) {
    const std::pair<TeleprompterWindowPreset, int> cases[] = {
        {TeleprompterWindowPreset::normal, 320}, // the window's minimum
        {TeleprompterWindowPreset::transparent, 800},
        {TeleprompterWindowPreset::normal, 960},
    };
    for (const auto& [preset, width] : cases) {
        SCOPED_TRACE(width);
        auto w = make(preset);
        w->showWindow();
        w->window()->resize(width, 500);
        w->window()->layout()->activate();
        cw::PrompterControlBar* bar = w->controlBar();
        bar->layout()->activate();
        ASSERT_EQ(bar->width(), width);
        if (width != 320)
            cwtest::saveImage(w->window()->grab().toImage(), ("window-bar-" + std::to_string(width)).c_str());
        std::vector<QWidget*> shown;
        for (QWidget* child : bar->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (child->isVisible())
                shown.push_back(child);
        }
        for (std::size_t i = 0; i < shown.size(); ++i) {
            // Whole (nothing cut) and apart from every other control.
            EXPECT_GE(shown[i]->width(), shown[i]->sizeHint().width()) << shown[i]->metaObject()->className();
            EXPECT_TRUE(bar->rect().contains(shown[i]->geometry()));
            for (std::size_t j = i + 1; j < shown.size(); ++j) {
                EXPECT_FALSE(shown[i]->geometry().intersects(shown[j]->geometry()))
                    << shown[i]->toolTip().toStdString() << " / " << shown[j]->toolTip().toStdString();
            }
        }
        // Every control is in the menu too, the opacities as steps.
        QMenu* menu = w->menu();
        menu->popup(w->window()->mapToGlobal(QPoint(0, 0)));
        for (const char* title :
             {"Show Controls", "Show Time", "Show Progress", "Flip Horizontally", "Flip Vertically",
              "Align Left", "Align Center", "Align Right", "Lock Speed", "Keep on Top", "Enter Full Screen"})
            EXPECT_TRUE(menuItem(menu, QString::fromUtf8(title))) << title;
        for (const auto& [slider, title] : {std::pair{w->controlsOpacitySlider(), "Controls Opacity"},
                                            std::pair{w->windowOpacitySlider(), "Window Opacity"}}) {
            SCOPED_TRACE(title);
            QAction* steps = menuItem(menu, QString::fromUtf8(title));
            ASSERT_TRUE(steps && steps->menu());
            const QString step = slider->value() == 50 ? QStringLiteral("80 %") : QStringLiteral("50 %");
            QAction* choice = menuItem(steps->menu(), step);
            ASSERT_TRUE(choice);
            choice->trigger();
            EXPECT_EQ(slider->value(), step.left(2).toInt());
            menu->hide();
            menu->popup(w->window()->mapToGlobal(QPoint(0, 0)));
            EXPECT_TRUE(choice->isChecked()) << "the step shown is not the value";
        }
        // The bar's own sliders still work by hand where the bar shows them.
        for (QSlider* slider : {w->controlsOpacitySlider(), w->windowOpacitySlider()}) {
            if (slider->isVisible()) {
                const int before = slider->value();
                dragHandle(slider);
                EXPECT_NE(slider->value(), before) << slider->toolTip().toStdString();
            }
        }
        menu->hide();
        w->close();
    }
}

// Pinning is stored per preset; a pinned preset opens floating, but display-bound windows stay normal.
TEST_F(PrompterWindowTest, PinningIsStoredPerPresetAndDisplayBoundWindowsStayNormal) {
    auto w = make(TeleprompterWindowPreset::transparent);
    w->showWindow();
    w->togglePin();
    EXPECT_EQ(platform::windowLevel(w->window()), platform::WindowLevel::floating);
    EXPECT_TRUE(s.defaults.boolForKey(settings::prompterWindowPinnedTransparent));
    EXPECT_FALSE(s.defaults.boolForKey(settings::prompterWindowPinnedNormal));
    w->togglePin();
    EXPECT_EQ(platform::windowLevel(w->window()), platform::WindowLevel::normal);
    EXPECT_FALSE(w->pinWindowButton()->isChecked());
    EXPECT_TRUE(hasUserValue(settings::prompterWindowPinnedTransparent));
    EXPECT_FALSE(s.defaults.boolForKey(settings::prompterWindowPinnedTransparent));

    s.defaults.set(settings::prompterWindowPinnedNormal, true);
    for (const bool bound : {false, true}) {
        auto opened = bound ? make(TeleprompterWindowPreset::normal, display())
                            : make(TeleprompterWindowPreset::normal);
        EXPECT_EQ(platform::windowLevel(opened->window()),
                  bound ? platform::WindowLevel::normal : platform::WindowLevel::floating);
        EXPECT_EQ(opened->pinWindowButton()->isChecked(), !bound);
    }
}

// The opacity sliders apply as they move and are stored for their own preset: the next window of
// that preset opens at them, the other preset keeps its own. Below full opacity the window is
// translucent, its background filled.
TEST_F(PrompterWindowTest, OpacitySlidersApplyAndAreStoredPerPreset) {
    auto w = make(TeleprompterWindowPreset::normal);
    w->showWindow();
    w->windowOpacitySlider()->setValue(60); // as a drag does
    w->controlsOpacitySlider()->setValue(40);
    EXPECT_FALSE(platform::isOpaque(w->window()));
    EXPECT_FALSE(w->prompterView()->fillLayer().isHidden());
    EXPECT_FLOAT_EQ(w->prompterView()->display().windowOpacity, 0.6f);
    EXPECT_FLOAT_EQ(w->prompterView()->display().controlsOpacity, 0.4f);
    for (const auto& [preset, window, controls] : {std::tuple{TeleprompterWindowPreset::normal, 0.6f, 0.4f},
                                                   {TeleprompterWindowPreset::transparent, 0.25f, 1.0f}}) {
        EXPECT_FLOAT_EQ(s.defaults.floatForKey(cw::presetKeys(preset).windowOpacity), window);
        EXPECT_FLOAT_EQ(s.defaults.floatForKey(cw::presetKeys(preset).controlsOpacity), controls);
        auto next = make(preset);
        next->showWindow();
        EXPECT_FLOAT_EQ(next->prompterView()->display().windowOpacity, window);
        EXPECT_FLOAT_EQ(next->prompterView()->display().controlsOpacity, controls);
        EXPECT_EQ(next->controlsOpacitySlider()->value(), std::lround(controls * 100));
    }
    w->windowOpacitySlider()->setValue(100);
    EXPECT_TRUE(platform::isOpaque(w->window()));
}

// Opacities in the settings file that are no numbers fall back to the preset's own, logged;
// numbers outside 0…1 are held to it.
TEST_F(PrompterWindowTest, OpacitiesFromTheSettingsFileAreHeld) {
    const float nan = std::nanf(""), inf = INFINITY;
    const struct {
        TeleprompterWindowPreset preset;
        float window, controls;
        float shownWindow, shownControls;
        std::size_t logged;
    } cases[] = {
        {TeleprompterWindowPreset::normal, nan, -inf, 1.0f, 1.0f, 2},
        {TeleprompterWindowPreset::transparent, inf, nan, 0.25f, 1.0f, 2},
        {TeleprompterWindowPreset::normal, -3.0f, 7.0f, 0.0f, 1.0f, 0},
        {TeleprompterWindowPreset::transparent, 0.5f, 0.4f, 0.5f, 0.4f, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.window << " " << c.controls);
        const auto& keys = cw::presetKeys(c.preset);
        s.defaults.set(keys.windowOpacity, c.window);
        s.defaults.set(keys.controlsOpacity, c.controls);
        testsupport::LogCapture log;
        auto w = make(c.preset);
        w->showWindow();
        EXPECT_FLOAT_EQ(w->prompterView()->display().windowOpacity, c.shownWindow);
        EXPECT_FLOAT_EQ(w->windowOpacityValue(), c.shownWindow);
        EXPECT_FLOAT_EQ(w->prompterView()->display().controlsOpacity, c.shownControls);
        EXPECT_EQ(w->controlsOpacitySlider()->value(), std::lround(c.shownControls * 100));
        const auto lines = log.lines();
        EXPECT_EQ(
            std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) { return l.find("is no number") != std::string::npos; }),
            c.logged);
    }
}

// ---- saved frames ----

// Only a window that was shown writes its frame when it closes; each preset keeps the frame of
// its last closed window, and the next one opens there.
TEST_F(PrompterWindowTest, ClosingAShownWindowSavesItsFrameAndTheNextOneOpensThere) {
    auto unseen = make(TeleprompterWindowPreset::normal);
    unseen->window();
    EXPECT_FALSE(unseen->okToSaveWindowFrame());
    unseen->close();
    EXPECT_FALSE(hasUserValue(settings::prompterWindowFrameNormal));

    auto a = make(TeleprompterWindowPreset::normal);
    auto b = make(TeleprompterWindowPreset::normal);
    auto t = make(TeleprompterWindowPreset::transparent);
    for (auto& w : {a, b, t})
        w->showWindow();
    a->setFrame(QRect(100, 120, 600, 400));
    b->setFrame(QRect(30, 40, 500, 350));
    t->setFrame(QRect(50, 60, 450, 320));
    ASSERT_TRUE(b->close());
    ASSERT_TRUE(a->close());
    EXPECT_EQ(s.defaults.stringForKey(settings::prompterWindowFrameNormal), "{{100, 120}, {600, 400}}");
    EXPECT_FALSE(hasUserValue(settings::prompterWindowFrameTransparent));
    t->close();
    EXPECT_EQ(s.defaults.stringForKey(settings::prompterWindowFrameTransparent), "{{50, 60}, {450, 320}}");

    auto next = make(TeleprompterWindowPreset::normal);
    next->showWindow();
    EXPECT_EQ(next->frame(), QRect(100, 120, 600, 400));

    // Closed in full screen, by its button or its menu: the frame it had before is kept.
    for (const auto sender :
         {PrompterWindowController::Sender::control, PrompterWindowController::Sender::menu}) {
        auto full = make(TeleprompterWindowPreset::normal);
        full->showWindow();
        full->setFrame(QRect(40, 60, 500, 350));
        full->perform(PrompterWindowController::Action::toggleFullScreen, sender);
        ASSERT_TRUE(full->window()->isFullScreen());
        ASSERT_NE(full->frame().size(), QSize(500, 350));
        ASSERT_TRUE(full->close());
        EXPECT_EQ(s.defaults.stringForKey(settings::prompterWindowFrameNormal), "{{40, 60}, {500, 350}}");
    }
    auto after = make(TeleprompterWindowPreset::normal);
    after->showWindow();
    EXPECT_FALSE(after->window()->isFullScreen());
    EXPECT_EQ(after->frame(), QRect(40, 60, 500, 350));
}

// A frame off the screen (negative origins included) comes back inside its work area, its size
// kept where it fits.
TEST_F(PrompterWindowTest, UnusableStoredFramesAreIgnoredAndOnesOffTheScreenComeBackInside) {
    const QSize nibSize = make(TeleprompterWindowPreset::normal)->window()->size();
    for (const char* text :
         {"", "no numbers here", "{{10, 10}, {0, 300}}", "{{10, 10}, {300, 0}}", "{{10, 10}, {-300, 200}}",
          "{{10, 10}, {inf, 200}}", "{{nan, 10}, {300, 200}}"}) {
        s.defaults.set(settings::prompterWindowFrameNormal, std::string(text));
        auto w = make(TeleprompterWindowPreset::normal);
        w->showWindow();
        EXPECT_EQ(w->window()->size(), nibSize) << text;
        w->window()->hide();
    }
    // A kept frame smaller than the window may be opens at the window's minimum size.
    s.defaults.set(settings::prompterWindowFrameNormal, std::string("{{10, 10}, {1, 1}}"));
    auto tiny = make(TeleprompterWindowPreset::normal);
    tiny->showWindow();
    EXPECT_EQ(tiny->window()->size(), QSize(320, 200));
    EXPECT_EQ(tiny->window()->minimumSize(), QSize(320, 200));
    tiny->window()->hide();
    s.defaults.set(settings::prompterWindowFrameNormal, std::string("{{-200, -100}, {640, 480}}"));
    auto w = make(TeleprompterWindowPreset::normal);
    w->showWindow();
    EXPECT_EQ(w->frame().size(), QSize(640, 480));
    EXPECT_TRUE(w->window()->screen()->availableGeometry().contains(w->frame()));
    const QRectF odd(-40.5, 12.25, 640, 480);
    EXPECT_EQ(platform::frameFromString(platform::frameToString(odd)), odd);
}

// ---- display-bound windows ----

// A display-bound window opens full screen on its display, always of the normal preset. It may cover
// the editor's own screen: closing it, its Full Screen button and its menu's Switch Display Off each
// close it and store the display as switched off, and no frame is written.
TEST_F(PrompterWindowTest, DisplayBoundWindowOpensFullScreenAndClosingSwitchesTheDisplayOff) {
    QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    for (const char* how : {"close", "button", "menu"}) {
        SCOPED_TRACE(how);
        auto w = make(TeleprompterWindowPreset::transparent, display());
        EXPECT_EQ(w->preset(), TeleprompterWindowPreset::normal);
        w->showFullScreen(screen);
        windowtests::processEvents();
        ASSERT_TRUE(w->window()->isVisible());
        EXPECT_TRUE(w->window()->isFullScreen());
        EXPECT_EQ(w->window()->screen(), screen);
        EXPECT_TRUE(w->toggleFullscreenButton()->isChecked());
        EXPECT_TRUE(w->okToSaveWindowFrame());
        if (how == std::string_view("close")) {
            w->close();
        } else if (how == std::string_view("menu")) {
            QAction* off = menuItem(w->menu(), "Switch Display Off");
            ASSERT_TRUE(off);
            off->trigger();
        } else {
            QAbstractButton* button = w->toggleFullscreenButton();
            const QPoint centre = button->rect().center();
            ASSERT_EQ(w->window()->childAt(button->mapTo(w->window(), centre)), button)
                << "covered or not shown";
            QTest::mouseClick(button, Qt::LeftButton, {}, centre);
        }
        windowtests::processEvents();
        EXPECT_FALSE(w->window()->isVisible());
        EXPECT_FALSE(project->editor().screenManager->availableScreens().at(display().displayUUID).isActive);
        EXPECT_FALSE(w->screenDesc()->isActive); // applied once more as it came back
        EXPECT_FALSE(hasUserValue(settings::prompterWindowFrameNormal));
        EXPECT_FALSE(hasUserValue(settings::prompterWindowFrameTransparent));
    }
}

// A display-bound window takes its description's settings. Its flips, alignment and toggles go to
// its display's description (and the toggles to the normal preset), not to other windows or the
// document; other displays' descriptions leave it alone.
TEST_F(PrompterWindowTest, DisplayBoundWindowTakesAndWritesItsOwnDescription) {
    auto listener = std::make_shared<DescriptionListener>();
    project->registerEventListener(listener);
    ScreenDescription d = display(TextAlignment::right);
    d.flipV = true;
    d.showControls = false;
    d.showTimestamp = false;
    auto bound = make(TeleprompterWindowPreset::normal, d);
    auto free = make(TeleprompterWindowPreset::normal);
    bound->showWindow();
    free->showWindow();
    const cw::PrompterView* view = bound->prompterView();
    EXPECT_TRUE(view->display().flipVertical);
    EXPECT_FALSE(view->display().flipHorizontal);
    EXPECT_FALSE(view->display().showsControls);
    EXPECT_FALSE(view->display().showsTimestamp);
    EXPECT_TRUE(view->display().showsProgress);
    EXPECT_EQ(view->display().textAlignment, TextAlignment::right);
    EXPECT_TRUE(bound->alignRightButton()->isChecked());
    EXPECT_FALSE(bound->alignCenterButton()->isChecked());
    EXPECT_FALSE(bound->prompterViewController()->alignmentLinkedToDocument());
    EXPECT_TRUE(bound->flipVButton()->isChecked());

    bound->flipH();
    ASSERT_EQ(listener->told.size(), 1u);
    EXPECT_TRUE(listener->told[0].flipH);
    EXPECT_TRUE(project->editor().screenManager->availableScreens().at(display().displayUUID).flipH);
    EXPECT_TRUE(bound->screenDesc()->flipH);
    EXPECT_TRUE(view->display().flipHorizontal);
    EXPECT_FALSE(free->prompterView()->display().flipHorizontal);
    EXPECT_FALSE(project->document().scriptProperties.flipHorizontal);

    bound->alignRight(); // the description's own alignment: nothing to write
    EXPECT_EQ(listener->told.size(), 1u);
    bound->alignLeft();
    ASSERT_EQ(listener->told.size(), 2u);
    EXPECT_EQ(listener->told[1].textAlignment, TextAlignment::left);
    EXPECT_EQ(bound->screenDesc()->textAlignment, TextAlignment::left);

    bound->toggleControls(Sender::menu);
    EXPECT_TRUE(view->display().showsControls);
    EXPECT_TRUE(bound->screenDesc()->showControls);
    EXPECT_TRUE(hasUserValue(settings::showControlsInTeleprompterWindow));
    EXPECT_TRUE(s.defaults.boolForKey(settings::showControlsInTeleprompterWindow));
    EXPECT_FALSE(hasUserValue(settings::showControlsInTeleprompterWindowTransparent));

    ScreenDescription other = display();
    other.displayUUID = provider->screens()[0].displayUUID;
    project->editor().screenManager->update(other);
    EXPECT_TRUE(view->display().flipVertical);
    EXPECT_EQ(bound->screenDesc()->displayUUID, display().displayUUID);
}

// ---- actions ----

// Menu toggles invert the view while buttons apply their own state; speed lock, mirroring and
// alignment each as they apply to a free window.
TEST_F(PrompterWindowTest, MenuAndButtonsActOnTheView) {
    auto w = make(TeleprompterWindowPreset::normal);
    w->showWindow();
    cw::PrompterView* view = w->prompterView();

    w->toggleTimestampButton()->click(); // the button turns off: its state is applied
    EXPECT_FALSE(w->toggleTimestampButton()->isChecked());
    EXPECT_FALSE(view->display().showsTimestamp);
    EXPECT_FALSE(s.defaults.boolForKey(settings::showTimestampInTeleprompterWindow));

    w->toggleTimestamp(Sender::menu); // the menu inverts the view and sets the button
    EXPECT_TRUE(view->display().showsTimestamp);
    EXPECT_TRUE(w->toggleTimestampButton()->isChecked());
    EXPECT_TRUE(s.defaults.boolForKey(settings::showTimestampInTeleprompterWindow));

    // A control applies its own state even where it disagrees with the view.
    w->toggleProgressButton()->setChecked(true);
    w->toggleProgress(Sender::control);
    EXPECT_TRUE(view->display().showsProgress);
    w->toggleControls(Sender::menu);
    EXPECT_FALSE(view->display().showsControls);
    EXPECT_TRUE(view->controls().uiLayer().isHidden());
    EXPECT_FALSE(w->toggleControlsButton()->isChecked());

    // The speed lock dims the speed control; a free window's mirroring is its own until it is
    // shown again, when it comes back from the document.
    w->toggleSpeedLock(Sender::menu);
    EXPECT_TRUE(w->prompterView()->display().speedLocked);
    EXPECT_DOUBLE_EQ(w->prompterView()->controls().speedLayer().opacity(),
                     cw::PrompterControlPanel::lockedSpeedOpacity);
    EXPECT_TRUE(w->toggleSpeedLockButton()->isChecked());
    w->toggleSpeedLockButton()->click();
    EXPECT_FALSE(w->prompterView()->display().speedLocked);
    EXPECT_DOUBLE_EQ(w->prompterView()->controls().speedLayer().opacity(), 1.0);

    w->flipV();
    EXPECT_TRUE(w->prompterView()->display().flipVertical);
    EXPECT_TRUE(w->flipVButton()->isChecked());
    EXPECT_FALSE(project->document().scriptProperties.flipVertical);
    w->showWindow();
    EXPECT_FALSE(w->prompterView()->display().flipVertical);

    // An alignment chosen in the window links it to the document only when it is the document's own.
    auto properties = project->document().scriptProperties;
    ASSERT_EQ(properties.textAlignment, TextAlignment::center);
    const std::pair<TextAlignment, QAbstractButton*> buttons[] = {
        {TextAlignment::left, w->alignLeftButton()},
        {TextAlignment::center, w->alignCenterButton()},
        {TextAlignment::right, w->alignRightButton()}};
    const struct {
        void (PrompterWindowController::*choose)();
        TextAlignment document, shown;
    } steps[] = {
        {&PrompterWindowController::alignCenter, TextAlignment::right, TextAlignment::right}, // stays linked
        {&PrompterWindowController::alignLeft, TextAlignment::center,
         TextAlignment::left}, // the window keeps it
        {&PrompterWindowController::alignCenter, TextAlignment::right, TextAlignment::right}, // linked again
    };
    for (const auto& step : steps) {
        (w.get()->*step.choose)();
        properties.textAlignment = step.document;
        project->setScriptProperties(properties);
        EXPECT_EQ(w->prompterView()->display().textAlignment, step.shown);
        for (const auto& [alignment, button] : buttons)
            EXPECT_EQ(button->isChecked(), alignment == step.shown);
    }
}

// The title names the script file; the menu says what Play/Pause will do and enables only the
// named actions.
TEST_F(PrompterWindowTest, TitleAndMenuValidation) {
    auto w = make(TeleprompterWindowPreset::normal);
    w->showWindow();
    EXPECT_EQ(w->window()->windowTitle(), QStringLiteral("Prompter Window - Untitled"));
    project->setRepresentedPath("/home/reader/scripts/Opening Night.cwr");
    w->showWindow();
    EXPECT_EQ(w->window()->windowTitle(), QStringLiteral("Prompter Window - Opening Night.cwr"));
    // Saved under a new name (Save As), the open window follows.
    const testsupport::TempDir folder;
    project->save((folder / "news.cwr").string());
    EXPECT_EQ(w->window()->windowTitle(), QStringLiteral("Prompter Window - news.cwr"));

    for (const bool playing : {false, true, false}) {
        EXPECT_EQ(project->transportState().isPlaying(), playing);
        EXPECT_EQ(w->validateMenuItem(Action::playPause).title, playing ? "Pause" : "Play");
        w->playPause();
    }
    project->pause();

    for (Action disabled : {Action::toggleProgress, Action::flipH, Action::flipV,
                            Action::changeControlsOpacity, Action::changeWindowOpacity}) {
        EXPECT_FALSE(w->validateMenuItem(disabled).enabled);
    }
    EXPECT_EQ(w->validateMenuItem(Action::alignCenter).checked, true);
    EXPECT_EQ(w->validateMenuItem(Action::alignLeft).checked, false);
    EXPECT_EQ(w->validateMenuItem(Action::toggleControls).checked, true);
    EXPECT_EQ(w->validateMenuItem(Action::togglePin).checked, false);
    w->togglePin();
    EXPECT_EQ(w->validateMenuItem(Action::togglePin).checked, true);
    EXPECT_TRUE(w->validateMenuItem(Action::spawnTransparentPrompterWindow).enabled);
}

// Every prompter window's menu shows the window keys, F11 and Ctrl+W, which the window takes while
// the menu is closed; a display-bound window is full screen for as long as it is open.
TEST_F(PrompterWindowTest, MenusShowTheWindowKeys) {
    const struct {
        TeleprompterWindowPreset preset;
        bool bound;
        const char* fullScreenTitle;
    } cases[] = {
        {TeleprompterWindowPreset::normal, false, "Enter Full Screen"},
        {TeleprompterWindowPreset::transparent, false, "Enter Full Screen"},
        {TeleprompterWindowPreset::normal, true, "Exit Full Screen"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fullScreenTitle);
        auto w = c.bound ? make(c.preset, display()) : make(c.preset);
        QWidget* window = w->window();
        EXPECT_EQ(w->validateMenuItem(Action::toggleFullScreen).title, c.fullScreenTitle);
        EXPECT_TRUE(w->validateMenuItem(Action::performClose).enabled);
        // The desktop's keys (the offscreen platform's theme closes with Ctrl+F4 first).
        for (const auto& [title, key] :
             {std::pair{"Enter Full Screen", platform::standardShortcut(QKeySequence::FullScreen)},
              std::pair{"Close", platform::standardShortcut(QKeySequence::Close)}}) {
            QAction* item = menuItem(w->menu(), title);
            ASSERT_TRUE(item) << title;
            EXPECT_EQ(item->shortcut(), key) << title;
            EXPECT_TRUE(window->actions().contains(item)) << title << " works only in the open menu";
        }
    }
}

// The shell is asked for free windows of a preset, even by a display-bound window, and hears of
// a window becoming main and closing; it may drop the controller as it closes.
TEST_F(PrompterWindowTest, DelegateSpawnsAndHearsOfBecomingMainAndClosingAndMayDropTheController) {
    auto w = make(TeleprompterWindowPreset::normal, display());
    w->showWindow();
    w->spawnTransparentPrompterWindow();
    w->spawnIndependentPrompterWindow();
    ASSERT_EQ(shell->spawned.size(), 2u);
    EXPECT_EQ(shell->spawned[0].first, project);
    EXPECT_EQ(shell->spawned[0].second, TeleprompterWindowPreset::transparent);
    EXPECT_EQ(shell->spawned[1].second, TeleprompterWindowPreset::normal);
    QEvent activate(QEvent::WindowActivate);
    QCoreApplication::sendEvent(w->window(), &activate);
    ASSERT_EQ(shell->becameMain.size(), 1u);
    EXPECT_EQ(shell->becameMain[0], w.get());

    std::weak_ptr<PrompterWindowController> weak = w;
    shell->onClose = [this](PrompterWindowController&) { windows.clear(); };
    w.reset();
    ASSERT_TRUE(weak.lock()->close());
    EXPECT_EQ(shell->closed.size(), 1u);
    EXPECT_TRUE(weak.expired());
    windowtests::processEvents();
    EXPECT_TRUE(project->sortedEventListeners().empty());
}

// Keys typed into the prompter drive the project, even after a click on a bar button. Tab, F6
// and Ctrl+Tab take the keyboard from the prompter to the bar and back, Escape in the bar
// gives it back to the prompter, and the Menu key in the bar opens the window's menu.
TEST_F(PrompterWindowTest, TheKeyboardReachesTheBarAndComesBack) {
    auto w = make(TeleprompterWindowPreset::transparent);
    w->showWindow();
    QWidget* window = w->window();
    QApplication::setActiveWindow(window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    QWidget* view = w->prompterView();
    QWidget* bar = w->controlBar();
    const auto inBar = [&] {
        return QApplication::focusWidget() && bar->isAncestorOf(QApplication::focusWidget());
    };
    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        bool toBar;
    } steps[] = {{Qt::Key_Tab, Qt::NoModifier, true},       {Qt::Key_Escape, Qt::NoModifier, false},
                 {Qt::Key_F6, Qt::NoModifier, true},        {Qt::Key_F6, Qt::NoModifier, false},
                 {Qt::Key_Tab, Qt::ControlModifier, true},  {Qt::Key_F6, Qt::ShiftModifier, false},
                 {Qt::Key_Backtab, Qt::ShiftModifier, true}};
    w->toggleControlsButton()->click();
    ASSERT_EQ(QApplication::focusWidget(), view);
    for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
        QKeyEvent space(type, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
        QCoreApplication::sendEvent(view, &space);
    }
    EXPECT_TRUE(project->transportState().isPlaying());
    project->pause();
    for (const auto& step : steps) {
        SCOPED_TRACE(QKeySequence(step.key | step.modifiers).toString().toStdString());
        QTest::keyClick(QApplication::focusWidget(), step.key, step.modifiers);
        EXPECT_EQ(inBar(), step.toBar);
        EXPECT_EQ(QApplication::focusWidget() == view, !step.toBar);
    }
    // Space presses the bar's control that has the keyboard, its release stamped as X stamps it;
    // a binding acts there as in the view.
    QAbstractButton* progress = w->toggleProgressButton();
    progress->setFocus(Qt::TabFocusReason);
    const bool shown = progress->isChecked();
    for (const QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
        QKeyEvent space(type, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
        space.setTimestamp(type == QEvent::KeyPress ? 1000 : 1080);
        QApplication::sendEvent(progress, &space);
    }
    EXPECT_NE(progress->isChecked(), shown);
    EXPECT_NE(w->prompterView()->display().showsProgress, shown);
    EXPECT_FALSE(project->transportState().isPlaying()) << "Space in the bar played";
    cw::KeyBindings bindings;
    bindings.playPause = cw::KeyBindings::Key{platform::keycode::f7, platform::modifier::function};
    s.defaults.set(cw::settings::customKeyBindings, bindings.storedValue());
    QTest::keyClick(progress, Qt::Key_F7);
    EXPECT_TRUE(project->transportState().isPlaying()) << "F7 bound to Play did not play from the bar";
    project->pause();
    // A wind held there ends when a menu opens over the window, which then has the keyboard.
    bindings.ffwd = cw::KeyBindings::Key{platform::keycode::f9, platform::modifier::function};
    s.defaults.set(cw::settings::customKeyBindings, bindings.storedValue());
    QTest::keyPress(progress, Qt::Key_F9);
    EXPECT_EQ(project->transportState().ffwdFactor, 5.0);
    QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(1, 1), bar->mapToGlobal(QPoint(1, 1)));
    QApplication::sendEvent(w->toggleProgressButton(), &menuKey);
    EXPECT_TRUE(QTest::qWaitFor([&] { return w->menu()->isVisible(); })) << "no menu from the bar";
    EXPECT_EQ(project->transportState().ffwdFactor, 1.0) << "the wind outlived the keyboard";
    w->menu()->hide();
}

} // namespace
