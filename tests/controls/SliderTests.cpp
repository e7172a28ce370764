// The one-knob and the range slider: geometry, snapping, mouse and keys, and their actions.
#include "ControlTestSupport.h"
#include "cuewright/controls/NormalSlider.h"
#include "cuewright/controls/RangeSlider.h"
#include "platform/ui/Appearance.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <cmath>

#include <QImage>
#include <QLineEdit>
#include <QVBoxLayout>

#include <vector>

namespace {

using controltest::CountingResponder;
using cw::controls::NormalSlider;
using cw::controls::RangeSlider;
using cw::controls::SliderTrack;

constexpr int sliderWidth = 140; // a track from x 7 to 133

// Every tick is a snap point, the track's ends included.
TEST(SliderTrack, MapsPositionsAndSnapsToTicks) {
    struct Case {
        int ticks;
        double x;
        double value;
    };
    const Case cases[] = {
        {10, 0, 0},       {10, 7, 0},        {10, 133, 1},    {10, 500, 1},
        {10, 70, 0.5},    {10, 7.5, 0},      {10, 19.5, 0.1}, {10, 21, 0.1111},
        {0, 7.5, 0.0040}, {20, 13.8, 0.054}, {20, 19.9, 0.1}, {20, 132.5, 1},
    };
    for (const Case& c : cases) {
        const SliderTrack track{QSizeF(sliderWidth, 21), c.ticks};
        EXPECT_NEAR(track.snapped(track.valueForX(c.x)), c.value, 1e-3) << c.ticks << " ticks, x " << c.x;
    }
    const std::vector<double> tenths = {0, 0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9, 1};
    EXPECT_EQ((SliderTrack{QSizeF(sliderWidth, 21), 10}.snapValues()), tenths);
    EXPECT_TRUE((SliderTrack{QSizeF(sliderWidth, 21), 0}.snapValues()).empty());
}

// Mouse steps on a slider of 140 × 21 points: press at x, drags, release; the actions counted
// after the press, after all drags and after the release.
struct MouseCase {
    const char* name;
    bool continuous;
    int press;
    std::vector<int> drags;
    int afterPress, afterDrags, afterRelease;
};

template <typename Slider>
void runMouseCase(Slider& slider, CountingResponder& responder, const MouseCase& c) {
    slider.setContinuous(c.continuous);
    QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(c.press, 10));
    EXPECT_EQ(responder.count, c.afterPress) << c.name;
    for (int x : c.drags)
        QTest::mouseMove(&slider, QPoint(x, 10));
    EXPECT_EQ(responder.count, c.afterDrags) << c.name;
    QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(c.drags.empty() ? c.press : c.drags.back(), 10));
    EXPECT_EQ(responder.count, c.afterRelease) << c.name;
    EXPECT_EQ(responder.lastSender, c.afterRelease ? &slider : nullptr) << c.name;
}

TEST(NormalSlider, SendsOneActionPerChange) {
    struct Case {
        MouseCase mouse;
        double value;
    };
    const Case cases[] = {
        {{"track left of its start", true, 2, {}, 1, 1, 2}, 0},
        {{"knob pressed and released", true, 70, {}, 0, 0, 1}, 0.5},
        {{"knob dragged, one step in place", true, 70, {90, 90, 300}, 0, 2, 3}, 1},
        {{"not continuous", false, 20, {40, 100}, 0, 0, 1}, 93 / 126.0},
        {{"drag snaps to a tick", true, 70, {83}, 0, 1, 2}, 0.6},
    };
    for (const Case& c : cases) {
        NormalSlider slider;
        slider.resize(sliderWidth, 21);
        CountingResponder responder("changeSpeed:");
        slider.setAction(&responder, "changeSpeed:");
        runMouseCase(slider, responder, c.mouse);
        EXPECT_NEAR(slider.value(), c.value, 1e-9) << c.mouse.name;
        EXPECT_EQ(slider.knobState(), cw::controls::KnobState::resting);
    }
}

