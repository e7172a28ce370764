// The sidebar's tab strip and its Script and Overlay panes against a real project, offscreen.
#include "cuewright/controls/ActionableLabelDivider.h"
#include "cuewright/controls/LabelButton.h"
#include "cuewright/controls/TimeControl.h"
#include "cuewright/displays/ScreensController.h"
#include "cuewright/editor/MicroToolbar.h"
#include "cuewright/editor/OverlayController.h"
#include "cuewright/editor/ProjectPropertiesController.h"
#include "cuewright/editor/SegmentedControl.h"
#include "cuewright/editor/SidebarController.h"
#include "cuewright/model/Project.h"
#include "cuewright/model/UserDefaults.h"
#include "platform/defaults/Defaults.h"
#include "platform/defaults/NotificationCenter.h"
#include "platform/ui/FakeFileDialogs.h"

#include "support/StuckOpenGuard.h"
#include "support/TempDir.h"

#include "ScreenshotSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFontDialog>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QSpinBox>
#include <QTest>

#include <sys/stat.h>

using namespace std::chrono_literals;
using cw::Editor;
using cw::editor::MicroToolbar;
using cw::editor::OverlayController;
using cw::editor::ProjectPropertiesController;
using cw::editor::SidebarController;

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace {

// Counts what the project says about its document.
struct Writes : cw::ProjectEventListener {
    int properties = 0;
    int speeds = 0;
    void projectScriptPropertiesDidChange(cw::Project&) override { ++properties; }
    void projectSpeedDidChange(cw::Project&) override { ++speeds; }
    int total() const { return properties + speeds; }
};

struct Selections : cw::editor::MicroToolbarDelegate {
    std::vector<int> indexes;
    void microToolbarDidSelectItemAt(MicroToolbar&, int index) override { indexes.push_back(index); }
};

class SidebarTest : public ::testing::Test {
protected:
    SidebarTest()
        : defaults(platform::Defaults::Options{dir / "defaults.json", 1h, {}}) {
        cw::registerUserDefaults(defaults, cw::RegistrationHost{});
        project = cw::Project::create(defaults);
        project->registerEventListener(writes);
    }

    template <class Pane> std::shared_ptr<Pane> load() {
        std::shared_ptr<Pane> pane;
        if constexpr (std::is_same_v<Pane, ProjectPropertiesController>)
            pane = std::make_shared<Pane>(project, defaults, center);
        else
            pane = std::make_shared<Pane>(project, defaults);
        pane->view()->resize(260, 700);
        writes->properties = writes->speeds = 0;
        return pane;
    }
    const cw::Document::ScriptProperties& properties() const { return project->document().scriptProperties; }
    const cw::Document::SpeedProperties& speed() const { return project->document().speedProperties; }
    void setLineCount(int lines) {
        Editor editor = project->editor();
        editor.lineCount = lines;
        project->setEditor(editor);
    }

    testsupport::TempDir dir;
    platform::Defaults defaults;
    platform::NotificationCenter center;
    std::shared_ptr<cw::Project> project;
    std::shared_ptr<Writes> writes = std::make_shared<Writes>();
};

TEST_F(SidebarTest, ToolbarLaysOutEqualTabsAndReportsClicks) {
    MicroToolbar toolbar;
    for (const char* title : {"Script", "Overlay", "Displays"})
        toolbar.addItem(QString::fromUtf8(title));
    toolbar.resize(240, 26);
    const MicroToolbar::Layout layout = toolbar.layout();
    ASSERT_EQ(layout.separators.size(), 2u) << "none at x 0";
    EXPECT_EQ(layout.separators[0].x(), 80);
    EXPECT_EQ(layout.separators[1].x(), 160);
    EXPECT_EQ(layout.tabs[1], QRectF(80, 0, 80, 26));
    EXPECT_EQ(layout.bottomLine, QRectF(0, 25, 240, 1));

    Selections selections;
    toolbar.setDelegate(&selections);
    QTest::mouseClick(&toolbar, Qt::LeftButton, {}, QPoint(170, 10));
    QTest::mouseClick(&toolbar, Qt::LeftButton, {}, QPoint(170, 10));
    EXPECT_EQ(selections.indexes, (std::vector<int>{2, 2})) << "a click on the selected tab is told too";
    EXPECT_EQ(toolbar.selectedItemIndex(), 2);

    // In no main window the selected title is black; the separator is drawn where laid out.
    EXPECT_EQ(toolbar.colors().selectedTitle, QColor(Qt::black));
    const QImage picture = toolbar.grab().toImage();
    EXPECT_EQ(picture.pixelColor(80, 13).rgb(), toolbar.colors().separator.rgb());
    EXPECT_NE(picture.pixelColor(0, 13).rgb(), toolbar.colors().separator.rgb());

    MicroToolbar four;
    for (const char* title : {"a", "b", "c", "d"})
        four.addItem(QString::fromUtf8(title));
    for (int i : {2, 3})
        EXPECT_EQ(four.items()[size_t(i)].index, i);
}

TEST_F(SidebarTest, PaneFollowsTheEditorModeAndReselectingMakesNoPane) {
    auto sidebar = std::make_shared<SidebarController>(project, defaults, center);
    int displaysMade = 0;
    sidebar->setPaneFactory(Editor::Mode::displays, [&](const std::shared_ptr<cw::Project>&) {
        ++displaysMade;
        return cw::editor::SidebarPane{new QLabel(QStringLiteral("displays")), nullptr, nullptr};
    });
    sidebar->view()->resize(240, 600);
    sidebar->view()->show();
    ASSERT_NE(sidebar->currentController<ProjectPropertiesController>(), nullptr) << "script mode at start";

    MicroToolbar& toolbar = *sidebar->toolbar();
    QTest::mouseClick(&toolbar, Qt::LeftButton, {}, QPoint(100, 10));
    EXPECT_EQ(project->editor().mode, Editor::Mode::overlay) << "a tab writes the mode into the project";
    auto* overlay = sidebar->currentController<OverlayController>();
    ASSERT_NE(overlay, nullptr);
    QTest::mouseClick(&toolbar, Qt::LeftButton, {}, QPoint(100, 10));
    EXPECT_EQ(sidebar->currentController<OverlayController>(), overlay) << "re-selecting keeps the pane";

    // A mode chosen elsewhere (a menu item) switches the pane and the tab.
    Editor editor = project->editor();
    editor.mode = Editor::Mode::displays;
    project->setEditor(editor);
    project->setEditor(editor);
    EXPECT_EQ(displaysMade, 1);
    EXPECT_EQ(toolbar.selectedItemIndex(), 2);
    EXPECT_EQ(sidebar->scrollView()->widget(), sidebar->currentPane().view);
    EXPECT_EQ(sidebar->currentController<OverlayController>(), nullptr);

    auto plain = std::make_shared<SidebarController>(project, defaults, center);
    plain->view();
    EXPECT_NE(plain->currentController<cw::ScreensController>(), nullptr) << "the Displays pane by default";
}

TEST_F(SidebarTest, LoadingAndRefreshingThePanesWriteNothingBack) {
    project->setScrollSpeed(12.5, 0.2, 2.5);
    auto script = load<ProjectPropertiesController>();
    auto overlay = load<OverlayController>();
    cw::Document::ScriptProperties p = properties();
    p.prompterMargin = 0.23f;
    p.overlayOpacity = 0.37f;
    p.indicatorPosition = 0.41f;
    project->setScriptProperties(p); // refreshes both panes
    project->setScrollSpeed(47.3, 0.3, 4.1);
    EXPECT_EQ(writes->properties, 1);
    EXPECT_EQ(writes->speeds, 1);
    EXPECT_EQ(properties(), p);
    EXPECT_EQ(speed().scrollSpeedPerc, 47.3) << "the slider's whole percent is not written back";
    EXPECT_EQ(script->controls().prompterMarginSlider->value(), 23);
    EXPECT_EQ(overlay->controls().overlayAlphaSlider->value(), 37);
}

TEST_F(SidebarTest, SpeedLabelsFollowTheUnit) {
    project->setAverageWordsPerLine(7.5);
    project->setScrollSpeed(50, 0, 1); // 0.5 lines per second
    auto pane = load<ProjectPropertiesController>();
    const struct {
        cw::ScrollingSpeedUnit unit;
        const char* speed;
        const char* max;
        const char* title;
    } cases[] = {
        {cw::ScrollingSpeedUnit::linesPerSecond, "0.50 Lines/Sec", "1.00", "Scroll Speed (Lines/Sec)"},
        {cw::ScrollingSpeedUnit::linesPerMinute, "30.00 Lines/Min", "60.00", "Scroll Speed (Lines/Min)"},
        {cw::ScrollingSpeedUnit::wordsPerSecond, "~3.75 Words/Sec", "7.50", "Scroll Speed (Words/Sec)"},
        {cw::ScrollingSpeedUnit::wordsPerMinute, "~225.00 Words/Min", "450.00", "Scroll Speed (Words/Min)"},
    };
    for (const auto& c : cases) {
        cw::setDefaultScrollingSpeedUnit(c.unit, defaults, center); // heard through the notification
        const auto& controls = pane->controls();
        EXPECT_EQ(controls.scrollSpeedLinesPerSecLabel->text(), QString::fromUtf8(c.speed));
        EXPECT_EQ(controls.scrollSpeedLinesPerSecMaxLabel->text(), QString::fromUtf8(c.max));
        EXPECT_EQ(controls.speedUnitLabelDivider->title(), QString::fromUtf8(c.title));
    }
    pane->changeSpeedUnit(); // words per minute wraps forwards to lines per second ...
    EXPECT_EQ(cw::defaultScrollingSpeedUnit(defaults), cw::ScrollingSpeedUnit::linesPerSecond);
    pane->changeSpeedUnitDown(); // ... and back
    EXPECT_EQ(cw::defaultScrollingSpeedUnit(defaults), cw::ScrollingSpeedUnit::wordsPerMinute);
    EXPECT_EQ(pane->controls().speedRangeSliderLabel->text(), QStringLiteral("~0.00 - 450.00 Words/Min"));
    EXPECT_EQ(writes->total(), 0) << "the unit is a setting, not the script's";
}

TEST_F(SidebarTest, UserChangesOfTheScriptPaneReachTheProject) {
    auto pane = load<ProjectPropertiesController>();
    const auto& c = pane->controls();
    project->setScrollSpeed(80, 1, 5);
    pane->resetScrollSpeed();
    EXPECT_EQ(speed(), (cw::Document::SpeedProperties{31.0, 0.1, 3.0}));
    for (auto [key, value] : {std::pair{cw::settings::defaultScrollSpeed, 31.0},
                              std::pair{cw::settings::defaultMinScrollSpeedLPS, 0.1},
                              std::pair{cw::settings::defaultMaxScrollSpeedLPS, 3.0}})
        EXPECT_EQ(defaults.doubleForKey(key), value) << key;

    c.scrollSpeedSlider->setValue(60);
    EXPECT_EQ(speed().scrollSpeedPerc, 60);
    c.prompterMarginSlider->setValue(30);
    QTest::mouseClick(c.flipVerticalChecker, Qt::LeftButton);
    EXPECT_EQ(properties().prompterMargin, 0.3f);
    EXPECT_TRUE(properties().flipVertical);
    const QRectF right = c.alignmentSelector->segmentRect(2);
    QTest::mouseClick(c.alignmentSelector, Qt::LeftButton, {}, right.center().toPoint());
    EXPECT_EQ(properties().textAlignment, cw::TextAlignment::right);
    ASSERT_TRUE(platform::sendAction("resetPrompterMargin:", pane.get(), nullptr));
    EXPECT_EQ(properties().prompterMargin, 0.1f);
    EXPECT_EQ(c.prompterMarginSlider->value(), 10);
}

// While playing, changes from elsewhere wait (the speed for the timer's tick, the rest for the
// stop); the pane's own changes show at once.
TEST_F(SidebarTest, PlaybackHoldsBackOtherRefreshes) {
    auto pane = load<ProjectPropertiesController>();
    const auto& c = pane->controls();
    project->play();
    EXPECT_TRUE(pane->isSpeedTimerRunning());
    project->setScrollSpeed(70, 0.1, 3);
    cw::Document::ScriptProperties p = properties();
    p.prompterWordCountFactor = 0.8f;
    project->setScriptProperties(p);
    EXPECT_EQ(c.scrollSpeedSlider->value(), 31);
    pane->updateSpeedStats();
    EXPECT_EQ(c.scrollSpeedSlider->value(), 70);
    EXPECT_EQ(c.wordCountSlider->value(), 50) << "only the speed follows during playback";
    c.prompterMarginSlider->setValue(20);
    EXPECT_EQ(properties().prompterWordCountFactor, 0.8f) << "the stale factor slider is not written back";
    EXPECT_EQ(c.wordCountSlider->value(), 80) << "a change made here lets its refresh through";
    p = properties();
    p.flipHorizontal = true;
    project->setScriptProperties(p);
    project->pause();
    EXPECT_TRUE(c.flipHorizontalChecker->isChecked());
    EXPECT_FALSE(pane->isSpeedTimerRunning());
    // The clock's last ticks hold the pane and the project: let them run while the settings live.
    project->tickQueue()->sync([] {});
    QApplication::processEvents();
}

// The picker shows every running time the status bar shows, beyond 48 hours too, and a time set
// in it makes the script last that long.
TEST_F(SidebarTest, RunningTimePickerTakesAnyShownRunningTime) {
    auto pane = load<ProjectPropertiesController>();
    cw::controls::TimeControl& picker = *pane->controls().runtimePicker;
    const struct {
        int lines;
        double lps;
        int h, m, s;
    } cases[] = {{0, 1, 0, 0, 0},        {37259, 10, 1, 2, 5},    {14400, 0.1, 40, 0, 0},
                 {17280, 0.1, 48, 0, 0}, {17281, 0.1, 48, 0, 10}, {323273, 0.1, 897, 58, 50}};
    for (const auto& c : cases) {
        setLineCount(c.lines);
        project->setScrollSpeed(0, c.lps, c.lps + 1);
        EXPECT_EQ((std::array{picker.hour(), picker.minute(), picker.second()}), (std::array{c.h, c.m, c.s}))
            << c.lines << " lines at " << c.lps;
    }
    setLineCount(17280);
    project->setScrollSpeed(50, 0, 1);
    picker.setSelected(cw::controls::TimeControl::Field::hour);
    pane->controls().runtimeStepper->setValue(47);
    EXPECT_EQ(picker.hour(), 47);
    EXPECT_DOUBLE_EQ(project->runningTime(), 47 * 3600.0 + 36 * 60) << "was 9:36:00, the hours stepped to 47";
}

// Controls of the Script and Overlay panes used without a new value leave the script unedited:
// the running time taken back as it shows (in whole seconds, not the exact one), the chosen
// alignment clicked again, each pop-up's item chosen again.
TEST_F(SidebarTest, ControlsLeftAsTheyWereMarkNothing) {
    auto script = load<ProjectPropertiesController>();
    auto overlay = load<OverlayController>();
    setLineCount(50);
    project->setScrollSpeed(31, 0.1, 3); // 50.05 s: not a whole second
    project->setHasUnsavedChanges(false);
    const cw::Document before = project->document();
    script->runtimeDidEndEditing();
    const auto& c = script->controls();
    const QRectF center = c.alignmentSelector->segmentRect(1);
    QTest::mouseClick(c.alignmentSelector, Qt::LeftButton, {}, center.center().toPoint());
    const auto& o = overlay->controls();
    for (QComboBox* popUp :
         {o.overlayTypeButton, o.indicatorTypeButton, o.indicatorSizeButton, o.indicatorColorButton})
        emit popUp->activated(popUp->currentIndex());
    EXPECT_TRUE(project->document() == before);
    EXPECT_FALSE(project->hasUnsavedChanges());
}

TEST_F(SidebarTest, OverlayChangesReachDocumentAndSettings) {
    auto pane = load<OverlayController>();
    const auto& c = pane->controls();
    c.overlayAlphaSlider->setValue(40);
    EXPECT_EQ(properties().overlayOpacity, 0.4f);
    EXPECT_EQ(defaults.floatForKey(cw::settings::defaultOverlayOpacity), 0.4f);

    c.overlayTypeButton->setCurrentIndex(2);
    emit c.overlayTypeButton->activated(2);
    EXPECT_EQ(properties().overlayType, cw::OverlayType::highlight);
    EXPECT_EQ(defaults.stringForKey(cw::settings::defaultOverlayType), "highlight");

    c.backgroundImageOpacitySlider->setValue(25);
    EXPECT_EQ(properties().backgroundImageOpacity, 0.25f);
    EXPECT_FALSE(defaults.persistentObject("backgroundImageOpacity")) << "the image is never a setting";

    cw::Document::ScriptProperties p = properties();
    p.indicatorType = cw::IndicatorType::dot;
    p.indicatorColor = cw::IndicatorColor::blue;
    p.indicatorSize = cw::IndicatorSize::large;
    p.indicatorPosition = 0.2f;
    p.showReadingLine = true;
    p.backgroundImage = std::vector<std::uint8_t>{1, 2, 3};
    project->setScriptProperties(p);
    const int assignments = pane->imageAssignments();
    pane->resetIndicator();
    EXPECT_EQ(pane->imageAssignments(), assignments) << "the same picture is not given again";
    const auto& after = properties();
    EXPECT_EQ(after.indicatorType, cw::IndicatorType::arrow);
    EXPECT_EQ(after.indicatorSize, cw::IndicatorSize::medium);
    EXPECT_EQ(after.indicatorColor, cw::IndicatorColor::red);
    EXPECT_EQ(after.indicatorPosition, 0.65f);
    EXPECT_FALSE(after.showReadingLine);
    EXPECT_EQ(after.overlayType, cw::OverlayType::highlight) << "the overlay stays";
    EXPECT_EQ(after.backgroundImage, p.backgroundImage);
    const auto fresh = cw::Document::ScriptProperties::fromUserDefaults(defaults);
    EXPECT_EQ(std::tuple(fresh.indicatorType, fresh.indicatorPosition, fresh.showReadingLine),
              std::tuple(cw::IndicatorType::arrow, 0.65f, false));
    EXPECT_EQ(c.indicatorTypeButton->currentIndex(), 1);
}

// A chosen picture is stored but not switched on; an unreadable one clears it; cancelling keeps it.
TEST_F(SidebarTest, BackgroundImageFromDisk) {
    auto dialogs = std::make_shared<platform::FakeFileDialogs>();
    platform::setFileDialogs(dialogs);
    QImage(4, 4, QImage::Format_RGB32).save(QString::fromStdString((dir / "picture.png").string()));
    QFile(QString::fromStdString((dir / "text.png").string())).open(QIODevice::WriteOnly);
    ASSERT_EQ(::mkfifo((dir / "pipe.png").c_str(), 0600), 0);
    testsupport::StuckOpenGuard guard(dir / "pipe.png");
    auto pane = load<OverlayController>();
    const struct {
        const char* file; // null: cancelled
        bool stored;
    } cases[] = {{"picture.png", true}, {nullptr, true}, {"text.png", false}, {"pipe.png", false}};
    for (const auto& c : cases) {
        if (c.file)
            dialogs->answerOpen({QString::fromStdString((dir / c.file).string())});
        pane->selectBackgroundImageFromDisk();
        EXPECT_EQ(properties().backgroundImage.has_value(), c.stored) << (c.file ? c.file : "cancelled");
        EXPECT_EQ(pane->shownImage(), properties().backgroundImage);
        EXPECT_FALSE(properties().showBackgroundImage);
    }
    EXPECT_TRUE(guard.finish()) << "reading the pipe waited for a writer";

    // The chooser offers images by that name, from the pictures folder, else from home.
    const QByteArray home = qgetenv("HOME");
    const QByteArray config = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", QByteArray::fromStdString((dir / "home").string()));
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((dir / "home" / "config").string()));
    for (const bool hasPictures : {false, true}) {
        std::filesystem::create_directories(dir / "home" / (hasPictures ? "Pictures" : "."));
        pane->selectBackgroundImageFromDisk();
        EXPECT_EQ(dialogs->openPanels().back().filterLabel, QStringLiteral("Images"));
        EXPECT_EQ(std::filesystem::path(dialogs->openPanels().back().directory.toStdString()),
                  hasPictures ? dir / "home" / "Pictures" : dir / "home")
            << hasPictures;
    }
    qputenv("HOME", home);
    qputenv("XDG_CONFIG_HOME", config);
    platform::setFileDialogs(nullptr);
}

