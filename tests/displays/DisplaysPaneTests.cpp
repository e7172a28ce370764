// The Displays pane: the list of rows, a row's controls and name field, the prompter switch and
// the pane following displays that come and go.
#include "cuewright/displays/ScreenInfoViewController.h"
#include "cuewright/displays/ScreenListController.h"
#include "cuewright/displays/ScreensController.h"

#include "displays/DisplaysTestSupport.h"
#include "platform/screens/ScreenProvider.h"
#include "platform/ui/Appearance.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QButtonGroup>
#include <QDir>
#include <QFocusEvent>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <limits>

using cw::ScreenDescription;
using cw::ScreenInfoViewController;
using cw::ScreenListController;
using cw::ScreensController;
using cw::TextAlignment;
using testsupport::FakeScreenProvider;

namespace {

class RecordingDelegate : public cw::ScreenInfoControllerDelegate {
public:
    void screenInfoControllerDidChange(const ScreenDescription& s) override { changed.push_back(s); }
    void screenInfoControllerDidToggleScreen(const ScreenDescription& s) override { toggled.push_back(s); }
    std::vector<ScreenDescription> changed;
    std::vector<ScreenDescription> toggled;
};

class DisplaysPaneTest : public ::testing::Test, protected displaytests::Fixture {
protected:
    std::unique_ptr<ScreensController> makePane(bool shown = true) {
        auto pane = std::make_unique<ScreensController>(
            project, ScreensController::Options{provider, opener, identification()});
        pane->view()->resize(240, 700);
        if (shown)
            pane->view()->show();
        return pane;
    }
    static std::vector<std::string> rowUUIDs(const ScreenListController& list) {
        std::vector<std::string> uuids;
        for (const auto& row : list.itemControllers()) {
            uuids.push_back(row->desc().displayUUID);
        }
        return uuids;
    }
    // The attached displays' UUIDs by display id, highest first.
    std::vector<std::string> expectedOrder() const {
        std::vector<platform::ScreenInfo> s = provider->screens();
        std::sort(s.begin(), s.end(), [](const auto& a, const auto& b) { return a.displayID > b.displayID; });
        std::vector<std::string> uuids;
        for (const auto& info : s) {
            uuids.push_back(info.displayUUID);
        }
        return uuids;
    }
};

ScreenDescription description() {
    ScreenDescription d;
    d.name = "DELL U2720Q";
    d.nickname = "Stage left";
    d.displayUUID = "A1B2C3D4-0000-5000-8000-000000000001";
    d.resolutionWidth = 2560;
    d.resolutionHeight = 1440;
    d.textAlignment = TextAlignment::right;
    return d;
}

class DisplayRowTest : public ::testing::Test {
protected:
    DisplayRowTest() {
        row.view();
        row.setDelegate(&delegate);
    }
    ScreenInfoViewController row{description()};
    RecordingDelegate delegate;
};

} // namespace

TEST_F(DisplaysPaneTest, RowsAreSortedByDisplayIdAndTheListIsSizedForThem) {
    provider->setScreens({});
    const struct {
        int displays;
        int preferred;
        int listHeight;
    } cases[] = {{0, 318, 0}, {1, 318, 154}, {2, 318, 316}, {3, 480, 478}, {4, 480, 640}};
    for (const auto& c : cases) {
        std::vector<platform::ScreenInfo> screens;
        for (int i = 0; i < c.displays; ++i) {
            screens.push_back(FakeScreenProvider::display("DP-" + std::to_string(i), "Acme", "Panel",
                                                          "S" + std::to_string(i), 1920, 1080, 1920.0 * i));
        }
        provider->setScreens(screens);
        auto pane = makePane();
        displaytests::processEvents();
        ScreenListController& list = *pane->screenListController();
        EXPECT_EQ(rowUUIDs(list), expectedOrder()) << c.displays;
        EXPECT_EQ(ScreenListController::listHeight(c.displays), c.listHeight);
        EXPECT_EQ(list.preferredListHeight(), c.preferred) << c.displays;
        EXPECT_EQ(pane->listViewAnchor()->height(), c.preferred) << c.displays;
        EXPECT_EQ(pane->otherStuffBox()->y(), pane->listViewAnchor()->geometry().bottom() + 1 + 8);
        EXPECT_GE(list.listView()->height(), c.listHeight);
        if (c.displays > 0) {
            EXPECT_EQ(list.itemControllers().front()->view()->y(), 0);
            EXPECT_EQ(list.itemControllers().back()->view()->geometry().bottom() + 1, c.listHeight);
        }
    }
}

