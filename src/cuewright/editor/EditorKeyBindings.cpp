// The transport actions of the custom key bindings typed in the editor.
#include "cuewright/editor/EditorController.h"
#include "cuewright/model/Project.h"

#include "dispatch/MainThreadChecker.h"

#include <algorithm>

namespace cw::editor {

bool EditorController::handleKeyEvent(const platform::KeyEvent& event, bool isKeyDown) {
    CW_DCHECK_MAIN_THREAD();
    using Action = KeyBindings::Action;
    const auto action = KeyBindings::action(event, *defaults_);
    if (!action) {
        return false;
    }
    Project& project = *project_;
    switch (*action) {
    case Action::playPause:
        if (project.transportState().isPlaying()) {
            project.pause();
        } else {
            project.play();
        }
        return true;
    case Action::rewind:
        project.rewind();
        return true;
    case Action::incSpeed:
        stepSpeed(speedStep);
        return true;
    case Action::decSpeed:
        stepSpeed(-speedStep);
        return true;
    case Action::reverse:
        setFfwdFactor(-project.transportState().ffwdFactor);
        return true;
    case Action::scrollLineUp:
    case Action::scrollLineDown:
        return bindingActionPerformer_ && bindingActionPerformer_(project, *action, isKeyDown);
    case Action::jumpNextBookmark:
        project.jumpToNextBookmark();
        return true;
    case Action::jumpPrevBookmark:
        project.jumpToPreviousBookmark();
        return true;
    case Action::ffwd:
        setFfwdFactor(isKeyDown ? fastWindFactor : 1.0);
        return true;
    case Action::bbwd:
        setFfwdFactor(isKeyDown ? -fastWindFactor : 1.0);
        return true;
    }
    return false;
}

void EditorController::stepSpeed(double delta) {
    const Document::SpeedProperties speed = project_->document().speedProperties;
    project_->setScrollSpeed(std::clamp(speed.scrollSpeedPerc + delta, 0.0, 100.0), speed.minScrollSpeedLPS,
                             speed.maxScrollSpeedLPS);
}

void EditorController::setFfwdFactor(double factor) {
    project_->setFfwdFactor(factor);
    project_->notifyTransportStateChanged();
}

} // namespace cw::editor
