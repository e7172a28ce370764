#include "cuewright/model/Project.h"

#include "base/Log.h"
#include "cuewright/model/ScreenManager.h"
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/model/UserDefaults.h"
#include "platform/defaults/Defaults.h"
#include "platform/screens/ScreenProvider.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace cw {

namespace {

// Held to 0...1; a NaN keeps the current position rather than poisoning every later step.
double clampProgress(double value, double current) {
    if (std::isnan(value)) {
        return current;
    }
    return std::clamp(value, 0.0, 1.0);
}

double runningTimeOf(int lineCount, double linesPerSecond) {
    if (lineCount == 0 || linesPerSecond == 0) {
        return 0;
    }
    const double duration = lineCount / linesPerSecond;
    return duration > 0 ? duration : 0; // a negative speed (or a NaN) counts as no time
}

} // namespace

std::shared_ptr<Project> Project::create() {
    return create(platform::Defaults::standard());
}

std::shared_ptr<Project> Project::create(platform::Defaults& defaults,
                                         std::shared_ptr<platform::ScreenProvider> screens) {
    auto project = std::make_shared<Project>(PrivateTag{}, defaults, std::move(screens));
    project->editor_.screenManager->setDelegate(project);
    return project;
}

Project::Project(PrivateTag, platform::Defaults& defaults, std::shared_ptr<platform::ScreenProvider> screens)
    : defaults_(&defaults)
    , eventListenerManagementQueue_(dispatch::Queue::makeSerial(std::string(eventQueueLabel)))
    , tickQueue_(dispatch::Queue::makeSerial(std::string(tickQueueLabel)))
    , timer_(tickQueue_) {
    editor_.typingAttributes.textColor = defaultTextColor(defaults);
    editor_.typingAttributes.font = defaultFont(defaults);
    document_.scriptProperties = Document::ScriptProperties::fromUserDefaults(defaults);
    document_.speedProperties = Document::SpeedProperties::fromUserDefaults(defaults);
    if (!screens) {
        screens = std::make_shared<platform::QtScreenProvider>();
    }
    editor_.screenManager = std::make_shared<ScreenManager>(std::move(screens), defaults);
}

Project::~Project() {
    timer_.stop();
    // Normally paused by the workspace before it goes; never leave the machine kept awake.
    if (isPlayingNow() && activityInhibitor_ && activityInfo_) {
        activityInhibitor_->end(*activityInfo_);
    }
    // The last reference may go on the tick queue; the manager's display watch belongs to the
    // main thread.
    if (editor_.screenManager && !dispatch::isMainThread()) {
        dispatch::mainQueue()->async([manager = std::move(editor_.screenManager)] {});
    }
}

void Project::assertMainThread([[maybe_unused]] const char* operation) const {
#ifndef NDEBUG
    if (!dispatch::isMainThread()) {
        base::fatal(std::string("Project::") + operation + " called off the main thread");
    }
#endif
}

// --- Document ---------------------------------------------------------------------------------

const Document& Project::document() const {
    return document_;
}

Document Project::documentSnapshot() const {
    std::lock_guard lock(mutex_);
    return document_;
}

std::pair<Document, std::uint64_t> Project::revisedDocumentSnapshot() const {
    std::lock_guard lock(mutex_);
    return {document_, documentRevision_};
}

void Project::setDocument(Document document) {
    std::lock_guard lock(mutex_);
    document_ = std::move(document);
    ++documentRevision_;
}

void Project::setText(const platform::AttributedString& text) {
    assertMainThread("setText");
    if (document_.text == text) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        document_.text = text;
        ++documentRevision_;
    }
    hasUnsavedChanges_.store(true);
    notify([](ProjectEventListener& l, Project& p) { l.projectTextDidChange(p); });
}

void Project::setScriptProperties(const Document::ScriptProperties& properties) {
    assertMainThread("setScriptProperties");
    {
        std::lock_guard lock(mutex_);
        document_.scriptProperties = properties;
        ++documentRevision_;
    }
    hasUnsavedChanges_.store(true);
    defaults_->set(settings::defaultWordCountFactorKey, properties.prompterWordCountFactor);
    defaults_->set(settings::defaultPrompterMarginKey, properties.prompterMargin);
    defaults_->set(settings::defaultPrompterMarginAlignmentKey, properties.prompterMarginAlignment);
    notify([](ProjectEventListener& l, Project& p) { l.projectScriptPropertiesDidChange(p); });
}

