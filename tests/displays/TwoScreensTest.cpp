// Switching a display's row on opens a full-screen prompter on that display, off closes it, and
// identifying the display frames that display.
// Runs under an X server with two screens (tests/support/run_under_xvfb.sh).
#include "cuewright/displays/ScreenBoundPrompterWindows.h"
#include "cuewright/displays/ScreenListController.h"
#include "cuewright/displays/ScreensController.h"
#include "cuewright/model/Project.h"
#include "cuewright/model/ScreenManager.h"
#include "cuewright/model/UserDefaults.h"
#include "cuewright/prompter/PrompterWindowController.h"
#include "platform/defaults/Defaults.h"
#include "platform/screens/ScreenProvider.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QScreen>

#include <X11/Xlib.h>

#include <chrono>
#include <functional>
#include <thread>

namespace {

// Runs the event loop until the X server has answered; gives up after a few seconds.
bool settle(const std::function<bool()>& done) {
    for (int i = 0; i < 200 && !done(); ++i) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

// What the X server says of a window: mapped and viewable, on which X screen, how large.
struct XState {
    bool viewable = false;
    int screen = -1;
    QSize size;
};

XState xState(QWidget* window) {
    XState state;
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return state;
    }
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, static_cast<Window>(window->winId()), &attributes)) {
        state.viewable = attributes.map_state == IsViewable;
        state.screen = XScreenNumberOfScreen(attributes.screen);
        state.size = QSize(attributes.width, attributes.height);
    }
    XCloseDisplay(display);
    return state;
}

} // namespace

TEST(TwoScreensTest, TheSwitchOpensAFullScreenPrompterOnTheChosenDisplayAndClosesIt) {
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (screens.size() < 2) {
        GTEST_SKIP() << "the X server shows " << screens.size() << " screen(s), not two";
    }
    cw::registerUserDefaults(platform::Defaults::standard());
    auto project = cw::Project::create();
    auto windows = cw::ScreenBoundPrompterWindows::create();
    cw::ScreensController pane(project, {nullptr, windows, {}});
    pane.view()->show();

    for (QScreen* chosen : {screens[1], screens[0]}) {
        const std::string uuid = platform::QtScreenProvider::describe(*chosen).displayUUID;
        cw::ScreenInfoViewController* row = nullptr;
        for (const auto& r : pane.screenListController()->itemControllers()) {
            if (r->desc().displayUUID == uuid) {
                row = r.get();
            }
        }
        ASSERT_NE(row, nullptr) << chosen->name().toStdString();

        row->screenCheckbox()->click();
        ASSERT_EQ(windows->controllers().size(), 1u);
        QWidget* window = windows->controllers()[0]->window();
        EXPECT_TRUE(settle([&] {
            return window->isFullScreen() && window->geometry() == chosen->geometry();
        })) << "geometry "
            << window->geometry().width() << "x" << window->geometry().height();
        EXPECT_EQ(window->screen(), chosen);
        // Qt's own idea of the window is not enough: the X server must show it on that screen.
        const int xScreen = static_cast<int>(screens.indexOf(chosen));
        EXPECT_TRUE(settle([&] {
            const XState x = xState(window);
            return x.viewable && x.screen == xScreen && x.size == chosen->geometry().size();
        })) << "X: viewable "
            << xState(window).viewable << ", screen " << xState(window).screen;
        EXPECT_TRUE(project->editor().screenManager->availableScreens().at(uuid).isActive);

        row->screenCheckbox()->click();
        EXPECT_TRUE(windows->controllers().empty());

        // Identifying it frames that display.
        row->identificatorButton()->click();
        ASSERT_NE(row->screenIdentificator(), nullptr);
        QWidget* frame = row->screenIdentificator()->window();
        EXPECT_TRUE(settle([&] { return frame->isVisible() && frame->geometry() == chosen->geometry(); }));
        EXPECT_EQ(frame->screen(), chosen);
        row->identificatorButton()->click();
        EXPECT_FALSE(frame->isVisible());
        EXPECT_FALSE(project->editor().screenManager->availableScreens().at(uuid).isActive);
        EXPECT_FALSE(row->screenCheckbox()->isChecked());
    }
}