// Every "Reset" of both panes is no taller than its title, takes a click at its centre in the
// shown sidebar, and puts its settings back: it lies above the section divider that shares its place.
TEST_F(SidebarTest, EveryResetButtonTakesItsClickAndResets) {
    using P = cw::Document::ScriptProperties;
    const P fresh = properties();
    const struct {
        Editor::Mode pane;
        const char* action;
        std::function<void(P&)> change;
        std::function<bool()> isReset;
    } cases[] = {
        {Editor::Mode::script,
         "resetBackgroundColor:", [](P& p) { p.backgroundColor = platform::Color::yellow(); },
         [&] { return properties().backgroundColor == fresh.backgroundColor; }},
        {Editor::Mode::script,
         "resetTextcolor:",
         {},
         [&] { return project->editor().typingAttributes.textColor == cw::defaultTextColor(defaults); }},
        {Editor::Mode::script,
         "resetFont:",
         {},
         [&] { return project->editor().typingAttributes.font.family == cw::defaultFont(defaults).family; }},
        {Editor::Mode::script, "resetPrompterMargin:",
         [](P& p) {
             p.prompterMargin = 0.4f;
             p.prompterMarginAlignment = 0.5f;
         },
         [&] { return properties().prompterMargin == 0.1f && properties().prompterMarginAlignment == 0.0f; }},
        {Editor::Mode::script, "resetWordCountFactor:", [](P& p) { p.prompterWordCountFactor = 0.9f; },
         [&] { return properties().prompterWordCountFactor == 0.5f; }},
        {Editor::Mode::script,
         "resetScrollSpeed:",
         {},
         [&] {
             return speed() == cw::Document::SpeedProperties{31.0, 0.1, 3.0};
         }},
        {Editor::Mode::overlay, "resetOverlay:",
         [](P& p) {
             p.overlayType = cw::OverlayType::blackOut;
             p.overlayOpacity = 0.3f;
         },
         [&] {
             return properties().overlayType == cw::OverlayType::none && properties().overlayOpacity == 1.0f;
         }},
        {Editor::Mode::overlay, "resetIndicator:",
         [](P& p) {
             p.indicatorType = cw::IndicatorType::dot;
             p.indicatorPosition = 0.2f;
         },
         [&] {
             return properties().indicatorType == cw::IndicatorType::arrow &&
                    properties().indicatorPosition == 0.65f;
         }},
    };
    auto sidebar = std::make_shared<SidebarController>(project, defaults, center);
    QWidget* view = sidebar->view();
    view->resize(260, 1000);
    view->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view));
    for (const auto& c : cases) {
        P p = properties();
        if (c.change)
            c.change(p);
        project->setScriptProperties(p);
        project->setScrollSpeed(80, 1, 5);
        Editor editor = project->editor();
        editor.typingAttributes.textColor = platform::Color::fromQColor(Qt::magenta);
        editor.typingAttributes.font = platform::Font{QStringLiteral("Serif Nowhere"), 20};
        editor.mode = c.pane; // the sidebar shows the pane of the editor's mode
        project->setEditor(editor);
        QApplication::processEvents(); // the scroll view fits the pane to its width
        ASSERT_FALSE(c.isReset()) << c.action;

        cw::controls::LabelButton* button = nullptr;
        for (auto* candidate : view->findChildren<cw::controls::LabelButton*>())
            if (candidate->isVisible() && candidate->actionBinding().action == c.action)
                button = candidate;
        ASSERT_TRUE(button) << c.action;
        // Its title is drawn at its top: a button stretched to its row's height sits above the row's label.
        EXPECT_LE(button->height(), button->sizeHint().height()) << c.action << " fills its row";
        const QPoint centre = button->mapTo(view, button->rect().center());
        QWidget* hit = view->childAt(centre);
        EXPECT_EQ(hit, button) << c.action << " is covered by "
                               << (hit ? hit->metaObject()->className() : "nothing");
        ASSERT_TRUE(hit);
        QTest::mouseClick(hit, Qt::LeftButton, {}, hit->mapFrom(view, centre));
        EXPECT_TRUE(c.isReset()) << c.action;
    }
}

