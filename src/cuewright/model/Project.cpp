#include "cuewright/model/Project.h"

#include "cuewright/model/ScreenManager.h"
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/model/UserDefaults.h"
#include "dispatch/MainThreadChecker.h"
#include "platform/defaults/Defaults.h"
#include "platform/screens/ScreenProvider.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <utility>

namespace cw {

namespace {

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
    project->clock_.setDelegate(project);
    return project;
}

Project::Project(PrivateTag, platform::Defaults& defaults, std::shared_ptr<platform::ScreenProvider> screens)
    : defaults_(&defaults)
    , eventListeners_(eventQueueLabel, offMainThreadWarning) {
    editor_.typingAttributes.textColor = defaultTextColor(defaults);
    editor_.typingAttributes.font = defaultFont(defaults);
    document_.scriptProperties = Document::ScriptProperties::fromUserDefaults(defaults);
    document_.speedProperties = Document::SpeedProperties::fromUserDefaults(defaults);
    savedDocument_ = document_; // a new script is what it was made as until it is changed
    if (!screens) {
        screens = std::make_shared<platform::QtScreenProvider>();
    }
    editor_.screenManager = std::make_shared<ScreenManager>(std::move(screens), defaults);
}

Project::~Project() {
    // The clock stops itself (and ends a "Play" activity still open) as it goes. The last reference may go on
    // the tick queue; the manager's display watch belongs to the main thread.
    if (editor_.screenManager && !dispatch::isMainThread()) {
        dispatch::mainQueue()->async([manager = std::move(editor_.screenManager)] {});
    }
}

// --- Document ---------------------------------------------------------------------------------

const Document& Project::document() const {
    CW_DCHECK_MAIN_THREAD();
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
    CW_DCHECK_MAIN_THREAD();
    std::lock_guard lock(mutex_);
    document_ = std::move(document);
    auto& margin = document_.scriptProperties.prompterMargin;
    margin = Document::ScriptProperties::heldMargin(margin);
    ++documentRevision_;
}

void Project::setHasUnsavedChanges(bool value) {
    std::lock_guard lock(mutex_);
    savedDocument_ = value ? std::nullopt : std::optional<Document>(document_);
    hasUnsavedChanges_.store(value);
}

void Project::updateUnsavedChangesLocked() {
    hasUnsavedChanges_.store(!savedDocument_ || !(*savedDocument_ == document_));
}

void Project::setText(const platform::AttributedString& text, std::optional<double> progress) {
    CW_DCHECK_MAIN_THREAD();
    if (document_.text == text) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        document_.text = text;
        ++documentRevision_;
        updateUnsavedChangesLocked();
    }
    const bool moved = placeProgress(progress);
    notify([](ProjectEventListener& l, Project& p) { l.projectTextDidChange(p); });
    if (moved) {
        reportMove();
    }
}

bool Project::placeProgress(std::optional<double> progress) {
    return progress && clock_.placeProgress(*progress);
}

void Project::reportMove() {
    transportStateDidChange();
    transportPositionDidJump(/*animated=*/false, /*immediate=*/true);
}

void Project::setScriptProperties(const Document::ScriptProperties& given) {
    CW_DCHECK_MAIN_THREAD();
    Document::ScriptProperties properties = given;
    properties.prompterMargin = Document::ScriptProperties::heldMargin(given.prompterMargin);
    {
        std::lock_guard lock(mutex_);
        document_.scriptProperties = properties;
        ++documentRevision_;
        updateUnsavedChangesLocked();
    }
    defaults_->set(settings::defaultWordCountFactorKey, properties.prompterWordCountFactor);
    defaults_->set(settings::defaultPrompterMarginKey, properties.prompterMargin);
    defaults_->set(settings::defaultPrompterMarginAlignmentKey, properties.prompterMarginAlignment);
    notify([](ProjectEventListener& l, Project& p) { l.projectScriptPropertiesDidChange(p); });
}

void Project::setScrollSpeed(double percent, double min, double max) {
    CW_DCHECK_MAIN_THREAD();
    {
        std::lock_guard lock(mutex_);
        document_.speedProperties = Document::SpeedProperties{percent, min, max};
        ++documentRevision_;
        updateUnsavedChangesLocked();
    }
    defaults_->set(settings::defaultScrollSpeed, percent);
    defaults_->set(settings::defaultMinScrollSpeedLPS, min);
    defaults_->set(settings::defaultMaxScrollSpeedLPS, max);
    notify([](ProjectEventListener& l, Project& p) { l.projectSpeedDidChange(p); });
}

void Project::setTotalRuntime(double seconds) {
    CW_DCHECK_MAIN_THREAD();
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
    const double progress = clock_.state().progress;
    return progress * runningTime();
}

// --- Editing state ----------------------------------------------------------------------------

void Project::setAverageWordsPerLine(double value) {
    if (averageWordsPerLine_.exchange(value) != value) {
        notify([](ProjectEventListener& l, Project& p) { l.projectAverageWordsPerLineDidChange(p); });
    }
}

const Editor& Project::editor() const {
    CW_DCHECK_MAIN_THREAD();
    return editor_;
}

