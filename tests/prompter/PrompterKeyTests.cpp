// The prompter surface's keyboard: custom bindings first, then presenter keys, then fixed keys.
#include "cuewright/prompter/PrompterKeyHandler.h"

#include "cuewright/model/KeyBindings.h"
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/prompter/LineUpDownLayer.h"
#include "cuewright/prompter/PrompterView.h"
#include "cuewright/prompter/PrompterViewDelegate.h"
#include "cuewright/prompter/RewindControlLayer.h"
#include "cuewright/prompter/SpeedControlLayer.h"
#include "cuewright/prompter/TransportControlLayer.h"
#include "platform/keys/KeyCodes.h"
#include "prompter/PrompterTestSupport.h"
#include "prompter/WindowTestSupport.h"
#include "support/BindingKeyCases.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QTest>

#include <string>
#include <vector>

using cw::KeyBindings;
using platform::KeyEvent;
namespace kc = platform::keycode;
namespace mod = platform::modifier;
namespace settings = cw::settings;

namespace {

constexpr platform::ModifierFlags plain = 0x100;
constexpr platform::ModifierFlags function = 0x800100;
constexpr platform::ModifierFlags arrow = 0xA00100;

using cwtest::RecordingDelegate;
const auto factor = RecordingDelegate::factor;
const auto speed = RecordingDelegate::speed;

KeyEvent key(kc::KeyCode code, platform::ModifierFlags flags, KeyEvent::Type type = KeyEvent::Type::keyDown) {
    KeyEvent event;
    event.type = type;
    event.keyCode = code;
    event.modifierFlags = flags;
    return event;
}

// A key as Qt delivers it without a native scan code.
void sendKey(QWidget* target, QEvent::Type type, int qtKey,
             Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QKeyEvent event(type, qtKey, modifiers);
    QCoreApplication::sendEvent(target, &event);
}

void keyClick(QWidget* target, int qtKey, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    sendKey(target, QEvent::KeyPress, qtKey, modifiers);
    sendKey(target, QEvent::KeyRelease, qtKey, modifiers);
}

class PrompterKeyTest : public ::testing::Test {
protected:
    PrompterKeyTest() {
        view->setText(cwtest::script(300, 10));
        view->layoutText();
        view->setScrollPosition(0.5, false, true);
        view->setDelegate(delegate);
    }

    bool down(kc::KeyCode code, platform::ModifierFlags flags) { return handler->keyDown(key(code, flags)); }
    bool up(kc::KeyCode code, platform::ModifierFlags flags) {
        return handler->keyUp(key(code, flags, KeyEvent::Type::keyUp));
    }
    bool press(kc::KeyCode code, platform::ModifierFlags flags) {
        const bool d = down(code, flags);
        return up(code, flags) && d;
    }
    void bind(KeyBindings::Action action, kc::KeyCode code, platform::ModifierFlags modifiers = 0) {
        KeyBindings bindings = KeyBindings::load(s.defaults);
        bindings.key(action) = KeyBindings::Key{code, modifiers};
        bindings.save(s.defaults, s.center);
    }
    void play(bool playing = true) {
        cw::PrompterTransport t = view->transportState();
        t.status = playing ? cw::PrompterTransport::Status::playing : cw::PrompterTransport::Status::stopped;
        view->setTransportState(t);
    }
    const platform::layers::Layer& layer(cw::PrompterControl control) const {
        switch (control) {
        case cw::PrompterControl::transport:
            return view->controls().transportLayer();
        case cw::PrompterControl::rewind:
            return view->controls().rewindLayer();
        case cw::PrompterControl::lineUp:
            return view->controls().lineUpLayer();
        default:
            return view->controls().lineDownLayer();
        }
    }
    bool keyHeld() const { return view->controls().isHeld(cw::PrompterControlPanel::PressSource::key); }
    static bool isPressed(const platform::layers::Layer& layer) {
        return layer.backgroundColor() == QColor::fromRgbF(1, 0, 0, 0.5);
    }
    static bool isReleased(const platform::layers::Layer& layer) {
        return layer.backgroundColor() == QColor::fromRgbF(0, 0, 0, 0.5);
    }

