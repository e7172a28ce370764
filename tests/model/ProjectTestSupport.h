// A project on a private settings store with a fake activity inhibitor, and a listener that
// records what it hears.
#pragma once

#include "cuewright/model/Project.h"
#include "dispatch/Queue.h"
#include "platform/activity/FakeActivityInhibitor.h"
#include "platform/defaults/Defaults.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace projecttest {

using namespace std::chrono_literals;

// Writes "<name>:<event>" into a shared log. Notes any call that arrives off the main thread.
class Recorder : public cw::ProjectEventListener {
public:
    Recorder(std::string name, int priority, std::vector<std::string>* log)
        : name_(std::move(name))
        , priority_(priority)
        , log_(log) {}

    void projectTextDidChange(cw::Project&) override { record("text"); }
    void projectScriptPropertiesDidChange(cw::Project&) override { record("properties"); }
    void projectSpeedDidChange(cw::Project&) override { record("speed"); }
    void projectWillSave(cw::Project&) override { record("willSave"); }
    void projectDidSave(cw::Project&) override { record("didSave"); }
    void projectTransportStateDidChange(cw::Project& p) override {
        progressSeen.push_back(p.transportState().progress);
        record("transport");
    }
    void projectEditorDidChange(cw::Project&) override { record("editor"); }
    void projectPositionDidJump(cw::Project&, bool animated, bool immediate) override {
        record(std::string("jump(") + (animated ? "a" : "-") + (immediate ? "i" : "-") + ")");
    }
    void projectSeekDidStep(cw::Project&, double, double, double) override { record("seekStep"); }
    void projectDidStartPlayback(cw::Project&) override { record("didStart"); }
    void projectDidStopPlayback(cw::Project&) override { record("didStop"); }
    void projectLineCountDidChange(cw::Project&) override { record("lineCount"); }
    void projectTypingAttributesDidChange(cw::Project&) override { record("typing"); }
    void projectTextColorDidChange(cw::Project&, const platform::Color& c) override {
        lastColor = c;
        record("textColor");
    }
    void projectFontDidChange(cw::Project&, const platform::Font& f) override {
        lastFont = f;
        record("font");
    }
    void projectScreenDescriptionDidChange(cw::Project&, const cw::ScreenDescription& s) override {
        lastScreen = s;
        record("screen");
    }
    int listenerPriority() const override { return priority_; }

    std::atomic<int> offMainThreadCalls{0};
    std::atomic<int> calls{0};
    std::vector<double> progressSeen;
    platform::Color lastColor;
    platform::Font lastFont;
    cw::ScreenDescription lastScreen;

private:
    void record(const std::string& event) {
        if (!dispatch::isMainThread()) {
            ++offMainThreadCalls;
        }
        ++calls;
        log_->push_back(name_.empty() ? event : name_ + ":" + event);
    }

    std::string name_;
    int priority_;
    std::vector<std::string>* log_;
};

class ProjectTest : public ::testing::Test {
protected:
    ProjectTest()
        : defaults(platform::Defaults::Options{dir / "defaults.json", 1h, {}})
        , inhibitor(std::make_shared<platform::FakeActivityInhibitor>()) {
        previousInhibitor = platform::setSharedActivityInhibitor(inhibitor);
        project = cw::Project::create(defaults);
        recorder = std::make_shared<Recorder>("", 10, &log);
        project->registerEventListener(recorder);
    }
    ~ProjectTest() override {
        if (project) {
            project->pause();
        }
        project.reset();
        drainMain();
        platform::setSharedActivityInhibitor(previousInhibitor);
    }

    // Runs what the tick queue handed to the main thread so far.
    void drainMain() {
        if (project) {
            project->tickQueue()->sync([] {});
        }
        dispatch::drainMainQueue();
    }

    void setLines(int count) {
        cw::Editor e = project->editor();
        e.lineCount = count;
        project->setEditor(e);
    }

    testsupport::TempDir dir;
    platform::Defaults defaults;
    std::shared_ptr<platform::FakeActivityInhibitor> inhibitor;
    std::shared_ptr<platform::ActivityInhibitor> previousInhibitor;
    std::shared_ptr<cw::Project> project;
    std::vector<std::string> log;
    std::shared_ptr<Recorder> recorder;
};

// A project whose text has a line table as the editor would give it.
class ScriptProject : public ProjectTest {
protected:
    // Sets the text and a line table of one visual line per paragraph, numbered from 1.
    void setScript(const QString& text, int lineCount = -1) {
        setAttributedScript(platform::AttributedString(text), lineCount);
    }
    void setAttributedScript(const platform::AttributedString& text, int lineCount = -1) {
        project->setText(text);
        cw::Editor e = project->editor();
        e.lineRanges.clear();
        int start = 0;
        int number = 1;
        const QString& s = text.string();
        for (int i = 0; i <= s.size(); ++i) {
            if (i == s.size() || s[i] == u'\n') {
                e.lineRanges.push_back({number++, {start, i - start + (i < s.size() ? 1 : 0)}});
                start = i + 1;
            }
        }
        e.lineCount = lineCount >= 0 ? lineCount : int(e.lineRanges.size());
        project->setEditor(e);
        log.clear();
    }
    // 100 lines; those in `marked` begin with "*".
    void setHundredLines(std::initializer_list<int> marked) {
        QString text;
        for (int line = 1; line <= 100; ++line) {
            const bool isMarked = std::find(marked.begin(), marked.end(), line) != marked.end();
            text += (isMarked ? QStringLiteral("* line %1") : QStringLiteral("line %1")).arg(line);
            if (line < 100) {
                text += u'\n';
            }
        }
        setScript(text);
    }
    double progress() const { return project->transportState().progress; }
};

} // namespace projecttest