void Project::setEditor(Editor editor) {
    CW_DCHECK_MAIN_THREAD();
    Editor previous;
    {
        std::lock_guard lock(mutex_); // the clock reads the line count on the tick queue
        previous = std::exchange(editor_, std::move(editor));
    }
    if (editor_.lineRanges != previous.lineRanges) {
        ++linesRevision_;
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

void Project::setEditorLines(int lineCount, std::vector<Editor::LineRange> lineRanges,
                             std::optional<double> progress) {
    CW_DCHECK_MAIN_THREAD();
    const int previousCount = editor_.lineCount;
    if (editor_.lineRanges != lineRanges) {
        ++linesRevision_;
    }
    {
        std::lock_guard lock(mutex_);
        editor_.lineCount = lineCount;
        editor_.lineRanges = std::move(lineRanges);
    }
    const bool moved = placeProgress(progress);
    if (editor_.lineCount != previousCount) {
        notify([](ProjectEventListener& l, Project& p) { l.projectLineCountDidChange(p); });
    }
    notify([](ProjectEventListener& l, Project& p) { l.projectEditorDidChange(p); });
    if (moved) {
        reportMove();
    }
}

void Project::applyDefaultTextColor() {
    CW_DCHECK_MAIN_THREAD();
    const platform::Color color = defaultTextColor(*defaults_);
    notify([color](ProjectEventListener& l, Project& p) { l.projectTextColorDidChange(p, color); });
    Editor editor = editor_;
    editor.typingAttributes.textColor = color;
    setEditor(std::move(editor));
}

void Project::applyDefaultFont() {
    CW_DCHECK_MAIN_THREAD();
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

void Project::rewind() {
    CW_DCHECK_MAIN_THREAD();
    setProgress(0, /*animated=*/false, /*immediate=*/true);
}

void Project::jumpToEnd() {
    CW_DCHECK_MAIN_THREAD();
    setProgress(1, /*animated=*/false, /*immediate=*/true);
}

void Project::notifyTransportStateChanged() {
    notify([](ProjectEventListener& l, Project& p) { l.projectTransportStateDidChange(p); });
}

TransportPace Project::transportPace() const {
    std::lock_guard lock(mutex_); // the main thread writes the speed and the line count
    return {document_.speedProperties.linesPerSecond(), runningTimeLocked()};
}

void Project::transportStateDidChange() {
    notifyTransportStateChanged();
}

void Project::transportDidStartPlayback() {
    notify([](ProjectEventListener& l, Project& p) { l.projectDidStartPlayback(p); });
}

void Project::transportDidStopPlayback() {
    notify([](ProjectEventListener& l, Project& p) { l.projectDidStopPlayback(p); });
}

void Project::transportPositionDidJump(bool animated, bool immediate) {
    notify([animated, immediate](ProjectEventListener& l, Project& p) {
        l.projectPositionDidJump(p, animated, immediate);
    });
}

void Project::transportSeekDidStep(double from, double to, double step) {
    notify(
        [from, to, step](ProjectEventListener& l, Project& p) { l.projectSeekDidStep(p, from, to, step); });
}

// --- Saving and displays ----------------------------------------------------------------------

void Project::notifyWillSave() {
    // Listener by listener, waiting for each: they put pending edits into the project here.
    eventListeners_.notifyAndWait([this](ProjectEventListener& l) { l.projectWillSave(*this); });
}

void Project::notifyDidSave() {
    notify([](ProjectEventListener& l, Project& p) { l.projectDidSave(p); });
}

void Project::notifyScreenDescriptionChanged(const ScreenDescription& screen) {
    CW_DCHECK_MAIN_THREAD();
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
    diskStamp_.reset();
}

std::optional<std::string> Project::untitledName() const {
    std::lock_guard lock(mutex_);
    return untitledName_;
}

void Project::setUntitledName(std::optional<std::string> name, std::optional<std::string> folder) {
    std::lock_guard lock(mutex_);
    untitledName_ = std::move(name);
    untitledFolder_ = std::move(folder);
}

std::optional<std::string> Project::proposedPath() const {
    std::lock_guard lock(mutex_);
    if (!untitledName_ || !untitledFolder_) {
        return std::nullopt;
    }
    return (std::filesystem::path(*untitledFolder_) / *untitledName_).string();
}

std::optional<base::FileStamp> Project::diskStamp() const {
    std::lock_guard lock(mutex_);
    return diskStamp_;
}

void Project::setDiskStamp(std::optional<base::FileStamp> stamp) {
    std::lock_guard lock(mutex_);
    diskStamp_ = stamp;
}

// --- Listeners --------------------------------------------------------------------------------

void Project::registerEventListener(const std::shared_ptr<ProjectEventListener>& listener) {
    eventListeners_.add(listener);
}

void Project::unregisterEventListener(const std::shared_ptr<ProjectEventListener>& listener) {
    unregisterEventListener(listener.get());
}

void Project::unregisterEventListener(const ProjectEventListener* listener) {
    eventListeners_.remove(listener); // off the main thread: the same warning as registering
}

void Project::notify(const Delivery& delivery) {
    eventListeners_.notify(*this, delivery);
}

} // namespace cw
