// A plain view controller for prompter windows, until the full one takes its place.
#pragma once

#include "cuewright/model/ProjectEventListener.h"
#include "cuewright/prompter/PrompterViewControlling.h"
#include "cuewright/prompter/PrompterViewDelegate.h"

#include <QPointer>
#include <QTimer>

#include <memory>

namespace platform {
class Defaults;
}

namespace cw {

class Project;

// Binds one project to one PrompterView: copies the text, the script properties, the speed and
// the transport into the view, moves the text to the project's progress 60 times a second and
// carries the view's requests back to the project. Made by create() (the view and the project
// hold it weakly); main thread only.
class InterimPrompterViewController final
    : public PrompterViewControlling,
      public ProjectEventListener,
      public PrompterViewDelegate,
      public std::enable_shared_from_this<InterimPrompterViewController> {
    struct PrivateTag {};

public:
    static std::shared_ptr<InterimPrompterViewController> create(std::shared_ptr<Project> project,
                                                                 platform::Defaults& defaults);
    InterimPrompterViewController(PrivateTag, std::shared_ptr<Project> project, platform::Defaults& defaults);
    ~InterimPrompterViewController() override;

    const std::shared_ptr<Project>& project() const { return project_; }
    void updateSpeed(bool force);
    void updateTelemetry();
    void scrollTick();

    // PrompterViewControlling
    PrompterView* prompterView() override;
    void start() override;
    void stopTimers() override;
    void applyProjectProperties(bool force) override;
    void setShowsTimestamp(bool shows) override;
    void setShowsProgress(bool shows) override;
    void setControlsOpacity(float opacity) override;
    TextAlignment alignmentOverride() const override { return alignmentOverride_; }
    void setAlignmentOverride(TextAlignment alignment) override { alignmentOverride_ = alignment; }
    bool alignmentLinkedToDocument() const override { return alignmentLinked_; }
    void setAlignmentLinkedToDocument(bool linked) override { alignmentLinked_ = linked; }

    // ProjectEventListener
    void projectTextDidChange(Project& project) override;
    void projectScriptPropertiesDidChange(Project& project) override;
    void projectSpeedDidChange(Project& project) override;
    void projectTransportStateDidChange(Project& project) override;
    void projectPositionDidJump(Project& project, bool animated, bool immediate) override;
    void projectLineCountDidChange(Project& project) override;
    int listenerPriority() const override { return 0; }

    // PrompterViewDelegate
    void prompterViewDidChangeTransportState(PrompterView& view) override;
    void prompterViewDidRequestRewind(PrompterView& view) override;
    void prompterViewDidChangeSpeed(PrompterView& view, double percent) override;
    void prompterViewDidScroll(PrompterView& view, double progress) override;
    void prompterViewRequestsScroll(PrompterView& view, double progress) override;
    void prompterViewDidChangeFastForward(PrompterView& view, double factor) override;
    void prompterViewDidRequestNextBookmark(PrompterView& view) override;
    void prompterViewDidRequestPreviousBookmark(PrompterView& view) override;

private:
    void reloadText();
    void copyTransport();

    std::shared_ptr<Project> project_;
    platform::Defaults* defaults_;
    QPointer<PrompterView> view_;
    QTimer telemetryTimer_;
    QTimer scrollTimer_;
    TextAlignment alignmentOverride_ = TextAlignment::center;
    bool alignmentLinked_ = true;
};

} // namespace cw
