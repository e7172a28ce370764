// The panes' loading and saving: labels, refusals, resets, notifications, fallbacks.
#include "settings/SettingsTestSupport.h"

#include "cuewright/controls/ColorWell.h"
#include "cuewright/remote/RemoteServerStatus.h"
#include "cuewright/settings/GeneralSettingsViewController.h"
#include "cuewright/settings/KeysSettingsController.h"
#include "cuewright/settings/NetworkSettingsViewController.h"
#include "cuewright/settings/ScriptSettingsController.h"
#include "platform/defaults/ArchivedValues.h"
#include "platform/keys/KeyCodes.h"
#include "platform/ui/ColorPanel.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QFontDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTest>

namespace {

using namespace cw;
namespace k = cw::settings;
namespace mod = platform::modifier;
using settingstest::Store;

TEST(GeneralPane, LabelsAndSlidersShowTheStoreWhichLoadingLeavesAlone) {
    struct Case {
        double duration;
        int lineCount;
        double sensitivity;
        const char* durationText;
        const char* lineCountText;
        const char* sensitivityText;
        int sensitivitySlider;
    };
    const Case cases[] = {
        {0.0, 1, 1.0, "instant", "1 line / key press", "x 1.00", 100},
        {0.5, 2, 5.0, "0.50s / line", "2 lines / key press", "x 3.00", 300},
        {1.0, 0, 0.0, "1.00s / line", "0 line / key press", "x 0.01", 1},
    };
    for (const Case& c : cases) {
        Store s;
        s.defaults.set(k::manualScrollingDuration, c.duration);
        s.defaults.set(k::manualScrollingLineCount, c.lineCount);
        s.defaults.set(k::speedSliderSensitivityFactor, c.sensitivity);
        s.defaults.set(k::startupMode, "Bogus");
        GeneralSettingsViewController pane(s.defaults, s.center);
        const auto& ui = pane.controls();
        pane.viewDidAppear();
        EXPECT_EQ(ui.manualScrollLabel->text(), QString::fromUtf8(c.durationText));
        EXPECT_EQ(ui.manualScrollLineCountLabel->text(), QString::fromUtf8(c.lineCountText));
        EXPECT_EQ(ui.speedSliderSensitivityLabel->text(), QString::fromUtf8(c.sensitivityText));
        EXPECT_EQ(ui.speedSliderSensitivity->value(), c.sensitivitySlider);
        EXPECT_EQ(ui.startupMode->currentData().toInt(), 1); // the fallback, CreateNewDocument
        // Leaving without changes posts nothing and rewrites neither the factor nor the mode.
        pane.viewWillDisappear();
        EXPECT_TRUE(s.posted.empty()) << c.durationText;
        EXPECT_EQ(s.defaults.doubleForKey(k::speedSliderSensitivityFactor), c.sensitivity);
        EXPECT_EQ(s.defaults.stringForKey(k::startupMode), "Bogus");
    }
}

TEST(GeneralPane, UserChangesWriteAtOnceAndPostOnlyRealChanges) {
    Store s;
    GeneralSettingsViewController pane(s.defaults, s.center);
    const auto& ui = pane.controls();
    pane.viewDidAppear();
    ui.userInterfaceStyle->setCurrentIndex(2);
    pane.saveUIMode();
    pane.saveUIMode();
    EXPECT_EQ(s.defaults.stringForKey(k::userInterfaceStyle), "UserInterfaceStyleDark");
    EXPECT_EQ(s.count(notifications::uiModeDidSwitch), 1);
    ui.manualScroll->click();
    EXPECT_TRUE(s.defaults.boolForKey(k::manualScrollingEnabled));
    EXPECT_TRUE(ui.manualScrollDuration->isEnabled());
    ui.manualScrollDuration->setValue(50);
    EXPECT_EQ(s.defaults.doubleForKey(k::manualScrollingDuration), 0.5);
    EXPECT_EQ(ui.manualScrollLabel->text(), "0.50s / line");
    // A unit chosen elsewhere shows while the pane is in view.
    setDefaultScrollingSpeedUnit(ScrollingSpeedUnit::wordsPerMinute, s.defaults, s.center);
    EXPECT_EQ(ui.scrollingSpeedUnit->currentIndex(), 3);
}

// Sends a key press to the widget as the window system would, after a ShortcutOverride.
bool pressKey(QWidget* widget, int key, Qt::KeyboardModifiers modifiers, const QString& text = {}) {
    QKeyEvent override(QEvent::ShortcutOverride, key, modifiers, text);
    QApplication::sendEvent(widget, &override);
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QApplication::sendEvent(widget, &press);
    return override.isAccepted();
}

struct KeysPaneFixture : ::testing::Test {
    Store s;
    KeysSettingsController pane{s.defaults, s.center};
    const KeysSettingsController::Controls& ui = pane.controls();
    int beeps = 0;
    std::function<void()> previousBeep = KeyWellButton::setBeep([this] { ++beeps; });
    ~KeysPaneFixture() override { KeyWellButton::setBeep(previousBeep); }

