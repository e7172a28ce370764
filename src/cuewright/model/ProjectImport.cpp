// Opening plain text, RTF, RTFD, DOCX, DOC and PDF files as new, untitled scripts.
#include "cuewright/model/Project.h"

#include "cuewright/model/ProjectError.h"
#include "cuewright/model/ScriptImport.h"
#include "dispatch/MainThreadChecker.h"
#include "platform/codecs/OfficeDocuments.h"
#include "platform/text/PlainText.h"
#include "platform/text/RichTextFile.h"

#include <QFileInfo>
#include <QUrl>

#include <filesystem>
#include <optional>

#include <unistd.h>

namespace cw {

namespace {

QString qPath(const std::string& path) {
    return QString::fromStdString(path);
}

// The reader's own text is for logs; people see what the desktop says about such files.
std::string plainTextFailure(const std::string& path, platform::PlainTextError::Reason reason) {
    const std::string name = "\u201C" + std::filesystem::path(path).filename().string() + "\u201D";
    switch (reason) {
    case platform::PlainTextError::Reason::notUtf8:
        return "The file " + name + " couldn\u2019t be opened using text encoding Unicode (UTF-8).";
    case platform::PlainTextError::Reason::tooLarge:
        return "The file " + name + " couldn\u2019t be opened because it is too large.";
    case platform::PlainTextError::Reason::unreadable:
        break;
    }
    std::error_code ignored;
    if (!std::filesystem::exists(path, ignored)) {
        return "The file " + name + " couldn\u2019t be opened because there is no such file.";
    }
    if (::access(path.c_str(), R_OK) != 0) {
        return "The file " + name +
               " couldn\u2019t be opened because you don\u2019t have permission to view it.";
    }
    return "The file " + name + " couldn\u2019t be opened.";
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
}

void Project::finishImport(const platform::AttributedString& text) {
    setText(text);
    setHasUnsavedChanges(false);
}

void Project::importRichText(const std::string& path) {
    CW_DCHECK_MAIN_THREAD();
    resetForImport();
    // Document attributes (the background colour) are not taken over.
    std::optional<platform::AttributedString> source = platform::readRichTextFile(qPath(path));
    if (!source) {
        source = platform::AttributedString(ScriptImport::unreadableFileText(path));
    }
    finishImport(ScriptImport::styledText(*source, ScriptImport::DefaultStyle::fromUserDefaults(*defaults_)));
}

void Project::importDOCX(const std::string& path) {
    CW_DCHECK_MAIN_THREAD();
    resetForImport();
    platform::AttributedString source;
    try {
        source = platform::readDocxFile(qPath(path));
    } catch (const platform::CodecError&) {
        // Not reported: the script says it instead.
        source = platform::AttributedString(ScriptImport::unreadableFileText(path));
    }
    finishImport(ScriptImport::styledText(source, ScriptImport::DefaultStyle::fromUserDefaults(*defaults_)));
}

void Project::importDOC(const std::string& path) {
    CW_DCHECK_MAIN_THREAD();
    resetForImport();
    platform::AttributedString source;
    try {
        source = platform::readDocFile(qPath(path));
    } catch (const platform::CodecError&) {
        source = platform::AttributedString(ScriptImport::unreadableFileText(path));
    }
    finishImport(ScriptImport::styledText(source, ScriptImport::DefaultStyle::fromUserDefaults(*defaults_)));
}

void Project::importPlainText(const std::string& path) {
    CW_DCHECK_MAIN_THREAD();
    resetForImport();
    QString text;
    try {
        text = platform::readPlainTextFile(qPath(path));
    } catch (const platform::PlainTextError& error) {
        throw platform::PlainTextError(error.reason(), plainTextFailure(path, error.reason()));
    }
    finishImport(ScriptImport::plainText(text, ScriptImport::DefaultStyle::fromUserDefaults(*defaults_)));
}

void Project::importPDF(const std::string& path) {
    CW_DCHECK_MAIN_THREAD();
    platform::AttributedString source;
    try {
        source = platform::readPdfFile(qPath(path));
    } catch (const platform::CodecError&) {
        throw ProjectError::generalLoadError("can't open " + fileUrl(path));
    }
    // Only now: a PDF that cannot be read leaves the project as it was.
    resetForImport();
    finishImport(ScriptImport::styledText(source, ScriptImport::DefaultStyle::fromUserDefaults(*defaults_)));
}

void Project::importStyledText(const platform::AttributedString& text) {
    CW_DCHECK_MAIN_THREAD();
    resetForImport();
    finishImport(text);
}

} // namespace cw
