// How the Displays pane asks the application shell for a full-screen prompter on a display.
#pragma once

#include <memory>

namespace cw {

class Project;
struct ScreenDescription;

// The one window operation the Displays pane needs of the shell. Main thread only.
class DisplayPrompterOpener {
public:
    virtual ~DisplayPrompterOpener() = default;

    // Closes the project's prompter window bound to the description's display when there is
    // one; otherwise opens one in full screen on that display when it is attached, else does
    // nothing. Returns whether a window of the project is bound to the display afterwards.
    virtual bool toggleScreenBoundPrompter(const std::shared_ptr<Project>& project,
                                           const ScreenDescription& screen) = 0;
    // A display went on or off while its switch had the keyboard of the pane's window, where
    // Space would switch it again. The switch has let the keyboard go; this gives it to where a
    // presenter's keys act. Nothing by default.
    virtual void giveKeyboardBackFromSwitch() {}
};

} // namespace cw
