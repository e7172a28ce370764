// The editor window's right-hand sidebar: a tab strip over the Script, Overlay and Displays panes.
#pragma once

#include "cuewright/editor/MicroToolbar.h"
#include "cuewright/model/Editor.h"
#include "cuewright/model/ProjectEventListener.h"
#include "platform/defaults/Defaults.h"
#include "platform/defaults/NotificationCenter.h"
#include "platform/ui/ViewController.h"

#include <QPointer>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>

class QScrollArea;

namespace cw {
class DisplayPrompterOpener;
}

namespace cw {
class Project;
}

namespace cw::editor {

// A pane as the sidebar shows it: its view, and the controller that must live while it shows
// (null for a view that owns whatever it needs).
struct SidebarPane {
    QWidget* view = nullptr;
    std::shared_ptr<void> controller;
    QObject* controllerObject = nullptr; // the controller, when it is a QObject
};

// Makes a new pane for the project; called on every switch to its mode.
using SidebarPaneFactory = std::function<SidebarPane(const std::shared_ptr<Project>&)>;

// The pane of a view controller held by std::shared_ptr: its view, loaded now.
template <class Controller> SidebarPane sidebarPane(std::shared_ptr<Controller> controller) {
    QWidget* view = controller->view();
    QObject* object = nullptr;
    if constexpr (std::is_base_of_v<QObject, Controller>)
        object = controller.get();
    return {view, std::move(controller), object};
}

// Which pane shows is the project's editor mode: a tab click writes the mode into the project,
// and the sidebar follows every editor change of the project, wherever it was made. A switch
// makes a new pane and releases the previous one; a change that keeps the mode keeps the pane.
// Each pane comes from a factory (the three panes by default; setPaneFactory replaces one).
//
// Held by std::shared_ptr (it registers with the project when its view loads and unregisters
// when destroyed). Main thread only.
class SidebarController : public platform::ViewController,
                          public ProjectEventListener,
                          public MicroToolbarDelegate,
                          public std::enable_shared_from_this<SidebarController> {
    Q_OBJECT

public:
    // `defaults` and `center` must outlive the controller. A null project is a programming error.
    explicit SidebarController(
        std::shared_ptr<Project> project, platform::Defaults& defaults = platform::Defaults::standard(),
        platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter());
    ~SidebarController() override;

    Project& project() const { return *project_; }

    // Replaces how the pane of `mode` is made; takes effect at the next switch to it.
    void setPaneFactory(Editor::Mode mode, SidebarPaneFactory factory);
    // What the Displays pane's switches open and close prompters through; without it they open
    // none. Takes effect at the next switch to the pane.
    void setDisplayPrompterOpener(std::shared_ptr<DisplayPrompterOpener> opener) {
        opener_ = std::move(opener);
    }

    // Shows the pane of `mode` unless it already shows.
    void showPane(Editor::Mode mode);

    std::optional<Editor::Mode> currentMode() const { return currentMode_; }
    const SidebarPane& currentPane() const { return currentPane_; }
    // The current pane's controller when it is a `Controller`, else null.
    template <class Controller> Controller* currentController() const {
        return dynamic_cast<Controller*>(currentPane_.controllerObject);
    }

    MicroToolbar* toolbar() const { return toolbar_; }
    QScrollArea* scrollView() const { return scrollView_; }

    // MicroToolbarDelegate: tabs 0, 1, 2 choose the modes script, overlay, displays.
    void microToolbarDidSelectItemAt(MicroToolbar& toolbar, int index) override;

    // ProjectEventListener
    void projectEditorDidChange(Project&) override;

    static int tabIndex(Editor::Mode mode) { return static_cast<int>(mode); }

protected:
    QWidget* makeView() override;
    void viewDidLoad() override;

private:
    void setupToolbar();

    std::shared_ptr<Project> project_;
    platform::Defaults* defaults_;
    platform::NotificationCenter* center_;
    std::array<SidebarPaneFactory, 3> factories_;
    std::shared_ptr<DisplayPrompterOpener> opener_;
    SidebarPane currentPane_;
    std::optional<Editor::Mode> currentMode_;
    MicroToolbar* toolbar_ = nullptr;
    QScrollArea* scrollView_ = nullptr;
    bool registered_ = false;
};

} // namespace cw::editor
