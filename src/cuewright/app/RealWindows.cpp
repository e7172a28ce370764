// The shell's windows over the real window controllers, and the real remote listeners.
#include "cuewright/app/ApplicationController.h"
#include "cuewright/app/RemoteServices.h"
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/prompter/PrompterView.h"
#include "cuewright/prompter/PrompterWindowController.h"
#include "cuewright/remote/WorkspaceNetworking.h"
#include "platform/defaults/Defaults.h"

#include <algorithm>

namespace cw {

namespace {

class RealPrompterWindow final : public PrompterWindow {
public:
    explicit RealPrompterWindow(std::shared_ptr<PrompterWindowController> controller)
        : controller_(std::move(controller)) {}

    const std::shared_ptr<Project>& project() const override { return controller_->project(); }
    void showWindow() override { controller_->showWindow(); }
    bool close() override { return controller_->close(); }
    QWidget* window() const override {
        return controller_->isWindowLoaded() ? controller_->window() : nullptr;
    }
    const void* controllerKey() const override { return controller_.get(); }
    TeleprompterWindowPreset preset() const override { return controller_->preset(); }
    const std::optional<ScreenDescription>& screenDesc() const override { return controller_->screenDesc(); }
    void showFullScreen(QScreen* screen) override { controller_->showFullScreen(screen); }
    void stepLines(LineStep step) override {
        PrompterView* view = controller_->prompterView();
        if (view == nullptr) {
            return; // not loaded yet: nothing to move
        }
        const auto count = static_cast<int>(std::max<std::int64_t>(
            1, platform::Defaults::standard().integerForKey(settings::manualScrollingLineCount)));
        view->stepLines(step == LineStep::up ? PrompterView::StepDirection::up
                                             : PrompterView::StepDirection::down,
                        count);
    }

private:
    std::shared_ptr<PrompterWindowController> controller_;
};

} // namespace

ShellWindowFactory makeRealWindowFactory(std::weak_ptr<PrompterWindowControllerDelegate> delegate) {
    ShellWindowFactory factory;
    factory.makePrompterWindow = [delegate](const std::shared_ptr<Project>& project,
                                            TeleprompterWindowPreset preset,
                                            const std::optional<ScreenDescription>& screen) {
        auto controller = PrompterWindowController::create(project, preset, screen);
        controller->setDelegate(delegate);
        return std::make_shared<RealPrompterWindow>(std::move(controller));
    };
    factory.screenForDisplayUUID = [](const std::string& uuid) {
        return PrompterWindowController::screenForDisplayUUID(uuid);
    };
    return factory;
}

WorkspaceRemoteServers::WorkspaceRemoteServers(std::shared_ptr<WorkspaceNetworking> networking,
                                               std::unique_ptr<BluetoothPeripheral> bluetooth)
    : networking_(std::move(networking))
    , bluetooth_(std::move(bluetooth)) {}

WorkspaceRemoteServers::~WorkspaceRemoteServers() = default;

void WorkspaceRemoteServers::startNetworking() {
    networking_->startNetworking();
}

void WorkspaceRemoteServers::stopNetworking() {
    networking_->stopNetworking();
}

void WorkspaceRemoteServers::startBluetooth() {
    bluetooth_->start();
}

void WorkspaceRemoteServers::stopBluetooth() {
    bluetooth_->stop();
}

} // namespace cw
