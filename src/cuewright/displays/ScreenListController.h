// The list of the Displays pane: one row per display known to the project, newest id on top.
#pragma once

#include "cuewright/displays/ScreenIdentificator.h"
#include "cuewright/displays/ScreenInfoViewController.h"
#include "cuewright/model/ProjectEventListener.h"
#include "platform/ui/ViewController.h"

#include <QPointer>
#include <QScrollArea>

#include <memory>
#include <vector>

namespace cw {

class DisplayPrompterOpener;
class Project;

// Builds and stacks the rows (ScreenInfoViewController) of the displays in the project's screen
// manager, sorted by display id, highest first, 8 points apart; carries the rows' changes to the
// screen manager (which stores them and tells the project's listeners) and the prompter switch
// to the opener. When the opener says the switch did not take (the display is gone), the
// description's isActive is put right again, so the row never claims a prompter that is not
// there.
//
// As a listener of the project it refreshes the row of a description that changed elsewhere and
// stops every identification when playback starts; a switch that has the keyboard when its
// prompter is switched off elsewhere lets it go (see DisplayPrompterOpener). The rows are rebuilt
// when the view is shown and by reloadScreenList(); identifications stop when the view hides, on
// every rebuild and with the controller.
//
// Made by create(), which registers it with the project (held weakly there). Main thread only.
class ScreenListController : public platform::ViewController,
                             public ProjectEventListener,
                             public ScreenInfoControllerDelegate {
    Q_OBJECT
    struct PrivateTag {};

public:
    static constexpr int rowGap = 8;

    // Without an opener the display switches open nothing.
    static std::shared_ptr<ScreenListController> create(std::shared_ptr<Project> project,
                                                        std::shared_ptr<DisplayPrompterOpener> opener,
                                                        ScreenIdentificator::Options identification = {});
    ScreenListController(PrivateTag, std::shared_ptr<Project> project,
                         std::shared_ptr<DisplayPrompterOpener> opener,
                         ScreenIdentificator::Options identification);
    ~ScreenListController() override;

    // The height the rows of `count` displays take: count × 154 + (count − 1) × 8; 0 for none.
    static int listHeight(int count);
    // 318 while fewer than three displays are known, else 480.
    int preferredListHeight() const;

    void reloadScreenList();
    void stopIdentifications();

    const std::vector<std::unique_ptr<ScreenInfoViewController>>& itemControllers() const { return rows_; }
    QWidget* listView() const { return listView_; }
    QScrollArea* scrollView() const { return scrollView_; }

    // ---- ScreenInfoControllerDelegate ----
    void screenInfoControllerDidChange(const ScreenDescription& screen) override;
    void screenInfoControllerDidToggleScreen(const ScreenDescription& screen) override;

    // ---- ProjectEventListener ----
    void projectDidStartPlayback(Project& project) override;
    void projectScreenDescriptionDidChange(Project& project, const ScreenDescription& screen) override;

protected:
    QWidget* makeView() override;
    void viewDidLoad() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Moves the keyboard off the row's switch when it has it.
    void letGoOfKeyboard(ScreenInfoViewController& row);

    std::shared_ptr<Project> project_;
    std::shared_ptr<DisplayPrompterOpener> opener_;
    ScreenIdentificator::Options identification_;
    std::vector<std::unique_ptr<ScreenInfoViewController>> rows_;
    QPointer<QWidget> listView_;
    QPointer<QScrollArea> scrollView_;
};

} // namespace cw
