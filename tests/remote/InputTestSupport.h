// Helpers of the input-device tests: a workspace with an active script, and a recording
// binding-action performer standing for the application shell.
#pragma once

#include "cuewright/model/BindingActions.h"
#include "cuewright/model/Project.h"
#include "cuewright/model/Workspace.h"
#include "platform/activity/FakeActivityInhibitor.h"
#include "platform/defaults/Defaults.h"

#include "support/FakeScreenProvider.h"
#include "support/TempDir.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <functional>
#include <memory>
#include <vector>

namespace inputtest {

// Runs the event loop (and with it the main queue) until `done`; false after 10 s without.
inline bool waitUntil(const std::function<bool()>& done) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > 10000) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

struct PerformedAction {
    cw::KeyBindings::Action action;
    bool isDown;
    int depth;
    bool operator==(const PerformedAction&) const = default;
};

// Records each call; with `acts` set it also runs the action on the project as the application
// does (line steps aside, which need a prompter window).
class RecordingPerformer : public cw::BindingActionPerformer {
public:
    bool performBindingAction(cw::Project& project, cw::KeyBindings::Action action, bool isDown,
                              int depth) override {
        calls.push_back({action, isDown, depth});
        if (acts) {
            cw::ProjectBindingTarget target(project);
            cw::runBindingAction(target, action, isDown, cw::BindingContext::application);
        }
        return true;
    }
    std::vector<PerformedAction> calls;
    bool acts = false;
};

// A workspace on a store of its own; playing scripts use a fake activity inhibitor.
class ScriptWorkspace {
public:
    ScriptWorkspace() { previous_ = platform::setSharedActivityInhibitor(inhibitor_); }
    ~ScriptWorkspace() {
        for (const auto& project : workspace.projects()) {
            project->pause();
        }
        platform::setSharedActivityInhibitor(previous_);
    }

    // A saved-looking script of `lines` lines at `percent` of 1...3 lines per second, made active.
    std::shared_ptr<cw::Project> activeScript(int lines = 100, double percent = 50) {
        auto project = workspace.newProject();
        auto editor = project->editor();
        editor.lineCount = lines;
        project->setEditor(editor);
        project->setScrollSpeed(percent, 1, 3);
        project->setHasUnsavedChanges(false);
        workspace.setActiveProject(project);
        return project;
    }

    testsupport::TempDir dir;
    platform::Defaults defaults{
        platform::Defaults::Options{dir / "defaults.json", std::chrono::hours(1), {}}};
    cw::Workspace workspace{defaults, std::make_shared<testsupport::FakeScreenProvider>(
                                          testsupport::FakeScreenProvider::threeDisplays())};

private:
    std::shared_ptr<platform::FakeActivityInhibitor> inhibitor_ =
        std::make_shared<platform::FakeActivityInhibitor>();
    std::shared_ptr<platform::ActivityInhibitor> previous_;
};

} // namespace inputtest
