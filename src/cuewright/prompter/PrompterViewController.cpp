#include "cuewright/prompter/PrompterViewController.h"

#include "base/Log.h"
#include "cuewright/model/KQTimer.h"
#include "cuewright/model/Project.h"
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/model/TextUtils.h"
#include "cuewright/prompter/PrompterView.h"
#include "dispatch/MainThreadChecker.h"
#include "dispatch/Queue.h"
#include "platform/defaults/Defaults.h"
#include "platform/layers/Layer.h"
#include "platform/layers/Transaction.h"

namespace cw {

using platform::layers::TransactionScope;

namespace {

PrompterTransport prompterTransport(const TransportState& state) {
    PrompterTransport t;
    t.status = state.isPlaying() ? PrompterTransport::Status::playing : PrompterTransport::Status::stopped;
    t.progress = state.progress;
    t.ffwdFactor = state.ffwdFactor;
    return t;
}

} // namespace

std::shared_ptr<PrompterViewController> PrompterViewController::create(std::shared_ptr<Project> project) {
    return create(std::move(project), platform::Defaults::standard());
}

std::shared_ptr<PrompterViewController> PrompterViewController::create(std::shared_ptr<Project> project,
                                                                       platform::Defaults& defaults) {
    return std::make_shared<PrompterViewController>(PrivateTag{}, std::move(project), defaults);
}

PrompterViewController::PrompterViewController(PrivateTag, std::shared_ptr<Project> project,
                                               platform::Defaults& defaults)
    : project_(std::move(project))
    , defaults_(&defaults) {
    CW_DCHECK_MAIN_THREAD();
    if (!project_) {
        base::fatal(missingProjectMessage);
    }
}

PrompterViewController::~PrompterViewController() {
    stopLoops();
    project_->unregisterEventListener(static_cast<const ProjectEventListener*>(this));
}

QWidget* PrompterViewController::makeView() {
    return new PrompterView;
}

void PrompterViewController::viewDidLoad() {
    static_cast<PrompterView*>(view())->setDelegate(weak_from_this());
}

PrompterView* PrompterViewController::prompterView() {
    CW_DCHECK_MAIN_THREAD();
    return static_cast<PrompterView*>(view());
}

PrompterView& PrompterViewController::requireView() {
    PrompterView* v = prompterView();
    if (v == nullptr) {
        base::fatal("PrompterViewController: the prompter view is gone");
    }
    return *v;
}

// ---- prompting ----

void PrompterViewController::start() {
    CW_DCHECK_MAIN_THREAD();
    PrompterView& v = requireView();
    {
        TransactionScope immediate;
        reloadText();
        applyProjectProperties(true);
        updateSpeed(true);
        copyTransportState();
        v.layoutText();
        v.relayout(false);
        v.scrollLayer().removeAnimation(platform::layers::AnimationKey::position);
    }
    project_->registerEventListener(shared_from_this());
    prompting_ = true;
    stopLoops();
    scrollTimer_ = std::make_unique<KQTimer>(dispatch::mainQueue());
    telemetryTimer_ = std::make_unique<KQTimer>(dispatch::mainQueue());
    updateTelemetry();
    v.setScrollPosition(project_->transportState().progress, /*animated=*/false, /*force=*/true);
    // Both loops run while the window is shown, playing or not: progress changes from jumps,
    // seeks and remote commands are followed by the next scroll tick.
    startLoops();
}

void PrompterViewController::stop() {
    CW_DCHECK_MAIN_THREAD();
    prompting_ = false;
    stopLoops();
    if (isViewLoaded()) {
        prompterView()->stopLayingOutText(); // start() lays the text out again
    }
}

void PrompterViewController::startLoops() {
    if (!prompting_ || !scrollTimer_ || !telemetryTimer_) {
        return;
    }
    std::weak_ptr<PrompterViewController> weak = weak_from_this();
    telemetryTimer_->start(telemetryInterval, [weak](double) {
        onLiveController(weak, [](PrompterViewController& c) { c.updateTelemetry(); });
    });
    scrollTimer_->start(1.0 / fps, [weak](double) {
        onLiveController(weak, [](PrompterViewController& c) { c.scrollTick(); });
    });
    // The scroll step paints the frames: a second clock in the view would paint between the steps too.
    requireView().setClockedExternally(true);
}

void PrompterViewController::onLiveController(const std::weak_ptr<PrompterViewController>& weak,
                                              void (*call)(PrompterViewController&)) {
    auto self = weak.lock();
    if (!self || !self->isViewLoaded()) {
        return;
    }
    call(*self);
    if (self.use_count() == 1) {
        // Everyone else let go meanwhile: release the controller, and its timers, after this
        // timer call has returned rather than inside it.
        dispatch::mainQueue()->async([last = std::move(self)] {});
    }
}

void PrompterViewController::stopLoops() {
    if (telemetryTimer_) {
        telemetryTimer_->stop();
    }
    if (scrollTimer_) {
        scrollTimer_->stop();
    }
    if (isViewLoaded()) {
        prompterView()->setClockedExternally(false);
    }
}

bool PrompterViewController::loopsRunning() const {
    return scrollTimer_ && scrollTimer_->isRunning();
}

// ---- pushes ----

void PrompterViewController::reloadText() {
    PrompterView& v = requireView();
    const platform::AttributedString& text = project_->document().text;
    if (v.text() == text) {
        return;
    }
    TransactionScope immediate;
    v.setText(text);
    v.layoutText();
    v.relayout(false);
}

void PrompterViewController::copyTransportState() {
    requireView().setTransportState(prompterTransport(project_->transportState()));
}

void PrompterViewController::applyProjectProperties(bool force) {
    CW_DCHECK_MAIN_THREAD();
    PrompterView& v = requireView();
    const auto& properties = project_->document().scriptProperties;
    const TextAlignment alignment =
        alignmentLinkedToDocument_ ? properties.textAlignment : alignmentOverride_;
    v.applyScriptProperties(properties, alignment);
    if (mirroringLinkedToDocument_) {
        // Each flip the script changed replaces the view's; one chosen in the window stays until then.
        const PrompterDisplayState& shown = v.display();
        const bool h = force || properties.flipHorizontal != documentFlipH_ ? properties.flipHorizontal
                                                                            : shown.flipHorizontal;
        const bool vert =
            force || properties.flipVertical != documentFlipV_ ? properties.flipVertical : shown.flipVertical;
        setMirroring(h, vert);
    }
    documentFlipH_ = properties.flipHorizontal;
    documentFlipV_ = properties.flipVertical;

    PrompterControlPanel& controls = v.controls();
    const double timestamp = project_->currentTimestamp();
    if (controls.timestamp() != timestamp || force) {
        controls.setTimestamp(timestamp);
        controls.updateTimestampLabel();
    }
}

void PrompterViewController::updateSpeed(bool force) {
    CW_DCHECK_MAIN_THREAD();
    PrompterControlPanel& controls = requireView().controls();
    const auto& speed = project_->document().speedProperties;
    if (controls.scrollSpeed() == speed.scrollSpeedPerc && !force) {
        return;
    }
    const double lps = speed.linesPerSecond();
    const double wordsPerLine = project_->averageWordsPerLine();
    controls.setScrollSpeedFigures(lps, lps * 60, wordsPerLine * lps, wordsPerLine * lps * 60);
    controls.setScrollSpeed(speed.scrollSpeedPerc);
    controls.updateSpeedLabel();
}

void PrompterViewController::publishLineMetrics() {
    CW_DCHECK_MAIN_THREAD();
    const PrompterView& v = requireView();
    const int lines = static_cast<int>(v.lineOffsets().size());
    const int words = TextUtils::wordCount(project_->document().text.string());
    project_->setAverageWordsPerLine(lines > 0 ? static_cast<double>(words) / lines : 0);
    Editor editor = project_->editor();
    editor.lineCount = lines;
    project_->setEditor(editor);
    updateSpeed(/*force=*/true);
}

void PrompterViewController::updateTelemetry() {
    CW_DCHECK_MAIN_THREAD();
    PrompterView& v = requireView();
    const TransportState state = project_->transportState();
    const PrompterTransport shown = v.transportState();
    if (shown.isPlaying() != state.isPlaying() || shown.progress != state.progress ||
        shown.ffwdFactor != state.ffwdFactor) {
        v.setTransportState(prompterTransport(state));
    }
    PrompterControlPanel& controls = v.controls();
    const double duration = project_->runningTime();
    const double timestamp = state.progress * duration;
    if (timestamp != controls.timestamp()) {
        controls.setTimestamp(timestamp);
        controls.updateTimestampLabel();
    }
    if (duration != controls.totalRuntime()) {
        controls.setTotalRuntime(duration);
        controls.updateTimestampLabel();
    }
}

void PrompterViewController::scrollTick() {
    CW_DCHECK_MAIN_THREAD();
    PrompterView& v = requireView();
    ++scrollTicks_;
    const double progress = project_->transportState().progress;
    if (v.transportProgress() != progress) {
        v.setScrollPosition(progress, /*animated=*/true, /*force=*/false);
    }
    // This step's frame: the move, whatever else changed since the last step, and the chase still running.
    v.advanceFrame();
}

// ---- display settings ----

void PrompterViewController::setShowsTimestamp(bool show) {
    CW_DCHECK_MAIN_THREAD();
    PrompterView& v = requireView();
    v.updateDisplay([show](PrompterDisplayState& s) { s.showsTimestamp = show; });
    PrompterControlPanel& controls = v.controls();
    const double duration = project_->runningTime();
    controls.setTimestamp(project_->transportState().progress * duration);
    controls.setTotalRuntime(duration);
    controls.updateTimestampLabel();
}

void PrompterViewController::setShowsProgress(bool show) {
    CW_DCHECK_MAIN_THREAD();
    PrompterView& v = requireView();
    v.updateDisplay([show](PrompterDisplayState& s) { s.showsProgress = show; });
    // The bar shows the view's progress; bringing the text along keeps the scroll tick in step.
    const double progress = project_->transportState().progress;
    if (v.transportProgress() != progress) {
        v.setScrollPosition(progress, /*animated=*/false, /*force=*/true);
    }
}

void PrompterViewController::setControlsOpacity(float opacity) {
    CW_DCHECK_MAIN_THREAD();
    requireView().updateDisplay([opacity](PrompterDisplayState& s) { s.controlsOpacity = opacity; });
}

void PrompterViewController::setMirroring(bool horizontal, bool vertical) {
    CW_DCHECK_MAIN_THREAD();
    requireView().updateDisplay([horizontal, vertical](PrompterDisplayState& s) {
        s.flipHorizontal = horizontal;
        s.flipVertical = vertical;
    });
}

void PrompterViewController::chooseAlignment(TextAlignment alignment) {
    CW_DCHECK_MAIN_THREAD();
    alignmentLinkedToDocument_ = project_->document().scriptProperties.textAlignment == alignment;
    alignmentOverride_ = alignment;
    applyProjectProperties(false);
}

// ---- listener ----

void PrompterViewController::projectTextDidChange(Project&) {
    CW_DCHECK_MAIN_THREAD();
    if (!isViewLoaded()) {
        return; // the window took the view with it
    }
    if (!prompting_) {
        return; // the window closed: start() lays out the text it then finds
    }
    reloadText();
    // The new layout keeps the shown progress; follow the project's if it moved meanwhile.
    requireView().setScrollPosition(project_->transportState().progress, /*animated=*/false, /*force=*/true);
}

void PrompterViewController::projectScriptPropertiesDidChange(Project&) {
    CW_DCHECK_MAIN_THREAD();
    if (!isViewLoaded()) {
        return; // the window took the view with it
    }
    applyProjectProperties(false);
}

void PrompterViewController::projectSpeedDidChange(Project&) {
    CW_DCHECK_MAIN_THREAD();
    if (!isViewLoaded()) {
        return; // the window took the view with it
    }
    updateSpeed(false);
    if (!loopsRunning()) {
        updateTelemetry(); // the total running time follows the speed
    }
}

void PrompterViewController::projectTransportStateDidChange(Project&) {
    CW_DCHECK_MAIN_THREAD();
    if (!isViewLoaded()) {
        return; // the window took the view with it
    }
    copyTransportState();
    // Without the loops, follow at once: seek steps, the last tick after a pause, wheel scrolling.
    if (!loopsRunning()) {
        updateTelemetry();
        scrollTick();
    }
}

void PrompterViewController::projectPositionDidJump(Project&, bool animated, bool immediate) {
    CW_DCHECK_MAIN_THREAD();
    if (!isViewLoaded()) {
        return; // the window took the view with it
    }
    PrompterView& v = requireView();
    if (immediate) {
        v.scrollLayer().removeAllAnimations();
        animated = false;
    }
    v.setScrollPosition(project_->transportState().progress, animated, /*force=*/true);
    if (immediate) {
        v.scrollLayer().removeAllAnimations();
    }
    if (!loopsRunning()) {
        updateTelemetry();
    }
}

void PrompterViewController::projectDidStartPlayback(Project&) {}

void PrompterViewController::projectDidStopPlayback(Project&) {}

void PrompterViewController::projectLineCountDidChange(Project&) {
    CW_DCHECK_MAIN_THREAD();
    if (!isViewLoaded()) {
        return; // the window took the view with it
    }
    if (!loopsRunning()) {
        updateTelemetry(); // the total running time follows the line count
    }
}

void PrompterViewController::projectAverageWordsPerLineDidChange(Project&) {
    CW_DCHECK_MAIN_THREAD();
    if (!isViewLoaded()) {
        return; // the window took the view with it
    }
    updateSpeed(/*force=*/true); // the speeds in words follow
}

// ---- delegate ----

void PrompterViewController::prompterViewDidChangeTransportState(PrompterView& view) {
    CW_DCHECK_MAIN_THREAD();
    const bool playing = project_->transportState().isPlaying();
    const bool shownPlaying = view.transportState().isPlaying();
    if (playing && !shownPlaying) {
        project_->pause();
    } else if (!playing && shownPlaying) {
        project_->play();
    }
}

void PrompterViewController::prompterViewDidRequestRewind(PrompterView&) {
    CW_DCHECK_MAIN_THREAD();
    project_->rewind();
}

void PrompterViewController::prompterViewDidChangeSpeed(PrompterView&, double percent) {
    CW_DCHECK_MAIN_THREAD();
    const auto& speed = project_->document().speedProperties;
    project_->setScrollSpeed(percent, speed.minScrollSpeedLPS, speed.maxScrollSpeedLPS);
    updateSpeed(true);
}

void PrompterViewController::prompterViewDidScroll(PrompterView&, double progress) {
    CW_DCHECK_MAIN_THREAD();
    project_->setProgress(progress, /*animated=*/false, /*immediate=*/false);
}

void PrompterViewController::prompterViewRequestsScroll(PrompterView&, double progress) {
    CW_DCHECK_MAIN_THREAD();
    if (!defaults_->boolForKey(settings::manualScrollingEnabled)) {
        project_->setProgress(progress, /*animated=*/true, /*immediate=*/false);
        return;
    }
    const double duration = defaults_->doubleForKey(settings::manualScrollingDuration);
    if (duration == 0) {
        project_->setProgress(progress, /*animated=*/false, /*immediate=*/false);
        return;
    }
    if (project_->transportState().isPlaying()) {
        return;
    }
    const auto lines = static_cast<double>(defaults_->integerForKey(settings::manualScrollingLineCount));
    project_->animateSeek(progress, duration, lines);
}

std::optional<double> PrompterViewController::prompterViewStepOrigin(PrompterView&) {
    CW_DCHECK_MAIN_THREAD();
    return project_->seekTarget().value_or(project_->transportState().progress);
}

void PrompterViewController::prompterViewDidChangeFastForward(PrompterView&, double factor) {
    CW_DCHECK_MAIN_THREAD();
    project_->setFfwdFactor(factor);
    project_->notifyTransportStateChanged();
}

void PrompterViewController::prompterViewDidRequestNextBookmark(PrompterView&) {
    CW_DCHECK_MAIN_THREAD();
    project_->jumpToNextBookmark();
}

void PrompterViewController::prompterViewDidRequestPreviousBookmark(PrompterView&) {
    CW_DCHECK_MAIN_THREAD();
    project_->jumpToPreviousBookmark();
}

} // namespace cw
