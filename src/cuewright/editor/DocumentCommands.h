// The editor window's document commands: save, save as and export, print, and the close question.
#pragma once

#include "cuewright/editor/ScriptPrinting.h"
#include "platform/ui/AlertRunner.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

class QPagedPaintDevice;

namespace platform {
class Defaults;
struct SavePanel;
} // namespace platform

namespace cw {
class Project;
}

namespace cw::editor {

// What the window's Save, Save As, Export, Print and close commands do to its project:
//  - save() saves to the script's file through the project's atomic save, or runs the save panel
//    when the script has none. saveAs() runs the panel with the type pop-up (cwr, txt, rtf, docx)
//    at the script format; exportAs() runs the panel titled "Export" with the export types alone
//    (txt, rtf, docx) at the one used last. A name typed with a type's extension chooses that
//    type. Only a "cwr" save makes the file the script's own and a recent document.
//  - Nothing is replaced unasked: the panel asks about the file really written, a save onto the
//    script's own read-only file asks first, and a path that another window or another copy of
//    the application shows is refused, as is one where no regular file is (a device, a pipe).
//  - Errors are shown in a sheet of the window (platform::alertRunner) and reported as failures.
//  - windowShouldClose() asks about unsaved changes; "Save" closes only once the script is saved,
//    and a save that wrote something else (an export) asks again.
// Dialogs go through platform::fileDialogs() and platform::alertRunner(), which tests replace.
// The project and the settings store must outlive it. Main thread only.
class DocumentCommands {
public:
    // The pop-up's file types, by index; any other index saves a script.
    static constexpr std::array<std::string_view, 4> exportFileTypes{"cwr", "txt", "rtf", "docx"};
    static std::string_view exportFileType(int index);
    // The export types are the pop-up's from this index on; Export offers those alone.
    static constexpr int firstExportType = 1;
    // The size of printed text in points of paper, 1/72 inch (the text's own sizes are replaced).
    static constexpr double printPointSize = 12.0;
    // The page's margins on every side, as paper usually has them (the printer's own are a few
    // millimetres, the least it can print at).
    static constexpr double printMarginMillimetres = 20.0;

    static constexpr std::string_view closeMessage =
        "Do you want to save the changes you made to this document?";
    static constexpr std::string_view closeInformation = "Your changes will be lost if you don’t save them.";
    static constexpr std::string_view printingMessage = "“%1” is still being printed.";
    static constexpr std::string_view printingInformation =
        "Wait for the print to end, or stop it: nothing of a stopped print is written.";

    // Asked before a save would overwrite a script that another program or window wrote since
    // this window opened or saved it.
    static constexpr std::string_view changedOnDiskInformation =
        "If you save, the changes made by the other application will be lost.";
    static constexpr std::string_view saveAnywayButton = "Save Anyway";
    // Refused: one script has one window.
    static constexpr std::string_view openElsewhereMessage = "“%1” is open in another window.";
    static constexpr std::string_view openElsewhereInformation =
        "Close that window first, or choose another name.";
    static constexpr std::string_view otherCopyMessage = "“%1” is open in another copy of Cuewright.";
    static constexpr std::string_view otherCopyInformation =
        "A script is open in one copy only, so that no window saves over another. Close it there "
        "first, or choose another name.";

    // Refused: a save puts a new file in the place of what is there, a device or a pipe too.
    static constexpr std::string_view notAFileMessage = "“%1” is not a file.";
    static constexpr std::string_view notAFileInformation =
        "It is a device, a pipe or a folder, which saving would replace with a file. Choose another name.";

    enum class Outcome { saved, exported, cancelled, failed };

    // `window` carries the sheets and the title; it may go away first (then dialogs are
    // application-modal and titles are not kept).
    DocumentCommands(std::shared_ptr<Project> project, QWidget* window, platform::Defaults& defaults);
    ~DocumentCommands();
    DocumentCommands(const DocumentCommands&) = delete;
    DocumentCommands& operator=(const DocumentCommands&) = delete;

    // Called with the path of every script saved, for the list of recent documents.
    void setRecentDocumentHandler(std::function<void(const std::string& path)> handler) {
        addRecentDocument_ = std::move(handler);
    }
    // Whether another window shows the file at `path` (the file system's bytes): nothing is
    // written there.
    void setOpenElsewhereCheck(std::function<bool(const std::string& path)> check) {
        openElsewhere_ = std::move(check);
    }
    // Whether another copy of the application shows it: nor is anything written there.
    void setOtherCopyCheck(std::function<bool(const std::string& path)> check) {
        otherCopy_ = std::move(check);
    }

    // Saves to the script's own file, else as saveAs(); saved only when the script itself was.
    Outcome save();
    // The save panel with the file-type pop-up, at the script format.
    Outcome saveAs();
    // The panel of the export types, at the one used last ("selectedExportFileTypeIndex").
    Outcome exportAs();
    // The type (an index of exportFileTypes) of the running panel, or the one it closed with.
    int popupIndex() const { return popupIndex_; }

    // The script's text in black at printPointSize, as it is printed, on this thread.
    void print(QPagedPaintDevice& printer, int resolution) const;
    // Prints into a PDF file on this thread; false (after an alert) when the file cannot be written.
    bool printToPdf(const QString& path);
    // The print dialog; where no printer exists, the save panel for a PDF file instead. The print
    // then runs off the main thread (see PrintJob) and "exported" says that it began; a failure
    // to write the PDF is told when it ends. While one runs, its progress window comes forward
    // instead (cancelled).
    Outcome print();
    // The print running, if any; null once it ended.
    PrintJob* printJob() const;

    // The close question when the script has unsaved changes: Save (1000) closes when the save
    // succeeded, Cancel (1001) keeps the window, Don't Save (any other answer) closes. A print
    // that runs is asked about first (mayStopPrint).
    bool windowShouldClose();
    // True when no print runs, or the user let it end: Wait (1000) waits for it (its own Cancel
    // ends it too), Stop Printing (1001) cancels it; Cancel, or no answer, keeps it and the window.
    bool mayStopPrint();

    // The window's title from the script's file ("Untitled" without one) and its edited mark.
    void updateTitle();

private:
    enum class Panel { saveAs, exportAs };
    // `selected` is an index of exportFileTypes.
    Outcome runPanel(Panel kind, int selected);
    platform::SavePanel panelAt(int selected);
    // The alert that refuses writing at `path` because another window, or another copy, shows that file.
    std::optional<platform::Alert> openElsewhereAlert(const std::string& path) const;
    // The alert that refuses writing at `path` because what is there (through links) is no
    // regular file; none when nothing is there, or it cannot be told.
    static std::optional<platform::Alert> notAFileAlert(const std::string& path);
    // The first of the two.
    std::optional<platform::Alert> refusal(const std::string& path) const;
    Outcome saveScript(const std::string& path);
    Outcome write(int fileType, const std::string& path);
    void presentError(const std::exception& error);
    int rememberedIndex() const;

    // The script's name as its window shows it.
    QString shownName() const;
    void startPrint(PrintJob::Work work);

    std::shared_ptr<Project> project_;
    QPointer<QWidget> window_;
    std::unique_ptr<PrintJob> printJob_;
    platform::Defaults* defaults_;
    std::function<void(const std::string&)> addRecentDocument_;
    std::function<bool(const std::string&)> openElsewhere_;
    std::function<bool(const std::string&)> otherCopy_;
    int popupIndex_ = 0;
};

} // namespace cw::editor
