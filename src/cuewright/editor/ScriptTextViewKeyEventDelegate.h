// What the script text view asks of its owner for keys that may be custom bindings.
#pragma once

#include "platform/keys/KeyEvent.h"

namespace cw::editor {

// Implemented by the editor controller, which runs the bound transport action on its project.
class ScriptTextViewKeyEventDelegate {
public:
    virtual ~ScriptTextViewKeyEventDelegate() = default;
    // True when the key was handled; the text view then does not type it.
    virtual bool handleKeyEvent(const platform::KeyEvent& event, bool isKeyDown) = 0;
};

} // namespace cw::editor