TEST_F(DisplaysPaneTest, ADisplayAddedOrRemovedWhileThePaneIsShownAddsOrRemovesItsRow) {
    auto pane = makePane();
    displaytests::processEvents();
    ASSERT_EQ(pane->screenListController()->itemControllers().size(), 3u);

    auto added = FakeScreenProvider::display("DP-2", "Acme", "Studio 27", "X1", 2560, 1440, 6000);
    provider->attach(added);
    displaytests::processEvents();
    EXPECT_EQ(rowUUIDs(*pane->screenListController()), expectedOrder());
    EXPECT_EQ(pane->listViewAnchor()->height(), 480);

    const std::string laptop = provider->screens()[0].displayUUID;
    provider->detach(laptop);
    provider->detach(added.displayUUID);
    displaytests::processEvents();
    EXPECT_EQ(rowUUIDs(*pane->screenListController()), expectedOrder());
    EXPECT_EQ(pane->listViewAnchor()->height(), 318);

    // Hidden: nothing is rebuilt until the pane shows again.
    pane->view()->hide();
    ScreenListController* before = pane->screenListController();
    provider->attach(added);
    displaytests::processEvents();
    EXPECT_EQ(pane->screenListController(), before);
    pane->view()->show();
    displaytests::processEvents();
    EXPECT_EQ(rowUUIDs(*pane->screenListController()), expectedOrder());
}

TEST_F(DisplaysPaneTest, ADescriptionChangedElsewhereRefreshesOnlyItsRowAndPlaybackStopsIdentifying) {
    auto pane = makePane();
    ScreenListController& list = *pane->screenListController();
    auto& rows = list.itemControllers();
    ScreenDescription changed = rows[1]->desc();
    changed.flipV = true;
    changed.nickname = "Confidence monitor";
    const ScreenDescription first = rows[0]->desc();
    project->editor().screenManager->update(changed);
    EXPECT_EQ(rows[1]->desc(), changed);
    EXPECT_TRUE(rows[1]->flipVButton()->isChecked());
    EXPECT_EQ(rows[1]->screenNameLabel()->text(), "Confidence monitor");
    EXPECT_EQ(rows[0]->desc(), first);

    ScreenDescription unknown = first;
    unknown.displayUUID = "00000000-0000-5000-8000-000000000000";
    project->notifyScreenDescriptionChanged(unknown);
    EXPECT_EQ(rows[0]->desc(), first);

    rows[0]->identifyScreen();
    rows[2]->identifyScreen();
    ASSERT_TRUE(rows[0]->screenIdentificator()->isRunning());
    project->play();
    project->pause();
    for (const auto& row : rows) {
        EXPECT_FALSE(row->screenIdentificator() && row->screenIdentificator()->isRunning());
        EXPECT_FALSE(row->identificatorButton()->isChecked());
    }
    rows[0]->identifyScreen();
    pane->view()->hide();
    EXPECT_FALSE(rows[0]->screenIdentificator()->isRunning());
}

