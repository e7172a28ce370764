// Window focus and dark-appearance tests, appearance following, alert sheets.
#include "platform/ui/AlertRunner.h"
#include "platform/ui/Appearance.h"
#include "platform/ui/FakeAlertRunner.h"
#include "platform/ui/WindowAppearanceUpdatable.h"
#include "platform/ui/WindowController.h"
#include "platform/ui/WindowFocus.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStyleOption>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// Counts its paints; redraws only for what the shared helper asks.
class PaintCounter : public QWidget {
public:
    using QWidget::QWidget;
    int paints = 0;

protected:
    bool event(QEvent* e) override {
        platform::redrawOnWindowChange(this, e);
        return QWidget::event(e);
    }
    void changeEvent(QEvent*) override {} // no repaints of QWidget's own
    void paintEvent(QPaintEvent*) override { ++paints; }
};

void activate(QWidget& window) {
    window.activateWindow();
    QApplication::setActiveWindow(&window);
    QApplication::processEvents();
}

TEST(WindowFocus, DarkAndMainFollowTheWindowTheWidgetIsIn) {
    platform::Appearance::shared().apply(platform::AppearanceStyle::dark);
    PaintCounter loose;
    EXPECT_FALSE(platform::isDarkMode(&loose)) << "in no window: never dark, whatever the application's";
    EXPECT_FALSE(platform::isWindowMain(&loose));
    platform::Appearance::shared().apply(platform::AppearanceStyle::system);

    QWidget dark, light;
    platform::Appearance::applyToWindow(&dark, platform::AppearanceStyle::dark);
    platform::Appearance::applyToWindow(&light, platform::AppearanceStyle::light);
    auto* control = new PaintCounter(&dark);
    control->setPalette(platform::lightPalette()); // its own palette does not count
    EXPECT_TRUE(platform::isDarkMode(control));
    control->setParent(&light);
    EXPECT_FALSE(platform::isDarkMode(control));
    control->setParent(nullptr);
    EXPECT_FALSE(platform::isInWindow(control));
    delete control;
}

TEST(WindowFocus, ControlsRedrawWhenOnlyTheirOwnWindowChangesMainState) {
    QWidget a, b, c;
    for (QWidget* w : {&a, &b, &c}) {
        w->resize(80, 40);
        w->show();
    }
    auto* control = new PaintCounter(&a);
    control->resize(20, 20);
    control->show();
    activate(b);
    EXPECT_FALSE(platform::isWindowMain(control));
    const int before = control->paints;
    activate(a);
    EXPECT_TRUE(platform::isWindowMain(control));
    EXPECT_GT(control->paints, before);

    control->setParent(&b); // moves to another window: the old one's focus no longer matters
    control->show();
    activate(c);
    QApplication::processEvents();
    const int moved = control->paints;
    activate(a);
    activate(c);
    EXPECT_EQ(control->paints, moved);
    activate(b);
    EXPECT_GT(control->paints, moved);
    EXPECT_TRUE(platform::isWindowMain(control));
}

TEST(WindowAppearance, RegisteredControllersFollowTheChoiceUntilTheyGo) {
    platform::NotificationCenter center;
    auto style = platform::AppearanceStyle::dark;
    int reads = 0;
    platform::setAppearanceChoice({[&] { return ++reads, style; }, "ModeSwitched", &center});
    // The application (menus, alerts, dialogs) follows at once.
    EXPECT_EQ(platform::Appearance::shared().style(), platform::AppearanceStyle::dark);
    EXPECT_LT(QApplication::palette().color(QPalette::Window).lightness(), 128);
    reads = 0;

    auto controller = std::make_unique<platform::WindowController>();
    controller->updateWindowAppearance(); // no window yet: nothing to do
    EXPECT_EQ(reads, 0);
    QWidget* window = controller->window();
    controller->registerForAppearanceChanges();
    controller->registerForAppearanceChanges(); // once is enough
    controller->updateWindowAppearance();
    EXPECT_TRUE(window->testAttribute(Qt::WA_SetPalette));
    EXPECT_TRUE(platform::isDarkMode(window));

    for (auto next : {platform::AppearanceStyle::light, platform::AppearanceStyle::system}) {
        style = next;
        reads = 0;
        center.post("ModeSwitched");
        EXPECT_EQ(reads, 2) << "once for the application, once for the window";
        EXPECT_FALSE(platform::isDarkMode(window));
        EXPECT_EQ(platform::Appearance::shared().style(), next);
    }
    EXPECT_FALSE(window->testAttribute(Qt::WA_SetPalette)) << "system: the window follows the application";

    controller.reset();
    reads = 0;
    center.post("ModeSwitched"); // the destroyed controller is no longer called
    EXPECT_EQ(reads, 1);
    platform::setAppearanceChoice({});
}

// Where the pictures of the appearance tests go, for people to look at.
QString pictureFolder() {
    const QString folder = qEnvironmentVariable("CW_TEST_OUTPUT_DIR", "build/debug/test-output") + "/ui";
    QDir().mkpath(folder);
    return folder;
}
constexpr std::pair<platform::AppearanceStyle, const char*> looks[] = {
    {platform::AppearanceStyle::light, "light"}, {platform::AppearanceStyle::dark, "dark"}};

