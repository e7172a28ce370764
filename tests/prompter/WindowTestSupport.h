// A settings store, a project with fake displays and a recording shell for the window tests.
#pragma once

#include "cuewright/model/Project.h"
#include "cuewright/model/ScreenManager.h"
#include "cuewright/model/UserDefaults.h"
#include "cuewright/prompter/ApplicationShell.h"
#include "cuewright/prompter/PrompterWindowController.h"
#include "platform/defaults/Defaults.h"
#include "platform/defaults/NotificationCenter.h"
#include "support/FakeScreenProvider.h"
#include "support/TempDir.h"

#include <QCoreApplication>

#include <chrono>
#include <memory>
#include <utility>
#include <vector>

namespace windowtests {

// Registered defaults only, in a file of the test's own folder.
struct Settings {
    Settings()
        : defaults(platform::Defaults::Options{dir / "defaults.json", std::chrono::hours(1), {}}) {
        cw::RegistrationHost host;
        host.localizedName = "Studio";
        cw::registerUserDefaults(defaults, host);
    }
    testsupport::TempDir dir;
    platform::Defaults defaults;
    platform::NotificationCenter center;
};

class RecordingShell : public cw::PrompterWindowControllerDelegate {
public:
    void prompterWindowControllerSpawnPrompterWindow(cw::PrompterWindowController& controller,
                                                     cw::TeleprompterWindowPreset preset) override {
        spawned.emplace_back(controller.project(), preset);
    }

    void prompterWindowControllerDidBecomeMain(cw::PrompterWindowController& controller) override {
        becameMain.push_back(&controller);
    }
    void prompterWindowControllerWillClose(cw::PrompterWindowController& controller) override {
        closed.push_back(&controller);
        if (onClose) {
            onClose(controller);
        }
    }

    std::vector<std::pair<std::shared_ptr<cw::Project>, cw::TeleprompterWindowPreset>> spawned;
    std::vector<cw::PrompterWindowController*> becameMain;
    std::vector<cw::PrompterWindowController*> closed;
    std::function<void(cw::PrompterWindowController&)> onClose;
};

inline void processEvents() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::processEvents();
    }
}

} // namespace windowtests
