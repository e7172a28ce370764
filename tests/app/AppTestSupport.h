// Fake windows and listeners for the application controller's tests.
#pragma once

#include "cuewright/app/ApplicationController.h"
#include "cuewright/model/Project.h"
#include "cuewright/model/Workspace.h"
#include "platform/activity/FakeActivityInhibitor.h"
#include "platform/defaults/Defaults.h"
#include "platform/defaults/NotificationCenter.h"
#include "platform/ui/FakeAlertRunner.h"
#include "platform/ui/WindowController.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QGuiApplication>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace apptest {

using Events = std::vector<std::string>;

struct Fixture;

// What a fake editor does when asked to close with unsaved changes.
enum class CloseAnswer { dontSave, cancel, saveFails };

// What every fake window does: counts its showings; it has no widget.
template <typename Window> class FakeWindow : public Window {
public:
    FakeWindow(std::shared_ptr<cw::Project> project, Fixture& fixture)
        : project_(std::move(project))
        , fixture_(fixture) {}
    const std::shared_ptr<cw::Project>& project() const override { return project_; }
    void showWindow() override { ++shows; }
    QWidget* window() const override { return nullptr; }
    const void* controllerKey() const override { return this; }

    int shows = 0;

protected:
    std::shared_ptr<cw::Project> project_;
    Fixture& fixture_;
};

class FakeEditor final : public FakeWindow<cw::EditorWindow> {
public:
    using FakeWindow::FakeWindow;
    bool close() override;
    bool isDocumentEdited() const override { return project_->hasUnsavedChanges(); }
    bool hasBeenClosed() const override { return closed_; }
    void setDocumentEdited() override { project_->setHasUnsavedChanges(true); }
    void setNotice(const QString& text) override { notice = text; }
    void setRecentDocumentHandler(std::function<void(const std::string&)> handler) override {
        noteRecent = std::move(handler);
    }
    void setOtherCopyCheck(std::function<bool(const std::string&)> check) override {
        otherCopy = std::move(check);
    }

    CloseAnswer answer = CloseAnswer::dontSave;
    // What happens elsewhere while this window's question is up.
    std::function<void()> whileAsked;
    std::string name = "editor";
    QString notice;
    std::function<void(const std::string&)> noteRecent;
    std::function<bool(const std::string&)> otherCopy;

private:
    bool closed_ = false;
};

class FakePrompter final : public FakeWindow<cw::PrompterWindow> {
public:
    FakePrompter(std::shared_ptr<cw::Project> project, cw::TeleprompterWindowPreset preset,
                 std::optional<cw::ScreenDescription> screen, Fixture& fixture)
        : FakeWindow(std::move(project), fixture)
        , preset_(preset)
        , screen_(std::move(screen)) {}
    bool close() override;
    cw::TeleprompterWindowPreset preset() const override { return preset_; }
    const std::optional<cw::ScreenDescription>& screenDesc() const override { return screen_; }
    void showFullScreen(QScreen*) override { ++shows; }
    void stepLines(LineStep step) override { steps.push_back(step); }

    int closes = 0;
    std::vector<LineStep> steps;

private:
    cw::TeleprompterWindowPreset preset_;
    std::optional<cw::ScreenDescription> screen_;
};

class FakeServers final : public cw::RemoteServers {
public:
    explicit FakeServers(Events& events)
        : events_(events) {}
    void startNetworking() override { events_.push_back("startNetworking"); }
    void stopNetworking() override { events_.push_back("stopNetworking"); }
    void startBluetooth() override { events_.push_back("startBluetooth"); }
    void stopBluetooth() override { events_.push_back("stopBluetooth"); }

private:
    Events& events_;
};

// The key monitor and game controllers, noting what they are told in `devices`.
class FakeKeyMonitor final : public cw::GlobalKeyMonitor {
public:
    explicit FakeKeyMonitor(Events& devices)
        : devices_(devices) {}
    void install() override { note("installKeys", true); }
    void uninstall() override { note("uninstallKeys", false); }
    void backgroundListeningDidChange() override { note("keysListeningChanged", installed_); }
    bool isInstalled() const override { return installed_; }

private:
    void note(const char* event, bool installed) {
        devices_.push_back(event);
        installed_ = installed;
    }
    Events& devices_;
    bool installed_ = false;
};

