#include "cuewright/editor/DocumentCommands.h"

#include "base/AtomicFile.h"
#include "base/Log.h"
#include "cuewright/editor/EditorAppearance.h"
#include "cuewright/model/Project.h"
#include "cuewright/model/ScriptDocumentFile.h"
#include "cuewright/model/ScriptExporter.h"
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/model/TextUtils.h"
#include "dispatch/MainThreadChecker.h"
#include "platform/defaults/Defaults.h"
#include "platform/ui/AlertRunner.h"
#include "platform/ui/FileDialogs.h"
#include "platform/ui/PlainText.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QPdfWriter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QStandardPaths>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace cw::editor {

namespace {

QString qstring(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// The pop-up's types from `first` on (an index of exportFileTypes).
std::vector<platform::FileType> panelFileTypes(int first) {
    std::vector<platform::FileType> types{{QObject::tr("Cuewright Script"), {QStringLiteral("cwr")}},
                                          {QObject::tr("Plain Text"), {QStringLiteral("txt")}},
                                          {QObject::tr("Rich Text (RTF)"), {QStringLiteral("rtf")}},
                                          {QObject::tr("Word Document (DOCX)"), {QStringLiteral("docx")}}};
    types.erase(types.begin(), types.begin() + first);
    return types;
}

// Where a save panel starts: beside the script, else in the user's documents (or home) folder,
// never in whatever folder the process was started from.
QString startFolder(const std::optional<std::string>& path) {
    if (path)
        return QFileInfo(QString::fromStdString(*path)).absolutePath();
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return !documents.isEmpty() && QFileInfo(documents).isDir() ? documents : QDir::homePath();
}

} // namespace

std::string_view DocumentCommands::exportFileType(int index) {
    if (index < 0 || index >= int(exportFileTypes.size()))
        return exportFileTypes[0];
    return exportFileTypes[size_t(index)];
}

DocumentCommands::DocumentCommands(std::shared_ptr<Project> project, QWidget* window,
                                   platform::Defaults& defaults)
    : project_(std::move(project))
    , window_(window)
    , defaults_(&defaults) {
    if (!project_)
        base::fatal("use init(project:) instead!");
}

int DocumentCommands::rememberedIndex() const {
    // Nothing exported yet (the script format, 0) opens on the first export type.
    return std::clamp(int(defaults_->integerForKey(settings::selectedExportFileTypeIndex)), firstExportType,
                      int(exportFileTypes.size()) - 1);
}

DocumentCommands::Outcome DocumentCommands::save() {
    CW_DCHECK_MAIN_THREAD();
    const auto path = project_->representedPath();
    if (!path)
        return saveAs();
    // The file replaced since by a device or a pipe stays; of two windows on one file (brought
    // back from two copies, say), neither writes over the other.
    if (const auto refused = refusal(*path)) {
        platform::runModalSheetForWindow(*refused, window_);
        return Outcome::failed;
    }
    // The rename of an atomic save replaces a file whatever its mode: a read-only one is asked about.
    if (!platform::agreedToReplace(platform::readOnlyQuestion(*path), window_))
        return Outcome::cancelled;
    return saveScript(*path);
}

std::optional<platform::Alert> DocumentCommands::openElsewhereAlert(const std::string& path) const {
    const bool here = openElsewhere_ && openElsewhere_(path);
    if (!here && !(otherCopy_ && otherCopy_(path)))
        return std::nullopt;
    base::log("not saved over " + path + (here ? ": another window shows it" : ": another copy shows it"));
    platform::Alert alert;
    alert.messageText = QObject::tr(here ? openElsewhereMessage.data() : otherCopyMessage.data())
                            .arg(platform::displayPath(std::filesystem::path(path).filename().string()));
    alert.informativeText = QObject::tr(here ? openElsewhereInformation.data() : otherCopyInformation.data());
    alert.buttons = {QObject::tr("OK")};
    alert.style = platform::Alert::Style::warning;
    return alert;
}

std::optional<platform::Alert> DocumentCommands::notAFileAlert(const std::string& path) {
    std::error_code error;
    // Through links, as a save writes through them.
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (error || !std::filesystem::exists(status) || std::filesystem::is_regular_file(status))
        return std::nullopt;
    base::log("not saved over " + path + ": it is not a file");
    platform::Alert alert;
    alert.messageText = QObject::tr(notAFileMessage.data())
                            .arg(platform::displayPath(std::filesystem::path(path).filename().string()));
    alert.informativeText = QObject::tr(notAFileInformation.data());
    alert.buttons = {QObject::tr("OK")};
    alert.style = platform::Alert::Style::warning;
    return alert;
}

std::optional<platform::Alert> DocumentCommands::refusal(const std::string& path) const {
    if (auto refused = notAFileAlert(path))
        return refused;
    return openElsewhereAlert(path);
}

// A script is saved as a script unless the reader picks otherwise: a panel that opened on the
// last export type wrote a copy in that format and left the script unsaved.
DocumentCommands::Outcome DocumentCommands::saveAs() {
    CW_DCHECK_MAIN_THREAD();
    return runPanel(Panel::saveAs, 0);
}

DocumentCommands::Outcome DocumentCommands::exportAs() {
    CW_DCHECK_MAIN_THREAD();
    return runPanel(Panel::exportAs, rememberedIndex());
}

platform::SavePanel DocumentCommands::panelAt(int selected) {
    platform::SavePanel panel;
    // A script without a file may have a name and a place of its own (a copy brought back).
    const auto path = project_->representedPath() ? project_->representedPath() : project_->proposedPath();
    panel.directory = startFolder(path);
    if (path) {
        // An export proposes the script's name with its own extension, not "talk.cwr.docx".
        const QFileInfo file(platform::displayPath(*path));
        const QString extension = qstring(exportFileType(selected));
        panel.nameFieldValue = file.suffix().compare(extension, Qt::CaseInsensitive) == 0
                                   ? file.fileName()
                                   : file.completeBaseName() + QStringLiteral(".") + extension;
    }
    panel.refusal = [this](const std::string& chosen) { return refusal(chosen); };
    panel.selectedFileType = selected;
    return panel;
}

DocumentCommands::Outcome DocumentCommands::runPanel(Panel kind, int selected) {
    platform::SavePanel panel = panelAt(selected);
    // Export offers the export types alone, so it never writes a script by mistake.
    const int first = kind == Panel::exportAs ? firstExportType : 0;
    if (kind == Panel::exportAs) {
        panel.title = QObject::tr("Export");
        panel.acceptLabel = QObject::tr("Export");
    }
    panel.fileTypes = panelFileTypes(first);
    panel.selectedFileType = selected - first;
    popupIndex_ = selected;
    panel.fileTypeChanged = [this, first](int index) { popupIndex_ = first + index; };
    const auto choice = platform::fileDialogs().runSavePanel(panel, window_);
    if (!choice || choice->path.isEmpty()) {
        // A cancelled panel leaves no trace: neither the pop-up nor the remembered type.
        popupIndex_ = selected;
        return Outcome::cancelled;
    }
    const int fileType = first + choice->fileType;
    popupIndex_ = fileType;
    // Only an export is remembered, for the next Export; a script save leaves it.
    if (exportFileType(fileType) != exportFileTypes[0])
        defaults_->set(settings::selectedExportFileTypeIndex, std::int64_t{fileType});
    const QStringList extensions{qstring(exportFileType(fileType))};
    return write(fileType, platform::fileSystemPath(platform::withExtension(choice->path, extensions)));
}

DocumentCommands::Outcome DocumentCommands::write(int fileType, const std::string& path) {
    try {
        switch (fileType) {
        case 1:
            project_->exportPlainText(path);
            return Outcome::exported;
        case 2:
            project_->exportRTF(path);
            return Outcome::exported;
        case 3:
            project_->exportDOCX(path);
            return Outcome::exported;
        default:
            break;
        }
    } catch (const std::exception& error) {
        presentError(error);
        return Outcome::failed;
    }
    return saveScript(path);
}

DocumentCommands::Outcome DocumentCommands::saveScript(const std::string& path) {
    try {
        try {
            project_->save(path);
        } catch (const ScriptDocumentFile::ChangedOnDiskError& changed) {
            base::log(std::string("not saved unasked: ") + changed.what());
            platform::Alert alert;
            alert.messageText = QString::fromUtf8(changed.what());
            alert.informativeText = qstring(changedOnDiskInformation);
            // Return keeps the other program's file: overwriting it takes a deliberate choice.
            alert.buttons = {QObject::tr("Cancel"), QObject::tr(saveAnywayButton.data())};
            alert.style = platform::Alert::Style::warning;
            if (platform::runModalSheetForWindow(alert, window_) != platform::alertFirstButtonReturn + 1)
                return Outcome::cancelled;
            project_->save(path, Project::ChangedOnDisk::overwrite);
        }
    } catch (const std::exception& error) {
        presentError(error);
        return Outcome::failed;
    }
    if (addRecentDocument_)
        addRecentDocument_(path);
    updateTitle();
    return Outcome::saved;
}

void DocumentCommands::presentError(const std::exception& error) {
    base::log(std::string("Cuewright Document Error 0: ") + error.what());
    platform::Alert alert;
    alert.messageText = QString::fromUtf8(error.what());
    alert.buttons = {QObject::tr("OK")};
    alert.style = platform::Alert::Style::critical;
    platform::runModalSheetForWindow(alert, window_);
}

// The script counts points as the screen's pixels; paper counts them as 1/72 inch.
static double scriptPoints() {
    return DocumentCommands::printPointSize / EditorAppearance::qtPointSize(1.0);
}

static void useUsualMargins(QPagedPaintDevice& printer) {
    const double m = DocumentCommands::printMarginMillimetres;
    printer.setPageMargins(QMarginsF(m, m, m, m), QPageLayout::Millimeter);
}

namespace {

// What a PDF is made with, read on the main thread.
struct PdfSettings {
    int resolution = QPrinter(QPrinter::HighResolution).resolution();
    QString creator = QCoreApplication::applicationName();
    double scriptPoints = cw::editor::scriptPoints();
};

// The PDF of the script's text, drawn on this thread; none when cancelled. Made in memory to be
// put in place whole: Qt's PDF writer does not report a failing write (a file-size limit, a full
// disk), which would leave a cut-off file in place of the old one.
std::optional<QByteArray> pdfOf(const platform::AttributedString& script, const PdfSettings& settings,
                                PagePrinter::Progress* progress) {
    QBuffer bytes;
    bytes.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&bytes);
        writer.setResolution(settings.resolution);
        writer.setCreator(settings.creator);
        useUsualMargins(writer);
        if (!PagePrinter::draw(PagePrinter::printedText(script, settings.scriptPoints), writer,
                               writer.resolution(), DocumentCommands::printPointSize, progress)) {
            return std::nullopt;
        }
    }
    return bytes.data();
}

