// Pinning, translucency, full screen on a display, and the appearance service.
#include "platform/ui/Appearance.h"
#include "platform/ui/DisplayFullScreen.h"
#include "platform/ui/TranslucentWindow.h"
#include "platform/ui/WindowLevel.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

using platform::WindowLevel;

// Pinning toggles the stay-on-top flag and keeps the window's geometry and visibility; the levels
// keep the values stored in settings.
TEST(WindowLevel, PinningTogglesTheStayOnTopFlagAndKeepsGeometryAndVisibility) {
    EXPECT_EQ(static_cast<int>(WindowLevel::normal), 0);
    EXPECT_EQ(static_cast<int>(WindowLevel::floating), 3);
    for (const bool shown : {true, false}) {
        QWidget window;
        window.setGeometry(100, 120, 640, 360);
        if (shown) {
            window.show();
        }
        EXPECT_EQ(platform::windowLevel(&window), WindowLevel::normal);
        for (const WindowLevel level : {WindowLevel::floating, WindowLevel::normal}) {
            platform::setWindowLevel(&window, level);
            EXPECT_EQ(platform::windowLevel(&window), level);
            EXPECT_EQ(window.windowFlags().testFlag(Qt::WindowStaysOnTopHint),
                      level == WindowLevel::floating);
            EXPECT_EQ(window.geometry(), QRect(100, 120, 640, 360));
            EXPECT_EQ(window.isVisible(), shown);
        }
    }
}

// The transparent preset is translucent and may drop its frame; below full opacity the window stops
// filling its background, and its own alpha is left alone.
TEST(TranslucentWindow, TheTransparentPresetIsTranslucentAndMayDropItsFrame) {
    QWidget window;
    platform::makeTranslucent(&window, platform::WindowFrameStyle::frameless);
    EXPECT_TRUE(platform::isTranslucent(&window));
    EXPECT_TRUE(window.windowFlags().testFlag(Qt::FramelessWindowHint));

    QWidget titled;
    platform::makeTranslucent(&titled, platform::WindowFrameStyle::titled);
    EXPECT_FALSE(titled.windowFlags().testFlag(Qt::FramelessWindowHint));
    platform::applyBackgroundOpacity(&titled, 0.25);
    EXPECT_FALSE(platform::isOpaque(&titled));
    platform::applyBackgroundOpacity(&titled, 1.0);
    EXPECT_TRUE(platform::isOpaque(&titled));
    EXPECT_DOUBLE_EQ(titled.windowOpacity(), 1.0);
}

TEST(DisplayFullScreen, FittingCutsTheSizeThenMovesTheFrameInside) {
    EXPECT_EQ(platform::fullScreenFrame(QRect(1920, 0, 1280, 1024)), QRect(1920, 0, 1280, 1024));
    const QRect area(1920, 0, 1280, 1000);
    EXPECT_EQ(platform::fitFrameIntoArea(QRect(2000, 100, 400, 300), area), QRect(2000, 100, 400, 300));
    EXPECT_EQ(platform::fitFrameIntoArea(QRect(0, 0, 400, 300), area), QRect(1920, 0, 400, 300));
    EXPECT_EQ(platform::fitFrameIntoArea(QRect(3100, 900, 400, 300), area), QRect(2800, 700, 400, 300));
    EXPECT_EQ(platform::fitFrameIntoArea(QRect(1900, -50, 2000, 1200), area), area);
    EXPECT_EQ(platform::fitFrameIntoArea(QRect(5, 5, 10, 10), QRect()), QRect(5, 5, 10, 10));
}

// Entering fills the chosen display and exiting restores the frame; losing that display (and no
// other) leaves full screen.
TEST(DisplayFullScreen, EnteringFillsTheChosenDisplayAndExitingRestoresTheFrame) {
    QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    QWidget window;
    window.setGeometry(50, 60, 320, 240);
    window.show();
    auto* fullScreen = new platform::DisplayFullScreen(&window);
    int lost = 0;
    QObject::connect(fullScreen, &platform::DisplayFullScreen::displayLost, [&] { ++lost; });

    fullScreen->enter(screen);
    EXPECT_TRUE(fullScreen->isFullScreen());
    EXPECT_EQ(fullScreen->screen(), screen);
    EXPECT_EQ(window.geometry(), screen->geometry());
    fullScreen->exit();
    EXPECT_FALSE(fullScreen->isFullScreen());
    EXPECT_EQ(fullScreen->screen(), nullptr);
    EXPECT_EQ(window.geometry(), QRect(50, 60, 320, 240));

    fullScreen->enter(screen);
    fullScreen->screenRemoved(nullptr);
    EXPECT_TRUE(fullScreen->isFullScreen()) << "another display's removal changes nothing";
    fullScreen->screenRemoved(screen);
    EXPECT_FALSE(fullScreen->isFullScreen());
    EXPECT_EQ(fullScreen->screen(), nullptr);
    EXPECT_EQ(lost, 1);

    // A window its owner hides on hearing of the loss stays hidden.
    QObject::connect(fullScreen, &platform::DisplayFullScreen::displayLost, &window, &QWidget::hide);
    fullScreen->enter(screen);
    fullScreen->screenRemoved(screen);
    EXPECT_EQ(lost, 2);
    EXPECT_FALSE(window.isVisible());
}

TEST(Appearance, ApplyingAStyleRestylesOpenWindowsAndSystemRestoresThePalette) {
    auto& appearance = platform::Appearance::shared();
    const QColor systemWindow = QApplication::palette().color(QPalette::Window);
    QWidget window;
    window.show();
    int changes = 0;
    auto connection = QObject::connect(&appearance, &platform::Appearance::styleChanged, [&] { ++changes; });

    appearance.apply(platform::AppearanceStyle::dark);
    EXPECT_TRUE(platform::isDarkMode(&window));
    appearance.apply(platform::AppearanceStyle::dark);
    EXPECT_EQ(changes, 1);

    appearance.apply(platform::AppearanceStyle::light);
    EXPECT_FALSE(platform::isDarkMode(&window));

    appearance.apply(platform::AppearanceStyle::system);
    EXPECT_EQ(appearance.style(), platform::AppearanceStyle::system);
    EXPECT_EQ(window.palette().color(QPalette::Window), systemWindow);
    QObject::disconnect(connection);

    // A window may keep its own appearance.
    QWidget own;
    platform::Appearance::applyToWindow(&own, platform::AppearanceStyle::dark);
    appearance.apply(platform::AppearanceStyle::light);
    EXPECT_TRUE(platform::isDarkMode(&own));
    platform::Appearance::applyToWindow(&own, platform::AppearanceStyle::system);
    EXPECT_FALSE(platform::isDarkMode(&own));
    appearance.apply(platform::AppearanceStyle::system);
}