// The knobs sit at the values the owner shows, equal ones included; values the wrong way round
// are swapped and logged, and what is no number is logged and leaves the knobs where they were.
TEST(RangeSlider, SetValuesPlacesTheKnobsAtTheValuesShown) {
    const std::string swapped = "min is bigger than max. that's not possible!";
    const std::string noNumber = "range slider: the values must be numbers";
    struct Case {
        double lowest, highest;
        double left, right;
        std::string logged;
    };
    const Case cases[] = {
        {0.1, 3.0, 1 / 60.0, 0.5, ""},           {3.0, 3.0, 0.5, 0.5, ""},    {6.0, 6.0, 1, 1, ""},
        {4.0, 2.0, 2 / 6.0, 4 / 6.0, swapped},   {0.1, 9.0, 1 / 60.0, 1, ""}, {-2, 1.5, 0, 0.25, ""},
        {std::nan(""), 3.0, 0.3, 0.8, noNumber},
    };
    for (const Case& c : cases) {
        RangeSlider slider;
        slider.setRange(0, 6);
        testsupport::LogCapture log;
        slider.setValues(c.lowest, c.highest);
        EXPECT_NEAR(slider.leftValue(), c.left, 1e-12) << c.lowest;
        EXPECT_NEAR(slider.rightValue(), c.right, 1e-12) << c.highest;
        EXPECT_EQ(log.lines(), c.logged.empty() ? std::vector<std::string>{} : std::vector{c.logged})
            << c.lowest;
    }
}

// Knob centres at 0.3 and 0.8 of the track: x 44.8 and 107.8, rectangles 39.3…50.3 and
// 102.3…113.3. A knob dragged onto the other stops with its centre 12.5 points away.
TEST(RangeSlider, KnobsStopOnePointApartAndSendOneActionPerChange) {
    struct Case {
        MouseCase mouse;
        double left, right;
    };
    const Case cases[] = {
        {{"lower dragged onto upper", true, 45, {80, 120, 200}, 0, 2, 3}, 88.8 / 126, 0.8},
        {{"upper dragged onto lower", true, 108, {60, 20}, 0, 2, 3}, 0.3, 49.8 / 126},
        {{"click between the knobs moves the nearer", true, 70, {}, 1, 1, 2}, 0.5, 0.8},
        {{"click beside the upper knob", true, 95, {}, 1, 1, 2}, 0.3, 88 / 126.0},
        {{"lower knob pressed and released", true, 45, {}, 0, 0, 1}, 0.3, 0.8},
        {{"not continuous", false, 20, {30, 40}, 0, 0, 1}, 33 / 126.0, 0.8},
    };
    for (const Case& c : cases) {
        RangeSlider slider;
        slider.resize(sliderWidth, 21);
        CountingResponder responder("changeSpeedRange:");
        slider.setAction(&responder, "changeSpeedRange:");
        slider.setSnapsToTicks(false);
        runMouseCase(slider, responder, c.mouse);
        const SliderTrack track{QSizeF(sliderWidth, 21), 0};
        const double gap =
            track.knobRect(slider.rightValue()).left() - track.knobRect(slider.leftValue()).right();
        EXPECT_GE(gap, 1 - 1e-9) << c.mouse.name;
        EXPECT_NEAR(slider.leftValue(), c.left, 1e-9) << c.mouse.name;
        EXPECT_NEAR(slider.rightValue(), c.right, 1e-9) << c.mouse.name;
    }
}

// A window with a field, a slider and another field: Tab walks through them.
struct SliderWindow {
    QWidget window;
    QLineEdit* before = new QLineEdit(&window);
    NormalSlider* normal = new NormalSlider(&window);
    RangeSlider* range = new RangeSlider(&window);
    QLineEdit* after = new QLineEdit(&window);
    CountingResponder responder{"moved:"};

