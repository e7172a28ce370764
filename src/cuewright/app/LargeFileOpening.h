// Opening a large or slowly read file while the application goes on answering.
#pragma once

#include "base/FileStamp.h"
#include "cuewright/model/Document.h"
#include "cuewright/model/ScriptImport.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QLabel;
class QProgressBar;
class QTimer;
class QWidget;

namespace platform {
class Defaults;
}

namespace cw {

// Reads and restyles a large file, or one whose reader takes seconds (DOC, PDF), or a script file
// (which may be built to read slowly), on a global dispatch queue while the main loop goes on
// (hand-overs, the remote control, other windows).
// After half a second a small window shows how much has been read (of a plain text; the others
// show that it goes on), with a Cancel button (Escape too). `finished` runs once on the main
// thread with what was read (see Read); it does not run after a cancel, from the window or from cancel().
// Nothing of the progress window shows while `finished` runs: an alert it raises stands alone.
// What it returns follows the window the text went to while that takes it in: the progress window,
// kept in front of that window, goes on showing how far; Escape in either cancels, and a cancel
// closes that window. Main thread only.
class LargeFileOpening final : public QObject {
    Q_OBJECT

public:
    // The window a text went to, while it takes the text in.
    struct Opened {
        // How much of the text it has taken in, from 0 to 1; none once all of it is, or once
        // the window has gone.
        std::function<std::optional<double>()> progress;
        // Closes the window, unsaved.
        std::function<void()> cancel;
        // Brings the window to the front.
        std::function<void()> show;
        // The window itself, which the progress window stays in front of.
        QPointer<QWidget> window;
    };
    // What the read gave.
    struct Read {
        // An imported text; none when it could not be read (the caller opens the file the usual
        // way to say why) and for a script file.
        std::optional<platform::AttributedString> text;
        // What its window should say about the read (a rich-text file that ends early, a script
        // whose stored text is cut short); empty when nothing.
        QString notice;
        // A script file's document, and the file's stamp taken before the read.
        std::optional<Document> script;
        std::optional<base::FileStamp> stamp;
        // Why a script file, or a rich-text or Word document, could not be read: what reading it
        // on the main thread would throw.
        std::exception_ptr error;
    };
    using Finished = std::function<Opened(Read read)>;

    // Text, RTF and DOCX files from this size on are opened this way; DOC, PDF and script files
    // always.
    static constexpr qint64 largeFileBytes = qint64{1} << 20;
    // When the progress window shows.
    static constexpr int progressDelayMs = 500;

    // Whether the regular file at `path` is opened this way (see largeFileBytes).
    static bool opensOffMainThread(const std::string& path);

    // `path` is the file system's bytes, which need not be UTF-8. A script file's missing
    // properties come from `defaults`, which must outlive the read.
    LargeFileOpening(std::string path, ScriptImport::DefaultStyle style, Finished finished,
                     QObject* parent = nullptr, const platform::Defaults* defaults = nullptr);
    ~LargeFileOpening() override;
    LargeFileOpening(const LargeFileOpening&) = delete;
    LargeFileOpening& operator=(const LargeFileOpening&) = delete;

    // Stops the read; nothing opens.
    void cancel();
    bool isDone() const { return done_; }
    const std::string& filePath() const { return filePath_; }
    // Another open of the same file: the window its text goes to and the progress window (shown
    // now if it was still to come) come to the front.
    void bringForward();
    // The progress window once it shows; null before and after.
    QWidget* progressWindow() const { return window_; }

signals:
    // Done: read and taken in, failed or cancelled.
    void ended();

private:
    struct Shared;
    void showProgress();
    void updateProgress();
    void finish(Read read);
    void end();
    void closeWindow();
    // The progress window again once the text goes into its window: at once when it showed for the read.
    void followOpenedWindow(bool showNow);

    std::string filePath_;
    QString path_;
    qint64 size_ = 0;
    bool measured_ = false; // reading tells how far it has come
    Finished finished_;
    std::shared_ptr<Shared> shared_;
    QTimer* showTimer_ = nullptr;
    QTimer* updateTimer_ = nullptr;
    QPointer<QWidget> window_;
    // Escape in the window the text goes to, while it does.
    QPointer<QObject> escape_;
    QLabel* label_ = nullptr;
    QProgressBar* bar_ = nullptr;
    bool done_ = false;
    // The text is read and its window takes it in.
    Opened opened_;
};

} // namespace cw