void Project::setScrollSpeed(double percent, double min, double max) {
    assertMainThread("setScrollSpeed");
    {
        std::lock_guard lock(mutex_);
        document_.speedProperties = Document::SpeedProperties{percent, min, max};
        ++documentRevision_;
    }
    hasUnsavedChanges_.store(true);
    defaults_->set(settings::defaultScrollSpeed, percent);
    defaults_->set(settings::defaultMinScrollSpeedLPS, min);
    defaults_->set(settings::defaultMaxScrollSpeedLPS, max);
    notify([](ProjectEventListener& l, Project& p) { l.projectSpeedDidChange(p); });
}

void Project::setTotalRuntime(double seconds) {
    const Document::SpeedProperties speed = document_.speedProperties;
    // An empty (or inverted) range has no percentage for any running time: dividing by it would
    // store a NaN as the speed and as the default of every new script.
    if (seconds == 0 || !(speed.maxScrollSpeedLPS > speed.minScrollSpeedLPS)) {
        setScrollSpeed(speed.scrollSpeedPerc, speed.minScrollSpeedLPS, speed.maxScrollSpeedLPS);
        return;
    }
    const double lps = editor_.lineCount / seconds;
    double percent =
        (lps - speed.minScrollSpeedLPS) / (speed.maxScrollSpeedLPS - speed.minScrollSpeedLPS) * 100;
    percent = std::isnan(percent) ? speed.scrollSpeedPerc : std::clamp(percent, 0.0, 100.0);
    setScrollSpeed(percent, speed.minScrollSpeedLPS, speed.maxScrollSpeedLPS);
}

double Project::linesPerSecond() const {
    std::lock_guard lock(mutex_);
    return document_.speedProperties.linesPerSecond();
}

double Project::runningTimeLocked() const {
    return runningTimeOf(editor_.lineCount, document_.speedProperties.linesPerSecond());
}

double Project::runningTime() const {
    std::lock_guard lock(mutex_);
    return runningTimeLocked();
}

double Project::currentTimestamp() const {
    std::lock_guard lock(mutex_);
    return transportState_.progress * runningTimeLocked();
}

// --- Editing state ----------------------------------------------------------------------------

const Editor& Project::editor() const {
    return editor_;
}

void Project::setEditor(Editor editor) {
    assertMainThread("setEditor");
    Editor previous;
    {
        std::lock_guard lock(mutex_); // the clock reads the line count on the tick queue
        previous = std::exchange(editor_, std::move(editor));
    }
    if (editor_.typingAttributes.textColor != previous.typingAttributes.textColor ||
        editor_.typingAttributes.font != previous.typingAttributes.font) {
        notify([](ProjectEventListener& l, Project& p) { l.projectTypingAttributesDidChange(p); });
    }
    if (editor_.lineCount != previous.lineCount) {
        notify([](ProjectEventListener& l, Project& p) { l.projectLineCountDidChange(p); });
    }
    notify([](ProjectEventListener& l, Project& p) { l.projectEditorDidChange(p); });
}

void Project::applyDefaultTextColor() {
    const platform::Color color = defaultTextColor(*defaults_);
    notify([color](ProjectEventListener& l, Project& p) { l.projectTextColorDidChange(p, color); });
    Editor editor = editor_;
    editor.typingAttributes.textColor = color;
    setEditor(std::move(editor));
}

void Project::applyDefaultFont() {
    const platform::Font stored = defaultFont(*defaults_);
    // Before the editor has laid out a line its height is 0, and a 0 pt typing font would make
    // the text vanish; keep the setting's own size until then.
    const double size = editor_.lineHeight > 0 ? editor_.lineHeight : stored.pointSize;
    const platform::Font font = stored.withPointSize(size);
    notify([font](ProjectEventListener& l, Project& p) { l.projectFontDidChange(p, font); });
    Editor editor = editor_;
    editor.typingAttributes.font = font;
    setEditor(std::move(editor));
}

// --- Transport --------------------------------------------------------------------------------

TransportState Project::transportState() const {
    std::lock_guard lock(mutex_);
    return transportState_;
}