void writePdf(const QString& path, const QByteArray& pdf) {
    base::writeFileAtomically(path.toStdString(), std::string_view(pdf.constData(), size_t(pdf.size())));
}

} // namespace

DocumentCommands::~DocumentCommands() = default;

void DocumentCommands::print(QPagedPaintDevice& printer, int resolution) const {
    PagePrinter::draw(PagePrinter::printedText(project_->document().text, scriptPoints()), printer,
                      resolution, printPointSize);
}

bool DocumentCommands::printToPdf(const QString& path) {
    try {
        writePdf(path, pdfOf(project_->document().text, PdfSettings(), nullptr).value_or(QByteArray()));
    } catch (const std::exception& error) {
        presentError(error);
        return false;
    }
    return true;
}

PrintJob* DocumentCommands::printJob() const {
    return printJob_ && !printJob_->isDone() ? printJob_.get() : nullptr;
}

QString DocumentCommands::shownName() const {
    if (const auto path = project_->representedPath()) {
        return QFileInfo(platform::displayPath(*path)).fileName();
    }
    const auto name = project_->untitledName();
    return name ? platform::displayPath(*name) : QObject::tr("Untitled");
}

void DocumentCommands::startPrint(PrintJob::Work work) {
    printJob_ = std::make_unique<PrintJob>(shownName(), std::move(work), window_.data());
}

