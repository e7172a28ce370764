// Putting a script's text on paper: laid out and drawn slice by slice, off the main thread, with
// a progress window and Cancel.
#pragma once

#include "platform/text/AttributedString.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class QPagedPaintDevice;
class QWidget;

namespace cw::editor {

class ProgressWindow;

// Draws a text on the pages of a paint device (a PDF writer, a printer): its characters as they
// are (no break that the text does not hold, tabs stopping where the editor's do), each paragraph
// broken into lines of the printable width, and the lines dealt out to pages one by one, each
// drawn once, whole, on the first page with room for it. A paragraph is laid out a window of
// windowCharacters at a time (the line that reaches a window's end is laid out again from the
// next), and a word too wide for a line from a few lines' worth of it, so that time and memory
// grow with the text's length, however it is cut into paragraphs and words, and no step holds
// long. Any one thread at a time; needs a QGuiApplication for fonts.
class PagePrinter {
public:
    static constexpr int windowCharacters = 1 << 13;
    // How far a drawing has come, and a cancel, shared with another thread.
    struct Progress {
        std::atomic<bool> cancelled{false};
        std::atomic<std::int64_t> drawn{0};  // characters
        std::atomic<std::int64_t> total{-1}; // characters; -1 until known
        // From 0 to 1 once the total is known.
        double fraction() const;
    };

    // The script's text as it is printed: black (underlines too), every font at `pointSize` points
    // of paper, wrapped at words.
    static platform::AttributedString printedText(const platform::AttributedString& script, double pointSize);
    // Draws `text` (see printedText()) on `device`, whose resolution is `resolution` dots per
    // inch, runs without a font of their own at `pointSize`. False when cancelled through
    // `progress` (the pages drawn so far stay); true when every line is drawn.
    static bool draw(const platform::AttributedString& text, QPagedPaintDevice& device, int resolution,
                     double pointSize, Progress* progress = nullptr);
};

// A print that runs on a global queue while the application goes on answering: `work` draws (it
// is handed the progress to report to and to look for a cancel in) and returns what is left to do
// on the main thread, which runs once unless the print was cancelled. After half a second a small
// window in front of `over` says "Printing “name”…" and how far it is, with Cancel (Escape or
// closing it too). Destroying the job cancels it: `work` sees the cancel and ends early. Main
// thread only.
class PrintJob final : public QObject {
    Q_OBJECT

public:
    using Work = std::function<std::function<void()>(PagePrinter::Progress& progress)>;

    PrintJob(const QString& name, Work work, QWidget* over, QObject* parent = nullptr);
    ~PrintJob() override;
    PrintJob(const PrintJob&) = delete;
    PrintJob& operator=(const PrintJob&) = delete;

    // Stops the print; nothing more is drawn and the finishing step does not run.
    void cancel();
    // Whether it drew everything and finished, or was cancelled.
    bool isDone() const { return done_; }
    // The progress window, shown now if it was still to come, to the front.
    void bringForward();
    QWidget* progressWindow() const;

signals:
    // Once, when it finished or was cancelled.
    void ended();

private:
    void end();

    std::shared_ptr<PagePrinter::Progress> progress_;
    std::unique_ptr<ProgressWindow> window_;
    bool done_ = false;
};

} // namespace cw::editor
