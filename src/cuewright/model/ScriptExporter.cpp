#include "cuewright/model/ScriptExporter.h"

#include "base/AtomicFile.h"
#include "cuewright/model/ProjectError.h"
#include "cuewright/model/TextUtils.h"
#include "platform/codecs/OfficeDocuments.h"
#include "platform/text/RtfWriter.h"

#include <string_view>

namespace cw::ScriptExporter {

namespace {

std::string_view bytesOf(const QByteArray& bytes) {
    return std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

} // namespace

void exportPlainText(const std::filesystem::path& destination, const platform::AttributedString& text) {
    base::writeFileAtomically(destination, bytesOf(text.string().toUtf8()));
}

void exportRTF(const std::filesystem::path& destination, const platform::AttributedString& text,
               const platform::Color& backgroundColor) {
    platform::RtfDocumentAttributes attributes;
    attributes.backgroundColor = backgroundColor;
    const QByteArray rtf = platform::writeRtf(text, attributes);
    if (rtf.isEmpty()) {
        throw ProjectError::generalSaveError("Can't create RTF from provided range.");
    }
    base::writeFileAtomically(destination, bytesOf(rtf));
}

void exportDOCX(const std::filesystem::path& destination, const platform::AttributedString& text,
                const platform::Color& backgroundColor) {
    platform::OfficeDocumentAttributes attributes;
    attributes.backgroundColor = backgroundColor;
    const QByteArray docx = platform::docxData(docxText(text), attributes);
    base::writeFileAtomically(destination, bytesOf(docx));
}

platform::AttributedString docxText(const platform::AttributedString& text) {
    platform::AttributedString result = TextUtils::applyFontAndParagraphStyle(text, 14);
    result.modifyAttributes(result.fullRange(), [](platform::Attributes& attributes) {
        attributes.foregroundColor = platform::Color::black();
        attributes.underlineColor = platform::Color::black();
    });
    return result;
}

} // namespace cw::ScriptExporter
