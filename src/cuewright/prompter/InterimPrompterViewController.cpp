#include "cuewright/prompter/InterimPrompterViewController.h"

#include "cuewright/model/Project.h"
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/prompter/PrompterView.h"
#include "platform/defaults/Defaults.h"
#include "platform/layers/Transaction.h"

namespace cw {

namespace {

constexpr int telemetryIntervalMs = 100;
constexpr double framesPerSecond = 60.0;

PrompterTransport prompterTransport(const TransportState& state) {
    PrompterTransport t;
    t.status = state.transportStatus == TransportState::TransportStatus::playing
                   ? PrompterTransport::Status::playing
                   : PrompterTransport::Status::stopped;
    t.progress = state.progress;
    t.ffwdFactor = state.ffwdFactor;
    return t;
}

} // namespace

std::shared_ptr<InterimPrompterViewController>
InterimPrompterViewController::create(std::shared_ptr<Project> project, platform::Defaults& defaults) {
    return std::make_shared<InterimPrompterViewController>(PrivateTag{}, std::move(project), defaults);
}

InterimPrompterViewController::InterimPrompterViewController(PrivateTag, std::shared_ptr<Project> project,
                                                             platform::Defaults& defaults)
    : project_(std::move(project))
    , defaults_(&defaults) {
    telemetryTimer_.setInterval(telemetryIntervalMs);
    QObject::connect(&telemetryTimer_, &QTimer::timeout, [this] { updateTelemetry(); });
    scrollTimer_.setInterval(static_cast<int>(1000.0 / framesPerSecond));
    scrollTimer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&scrollTimer_, &QTimer::timeout, [this] { scrollTick(); });
}

InterimPrompterViewController::~InterimPrompterViewController() {
    stopTimers();
    project_->unregisterEventListener(static_cast<const ProjectEventListener*>(this));
    if (view_ && view_->parentWidget() == nullptr) {
        delete view_.data(); // never placed in a window
    }
}

PrompterView* InterimPrompterViewController::prompterView() {
    if (!view_) {
        view_ = new PrompterView;
        view_->setDelegate(weak_from_this());
    }
    return view_;
}

void InterimPrompterViewController::start() {
    PrompterView* view = prompterView();
    {
        platform::layers::TransactionScope immediate;
        reloadText();
        applyProjectProperties(true);
        updateSpeed(true);
        copyTransport();
        view->setLineCount(project_->editor().lineCount);
        view->layoutText();
        view->relayout(false);
    }
    project_->registerEventListener(shared_from_this());
    telemetryTimer_.start();
    scrollTimer_.start();
    view->setScrollPosition(project_->transportState().progress, false, true);
}

void InterimPrompterViewController::stopTimers() {
    telemetryTimer_.stop();
    scrollTimer_.stop();
}

void InterimPrompterViewController::reloadText() {
    const auto& text = project_->document().text;
    if (view_->text() == text) {
        return;
    }
    view_->setText(text);
    view_->layoutText();
    view_->relayout(false);
}

void InterimPrompterViewController::applyProjectProperties(bool force) {
    const auto& properties = project_->document().scriptProperties;
    prompterView()->applyScriptProperties(
        properties, alignmentLinked_ ? properties.textAlignment : alignmentOverride_, force);
}

void InterimPrompterViewController::updateSpeed(bool force) {
    PrompterView* view = prompterView();
    const auto& speed = project_->document().speedProperties;
    if (view->scrollSpeed() == speed.scrollSpeedPerc && !force) {
        return;
    }
    const double lps = speed.linesPerSecond();
    const double words = project_->averageWordsPerLine();
    view->setScrollSpeedFigures(lps, lps * 60, words * lps, words * lps * 60);
    view->setScrollSpeed(speed.scrollSpeedPerc);
    view->updateSpeedLabel();
}

void InterimPrompterViewController::copyTransport() {
    const PrompterTransport state = prompterTransport(project_->transportState());
    if (view_->transportState() != state) {
        view_->setTransportState(state);
    }
}