    SliderWindow() {
        auto* layout = new QVBoxLayout(&window);
        for (QWidget* widget : std::initializer_list<QWidget*>{before, normal, range, after})
            layout->addWidget(widget);
        normal->setAction(&responder, "moved:");
        range->setAction(&responder, "moved:");
        normal->setTickMarks(10);
        range->setTickMarks(10);
    }
};

TEST(Sliders, TabReachesEachKnobAndKeysMoveIt) {
    SliderWindow w;
    ASSERT_TRUE(controltest::activate(w.window));
    w.before->setFocus();
    // The lower knob sent to the end stops 1 point short of the upper knob's rectangle there.
    const double held = 1 - (SliderTrack::knobWidth + 1) / (w.range->width() - 14);
    struct Step {
        Qt::Key key;
        QWidget* focus;
        double normal, left, right;
        int actions;
    };
    const Step steps[] = {
        {Qt::Key_Tab, w.normal, 0.5, 0.3, 0.8, 0},  {Qt::Key_Right, w.normal, 0.6, 0.3, 0.8, 1},
        {Qt::Key_Left, w.normal, 0.5, 0.3, 0.8, 2}, {Qt::Key_Home, w.normal, 0, 0.3, 0.8, 3},
        {Qt::Key_Home, w.normal, 0, 0.3, 0.8, 3},   {Qt::Key_Tab, w.range, 0, 0.3, 0.8, 3},
        {Qt::Key_Right, w.range, 0, 0.4, 0.8, 4},   {Qt::Key_Tab, w.range, 0, 0.4, 0.8, 4},
        {Qt::Key_PageUp, w.range, 0, 0.4, 0.9, 5},  {Qt::Key_End, w.range, 0, 0.4, 1, 6},
        {Qt::Key_Backtab, w.range, 0, 0.4, 1, 6},   {Qt::Key_End, w.range, 0, held, 1, 7},
        {Qt::Key_Tab, w.range, 0, held, 1, 7},      {Qt::Key_Tab, w.after, 0, held, 1, 7},
    };
    for (const Step& s : steps) {
        QTest::keyClick(QApplication::focusWidget(), s.key);
        const int i = static_cast<int>(&s - steps);
        EXPECT_EQ(QApplication::focusWidget(), s.focus) << "step " << i;
        EXPECT_NEAR(w.normal->value(), s.normal, 1e-9) << "step " << i;
        EXPECT_NEAR(w.range->leftValue(), s.left, 1e-9) << "step " << i;
        EXPECT_NEAR(w.range->rightValue(), s.right, 1e-9) << "step " << i;
        EXPECT_EQ(w.responder.count, s.actions) << "step " << i;
    }
    EXPECT_FALSE(w.normal->accessibleName().isEmpty());
    EXPECT_FALSE(w.range->accessibleName().isEmpty());
}

// The selected range is the accent colour only while the slider's window is the main window.
TEST(RangeSlider, SelectedRangeFollowsTheWindowsMainState) {
    struct Case {
        platform::AppearanceStyle style;
        bool main;
        QColor colour; // invalid: the palette's accent
    };
    const Case cases[] = {
        {platform::AppearanceStyle::light, true, QColor()},
        {platform::AppearanceStyle::light, false, QColor(144, 144, 144)},
        {platform::AppearanceStyle::dark, false, QColor(103, 103, 103)},
    };
    for (const Case& c : cases) {
        QWidget window;
        platform::Appearance::applyToWindow(&window, c.style);
        RangeSlider slider(&window);
        slider.setGeometry(0, 0, sliderWidth, 21);
        QWidget other;
        window.show();
        ASSERT_TRUE(controltest::activate(c.main ? window : other));
        const QImage image = slider.grab().toImage();
        // Between the knobs (x 44.8 … 107.8), in the groove 5 to 8 points above the bottom.
        const QColor expected = c.colour.isValid() ? c.colour : slider.palette().color(QPalette::Highlight);
        EXPECT_EQ(image.pixelColor(76, 14), expected) << c.main;
    }
}

} // namespace
