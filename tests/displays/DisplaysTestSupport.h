// A project with fake displays, a recording prompter opener and a hand-fired blink timer.
#pragma once

#include "cuewright/displays/DisplayPrompterOpener.h"
#include "cuewright/displays/ScreenIdentificator.h"
#include "cuewright/model/Project.h"
#include "cuewright/model/ScreenManager.h"
#include "cuewright/model/UserDefaults.h"
#include "model/ScreenTestSupport.h"
#include "platform/defaults/Defaults.h"
#include "support/FakeScreenProvider.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace displaytests {

// Remembers every toggle and the stored isActive at that moment; answers `opens`.
class RecordingOpener : public cw::DisplayPrompterOpener {
public:
    bool toggleScreenBoundPrompter(const std::shared_ptr<cw::Project>& project,
                                   const cw::ScreenDescription& screen) override {
        toggled.push_back(screen);
        storedWhenToggled.push_back(
            project->editor().screenManager->availableScreens().at(screen.displayUUID));
        return opens;
    }
    bool opens = true;
    std::vector<cw::ScreenDescription> toggled;
    std::vector<cw::ScreenDescription> storedWhenToggled;
};

// Counts starts and hands out its tick, so a test blinks by hand.
class ManualBlinkTimer : public cw::BlinkTimer {
public:
    struct State {
        std::chrono::milliseconds interval{0};
        int starts = 0;
        bool active = false;
        std::function<void()> tick;
    };
    explicit ManualBlinkTimer(std::shared_ptr<State> state)
        : state_(std::move(state)) {}
    void start(std::chrono::milliseconds interval, std::function<void()> tick) override {
        state_->interval = interval;
        state_->tick = std::move(tick);
        state_->active = true;
        ++state_->starts;
    }
    void stop() override { state_->active = false; }

private:
    std::shared_ptr<State> state_;
};

inline void processEvents() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::processEvents();
    }
}

// Settings, a private display database, fake displays and a project that reads them. Every
// attached fake display stands on the one offscreen QScreen.
struct Fixture {
    Fixture()
        : defaults(platform::Defaults::Options{support.dir() / "defaults.json", std::chrono::hours(1), {}}) {
        cw::RegistrationHost host;
        host.localizedName = "Studio";
        cw::registerUserDefaults(defaults, host);
        project = cw::Project::create(defaults, provider);
        project->editor().screenManager->refreshAvailableScreens();
    }

    cw::ScreenIdentificator::Options identification() {
        return {[this](std::string_view uuid) -> QScreen* {
                    return provider->screenForDisplayUUID(uuid) ? QGuiApplication::primaryScreen() : nullptr;
                },
                [this] { return std::make_unique<ManualBlinkTimer>(timer); }};
    }
    const std::map<std::string, cw::ScreenDescription>& screens() const {
        return project->editor().screenManager->availableScreens();
    }

    screentests::ScopedSupportFolder support;
    platform::Defaults defaults;
    std::shared_ptr<testsupport::FakeScreenProvider> provider =
        std::make_shared<testsupport::FakeScreenProvider>(testsupport::FakeScreenProvider::threeDisplays());
    std::shared_ptr<cw::Project> project;
    std::shared_ptr<RecordingOpener> opener = std::make_shared<RecordingOpener>();
    std::shared_ptr<ManualBlinkTimer::State> timer = std::make_shared<ManualBlinkTimer::State>();
};

} // namespace displaytests
