// Window frames kept as text, and window controllers' life.
#include "platform/ui/ViewController.h"
#include "platform/ui/WindowController.h"
#include "platform/ui/WindowFrame.h"

#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEvent>
#include <QLayout>
#include <QScreen>
#include <QWidget>

#include <memory>
#include <string>
#include <vector>

using platform::frameFromString;
using platform::frameToString;
using platform::isUsableFrame;

// Frames are stored as "{{x, y}, {w, h}}"; reading takes the first four numbers whatever surrounds
// them, and only a positive size is usable.
TEST(WindowFrameText, RoundTripsAndReadsLeniently) {
    for (const QRectF& frame : {QRectF(10, 20, 800, 600), QRectF(-1440, -12.5, 1024.25, 768), QRectF()}) {
        EXPECT_EQ(frameFromString(frameToString(frame)), frame) << frameToString(frame).toStdString();
    }
    EXPECT_EQ(frameToString(QRectF(10, 20, 800, 600)), "{{10, 20}, {800, 600}}");
    const struct {
        const char* text;
        QRectF frame;
        bool usable;
    } cases[] = {{"{{1,2},{3,4}}", QRectF(1, 2, 3, 4), true},
                 {"x=5 y=-6 w=7.5 h=1e2 extra 9", QRectF(5, -6, 7.5, 100), true},
                 {"{{-200, -100}, {300, 200}}", QRectF(-200, -100, 300, 200), true},
                 {"{{5, 6}}", QRectF(5, 6, 0, 0), false},
                 {"", QRectF(), false},
                 {"garbage", QRectF(), false},
                 {"{{10, 10}, {0, 300}}", QRectF(10, 10, 0, 300), false},
                 {"{{10, 10}, {300, 0}}", QRectF(10, 10, 300, 0), false},
                 {"{{10, 10}, {-300, 200}}", QRectF(10, 10, -300, 200), false}};
    for (const auto& c : cases) {
        EXPECT_EQ(frameFromString(c.text), c.frame) << c.text;
        EXPECT_EQ(isUsableFrame(frameFromString(c.text)), c.usable) << c.text;
    }
    EXPECT_FALSE(isUsableFrame(frameFromString("{{0, 0}, {1e400, 5}}")));
}

// A new window with its frame fits the screen's work area; it keeps its preferred size where that
// fits and never goes below its minimum.
TEST(NewWindowSize, FitsTheWorkAreaDownToTheMinimum) {
    const QSize preferred(1180, 760);
    const QSize minimum(760, 420);
    const QMargins frame(4, 36, 4, 4);
    const struct {
        QRect available;
        QSize expected;
    } cases[] = {
        {QRect(0, 0, 1920, 1050), QSize(1180, 760)}, // room enough
        {QRect(0, 28, 1280, 772), QSize(1180, 732)}, // 800 pixels high, less a panel
        {QRect(0, 0, 1024, 600), QSize(1016, 560)},
        {QRect(0, 0, 640, 400), QSize(760, 420)}, // too small even for the minimum
        {QRect(), QSize(1180, 760)},              // no screen known
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::fittedWindowSize(preferred, minimum, c.available, frame), c.expected)
            << c.available.width() << "x" << c.available.height();
    }
    // A window that would be larger than its screen is made to fit it, its frame included.
    QWidget window;
    const QRect available = window.screen()->availableGeometry();
    platform::resizeToFitScreen(&window, available.size() + QSize(200, 200));
    EXPECT_TRUE(available.contains(
        QRect(available.topLeft(), window.size())
            .marginsAdded(platform::assumedWindowFrame)
            .translated(platform::assumedWindowFrame.left(), platform::assumedWindowFrame.top())));
}

namespace {

// Records the hooks in order.
class RecordingController : public platform::WindowController {
public:
    std::vector<std::string> calls;
    bool allowClose = true;

protected:
    QWidget* makeWindow() override {
        calls.push_back("make");
        return new QWidget;
    }
    void windowWillLoad() override { calls.push_back("willLoad"); }
    void windowDidLoad() override {
        calls.push_back("didLoad");
        // The window is there already, and asking for it again does not make another.
        calls.push_back(window() != nullptr ? "hasWindow" : "noWindow");
    }
    bool windowShouldClose() override {
        calls.push_back("shouldClose");
        return allowClose;
    }
    void windowWillClose() override { calls.push_back("willClose"); }
    void windowDidBecomeMain() override { calls.push_back("becameMain"); }
    void windowFullScreenDidChange(bool isFullScreen) override {
        calls.push_back(isFullScreen ? "enteredFullScreen" : "leftFullScreen");
    }
};

} // namespace

