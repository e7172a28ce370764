// Colour wells: drawing, activation, the shared panel, the exclusive well's focus.
#include "cuewright/controls/ColorWell.h"
#include "cuewright/controls/PrompterColorWell.h"
#include "platform/ui/Appearance.h"
#include "platform/ui/ColorPanel.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QColorDialog>
#include <QDir>
#include <QLineEdit>
#include <QTest>

#include <cstdlib>
#include <vector>

using cw::controls::ColorWell;
using cw::controls::PrompterColorWell;

namespace {

class Recorder : public QObject, public platform::ActionResponder {
public:
    std::vector<QObject*> senders;
    bool respondsToAction(std::string_view action) const override { return action == "changeColor:"; }
    void performAction(std::string_view, QObject* sender) override { senders.push_back(sender); }
};

class CountingWell : public ColorWell {
public:
    using ColorWell::ColorWell;
    int paints = 0;

protected:
    void paintEvent(QPaintEvent* e) override {
        ++paints;
        ColorWell::paintEvent(e);
    }
};

QColor grey(double brightness) {
    return QColor::fromHsvF(0, 0, brightness);
}

bool near(QColor a, QColor b, int tolerance = 2) {
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

// A shown window with the wells and a line edit, made the active window.
struct Window {
    QWidget widget;
    QLineEdit* edit = new QLineEdit(&widget);
    Recorder recorder;

    template <typename Well> Well* add(int x) {
        auto* well = new Well(&widget);
        well->setGeometry(x, 40, 60, 24);
        well->action = {&recorder, "changeColor:"};
        return well;
    }
    void show() {
        widget.resize(300, 100);
        widget.show();
        widget.activateWindow();
        QApplication::setActiveWindow(&widget);
        edit->setFocus();
        QApplication::processEvents();
    }
};

TEST(ColorWell, DrawsTheSwatchFromOneToThirtySixAndTheButtonInTheAppearancesGreys) {
    struct Case {
        platform::AppearanceStyle style;
        bool active;
        QColor button, divider;
        int tolerance = 2; // the active light button is a gradient, sampled near its top
    };
    const Case cases[] = {
        {platform::AppearanceStyle::light, false, grey(1.0), grey(0.9)},
        {platform::AppearanceStyle::dark, false, grey(0.13), grey(0.29)},
        {platform::AppearanceStyle::dark, true, grey(0.29), grey(0.29)},
        {platform::AppearanceStyle::light, true, QColor::fromHsvF(0.58, 0.56, 0.97), grey(0.9), 10},
    };
    Window window;
    auto* well = window.add<CountingWell>(0);
    well->setColor(Qt::red);
    window.show();
    for (const Case& c : cases) {
        const int paints = well->paints;
        platform::Appearance::applyToWindow(&window.widget, c.style);
        c.active ? well->activate(true) : well->deactivate();
        QApplication::processEvents();
        EXPECT_GT(well->paints, paints) << "appearance or activation changes redraw";

        const QImage image = well->grab().toImage();
        if (const char* dir = std::getenv("CW_TEST_OUTPUT_DIR")) {
            QDir().mkpath(dir);
            image.save(QStringLiteral("%1/color-well-%2.png").arg(dir).arg(&c - cases));
        }
        const int mid = 12;
        EXPECT_NE(image.pixelColor(0, mid), QColor(Qt::red)) << "the frame shows left of the swatch";
        EXPECT_EQ(image.pixelColor(1, mid), QColor(Qt::red));
        EXPECT_EQ(image.pixelColor(35, mid), QColor(Qt::red));
        EXPECT_TRUE(near(image.pixelColor(36, mid), c.divider))
            << qPrintable(image.pixelColor(36, mid).name());
        EXPECT_TRUE(near(image.pixelColor(50, 1), c.button, c.tolerance))
            << qPrintable(image.pixelColor(50, 1).name());
    }
    well->deactivate();
}

TEST(ColorWell, TheActiveWellAloneTakesThePanelsChangesOneActionEach) {
    Window window;
    auto* a = window.add<ColorWell>(0);
    auto* b = window.add<ColorWell>(100);
    a->setColor(Qt::red);
    b->setColor(Qt::blue);
    window.show();
    auto& panel = platform::ColorPanel::shared();

    QTest::mouseClick(a, Qt::LeftButton);
    EXPECT_TRUE(a->isActive());
    EXPECT_TRUE(panel.isVisible());
    EXPECT_EQ(panel.color(), QColor(Qt::red));
    QTest::mouseClick(b, Qt::LeftButton);
    EXPECT_FALSE(a->isActive()) << "the last well activated wins";
    EXPECT_TRUE(b->isActive());
    EXPECT_EQ(panel.color(), QColor(Qt::blue));
    EXPECT_TRUE(window.recorder.senders.empty()) << "activating is no colour change";

    panel.dialog()->setCurrentColor(Qt::green);
    panel.dialog()->setCurrentColor(Qt::green);
    panel.dialog()->setCurrentColor(Qt::yellow);
    EXPECT_EQ(b->color(), QColor(Qt::yellow));
    EXPECT_EQ(a->color(), QColor(Qt::red));
    EXPECT_EQ(window.recorder.senders, (std::vector<QObject*>{b, b}));

    panel.dialog()->reject(); // the panel's close box
    EXPECT_FALSE(b->isActive());
    panel.dialog()->setCurrentColor(Qt::black);
    EXPECT_EQ(b->color(), QColor(Qt::yellow));

    QTest::mouseClick(a, Qt::LeftButton);
    QTest::mouseClick(a, Qt::LeftButton);
    EXPECT_FALSE(a->isActive());
    EXPECT_FALSE(panel.isVisible()) << "deactivating closes the panel";
}

TEST(PrompterColorWell, AnExclusiveWellClosesThePanelWhenTheFocusMovesOn) {
    for (bool exclusive : {true, false}) {
        Window window;
        auto* well = window.add<PrompterColorWell>(0);
        well->setExclusive(exclusive);
        window.show();
        auto& panel = platform::ColorPanel::shared();

        well->activate(true);
        EXPECT_EQ(well->hasFocus(), exclusive);
        panel.dialog()->activateWindow(); // turning to the panel keeps the well its window's focus
        QApplication::setActiveWindow(panel.dialog());
        QApplication::processEvents();
        panel.dialog()->setCurrentColor(Qt::cyan);
        EXPECT_EQ(well->color(), QColor(Qt::cyan));

        QApplication::setActiveWindow(&window.widget);
        QTest::mouseClick(window.edit, Qt::LeftButton);
        window.edit->setFocus(Qt::MouseFocusReason);
        EXPECT_EQ(well->isActive(), !exclusive) << exclusive;
        EXPECT_EQ(panel.isVisible(), !exclusive);
        well->deactivate();
    }
}

TEST(ColorWell, TabReachesTheWellsAndSpaceOpensThePanel) {
    Window window;
    auto* a = window.add<ColorWell>(0);
    auto* b = window.add<PrompterColorWell>(100);
    window.show();
    // The well's left edge: the frame until the keyboard brings the focus, then the ring.
    const QColor ring = a->palette().color(QPalette::Highlight);
    EXPECT_FALSE(near(a->grab().toImage().pixelColor(0, 12), ring, 8));
    QTest::keyClick(window.edit, Qt::Key_Tab);
    EXPECT_TRUE(a->hasFocus());
    EXPECT_TRUE(near(a->grab().toImage().pixelColor(0, 12), ring, 8)) << "the focused well shows no ring";
    QTest::keyClick(a, Qt::Key_Tab);
    EXPECT_TRUE(b->hasFocus());
    QTest::keyClick(b, Qt::Key_Space);
    EXPECT_TRUE(b->isActive());
    QTest::keyClick(b, Qt::Key_Escape);
    EXPECT_FALSE(b->isActive());
    EXPECT_FALSE(a->accessibleName().isEmpty());
}

} // namespace