bool Project::isPlayingNow() const {
    std::lock_guard lock(mutex_);
    return transportState_.isPlaying();
}

void Project::setFfwdFactor(double factor) {
    std::lock_guard lock(mutex_);
    transportState_.ffwdFactor = factor;
}

void Project::play() {
    assertMainThread("play");
    if (isPlayingNow()) {
        return;
    }
    activityInhibitor_ = platform::sharedActivityInhibitor();
    activityInfo_ = activityInhibitor_->begin(std::string(playActivityReason));
    {
        std::lock_guard lock(mutex_);
        transportState_.transportStatus = TransportState::TransportStatus::playing;
    }
    notifyTransportStateChanged();
    notify([](ProjectEventListener& l, Project& p) { l.projectDidStartPlayback(p); });
    timer_.start(tickInterval, [weak = weak_from_this()](double elapsed) {
        if (auto self = weak.lock()) {
            self->tick(elapsed);
        }
    });
}

void Project::pause() {
    assertMainThread("pause");
    if (!isPlayingNow()) {
        return;
    }
    if (activityInhibitor_ && activityInfo_) {
        activityInhibitor_->end(*activityInfo_); // the token stays; ending it again is harmless
    }
    {
        std::lock_guard lock(mutex_);
        transportState_.transportStatus = TransportState::TransportStatus::stopped;
    }
    notifyTransportStateChanged();
    timer_.stop();
    notify([](ProjectEventListener& l, Project& p) { l.projectDidStopPlayback(p); });
}

void Project::rewind() {
    setProgress(0, /*animated=*/false, /*immediate=*/true);
}

void Project::jumpToEnd() {
    setProgress(1, /*animated=*/false, /*immediate=*/true);
}

void Project::setProgress(double progress, bool animated, bool immediate) {
    {
        std::lock_guard lock(mutex_);
        transportState_.progress = clampProgress(progress, transportState_.progress);
    }
    notifyTransportStateChanged();
    notify([animated, immediate](ProjectEventListener& l, Project& p) {
        l.projectPositionDidJump(p, animated, immediate);
    });
}

void Project::notifyTransportStateChanged() {
    notify([](ProjectEventListener& l, Project& p) { l.projectTransportStateDidChange(p); });
}

void Project::tick(double elapsedSeconds) {
    {
        std::lock_guard lock(mutex_);
        const double lps = document_.speedProperties.linesPerSecond();
        if (lps == 0 || std::isnan(lps)) {
            return;
        }
        const double duration = runningTimeLocked();
        const double delta = transportState_.ffwdFactor * elapsedSeconds;
        const double current = transportState_.progress;
        double next = current;
        if (duration == 0) {
            // Nothing to pace by: go to the end the clock runs towards (∞ × 0 would give NaN).
            next = current + (delta > 0 ? 1.0 : delta < 0 ? -1.0 : 0.0);
        } else {
            next = current + delta / duration;
        }
        transportState_.progress = clampProgress(next, current);
    }
    notifyTransportStateChanged();
}

void Project::animateSeek(double target, double secondsPerLine, double lineCount) {
    assertMainThread("animateSeek");
    if (isPlayingNow()) {
        return;
    }
    const double start = transportState().progress;
    // A target outside the script would never be reached, and the seek would never end.
    target = clampProgress(target, start);
    const double step = (target - start) / (secondsPerLine * lineCount) / 60.0;
    const bool reachesTarget =
        std::isfinite(step) && (step != 0 || target == start) && step * (target - start) >= 0;
    if (!reachesTarget) {
        setProgress(target, /*animated=*/false, /*immediate=*/true);
        return;
    }
    timer_.start(tickInterval, [weak = weak_from_this(), start, target, step](double) {
        if (auto self = weak.lock()) {
            self->seekStep(start, target, step);
        }
    });
}