    std::optional<KeyBindings::Key> stored(KeyBindings::Action action) {
        return KeyBindings::load(s.defaults).key(action);
    }
};

TEST_F(KeysPaneFixture, WellsRecordMaskedKeysAndRefuseOnesAlreadyHeld) {
    KeyWellButton* play = ui.wells[0];
    KeyWellButton* rewind = ui.wells[1];
    play->setChecked(true);
    EXPECT_TRUE(pressKey(play, Qt::Key_Shift, Qt::ShiftModifier)); // recording takes shortcuts...
    EXPECT_TRUE(play->isRecording());                              // ...but a modifier alone ends nothing
    pressKey(play, Qt::Key_K, Qt::ControlModifier, "k");
    EXPECT_FALSE(play->isRecording());
    // Stored with the device-independent bits only (the translation adds 0x100).
    EXPECT_EQ(stored(KeyBindings::Action::playPause), (KeyBindings::Key{platform::keycode::k, mod::command}));
    EXPECT_EQ(play->text(), "Ctrl+K");
    EXPECT_EQ(s.count(notifications::keyBindingsDidChange), 1);
    EXPECT_EQ(s.count(notifications::backgroundEventListeningDidChange), 1);

    s.posted.clear();
    rewind->setChecked(true);
    pressKey(rewind, Qt::Key_K, Qt::ControlModifier, "k");
    EXPECT_EQ(beeps, 1);
    EXPECT_FALSE(rewind->isRecording());
    EXPECT_EQ(rewind->text(), KeyWellButton::notAssignedTitle());
    EXPECT_EQ(ui.refusal->text(), "Ctrl+K is the key of “Play / Pause”; choose another key.");
    EXPECT_TRUE(s.posted.empty());
    EXPECT_EQ(stored(KeyBindings::Action::rewind), std::nullopt);

    rewind->setChecked(true);
    pressKey(rewind, Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier, "K");
    EXPECT_EQ(beeps, 1);
    EXPECT_EQ(stored(KeyBindings::Action::rewind),
              (KeyBindings::Key{platform::keycode::k, mod::command | mod::shift}));
    EXPECT_EQ(rewind->text(), "Ctrl+Shift+K");

    // A well re-recording its own key is accepted; an idle well takes no key.
    play->setChecked(true);
    pressKey(play, Qt::Key_K, Qt::ControlModifier, "k");
    EXPECT_EQ(beeps, 1);
    EXPECT_FALSE(pressKey(ui.wells[2], Qt::Key_J, Qt::NoModifier, "j"));
}

// Escape alone ends recording and the well keeps its key: nothing is stored, nothing beeps, and
// the key reaches no one else (the window would close on it). Escape with a modifier is a key
// like any other. A key recorded with Caps Lock on is stored and shown without it, and is the
// same key as without it.
TEST_F(KeysPaneFixture, EscapeCancelsRecordingAndCapsLockIsNoPartOfAKey) {
    constexpr quint32 lockMask = 2, controlMask = 4; // X11 modifier state
    const auto nativePress = [](QWidget* well, int key, Qt::KeyboardModifiers modifiers, quint32 x11Keycode,
                                quint32 x11State) {
        QKeyEvent override(QEvent::ShortcutOverride, key, modifiers, x11Keycode, 0, x11State);
        QApplication::sendEvent(well, &override);
        QKeyEvent press(QEvent::KeyPress, key, modifiers, x11Keycode, 0, x11State);
        QApplication::sendEvent(well, &press);
        return override.isAccepted() && press.isAccepted();
    };
    KeyWellButton* play = ui.wells[0];
    KeyWellButton* rewind = ui.wells[1];
    play->setChecked(true);
    EXPECT_TRUE(nativePress(play, Qt::Key_K, Qt::ControlModifier, 45, controlMask | lockMask));
    const KeyBindings::Key ctrlK{platform::keycode::k, mod::command};
    EXPECT_EQ(stored(KeyBindings::Action::playPause), ctrlK);
    EXPECT_EQ(play->text(), "Ctrl+K");
    rewind->setChecked(true);
    nativePress(rewind, Qt::Key_K, Qt::ControlModifier, 45, controlMask);
    EXPECT_EQ(beeps, 1) << "Ctrl+K with and without Caps Lock were taken as two keys";
    EXPECT_EQ(stored(KeyBindings::Action::rewind), std::nullopt);

    s.posted.clear();
    for (const quint32 lock : {0u, lockMask}) {
        play->setChecked(true);
        EXPECT_TRUE(nativePress(play, Qt::Key_Escape, Qt::NoModifier, 9, lock));
        EXPECT_FALSE(play->isRecording());
        EXPECT_EQ(play->key(), ctrlK);
        EXPECT_EQ(play->text(), "Ctrl+K");
    }
    EXPECT_EQ(stored(KeyBindings::Action::playPause), ctrlK);
    EXPECT_TRUE(s.posted.empty());
    EXPECT_EQ(beeps, 1);
    rewind->setChecked(true);
    pressKey(rewind, Qt::Key_Escape, Qt::ShiftModifier);
    EXPECT_EQ(stored(KeyBindings::Action::rewind), (KeyBindings::Key{platform::keycode::escape, mod::shift}));

    // A stored binding that carries the Caps Lock bit shows without it, and is that key.
    KeyBindings bindings;
    bindings.incSpeed = KeyBindings::Key{platform::keycode::j, mod::option | mod::capsLock};
    bindings.save(s.defaults, s.center);
    pane.loadBindings();
    EXPECT_EQ(ui.wells[2]->text(), "Alt+J");
    ui.wells[3]->setChecked(true);
    pressKey(ui.wells[3], Qt::Key_J, Qt::AltModifier);
    EXPECT_EQ(beeps, 2);
    EXPECT_EQ(stored(KeyBindings::Action::decSpeed), std::nullopt);
}

// The editor keeps the standard editing keys for editing: recording one is refused with a beep and
// a word why, and the next accepted key clears the word.
TEST_F(KeysPaneFixture, StandardEditingKeysAreRefusedWithAWordWhy) {
    KeyWellButton* play = ui.wells[0];
    for (const auto& [key, modifiers] :
         {std::pair{Qt::Key_C, Qt::KeyboardModifiers(Qt::ControlModifier)},
          std::pair{Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier},
          std::pair{Qt::Key_Left, Qt::KeyboardModifiers(Qt::ControlModifier)}}) {
        play->setChecked(true);
        pressKey(play, key, modifiers);
        EXPECT_FALSE(play->isRecording());
        EXPECT_EQ(stored(KeyBindings::Action::playPause), std::nullopt);
        EXPECT_TRUE(ui.refusal->text().contains("editing")) << ui.refusal->text().toStdString();
    }
    EXPECT_EQ(beeps, 3);
    play->setChecked(true);
    pressKey(play, Qt::Key_F7, Qt::ControlModifier);
    EXPECT_EQ(play->text(), "Ctrl+F7");
    EXPECT_TRUE(ui.refusal->text().isEmpty());
}

// Qt's warnings while the pane is built and used: none about sizes. A refusal's line takes room kept
// for it: the wells' rows stay where they were, as tall as they ask to be.
std::vector<QString> qtWarnings;
void keepWarning(QtMsgType, const QMessageLogContext&, const QString& message) {
    qtWarnings.push_back(message);
}

TEST(KeysPane, TheRefusalLineTakesNoRoomFromTheWellsAndNothingWarnsOfSizes) {
    qtWarnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(keepWarning);
    {
        Store s;
        KeysSettingsController pane{s.defaults, s.center};
        const KeysSettingsController::Controls& ui = pane.controls();
        pane.view()->show();
        ui.backgroundEvents->click();
        QApplication::processEvents();
        std::vector<QRect> rows;
        for (const KeyWellButton* well : ui.wells)
            rows.push_back(well->geometry());
        ui.wells[0]->setChecked(true);
        QTest::keyClick(ui.wells[0], Qt::Key_C, Qt::ControlModifier);
        ASSERT_FALSE(ui.refusal->text().isEmpty());
        QApplication::processEvents();
        for (std::size_t i = 0; i < ui.wells.size(); ++i) {
            EXPECT_EQ(ui.wells[i]->geometry(), rows[i]) << i;
            EXPECT_GE(ui.wells[i]->height(), ui.wells[i]->sizeHint().height()) << i;
        }
        EXPECT_GE(ui.refusal->height(), ui.refusal->heightForWidth(ui.refusal->width()));
    }
    qInstallMessageHandler(previous);
    for (const QString& warning : qtWarnings)
        EXPECT_FALSE(warning.contains("size", Qt::CaseInsensitive)) << warning.toStdString();
}

TEST_F(KeysPaneFixture, ResetTagsClearExactlyTheirWellAndEverySavePostsBoth) {
    for (int tag = 0; tag <= 12; ++tag) {
        for (std::size_t i = 0; i < ui.wells.size(); ++i)
            ui.wells[i]->setKey(KeyBindings::Key{static_cast<std::uint16_t>(i), mod::option | 0x100});
        s.posted.clear();
        pane.resetBinding(tag);
        const KeyBindings bindings = KeyBindings::load(s.defaults);
        for (std::size_t i = 0; i < ui.wells.size(); ++i) {
            const bool cleared = static_cast<int>(i) + 1 == tag;
            const auto key = bindings.key(static_cast<KeyBindings::Action>(i));
            EXPECT_EQ(ui.wells[i]->key().has_value(), !cleared) << "tag " << tag << " well " << i;
            EXPECT_EQ(key, cleared ? std::nullopt
                                   : std::optional(KeyBindings::Key{std::uint16_t(i), mod::option}));
        }
        EXPECT_EQ(s.count(notifications::keyBindingsDidChange), 1) << tag;
        EXPECT_EQ(s.count(notifications::backgroundEventListeningDidChange), 1) << tag;
    }
    EXPECT_EQ(KeyBindings::load(s.defaults).name, "Custom Bindings");
}

TEST(ScriptPane, DamagedDataShowsFallbacksAndResetsStoreTheFactoryValues) {
    Store s;
    s.defaults.set(k::defaultBackgroundColor, platform::Data{1, 2, 3});
    s.defaults.set(k::defaultTextColor, "not a colour");
    s.defaults.set(k::defaultFont, platform::Data{'C', 'W', 'F', 'N'});
    ScriptSettingsController pane(s.defaults, s.center);
    const auto& ui = pane.controls();
    pane.viewDidAppear();
    EXPECT_EQ(ui.backgroundColorWell->color(), QColor(Qt::black));
    EXPECT_EQ(ui.textColorWell->color(), QColor(Qt::yellow));
    const platform::Font system = platform::Font::systemFont(34);
    EXPECT_EQ(ui.fontButton->text(), system.family + QChar(0x2026));
    EXPECT_EQ(defaultFont(s.defaults), system);
    pane.viewWillDisappear();
    EXPECT_EQ(s.defaults.dataForKey(k::defaultFont), (platform::Data{'C', 'W', 'F', 'N'})); // not rewritten
    EXPECT_EQ(s.defaults.dataForKey(k::defaultBackgroundColor), (platform::Data{1, 2, 3}));

    // A colour picked for a well is stored at once, through the well's action.
    ui.textColorWell->activate(true);
    platform::ColorPanel::shared().dialog()->setCurrentColor(QColor(255, 0, 0));
    ui.textColorWell->deactivate();
    EXPECT_EQ(defaultTextColor(s.defaults), platform::Color(1, 0, 0));

    pane.resetTextColor();
    EXPECT_EQ(platform::archivedColor(s.defaults, k::defaultTextColor, {}),
              platform::ArchivedColor::sRGB(0.95, 0.96, 0.90, 1.0));
    pane.resetBackgroundColor();
    EXPECT_EQ(defaultBackgroundColor(s.defaults), platform::Color(0.01, 0.03, 0.08, 1.0));
    QFont bold = system.toQFont();
    bold.setBold(true);
    pane.saveFont(bold);
    EXPECT_EQ(ui.fontButton->text(), system.family + " Bold" + QChar(0x2026));
    EXPECT_TRUE(s.posted.empty());
}

// The font panel lists and takes the application's own sizes: the stored 34 shows as 34, and a
// size typed or picked in the panel is the size stored.
TEST(ScriptPane, TheFontPanelShowsAndStoresTheSizesTheApplicationUses) {
    Store s;
    ScriptSettingsController pane(s.defaults, s.center);
    pane.viewDidAppear();
    ASSERT_EQ(defaultFont(s.defaults).pointSize, 34);
    pane.controls().fontButton->click();
    QFontDialog* panel = pane.fontDialog();
    ASSERT_TRUE(panel && panel->isVisible());
    QLineEdit* sizeField = nullptr;
    for (QLineEdit* field : panel->findChildren<QLineEdit*>())
        if (field->validator()) // the size field takes numbers only
            sizeField = field;
    ASSERT_TRUE(sizeField);
    EXPECT_EQ(sizeField->text(), "34");

    sizeField->selectAll();
    QTest::keyClicks(sizeField, "48");
    EXPECT_EQ(defaultFont(s.defaults).pointSize, 48);

    // The size list is the panel's last list; a row chosen there is stored as it reads.
    const auto lists = panel->findChildren<QListView*>();
    ASSERT_FALSE(lists.isEmpty());
    QListView* sizes = lists.back();
    const QModelIndexList twenty = sizes->model()->match(sizes->model()->index(0, 0), Qt::DisplayRole, "20");
    ASSERT_EQ(twenty.size(), 1);
    sizes->setCurrentIndex(twenty.front());
    EXPECT_EQ(defaultFont(s.defaults).pointSize, 20);
    EXPECT_EQ(pane.controls().fontButton->text(),
              ScriptSettingsController::fontTitle(defaultFont(s.defaults)));

    // Shown again, the panel lists what is stored.
    panel->close();
    pane.controls().fontButton->click();
    EXPECT_EQ(sizeField->text(), "20");
    panel->close();
}

// Under the switch the pane says whether the server runs, and why not when it failed (its port
// taken by another copy, say).
TEST(RemotePane, SaysWhyTheServerIsNotRunning) {
    Store s;
    s.defaults.set(k::isBonjourEnabled, true);
    NetworkSettingsViewController pane("Desk", s.defaults, s.center);
    const auto shown = [&](cw::RemoteServerStatus status) {
        cw::setRemoteServerStatus(std::move(status));
        s.center.post(std::string(cw::remoteServerStatusDidChange));
        return pane.controls().serverStatus->text().toStdString();
    };
    EXPECT_EQ(shown({cw::RemoteServerStatus::State::failed, 19824, "Address already in use"}),
              "The remote-control server is not running on port 19824: Address already in use. Choose "
              "another port under Port below.");
    EXPECT_EQ(shown({cw::RemoteServerStatus::State::running, 50123, {}}),
              "The remote-control server is running on port 50123.");
    const std::string unseen = "No controller can find this copy: ";
    EXPECT_EQ(shown({cw::RemoteServerStatus::State::nameInUse, 50123, "Studio"}),
              unseen + "the name “Studio” is already in use on the network. Choose another name.");
    EXPECT_EQ(shown({cw::RemoteServerStatus::State::nameTooLong, 50123, std::string(64, 'x')}),
              unseen + "its name is 64 bytes long, and a name on the network holds at most 63 (accented "
                       "and non-Latin letters take two or more). Choose a shorter name.");
    QLabel* note = pane.controls().serverStatus;
    EXPECT_GE(note->height(), note->heightForWidth(note->width())) << "room for every line in the pane";
    EXPECT_EQ(shown({cw::RemoteServerStatus::State::noDiscovery, 50123, "the Avahi daemon is not running"}),
              unseen + "network discovery is not available (the Avahi daemon is not running).");
    EXPECT_EQ(shown({cw::RemoteServerStatus::State::notAnnounced, 50123, "Invalid service name"}),
              unseen + "it could not be announced on the network (Invalid service name).");
    EXPECT_EQ(shown({cw::RemoteServerStatus::State::announcing, 0, {}}),
              "Announcing this copy on the network…");
    shown({cw::RemoteServerStatus::State::nameInUse, 50123, "Studio"});
    pane.view()->grab().save(settingstest::screenshotFolder("remote") + "/remote-pane-name-in-use.png");
    pane.controls().enableRemoteControl->click();
    EXPECT_EQ(pane.controls().serverStatus->text(), "") << "switched off";
    cw::setRemoteServerStatus({});
}

// Return in the name field on the name that is in use asks for it again (the copy that held it
// may have let it go); on a name that works, or with the remote control off, it asks nothing.
TEST(RemotePane, ReturnOnTheNameInUseAsksForItAgain) {
    Store s;
    s.defaults.set(k::isBonjourEnabled, true);
    s.defaults.set(k::bonjourName, std::string("Studio"));
    int posted = 0;
    s.center.addObserver(std::string(NetworkSettingsViewController::networkStateDidChange),
                         [&](const auto&) { ++posted; });
    NetworkSettingsViewController pane("Desk", s.defaults, s.center);
    const auto& ui = pane.controls();
    pane.viewDidAppear();
    using State = cw::RemoteServerStatus::State;
    const struct {
        State state;
        bool enabled;
        const char* typed; // nullptr: the field as it is
        int posts;
    } cases[] = {
        {State::nameInUse, true, nullptr, 1},
        {State::nameInUse, true, "Studio", 1}, // typed again, the same
        {State::running, true, nullptr, 0},
        {State::nameInUse, false, nullptr, 0},
        {State::nameInUse, true, "Studio B", 1}, // a new name: saved, and so announced
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.typed ? c.typed : "(as it is)") + (c.enabled ? "" : ", switched off"));
        ui.enableRemoteControl->setChecked(c.enabled);
        cw::setRemoteServerStatus({c.state, 50123, "Studio"});
        if (c.typed != nullptr) {
            ui.networkName->clear();
            QTest::keyClicks(ui.networkName, c.typed);
        }
        posted = 0;
        QTest::keyClick(ui.networkName, Qt::Key_Return);
        EXPECT_EQ(posted, c.posts);
    }
    EXPECT_EQ(s.defaults.stringForKey(k::bonjourName), "Studio B");
    cw::setRemoteServerStatus({});
}

