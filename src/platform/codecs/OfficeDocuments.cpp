#include "platform/codecs/OfficeDocuments.h"

#include "platform/codecs/DocReader.h"
#include "platform/codecs/DocxReader.h"
#include "platform/codecs/DocxWriter.h"
#include "platform/codecs/PdfReader.h"
#include "platform/codecs/ReadLimits.h"
#include "platform/codecs/RichDocument.h"
#include "platform/text/TextAttributes.h"

#include <QFile>

namespace platform {

namespace {

const QString fallbackFamily = QStringLiteral("Times New Roman");
constexpr double fallbackPointSize = 10;

Color toColor(const codecs::RgbColor& rgb) {
    return Color(rgb.red / 255.0, rgb.green / 255.0, rgb.blue / 255.0);
}

codecs::RgbColor toRgb(const Color& color) {
    return codecs::RgbColor{static_cast<std::uint8_t>(color.red8()),
                            static_cast<std::uint8_t>(color.green8()),
                            static_cast<std::uint8_t>(color.blue8())};
}

ParagraphAlignment toAlignment(codecs::ParagraphAlignment alignment) {
    switch (alignment) {
    case codecs::ParagraphAlignment::natural:
        return ParagraphAlignment::natural;
    case codecs::ParagraphAlignment::left:
        return ParagraphAlignment::left;
    case codecs::ParagraphAlignment::center:
        return ParagraphAlignment::center;
    case codecs::ParagraphAlignment::right:
        return ParagraphAlignment::right;
    case codecs::ParagraphAlignment::justified:
        return ParagraphAlignment::justified;
    }
    return ParagraphAlignment::natural;
}

codecs::ParagraphAlignment fromAlignment(ParagraphAlignment alignment) {
    switch (alignment) {
    case ParagraphAlignment::natural:
        return codecs::ParagraphAlignment::natural;
    case ParagraphAlignment::left:
        return codecs::ParagraphAlignment::left;
    case ParagraphAlignment::center:
        return codecs::ParagraphAlignment::center;
    case ParagraphAlignment::right:
        return codecs::ParagraphAlignment::right;
    case ParagraphAlignment::justified:
        return codecs::ParagraphAlignment::justified;
    }
    return codecs::ParagraphAlignment::natural;
}

std::optional<int> toUnderlineBits(codecs::UnderlineStyle style) {
    switch (style) {
    case codecs::UnderlineStyle::none:
        return std::nullopt;
    case codecs::UnderlineStyle::single:
    case codecs::UnderlineStyle::wavy: // no wavy line here: the nearest is a plain one
        return UnderlineStyle::single;
    case codecs::UnderlineStyle::doubleLine:
        return UnderlineStyle::doubleLine;
    case codecs::UnderlineStyle::thick:
        return UnderlineStyle::thick;
    case codecs::UnderlineStyle::dotted:
        return UnderlineStyle::single | UnderlineStyle::patternDot;
    case codecs::UnderlineStyle::dashed:
        return UnderlineStyle::single | UnderlineStyle::patternDash;
    }
    return std::nullopt;
}

codecs::UnderlineStyle fromUnderlineBits(int bits) {
    if ((bits & 0xFF) == UnderlineStyle::none)
        return codecs::UnderlineStyle::none;
    if ((bits & 0xFF) == UnderlineStyle::doubleLine)
        return codecs::UnderlineStyle::doubleLine;
    if ((bits & 0xFF) == UnderlineStyle::thick)
        return codecs::UnderlineStyle::thick;
    const int pattern = bits & 0x0F00;
    if (pattern == UnderlineStyle::patternDot)
        return codecs::UnderlineStyle::dotted;
    if (pattern != 0)
        return codecs::UnderlineStyle::dashed;
    return codecs::UnderlineStyle::single;
}

Attributes toAttributes(const codecs::RunStyle& style, const ParagraphStyle& paragraph) {
    Attributes attributes;
    attributes.font = Font{style.fontFamily.value_or(fallbackFamily),
                           style.pointSize.value_or(fallbackPointSize), style.bold, style.italic};
    if (style.foreground)
        attributes.foregroundColor = toColor(*style.foreground);
    attributes.underlineStyle = toUnderlineBits(style.underline);
    if (style.underlineColor)
        attributes.underlineColor = toColor(*style.underlineColor);
    if (style.background)
        attributes.backgroundColor = toColor(*style.background);
    attributes.paragraphStyle = paragraph;
    return attributes;
}

AttributedString toAttributedString(const codecs::RichDocument& document) {
    AttributedString text;
    for (std::size_t index = 0; index < document.paragraphs.size(); ++index) {
        const codecs::Paragraph& paragraph = document.paragraphs[index];
        ParagraphStyle style;
        style.alignment = toAlignment(paragraph.alignment);
        for (const codecs::TextRun& run : paragraph.runs)
            text.append(run.text, toAttributes(run.style, style));
        // The paragraph mark looks like the paragraph's last character.
        if (index + 1 < document.paragraphs.size())
            text.append(
                QStringLiteral("\n"),
                toAttributes(paragraph.runs.empty() ? codecs::RunStyle{} : paragraph.runs.back().style,
                             style));
    }
    return text;
}

codecs::RunStyle toRunStyle(const Attributes& attributes) {
    codecs::RunStyle style;
    if (attributes.font) {
        if (!attributes.font->family.isEmpty())
            style.fontFamily = attributes.font->family;
        style.pointSize = attributes.font->pointSize;
        style.bold = attributes.font->bold;
        style.italic = attributes.font->italic;
    }
    if (attributes.foregroundColor)
        style.foreground = toRgb(*attributes.foregroundColor);
    if (attributes.underlineStyle)
        style.underline = fromUnderlineBits(*attributes.underlineStyle);
    if (attributes.underlineColor && style.underline != codecs::UnderlineStyle::none)
        style.underlineColor = toRgb(*attributes.underlineColor);
    if (attributes.backgroundColor)
        style.background = toRgb(*attributes.backgroundColor);
    return style;
}

bool isParagraphBreak(QChar c) {
    return c == u'\n' || c == u'\r' || c == QChar(0x2029);
}

codecs::RichDocument toRichDocument(const AttributedString& text) {
    codecs::RichDocument document;
    document.startParagraph();
    // A paragraph takes the alignment of its first character, or of its mark when it is empty.
    bool alignmentTaken = false;
    const QString& characters = text.string();
    for (const AttributedString::Run& run : text.runs()) {
        const codecs::RunStyle style = toRunStyle(run.attributes);
        const codecs::ParagraphAlignment alignment =
            fromAlignment(run.attributes.paragraphStyle ? run.attributes.paragraphStyle->alignment
                                                        : ParagraphAlignment::natural);
        int start = run.range.location;
        for (int i = run.range.location; i <= run.range.end(); ++i) {
            const bool atBreak = i < run.range.end() && isParagraphBreak(characters[i]);
            if (i < run.range.end() && !atBreak)
                continue;
            // The '\n' of "\r\n" (which may open the next run): the break came with the '\r'.
            if (atBreak && characters[i] == u'\n' && i > 0 && characters[i - 1] == u'\r') {
                start = i + 1;
                continue;
            }
            if (!alignmentTaken && (i > start || atBreak)) {
                document.paragraphs.back().alignment = alignment;
                alignmentTaken = true;
            }
            document.append(characters.mid(start, i - start), style);
            if (atBreak) {
                document.startParagraph();
                alignmentTaken = false;
            }
            start = i + 1;
        }
    }
    return document;
}

// The path as the file system spells it (file names need not be UTF-8).
std::filesystem::path localPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

} // namespace

AttributedString readDocxFile(const QString& path, OfficeDocumentAttributes* documentAttributes) {
    return readDocxFile(localPath(path), documentAttributes);
}

AttributedString readDocxFile(const std::filesystem::path& path,
                              OfficeDocumentAttributes* documentAttributes) {
    return codecs::withinMemory([&] {
        const codecs::RichDocument document = codecs::DocxReader::readFile(path.string());
        if (documentAttributes && document.backgroundColor)
            documentAttributes->backgroundColor = toColor(*document.backgroundColor);
        return toAttributedString(document);
    });
}

AttributedString readDocxData(QByteArrayView data, OfficeDocumentAttributes* documentAttributes) {
    return codecs::withinMemory([&] {
        const codecs::RichDocument document =
            codecs::DocxReader::readData(std::string(data.data(), static_cast<std::size_t>(data.size())));
        if (documentAttributes && document.backgroundColor)
            documentAttributes->backgroundColor = toColor(*document.backgroundColor);
        return toAttributedString(document);
    });
}

QByteArray docxData(const AttributedString& text, const OfficeDocumentAttributes& documentAttributes) {
    codecs::RichDocument document = toRichDocument(text);
    if (documentAttributes.backgroundColor)
        document.backgroundColor = toRgb(*documentAttributes.backgroundColor);
    const std::string bytes = codecs::DocxWriter::write(document);
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

AttributedString readDocFile(const QString& path, const std::atomic<bool>* cancelled) {
    return readDocFile(localPath(path), cancelled);
}

AttributedString readDocFile(const std::filesystem::path& path, const std::atomic<bool>* cancelled) {
    return codecs::withinMemory(
        [&] { return toAttributedString(codecs::DocReader::readFile(path.string(), cancelled)); });
}

AttributedString readPdfFile(const QString& path, const std::atomic<bool>* cancelled) {
    return readPdfFile(localPath(path), cancelled);
}

AttributedString readPdfFile(const std::filesystem::path& path, const std::atomic<bool>* cancelled) {
    return toAttributedString(codecs::PdfReader::readFile(path.string(), cancelled));
}

} // namespace platform
