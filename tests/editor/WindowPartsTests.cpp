// The editor window's parts around the editor: transport buttons and row, status bar, bookmark column.
#include "cuewright/controls/NormalSlider.h"
#include "cuewright/controls/TransportArtwork.h"
#include "cuewright/controls/TransportButton.h"
#include "cuewright/editor/BookmarkListController.h"
#include "cuewright/editor/StatusbarController.h"
#include "cuewright/editor/TransportController.h"
#include "cuewright/model/Project.h"
#include "cuewright/model/SettingsKeys.h"
#include "platform/defaults/Defaults.h"
#include "platform/defaults/NotificationCenter.h"
#include "platform/text/TextAttributes.h"
#include "platform/ui/Appearance.h"

#include "controls/ControlTestSupport.h"
#include "support/TempDir.h"

#include "ScreenshotSupport.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

#include <set>

using namespace std::chrono_literals;
using cw::controls::TransportButton;
using cw::controls::TransportButtonStyle;
using cw::editor::BookmarkListController;
using cw::editor::StatusbarController;
using cw::editor::TransportController;
using platform::AttributedString;

namespace {

// A project whose editor has laid out `text` one line per "\n"-separated line, padded to
// `lineCount` lines. As in the editor, the line table is published before the text arrives.
void layOut(cw::Project& project, const AttributedString& text, int lineCount) {
    cw::Editor editor = project.editor();
    editor.lineRanges.clear();
    const QString& string = text.string();
    int start = 0;
    for (int line = 1; start <= string.size() && line <= lineCount; ++line) {
        const int end = string.indexOf(u'\n', start);
        const int stop = end < 0 ? int(string.size()) : end + 1;
        editor.lineRanges.push_back({line, {start, stop - start}});
        start = stop + (end < 0 ? 1 : 0);
    }
    editor.lineCount = lineCount;
    project.setEditor(editor);
    project.setText(text);
}

class WindowPartsTest : public ::testing::Test {
protected:
    WindowPartsTest()
        : defaults(platform::Defaults::Options{dir / "defaults.json", 1h, {}})
        , project(cw::Project::create(defaults)) {
        window.resize(760, 320);
        new QVBoxLayout(&window);
    }
    ~WindowPartsTest() override { project->pause(); }

    void show(QWidget* view) {
        window.layout()->addWidget(view);
        ASSERT_TRUE(controltest::activate(window));
    }
    TransportButton* showButton() {
        auto* button = new TransportButton;
        button->setFixedSize(28, 22);
        show(button);
        return button;
    }

