// One open script: its document, the shared editing state, its transport clock and the
// broadcast of every change to the views that follow it.
#pragma once

#include "base/FileStamp.h"
#include "cuewright/model/Bookmark.h"
#include "cuewright/model/Document.h"
#include "cuewright/model/Editor.h"
#include "cuewright/model/ListenerList.h"
#include "cuewright/model/ProjectEventListener.h"
#include "cuewright/model/ScreenDescription.h"
#include "cuewright/model/TransportClock.h"
#include "cuewright/model/TransportState.h"
#include "dispatch/Queue.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {
class Defaults;
class ScreenProvider;
} // namespace platform

namespace cw {

namespace ScriptDocumentFile {
struct SaveOptions;
}

// A project is shared (std::shared_ptr, made by create()) and compared by identity. It owns a
// ScreenManager through its editor and a TransportClock, and is the delegate of both (held
// weakly by them); the transport functions below forward to the clock.
//
// Threads:
//  - Every operation is for the main thread, except: tick() and seekStep(), which the clock runs
//    on the tick queue "project.tickqueue"; transportState(), linesPerSecond(), runningTime(),
//    currentTimestamp(), documentSnapshot(), the file-state accessors, notifyWillSave() /
//    notifyDidSave(), save() and the exports, which may be called from any thread.
//  - The document and the editor are written on the main thread only; document() and editor()
//    return references for main-thread readers. Other threads take documentSnapshot().
//  - The transport state belongs to the clock (see TransportClock), read as a whole copy.
//  - Listeners are always called on the main thread (see ProjectEventListener and ListenerList).
class Project : public ScreenManagerDelegate,
                public TransportClockDelegate,
                public std::enable_shared_from_this<Project> {
    struct PrivateTag {};

public:
    static constexpr std::string_view eventQueueLabel = "project.eventqueu"; // sic: the queue's name
    static constexpr std::string_view offMainThreadWarning =
        "warn: calling registerEventListener on other thread than main thread!";

    // A new, empty script with the properties, speed, colour and font of the settings.
    static std::shared_ptr<Project> create();
    // The same, reading and writing the given settings store (which must outlive the project),
    // with the displays of the given provider (Qt's when null).
    static std::shared_ptr<Project> create(platform::Defaults& defaults,
                                           std::shared_ptr<platform::ScreenProvider> screens = nullptr);

    Project(PrivateTag, platform::Defaults& defaults, std::shared_ptr<platform::ScreenProvider> screens);
    ~Project() override;
    Project(const Project&) = delete;
    Project& operator=(const Project&) = delete;

    // --- Document -------------------------------------------------------------------------
    const Document& document() const;
    Document documentSnapshot() const;
    // Replaces the whole document without telling anyone: for loading a file into a new project.
    // Here and in setScriptProperties() the margin is held to the range the views can show.
    void setDocument(Document document);
    // Stores the text unless it equals the current one; marks the project changed and notifies.
    // With `progress`, the position moves there with the text: listeners hear of the new text
    // with it in place, then of the move (an immediate jump), so that no view shows the new text
    // at the old position first.
    void setText(const platform::AttributedString& text, std::optional<double> progress = std::nullopt);
    // Replaces the script properties, marks the project changed, stores the margin, margin
    // alignment and word-count factor as the new defaults and notifies.
    void setScriptProperties(const Document::ScriptProperties& properties);
    // Stores the speed as given (no checking), marks the project changed, stores the three values
    // as the new defaults and notifies.
    void setScrollSpeed(double percent, double min, double max);
    // Chooses the percentage that makes the script last `seconds` within the current range,
    // held to 0...100. With 0 seconds, or a range whose maximum is not above its minimum, the
    // current speed is applied again.
    void setTotalRuntime(double seconds);

    // Lines per second of the current speed.
    double linesPerSecond() const;
    // Seconds the whole script takes at the current speed: 0 without lines or speed, never < 0.
    double runningTime() const;
    // Seconds into the script at the current position.
    double currentTimestamp() const;

    // --- Editing state --------------------------------------------------------------------
    const Editor& editor() const;
    // Stores the editor; notifies typing-attribute and line-count changes against the previous
    // value, then always notifies the editor change. Does not mark the project changed.
    void setEditor(Editor editor);
    // Stores the editor's laid-out lines and notifies as setEditor does; the previous lines are
    // freed first (a long script's lines take tens of megabytes). With `progress`, the position
    // moves there with the lines, as setText() moves it.
    void setEditorLines(int lineCount, std::vector<Editor::LineRange> lineRanges,
                        std::optional<double> progress = std::nullopt);
    // Changes whenever the editor's lines do, so that a reader can tell without keeping a copy.
    std::uint64_t linesRevision() const { return linesRevision_; }
    // The typing colour becomes the "defaultTextColor" setting: notifies it, then setEditor.
    void applyDefaultTextColor();
    // The typing font becomes the "defaultFont" setting at the editor's line height (the
    // setting's own size while the editor has not reported one): notifies it, then setEditor.
    void applyDefaultFont();

    // --- Transport (forwarded to the clock, see TransportClock) -----------------------------
    TransportState transportState() const { return clock_.state(); }
    // Writes the clock's direction and speed factor; the caller then calls
    // notifyTransportStateChanged().
    void setFfwdFactor(double factor) { clock_.setFfwdFactor(factor); }
    void play() { clock_.play(); }
    void pause() { clock_.pause(); }
    void rewind();
    void jumpToEnd();
    void setProgress(double progress, bool animated, bool immediate) {
        clock_.setProgress(progress, animated, immediate);
    }
    void notifyTransportStateChanged();

    // Runs on the tick queue; tests may call it directly.
    void tick(double elapsedSeconds) { clock_.tick(elapsedSeconds); }
    void animateSeek(double target, double secondsPerLine, double lineCount) {
        clock_.animateSeek(target, secondsPerLine, lineCount);
    }
    void seekStep(double from, double to, double step) { clock_.seekStep(from, to, step); }
    bool isClockRunning() const { return clock_.isRunning(); }
    std::optional<double> seekTarget() const { return clock_.seekTarget(); }
    const dispatch::QueuePtr& tickQueue() const { return clock_.tickQueue(); }

    // --- Bookmarks ------------------------------------------------------------------------
    // The embedded bookmarks and the lines beginning with "*" (one per line: a line that carries
    // an embedded bookmark is that one), by ascending line. Listeners first hand over pending
    // edits (projectWillGatherBookmarks).
    std::vector<Bookmark> bookmarks();
    void jumpToNextBookmark();
    void jumpToPreviousBookmark();

    // --- Saving, opening, exporting -------------------------------------------------------
    // Saves the script as a "cwr" file. Sends projectWillSave first (from another thread it waits
    // until every listener has handled it), then writes the document and bookmarks of that moment
    // through a working copy that replaces the destination atomically, then sets representedPath
    // to `path`, clears hasUnsavedChanges and sends projectDidSave. The flag stays set when the
    // document was changed while the file was being written. Throws DatabaseError, sql::Result
    // or std::system_error (FileWriteError, in the user's words, when the folder or disk refuses); then the
    // project's path and flag are as they were, no projectDidSave is sent and an existing destination is byte
    // for byte as it was. May run on any thread that the main thread is not waiting for.
    //
    // A save over the file this project was opened from or last saved to throws
    // ScriptDocumentFile::ChangedOnDiskError, writing nothing, when that file changed on disk
    // since (another program or window wrote it), unless told to overwrite such changes.
    enum class ChangedOnDisk { refuse, overwrite };
    void save(const std::string& path, ChangedOnDisk changedOnDisk = ChangedOnDisk::refuse);
    // The file at representedPath() as this project last read or wrote it, which that check
    // compares with; none when not known. Setting the path forgets it; a script brought back
    // from a recovery copy gets the one its copy kept.
    std::optional<base::FileStamp> diskStamp() const;
    void setDiskStamp(std::optional<base::FileStamp> stamp);
    // The same, with the file layer's options (tests inject failures through them).
    void save(const std::string& path, const ScriptDocumentFile::SaveOptions& options,
              ChangedOnDisk changedOnDisk = ChangedOnDisk::refuse);
    // Opens a "cwr" file into this (new) project: the document read from it, representedPath =
    // `path`, no unsaved changes. Tells no listener. Throws ProjectError::versionNotSupported,
    // ProjectError::generalLoadError (anything but a regular file, refused unopened),
    // DatabaseError, sql::Result or TextConversionError; once the version has been read, a
    // failure leaves the project with a fresh document from the settings. Main thread.
    void loadDocument(const std::string& path);
    // The same for a document already read from `path` (off the main thread), whose file had
    // `stamp` before the read, with the read's notice (see readNotice()). Main thread.
    void takeReadDocument(const std::string& path, Document document, std::optional<base::FileStamp> stamp,
                          const QString& readNotice = {});
    // The text as UTF-8, as RTF with the script's background colour, or as DOCX (black
    // 14-point text on the background colour); atomic writes. They change neither
    // representedPath nor hasUnsavedChanges and tell no listener. Any thread.
    void exportPlainText(const std::string& path) const;
    void exportRTF(const std::string& path) const;
    void exportDOCX(const std::string& path) const;

    // Sent by saving before the file is written; from another thread it returns only after
    // every listener has handled it on the main thread (the main thread must not be waiting
    // for the caller).
    void notifyWillSave();
    void notifyDidSave();

    // --- Importing (main thread) ------------------------------------------------------------
    // Each makes this (new) project an untitled script holding the file's text in the default
    // font, default text colour and centred paragraphs, keeping of the source only bold and
    // italic, underline styles and the colours other than its main colour (plain text and its
    // characters alone). The document's properties come from the settings; afterwards the
    // project has no path and no unsaved changes, and listeners have heard of the new text.
    //
    // RTF or RTFD, DOCX, DOC: a file that cannot be read throws ProjectError::couldNotOpen, naming
    // it and why, before anything of the project has changed.
    void importRichText(const std::string& path);
    void importDOCX(const std::string& path);
    void importDOC(const std::string& path);
    // Strict UTF-8. Throws platform::PlainTextError (its reason kept, its text fit for an alert)
    // after the project has been reset to an empty script.
    void importPlainText(const std::string& path);
    // Throws ProjectError::generalLoadError "can't open <file URL>" before anything of the
    // project has changed.
    void importPDF(const std::string& path);
    // A text read and restyled elsewhere (ScriptImport::readPlainTextFile, off the main thread):
    // the project becomes it as the imports above make theirs, with the read's notice (see
    // readNotice()).
    void importStyledText(const platform::AttributedString& text, const QString& readNotice = {});

    // What the window should say about how the file was read (a rich-text file that ends early,
    // a script whose stored text is cut short); empty when nothing. Main thread.
    const QString& readNotice() const { return readNotice_; }

    // --- Displays -------------------------------------------------------------------------
    void notifyScreenDescriptionChanged(const ScreenDescription& screen);
    void screenManagerDidUpdateScreen(const ScreenDescription& screen) override;

    // --- File state -----------------------------------------------------------------------
    std::optional<std::string> representedPath() const;
    void setRepresentedPath(std::optional<std::string> path);
    // The name a script without a file shows instead of "Untitled" (a second copy of a script
    // brought back after a crash); none for the usual name. `folder`, when known, is where it
    // belongs (its original's folder).
    std::optional<std::string> untitledName() const;
    void setUntitledName(std::optional<std::string> name, std::optional<std::string> folder = std::nullopt);
    // Where a first save proposes to put a script without a file: its untitled name in its
    // folder; none when either is unknown.
    std::optional<std::string> proposedPath() const;
    // Whether the document differs from the one last saved or opened. Cleared, the document as it
    // is becomes the saved one: an edit taken back to it (an undo, a control set back) clears
    // the mark again. Set, the saved document counts as unknown until the next clearing (a copy
    // brought back, a script marked from outside). Any thread.
    bool hasUnsavedChanges() const { return hasUnsavedChanges_.load(); }
    void setHasUnsavedChanges(bool value);
    double averageWordsPerLine() const { return averageWordsPerLine_.load(); }
    // Tells listeners (projectAverageWordsPerLineDidChange) when the value changed.
    void setAverageWordsPerLine(double value);

    // --- Listeners ------------------------------------------------------------------------
    // Main thread only: from another thread these log offMainThreadWarning and do nothing.
    // Registering twice keeps one entry; the project holds the listener weakly.
    void registerEventListener(const std::shared_ptr<ProjectEventListener>& listener);
    void unregisterEventListener(const std::shared_ptr<ProjectEventListener>& listener);
    // For listeners that unregister from their destructor.
    void unregisterEventListener(const ProjectEventListener* listener);
    // The living listeners by ascending priority (registration order among equals).
    std::vector<std::shared_ptr<ProjectEventListener>> sortedEventListeners() const {
        return eventListeners_.sorted();
    }

private:
    using Delivery = std::function<void(ProjectEventListener&, Project&)>;

    // One full pass over a fresh snapshot: direct on the main thread, else one main-queue task
    // per listener, each holding the project.
    void notify(const Delivery& delivery);
    double runningTimeLocked() const;
    // Puts the position at `progress` unreported; whether it moved. Then reportMove() tells.
    bool placeProgress(std::optional<double> progress);
    void reportMove();
    // After a write of document_: edited unless it is the saved document again. Under mutex_.
    void updateUnsavedChangesLocked();

    TransportPace transportPace() const override;
    void transportStateDidChange() override;
    void transportDidStartPlayback() override;
    void transportDidStopPlayback() override;
    void transportPositionDidJump(bool animated, bool immediate) override;
    void transportSeekDidStep(double from, double to, double step) override;
    // An empty document with the properties and speed of the settings.
    Document defaultDocument() const;
    // The first step of every import: an empty script from the settings, without a path.
    void resetForImport();
    // The last step: the new text (listeners told), then no unsaved changes.
    void finishImport(const platform::AttributedString& text);
    // A rich-text ("rtf", also an RTFD package), DOCX or DOC file, read before the reset.
    void importDocument(const std::string& path, const std::string& extension);
    // The document with the count of its writes, taken together.
    std::pair<Document, std::uint64_t> revisedDocumentSnapshot() const;

    platform::Defaults* defaults_;
    Document document_;
    ListenerList<ProjectEventListener> eventListeners_;
    std::optional<std::string> representedPath_;
    std::optional<std::string> untitledName_;   // under mutex_
    std::optional<std::string> untitledFolder_; // under mutex_
    // The file at representedPath_ as this project last read or wrote it; none when not known
    // (a path set from outside). Under mutex_.
    std::optional<base::FileStamp> diskStamp_;
    std::atomic<bool> hasUnsavedChanges_{false};
    // What hasUnsavedChanges() compares the document with; none when unknown. Under mutex_.
    std::optional<Document> savedDocument_;
    std::atomic<double> averageWordsPerLine_{0};
    QString readNotice_; // main thread
    Editor editor_;
    std::uint64_t linesRevision_ = 0; // main thread

    // Counts every write of document_, so that a save knows whether what it wrote is still the
    // document without comparing values (a NaN never equals itself). Under mutex_.
    std::uint64_t documentRevision_ = 0;

    // Guards writes of document_, editor_ and every access of representedPath_; the main
    // thread reads document_ and editor_ without it.
    mutable std::mutex mutex_;

    TransportClock clock_; // last: destroyed (and so stopped) first
};

} // namespace cw
