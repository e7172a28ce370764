// The display-bound prompter windows of every project: opened, kept and closed by display.
#pragma once

#include "cuewright/displays/DisplayPrompterOpener.h"
#include "cuewright/prompter/ApplicationShell.h"
#include "cuewright/prompter/PrompterWindowController.h"

#include <memory>
#include <vector>

namespace cw {

// Keeps the prompter windows bound to displays until they close. It is the delegate of those
// windows: it forgets one when it closes and passes the delegate calls on to `next` (the
// application shell, which makes the window's project the active one and opens the windows a
// prompter asks for), when given.
//
// Made by create() (the windows hold it weakly). Main thread only.
class ScreenBoundPrompterWindows final : public DisplayPrompterOpener,
                                         public PrompterWindowControllerDelegate,
                                         public std::enable_shared_from_this<ScreenBoundPrompterWindows> {
    struct PrivateTag {};

public:
    static std::shared_ptr<ScreenBoundPrompterWindows>
    create(std::weak_ptr<PrompterWindowControllerDelegate> next = {},
           PrompterWindowEnvironment environment = {});
    ScreenBoundPrompterWindows(PrivateTag, std::weak_ptr<PrompterWindowControllerDelegate> next,
                               PrompterWindowEnvironment environment);
    ~ScreenBoundPrompterWindows() override;
    ScreenBoundPrompterWindows(const ScreenBoundPrompterWindows&) = delete;
    ScreenBoundPrompterWindows& operator=(const ScreenBoundPrompterWindows&) = delete;

    // The window goes onto the attached display whose UUID matches (found among Qt's screens),
    // in full screen there.
    bool toggleScreenBoundPrompter(const std::shared_ptr<Project>& project,
                                   const ScreenDescription& screen) override;

    // The project's window bound to the display; null when there is none.
    std::shared_ptr<PrompterWindowController> controllerFor(const Project& project,
                                                            const ScreenDescription& screen) const;
    const std::vector<std::shared_ptr<PrompterWindowController>>& controllers() const { return controllers_; }
    // Closes every window of the project (its editor is closing).
    void closeAll(const Project& project);

    void prompterWindowControllerDidBecomeMain(PrompterWindowController& controller) override;
    void prompterWindowControllerWillClose(PrompterWindowController& controller) override;
    void prompterWindowControllerSpawnPrompterWindow(PrompterWindowController& controller,
                                                     TeleprompterWindowPreset preset) override;

private:
    std::weak_ptr<PrompterWindowControllerDelegate> next_;
    PrompterWindowEnvironment environment_;
    std::vector<std::shared_ptr<PrompterWindowController>> controllers_;
};

} // namespace cw
