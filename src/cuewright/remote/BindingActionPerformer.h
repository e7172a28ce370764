// The application's dispatcher of key-binding actions, as the input devices see it.
#pragma once

#include "cuewright/model/KeyBindings.h"

#include <memory>

namespace cw {

class Project;

// Carries out a bindable action on a project, opening a prompter window first when the project
// has none. The application shell implements it; the global key monitor and the game
// controllers hold it weakly and call it on the main thread with depth 0. Returns whether the
// action was carried out.
class BindingActionPerformer {
public:
    virtual ~BindingActionPerformer() = default;
    virtual bool performBindingAction(const std::shared_ptr<Project>& project, KeyBindings::Action action,
                                      bool isDown, int depth) = 0;
};

} // namespace cw