class FakeGameControllers final : public cw::GameControllers {
public:
    explicit FakeGameControllers(Events& devices)
        : devices_(devices) {}
    ~FakeGameControllers() override { devices_.push_back("closeGamepads"); }
    void start() override { devices_.push_back("startGamepads"); }

private:
    Events& devices_;
};

// A controller over fake windows, fake listeners, a fake alert runner and a store of its own.
struct Fixture {
    Fixture() {
        previousInhibitor =
            platform::setSharedActivityInhibitor(std::make_shared<platform::FakeActivityInhibitor>());
        previousAlerts = platform::setAlertRunner(alerts);
        environment.defaults = &defaults;
        environment.center = &center;
        environment.windows.makeEditorWindow = [this](const std::shared_ptr<cw::Project>& project) {
            auto editor = std::make_shared<FakeEditor>(project, *this);
            editors.push_back(editor);
            return editor;
        };
        environment.windows.makePrompterWindow = [this](const std::shared_ptr<cw::Project>& project,
                                                        cw::TeleprompterWindowPreset preset,
                                                        const std::optional<cw::ScreenDescription>& screen) {
            auto prompter = std::make_shared<FakePrompter>(project, preset, screen, *this);
            prompters.push_back(prompter);
            return prompter;
        };
        environment.windows.screenForDisplayUUID = [](const std::string& uuid) {
            return uuid.starts_with("attached") ? QGuiApplication::primaryScreen() : nullptr;
        };
        environment.makeRemoteServers = [this](cw::Workspace&) {
            return std::make_unique<FakeServers>(events);
        };
        environment.makeRemoteControlWindow = [](cw::Workspace&) { return new platform::WindowController; };
        environment.keyMonitor = keyMonitor;
        environment.makeGameControllers = [this](cw::Workspace&, std::weak_ptr<cw::BindingActionPerformer>) {
            return std::make_unique<FakeGameControllers>(devices);
        };
        environment.buildInfo = cw::BuildInfo{"Cuewright", "1.2", "7", "2026-12-07"};
        environment.showsStartWindow = showsStartWindow;
        app = cw::ApplicationController::create(environment);
    }
    ~Fixture() {
        for (const auto& project : app->workspace().projects()) {
            project->pause();
        }
        app.reset();
        QCoreApplication::sendPostedEvents(nullptr, 0);
        platform::setAlertRunner(previousAlerts);
        platform::setSharedActivityInhibitor(previousInhibitor);
    }
    void launch() {
        app->applicationWillFinishLaunching();
        app->applicationDidFinishLaunching();
    }
    static cw::ScreenDescription display(std::string uuid) {
        cw::ScreenDescription screen;
        screen.displayUUID = std::move(uuid);
        return screen;
    }
    std::shared_ptr<FakeEditor> editorOf(const cw::Project& project) const {
        for (const auto& weak : editors) {
            if (auto editor = weak.lock(); editor && editor->project().get() == &project) {
                return editor;
            }
        }
        return nullptr;
    }

    testsupport::TempDir dir;
    platform::Defaults defaults{
        platform::Defaults::Options{dir.path() / "defaults.json", std::chrono::hours(1), {}}};
    platform::NotificationCenter center;
    std::shared_ptr<platform::FakeAlertRunner> alerts = std::make_shared<platform::FakeAlertRunner>();
    std::shared_ptr<platform::AlertRunner> previousAlerts;
    std::shared_ptr<platform::ActivityInhibitor> previousInhibitor;
    Events events;
    Events devices;
    std::shared_ptr<FakeKeyMonitor> keyMonitor = std::make_shared<FakeKeyMonitor>(devices);
    std::vector<std::weak_ptr<FakeEditor>> editors;
    std::vector<std::weak_ptr<FakePrompter>> prompters;
    bool showsStartWindow = true;
    // What `app` was made with; tests change it and make another.
    cw::ApplicationEnvironment environment;
    std::shared_ptr<cw::ApplicationController> app;
};

inline bool FakeEditor::close() {
    fixture_.events.push_back("ask " + name);
    if (whileAsked) {
        std::exchange(whileAsked, nullptr)();
    }
    if (project_->hasUnsavedChanges() && answer != CloseAnswer::dontSave) {
        return false; // cancelled, or the save failed: the window stays
    }
    closed_ = true;
    fixture_.app->editorWindowWillClose(*this);
    return true;
}

inline bool FakePrompter::close() {
    ++closes;
    fixture_.app->prompterWindowWillClose(*this);
    return true;
}

} // namespace apptest