TEST(WindowController, MakesItsWindowOnceOnFirstUseWithItsHooksInOrder) {
    RecordingController controller;
    EXPECT_FALSE(controller.isWindowLoaded());
    EXPECT_TRUE(controller.frameString().isEmpty());
    QWidget* window = controller.window();
    EXPECT_EQ(controller.window(), window);
    EXPECT_TRUE(window->isWindow());
    EXPECT_EQ(controller.calls, (std::vector<std::string>{"willLoad", "make", "didLoad", "hasWindow"}));
}

// A frame is applied only to a loaded window and only when usable; the window's frame round-trips.
TEST(WindowController, FrameTextRoundTripsThroughTheWindowInsideTheWorkArea) {
    RecordingController first;
    EXPECT_FALSE(first.setFrameFromString("{{1, 2}, {300, 400}}"));
    EXPECT_FALSE(first.isWindowLoaded());
    first.window()->setGeometry(40, 50, 640, 480);

    RecordingController second;
    second.window();
    EXPECT_TRUE(second.setFrameFromString(first.frameString()));
    EXPECT_EQ(second.frame(), QRect(40, 50, 640, 480));
    EXPECT_FALSE(second.setFrameFromString(""));
    EXPECT_FALSE(second.setFrameFromString("{{10, 10}, {0, 300}}"));
    EXPECT_EQ(second.frame(), QRect(40, 50, 640, 480));

    // A kept frame is applied within the displays there are now: one kept on a monitor that is
    // gone, or larger than the screen, is moved and made smaller into the work area with room for
    // a frame; one smaller than the window may be (a frame of 1 x 1) takes its minimum size.
    second.window()->setMinimumSize(320, 200);
    const QRect room =
        second.window()->screen()->availableGeometry().marginsRemoved(platform::assumedWindowFrame);
    const struct {
        const char* text;
        QRect expected;
    } cases[] = {
        {"{{40, 50}, {330, 210}}", {40, 50, 330, 210}},
        {"{{2100, 100}, {330, 210}}", {room.right() + 1 - 330, 100, 330, 210}},
        {"{{-300, -20}, {200, 100}}", {room.left(), room.top(), 320, 200}},
        {"{{40, 50}, {1, 1}}", {40, 50, 320, 200}},
        {"{{0, 0}, {9000, 7000}}", room},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(second.setFrameFromString(c.text));
        EXPECT_EQ(second.frame(), c.expected) << c.text;
        EXPECT_EQ(second.window()->minimumSize(), QSize(320, 200)) << c.text;
    }
}

// Of several displays, the one the kept frame overlaps most takes it; the fallback one when it
// overlaps none.
TEST(WindowFrame, AKeptFrameGoesToTheDisplayItOverlapsMost) {
    const QMargins none;
    const QRect left(0, 0, 1920, 1050);
    const QRect right(1920, 0, 1280, 800);
    const struct {
        const char* what;
        QRect kept;
        QList<QRect> areas;
        QRect expected;
    } cases[] = {
        {"on the right-hand monitor", {2100, 100, 800, 600}, {left, right}, {2100, 100, 800, 600}},
        {"that monitor gone", {2100, 100, 800, 600}, {left}, {1120, 100, 800, 600}},
        {"mostly on the left one", {1500, 100, 800, 600}, {left, right}, {1120, 100, 800, 600}},
        {"mostly on the right one", {1800, 100, 800, 600}, {left, right}, {1920, 100, 800, 600}},
        {"on none: the fallback", {-5000, -5000, 800, 600}, {left, right}, {0, 0, 800, 600}},
        {"larger than its monitor", {1920, 0, 9000, 7000}, {left, right}, right},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::keptFrameInWorkArea(c.kept, c.areas, left, none), c.expected) << c.what;
    }
}

TEST(WindowController, CloseAsksFirstAndHidesTheWindowWithoutDeletingIt) {
    RecordingController controller;
    int didClose = 0;
    QObject::connect(&controller, &platform::WindowController::windowDidClose, [&] { ++didClose; });
    controller.showWindow();
    controller.calls.clear();

    controller.allowClose = false;
    EXPECT_FALSE(controller.close());
    EXPECT_TRUE(controller.window()->isVisible());

    controller.allowClose = true;
    EXPECT_TRUE(controller.close());
    EXPECT_FALSE(controller.window()->isVisible());
    EXPECT_TRUE(controller.isWindowLoaded());
    EXPECT_EQ(didClose, 1);
    EXPECT_EQ(controller.calls, (std::vector<std::string>{"shouldClose", "shouldClose", "willClose"}));
}

// The controller owns its window; an owner may also destroy the controller when the window closes.
TEST(WindowController, TheWindowGoesWithTheController) {
    QPointer<QWidget> window;
    {
        RecordingController controller;
        window = controller.window();
    }
    EXPECT_TRUE(window.isNull());

    auto* controller = new RecordingController;
    window = controller->window();
    QObject::connect(controller, &platform::WindowController::windowDidClose,
                     [controller] { delete controller; });
    window->show();
    window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.isNull());
}