TEST_F(DisplaysPaneTest, TabCyclesThroughTheNameFields) {
    auto pane = makePane();
    QApplication::setActiveWindow(pane->view());
    const auto& rows = pane->screenListController()->itemControllers();
    for (std::size_t i : {0u, 1u, 2u, 0u}) {
        rows[i]->screenNameLabel()->setFocus();
        QTest::keyClick(rows[i]->screenNameLabel(), Qt::Key_Tab);
        EXPECT_TRUE(rows[(i + 1) % 3]->screenNameLabel()->hasFocus()) << i;
    }
}

TEST_F(DisplaysPaneTest, TheSwitchSavesFirstThenTogglesAndNeverClaimsAPrompterThatDidNotOpen) {
    auto pane = makePane();
    auto& row = *pane->screenListController()->itemControllers()[0];
    const std::string uuid = row.desc().displayUUID;

    // Whichever way the display goes on or off, the switch lets go of the keyboard, where Space
    // would switch it again: its click, the prompter's Escape, the remote.
    QCheckBox* box = row.screenCheckbox();
    const auto keepsKeyboard = [&] { return box->window()->focusWidget() == box; };
    box->setFocus();
    ASSERT_TRUE(keepsKeyboard());
    box->click();
    EXPECT_FALSE(keepsKeyboard()) << "on by its click";
    ASSERT_EQ(opener->toggled.size(), 1u);
    EXPECT_TRUE(opener->toggled[0].isActive);
    EXPECT_TRUE(opener->storedWhenToggled[0].isActive); // saved before the toggle
    EXPECT_TRUE(screens().at(uuid).isActive);
    EXPECT_TRUE(box->isChecked());
    for (const bool on : {false, true}) {
        box->setFocus();
        ScreenDescription turned = screens().at(uuid);
        turned.isActive = on;
        project->editor().screenManager->update(turned);
        EXPECT_FALSE(keepsKeyboard()) << (on ? "on" : "off") << " elsewhere";
    }

    // The display went away before the prompter could open: the switch goes back off.
    auto& other = *pane->screenListController()->itemControllers()[1];
    opener->opens = false;
    other.screenCheckbox()->click();
    EXPECT_FALSE(screens().at(other.desc().displayUUID).isActive);
    EXPECT_FALSE(other.screenCheckbox()->isChecked());

    // Neither an opener nor a running shell: nothing can open, so the switch stays off.
    ScreensController alone(project, ScreensController::Options{provider, nullptr, {}});
    alone.view();
    auto& last = *alone.screenListController()->itemControllers()[2];
    last.screenCheckbox()->click();
    EXPECT_FALSE(screens().at(last.desc().displayUUID).isActive);
    EXPECT_FALSE(last.screenCheckbox()->isChecked());
    EXPECT_EQ(opener->toggled.size(), 2u);
}

TEST_F(DisplayRowTest, ResolutionShowsWholePoints) {
    const struct {
        double width, height;
        const char* text;
    } cases[] = {{1440.5, 900, "1440 x 900"},
                 {1920, 1080, "1920 x 1080"},
                 {0.99, 767.999, "0 x 767"},
                 {std::numeric_limits<double>::quiet_NaN(), 800, "0 x 800"}};
    for (const auto& c : cases) {
        EXPECT_EQ(ScreenInfoViewController::resolutionText(c.width, c.height), QString(c.text));
    }
    EXPECT_EQ(row.resolutionLabel()->text(), "2560 x 1440");
}

