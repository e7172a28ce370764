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
#include <numeric>
#include <cmath>
#include <memory>
#include <mutex>
#include <optional>
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

// A character of a line in the order the page shows it, left to right, with its word's look.
struct ShownChar {
    char32_t c = 0;
    RunStyle style;
};

enum class Direction { left, right, number, neutral };

Direction directionOf(char32_t c) {
    const QChar::Direction direction = QChar::direction(c);
    if (direction == QChar::DirL)
        return Direction::left;
    if (direction == QChar::DirR || direction == QChar::DirAL)
        return Direction::right;
    if (direction == QChar::DirEN || direction == QChar::DirAN)
        return Direction::number;
    return Direction::neutral;
}

// Whether a line shown left to right was written right to left: its first and last letters
// (as shown) are right-to-left ones, or, when they differ, most of its letters are.
bool writtenRightToLeft(const std::vector<Direction>& directions) {
    int left = 0;
    int right = 0;
    std::optional<Direction> first;
    Direction last = Direction::neutral;
    for (const Direction d : directions) {
        if (d != Direction::left && d != Direction::right)
            continue;
        (d == Direction::left ? left : right) += 1;
        first = first.value_or(d);
        last = d;
    }
    if (first && *first == last)
        return last == Direction::right;
    return right > left;
}

// The embedding level of each character as the bidirectional algorithm gives it, worked out from
// the order shown (the levels of a line do not depend on which order they are read in): 1 for
// right-to-left text, 0 or 2 for left-to-right text and numbers in a line that reads left to right
// or right to left, and neutrals between two runs of one direction take it.
std::vector<int> levelsOf(const std::vector<Direction>& directions, bool rightToLeft) {
    const std::size_t n = directions.size();
    const int leftLevel = rightToLeft ? 2 : 0;
    // The strong letter nearest before and after each place; neutral where there is none.
    std::vector<Direction> before(n, Direction::neutral);
    std::vector<Direction> after(n, Direction::neutral);
    for (std::size_t i = 1; i < n; ++i) {
        const Direction d = directions[i - 1];
        before[i] = d == Direction::left || d == Direction::right ? d : before[i - 1];
    }
    for (std::size_t i = n; i-- > 1;) {
        const Direction d = directions[i];
        after[i - 1] = d == Direction::left || d == Direction::right ? d : after[i];
    }
    // Numbers: inside right-to-left text (or a right-to-left line) they run left to right one level up.
    std::vector<int> levels(n, rightToLeft ? 1 : 0);
    std::vector<Direction> resolved(directions);
    for (std::size_t i = 0; i < n; ++i) {
        if (directions[i] == Direction::right)
            levels[i] = 1;
        else if (directions[i] == Direction::left)
            levels[i] = leftLevel;
        else if (directions[i] == Direction::number) {
            const bool embedded =
                rightToLeft || (before[i] == Direction::right && after[i] == Direction::right);
            levels[i] = embedded ? 2 : 0;
            resolved[i] = embedded ? Direction::right : Direction::left; // as neutrals see it
        }
    }
    // Neutrals between two of one direction take it; others the line's.
    for (std::size_t i = 0; i < n; ++i) {
        if (resolved[i] != Direction::neutral)
            continue;
        Direction previous = Direction::neutral;
        for (std::size_t j = i; j-- > 0 && previous == Direction::neutral;)
            previous = resolved[j];
        Direction next = Direction::neutral;
        for (std::size_t j = i + 1; j < n && next == Direction::neutral; ++j)
            next = resolved[j];
        const Direction side = previous == next && previous != Direction::neutral
                                   ? previous
                                   : (rightToLeft ? Direction::right : Direction::left);
        levels[i] = side == Direction::right ? 1 : leftLevel;
    }
    return levels;
}

