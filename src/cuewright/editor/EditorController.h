// The script editor's controller: the project's text in the text view, edits back to the project.
#pragma once

#include "cuewright/editor/ScriptTextViewKeyEventDelegate.h"
#include "cuewright/model/Bookmark.h"
#include "cuewright/model/KeyBindings.h"
#include "cuewright/model/ProjectEventListener.h"

#include <QString>

#include <QMetaObject>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace platform {
class Defaults;
}

namespace cw {
class Project;
}

namespace cw::editor {

class ScriptTextView;

// The one-shot timer that hands the text to the project once typing pauses. Qt's by default;
// tests inject one on a clock of their own.
class AutosaveTimer {
public:
    virtual ~AutosaveTimer() = default;
    // (Re)starts the wait: `fire` runs once, `interval` after the latest start, unless stopped.
    virtual void start(std::chrono::milliseconds interval, std::function<void()> fire) = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
};
// A single-shot QTimer on the main thread's event loop.
std::unique_ptr<AutosaveTimer> makeQtAutosaveTimer();

// Keeps one project's text and one ScriptTextView in step:
//  - load() registers with the project (priority 0, held weakly by it) and copies its text into
//    the view; close() unregisters (so does the destructor). The view must outlive the controller.
//  - A user edit (or an explicit textDidChange()) publishes the line metrics and restarts the
//    autosave wait; the project receives the whole text once, autosaveInterval() after the last
//    edit. The controller's own loads are not edits: they publish metrics but start no wait.
//  - Before the project saves, a pending edit is handed over at once.
//  - Line count, line ranges and words per line are published after layout (measureLines), in
//    one Project::setEditor so that listeners never see ranges and a count that disagree.
//  - The view is read-only while the project's editor is locked; with "lockEditorDuringPrompting"
//    on, playback locks it and stopping unlocks it.
//  - While loaded it is the view's key-event delegate: a custom binding typed in the editor runs
//    its transport action on the project.
//  - Bookmark commands change the text as one named undo step and hand it to the project at once.
// Main thread only.
class EditorController : public ProjectEventListener,
                         public ScriptTextViewKeyEventDelegate,
                         public std::enable_shared_from_this<EditorController> {
public:
    // Runs a line step (scrollLineUp, scrollLineDown) through the prompter windows, which the
    // application shell owns: (project, action, key down) → handled.
    using BindingActionPerformer = std::function<bool(Project&, KeyBindings::Action, bool isKeyDown)>;
    static constexpr double speedStep = 5.0; // percentage points of the script's speed range
    static constexpr double fastWindFactor = 5.0;
    static constexpr std::chrono::milliseconds defaultAutosaveInterval{300};

    // `defaults` (the settings store) must outlive the controller; the timer is Qt's when null.
    EditorController(std::shared_ptr<Project> project, ScriptTextView& textView, platform::Defaults& defaults,
                     std::unique_ptr<AutosaveTimer> timer = nullptr);
    ~EditorController() override;
    EditorController(const EditorController&) = delete;
    EditorController& operator=(const EditorController&) = delete;

    void load();
    void close();

    // Loads the project's text unless the view already shows it (always with `force`).
    enum class Load { ifChanged, force };
    void loadDocumentText(Load load);

    // What follows an edit of the text: metrics, then a new autosave wait.
    void textDidChange();
    // Hands a pending edit to the project now (the view's whole text; an equal text is ignored).
    void autosave();
    bool hasPendingEdit() const;

    void publishLineMetrics();

    // Bookmarks at a line: the current line's is toggled; deleting removes every bookmark object
    // on the line (a line starting with "*" stays one). The project receives the text and the
    // line metrics even when nothing changed (an empty text, no line).
    void toggleBookmark();
    void deleteBookmark(int line);
    void removeBookmark(const Bookmark& bookmark) { deleteBookmark(bookmark.line); }
    bool hasBookmarkOnCurrentLine();
    // "Delete Bookmark" on a line with a bookmark, else "Insert Bookmark".
    QString toggleBookmarkTitle();

    std::chrono::milliseconds autosaveInterval() const { return autosaveInterval_; }
    void setAutosaveInterval(std::chrono::milliseconds interval) { autosaveInterval_ = interval; }

    ScriptTextView& textView() const { return *textView_; }
    Project& project() const { return *project_; }

    // ProjectEventListener
    void projectTextDidChange(Project&) override;
    void projectWillSave(Project&) override;
    void projectEditorDidChange(Project&) override;
    void projectDidStartPlayback(Project&) override;
    void projectDidStopPlayback(Project&) override;
    int listenerPriority() const override { return 0; }

    // ScriptTextViewKeyEventDelegate: the bound action, or false when the key is no binding.
    bool handleKeyEvent(const platform::KeyEvent& event, bool isKeyDown) override;
    // Without a performer the line steps are not handled and the keys go on to the text.
    void setBindingActionPerformer(BindingActionPerformer performer) {
        bindingActionPerformer_ = std::move(performer);
    }

private:
    void setLockedForPrompting(bool locked);
    void stepSpeed(double delta);
    void setFfwdFactor(double factor);
    std::vector<Bookmark> bookmarksOnLines();
    void publishBookmarkEdit();

    std::shared_ptr<Project> project_;
    ScriptTextView* textView_;
    platform::Defaults* defaults_;
    std::unique_ptr<AutosaveTimer> autosaveTimer_;
    std::chrono::milliseconds autosaveInterval_ = defaultAutosaveInterval;
    BindingActionPerformer bindingActionPerformer_;
    QMetaObject::Connection textChanged_;
    bool ignoreTextChange_ = false; // set while the controller itself replaces the text
    bool loaded_ = false;
};

} // namespace cw::editor