TEST_F(DisplayRowTest, ControlsShowAndReadTheDescription) {
    EXPECT_EQ(row.alignmentSegment()->checkedId(), 2);
    EXPECT_EQ(row.screenNameLabel()->placeholderText(), "DELL U2720Q");
    EXPECT_FALSE(row.screenCheckbox()->isChecked());

    const struct {
        std::function<QAbstractButton*()> control;
        std::function<bool(const ScreenDescription&)> field;
    } cases[] = {
        {[&] { return row.flipHButton(); }, [](const auto& d) { return d.flipH; }},
        {[&] { return row.flipVButton(); }, [](const auto& d) { return d.flipV; }},
        {[&] { return row.showControlsButton(); }, [](const auto& d) { return d.showControls; }},
        {[&] { return row.showTimestampButton(); }, [](const auto& d) { return d.showTimestamp; }},
        {[&] { return row.showProgressButton(); }, [](const auto& d) { return d.showProgress; }},
    };
    for (const auto& c : cases) {
        const bool before = c.field(row.desc());
        QTest::mouseClick(c.control(), Qt::LeftButton);
        ASSERT_FALSE(delegate.changed.empty());
        EXPECT_EQ(c.field(delegate.changed.back()), !before);
    }
    QTest::mouseClick(row.alignmentSegment()->button(0), Qt::LeftButton);
    EXPECT_EQ(delegate.changed.back().textAlignment, TextAlignment::left);

    // No segment selected: the alignment stays.
    row.alignmentSegment()->setExclusive(false);
    row.alignmentSegment()->button(0)->setChecked(false);
    row.didChangeUI();
    EXPECT_EQ(delegate.changed.back().textAlignment, TextAlignment::left);
    // A mixed check state reads as off.
    row.flipHButton()->setTristate(true);
    row.flipHButton()->setCheckState(Qt::PartiallyChecked);
    row.readUI();
    EXPECT_FALSE(row.desc().flipH);
    EXPECT_TRUE(delegate.toggled.empty());
}

TEST_F(DisplayRowTest, NameFieldSavesOnReturnAndEscapeRestoresTheName) {
    QLineEdit* field = row.screenNameLabel();

    // Entered and left as it was (the focus moving on, Return): no display is written.
    QFocusEvent in(QEvent::FocusIn, Qt::MouseFocusReason);
    QFocusEvent out(QEvent::FocusOut, Qt::MouseFocusReason);
    QApplication::sendEvent(field, &in);
    QApplication::sendEvent(field, &out);
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_TRUE(delegate.changed.empty());

    QTest::keyClicks(field, " B");
    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_EQ(field->text(), "Stage left");
    EXPECT_TRUE(delegate.changed.empty());

    // A description arriving while the name is typed keeps what is typed.
    QTest::keyClicks(field, "!");
    ScreenDescription elsewhere = description();
    elsewhere.flipH = true;
    row.setDesc(elsewhere);
    EXPECT_EQ(field->text(), "Stage left!");
    QTest::keyClick(field, Qt::Key_Return);
    ASSERT_EQ(delegate.changed.size(), 1u);
    EXPECT_EQ(delegate.changed[0].nickname, "Stage left!");
    EXPECT_TRUE(delegate.changed[0].flipH);

    field->selectAll();
    QTest::keyClick(field, Qt::Key_Delete);
    QTest::keyClick(field, Qt::Key_Return);
    ASSERT_EQ(delegate.changed.size(), 2u);
    EXPECT_EQ(delegate.changed[1].nickname, std::nullopt);
    EXPECT_EQ(field->placeholderText(), "DELL U2720Q");
}

TEST_F(DisplaysPaneTest, ScreenshotsInLightAndDark) {
    const char* root = std::getenv("CW_TEST_OUTPUT_DIR");
    const QString folder = QString::fromUtf8(root && *root ? root : "build/debug/test-output") + "/displays";
    ASSERT_TRUE(QDir().mkpath(folder));
    ScreenDescription named = screens().begin()->second;
    named.nickname = "Stage left";
    named.flipH = true;
    project->editor().screenManager->update(named);
    auto pane = makePane(false);
    for (auto [style, name] : {std::pair{platform::AppearanceStyle::light, "light"},
                               std::pair{platform::AppearanceStyle::dark, "dark"}}) {
        platform::Appearance::applyToWindow(pane->view(), style);
        pane->view()->show();
        displaytests::processEvents();
        EXPECT_TRUE(pane->view()->grab().toImage().save(folder + "/displays-" + name + ".png")) << name;
    }
}
