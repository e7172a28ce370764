#include "cuewright/editor/TransportController.h"

#include "base/Log.h"
#include "cuewright/controls/TransportBackgroundView.h"
#include "cuewright/controls/TransportButton.h"
#include "cuewright/model/BindingActions.h"
#include "cuewright/model/Project.h"
#include "dispatch/MainThreadChecker.h"

#include <QHBoxLayout>

#include <array>

namespace cw::editor {

using controls::TransportButtonStyle;

namespace {

using Action = void (TransportController::*)();

struct NamedAction {
    std::string_view name;
    Action action;
};

constexpr std::array<NamedAction, 8> actions{{
    {"play", &TransportController::play},
    {"playBackwards", &TransportController::playBackwards},
    {"stop", &TransportController::stop},
    {"pause", &TransportController::pause},
    {"rewind", &TransportController::rewind},
    {"endwind", &TransportController::endwind},
    {"ffwd", &TransportController::ffwd},
    {"bbwd", &TransportController::bbwd},
}};

const NamedAction* findAction(std::string_view name) {
    for (const NamedAction& a : actions)
        if (a.name == name)
            return &a;
    return nullptr;
}

} // namespace

std::shared_ptr<TransportController> TransportController::create(std::shared_ptr<Project> project) {
    return std::make_shared<TransportController>(PrivateTag{}, std::move(project));
}

TransportController::TransportController(PrivateTag, std::shared_ptr<Project> project)
    : project_(std::move(project)) {
    CW_DCHECK_MAIN_THREAD();
    if (!project_)
        base::fatal(missingProjectMessage);
}

TransportController::~TransportController() {
    project_->unregisterEventListener(static_cast<const ProjectEventListener*>(this));
}

QWidget* TransportController::makeView() {
    auto* plate = new controls::TransportBackgroundView;
    auto* row = new QHBoxLayout(plate);
    row->setContentsMargins(6, 2, 6, 2);
    row->setSpacing(2);
    for (auto*& button : buttons_) {
        button = new controls::TransportButton(plate);
        row->addWidget(button);
    }
    return plate;
}

void TransportController::viewDidLoad() {
    project_->registerEventListener(shared_from_this());
    updateButtons();
}

controls::TransportButton& TransportController::button(Button which) {
    view();
    return *buttons_[static_cast<int>(which)];
}

void TransportController::updateButtons() {
    if (!isViewLoaded())
        return;
    auto set = [this](Button which, TransportButtonStyle style, const char* action) {
        controls::TransportButton& b = *buttons_[static_cast<int>(which)];
        b.setStyle(style);
        b.setActionBinding({this, action});
    };
    set(Button::rewind, TransportButtonStyle::rewind, "rewind");
    set(Button::bbwd, TransportButtonStyle::bbwd, "bbwd");
    set(Button::ffwd, TransportButtonStyle::ffwd, "ffwd");
    set(Button::endwind, TransportButtonStyle::endwind, "endwind");

    const TransportState state = project_->transportState();
    const bool backward = state.isPlaying() && state.ffwdFactor < 0;
    const bool forward = state.isPlaying() && state.ffwdFactor >= 0;
    if (backward)
        set(Button::backplay, TransportButtonStyle::pauseBack, "pause");
    else
        set(Button::backplay, TransportButtonStyle::backPlay, "playBackwards");
    if (forward)
        set(Button::play, TransportButtonStyle::pauseForward, "pause");
    else
        set(Button::play, TransportButtonStyle::play, "play");
    if (state.isPlaying())
        set(Button::pause, TransportButtonStyle::pause, "pause");
    else
        set(Button::pause, TransportButtonStyle::stop, "stop");
}

void TransportController::setFfwdFactor(double factor) {
    project_->setFfwdFactor(factor);
    project_->notifyTransportStateChanged();
}

void TransportController::play() {
    setFfwdFactor(1.0);
    project_->play();
}

void TransportController::playBackwards() {
    setFfwdFactor(-1.0);
    project_->play();
}

void TransportController::pause() {
    project_->pause();
}

void TransportController::stop() {
    project_->pause();
    project_->rewind();
}

void TransportController::rewind() {
    project_->rewind();
}

void TransportController::endwind() {
    project_->jumpToEnd();
}

void TransportController::ffwd() {
    const bool held = isViewLoaded() && button(Button::ffwd).isActive();
    setFfwdFactor(held ? fastWindFactor : 1.0);
}

void TransportController::bbwd() {
    const bool held = isViewLoaded() && button(Button::bbwd).isActive();
    setFfwdFactor(held ? -fastWindFactor : 1.0);
}

bool TransportController::respondsToAction(std::string_view action) const {
    return findAction(action) != nullptr;
}

void TransportController::performAction(std::string_view action, QObject*) {
    if (const NamedAction* a = findAction(action))
        (this->*(a->action))();
}

} // namespace cw::editor