// The panel opened by "Font…" lists the script's size as the script counts it.
TEST_F(SidebarTest, TheFontPanelListsTheScriptsOwnSize) {
    Editor editor = project->editor();
    editor.typingAttributes.font = platform::Font{QStringLiteral("DejaVu Sans"), 34};
    project->setEditor(editor);
    auto pane = load<ProjectPropertiesController>();
    pane->view()->show();
    pane->controls().fontButton->click();
    auto* panel = pane->view()->findChild<QFontDialog*>();
    ASSERT_TRUE(panel && panel->isVisible());
    EXPECT_EQ(panel->currentFont().pointSizeF(), 34);
    panel->close();
}

TEST_F(SidebarTest, ScreenshotsOfScriptAndOverlayPanes) {
    const QString folder = editortest::screenshotFolder();
    ASSERT_FALSE(folder.isEmpty());
    project->setAverageWordsPerLine(6.4);
    Editor editor = project->editor();
    editor.lineCount = 180;
    editor.typingAttributes.font = platform::Font{QStringLiteral("DejaVu Sans"), 34};
    project->setEditor(editor);
    QImage picture(320, 180, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixelColor(x, y,
                                  QColor::fromHsvF(0.6f - float(y) / 900, 0.6f, 0.35f + float(x) / 800));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    cw::Document::ScriptProperties p = properties();
    p.backgroundImage = std::vector<std::uint8_t>(png.begin(), png.end());
    p.showBackgroundImage = true;
    p.overlayType = cw::OverlayType::fadeOut;
    p.overlayOpacity = 0.8f;
    p.showReadingLine = true;
    project->setScriptProperties(p);
    auto sidebar = std::make_shared<SidebarController>(project, defaults, center);
    QWidget* view = sidebar->view();
    view->resize(260, 760);
    view->show();
    for (const Editor::Mode mode : {Editor::Mode::script, Editor::Mode::overlay}) {
        sidebar->showPane(mode);
        QApplication::processEvents(); // the scroll view fits the pane to its width
        for (const auto& s : editortest::lightAndDark) {
            platform::Appearance::applyToWindow(view, s.style);
            const QString name =
                mode == Editor::Mode::script ? QStringLiteral("script") : QStringLiteral("overlay");
            EXPECT_TRUE(view->grab().toImage().save(folder + "/sidebar-" + name + "-" + s.name + ".png"));
        }
    }
}

} // namespace
