#include "cuewright/app/LargeFileOpening.h"

#include "base/Log.h"
#include "cuewright/model/ScriptDocumentFile.h"
#include "cuewright/model/Workspace.h"
#include "dispatch/MainThreadChecker.h"
#include "dispatch/Queue.h"
#include "platform/ui/PlainText.h"
#include "platform/ui/WindowFocus.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <utility>

#include <sys/stat.h>

namespace cw {

// What the reading task and the main thread share; the task holds it, not the opening, so an
// opening closed meanwhile leaves the task nothing to touch.
struct LargeFileOpening::Shared {
    ScriptImport::ReadProgress progress;
};

static bool isPlainText(const std::string& extension) {
    return extension == "txt" || extension == "text";
}

bool LargeFileOpening::opensOffMainThread(const std::string& path) {
    struct stat status {};
    // Pipes and devices are refused unread on the usual way; an RTFD folder is read there too.
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return false;
    }
    const std::string extension = Workspace::fileExtension(path);
    if (extension == "doc" || extension == "pdf" || extension == "cwr") {
        return true; // their readers take seconds whatever the size; a script file's SQL may too
    }
    return (isPlainText(extension) || extension == "rtf" || extension == "docx") &&
           status.st_size >= largeFileBytes;
}

LargeFileOpening::LargeFileOpening(std::string path, ScriptImport::DefaultStyle style, Finished finished,
                                   QObject* parent, const platform::Defaults* defaults)
    : QObject(parent)
    , filePath_(std::move(path))
    , path_(QFile::decodeName(QByteArray::fromStdString(filePath_)))
    , size_(QFileInfo(path_).size())
    , measured_(isPlainText(Workspace::fileExtension(filePath_)))
    , finished_(std::move(finished))
    , shared_(std::make_shared<Shared>())
    , showTimer_(new QTimer(this))
    , updateTimer_(new QTimer(this)) {
    CW_DCHECK_MAIN_THREAD();
    showTimer_->setSingleShot(true);
    connect(showTimer_, &QTimer::timeout, this, &LargeFileOpening::showProgress);
    showTimer_->start(progressDelayMs);
    connect(updateTimer_, &QTimer::timeout, this, &LargeFileOpening::updateProgress);

    QPointer<LargeFileOpening> self(this);
    dispatch::globalQueue()->async(
        [shared = shared_, path = path_, file = filePath_, style = std::move(style), defaults, self] {
            const auto cancelled = [shared, path] {
                if (!shared->progress.cancelled.load()) {
                    return false;
                }
                base::log("opening " + path.toStdString() + " cancelled: nothing of it is opened");
                return true;
            };
            Read read;
            if (Workspace::fileExtension(file) == "cwr") {
                // Taken before reading: a file written meanwhile counts as changed at the next save.
                read.stamp = base::fileStamp(file);
                try {
                    read.script = defaults ? ScriptDocumentFile::open(file, *defaults, &read.notice)
                                           : ScriptDocumentFile::open(file, &read.notice);
                } catch (...) {
                    read.error = std::current_exception();
                }
            } else {
                try {
                    read.text = ScriptImport::readFile(path, Workspace::fileExtension(file), style,
                                                       shared->progress, &read.notice);
                } catch (...) {
                    read.error = std::current_exception(); // a document that is refused unopened
                }
            }
            if (cancelled()) {
                return;
            }
            // What was read moves to the main thread; the opening may have gone by then. Through
            // the event loop, not the main queue: an alert about the file runs a loop of its own,
            // and the main queue's later blocks (the remote control's among them) would wait for it.
            auto result = std::make_shared<Read>(std::move(read));
            QMetaObject::invokeMethod(
                qApp,
                [self, result, cancelled] {
                    if (self && !cancelled()) {
                        self->finish(std::move(*result));
                    }
                },
                Qt::QueuedConnection);
        });
}

LargeFileOpening::~LargeFileOpening() {
    shared_->progress.cancelled.store(true);
    closeWindow();
}

void LargeFileOpening::cancel() {
    CW_DCHECK_MAIN_THREAD();
    if (done_) {
        return;
    }
    shared_->progress.cancelled.store(true);
    // A window taking the text in goes with it, half filled; the progress window, which it
    // holds, goes first.
    const auto cancelWindow = std::exchange(opened_.cancel, nullptr);
    end();
    if (cancelWindow) {
        base::log("opening " + path_.toStdString() + " cancelled while its window took the text in: closed");
        cancelWindow();
    }
}

