// The Displays pane of the editor's sidebar: the list of displays and a box of further controls.
#pragma once

#include "cuewright/displays/ScreenIdentificator.h"
#include "platform/ui/ViewController.h"

#include <QAbstractButton>
#include <QPointer>

#include <memory>

namespace platform {
class ScreenProvider;
}

namespace cw {

class DisplayPrompterOpener;
class Project;
class ScreenListController;

// Embeds a ScreenListController for the project in an anchor of the list's preferred height
// (318 points below three displays, 480 from three on), with the box of further controls 8 points
// below it. reloadScreens() refreshes the project's displays (ScreenManager) and embeds a new
// list. The pane follows the attached displays through its screen provider: a display added,
// removed or changed while the pane is shown reloads it (once per turn of the event loop, after
// the change has settled); one reported while it is hidden reloads it when it is shown again.
//
// The pane takes its provider's one screens-changed handler for its lifetime. Main thread only.
class ScreensController : public platform::ViewController {
    Q_OBJECT

public:
    struct Options {
        // Watched for display changes; a QtScreenProvider of the pane's own when null. Tests
        // pass the fake provider their project reads.
        std::shared_ptr<platform::ScreenProvider> screens;
        // Opens and closes display-bound prompters; none open when null.
        std::shared_ptr<DisplayPrompterOpener> opener;
        ScreenIdentificator::Options identification;
    };

    // Stops the program with "use init(project:) instead!" without a project.
    explicit ScreensController(std::shared_ptr<Project> project, Options options = {},
                               QObject* parent = nullptr);
    ~ScreensController() override;

    const std::shared_ptr<Project>& project() const { return project_; }
    ScreenListController* screenListController() const { return list_.get(); }
    QWidget* listViewAnchor() const { return listViewAnchor_; }
    QWidget* otherStuffBox() const { return otherStuffBox_; }
    QAbstractButton* reloadButton() const { return reloadButton_; }

    // Refreshes the project's displays and embeds a new list.
    void reloadScreens();

protected:
    QWidget* makeView() override;
    void viewDidLoad() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void screensChanged();
    void embedList();

    std::shared_ptr<Project> project_;
    Options options_;
    std::shared_ptr<ScreenListController> list_;
    bool reloadPending_ = false;
    bool missedChange_ = false;
    QPointer<QWidget> listViewAnchor_;
    QPointer<QWidget> otherStuffBox_;
    QPointer<QAbstractButton> reloadButton_;
};

} // namespace cw
