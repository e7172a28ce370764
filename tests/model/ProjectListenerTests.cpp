// Listener registration and delivery: priority order, full passes, threads, weak holding, the
// will-save hand-off, and what the editor and script setters send.
#include "ProjectTestSupport.h"

#include "base/Log.h"
#include "cuewright/model/ScreenManager.h"
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/model/UserDefaults.h"
#include "platform/defaults/ArchivedValues.h"

#include "support/FakeScreenProvider.h"
#include "support/LogCapture.h"

#include <functional>
#include <mutex>
#include <thread>

using namespace projecttest;
using Strings = std::vector<std::string>;
using testsupport::LogCapture;

namespace {

class Listeners : public ProjectTest {
protected:
    Listeners() { project->unregisterEventListener(recorder); }
    std::shared_ptr<Recorder> make(const std::string& name, int priority) {
        auto l = std::make_shared<Recorder>(name, priority, &log);
        project->registerEventListener(l);
        return l;
    }
};

// Runs `f` on a thread other than the main one and waits for it.
template <class F> void offMain(F f) {
    std::thread(f).join();
}

} // namespace

// --- Order -----------------------------------------------------------------------------------

// Equal priorities hear in registration order, and registering twice is once.
TEST_F(Listeners, EachNotificationIsAFullPassInPriorityOrder) {
    auto c = make("C", 10);
    auto a = make("A", 0);
    auto b = make("B", 5);
    auto d = make("D", 10);
    project->registerEventListener(c);
    cw::Editor e = project->editor();
    e.lineCount = 7;
    project->setEditor(e);
    EXPECT_EQ(log, (Strings{"A:lineCount", "B:lineCount", "C:lineCount", "D:lineCount", "A:editor",
                            "B:editor", "C:editor", "D:editor"}));
    EXPECT_EQ(project->sortedEventListeners().size(), 4u);
}

TEST_F(Listeners, PassesFromAnotherThreadKeepTheirOrderOnTheMainThread) {
    auto c = make("C", 10);
    auto a = make("A", 0);
    project->setProgress(0.5, false, true);
    log.clear();
    offMain([&] { project->seekStep(0.5, 0.5, 0); });
    EXPECT_TRUE(log.empty()) << "nothing is called off the main thread";
    EXPECT_TRUE(dispatch::runMainUntil([&] { return log.size() == 6; }, 5s));
    EXPECT_EQ(
        log, (Strings{"A:transport", "C:transport", "A:seekStep", "C:seekStep", "A:jump(a-)", "C:jump(a-)"}));
    EXPECT_EQ(a->offMainThreadCalls.load() + c->offMainThreadCalls.load(), 0);
}

// --- Registration ----------------------------------------------------------------------------

TEST_F(Listeners, UnregisteredAndReleasedListenersHearNothing) {
    auto a = make("A", 0);
    auto b = make("B", 0);
    project->unregisterEventListener(a);
    b.reset();
    project->notifyTransportStateChanged();
    EXPECT_TRUE(log.empty());
    EXPECT_TRUE(project->sortedEventListeners().empty());
    project->unregisterEventListener(a); // not registered: nothing
}

TEST_F(Listeners, AListenerReleasedWhileNotificationsAreQueuedStillGetsThem) {
    auto a = make("A", 0);
    offMain([&] { project->notifyTransportStateChanged(); });
    a.reset();
    dispatch::drainMainQueue();
    EXPECT_EQ(log, Strings{"A:transport"});
    offMain([&] { project->notifyTransportStateChanged(); });
    dispatch::drainMainQueue();
    EXPECT_EQ(log, Strings{"A:transport"});
}

TEST_F(Listeners, RegisteringOffTheMainThreadLogsAndChangesNothing) {
    auto a = make("A", 0);
    auto b = std::make_shared<Recorder>("B", 0, &log);
    LogCapture capture;
    std::thread([&] {
        project->registerEventListener(b);
        project->unregisterEventListener(a);
    }).join();
    EXPECT_EQ(capture.lines(), (Strings{std::string(cw::Project::offMainThreadWarning),
                                        std::string(cw::Project::offMainThreadWarning)}));
    EXPECT_EQ(capture.lines().front(),
              "warn: calling registerEventListener on other thread than main thread!");
    project->notifyTransportStateChanged();
    EXPECT_EQ(log, Strings{"A:transport"});
}