void InterimPrompterViewController::updateTelemetry() {
    if (!view_) {
        return;
    }
    copyTransport();
    const double timestamp = project_->currentTimestamp();
    const double total = project_->runningTime();
    if (timestamp != view_->timestamp() || total != view_->totalRuntime()) {
        view_->setTimestamp(timestamp);
        view_->setTotalRuntime(total);
        view_->updateTimestampLabel();
    }
}

void InterimPrompterViewController::scrollTick() {
    if (!view_) {
        return;
    }
    const double progress = project_->transportState().progress;
    if (view_->transportProgress() != progress) {
        view_->setScrollPosition(progress, true, false);
    }
}

void InterimPrompterViewController::setShowsTimestamp(bool shows) {
    PrompterView* view = prompterView();
    view->setShowsTimestamp(shows);
    view->setTimestamp(project_->currentTimestamp());
    view->setTotalRuntime(project_->runningTime());
    view->updateTimestampLabel();
}

void InterimPrompterViewController::setShowsProgress(bool shows) {
    PrompterView* view = prompterView();
    view->setShowsProgress(shows);
    view->setTransportProgress(project_->transportState().progress);
}

void InterimPrompterViewController::setControlsOpacity(float opacity) {
    prompterView()->setControlsOpacity(opacity);
}

// ---- project ----

void InterimPrompterViewController::projectTextDidChange(Project&) {
    if (view_) {
        reloadText();
    }
}

void InterimPrompterViewController::projectScriptPropertiesDidChange(Project&) {
    applyProjectProperties(false);
}

void InterimPrompterViewController::projectSpeedDidChange(Project&) {
    updateSpeed(false);
}

void InterimPrompterViewController::projectTransportStateDidChange(Project&) {
    if (view_) {
        copyTransport();
    }
}

void InterimPrompterViewController::projectPositionDidJump(Project&, bool animated, bool immediate) {
    if (view_) {
        view_->setScrollPosition(project_->transportState().progress, animated && !immediate, true);
    }
}

void InterimPrompterViewController::projectLineCountDidChange(Project&) {
    if (view_) {
        view_->setLineCount(project_->editor().lineCount);
    }
}

// ---- view ----

void InterimPrompterViewController::prompterViewDidChangeTransportState(PrompterView& view) {
    const bool projectPlays =
        project_->transportState().transportStatus == TransportState::TransportStatus::playing;
    if (projectPlays && !view.transportState().isPlaying()) {
        project_->pause();
    } else if (!projectPlays && view.transportState().isPlaying()) {
        project_->play();
    }
}

void InterimPrompterViewController::prompterViewDidRequestRewind(PrompterView&) {
    project_->rewind();
}

void InterimPrompterViewController::prompterViewDidChangeSpeed(PrompterView&, double percent) {
    const auto& speed = project_->document().speedProperties;
    project_->setScrollSpeed(percent, speed.minScrollSpeedLPS, speed.maxScrollSpeedLPS);
    updateSpeed(true);
}

void InterimPrompterViewController::prompterViewDidScroll(PrompterView&, double progress) {
    project_->setProgress(progress, false, false);
}

void InterimPrompterViewController::prompterViewRequestsScroll(PrompterView&, double progress) {
    if (!defaults_->boolForKey(settings::manualScrollingEnabled)) {
        project_->setProgress(progress, true, false);
        return;
    }
    const double duration = defaults_->doubleForKey(settings::manualScrollingDuration);
    if (duration == 0) {
        project_->setProgress(progress, false, false);
        return;
    }
    if (project_->transportState().transportStatus == TransportState::TransportStatus::playing) {
        return;
    }
    const auto lines = static_cast<double>(defaults_->integerForKey(settings::manualScrollingLineCount));
    project_->animateSeek(progress, duration, lines);
}

void InterimPrompterViewController::prompterViewDidChangeFastForward(PrompterView&, double factor) {
    project_->setFfwdFactor(factor);
    project_->notifyTransportStateChanged();
}

void InterimPrompterViewController::prompterViewDidRequestNextBookmark(PrompterView&) {
    project_->jumpToNextBookmark();
}

void InterimPrompterViewController::prompterViewDidRequestPreviousBookmark(PrompterView&) {
    project_->jumpToPreviousBookmark();
}

} // namespace cw
