// Identifying a display: the blinking frame, its window, and a display that is not there.
#include "cuewright/displays/ScreenIdentificator.h"
#include "cuewright/displays/ScreenInfoViewController.h"

#include "displays/DisplaysTestSupport.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QRegion>
#include <QScreen>

using cw::ScreenIdentificator;
using cw::ScreenIdentificatorError;
using cw::ScreenInfoViewController;

namespace {

class IdentificationTest : public ::testing::Test, protected displaytests::Fixture {
protected:
    cw::ScreenDescription screen(std::size_t index) const {
        return screens().at(provider->screens()[index].displayUUID);
    }
};

} // namespace

TEST_F(IdentificationTest, TheFrameBlinksEveryThreeTenthsWithATwentyPointRedLine) {
    cw::ScreenDescription small = screen(0);
    small.resolutionWidth = 300;
    small.resolutionHeight = 200;
    ScreenIdentificator identificator(small, identification());
    EXPECT_FALSE(identificator.isRunning());
    EXPECT_FALSE(identificator.window()->isVisible());
    // The description's size from the display's bottom-left corner.
    const QRect display = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(identificator.window()->geometry(), QRect(display.x(), display.bottom() + 1 - 200, 300, 200));
    EXPECT_TRUE(identificator.window()->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(identificator.window()->windowFlags() & Qt::WindowTransparentForInput);

    // The window is the frame alone, the display visible inside it, and goes with the frame's
    // off phase: without a compositor its clear pixels would show black.
    EXPECT_EQ(identificator.window()->mask(), QRegion(0, 0, 300, 200).subtracted(QRegion(20, 20, 260, 160)));

    identificator.start();
    EXPECT_TRUE(identificator.isRunning());
    EXPECT_TRUE(identificator.window()->isVisible());
    EXPECT_EQ(timer->interval, std::chrono::milliseconds(300));
    const bool shown[] = {false, true, false};
    for (bool expected : shown) {
        timer->tick();
        EXPECT_EQ(identificator.view()->isVisible(), expected);
        EXPECT_EQ(identificator.window()->isVisible(), expected);
    }

    QImage image(300, 200, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    identificator.view()->render(&image);
    const struct {
        QPoint at;
        bool red;
    } pixels[] = {{{0, 0}, true},     {{19, 100}, true},  {{20, 100}, false},  {{150, 100}, false},
                  {{299, 199}, true}, {{280, 100}, true}, {{279, 100}, false}, {{150, 180}, true}};
    for (const auto& p : pixels) {
        EXPECT_EQ(image.pixelColor(p.at) == QColor(Qt::red), p.red) << p.at.x() << "," << p.at.y();
    }

    // Stop, start: the same window, one timer, and the blink phase where it was.
    QWidget* window = identificator.window();
    identificator.stop();
    EXPECT_FALSE(timer->active);
    EXPECT_FALSE(window->isVisible());
    identificator.start();
    EXPECT_EQ(identificator.window(), window);
    EXPECT_EQ(timer->starts, 2);
    EXPECT_FALSE(identificator.view()->isVisible());
    EXPECT_FALSE(window->isVisible());
    timer->tick();
    EXPECT_TRUE(window->isVisible());
}

TEST_F(IdentificationTest, AnUnpluggedDisplayIsReported) {
    const cw::ScreenDescription gone = screen(1);
    provider->detach(gone.displayUUID);
    try {
        ScreenIdentificator identificator(gone, identification());
        ADD_FAILURE() << "made an identificator for an unplugged display";
    } catch (const ScreenIdentificatorError& error) {
        EXPECT_EQ(error.code(), ScreenIdentificatorError::Code::screenNotFound);
    }

    // The row logs it, keeps its button off and tries again on the next click.
    testsupport::LogCapture log;
    ScreenInfoViewController row(gone, identification());
    row.view();
    row.identificatorButton()->click();
    EXPECT_EQ(log.lines(), std::vector<std::string>{"error: screenNotFound"});
    EXPECT_FALSE(row.identificatorButton()->isChecked());
    EXPECT_EQ(row.screenIdentificator(), nullptr);
    provider->attach(testsupport::FakeScreenProvider::threeDisplays().screens()[1]);
    row.identificatorButton()->click();
    ASSERT_NE(row.screenIdentificator(), nullptr);
    EXPECT_TRUE(row.screenIdentificator()->isRunning());
    EXPECT_TRUE(row.identificatorButton()->isChecked());

    // Unplugged while it runs: the frame goes and the button with it; the next click looks
    // for the display afresh.
    provider->detach(gone.displayUUID);
    emit qGuiApp->screenRemoved(QGuiApplication::primaryScreen());
    EXPECT_FALSE(row.screenIdentificator()->isRunning());
    EXPECT_FALSE(row.screenIdentificator()->window()->isVisible());
    EXPECT_FALSE(row.identificatorButton()->isChecked());
    row.identificatorButton()->click();
    EXPECT_FALSE(row.identificatorButton()->isChecked());
    EXPECT_EQ(log.lines().size(), 2u);
}