void LargeFileOpening::bringForward() {
    CW_DCHECK_MAIN_THREAD();
    if (done_) {
        return;
    }
    if (opened_.show) {
        opened_.show();
    }
    if (!window_) {
        showTimer_->stop();
        showProgress();
    }
    if (window_) {
        platform::bringForward(window_.data());
    }
}

void LargeFileOpening::end() {
    done_ = true;
    opened_ = {};
    showTimer_->stop();
    updateTimer_->stop();
    delete escape_.data();
    closeWindow();
    emit ended();
}

void LargeFileOpening::showProgress() {
    if (done_) {
        return;
    }
    const QString name = QFileInfo(path_).fileName();
    // A dialog of the window being filled, so that the window manager keeps it in front of that one.
    auto* window =
        opened_.window ? new QWidget(opened_.window, Qt::Dialog) : new QWidget(nullptr, Qt::Window);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(
        platform::plainWindowTitle(QApplication::translate("LargeFileOpening", "Opening %1").arg(name)));
    auto* layout = new QVBoxLayout(window);
    label_ = platform::plainTextLabel(new QLabel); // the name is the file's, whatever it holds
    bar_ = new QProgressBar;
    bar_->setRange(0, measured_ || opened_.progress ? 1000 : 0);
    bar_->setMinimumWidth(360);
    auto* cancelButton = new QPushButton(QApplication::translate("LargeFileOpening", "Cancel"));
    layout->addWidget(label_);
    layout->addWidget(bar_);
    layout->addWidget(cancelButton, 0, Qt::AlignRight);
    connect(cancelButton, &QPushButton::clicked, this, &LargeFileOpening::cancel);
    connect(new QShortcut(QKeySequence::Cancel, window), &QShortcut::activated, this,
            &LargeFileOpening::cancel);
    // Closing the window is a cancel too.
    connect(window, &QObject::destroyed, this, [this] {
        window_ = nullptr;
        if (opened_.progress && !opened_.progress()) {
            end(); // it went with the window it was in front of: nothing is left to cancel
            return;
        }
        cancel();
    });
    window_ = window;
    updateProgress();
    window->show();
    updateTimer_->start(100);
}

void LargeFileOpening::updateProgress() {
    std::optional<double> taken;
    if (opened_.progress) {
        taken = opened_.progress();
        if (!taken) {
            end(); // all in, or its window closed
            return;
        }
    }
    if (!bar_ || !window_) {
        return;
    }
    const QString name = QFileInfo(path_).fileName();
    if (taken) {
        label_->setText(
            QApplication::translate("LargeFileOpening", "Laying out \u201C%1\u201D\u2026").arg(name));
        bar_->setRange(0, 1000);
        bar_->setValue(static_cast<int>(std::clamp(*taken, 0.0, 1.0) * 1000));
        return;
    }
    label_->setText(QApplication::translate("LargeFileOpening", "Reading \u201C%1\u201D\u2026").arg(name));
    if (measured_) {
        const qint64 read = shared_->progress.bytesRead.load();
        bar_->setValue(size_ > 0 ? static_cast<int>(std::min<qint64>(read, size_) * 1000 / size_) : 0);
    }
}

void LargeFileOpening::finish(Read read) {
    CW_DCHECK_MAIN_THREAD();
    if (done_) {
        return;
    }
    // The read is over: an alert about it must not have the progress window pop up beside it
    // from within its own event loop.
    showTimer_->stop();
    updateTimer_->stop();
    const bool shown = window_ != nullptr;
    closeWindow();
    Finished finished = std::move(finished_);
    opened_ = finished(std::move(read));
    if (done_) {
        return; // cancelled from within
    }
    if (!opened_.progress) {
        end();
        return;
    }
    followOpenedWindow(shown);
}

void LargeFileOpening::followOpenedWindow(bool showNow) {
    // A window that fills piece by piece: the progress window follows it, in front of it.
    if (opened_.window) {
        auto* escape = new QShortcut(QKeySequence::Cancel, opened_.window);
        escape->setContext(Qt::WindowShortcut);
        connect(escape, &QShortcut::activated, this, &LargeFileOpening::cancel);
        escape_ = escape;
    }
    updateProgress();
    if (done_) {
        return;
    }
    if (showNow) {
        showProgress();
        return;
    }
    updateTimer_->start(100);
    showTimer_->start(progressDelayMs);
}

void LargeFileOpening::closeWindow() {
    if (!window_) {
        return;
    }
    QWidget* window = window_;
    window_ = nullptr;
    disconnect(window, &QObject::destroyed, this, nullptr);
    window->close();
}

} // namespace cw
