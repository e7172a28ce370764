#include "cuewright/model/ScriptExporter.h"

#include "cuewright/model/AtomicFile.h"
#include "cuewright/model/ProjectError.h"
#include "platform/text/RtfWriter.h"

#include <algorithm>
#include <mutex>
#include <string_view>

namespace cw::ScriptExporter {

namespace {

std::mutex encoderMutex;
DocxEncoder installedEncoder;

std::string_view bytesOf(const QByteArray& bytes) {
    return std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

} // namespace

void exportPlainText(const std::filesystem::path& destination, const platform::AttributedString& text) {
    writeFileAtomically(destination, bytesOf(text.string().toUtf8()));
}

void exportRTF(const std::filesystem::path& destination, const platform::AttributedString& text,
               const platform::Color& backgroundColor) {
    platform::RtfDocumentAttributes attributes;
    attributes.backgroundColor = backgroundColor;
    const QByteArray rtf = platform::writeRtf(text, attributes);
    if (rtf.isEmpty()) {
        throw ProjectError::generalSaveError("Can't create RTF from provided range.");
    }
    writeFileAtomically(destination, bytesOf(rtf));
}

void setDocxEncoder(DocxEncoder encoder) {
    std::lock_guard lock(encoderMutex);
    installedEncoder = std::move(encoder);
}

void exportDOCX(const std::filesystem::path& destination, const platform::AttributedString& text,
                const platform::Color& backgroundColor) {
    DocxEncoder encoder;
    {
        std::lock_guard lock(encoderMutex);
        encoder = installedEncoder;
    }
    if (!encoder) {
        throw ProjectError::generalSaveError("DOCX export is not available in this build");
    }
    const QByteArray docx = encoder(docxText(text), backgroundColor);
    writeFileAtomically(destination, bytesOf(docx));
}

platform::AttributedString applyFontAndParagraphStyle(const platform::AttributedString& text,
                                                      double pointSize) {
    const double size = std::max(pointSize, 8.0);
    platform::AttributedString result = text;
    result.modifyAttributes(result.fullRange(), [size](platform::Attributes& attributes) {
        if (attributes.font) {
            attributes.font = attributes.font->withPointSize(size);
        }
        if (attributes.paragraphStyle) {
            attributes.paragraphStyle->lineBreakMode = platform::LineBreakMode::wordWrapping;
        }
    });
    return result;
}

platform::AttributedString docxText(const platform::AttributedString& text) {
    platform::AttributedString result = applyFontAndParagraphStyle(text, 14);
    result.modifyAttributes(result.fullRange(), [](platform::Attributes& attributes) {
        attributes.foregroundColor = platform::Color::black();
        attributes.underlineColor = platform::Color::black();
    });
    return result;
}

} // namespace cw::ScriptExporter
