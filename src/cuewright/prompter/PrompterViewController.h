// PrompterViewController: binds one project to one prompter view and runs the prompter's loop.
#pragma once

#include "cuewright/model/ProjectEventListener.h"
#include "cuewright/model/TextAlignment.h"
#include "cuewright/prompter/PrompterViewDelegate.h"
#include "platform/ui/ViewController.h"

#include <memory>
#include <string_view>

namespace platform {
class Defaults;
}

namespace cw {

class KQTimer;
class Project;
class PrompterView;

// The only place where project state enters the prompter surface. It copies the script's text,
// display properties, speed and transport into its PrompterView, moves the text to the project's
// progress 60 times a second while the project plays, and, as the view's delegate, carries the
// view's controls back to the project.
//
// Contract:
//  - Made with create() and a project; shared (the project and the view hold it weakly). The view,
//    a PrompterView, is made on the first prompterView() or view() and owned by the controller
//    unless a parent widget takes it first (embedIn() an anchor of the window).
//  - start() begins prompting: text, properties, speed, mirroring and transport are pushed, the
//    controller becomes a listener of its project (priority 0) and both loops are set up. The loops
//    run while the project plays: the scroll loop (every 1/fps s) and the telemetry loop (every
//    0.1 s) start at play and stop at pause. While stopped, the project's notifications move the
//    view directly (jumps, seek steps, wheel scrolling), so nothing ticks idly.
//  - stop() ends prompting (the window closes): both loops stop and playback no longer starts
//    them. The controller stays a listener until it is destroyed.
//  - Both loops deliver on the main queue; every method is for the main thread.
class PrompterViewController final : public platform::ViewController,
                                     public ProjectEventListener,
                                     public PrompterViewDelegate,
                                     public std::enable_shared_from_this<PrompterViewController> {
    Q_OBJECT
    struct PrivateTag {};

public:
    static constexpr std::string_view missingProjectMessage = "use init(project:) instead!";
    static constexpr double fps = 60.0; // scroll updates per second
    static constexpr double telemetryInterval = 0.1;

    // Settings (manual scrolling) come from `defaults`, which must outlive the controller. A null
    // project stops the program with missingProjectMessage.
    static std::shared_ptr<PrompterViewController> create(std::shared_ptr<Project> project);
    static std::shared_ptr<PrompterViewController> create(std::shared_ptr<Project> project,
                                                          platform::Defaults& defaults);

    PrompterViewController(PrivateTag, std::shared_ptr<Project> project, platform::Defaults& defaults);
    ~PrompterViewController() override;

    const std::shared_ptr<Project>& project() const { return project_; }
    // The view, made on first use.
    PrompterView* prompterView();

    // ---- prompting ----
    void start();
    void stop();
    bool isPrompting() const { return prompting_; }
    // Present from start() on; running while the project plays.
    const KQTimer* scrollTimer() const { return scrollTimer_.get(); }
    const KQTimer* telemetryTimer() const { return telemetryTimer_.get(); }

    // ---- pushes into the view ----
    // The script's display properties; `force` assigns unchanged values too (without re-layout).
    // While mirroring is linked, each flip of the script that changed (every flip when forced)
    // becomes the view's.
    void applyProjectProperties(bool force);
    // The speed scale, the speed figures and the read-out; skipped when the scale already shows the
    // script's percentage, unless forced.
    void updateSpeed(bool force);
    // Stands in for the editor while there is none: publishes the prompter layout's line count and
    // the script's average words per line into the project, then refreshes the speed figures.
    void publishLineMetrics();
    // The transport, the time into the script and the total running time (the telemetry tick).
    void updateTelemetry();
    // Follows the project's progress with a 0.15 s chase when it moved, and paints the view's frame
    // (the scroll tick). While the loops run, the view paints only on this tick.
    void scrollTick();
    // Diagnostics: scroll ticks run so far.
    int scrollTicks() const { return scrollTicks_; }

    // ---- the window's display settings ----
    void setShowsTimestamp(bool show);
    void setShowsProgress(bool show);
    void setControlsOpacity(float opacity);
    // Mirrors the view; re-frames after each flip that changed.
    void setMirroring(bool horizontal, bool vertical);
    // While linked the view shows the document's alignment, else alignmentOverride().
    bool alignmentLinkedToDocument() const { return alignmentLinkedToDocument_; }
    void setAlignmentLinkedToDocument(bool linked) { alignmentLinkedToDocument_ = linked; }
    TextAlignment alignmentOverride() const { return alignmentOverride_; }
    void setAlignmentOverride(TextAlignment alignment) { alignmentOverride_ = alignment; }
    // A free prompter follows the script's mirroring; a display's prompter keeps the display's.
    bool mirroringLinkedToDocument() const { return mirroringLinkedToDocument_; }
    void setMirroringLinkedToDocument(bool linked) { mirroringLinkedToDocument_ = linked; }
    // The window chose an alignment: linked exactly when it is the document's own, then pushed.
    void chooseAlignment(TextAlignment alignment);

    // ---- ProjectEventListener ----
    void projectTextDidChange(Project& project) override;
    void projectScriptPropertiesDidChange(Project& project) override;
    void projectSpeedDidChange(Project& project) override;
    void projectTransportStateDidChange(Project& project) override;
    void projectPositionDidJump(Project& project, bool animated, bool immediate) override;
    void projectDidStartPlayback(Project& project) override;
    void projectDidStopPlayback(Project& project) override;
    void projectLineCountDidChange(Project& project) override;
    void projectAverageWordsPerLineDidChange(Project& project) override;
    int listenerPriority() const override { return 0; }

    // ---- PrompterViewDelegate ----
    void prompterViewDidChangeTransportState(PrompterView& view) override;
    void prompterViewDidRequestRewind(PrompterView& view) override;
    void prompterViewDidChangeSpeed(PrompterView& view, double percent) override;
    void prompterViewDidScroll(PrompterView& view, double progress) override;
    void prompterViewRequestsScroll(PrompterView& view, double progress) override;
    std::optional<double> prompterViewStepOrigin(PrompterView& view) override;
    void prompterViewDidChangeFastForward(PrompterView& view, double factor) override;
    void prompterViewDidRequestNextBookmark(PrompterView& view) override;
    void prompterViewDidRequestPreviousBookmark(PrompterView& view) override;

protected:
    QWidget* makeView() override;
    void viewDidLoad() override;

private:
    PrompterView& requireView();
    void reloadText();
    void copyTransportState();
    void startLoops();
    void stopLoops();
    bool loopsRunning() const;
    // Calls `call` on the controller when it still lives and has its view (the timers' closures).
    static void onLiveController(const std::weak_ptr<PrompterViewController>& weak,
                                 void (*call)(PrompterViewController&));

    std::shared_ptr<Project> project_;
    platform::Defaults* defaults_;
    std::unique_ptr<KQTimer> scrollTimer_;
    std::unique_ptr<KQTimer> telemetryTimer_;
    bool alignmentLinkedToDocument_ = true;
    TextAlignment alignmentOverride_ = TextAlignment::center;
    bool mirroringLinkedToDocument_ = true;
    // The script's flips as last applied, to tell which of them changed.
    bool documentFlipH_ = false;
    bool documentFlipV_ = false;
    bool prompting_ = false;
    int scrollTicks_ = 0;
};

} // namespace cw
