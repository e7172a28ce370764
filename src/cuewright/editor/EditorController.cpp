#include "cuewright/editor/EditorController.h"

#include "cuewright/editor/LineMetrics.h"
#include "cuewright/editor/ScriptTextView.h"
#include "cuewright/editor/TextBridge.h"
#include "cuewright/model/Project.h"
#include "cuewright/model/ScriptImport.h"
#include "cuewright/model/SettingsKeys.h"
#include "dispatch/MainThreadChecker.h"
#include "platform/defaults/Defaults.h"

#include <QTimer>

#include <cassert>
#include <utility>

namespace cw::editor {

namespace {

class QtAutosaveTimer final : public AutosaveTimer {
public:
    QtAutosaveTimer() { timer_.setSingleShot(true); }
    void start(std::chrono::milliseconds interval, std::function<void()> fire) override {
        QObject::disconnect(&timer_, &QTimer::timeout, nullptr, nullptr);
        QObject::connect(&timer_, &QTimer::timeout, &timer_, std::move(fire));
        timer_.start(interval);
    }
    void stop() override { timer_.stop(); }
    bool isActive() const override { return timer_.isActive(); }

private:
    QTimer timer_;
};

// Restores a flag when the scope ends, also when a listener throws.
class FlagScope {
public:
    explicit FlagScope(bool& flag)
        : flag_(flag)
        , previous_(std::exchange(flag, true)) {}
    ~FlagScope() { flag_ = previous_; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

private:
    bool& flag_;
    bool previous_;
};

} // namespace

std::unique_ptr<AutosaveTimer> makeQtAutosaveTimer() {
    return std::make_unique<QtAutosaveTimer>();
}

EditorController::EditorController(std::shared_ptr<Project> project, ScriptTextView& textView,
                                   platform::Defaults& defaults, std::unique_ptr<AutosaveTimer> timer)
    : project_(std::move(project))
    , textView_(&textView)
    , defaults_(&defaults)
    , autosaveTimer_(timer ? std::move(timer) : makeQtAutosaveTimer()) {
    assert(project_ && "an editor controller needs its project");
    textView_->setPasteStyle(ScriptImport::DefaultStyle::fromUserDefaults(defaults));
    // Qt reports programmatic replacements too; the guard flag tells them apart.
    textChanged_ =
        QObject::connect(textView_, &QTextEdit::textChanged, textView_, [this] { textDidChange(); });
}

EditorController::~EditorController() {
    QObject::disconnect(textChanged_);
    close();
}

void EditorController::load() {
    CW_DCHECK_MAIN_THREAD();
    project_->registerEventListener(shared_from_this());
    loaded_ = true;
    textView_->setKeyEventDelegate(this, defaults_);
    loadDocumentText(Load::force);
    autosaveTimer_->stop();
    projectEditorDidChange(*project_);
}

void EditorController::close() {
    CW_DCHECK_MAIN_THREAD();
    if (!loaded_) {
        return;
    }
    project_->unregisterEventListener(this);
    if (textView_->keyEventDelegate() == this) {
        textView_->setKeyEventDelegate(nullptr);
    }
    loaded_ = false;
}

void EditorController::loadDocumentText(Load load) {
    CW_DCHECK_MAIN_THREAD();
    const platform::AttributedString& text = project_->document().text;
    QTextDocument& document = *textView_->document();
    if (load == Load::ifChanged && attributedText(document) == text) {
        return;
    }
    {
        const FlagScope ignoring(ignoreTextChange_);
        setAttributedText(document, text);
    }
    publishLineMetrics();
}

void EditorController::textDidChange() {
    CW_DCHECK_MAIN_THREAD();
    if (ignoreTextChange_) {
        return; // the load publishes the metrics once it is done
    }
    publishLineMetrics();
    std::weak_ptr<EditorController> weak = weak_from_this();
    autosaveTimer_->start(autosaveInterval_, [weak] {
        if (auto self = weak.lock()) {
            self->autosave();
        }
    });
}

void EditorController::autosave() {
    CW_DCHECK_MAIN_THREAD();
    autosaveTimer_->stop();
    project_->setText(attributedText(*textView_->document()));
}

bool EditorController::hasPendingEdit() const {
    return autosaveTimer_->isActive();
}

void EditorController::publishLineMetrics() {
    CW_DCHECK_MAIN_THREAD();
    const LineMetrics metrics = measureLines(*textView_->document());
    Editor editor = project_->editor();
    if (editor.lineCount != metrics.lineCount || editor.lineRanges != metrics.lineRanges) {
        editor.lineCount = metrics.lineCount;
        editor.lineRanges = metrics.lineRanges;
        project_->setEditor(std::move(editor));
    }
    if (metrics.wordsPerLine) {
        project_->setAverageWordsPerLine(*metrics.wordsPerLine);
    }
}

void EditorController::projectTextDidChange(Project&) {
    CW_DCHECK_MAIN_THREAD();
    // After our own autosave the texts are equal and nothing happens.
    loadDocumentText(Load::ifChanged);
}

void EditorController::projectWillSave(Project&) {
    CW_DCHECK_MAIN_THREAD();
    if (hasPendingEdit()) {
        autosave();
    }
}

void EditorController::projectEditorDidChange(Project&) {
    CW_DCHECK_MAIN_THREAD();
    const bool locked = project_->editor().isLocked;
    if (textView_->isReadOnly() != locked) {
        textView_->setReadOnly(locked);
    }
}

void EditorController::projectDidStartPlayback(Project&) {
    CW_DCHECK_MAIN_THREAD();
    setLockedForPrompting(true);
}

void EditorController::projectDidStopPlayback(Project&) {
    CW_DCHECK_MAIN_THREAD();
    setLockedForPrompting(false);
}

void EditorController::setLockedForPrompting(bool locked) {
    if (!defaults_->boolForKey(settings::lockEditorDuringPrompting) ||
        project_->editor().isLocked == locked) {
        return;
    }
    Editor editor = project_->editor();
    editor.isLocked = locked;
    project_->setEditor(std::move(editor)); // the editor-change notification sets the view
}

} // namespace cw::editor