// Unchecked indicators must stand out from the window in both appearances; the picture of
// each goes under test-output/ui/.
TEST(WindowAppearance, UncheckedIndicatorsStandOutFromTheWindow) {
    const QString folder = pictureFolder();
    for (auto [style, name] : looks) {
        QWidget window;
        platform::Appearance::applyToWindow(&window, style);
        auto* layout = new QVBoxLayout(&window);
        auto* box = new QCheckBox("Unchecked");
        auto* radio = new QRadioButton("Unchecked");
        layout->addWidget(box);
        layout->addWidget(new QCheckBox("Checked"));
        layout->addWidget(radio);
        layout->addWidget(new QRadioButton("Checked"));
        for (auto* checked : window.findChildren<QAbstractButton*>()) {
            checked->setChecked(checked->text() == "Checked");
        }
        window.resize(160, 120);
        window.show();
        const QImage shot = window.grab().toImage();
        shot.save(folder + "/indicators-" + name + ".png");
        const int background = qGray(shot.pixel(2, 2));
        for (auto [button, element] :
             {std::pair<QAbstractButton*, QStyle::SubElement>{box, QStyle::SE_CheckBoxIndicator},
              {radio, QStyle::SE_RadioButtonIndicator}}) {
            QStyleOptionButton option;
            option.initFrom(button);
            const QRect indicator = button->style()->subElementRect(element, &option, button);
            const QPoint edge = button->mapTo(&window, QPoint(indicator.left() + 1, indicator.center().y()));
            // The outline may sit a pixel in from the rectangle's edge: take the strongest.
            int contrast = 0;
            for (int dx = -1; dx <= 1; ++dx) {
                contrast = std::max(contrast, std::abs(qGray(shot.pixel(edge + QPoint(dx, 0))) - background));
            }
            EXPECT_GT(contrast, 40) << name << " " << button->metaObject()->className();
        }
    }
}

// A disabled control looks disabled in either appearance: a slider shows no accent colour, and a
// button's, label's or field's text is drawn fainter, so that one that does nothing does not look
// as if it would.
TEST(WindowAppearance, DisabledControlsLookDisabled) {
    const QString folder = pictureFolder();
    for (auto [style, name] : looks) {
        QWidget window;
        platform::Appearance::applyToWindow(&window, style);
        auto* layout = new QVBoxLayout(&window);
        const auto slider = [] {
            auto* made = new QSlider(Qt::Horizontal);
            made->setValue(60);
            return made;
        };
        const std::vector<std::pair<QWidget*, QWidget*>> pairs = {
            {slider(), slider()},
            {new QPushButton("Rewind"), new QPushButton("Rewind")},
            {new QLabel("Not Connected."), new QLabel("Not Connected.")},
            {new QLineEdit("Studio"), new QLineEdit("Studio")}};
        for (auto [enabled, disabled] : pairs) {
            layout->addWidget(enabled);
            layout->addWidget(disabled);
            disabled->setEnabled(false);
        }
        window.resize(160, 260);
        window.show();
        const QImage shot = window.grab().toImage();
        shot.save(folder + "/disabled-" + name + ".png");
        // Over the widget, inside its frame: how many pixels carry the accent colour, and the strongest
        // difference from the background its top edge shows.
        const auto measure = [&](QWidget* widget) {
            const QRect area = QRect(widget->mapTo(&window, QPoint()), widget->size()).adjusted(3, 3, -3, -3);
            const int background = qGray(shot.pixel(area.center().x(), area.top()));
            int accent = 0, contrast = 0;
            for (int y = area.top(); y <= area.bottom(); ++y) {
                for (int x = area.left(); x <= area.right(); ++x) {
                    const QRgb pixel = shot.pixel(x, y);
                    accent += qBlue(pixel) > qRed(pixel) + 60 ? 1 : 0;
                    contrast = std::max(contrast, std::abs(qGray(pixel) - background));
                }
            }
            return std::pair(accent, contrast);
        };
        for (auto [enabled, disabled] : pairs) {
            const char* kind = enabled->metaObject()->className();
            if (qobject_cast<QSlider*>(enabled)) {
                EXPECT_GT(measure(enabled).first, 20) << name << ": the enabled slider's groove";
                EXPECT_EQ(measure(disabled).first, 0) << name << ": the disabled slider";
                continue;
            }
            EXPECT_GT(measure(enabled).second - measure(disabled).second, 50) << name << " " << kind;
        }
    }
}

TEST(AlertSheet, AnswersThePressedButtonsPosition) {
    const platform::Alert alert{"Save?", "", {"Save", "Cancel", "Don't Save"}};
    QWidget window;
    auto* child = new QWidget(&window);
    {
        auto fake = std::make_shared<platform::FakeAlertRunner>();
        auto previous = platform::setAlertRunner(fake);
        fake->answerButton("Don't Save");
        EXPECT_EQ(platform::runModalSheetForWindow(alert, child), 1002);
        EXPECT_EQ(fake->windows().back(), &window) << "the sheet goes on the control's window";
        platform::setAlertRunner(previous);
    }

    window.show();
    for (int index : {0, 2}) {
        QTimer::singleShot(0, &window, [&] {
            auto* box = window.findChild<QMessageBox*>();
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->windowModality(), Qt::WindowModal);
            for (auto* button : box->findChildren<QPushButton*>())
                if (button->text() == alert.buttons[index])
                    button->click();
        });
        EXPECT_EQ(platform::runModalSheetForWindow(alert, child), 1000 + index);
    }
}

} // namespace
