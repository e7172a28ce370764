// Opening plain text, RTF, RTFD, DOCX, DOC and PDF files as new, untitled scripts.
#include "cuewright/model/Project.h"

#include "base/Log.h"
#include "cuewright/model/ProjectError.h"
#include "cuewright/model/ScriptImport.h"
#include "dispatch/MainThreadChecker.h"
#include "platform/codecs/OfficeDocuments.h"
#include "platform/text/PlainText.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <filesystem>
#include <optional>

namespace cw {

namespace {

// The readers are given the name's bytes as the system gave them: they need not be UTF-8.
std::filesystem::path fsPath(const std::string& path) {
    return std::filesystem::path(path);
}

QString qPath(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

// The reader's own text is for logs; people see what the desktop says about such files.
std::string plainTextFailure(const std::string& path, platform::PlainTextError::Reason reason) {
    switch (reason) {
    case platform::PlainTextError::Reason::notUtf8:
        return "The file \u201C" + std::filesystem::path(path).filename().string() +
               "\u201D couldn\u2019t be opened using text encoding Unicode (UTF-8).";
    case platform::PlainTextError::Reason::tooLarge:
        return couldNotOpenText(path, "it is too large");
    case platform::PlainTextError::Reason::unreadable:
        break;
    }
    return couldNotOpenText(path, unreadableBecause(path));
}

// "file:///..." of the absolute path, percent-encoded.
std::string fileUrl(const std::string& path) {
    return QUrl::fromLocalFile(QFileInfo(qPath(path)).absoluteFilePath())
        .toString(QUrl::FullyEncoded)
        .toStdString();
}

} // namespace

void Project::resetForImport() {
    setDocument(defaultDocument());
    setRepresentedPath(std::nullopt);
    readNotice_.clear();
}

void Project::finishImport(const platform::AttributedString& text) {
    setText(text);
    setHasUnsavedChanges(false);
}

void Project::importRichText(const std::string& path) {
    importDocument(path, "rtf");
}

void Project::importDOCX(const std::string& path) {
    importDocument(path, "docx");
}

void Project::importDOC(const std::string& path) {
    importDocument(path, "doc");
}

void Project::importDocument(const std::string& path, const std::string& extension) {
    CW_DCHECK_MAIN_THREAD();
    QString notice;
    // Read first: a file that cannot be read leaves the project as it was.
    const platform::AttributedString source = ScriptImport::readDocumentFile(path, extension, &notice);
    resetForImport();
    readNotice_ = notice;
    finishImport(ScriptImport::styledText(source, ScriptImport::DefaultStyle::fromUserDefaults(*defaults_)));
}

void Project::importPlainText(const std::string& path) {
    CW_DCHECK_MAIN_THREAD();
    resetForImport();
    QString text;
    try {
        text = platform::readPlainTextFile(fsPath(path));
    } catch (const platform::PlainTextError& error) {
        throw platform::PlainTextError(error.reason(), plainTextFailure(path, error.reason()));
    }
    finishImport(ScriptImport::plainText(text, ScriptImport::DefaultStyle::fromUserDefaults(*defaults_)));
}

void Project::importPDF(const std::string& path) {
    CW_DCHECK_MAIN_THREAD();
    const auto cannotOpen = [&] {
        // A pipe or a device says why, as it does in any other format.
        return unreadableBecause(path) == notAFileReason
                   ? ProjectError::couldNotOpen(path, notAFileReason)
                   : ProjectError::generalLoadError("can't open " + fileUrl(path));
    };
    // Read and found unreadable off the main thread just now: not read a second time here.
    if (ScriptImport::takeUnreadablePdf(path)) {
        throw cannotOpen();
    }
    platform::AttributedString source;
    try {
        source = platform::readPdfFile(fsPath(path));
    } catch (const platform::CodecError&) {
        throw cannotOpen();
    }
    // Only now: a PDF that cannot be read leaves the project as it was.
    resetForImport();
    finishImport(ScriptImport::styledText(source, ScriptImport::DefaultStyle::fromUserDefaults(*defaults_)));
}

void Project::importStyledText(const platform::AttributedString& text, const QString& readNotice) {
    CW_DCHECK_MAIN_THREAD();
    resetForImport();
    readNotice_ = readNotice;
    finishImport(text);
}

} // namespace cw
