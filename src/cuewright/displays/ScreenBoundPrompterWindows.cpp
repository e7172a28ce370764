#include "cuewright/displays/ScreenBoundPrompterWindows.h"

#include "cuewright/model/ScreenDescription.h"
#include "dispatch/MainThreadChecker.h"

#include <QScreen>

#include <algorithm>

namespace cw {

std::shared_ptr<ScreenBoundPrompterWindows>
ScreenBoundPrompterWindows::create(std::weak_ptr<PrompterWindowControllerDelegate> next,
                                   PrompterWindowEnvironment environment) {
    return std::make_shared<ScreenBoundPrompterWindows>(PrivateTag{}, std::move(next), environment);
}

ScreenBoundPrompterWindows::ScreenBoundPrompterWindows(PrivateTag,
                                                       std::weak_ptr<PrompterWindowControllerDelegate> next,
                                                       PrompterWindowEnvironment environment)
    : next_(std::move(next))
    , environment_(environment) {}

ScreenBoundPrompterWindows::~ScreenBoundPrompterWindows() {
    // Closing tells the delegate, which is going away: let the windows forget it first.
    for (const auto& controller : std::exchange(controllers_, {})) {
        controller->setDelegate({});
        controller->close();
    }
}

std::shared_ptr<PrompterWindowController>
ScreenBoundPrompterWindows::controllerFor(const Project& project, const ScreenDescription& screen) const {
    auto found = std::find_if(controllers_.begin(), controllers_.end(), [&](const auto& c) {
        return c->project().get() == &project && c->screenDesc()->displayUUID == screen.displayUUID;
    });
    return found == controllers_.end() ? nullptr : *found;
}

bool ScreenBoundPrompterWindows::toggleScreenBoundPrompter(const std::shared_ptr<Project>& project,
                                                           const ScreenDescription& screen) {
    CW_DCHECK_MAIN_THREAD();
    if (std::shared_ptr<PrompterWindowController> open = controllerFor(*project, screen)) {
        if (!open->close()) {
            return true; // the window refused to close
        }
        std::erase(controllers_, open); // already done when the window told us it closes
        return false;
    }
    QScreen* display = PrompterWindowController::screenForDisplayUUID(screen.displayUUID);
    if (display == nullptr) {
        return false;
    }
    auto controller =
        PrompterWindowController::create(project, TeleprompterWindowPreset::normal, screen, environment_);
    controller->setDelegate(weak_from_this());
    controllers_.push_back(controller);
    controller->showFullScreen(display);
    return true;
}

void ScreenBoundPrompterWindows::closeAll(const Project& project) {
    CW_DCHECK_MAIN_THREAD();
    std::vector<std::shared_ptr<PrompterWindowController>> closing;
    for (const auto& c : controllers_) {
        if (c->project().get() == &project) {
            closing.push_back(c);
        }
    }
    for (const auto& c : closing) {
        if (c->close()) {
            std::erase(controllers_, c);
        }
    }
}

void ScreenBoundPrompterWindows::prompterWindowControllerDidBecomeMain(PrompterWindowController& controller) {
    if (auto next = next_.lock()) {
        next->prompterWindowControllerDidBecomeMain(controller);
    }
}

void ScreenBoundPrompterWindows::prompterWindowControllerWillClose(PrompterWindowController& controller) {
    std::erase_if(controllers_, [&](const auto& c) { return c.get() == &controller; });
    if (auto next = next_.lock()) {
        next->prompterWindowControllerWillClose(controller);
    }
}

void ScreenBoundPrompterWindows::prompterWindowControllerSpawnPrompterWindow(
    PrompterWindowController& controller, TeleprompterWindowPreset preset) {
    if (auto next = next_.lock()) {
        next->prompterWindowControllerSpawnPrompterWindow(controller, preset);
    }
}

} // namespace cw
