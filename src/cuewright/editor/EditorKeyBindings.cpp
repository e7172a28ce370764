// The transport actions of the custom key bindings typed in the editor.
#include "cuewright/editor/EditorController.h"
#include "cuewright/model/BindingActions.h"
#include "cuewright/model/Project.h"

#include "dispatch/MainThreadChecker.h"

namespace cw::editor {

bool EditorController::handleKeyEvent(const platform::KeyEvent& event, bool isKeyDown) {
    CW_DCHECK_MAIN_THREAD();
    const auto action = KeyBindings::action(event, *defaults_);
    if (!action) {
        return false;
    }
    // Line steps move the prompter windows, which the application holds.
    ProjectBindingTarget target(*project_, [&](BindingActionTarget::LineStep) {
        const auto performer = bindingActionPerformer_.lock();
        return performer && performer->performBindingAction(*project_, *action, isKeyDown, /*depth=*/0);
    });
    return runBindingAction(target, *action, isKeyDown, BindingContext::editor);
}

} // namespace cw::editor