DocumentCommands::Outcome DocumentCommands::print() {
    CW_DCHECK_MAIN_THREAD();
    if (PrintJob* running = printJob()) {
        running->bringForward();
        return Outcome::cancelled;
    }
    // A copy of the text as it is now: editing goes on while it prints.
    const platform::AttributedString text = project_->document().text;
    if (QPrinterInfo::availablePrinters().isEmpty()) {
        platform::SavePanel panel = panelAt(0);
        panel.title = QObject::tr("Print to PDF");
        const auto path =
            project_->representedPath() ? project_->representedPath() : project_->proposedPath();
        panel.nameFieldValue =
            (path ? QFileInfo(platform::displayPath(*path)).completeBaseName() : QObject::tr("Untitled")) +
            QStringLiteral(".pdf");
        panel.fileTypes = {{QObject::tr("PDF Document"), {QStringLiteral("pdf")}}};
        const auto choice = platform::fileDialogs().runSavePanel(panel, window_);
        if (!choice || choice->path.isEmpty() || platform::applicationQuitting())
            return Outcome::cancelled;
        const QString pdf = platform::withExtension(choice->path, {QStringLiteral("pdf")});
        startPrint([this, text, pdf, settings = PdfSettings()](PagePrinter::Progress& progress) {
            std::function<void()> then;
            const std::optional<QByteArray> bytes = pdfOf(text, settings, &progress);
            if (!bytes)
                return then;
            try {
                writePdf(pdf, *bytes);
            } catch (const std::exception& error) {
                then = [this, message = std::runtime_error(error.what())] { presentError(message); };
            }
            return then;
        });
        return Outcome::exported;
    }
    auto printer = std::make_shared<QPrinter>();
    useUsualMargins(*printer); // before the dialog, where the user may choose others
    QPrintDialog dialog(printer.get(), window_);
    if (dialog.exec() != QDialog::Accepted || platform::applicationQuitting())
        return Outcome::cancelled;
    startPrint([printer, text, points = scriptPoints()](PagePrinter::Progress& progress) {
        PagePrinter::draw(PagePrinter::printedText(text, points), *printer, printer->resolution(),
                          printPointSize, &progress);
        return std::function<void()>();
    });
    return Outcome::exported;
}

