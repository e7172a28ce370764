#include "cuewright/model/ScriptImport.h"

#include "base/FileStamp.h"
#include "base/Log.h"
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
    std::optional<platform::AttributedString> source;
    try {
        if (extension == "rtf" || extension == "rtfd") {
            platform::RtfDocumentAttributes read;
            source = platform::readRichTextFile(path, &read);
            if (source && read.endedEarly && notice) {
                *notice = endedEarlyNotice(QFile::encodeName(path).toStdString());
            }
        } else if (extension == "docx") {
            source = platform::readDocxFile(path);
        } else if (extension == "doc") {
            source = platform::readDocFile(path, &progress.cancelled);
        } else if (extension == "pdf") {
            source = platform::readPdfFile(path, &progress.cancelled);
        } else {
            return std::nullopt;
        }
    } catch (const platform::CodecError&) {
        // Not read twice: a reader that ran to its deadline would run to it again.
        if (extension == "pdf") {
            if (!progress.cancelled.load()) {
                rememberUnreadablePdf(QFile::encodeName(path).toStdString());
            }
            return std::nullopt; // an error of its own, which the usual way throws
        }
    }
    if (!source) {
        source = platform::AttributedString(unreadableFileText(QFile::encodeName(path).toStdString()));
    }
    if (progress.cancelled.load()) {
        return std::nullopt;
    }
    return styledText(*source, style);
}

QString unreadableFileText(const std::string& path) {
    return QStringLiteral("Could not read from file '") + QString::fromStdString(path) + QStringLiteral("'");
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