TEST(RemotePane, NameAndSwitchPostInOrderAndAnEmptiedNameShowsTheComputers) {
    struct Seen {
        bool enabled;
        std::string name;
    };
    Store s;
    std::vector<Seen> seen;
    s.center.addObserver(std::string(NetworkSettingsViewController::networkStateDidChange), [&](const auto&) {
        seen.push_back(
            {s.defaults.boolForKey(k::isBonjourEnabled), *s.defaults.stringForKey(k::bonjourName)});
    });
    NetworkSettingsViewController pane("Studio Mac", s.defaults, s.center);
    const auto& ui = pane.controls();
    pane.viewDidAppear();
    EXPECT_EQ(ui.networkName->text(), "Studio Mac");
    pane.viewWillDisappear();
    ui.presenterSupport->click();
    EXPECT_TRUE(seen.empty()); // no change, then presenter support: nothing posted
    EXPECT_FALSE(s.defaults.persistentObject(k::bonjourName)) << "the name left as it was is not written";
    EXPECT_FALSE(s.defaults.boolForKey(k::isPresenterSupportEnabled));

    ui.networkName->setText("");
    pane.viewWillDisappear();
    EXPECT_EQ(s.defaults.stringForKey(k::bonjourName), "");
    EXPECT_EQ(ui.networkName->text(), "Studio Mac");
    ASSERT_EQ(seen.size(), 1u);

    seen.clear();
    ui.enableRemoteControl->setChecked(false);
    ui.networkName->setText("Stage Left");
    pane.viewWillDisappear();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_FALSE(seen[0].enabled);
    EXPECT_EQ(seen[0].name, ""); // the switch first, the name still the old one
    EXPECT_EQ(seen[1].name, "Stage Left");
    ui.port->setValue(19825); // another port: the server again
    pane.viewWillDisappear();
    EXPECT_EQ(seen.size() == 3 ? s.defaults.integerForKey(k::bonjourKey) : 0, 19825);
}

} // namespace
