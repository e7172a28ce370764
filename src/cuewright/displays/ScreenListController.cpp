#include "cuewright/displays/ScreenListController.h"

#include "base/Log.h"
#include "cuewright/displays/DisplayPrompterOpener.h"
#include "cuewright/model/Project.h"
#include "cuewright/model/ScreenManager.h"
#include "dispatch/MainThreadChecker.h"
#include "platform/screens/ScreenProvider.h"

#include <QEvent>
#include <QFrame>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <optional>

namespace cw {

std::shared_ptr<ScreenListController>
ScreenListController::create(std::shared_ptr<Project> project, std::shared_ptr<DisplayPrompterOpener> opener,
                             ScreenIdentificator::Options identification) {
    if (!project) {
        base::fatal("use init(project:) instead!");
    }
    auto list = std::make_shared<ScreenListController>(PrivateTag{}, project, std::move(opener),
                                                       std::move(identification));
    project->registerEventListener(list);
    return list;
}

ScreenListController::ScreenListController(PrivateTag, std::shared_ptr<Project> project,
                                           std::shared_ptr<DisplayPrompterOpener> opener,
                                           ScreenIdentificator::Options identification)
    : project_(std::move(project))
    , opener_(std::move(opener))
    , identification_(std::move(identification)) {}

ScreenListController::~ScreenListController() {
    project_->unregisterEventListener(static_cast<const ProjectEventListener*>(this));
    stopIdentifications();
}

int ScreenListController::listHeight(int count) {
    return count <= 0 ? 0 : count * ScreenInfoViewController::rowHeight + (count - 1) * rowGap;
}

int ScreenListController::preferredListHeight() const {
    const auto& manager = project_->editor().screenManager;
    const std::size_t known = manager ? manager->availableScreens().size() : 0;
    return known < 3 ? 318 : 480;
}

QWidget* ScreenListController::makeView() {
    auto* scroll = new QScrollArea;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidgetResizable(true);
    auto* list = new QWidget;
    list->setAutoFillBackground(false);
    auto* layout = new QVBoxLayout(list);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(rowGap);
    layout->addStretch(1);
    scroll->setWidget(list);
    scroll->viewport()->setAutoFillBackground(false);
    scrollView_ = scroll;
    listView_ = list;
    scroll->installEventFilter(this);
    return scroll;
}

void ScreenListController::viewDidLoad() {
    reloadScreenList();
}

bool ScreenListController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == scrollView_.data()) {
        if (event->type() == QEvent::Show) {
            reloadScreenList();
        } else if (event->type() == QEvent::Hide) {
            stopIdentifications();
        }
    }
    return false;
}

void ScreenListController::reloadScreenList() {
    CW_DCHECK_MAIN_THREAD();
    view();
    std::vector<ScreenDescription> screens;
    if (const auto& manager = project_->editor().screenManager) {
        for (const auto& [uuid, screen] : manager->availableScreens()) {
            screens.push_back(screen);
        }
    }
    std::stable_sort(screens.begin(), screens.end(),
                     [](const ScreenDescription& a, const ScreenDescription& b) {
                         return platform::ScreenProvider::displayIDFromUUIDString(a.displayUUID) >
                                platform::ScreenProvider::displayIDFromUUIDString(b.displayUUID);
                     });

    stopIdentifications();
    rows_.clear(); // each row deletes its view

    listView_->setMinimumHeight(listHeight(static_cast<int>(screens.size())));
    auto* layout = static_cast<QVBoxLayout*>(listView_->layout());
    for (ScreenDescription& screen : screens) {
        auto row = std::make_unique<ScreenInfoViewController>(std::move(screen), identification_);
        row->setDelegate(this);
        // Before the closing stretch: the first row is on top.
        layout->insertWidget(layout->count() - 1, row->view());
        rows_.push_back(std::move(row));
    }
    // Tab cycles through the name fields; a single row keeps the field's usual order.
    for (std::size_t i = 0; rows_.size() >= 2 && i < rows_.size(); ++i) {
        rows_[i]->setNextKeyView(rows_[(i + 1) % rows_.size()]->screenNameLabel());
    }
    scrollView_->verticalScrollBar()->setValue(0); // show the top of the list
}

void ScreenListController::stopIdentifications() {
    for (const auto& row : rows_) {
        row->stopIdentification();
    }
}

void ScreenListController::screenInfoControllerDidChange(const ScreenDescription& screen) {
    if (const auto& manager = project_->editor().screenManager) {
        manager->update(screen);
    }
}

void ScreenListController::screenInfoControllerDidToggleScreen(const ScreenDescription& screen) {
    screenInfoControllerDidChange(screen);
    // Without an opener nobody can open a prompter: the switch goes back off.
    const bool bound = opener_ && opener_->toggleScreenBoundPrompter(project_, screen);
    const auto& manager = project_->editor().screenManager;
    if (!manager) {
        return;
    }
    auto now = manager->availableScreens().find(screen.displayUUID);
    if (now != manager->availableScreens().end() && now->second.isActive != bound) {
        ScreenDescription corrected = now->second;
        corrected.isActive = bound;
        manager->update(corrected);
    }
    for (const auto& row : rows_) {
        if (row->desc().displayUUID == screen.displayUUID) {
            letGoOfKeyboard(*row);
        }
    }
}

void ScreenListController::letGoOfKeyboard(ScreenInfoViewController& row) {
    // Whichever way the display went on or off, a switch left with the keyboard would take the
    // presenter's next Space.
    QCheckBox* box = row.screenCheckbox();
    if (box != nullptr && box->window()->focusWidget() == box) {
        box->clearFocus();
        if (opener_) {
            opener_->giveKeyboardBackFromSwitch();
        }
    }
}

void ScreenListController::projectDidStartPlayback(Project&) {
    stopIdentifications();
}

void ScreenListController::projectScreenDescriptionDidChange(Project&, const ScreenDescription& screen) {
    for (const auto& row : rows_) {
        if (row->desc().displayUUID != screen.displayUUID) {
            continue;
        }
        // On or off by another route than this switch (which reads itself first): the prompter's
        // own Escape, the remote, a display taken away.
        const bool turned = row->desc().isActive != screen.isActive;
        row->setDesc(screen);
        if (turned) {
            letGoOfKeyboard(*row);
        }
    }
}

} // namespace cw
