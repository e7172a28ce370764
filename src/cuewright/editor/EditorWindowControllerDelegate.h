// What the editor window asks of the application shell, which lives above it.
#pragma once

#include "cuewright/prompter/TeleprompterWindowPreset.h"

namespace cw {
struct ScreenDescription;
}

namespace cw::editor {

class EditorWindowController;

// Told by an editor window about its life, and asked for the prompter windows the shell owns.
// The application controller is the one conformer. Main thread only.
class EditorWindowControllerDelegate {
public:
    virtual ~EditorWindowControllerDelegate() = default;
    // The window became the active window: its project becomes the active one and the bookmarks
    // menu is rebuilt for it.
    virtual void editorWindowControllerDidBecomeMain(EditorWindowController& controller) = 0;
    // Sent last while the window closes: the shell closes the project's prompter windows, forgets
    // the controller (it may be destroyed from here) and closes the project.
    virtual void editorWindowControllerWillClose(EditorWindowController& controller) = 0;
    // Opens a free-floating prompter window of the preset for the window's project.
    virtual void editorWindowControllerSpawnPrompterWindow(EditorWindowController& controller,
                                                           TeleprompterWindowPreset preset) = 0;
    // Brings the project's prompter windows to the front, opening a normal one when it has none.
    virtual void editorWindowControllerShowPrompter(EditorWindowController& controller) = 0;
    // The Displays pane's switch: closes the project's window on the display, else opens one in
    // full screen there when it is attached. Returns whether one is bound to it afterwards.
    virtual bool editorWindowControllerToggleScreenBoundPrompter(EditorWindowController& controller,
                                                                 const ScreenDescription& screen) = 0;
};

} // namespace cw::editor
