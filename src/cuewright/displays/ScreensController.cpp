#include "cuewright/displays/ScreensController.h"

#include "base/Log.h"
#include "cuewright/displays/DisplayPrompterOpener.h"
#include "cuewright/displays/ScreenListController.h"
#include "cuewright/model/Project.h"
#include "cuewright/model/ScreenManager.h"
#include "dispatch/MainThreadChecker.h"
#include "platform/screens/ScreenProvider.h"

#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace cw {

ScreensController::ScreensController(std::shared_ptr<Project> project, Options options, QObject* parent)
    : platform::ViewController(parent)
    , project_(std::move(project))
    , options_(std::move(options)) {
    CW_DCHECK_MAIN_THREAD();
    if (!project_) {
        base::fatal("use init(project:) instead!");
    }
    if (!options_.screens) {
        options_.screens = std::make_shared<platform::QtScreenProvider>();
    }
    QPointer<ScreensController> self(this);
    options_.screens->setScreensChangedHandler([self] {
        if (self) {
            self->screensChanged();
        }
    });
}

ScreensController::~ScreensController() {
    options_.screens->setScreensChangedHandler({});
    list_.reset();
}

QWidget* ScreensController::makeView() {
    auto* pane = new QWidget;
    pane->setObjectName(QStringLiteral("ScreensController"));
    listViewAnchor_ = new QWidget(pane);
    auto* box = new QGroupBox(pane);
    otherStuffBox_ = box;
    auto* hint = new QLabel(tr("Switch a display on to open a full-screen prompter on it. "
                               "Identify shows which display a row means."),
                            box);
    hint->setWordWrap(true);
    hint->setForegroundRole(QPalette::PlaceholderText);
    auto* reload = new QPushButton(tr("Refresh Displays"), box);
    reloadButton_ = reload;
    connect(reload, &QPushButton::clicked, this, &ScreensController::reloadScreens);
    auto* boxLayout = new QVBoxLayout(box);
    boxLayout->addWidget(hint);
    boxLayout->addWidget(reload, 0, Qt::AlignLeft);

    auto* layout = new QVBoxLayout(pane);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(ScreenListController::rowGap);
    layout->addWidget(listViewAnchor_);
    layout->addWidget(box);
    layout->addStretch(1);
    pane->installEventFilter(this);
    return pane;
}

void ScreensController::viewDidLoad() {
    reloadScreens();
}

bool ScreensController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == view() && event->type() == QEvent::Show && missedChange_) {
        missedChange_ = false;
        reloadScreens();
    }
    return false;
}

void ScreensController::screensChanged() {
    if (!isViewLoaded() || !view()->isVisible()) {
        missedChange_ = true;
        return;
    }
    if (reloadPending_) {
        return;
    }
    // Later, once: a display change comes as several signals, and may arrive while a row of the
    // list being replaced is still handling a click.
    reloadPending_ = true;
    QTimer::singleShot(0, this, [this] {
        reloadPending_ = false;
        reloadScreens();
    });
}

void ScreensController::reloadScreens() {
    CW_DCHECK_MAIN_THREAD();
    view();
    if (const auto& manager = project_->editor().screenManager) {
        manager->refreshAvailableScreens();
    }
    list_.reset(); // deletes its view, stopping its identifications
    embedList();
}

void ScreensController::embedList() {
    list_ = ScreenListController::create(project_, options_.opener, options_.identification);
    listViewAnchor_->setFixedHeight(list_->preferredListHeight());
    list_->embedIn(listViewAnchor_);
}

} // namespace cw
