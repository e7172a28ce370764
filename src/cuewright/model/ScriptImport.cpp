#include "cuewright/model/ScriptImport.h"

#include "base/FileStamp.h"
#include "base/Log.h"
#include "cuewright/model/ProjectError.h"
#include "cuewright/model/TextUtils.h"
#include "cuewright/model/UserDefaults.h"
#include "platform/codecs/CodecError.h"
#include "platform/codecs/OfficeDocuments.h"
#include "platform/text/PlainText.h"
#include "platform/text/RichTextFile.h"
#include "platform/text/TextAttributes.h"

#include <QCoreApplication>
#include <QFile>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <iterator>
#include <mutex>

namespace cw::ScriptImport {

DefaultStyle DefaultStyle::fromUserDefaults(const platform::Defaults& defaults) {
    DefaultStyle style;
    style.font = defaultFont(defaults);
    style.textColor = defaultTextColor(defaults);
    style.paragraphStyle.alignment = platform::ParagraphAlignment::center;
    return style;
}

static platform::Attributes baseAttributes(const DefaultStyle& style) {
    platform::Attributes attributes;
    attributes.font = style.font;
    attributes.foregroundColor = style.textColor;
    attributes.paragraphStyle = style.paragraphStyle;
    return attributes;
}

platform::AttributedString plainText(const QString& text, const DefaultStyle& style) {
    return platform::AttributedString(TextUtils::scriptText(text), baseAttributes(style));
}

platform::AttributedString styledText(const platform::AttributedString& original, const DefaultStyle& style) {
    const platform::AttributedString source = TextUtils::scriptText(original);
    const platform::Color mainColor = TextUtils::dominantTextColor(source, style.textColor);
    const platform::Attributes base = baseAttributes(style);
    const QString& characters = source.string();

    // The underline, colour and font passes touch different attributes, so one walk over the
    // source's runs does all three (and stays linear in the number of runs).
    platform::AttributedString result;
    for (const auto& run : source.runs()) {
        platform::Attributes attributes = base;
        if (run.attributes.underlineStyle) {
            attributes.underlineStyle = run.attributes.underlineStyle;
        }
        if (run.attributes.foregroundColor && !(*run.attributes.foregroundColor == mainColor)) {
            attributes.foregroundColor = run.attributes.foregroundColor;
        }
        if (const auto& font = run.attributes.font) {
            // Traits are added to the default font's own, as converting a font to a trait does.
            attributes.font =
                style.font.withTraits(style.font.bold || font->bold, style.font.italic || font->italic);
        }
        result.append(characters.mid(run.range.location, run.range.length), attributes);
    }
    return result;
}

std::optional<platform::AttributedString> readPlainTextFile(const QString& path, const DefaultStyle& style,
                                                            ReadProgress& progress) {
    // A piece small enough that a cancel is felt at once, large enough to cost nothing.
    constexpr qint64 pieceSize = qint64{1} << 20;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > platform::kMaxPlainTextFileSize) {
        return std::nullopt;
    }
    QByteArray bytes;
    bytes.reserve(file.size());
    while (!file.atEnd()) {
        if (progress.cancelled.load()) {
            return std::nullopt;
        }
        const QByteArray piece = file.read(pieceSize);
        if (piece.isEmpty() || bytes.size() + piece.size() > platform::kMaxPlainTextFileSize) {
            return std::nullopt; // a read error, or a file that grew past the limit
        }
        bytes += piece;
        progress.bytesRead.store(bytes.size());
    }
    std::optional<QString> text = platform::decodeUtf8Strict(bytes);
    bytes = {};
    if (!text || progress.cancelled.load()) {
        return std::nullopt;
    }
    return plainText(*text, style);
}

namespace {

// PDFs found unreadable, with their stamps then, until the usual opening asks; a few at most.
struct UnreadablePdfs {
    std::mutex mutex;
    std::deque<std::pair<std::string, std::optional<base::FileStamp>>> files;
};

UnreadablePdfs& unreadablePdfs() {
    static UnreadablePdfs pdfs;
    return pdfs;
}

void rememberUnreadablePdf(const std::string& path) {
    constexpr std::size_t kept = 16;
    UnreadablePdfs& pdfs = unreadablePdfs();
    const std::lock_guard lock(pdfs.mutex);
    pdfs.files.emplace_back(path, base::fileStamp(path));
    if (pdfs.files.size() > kept) {
        pdfs.files.pop_front();
    }
}

} // namespace