// A line's characters from the order shown to the order written: the reversals that lay a line
// out, undone lowest level first.
void toWrittenOrder(std::vector<ShownChar>& chars) {
    std::vector<Direction> directions;
    directions.reserve(chars.size());
    for (const ShownChar& shown : chars)
        directions.push_back(directionOf(shown.c));
    std::vector<int> levels = levelsOf(directions, writtenRightToLeft(directions));
    // The runs are turned round as indexes, and the characters moved once at the end.
    std::vector<std::size_t> order(chars.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    for (int level = 1; level <= 2; ++level) {
        for (std::size_t start = 0; start < order.size();) {
            if (levels[start] < level) {
                ++start;
                continue;
            }
            std::size_t end = start;
            while (end < order.size() && levels[end] >= level)
                ++end;
            std::reverse(order.begin() + std::ptrdiff_t(start), order.begin() + std::ptrdiff_t(end));
            std::reverse(levels.begin() + std::ptrdiff_t(start), levels.begin() + std::ptrdiff_t(end));
            start = end;
        }
    }
    std::vector<ShownChar> written;
    written.reserve(chars.size());
    for (const std::size_t index : order)
        written.push_back(std::move(chars[index]));
    chars = std::move(written);
}

// Arabic as the page shows it is in presentation forms (initial, medial, final, ligatures); a
// script wants the letters themselves, which its own layout shapes again.
QString normalForms(char32_t c) {
    const bool presentation = (c >= 0xFB50 && c <= 0xFDFF) || (c >= 0xFE70 && c <= 0xFEFF);
    const QString text = QString::fromUcs4(&c, 1);
    return presentation ? text.normalized(QString::NormalizationForm_KC) : text;
}

bool hasRightToLeft(const QString& text) {
    return std::any_of(text.begin(), text.end(),
                       [](QChar c) { return c.direction() == QChar::DirR || c.direction() == QChar::DirAL; });
}

// `previous` is the look the paragraph's text so far ends in.
void appendLine(BoundedDocument& document, const TextLine& line, FontStyles& fonts, RunStyle& previous,
                bool& spacePending) {
    // The words come as the page shows them, left to right: right-to-left text is turned back.
    std::vector<ShownChar> chars;
    bool rightToLeft = false;
    bool spaceBefore = false;
    RunStyle before;
    for (const TextWord* word = line.getWords(); word; word = word->getNext()) {
        const RunStyle style = styleOfWord(*word, fonts);
        const QString text = textOfWord(*word);
        rightToLeft = rightToLeft || hasRightToLeft(text);
        // A space between two words of one look takes it (an underline runs on under it).
        if (spaceBefore)
            chars.push_back({U' ', before == style ? style : RunStyle{}});
        for (const char32_t c : text.toUcs4())
            chars.push_back({c, style});
        spaceBefore = word->hasSpaceAfter();
        before = style;
    }
    if (chars.empty())
        return;
    if (rightToLeft)
        toWrittenOrder(chars);
    // The line's end joins the next line of the paragraph with a space.
    if (spacePending)
        chars.insert(chars.begin(), {U' ', previous == chars.front().style ? previous : RunStyle{}});
    QString run;
    for (std::size_t i = 0; i < chars.size(); ++i) {
        run += normalForms(chars[i].c);
        if (i + 1 == chars.size() || !(chars[i + 1].style == chars[i].style)) {
            document.append(run, chars[i].style);
            run.clear();
        }
    }
    previous = chars.back().style;
    spacePending = true;
}

bool isCancelled(void* cancelled) {
    return cancelled && static_cast<const std::atomic<bool>*>(cancelled)->load();
}

void readPage(BoundedDocument& document, PDFDoc& pdf, int pageNumber, const std::atomic<bool>* cancelled) {
    TextOutputDev output(nullptr, /*physLayoutA=*/false, /*fixedPitchA=*/0, /*rawOrderA=*/false,
                         /*append=*/false);
    if (!output.isOk())
        return;
    // Underlines are found among the page's lines and rectangles only with these extras.
    output.enableHTMLExtras(true);
    // poppler asks between the page's drawing operations whether to stop.
    pdf.displayPage(&output, pageNumber, 72, 72, 0, /*useMediaBox=*/true, /*crop=*/false, /*printing=*/false,
                    isCancelled, const_cast<std::atomic<bool>*>(cancelled));
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

RichDocument PdfReader::readFile(const std::string& path, const std::atomic<bool>* cancelled) {
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
        for (int page = 1; page <= pdf.getNumPages(); ++page) {
            if (cancelled && cancelled->load())
                throw CodecError("Reading '" + path + "' was cancelled.");
            readPage(document, pdf, page, cancelled);
        }
        if (cancelled && cancelled->load())
            throw CodecError("Reading '" + path + "' was cancelled.");
        return std::move(document.document);
    });
}

} // namespace platform::codecs