TEST(WindowController, ReportsActivationAndFullScreenChanges) {
    RecordingController controller;
    controller.showWindow();
    controller.calls.clear();
    QEvent activate(QEvent::WindowActivate);
    QCoreApplication::sendEvent(controller.window(), &activate);
    controller.window()->showFullScreen();
    controller.window()->showNormal();
    EXPECT_EQ(controller.calls,
              (std::vector<std::string>{"becameMain", "enteredFullScreen", "leftFullScreen"}));
}

namespace {
class CountingViewController : public platform::ViewController {
public:
    int loads = 0;

protected:
    void viewDidLoad() override { ++loads; }
};
} // namespace

TEST(ViewController, EmbeddedViewFillsItsAnchorAndFollowsItsSize) {
    QWidget window;
    auto* anchor = new QWidget(&window);
    anchor->setGeometry(10, 10, 300, 200);
    CountingViewController controller;
    controller.embedIn(anchor);
    window.show();
    EXPECT_EQ(controller.loads, 1);
    EXPECT_EQ(controller.view()->parentWidget(), anchor);
    EXPECT_EQ(controller.view()->geometry(), anchor->rect());

    anchor->resize(500, 120);
    QCoreApplication::sendPostedEvents();
    anchor->layout()->activate();
    EXPECT_EQ(controller.view()->geometry(), anchor->rect());
    EXPECT_EQ(controller.loads, 1);

    delete anchor; // the view going with its anchor first is harmless
    EXPECT_FALSE(controller.isViewLoaded());
}

// A new window follows the one before it down and right, inside the work area with its frame,
// made smaller to stay inside, or back at the top left when it would become too small.
TEST(WindowFrame, CascadeStaysInTheWorkArea) {
    const QRect available(0, 0, 1280, 800); // frame 4, 36, 4, 8: room (4, 36) 1272 x 756
    const QSize minimum(760, 420);
    const struct {
        const char* what;
        QRect previous;
        QSize size;
        QRect expected;
    } cases[] = {
        {"room to spare", {100, 100, 600, 400}, {600, 400}, {124, 124, 600, 400}},
        {"a window as tall as the room gets shorter", {4, 36, 1180, 756}, {1180, 756}, {28, 60, 1180, 732}},
        {"too short: back to the top", {4, 300, 1180, 500}, {1180, 756}, {4, 36, 1180, 756}},
        {"off to the left: within the room", {-500, -20, 600, 400}, {600, 400}, {4, 36, 600, 400}},
    };
    for (const auto& c : cases) {
        const QRect placed = platform::cascadedGeometry(c.previous, c.size, minimum, available);
        EXPECT_EQ(placed, c.expected) << c.what;
        EXPECT_TRUE(available.contains(placed.marginsAdded(platform::assumedWindowFrame))) << c.what;
    }
}

// A window not shown yet goes into its screen's work area with room for a frame: cut to fit (its
// minimum lowered where needed), to the middle the first time, else just far enough in.
TEST(WindowFrame, PlacingInTheWorkAreaKeepsTheFrameInside) {
    QWidget window;
    const QRect room = platform::workAreaRoom(&window);
    ASSERT_EQ(room, window.screen()->availableGeometry().marginsRemoved(platform::assumedWindowFrame));
    using P = platform::WorkAreaPlacement;
    const struct {
        const char* what;
        QRect before;
        QSize minimum;
        P placement;
        QRect expected;
    } cases[] = {
        {"in the middle",
         {0, 0, 200, 100},
         {0, 0},
         P::centred,
         QRect(0, 0, 200, 100).translated(room.center() - QRect(0, 0, 200, 100).center())},
        {"left where it lies",
         {room.x() + 10, room.y() + 20, 200, 100},
         {0, 0},
         P::keptInPlace,
         {room.x() + 10, room.y() + 20, 200, 100}},
        {"moved in from above",
         {room.x() + 10, room.y() - 50, 200, 100},
         {0, 0},
         P::keptInPlace,
         {room.x() + 10, room.y(), 200, 100}},
        {"taller than the room, its minimum too",
         {room.x(), room.y(), 200, room.height() + 300},
         {100, room.height() + 100},
         P::keptInPlace,
         {room.x(), room.y(), 200, room.height()}},
    };
    for (const auto& c : cases) {
        window.setMinimumSize(c.minimum);
        window.setGeometry(c.before);
        platform::placeInWorkArea(&window, c.placement);
        EXPECT_EQ(window.geometry(), c.expected) << c.what;
        EXPECT_LE(window.minimumHeight(), room.height()) << c.what;
    }
}
