// What the prompter windows ask of the application shell, which lives above them.
#pragma once

#include "cuewright/prompter/TeleprompterWindowPreset.h"

#include <memory>

namespace cw {

class Project;
class PrompterWindowController;
struct ScreenDescription;

// Told by a prompter window about its life. The application controller is the one conformer; it
// keeps the window controllers and forgets one when its window closes. Main thread only.
class PrompterWindowControllerDelegate {
public:
    virtual ~PrompterWindowControllerDelegate() = default;
    // The window became the active window: its project becomes the active one.
    virtual void prompterWindowControllerDidBecomeMain(PrompterWindowController& controller) = 0;
    // Sent last while the window closes; the conformer drops the controller (it may be
    // destroyed from here: the window controller copes with that).
    virtual void prompterWindowControllerWillClose(PrompterWindowController& controller) = 0;
    // Opens a free-floating prompter window of the preset for the window's project.
    virtual void prompterWindowControllerSpawnPrompterWindow(PrompterWindowController& controller,
                                                             TeleprompterWindowPreset preset) = 0;
};

// The application controller's window operations. Main thread only.
class ApplicationShell {
public:
    virtual ~ApplicationShell() = default;

    // Opens a free-floating prompter window of the preset for the project, keeps it and shows it.
    virtual void spawnPrompterWindow(const std::shared_ptr<Project>& project,
                                     TeleprompterWindowPreset preset) = 0;
    // Closes the project's window bound to the display when there is one; otherwise opens one in
    // full screen on that display when it is attached, else nothing. Returns whether a window of
    // the project is bound to the display afterwards.
    virtual bool toggleScreenBoundPrompter(const std::shared_ptr<Project>& project,
                                           const ScreenDescription& screen) = 0;
    // Brings the project's prompter windows to the front, opening a normal one when it has none.
    virtual void showPrompter(const std::shared_ptr<Project>& project) = 0;
};

} // namespace cw