    testsupport::TempDir dir;
    platform::Defaults defaults;
    platform::NotificationCenter center;
    std::shared_ptr<cw::Project> project;
    QWidget window;
};

// Counts the actions a button sends and whether it was held at each.
struct Recorder : controltest::CountingResponder {
    Recorder()
        : CountingResponder("act") {}
    void performAction(std::string_view action, QObject* sender) override {
        CountingResponder::performAction(action, sender);
        heldAtSend.push_back(static_cast<TransportButton*>(sender)->isActive());
    }
    std::vector<bool> heldAtSend;
};

TEST_F(WindowPartsTest, TransportButtonNamesItsImageByStyleStateAndAppearance) {
    TransportButton loose;
    EXPECT_EQ(loose.glyphImageName(), "transport_playForward_disabled") << "in no window";
    for (auto [text, style] : {std::pair{"Play", TransportButtonStyle::play},
                               std::pair{"pauseforward", TransportButtonStyle::play}, // case matters
                               std::pair{"pauseForward", TransportButtonStyle::pauseForward}}) {
        loose.setStringStyle(text);
        EXPECT_EQ(loose.style(), style) << text;
    }
    EXPECT_EQ(loose.stringStyle(), "pauseForward");

    TransportButton* button = showButton();
    QWidget other;
    // The main window's cases first: the other window stays main once it is.
    const struct {
        TransportButtonStyle style;
        bool main, pressed, drawnEnabled, dark;
        const char* name;
    } cases[] = {
        {TransportButtonStyle::play, true, false, true, false, "transport_playForward_normal"},
        {TransportButtonStyle::ffwd, true, true, true, false, "transport_faster_active"},
        {TransportButtonStyle::stop, true, false, false, false, "transport_stop_disabled"},
        {TransportButtonStyle::pauseBack, true, false, true, true, "transport_pauseBackward_normal_HS"},
        {TransportButtonStyle::bbwd, true, true, true, true, "transport_slower_active_HS"},
        {TransportButtonStyle::rewind, false, false, true, false, "transport_beginning_disabled"},
        {TransportButtonStyle::endwind, false, false, true, true, "transport_ending_disabled_HS"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(controltest::activate(c.main ? window : other)) << c.name;
        platform::Appearance::applyToWindow(&window, c.dark ? platform::AppearanceStyle::dark
                                                            : platform::AppearanceStyle::light);
        button->setStyle(c.style);
        button->setDrawnEnabled(c.drawnEnabled);
        if (c.pressed)
            QTest::mousePress(button, Qt::LeftButton, {}, QPoint(5, 5));
        EXPECT_EQ(button->glyphImageName(), c.name);
        const QImage artwork = cw::controls::transportArtwork(button->glyphImageName(), QSize(28, 22));
        EXPECT_FALSE(artwork.isNull()) << c.name;
        // Light artwork outside the main window is washed out; everything else is drawn as named.
        EXPECT_EQ(button->glyphImage(QSize(28, 22)) == artwork, c.main || c.dark) << c.name;
        if (c.pressed)
            QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(5, 5));
    }
    EXPECT_FALSE(cw::controls::transportArtwork("transport_schwatte_HS", QSize(200, 26)).isNull());
    EXPECT_TRUE(cw::controls::transportArtwork("transport_unknown_normal", QSize(28, 22)).isNull());
}

// An ordinary button acts once on a release inside; a fast-wind one acts on the press and on
// every release that ends its press, inside or not, so a hold always ends.
TEST_F(WindowPartsTest, TransportButtonSendsOnReleaseAndFastWindOnBothEdges) {
    const QPoint inside(10, 10), outside(200, 10);
    const struct {
        TransportButtonStyle style;
        QPoint release;
        std::vector<bool> heldAtSend;
    } cases[] = {
        {TransportButtonStyle::play, inside, {false}},
        {TransportButtonStyle::play, outside, {}},
        {TransportButtonStyle::ffwd, inside, {true, false}},
        {TransportButtonStyle::ffwd, outside, {true, false}},
        {TransportButtonStyle::bbwd, outside, {true, false}},
    };
    TransportButton* button = showButton();
    for (const auto& c : cases) {
        Recorder recorder;
        button->setStyle(c.style);
        button->setActionBinding({&recorder, "act"});
        QTest::mousePress(button, Qt::LeftButton, {}, inside);
        EXPECT_TRUE(button->isActive());
        QTest::mouseRelease(button, Qt::LeftButton, {}, c.release);
        EXPECT_FALSE(button->isActive());
        EXPECT_EQ(recorder.heldAtSend, c.heldAtSend)
            << button->stringStyle().toStdString() << " " << c.release.x();
    }
}

TEST_F(WindowPartsTest, TransportRowFollowsStateAndDrivesTheProject) {
    layOut(*project, AttributedString(QStringLiteral("one\ntwo\n")), 100);
    auto controller = TransportController::create(project);
    show(controller->view());
    using B = TransportController::Button;
    using S = TransportButtonStyle;
    auto click = [&](B which) { QTest::mouseClick(&controller->button(which), Qt::LeftButton); };

    const struct {
        const char* name;
        B click;
        bool playing;
        double factor;
        S backplay, pause, play;
        const char *backplayAction, *pauseAction, *playAction;
    } steps[] = {
        {"play backward", B::backplay, true, -1, S::pauseBack, S::pause, S::play, "pause", "pause", "play"},
        {"turn forward", B::play, true, 1, S::backPlay, S::pause, S::pauseForward, "playBackwards", "pause",
         "pause"},
        {"pause forward", B::play, false, 1, S::backPlay, S::stop, S::play, "playBackwards", "stop", "play"},
        {"play again", B::play, true, 1, S::backPlay, S::pause, S::pauseForward, "playBackwards", "pause",
         "pause"},
        {"pause", B::pause, false, 1, S::backPlay, S::stop, S::play, "playBackwards", "stop", "play"},
    };
    EXPECT_EQ(controller->button(B::pause).style(), S::stop) << "stopped at first";
    for (const auto& s : steps) {
        click(s.click);
        const cw::TransportState state = project->transportState();
        EXPECT_EQ(state.isPlaying(), s.playing) << s.name;
        EXPECT_EQ(state.ffwdFactor, s.factor) << s.name;
        EXPECT_EQ(controller->button(B::backplay).style(), s.backplay) << s.name;
        EXPECT_EQ(controller->button(B::pause).style(), s.pause) << s.name;
        EXPECT_EQ(controller->button(B::play).style(), s.play) << s.name;
        EXPECT_EQ(controller->button(B::backplay).actionBinding().action, s.backplayAction) << s.name;
        EXPECT_EQ(controller->button(B::pause).actionBinding().action, s.pauseAction) << s.name;
        EXPECT_EQ(controller->button(B::play).actionBinding().action, s.playAction) << s.name;
    }

    click(B::endwind);
    EXPECT_EQ(project->transportState().progress, 1.0);
    click(B::rewind);
    EXPECT_EQ(project->transportState().progress, 0.0);
    project->setProgress(0.5, false, true);
    click(B::play);
    click(B::pause); // the stop button now, as playback was paused
    click(B::pause);
    EXPECT_FALSE(project->transportState().isPlaying());
    EXPECT_EQ(project->transportState().progress, 0.0) << "stop rewinds";
}

// Holding a fast-wind button winds at ±5; letting go anywhere, even outside the button, goes
// back to 1 forward.
TEST_F(WindowPartsTest, FastWindEndsWhereverTheMouseGoesUp) {
    auto controller = TransportController::create(project);
    show(controller->view());
    using B = TransportController::Button;
    const struct {
        B button;
        double held;
        QPoint release;
    } cases[] = {{B::ffwd, 5, {10, 10}}, {B::ffwd, 5, {400, -30}}, {B::bbwd, -5, {-50, 10}}};
    for (const auto& c : cases) {
        QTest::mousePress(&controller->button(c.button), Qt::LeftButton, {}, QPoint(10, 10));
        EXPECT_EQ(project->transportState().ffwdFactor, c.held);
        QTest::mouseRelease(&controller->button(c.button), Qt::LeftButton, {}, c.release);
        EXPECT_EQ(project->transportState().ffwdFactor, 1.0) << "released at " << c.release.x();
    }
    // A hold that never sees its release ends when the row goes away.
    QTest::mousePress(&controller->button(B::ffwd), Qt::LeftButton, {}, QPoint(10, 10));
    controller->view()->hide();
    EXPECT_EQ(project->transportState().ffwdFactor, 1.0);
    EXPECT_FALSE(controller->button(B::ffwd).isActive());
}

// Line and times, dimmed with the window out of focus.
TEST_F(WindowPartsTest, StatusbarShowsLineAndTimes) {
    window.resize(1000, 320); // room to spare around the transport row, as in most windows
    auto status = StatusbarController::create(project, defaults, center);
    show(status->view());
    EXPECT_EQ(status->lineCountLabel().text(), "0 / 0 Lines") << "an empty script";
    EXPECT_EQ(status->timestampLabel().text(), "00:00:00.0");
    EXPECT_EQ(status->runtimeLabel().text(), "00:00:00.0");
    EXPECT_TRUE(status->lineCountLabel().alignment() & Qt::AlignRight);

    const struct {
        int lines;
        double progress;
        const char* label;
    } cases[] = {{240, 0, "1 / 240 Lines"},
                 {240, 0.5, "120 / 240 Lines"},
                 {240, 1, "240 / 240 Lines"},
                 {10, 0.5, "5 / 10 Lines"}};
    std::set<int> transportAt; // in one script, wherever the position: the row never moves under the pointer
    for (const auto& c : cases) {
        layOut(*project, AttributedString(QStringLiteral("text")), c.lines);
        project->setProgress(c.progress, false, true);
        EXPECT_EQ(status->lineCountLabel().text(), c.label);
        if (c.lines == 240) {
            status->view()->layout()->activate();
            transportAt.insert(status->transportAnchorView().x());
        }
    }
    EXPECT_EQ(transportAt.size(), 1u);
    // 10 lines at 1 line per second, half way.
    project->setScrollSpeed(50, 0.5, 1.5);
    EXPECT_EQ(status->runtimeLabel().text(), "00:00:10.0");
    EXPECT_EQ(status->timestampLabel().text(), "00:00:05.0");
    project->setScrollSpeed(0, 0, 0);
    EXPECT_EQ(status->runtimeLabel().text(), "00:00:00.0") << "no speed, no running time";

    // The times are dimmed while the window is not the active one; the speed never is.
    const auto alpha = [&] { return status->timestampLabel().palette().color(QPalette::WindowText).alpha(); };
    EXPECT_EQ(alpha(), 255);
    QWidget other;
    ASSERT_TRUE(controltest::activate(other));
    EXPECT_LT(alpha(), 255);
    EXPECT_EQ(status->scrollSpeedLabel().palette().color(QPalette::WindowText).alpha(), 255);
    ASSERT_TRUE(controltest::activate(window));
    EXPECT_EQ(alpha(), 255);
}

TEST_F(WindowPartsTest, StatusbarSpeedUnitsSwitchEveryBarTogether) {
    project->setAverageWordsPerLine(4);
    project->setScrollSpeed(50, 1, 3); // 2 lines per second
    defaults.set(cw::settings::defaultScrollingSpeedUnit, std::string("furlongs"));
    auto first = StatusbarController::create(project, defaults, center);
    auto second = StatusbarController::create(project, defaults, center);
    show(first->view());
    second->view();
    const struct {
        const char* stored;
        const char *speed, *min, *max;
    } units[] = {
        {"furlongs", "2.00 Lines/Sec", "1.00", "3.00"},
        {"linesperminute", "120.00 Lines/Min", "60.00", "180.00"},
        {"wordspersecond", "~8.00 Words/Sec", "4.00", "12.00"},
        {"wordsperminute", "~480.00 Words/Min", "240.00", "720.00"},
        {"linespersecond", "2.00 Lines/Sec", "1.00", "3.00"},
    };
    for (const auto& u : units) {
        EXPECT_EQ(defaults.stringForKey(cw::settings::defaultScrollingSpeedUnit), u.stored);
        for (auto* bar : {first.get(), second.get()}) {
            EXPECT_EQ(bar->scrollSpeedLabel().text(), u.speed);
            EXPECT_EQ(bar->scrollSpeedMinLabel().text(), u.min);
            EXPECT_EQ(bar->scrollSpeedMaxLabel().text(), u.max);
        }
        QTest::mouseClick(&first->scrollSpeedLabel(), Qt::LeftButton);
    }

    // The slider's ends store 0 and 100 percent; the read-out shows the range's ends.
    for (double end : {0.0, 1.0}) {
        first->speedSlider().setValue(end);
        first->changeSpeed();
        EXPECT_EQ(project->document().speedProperties.scrollSpeedPerc, end * 100);
        EXPECT_EQ(second->speedSlider().value(), end);
    }
    EXPECT_EQ(second->scrollSpeedLabel().text(), "180.00 Lines/Min") << "3 lines per second, per minute";
}

// The transport row inside the status bar, light and dark, for a look.
TEST_F(WindowPartsTest, StatusbarScreenshots) {
    const QString folder = editortest::screenshotFolder();
    ASSERT_FALSE(folder.isEmpty());
    layOut(*project, AttributedString(QStringLiteral("one\ntwo\n")), 240);
    project->setScrollSpeed(31, 0.1, 3);
    project->setProgress(0.5, false, true);
    auto status = StatusbarController::create(project, defaults, center);
    window.resize(760, 40);
    window.layout()->setContentsMargins(0, 0, 0, 0);
    show(status->view());
    for (const auto& appearance : editortest::lightAndDark) {
        platform::Appearance::applyToWindow(&window, appearance.style);
        ASSERT_TRUE(controltest::activate(window));
        const QImage shot = window.grab().toImage();
        EXPECT_TRUE(shot.save(folder + "/statusbar-" + appearance.name + ".png"));
    }
}

TEST(BookmarkListLabel, NamesTheLineAndTheNoteOrExcerpt) {
    const struct {
        int line;
        const char *blurb, *excerpt, *label;
    } cases[] = {
        {12, "Intro", "*Whatever", "Line 12: Intro…"},
        {12, "", "*Intro", "Line 12: Intro…"},
        {3, "", "a * b *", "Line 3: a  b …"},
    };
    for (const auto& c : cases) {
        cw::Bookmark bookmark;
        bookmark.line = c.line;
        bookmark.userBlurb = c.blurb;
        bookmark.excerpt = c.excerpt;
        EXPECT_EQ(BookmarkListController::label(bookmark), QString::fromUtf8(c.label));
    }
}

// A text whose lines carry embedded bookmarks (by id) or start with "*".
AttributedString textWithBookmarks(const QStringList& lines, const std::vector<QString>& ids) {
    AttributedString text(lines.join(u'\n'));
    int start = 0;
    for (size_t i = 0; i < size_t(lines.size()); ++i) {
        if (i < ids.size() && !ids[i].isEmpty()) {
            auto object = std::make_shared<platform::EmbeddedBookmark>();
            object->id = ids[i];
            object->userBlurb = QStringLiteral("note ") + ids[i];
            text.addAttribute(platform::CuewrightBookmarkAttributeName, QVariant::fromValue(object),
                              {start, 1});
        }
        start += int(lines[int(i)].size()) + 1;
    }
    return text;
}

TEST_F(WindowPartsTest, BookmarkListJumpsAndKeepsItsSelection) {
    layOut(*project, textWithBookmarks({"*Intro", "two", "three", "four"}, {"", "", "b"}), 100);
    auto list = BookmarkListController::create(project);
    show(list->view());
    ASSERT_EQ(list->bookmarks().size(), 2u);
    EXPECT_EQ(list->tableView().count(), 2);
    EXPECT_EQ(list->cellButton(2), nullptr) << "no row past the end";

    QTest::mouseClick(list->cellButton(0), Qt::LeftButton);
    EXPECT_NEAR(project->transportState().progress, 0.00155, 1e-12);
    EXPECT_EQ(list->tableView().currentRow(), 0);

    // Return jumps to the selection; Delete removes nothing.
    list->tableView().setCurrentRow(1);
    project->setProgress(0.9, false, true);
    QTest::keyClick(&list->tableView(), Qt::Key_Return);
    EXPECT_NEAR(project->transportState().progress, 2.155 / 100, 1e-12);
    QTest::keyClick(&list->tableView(), Qt::Key_Delete);
    EXPECT_EQ(list->bookmarks().size(), 2u);

    // A bookmark added above the selected one: the same bookmark stays selected on its new row.
    layOut(*project, textWithBookmarks({"zero", "*Intro", "two", "three", "four"}, {"a", "", "", "b"}), 100);
    ASSERT_EQ(list->bookmarks().size(), 3u);
    const auto selected = list->tableView().selectionModel()->selectedRows();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(list->bookmarks()[size_t(selected.front().row())].id, "b");
    QListWidget& table = list->tableView();
    EXPECT_EQ(table.itemWidget(table.item(0))->findChild<QLabel*>()->text(), "Line 1: note a…");
}

// A label longer than the column is cut with "…"; the row's jump button stays in sight and takes
// its click, and no horizontal scroll bar appears.
TEST_F(WindowPartsTest, BookmarkListCutsLongLabelsAndKeepsTheJumpButtonInSight) {
    layOut(
        *project,
        textWithBookmarks({QStringLiteral("*") + QString(12, u'x') +
                               QStringLiteral(" an opening line that is much longer than the column is wide"),
                           "two"},
                          {}),
        10);
    auto list = BookmarkListController::create(project);
    window.resize(250, 300);
    show(list->view());
    QListWidget& table = list->tableView();
    ASSERT_EQ(table.count(), 1);
    QLabel* label = list->cellLabel(0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return label->isVisible() && label->width() > 0; }));
    EXPECT_FALSE(table.horizontalScrollBar()->isVisible());
    const QString shown = BookmarkListController::shownText(*label);
    EXPECT_NE(shown, label->text());
    EXPECT_TRUE(shown.endsWith(QChar(0x2026))) << shown.toStdString();
    EXPECT_LE(label->fontMetrics().horizontalAdvance(shown), label->contentsRect().width());

    QToolButton* button = list->cellButton(0);
    const QRect inViewport(button->mapTo(table.viewport(), QPoint(0, 0)), button->size());
    EXPECT_TRUE(table.viewport()->rect().contains(inViewport)) << "the jump button in sight";
    const QPoint centre = button->mapTo(&window, button->rect().center());
    ASSERT_EQ(window.childAt(centre), button);
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_NEAR(project->transportState().progress, 0.0155, 1e-12);
}

TEST_F(WindowPartsTest, BookmarkListContextMenuActsOnTheClickedRowOnly) {
    layOut(*project, textWithBookmarks({"*One", "*Two"}, {}), 10);
    auto list = BookmarkListController::create(project);
    list->view();
    std::vector<int> removedLines;
    list->setBookmarkRemover([&](const cw::Bookmark& bookmark) { removedLines.push_back(bookmark.line); });
    for (auto [row, enabled] : {std::pair{-1, false}, std::pair{2, false}, std::pair{1, true}}) {
        list->setClickedRow(row);
        emit list->contextMenu().aboutToShow();
        for (QAction* action : list->contextMenu().actions())
            EXPECT_EQ(action->isEnabled(), enabled) << row;
        list->deleteClickedBookmark();
        project->setProgress(0.5, false, true);
        list->goToClickedBookmark();
        EXPECT_EQ(project->transportState().progress, enabled ? 1.155 / 10 : 0.5) << row;
    }
    EXPECT_EQ(removedLines, std::vector<int>{2});
}

} // namespace