bool DocumentCommands::mayStopPrint() {
    CW_DCHECK_MAIN_THREAD();
    PrintJob* running = printJob();
    if (!running)
        return true;
    platform::Alert alert;
    alert.messageText = QObject::tr(printingMessage.data()).arg(shownName());
    alert.informativeText = QObject::tr(printingInformation.data());
    alert.buttons = {QObject::tr("Wait"), QObject::tr("Stop Printing"), QObject::tr("Cancel")};
    switch (platform::runModalSheetForWindow(alert, window_)) {
    case platform::alertFirstButtonReturn: {
        // Its own window shows how far it is, with its own Cancel.
        QEventLoop waiting;
        QObject::connect(running, &PrintJob::ended, &waiting, &QEventLoop::quit);
        running->bringForward();
        if (printJob())
            waiting.exec();
        return !platform::applicationQuitting();
    }
    case platform::alertFirstButtonReturn + 1:
        if (PrintJob* still = printJob())
            still->cancel();
        return true;
    default:
        return false; // Cancel, or no answer: the print goes on, and the window with it
    }
}

bool DocumentCommands::windowShouldClose() {
    CW_DCHECK_MAIN_THREAD();
    if (!mayStopPrint())
        return false;
    if (!project_->hasUnsavedChanges())
        return true;
    platform::Alert alert;
    alert.messageText = QObject::tr(closeMessage.data());
    alert.informativeText = QObject::tr(closeInformation.data());
    alert.buttons = {QObject::tr("Save"), QObject::tr("Cancel"), QObject::tr("Don't Save")};
    for (;;) {
        switch (platform::runModalSheetForWindow(alert, window_)) {
        case platform::alertFirstButtonReturn:
            switch (save()) {
            case Outcome::saved:
                return true;
            case Outcome::exported:
                // A copy in another format: the script itself is still unsaved, so ask again
                // rather than close or quietly stay.
                continue;
            case Outcome::cancelled:
            case Outcome::failed:
                // The edits would be lost if the window closed after a failed or cancelled save.
                return false;
            }
            return false;
        case platform::alertFirstButtonReturn + 2:
            return true;
        default:
            // Cancel, or no answer (the application quit under the question): the edits stay
            // unsaved, and their recovery copy with them.
            return false;
        }
    }
}

void DocumentCommands::updateTitle() {
    if (!window_)
        return;
    if (const auto path = project_->representedPath()) {
        window_->setWindowFilePath(platform::displayPath(*path));
        // The title Qt would make of the path, but with a "[*]" of the name shown as it is.
        window_->setWindowTitle(platform::plainWindowTitle(QFileInfo(window_->windowFilePath()).fileName()) +
                                QStringLiteral("[*]"));
    } else {
        window_->setWindowFilePath(QString());
        const auto name = project_->untitledName();
        window_->setWindowTitle(
            platform::plainWindowTitle(name ? platform::displayPath(*name) : QObject::tr("Untitled")) +
            QStringLiteral("[*]"));
    }
    window_->setWindowModified(project_->hasUnsavedChanges());
}

} // namespace cw::editor
