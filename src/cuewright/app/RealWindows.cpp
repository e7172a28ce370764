// The shell's windows over the real window controllers.
#include "cuewright/app/ApplicationController.h"
#include "cuewright/editor/DocumentCommands.h"
#include "cuewright/editor/EditorController.h"
#include "cuewright/editor/EditorWindowController.h"
#include "cuewright/model/Project.h"
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/prompter/PrompterView.h"
#include "cuewright/prompter/PrompterWindowController.h"
#include "platform/defaults/Defaults.h"

#include <QMainWindow>

#include <algorithm>

namespace cw {

namespace {

class RealPrompterWindow final : public PrompterWindow {
public:
    RealPrompterWindow(std::shared_ptr<PrompterWindowController> controller,
                       const platform::Defaults& defaults)
        : controller_(std::move(controller))
        , defaults_(defaults) {}

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
        const auto count = static_cast<int>(
            std::max<std::int64_t>(1, defaults_.integerForKey(settings::manualScrollingLineCount)));
        view->stepLines(step == LineStep::up ? PrompterView::StepDirection::up
                                             : PrompterView::StepDirection::down,
                        count);
    }

private:
    std::shared_ptr<PrompterWindowController> controller_;
    const platform::Defaults& defaults_;
};

class RealEditorWindow final : public EditorWindow {
public:
    RealEditorWindow(std::shared_ptr<editor::EditorWindowController> controller,
                     std::weak_ptr<ApplicationController> shell)
        : controller_(std::move(controller))
        , shell_(std::move(shell)) {}

    const std::shared_ptr<Project>& project() const override { return controller_->project(); }
    void showWindow() override {
        const bool first = !controller_->isWindowLoaded();
        controller_->showWindow();
        if (first) {
            wireLoadedWindow();
        }
    }
    // The shell reads the answer at once (quitting): a paste going in is waited for.
    bool close() override { return controller_->closeAfterPaste(); }
    QWidget* window() const override {
        return controller_->isWindowLoaded() ? controller_->mainWindow() : nullptr;
    }
    const void* controllerKey() const override { return controller_.get(); }
    bool isDocumentEdited() const override {
        const editor::EditorController* editor = controller_->editorController();
        return project()->hasUnsavedChanges() || (editor != nullptr && editor->hasPendingEdit());
    }
    bool hasBeenClosed() const override { return controller_->hasBeenClosed(); }
    bool hasWorkGoingOn() const override { return controller_->hasWorkGoingOn(); }
    void setDocumentEdited() override {
        project()->setHasUnsavedChanges(true);
        if (controller_->isWindowLoaded()) {
            controller_->documentCommands().updateTitle();
        }
    }
    void setNotice(const QString& text) override { controller_->setNotice(text); }
    std::optional<double> textLoadProgress() const override {
        const editor::EditorController* editor = controller_->editorController();
        return editor != nullptr ? editor->loadProgress() : std::nullopt;
    }
    void setRecentDocumentHandler(std::function<void(const std::string&)> handler) override {
        recentHandler_ = std::move(handler);
        if (controller_->isWindowLoaded()) {
            controller_->documentCommands().setRecentDocumentHandler(recentHandler_);
        }
    }
    void setOpenElsewhereCheck(std::function<bool(const std::string&)> check) override {
        openElsewhere_ = std::move(check);
        if (controller_->isWindowLoaded()) {
            controller_->documentCommands().setOpenElsewhereCheck(openElsewhere_);
        }
    }
    void setOtherCopyCheck(std::function<bool(const std::string&)> check) override {
        otherCopy_ = std::move(check);
        if (controller_->isWindowLoaded()) {
            controller_->documentCommands().setOtherCopyCheck(otherCopy_);
        }
    }

private:
    // The document commands and the editor exist once the window has loaded.
    void wireLoadedWindow() {
        if (recentHandler_) {
            controller_->documentCommands().setRecentDocumentHandler(recentHandler_);
        }
        if (openElsewhere_) {
            controller_->documentCommands().setOpenElsewhereCheck(openElsewhere_);
        }
        if (otherCopy_) {
            controller_->documentCommands().setOtherCopyCheck(otherCopy_);
        }
        if (editor::EditorController* editor = controller_->editorController()) {
            // Line steps typed in the editor move the prompter windows, which the shell owns.
            editor->setBindingActionPerformer(std::weak_ptr<BindingActionPerformer>(shell_));
        }
    }

    std::shared_ptr<editor::EditorWindowController> controller_;
    std::weak_ptr<ApplicationController> shell_;
    std::function<void(const std::string&)> recentHandler_;
    std::function<bool(const std::string&)> openElsewhere_;
    std::function<bool(const std::string&)> otherCopy_;
};

} // namespace

ShellWindowFactory makeRealWindowFactory(const std::weak_ptr<ApplicationController>& controller,
                                         platform::Defaults& defaults, platform::NotificationCenter& center) {
    ShellWindowFactory factory;
    factory.makeEditorWindow = [controller, &defaults, &center](const std::shared_ptr<Project>& project) {
        auto window = editor::EditorWindowController::create(project, {&defaults, &center});
        window->setDelegate(std::weak_ptr<editor::EditorWindowControllerDelegate>(controller));
        return std::make_shared<RealEditorWindow>(std::move(window), controller);
    };
    const std::weak_ptr<PrompterWindowControllerDelegate> delegate = controller;
    factory.makePrompterWindow = [delegate, &defaults, &center](
                                     const std::shared_ptr<Project>& project, TeleprompterWindowPreset preset,
                                     const std::optional<ScreenDescription>& screen) {
        auto controller = PrompterWindowController::create(project, preset, screen, {&defaults, &center});
        controller->setDelegate(delegate);
        return std::make_shared<RealPrompterWindow>(std::move(controller), defaults);
    };
    factory.screenForDisplayUUID = [](const std::string& uuid) {
        return PrompterWindowController::screenForDisplayUUID(uuid);
    };
    return factory;
}

} // namespace cw
