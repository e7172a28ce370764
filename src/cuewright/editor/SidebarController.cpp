#include "cuewright/editor/SidebarController.h"

#include "cuewright/displays/DisplayPrompterOpener.h"
#include "cuewright/displays/ScreensController.h"
#include "cuewright/editor/OverlayController.h"
#include "cuewright/editor/ProjectPropertiesController.h"
#include "cuewright/model/Project.h"

#include "base/Log.h"

#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

namespace cw::editor {

SidebarController::SidebarController(std::shared_ptr<Project> project, platform::Defaults& defaults,
                                     platform::NotificationCenter& center)
    : project_(std::move(project))
    , defaults_(&defaults)
    , center_(&center) {
    if (!project_)
        base::fatal("use init(project:) instead!");
    factories_[tabIndex(Editor::Mode::script)] = [this](const std::shared_ptr<Project>& p) {
        return sidebarPane(std::make_shared<ProjectPropertiesController>(p, *defaults_, *center_));
    };
    factories_[tabIndex(Editor::Mode::overlay)] = [this](const std::shared_ptr<Project>& p) {
        return sidebarPane(std::make_shared<OverlayController>(p, *defaults_));
    };
    factories_[tabIndex(Editor::Mode::displays)] = [this](const std::shared_ptr<Project>& p) {
        ScreensController::Options options;
        options.opener = opener_;
        return sidebarPane(std::make_shared<ScreensController>(p, std::move(options)));
    };
}

SidebarController::~SidebarController() {
    if (registered_)
        project_->unregisterEventListener(static_cast<const ProjectEventListener*>(this));
}

void SidebarController::setPaneFactory(Editor::Mode mode, SidebarPaneFactory factory) {
    factories_[tabIndex(mode)] = std::move(factory);
}

QWidget* SidebarController::makeView() {
    auto* sidebar = new QWidget;
    sidebar->setObjectName(QStringLiteral("SidebarController"));
    auto* layout = new QVBoxLayout(sidebar);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    toolbar_ = new MicroToolbar(sidebar);
    toolbar_->setFixedHeight(26);
    layout->addWidget(toolbar_);
    scrollView_ = new QScrollArea(sidebar);
    scrollView_->setFrameShape(QFrame::NoFrame);
    scrollView_->setWidgetResizable(true);
    scrollView_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // No stop of its own, which would show no mark: Tab goes to the pane's controls, and the view
    // scrolls to each one reached.
    scrollView_->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(scrollView_, 1);
    return sidebar;
}

void SidebarController::viewDidLoad() {
    project_->registerEventListener(shared_from_this());
    registered_ = true;
    setupToolbar();
    showPane(project_->editor().mode);
}

void SidebarController::setupToolbar() {
    toolbar_->addItem(tr("Script"));
    toolbar_->addItem(tr("Overlay"));
    toolbar_->addItem(tr("Displays"));
    toolbar_->setDelegate(this);
}

void SidebarController::showPane(Editor::Mode mode) {
    if (!isViewLoaded() || currentMode_ == mode)
        return;
    currentMode_ = mode;
    toolbar_->setSelectedItemIndex(tabIndex(mode));
    SidebarPane pane = factories_[tabIndex(mode)](project_);
    // The scroll view lets go of the old view; its controller, or we, then delete it.
    QPointer<QWidget> previous = scrollView_->takeWidget();
    // Never squeezed below its rows' heights (colour wells, "Reset" beside its label): a short
    // window scrolls the pane instead.
    pane.view->setSizePolicy(pane.view->sizePolicy().horizontalPolicy(), QSizePolicy::Minimum);
    scrollView_->setWidget(pane.view);
    std::swap(currentPane_, pane);
    pane = {};
    delete previous.data();
    scrollView_->verticalScrollBar()->setValue(0);
    scrollView_->horizontalScrollBar()->setValue(0);
}

void SidebarController::microToolbarDidSelectItemAt(MicroToolbar&, int index) {
    if (index < 0 || index > 2)
        return;
    Editor editor = project_->editor();
    editor.mode = static_cast<Editor::Mode>(index);
    project_->setEditor(std::move(editor));
}

void SidebarController::projectEditorDidChange(Project& project) {
    showPane(project.editor().mode);
}

} // namespace cw::editor