// --- Saving ----------------------------------------------------------------------------------

TEST_F(Listeners, WillSaveFromAWorkerReturnsOnlyAfterEveryListenerHandledIt) {
    auto a = make("A", 0);
    auto b = make("B", 10);
    std::atomic<bool> returned{false};
    std::atomic<int> handledAtReturn{-1};
    std::thread worker([&] {
        project->notifyWillSave();
        handledAtReturn = a->calls.load() + b->calls.load();
        project->notifyDidSave();
        returned = true;
    });
    EXPECT_TRUE(dispatch::runMainUntil([&] { return returned.load() && log.size() == 4; }, 5s));
    worker.join();
    EXPECT_EQ(handledAtReturn.load(), 2);
    EXPECT_EQ(log, (Strings{"A:willSave", "B:willSave", "A:didSave", "B:didSave"}));
    EXPECT_EQ(a->offMainThreadCalls.load() + b->offMainThreadCalls.load(), 0);
}

// --- What the setters send -------------------------------------------------------------------

TEST_F(ProjectTest, AnEditorChangeSendsTypingThenLineCountThenEditorAndNeverMarks) {
    project->setEditor(project->editor());
    EXPECT_EQ(log, Strings{"editor"});
    log.clear();
    cw::Editor e = project->editor();
    e.typingAttributes.font = e.typingAttributes.font.withPointSize(50);
    e.lineCount = 3;
    project->setEditor(e);
    EXPECT_EQ(log, (Strings{"typing", "lineCount", "editor"}));
    EXPECT_FALSE(project->hasUnsavedChanges());
}

TEST_F(ProjectTest, TheDefaultTextColorIsAnnouncedThenTakenIntoTheEditor) {
    defaults.set(cw::settings::defaultTextColor,
                 platform::encodeColor(platform::ArchivedColor::sRGB(0.0, 0.5, 1.0, 1.0)));
    project->applyDefaultTextColor();
    EXPECT_EQ(log, (Strings{"textColor", "typing", "editor"}));
    EXPECT_EQ(recorder->lastColor, platform::Color(0.0, 0.5, 1.0));
    EXPECT_EQ(project->editor().typingAttributes.textColor, recorder->lastColor);
}

// Before the editor has a line height the default font keeps its size.
TEST_F(ProjectTest, TheDefaultFontTakesTheEditorsLineHeight) {
    project->applyDefaultFont();
    EXPECT_EQ(project->editor().typingAttributes.font.pointSize, cw::defaultFont(defaults).pointSize);
    EXPECT_GT(project->editor().typingAttributes.font.pointSize, 0);
    defaults.set(cw::settings::defaultFont,
                 platform::encodeFont(platform::ArchivedFont{"DejaVu Serif", 34.0, true, false}));
    cw::Editor e = project->editor();
    e.lineHeight = 21;
    project->setEditor(e);
    log.clear();
    project->applyDefaultFont();
    EXPECT_EQ(log, (Strings{"font", "typing", "editor"}));
    EXPECT_EQ(recorder->lastFont.family, "DejaVu Serif");
    EXPECT_EQ(recorder->lastFont.pointSize, 21.0);
    EXPECT_TRUE(recorder->lastFont.bold);
    EXPECT_EQ(project->editor().typingAttributes.font, recorder->lastFont);
}

TEST_F(ProjectTest, AnEqualTextMarksAndSendsNothing) {
    project->setText(platform::AttributedString());
    EXPECT_TRUE(log.empty());
    EXPECT_FALSE(project->hasUnsavedChanges());
    project->setText(platform::AttributedString("Good evening."));
    EXPECT_EQ(log, Strings{"text"});
    EXPECT_TRUE(project->hasUnsavedChanges());
    project->setText(platform::AttributedString("Good evening."));
    EXPECT_EQ(log, Strings{"text"});
}

