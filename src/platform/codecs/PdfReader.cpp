#include "platform/codecs/PdfReader.h"

#include "platform/codecs/CodecError.h"
#include "platform/codecs/ReadLimits.h"

#include <poppler/ErrorCodes.h>
#include <poppler/GlobalParams.h>
#include <poppler/PDFDoc.h>
#include <poppler/TextOutputDev.h>
#include <poppler/goo/GooString.h>

#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace platform::codecs {

namespace {

// Reads family, bold and italic out of a PDF font name such as "ABCDEF+DejaVuSans-BoldOblique".
RunStyle styleOfFont(const GooString* fontName, double size) {
    QString name = fontName
                       ? QString::fromUtf8(fontName->c_str(), static_cast<qsizetype>(fontName->getLength()))
                       : QString();
    // Embedded subsets carry a tag of six capitals and a plus sign.
    if (name.size() > 7 && name[6] == u'+') {
        bool tag = true;
        for (int i = 0; i < 6; ++i)
            tag = tag && name[i] >= u'A' && name[i] <= u'Z';
        if (tag)
            name = name.mid(7);
    }
    RunStyle style;
    const QString lower = name.toLower();
    style.bold = lower.contains(u"bold") || lower.contains(u"black") || lower.contains(u"heavy") ||
                 lower.contains(u"semibold") || lower.contains(u"demi");
    style.italic = lower.contains(u"italic") || lower.contains(u"oblique");
    static const QRegularExpression separator(QStringLiteral("[-,]"));
    const qsizetype cut = name.indexOf(separator);
    const QString family = cut < 0 ? name : name.left(cut);
    if (!family.isEmpty())
        style.fontFamily = family;
    if (size > 0 && std::isfinite(size))
        style.pointSize = size;
    return style;
}

std::uint8_t colorByte(double component) {
    return static_cast<std::uint8_t>(
        std::lround(std::clamp(std::isfinite(component) ? component : 0.0, 0.0, 1.0) * 255));
}

// Font names are read once per font of a page: a page has few fonts and many words.
using FontStyles = std::unordered_map<const TextFontInfo*, RunStyle>;

RunStyle styleOfWord(const TextWord& word, FontStyles& fonts) {
    const TextFontInfo* font = word.getFontInfo(0);
    auto known = fonts.find(font);
    if (known == fonts.end())
        known = fonts.emplace(font, styleOfFont(font ? word.getFontName(0) : nullptr, 0)).first;
    RunStyle style = known->second;
    const double size = word.getFontSize();
    if (size > 0 && std::isfinite(size))
        style.pointSize = size;
    double red = 0;
    double green = 0;
    double blue = 0;
    word.getColor(&red, &green, &blue);
    style.foreground = RgbColor{colorByte(red), colorByte(green), colorByte(blue)};
    if (word.isUnderlined())
        style.underline = UnderlineStyle::single;
    return style;
}

// The word's characters, without control characters a PDF may map glyphs to.
QString textOfWord(const TextWord& word) {
    std::u32string text;
    text.reserve(static_cast<std::size_t>(word.getLength()));
    for (int i = 0; i < word.getLength(); ++i) {
        const char32_t c = *word.getChar(i);
        if (c >= 0xFB00 && c <= 0xFB06) {
            // Typeset ligatures ("ﬁ") are letters to a script.
            text += QString(QChar(char16_t(c))).normalized(QString::NormalizationForm_KC).toStdU32String();
        } else if (c >= 0x20 && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF)) {
            text += c;
        }
    }
    return QString::fromStdU32String(text);
}

struct Box {
    double xMin = 0;
    double yMin = 0;
    double xMax = 0;
    double yMax = 0;

    double width() const { return xMax - xMin; }
    double height() const { return yMax - yMin; }
};

// One line of text as the page shows it, with the block poppler grouped it into.
struct PageLine {
    const TextLine* line = nullptr;
    int block = 0;
    Box box;
    Box blockBox;
};