    windowtests::Settings s;
    std::unique_ptr<cw::PrompterView> view = cwtest::makeView(800, 600);
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
    cw::PrompterKeyHandler* handler = new cw::PrompterKeyHandler(view.get(), s.defaults, s.center);
};

// ---- fixed keys ----

// Each fixed and presenter key tints its control while down and acts on release: a line step goes
// back (-1) or on (1) from the reading position while stopped, and sets the direction while playing.
// Caps Lock's light changes nothing: a clicker's keys work with it on.
TEST_F(PrompterKeyTest, FixedAndPresenterKeysTintTheirControlAndActOnRelease) {
    using C = cw::PrompterControl;
    const struct {
        kc::KeyCode key;
        platform::ModifierFlags flags;
        bool playing;
        C control;
        std::string call;
        int direction;
    } cases[] = {
        {kc::space, plain, false, C::transport, "play", 0},
        {kc::space, plain, true, C::transport, "pause", 0},
        {kc::deleteKey, plain, false, C::rewind, "rewind", 0},
        {kc::upArrow, arrow, false, C::lineUp, "scroll", -1},
        {kc::downArrow, arrow, false, C::lineDown, "scroll", 1},
        {kc::upArrow, arrow, true, C::lineUp, factor(-1.0), 0},
        {kc::downArrow, arrow, true, C::lineDown, factor(1.0), 0},
        {kc::f5, function, false, C::transport, "play", 0},
        {kc::b, plain, true, C::transport, "pause", 0},
        {kc::b, plain, false, C::rewind, "rewind", 0},
        {kc::pageUp, function, false, C::lineUp, "scroll", -1},
        {kc::pageDown, function, false, C::lineDown, "scroll", 1},
        {kc::pageUp, function, true, C::lineUp, factor(-1.0), 0},
        {kc::pageDown, function, true, C::lineDown, factor(1.0), 0},
    };
    for (const auto& c : cases) {
        for (const platform::ModifierFlags lock : {platform::ModifierFlags(0), mod::capsLock}) {
            SCOPED_TRACE(std::to_string(c.key) + (c.playing ? " playing" : " stopped") +
                         (lock ? " with Caps Lock on" : ""));
            play(c.playing);
            delegate->calls.clear();
            delegate->targets.clear();
            EXPECT_TRUE(down(c.key, c.flags | lock));
            EXPECT_TRUE(isPressed(layer(c.control)));
            EXPECT_TRUE(keyHeld());
            EXPECT_TRUE(delegate->calls.empty());
            EXPECT_TRUE(up(c.key, c.flags | lock));
            EXPECT_FALSE(keyHeld());
            EXPECT_TRUE(c.playing || isReleased(layer(c.control))); // while playing the direction is lit
            EXPECT_EQ(delegate->calls, std::vector<std::string>{c.call});
            if (c.direction != 0) {
                ASSERT_EQ(delegate->targets.size(), 1u);
                EXPECT_EQ(delegate->targets[0] > 0.5, c.direction > 0) << delegate->targets[0];
                EXPECT_NE(delegate->targets[0], 0.5);
            }
        }
    }
}

TEST_F(PrompterKeyTest, LineStepsMoveByTheManualLineCountAndUAndJJumpFour) {
    press(kc::downArrow, arrow);
    s.defaults.set(settings::manualScrollingLineCount, 3);
    press(kc::downArrow, arrow);
    // U and J jump four lines on key-down only.
    EXPECT_TRUE(down(kc::u, plain));
    EXPECT_FALSE(up(kc::u, plain));
    EXPECT_TRUE(down(kc::j, plain));
    EXPECT_FALSE(up(kc::j, plain));
    ASSERT_EQ(delegate->targets.size(), 4u);
    const double line = delegate->targets[0] - 0.5;
    EXPECT_GT(delegate->targets[1] - 0.5, 2.5 * line);
    EXPECT_LT(delegate->targets[2], 0.5);
    EXPECT_GT(delegate->targets[3], 0.5);
}

TEST_F(PrompterKeyTest, WAndSStepTheSpeedOnKeyDownAndSaturate) {
    view->controls().setScrollSpeed(50.0);
    for (const kc::KeyCode code : {kc::w, kc::s, kc::u, kc::j}) { // Caps Lock on changes nothing
        EXPECT_TRUE(down(code, plain | mod::capsLock)) << code;
    }
    EXPECT_EQ(delegate->calls, (std::vector<std::string>{speed(52.5), speed(50), "scroll", "scroll"}));
    delegate->calls.clear();
    view->controls().setScrollSpeed(98.0);
    EXPECT_TRUE(down(kc::w, plain));
    EXPECT_DOUBLE_EQ(view->controls().speedLayer().scrollSpeed(), 100.0);
    EXPECT_TRUE(up(kc::w, plain));   // claimed, nothing more
    EXPECT_TRUE(down(kc::w, plain)); // a repeat at the bound: told again
    EXPECT_DOUBLE_EQ(view->controls().speedLayer().scrollSpeed(), 100.0);
    EXPECT_EQ(delegate->calls, (std::vector<std::string>{speed(100), speed(100)}));

    view->controls().setScrollSpeed(1.0);
    down(kc::s, plain);
    down(kc::s, plain);
    EXPECT_DOUBLE_EQ(view->controls().speedLayer().scrollSpeed(), 0.0);
    EXPECT_EQ(delegate->calls.back(), speed(0));
    EXPECT_TRUE(up(kc::s, plain));
}

TEST_F(PrompterKeyTest, AnyHeldModifierMakesFixedKeysNotMatchAndTheRestAreClaimedWithoutADelegate) {
    EXPECT_FALSE(press(kc::space, plain | mod::shift));
    EXPECT_FALSE(down(kc::upArrow, arrow | mod::option));
    EXPECT_FALSE(down(kc::w, plain | mod::capsLock | mod::shift));
    EXPECT_FALSE(down(kc::space, 0)); // without the device bit ordinary events carry
    EXPECT_FALSE(down(kc::q, plain));
    EXPECT_TRUE(delegate->calls.empty());
    // Listed keys are claimed even when the delegate is gone.
    delegate.reset();
    EXPECT_TRUE(press(kc::space, plain));
    EXPECT_TRUE(down(kc::w, plain));
    EXPECT_TRUE(down(kc::j, plain));
}

// ---- presentation remotes ----

TEST_F(PrompterKeyTest, PresenterKeysGoOnWhenPresenterSupportIsOff) {
    s.defaults.set(settings::isPresenterSupportEnabled, false);
    EXPECT_FALSE(down(kc::f5, function));
    EXPECT_FALSE(up(kc::f5, function));
    EXPECT_FALSE(press(kc::b, plain));
    EXPECT_FALSE(press(kc::pageUp, function));
    EXPECT_TRUE(delegate->calls.empty());
    bind(KeyBindings::Action::playPause, kc::f5, mod::function); // recorded with its key-kind flag
    EXPECT_TRUE(down(kc::f5, function));                         // a binding still takes it
}

// ---- custom bindings ----

TEST_F(PrompterKeyTest, BindingOnAFixedKeyWinsOverItsFixedMeaning) {
    bind(KeyBindings::Action::rewind, kc::space);
    EXPECT_TRUE(down(kc::space, plain));
    EXPECT_TRUE(isPressed(view->controls().rewindLayer()));
    EXPECT_EQ(delegate->calls, std::vector<std::string>{"rewind"}); // on key-down by default
    EXPECT_TRUE(up(kc::space, plain));
    EXPECT_EQ(delegate->calls, std::vector<std::string>{"rewind"});
    EXPECT_FALSE(view->transportState().isPlaying());
}

TEST_F(PrompterKeyTest, BindingsMatchTheirModifiersOnly) {
    bind(KeyBindings::Action::jumpNextBookmark, kc::n, mod::command);
    EXPECT_FALSE(down(kc::n, plain));
    EXPECT_TRUE(down(kc::n, plain | mod::command));
    EXPECT_TRUE(down(kc::n, plain | mod::command | mod::capsLock)); // Caps Lock is no modifier held
    EXPECT_EQ(delegate->calls, (std::vector<std::string>{"next", "next"}));
    // Shift-Space matches no fixed key, but a binding on it takes it.
    bind(KeyBindings::Action::jumpPrevBookmark, kc::space, mod::shift);
    EXPECT_TRUE(down(kc::space, plain | mod::shift));
    EXPECT_EQ(delegate->calls.back(), "previous");
}

TEST_F(PrompterKeyTest, OneShotActionsMoveToKeyUpWhenAskedAndRepeatOnKeyDown) {
    s.defaults.set(settings::performCustomBindingActionOnKeyDown, false);
    bind(KeyBindings::Action::playPause, kc::p);
    EXPECT_TRUE(down(kc::p, plain));
    EXPECT_TRUE(isPressed(view->controls().transportLayer()));
    EXPECT_TRUE(delegate->calls.empty());
    EXPECT_TRUE(up(kc::p, plain));
    EXPECT_EQ(delegate->calls, std::vector<std::string>{"play"});
    // On key-down a held play/pause binding toggles on every repeat.
    s.defaults.set(settings::performCustomBindingActionOnKeyDown, true);
    for (int i = 0; i < 3; ++i) {
        down(kc::p, plain);
    }
    EXPECT_EQ(delegate->calls, (std::vector<std::string>{"play", "pause", "play", "pause"}));
}

// Every action's key, pressed and repeated, with Alt going up before a second repeat or after the
// key's release.
TEST_F(PrompterKeyTest, EveryActionRunsAsTheActionTableSays) {
    bindingcases::allBound().save(s.defaults, s.center);
    const platform::ModifierFlags alt = plain | bindingcases::modifier;
    bindingcases::forEachCase([&](const bindingcases::Case& c, bool onKeyDown, bool altFirst) {
        s.defaults.set(settings::performCustomBindingActionOnKeyDown, onKeyDown);
        delegate->calls.clear();
        std::string seen;
        // What the view told its delegate is the run of the event's edge.
        const auto step = [&](const char* edge, bool claimed) {
            EXPECT_TRUE(claimed);
            seen += delegate->calls.empty() ? "." : edge;
            delegate->calls.clear();
        };
        step("D", down(c.key, alt));
        KeyEvent repeat = key(c.key, alt);
        repeat.isARepeat = true;
        step("D", handler->keyDown(repeat));
        repeat.modifierFlags = altFirst ? plain : alt;
        step("D", handler->keyDown(repeat));
        step("U", up(c.key, altFirst ? plain : alt));
        EXPECT_EQ(seen, bindingcases::inPrompter(onKeyDown ? c.onKeyDown : c.onKeyUp));
    });
}

TEST_F(PrompterKeyTest, FastWindingActsWhileHeldAndReleasesToForwards) {
    bind(KeyBindings::Action::ffwd, kc::f);
    bind(KeyBindings::Action::bbwd, kc::r, mod::control);
    down(kc::f, plain);
    EXPECT_EQ(delegate->calls.back(), factor(5.0));
    EXPECT_TRUE(up(kc::f, plain));
    EXPECT_EQ(delegate->calls.back(), factor(1.0));
    down(kc::r, plain | mod::control);
    EXPECT_EQ(delegate->calls.back(), factor(-5.0));
    // Control goes up before R: the release still ends the winding.
    EXPECT_TRUE(up(kc::r, plain));
    EXPECT_EQ(delegate->calls.back(), factor(1.0));
    EXPECT_EQ(delegate->calls.size(), 4u);
}

// A release belongs to its press: a wind ends when the view loses the focus (its key-up will reach
// another window), and a key-up whose press was no binding's is nobody's, whatever is held by then.
TEST_F(PrompterKeyTest, AHeldWindEndsWithTheFocusAndAReleaseBelongsToItsPress) {
    bind(KeyBindings::Action::ffwd, kc::f);
    keyClick(view.get(), Qt::Key_Space);
    sendKey(view.get(), QEvent::KeyPress, Qt::Key_F);
    EXPECT_EQ(delegate->calls.back(), factor(5.0));
    QFocusEvent focusOut(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QCoreApplication::sendEvent(view.get(), &focusOut);
    EXPECT_EQ(delegate->calls.back(), factor(1.0)) << "the wind went on without the focus";
    const std::size_t calls = delegate->calls.size();
    sendKey(view.get(), QEvent::KeyRelease, Qt::Key_F);
    EXPECT_EQ(delegate->calls.size(), calls) << "the late release acted again";

    // Running backwards; F (now unbound) goes down, then Alt; F comes up with Alt+F bound.
    bind(KeyBindings::Action::ffwd, kc::f, mod::option);
    sendKey(view.get(), QEvent::KeyPress, Qt::Key_F);
    sendKey(view.get(), QEvent::KeyPress, Qt::Key_Alt, Qt::AltModifier);
    sendKey(view.get(), QEvent::KeyRelease, Qt::Key_F, Qt::AltModifier);
    sendKey(view.get(), QEvent::KeyRelease, Qt::Key_Alt);
    EXPECT_EQ(delegate->calls.size(), calls) << "F's release acted as Alt+F's";

    // Back after F went up elsewhere, Qt marks its next press as a repeat: a new wind all the same.
    QCoreApplication::sendEvent(view.get(), &focusOut);
    QKeyEvent again(QEvent::KeyPress, Qt::Key_F, Qt::AltModifier, QString(), /*autorep=*/true);
    again.setTimestamp(5000);
    QCoreApplication::sendEvent(view.get(), &again);
    EXPECT_EQ(delegate->calls.back(), factor(5.0)) << "the press after a hold released elsewhere was lost";
}

// A view closed with the keyboard just after a key-up, which the translation holds back a moment
// (an X11 repeat may follow): the focus it loses on the way delivers it while the control's
// layers still live.
TEST_F(PrompterKeyTest, AViewClosedAsAKeyComesUpReleasesItsControlWhileItLives) {
    view->show();
    view->activateWindow();
    view->setFocus();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    ASSERT_EQ(QApplication::focusWidget(), view.get());
    for (const QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
        QKeyEvent event(type, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
        event.setTimestamp(1000);
        QCoreApplication::sendEvent(view.get(), &event);
    }
    ASSERT_TRUE(keyHeld()) << "the key-up was not held back";
    view.reset();
    EXPECT_EQ(delegate->calls, std::vector<std::string>{"play"}) << "the key-up was lost";
}

// A bound key wins over the window's menu shortcuts (Ctrl+D is the menus' Insert Bookmark).
TEST_F(PrompterKeyTest, BoundKeysTakeTheShortcutOverrideOthersLeaveIt) {
    bind(KeyBindings::Action::playPause, kc::d, mod::command);
    for (const auto& [key, bound] : {std::pair{Qt::Key_D, true}, std::pair{Qt::Key_E, false}}) {
        QKeyEvent override(QEvent::ShortcutOverride, key, Qt::ControlModifier);
        override.ignore();
        QCoreApplication::sendEvent(view.get(), &override);
        EXPECT_EQ(override.isAccepted(), bound) << key;
    }
    EXPECT_TRUE(delegate->calls.empty()) << "the override only keeps the key; the press acts";
}

TEST_F(PrompterKeyTest, ReverseNegatesTheViewsFactorAndSpeedBindingsStep) {
    bind(KeyBindings::Action::reverse, kc::v);
    bind(KeyBindings::Action::incSpeed, kc::equal);
    cw::PrompterTransport t = view->transportState();
    t.ffwdFactor = 1.0;
    view->setTransportState(t);
    down(kc::v, plain);
    EXPECT_TRUE(isPressed(view->controls().lineUpLayer()));
    EXPECT_EQ(delegate->calls.back(), factor(-1.0));
    view->controls().setScrollSpeed(50);
    down(kc::equal, plain);
    EXPECT_EQ(delegate->calls.back(), speed(52.5));
    EXPECT_TRUE(up(kc::equal, plain)); // nothing more on release
    EXPECT_EQ(delegate->calls.size(), 2u);
}

TEST_F(PrompterKeyTest, SavedBindingsReachTheControlsHints) {
    EXPECT_FALSE(view->controls().keyHints().spaceBound);
    bind(KeyBindings::Action::playPause, kc::space);
    EXPECT_TRUE(view->controls().keyHints().spaceBound);
    EXPECT_EQ(view->controls().keyHints().playPause,
              QString::fromStdString(KeyBindings::keyString(kc::space)));
    // Keys are named the Linux way, Ctrl for the stored command flag.
    bind(KeyBindings::Action::playPause, kc::f7, platform::modifier::command | platform::modifier::function);
    bind(KeyBindings::Action::rewind, kc::p, platform::modifier::option);
    EXPECT_EQ(view->controls().keyHints().playPause, "Ctrl+F7");
    EXPECT_EQ(view->controls().keyHints().rewind, "Alt+P");
    cwtest::resizeView(*view, 1280, 900);
    cwtest::saveImage(view->grab().toImage(), "key-hints");
}

// ---- from Qt's key events ----

TEST_F(PrompterKeyTest, QtKeyEventsRunTheChain) {
    keyClick(view.get(), Qt::Key_Space);
    EXPECT_EQ(delegate->calls, std::vector<std::string>{"play"});
    keyClick(view.get(), Qt::Key_Space, Qt::ShiftModifier);
    EXPECT_EQ(delegate->calls.size(), 1u);
    keyClick(view.get(), Qt::Key_Up);
    EXPECT_EQ(delegate->calls.back(), factor(-1.0));
    keyClick(view.get(), Qt::Key_Backspace);
    EXPECT_EQ(delegate->calls.back(), "rewind");
    sendKey(view.get(), QEvent::KeyPress, Qt::Key_W);
    EXPECT_EQ(delegate->calls.back(), speed(view->controls().speedLayer().scrollSpeed()));
    sendKey(view.get(), QEvent::KeyRelease, Qt::Key_W);
    keyClick(view.get(), Qt::Key_F5);
    EXPECT_EQ(delegate->calls.back(), "pause");
}

TEST_F(PrompterKeyTest, HeldSpaceTogglesOnceThoughX11RepeatsItUnmarked) {
    // X11's repeat of a held key: a release and a press at the same server time, here unmarked.
    const auto send = [&](QEvent::Type type, int time) {
        QKeyEvent event(type, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
        event.setTimestamp(static_cast<quint64>(time));
        QCoreApplication::sendEvent(view.get(), &event);
    };
    send(QEvent::KeyPress, 1000);
    for (int time = 1500; time < 1700; time += 40) {
        send(QEvent::KeyRelease, time);
        send(QEvent::KeyPress, time);
    }
    EXPECT_TRUE(delegate->calls.empty());
    send(QEvent::KeyRelease, 1800);
    // The last release is real: it arrives when its grace period ends.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !delegate->calls.empty(); }, 60000));
    EXPECT_EQ(delegate->calls, std::vector<std::string>{"play"});
}

TEST_F(PrompterKeyTest, UnclaimedQtKeysGoOnToTheParent) {
    QWidget parent;
    view->setParent(&parent);
    struct Catcher : QObject {
        int keys = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            keys += event->type() == QEvent::KeyPress ? 1 : 0;
            return false;
        }
    } catcher;
    parent.installEventFilter(&catcher);
    keyClick(view.get(), Qt::Key_Q);
    keyClick(view.get(), Qt::Key_Space);
    EXPECT_EQ(catcher.keys, 1);
    view->setParent(nullptr);
}

} // namespace