// Each change taken back to the document last saved clears the mark; with the saved document
// unknown (a copy brought back) nothing but a save clears it.
TEST_F(ProjectTest, AChangeTakenBackToTheSavedDocumentClearsTheMark) {
    const cw::Document saved = project->document();
    auto properties = saved.scriptProperties;
    properties.flipVertical = !properties.flipVertical;
    const auto& speed = saved.speedProperties;
    const struct {
        const char* name;
        std::function<void()> change, back;
    } cases[] = {
        {"text", [&] { project->setText(platform::AttributedString("Hello.")); },
         [&] { project->setText(saved.text); }},
        {"properties", [&] { project->setScriptProperties(properties); },
         [&] { project->setScriptProperties(saved.scriptProperties); }},
        {"speed",
         [&] {
             project->setScrollSpeed(speed.scrollSpeedPerc + 1, speed.minScrollSpeedLPS,
                                     speed.maxScrollSpeedLPS);
         },
         [&] {
             project->setScrollSpeed(speed.scrollSpeedPerc, speed.minScrollSpeedLPS, speed.maxScrollSpeedLPS);
         }},
    };
    for (const auto& c : cases) {
        c.change();
        EXPECT_TRUE(project->hasUnsavedChanges()) << c.name;
        c.back();
        EXPECT_FALSE(project->hasUnsavedChanges()) << c.name;
        project->setScriptProperties(saved.scriptProperties); // the same again
        EXPECT_FALSE(project->hasUnsavedChanges()) << c.name;
    }
    project->setHasUnsavedChanges(true);
    cases[0].change();
    cases[0].back();
    EXPECT_TRUE(project->hasUnsavedChanges()) << "the saved document is not known";
    project->setHasUnsavedChanges(false);
    cases[0].change();
    cases[0].back();
    EXPECT_FALSE(project->hasUnsavedChanges());
}

TEST_F(ProjectTest, ScriptPropertiesBecomeTheNewDefaults) {
    auto properties = project->document().scriptProperties;
    properties.prompterMargin = 0.25f;
    properties.prompterMarginAlignment = -0.5f;
    properties.prompterWordCountFactor = 0.75f;
    project->setScriptProperties(properties);
    EXPECT_EQ(project->document().scriptProperties, properties);
    EXPECT_EQ(defaults.floatForKey(cw::settings::defaultPrompterMarginKey), 0.25f);
    EXPECT_EQ(defaults.floatForKey(cw::settings::defaultPrompterMarginAlignmentKey), -0.5f);
    EXPECT_EQ(defaults.floatForKey(cw::settings::defaultWordCountFactorKey), 0.75f);
    EXPECT_EQ(log, Strings{"properties"});
}

TEST_F(ProjectTest, TheScreenManagerReportsThroughItsProjectWithoutKeepingItAlive) {
    auto manager = project->editor().screenManager;
    ASSERT_TRUE(manager);
    EXPECT_EQ(manager->delegate().lock().get(), project.get());
    cw::ScreenDescription screen;
    screen.displayUUID = "0F0F-TEST";
    screen.showControls = false;
    manager->update(screen);
    EXPECT_EQ(log, Strings{"screen"});
    EXPECT_EQ(recorder->lastScreen, screen);

    std::weak_ptr<cw::Project> weak = project;
    project.reset();
    EXPECT_TRUE(weak.expired());
    manager->update(screen); // no delegate any more: nothing to tell
    EXPECT_EQ(log, Strings{"screen"});
}

TEST_F(ProjectTest, ANewProjectStartsFromTheSettings) {
    defaults.set(cw::settings::defaultScrollSpeed, 42.0);
    defaults.set(cw::settings::defaultPrompterMarginKey, 0.2f);
    auto fresh = cw::Project::create(defaults, std::make_shared<testsupport::FakeScreenProvider>());
    EXPECT_EQ(fresh->document().speedProperties.scrollSpeedPerc, 42.0);
    EXPECT_EQ(fresh->document().scriptProperties.prompterMargin, 0.2f);
    EXPECT_EQ(fresh->transportState(), cw::TransportState{});
    EXPECT_EQ(fresh->editor().typingAttributes.textColor, cw::defaultTextColor(defaults));
    EXPECT_FALSE(fresh->representedPath());
    EXPECT_FALSE(fresh->hasUnsavedChanges());
    EXPECT_TRUE(fresh->document().text.isEmpty());
}