std::vector<PageLine> linesOfPage(const TextPage& page) {
    std::vector<PageLine> lines;
    int blockIndex = 0;
    for (const TextFlow* flow = page.getFlows(); flow; flow = flow->getNext()) {
        for (const TextBlock* block = flow->getBlocks(); block; block = block->getNext(), ++blockIndex) {
            Box blockBox;
            block->getBBox(&blockBox.xMin, &blockBox.yMin, &blockBox.xMax, &blockBox.yMax);
            for (const TextLine* line = block->getLines(); line; line = line->getNext()) {
                PageLine entry{line, blockIndex, {}, blockBox};
                bool first = true;
                for (const TextWord* word = line->getWords(); word; word = word->getNext()) {
                    Box box;
                    word->getBBox(&box.xMin, &box.yMin, &box.xMax, &box.yMax);
                    if (first) {
                        entry.box = box;
                        first = false;
                        continue;
                    }
                    entry.box.xMin = std::min(entry.box.xMin, box.xMin);
                    entry.box.yMin = std::min(entry.box.yMin, box.yMin);
                    entry.box.xMax = std::max(entry.box.xMax, box.xMax);
                    entry.box.yMax = std::max(entry.box.yMax, box.yMax);
                }
                if (!first)
                    lines.push_back(entry);
            }
        }
    }
    return lines;
}

// A PDF breaks a paragraph into lines; the next line goes on the same paragraph unless the two
// lie in different blocks, a gap larger than half a line lies between them, or the first ends
// well short of its column (the last line of a paragraph).
bool continuesParagraph(const PageLine& previous, const PageLine& next) {
    if (previous.block != next.block)
        return false;
    const double lineHeight = std::max(previous.box.height(), 1.0);
    if (next.box.yMin - previous.box.yMax > lineHeight / 2)
        return false;
    const double column = previous.blockBox.width();
    return previous.box.xMax >= previous.blockBox.xMax - std::max(column * 0.15, lineHeight);
}

void appendLine(BoundedDocument& document, const TextLine& line, FontStyles& fonts, RunStyle& previous,
                bool& spacePending) {
    for (const TextWord* word = line.getWords(); word; word = word->getNext()) {
        const RunStyle style = styleOfWord(*word, fonts);
        // A space between two words of one look takes it (an underline runs on under it).
        if (spacePending)
            document.append(QStringLiteral(" "), previous == style ? style : RunStyle{});
        document.append(textOfWord(*word), style);
        spacePending = word->hasSpaceAfter();
        previous = style;
    }
    spacePending = true; // the line's end joins the next line of the paragraph
}

void readPage(BoundedDocument& document, PDFDoc& pdf, int pageNumber) {
    TextOutputDev output(nullptr, /*physLayoutA=*/false, /*fixedPitchA=*/0, /*rawOrderA=*/false,
                         /*append=*/false);
    if (!output.isOk())
        return;
    // Underlines are found among the page's lines and rectangles only with these extras.
    output.enableHTMLExtras(true);
    pdf.displayPage(&output, pageNumber, 72, 72, 0, /*useMediaBox=*/true, /*crop=*/false, /*printing=*/false);
    const std::unique_ptr<TextPage, void (*)(TextPage*)> page(output.takeText(),
                                                              [](TextPage* p) { p->decRefCnt(); });
    if (!page)
        return;
    const std::vector<PageLine> lines = linesOfPage(*page);
    FontStyles fonts;
    RunStyle previous;
    bool spacePending = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i == 0 || !continuesParagraph(lines[i - 1], lines[i])) {
            document.startParagraph();
            spacePending = false;
        }
        appendLine(document, *lines[i].line, fonts, previous, spacePending);
    }
}

void ignoreMessage(ErrorCategory, Goffset, const char*) {}

} // namespace

RichDocument PdfReader::readFile(const std::string& path) {
    static std::once_flag setUp;
    std::call_once(setUp, [] {
        if (!globalParams)
            globalParams = std::make_unique<GlobalParams>();
        // poppler prints every complaint about a damaged file; the thrown error says enough.
        setErrorCallback(ignoreMessage);
    });

    requireRegularFile(path);
    PDFDoc pdf(std::make_unique<GooString>(path));
    if (!pdf.isOk()) {
        if (pdf.getErrorCode() == errEncrypted)
            throw CodecError("'" + path + "' is protected by a password.");
        throw CodecError("Could not open '" + path + "' as a PDF document.");
    }
    return withinMemory([&] {
        BoundedDocument document{ReadLimits{}};
        for (int page = 1; page <= pdf.getNumPages(); ++page)
            readPage(document, pdf, page);
        return std::move(document.document);
    });
}

} // namespace platform::codecs