bool takeUnreadablePdf(const std::string& path) {
    UnreadablePdfs& pdfs = unreadablePdfs();
    const std::lock_guard lock(pdfs.mutex);
    const auto found = std::find_if(pdfs.files.rbegin(), pdfs.files.rend(),
                                    [&](const auto& file) { return file.first == path; });
    if (found == pdfs.files.rend()) {
        return false;
    }
    const std::optional<base::FileStamp> then = found->second;
    pdfs.files.erase(std::next(found).base());
    // A file written or replaced since is read afresh.
    return then && then == base::fileStamp(path);
}

std::optional<platform::AttributedString> readFile(const QString& path, const std::string& extension,
                                                   const DefaultStyle& style, ReadProgress& progress,
                                                   QString* notice) {
    if (extension == "txt" || extension == "text") {
        return readPlainTextFile(path, style, progress);
    }
    if (extension == "rtf" || extension == "rtfd" || extension == "docx" || extension == "doc") {
        platform::AttributedString source;
        try {
            source = readDocumentFile(QFile::encodeName(path).toStdString(), extension, notice,
                                      &progress.cancelled);
        } catch (const ProjectError&) {
            if (progress.cancelled.load()) {
                return std::nullopt;
            }
            throw;
        }
        if (progress.cancelled.load()) {
            return std::nullopt;
        }
        return styledText(source, style);
    }
    if (extension != "pdf") {
        return std::nullopt;
    }
    std::optional<platform::AttributedString> source;
    try {
        source = platform::readPdfFile(path, &progress.cancelled);
    } catch (const platform::CodecError&) {
        // Not read twice: a reader that ran to its deadline would run to it again.
        if (!progress.cancelled.load()) {
            rememberUnreadablePdf(QFile::encodeName(path).toStdString());
        }
        return std::nullopt; // an error of its own, which the usual way throws
    }
    if (progress.cancelled.load()) {
        return std::nullopt;
    }
    return styledText(*source, style);
}

// Why a rich-text or Word file gave no text, as an alert says it after "because".
static std::string unreadableDocumentBecause(const std::string& path, const std::string& extension) {
    if (std::string because = unreadableBecause(path); !because.empty()) {
        return because;
    }
    std::error_code ignored;
    const std::filesystem::file_type type = std::filesystem::status(path, ignored).type();
    const bool richText = extension == "rtf" || extension == "rtfd";
    if (type != std::filesystem::file_type::regular &&
        !(richText && type == std::filesystem::file_type::directory)) { // an RTFD package
        return "it is not a file";
    }
    return richText              ? "it is not a readable RTF document"
           : extension == "docx" ? "it is not a readable DOCX document"
                                 : "it is not a readable Word document";
}

platform::AttributedString readDocumentFile(const std::string& path, const std::string& extension,
                                            QString* notice, const std::atomic<bool>* cancelled) {
    const std::filesystem::path file(path);
    std::optional<platform::AttributedString> source;
    std::string failure;
    if (extension == "rtf" || extension == "rtfd") {
        // Document attributes (the background colour) are not taken over.
        platform::RtfDocumentAttributes read;
        source = platform::readRichTextFile(file, &read);
        if (source && read.endedEarly && notice) {
            *notice = endedEarlyNotice(path);
        }
    } else {
        try {
            source =
                extension == "docx" ? platform::readDocxFile(file) : platform::readDocFile(file, cancelled);
        } catch (const platform::CodecError& error) {
            failure = error.what();
        }
    }
    if (source) {
        return std::move(*source);
    }
    const std::string because = unreadableDocumentBecause(path, extension);
    base::log("cannot open " + path + ": " + (failure.empty() ? because : failure));
    throw ProjectError::couldNotOpen(path, because);
}

QString endedEarlyNotice(const std::string& path) {
    base::log("opening " + path + ": the file ends early; only the text before its end was read");
    const QString name = QFile::decodeName(QByteArray::fromStdString(path)).section(u'/', -1);
    return QCoreApplication::translate("Project",
                                       "\u201C%1\u201D ends early: only the text before its end was "
                                       "opened. The rest of the file is missing.")
        .arg(name);
}

} // namespace cw::ScriptImport