void Project::seekStep(double from, double to, double step) {
    bool finished = false;
    {
        std::lock_guard lock(mutex_);
        const double target = clampProgress(to, transportState_.progress);
        double next = transportState_.progress + step;
        next = from < target ? std::min(next, target) : std::max(next, target);
        transportState_.progress = clampProgress(next, transportState_.progress);
        finished = from < target ? transportState_.progress >= target : transportState_.progress <= target;
    }
    notifyTransportStateChanged();
    notify(
        [from, to, step](ProjectEventListener& l, Project& p) { l.projectSeekDidStep(p, from, to, step); });
    if (finished) {
        timer_.stop();
        notify([](ProjectEventListener& l, Project& p) {
            l.projectPositionDidJump(p, /*animated=*/true, /*immediate=*/false);
        });
    }
}

// --- Saving and displays ----------------------------------------------------------------------

void Project::notifyWillSave() {
    if (dispatch::isMainThread()) {
        notify([](ProjectEventListener& l, Project& p) { l.projectWillSave(p); });
        return;
    }
    // Listener by listener, waiting for each: they put pending edits into the project here.
    for (const auto& listener : sortedEventListeners()) {
        dispatch::mainQueue()->sync([&] { listener->projectWillSave(*this); });
    }
}

void Project::notifyDidSave() {
    notify([](ProjectEventListener& l, Project& p) { l.projectDidSave(p); });
}

void Project::notifyScreenDescriptionChanged(const ScreenDescription& screen) {
    notify([screen](ProjectEventListener& l, Project& p) { l.projectScreenDescriptionDidChange(p, screen); });
}

void Project::screenManagerDidUpdateScreen(const ScreenDescription& screen) {
    notifyScreenDescriptionChanged(screen);
}

// --- File state -------------------------------------------------------------------------------

std::optional<std::string> Project::representedPath() const {
    std::lock_guard lock(mutex_);
    return representedPath_;
}

void Project::setRepresentedPath(std::optional<std::string> path) {
    std::lock_guard lock(mutex_);
    representedPath_ = std::move(path);
}

// --- Listeners --------------------------------------------------------------------------------

void Project::registerEventListener(const std::shared_ptr<ProjectEventListener>& listener) {
    if (!dispatch::isMainThread()) {
        base::log(offMainThreadWarning);
        return;
    }
    if (!listener) {
        return;
    }
    eventListenerManagementQueue_->sync([&] {
        std::erase_if(eventListeners_, [](const ListenerEntry& e) { return e.listener.expired(); });
        const bool known = std::any_of(eventListeners_.begin(), eventListeners_.end(),
                                       [&](const ListenerEntry& e) { return e.key == listener.get(); });
        if (!known) {
            eventListeners_.push_back({listener, listener.get()});
        }
    });
}

void Project::unregisterEventListener(const std::shared_ptr<ProjectEventListener>& listener) {
    unregisterEventListener(listener.get());
}

void Project::unregisterEventListener(const ProjectEventListener* listener) {
    if (!dispatch::isMainThread()) {
        base::log(offMainThreadWarning); // the same line for both, as it always was
        return;
    }
    eventListenerManagementQueue_->sync([&] {
        std::erase_if(eventListeners_,
                      [&](const ListenerEntry& e) { return e.key == listener || e.listener.expired(); });
    });
}

std::vector<std::shared_ptr<ProjectEventListener>> Project::sortedEventListeners() const {
    std::vector<std::shared_ptr<ProjectEventListener>> result;
    eventListenerManagementQueue_->sync([&] {
        result.reserve(eventListeners_.size());
        for (const auto& entry : eventListeners_) {
            if (auto listener = entry.listener.lock()) {
                result.push_back(std::move(listener));
            }
        }
    });
    std::vector<std::pair<int, std::shared_ptr<ProjectEventListener>>> keyed;
    keyed.reserve(result.size());
    for (auto& listener : result) {
        const int priority = listener->listenerPriority();
        keyed.emplace_back(priority, std::move(listener));
    }
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    result.clear();
    for (auto& [priority, listener] : keyed) {
        result.push_back(std::move(listener));
    }
    return result;
}

void Project::notify(const Delivery& delivery) {
    const auto listeners = sortedEventListeners();
    if (listeners.empty()) {
        return;
    }
    if (dispatch::isMainThread()) {
        for (const auto& listener : listeners) {
            delivery(*listener, *this);
        }
        return;
    }
    auto self = shared_from_this();
    for (const auto& listener : listeners) {
        dispatch::mainQueue()->async([listener, self, delivery] { delivery(*listener, *self); });
    }
}

} // namespace cw
