#include "cuewright/editor/TextBridge.h"

#include "cuewright/editor/EditorAppearance.h"
#include "platform/text/QtTextFormat.h"

#include <QHash>
#include <QTextBlock>
#include <QTextBoundaryFinder>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextOption>

#include <algorithm>
#include <array>
#include <limits>
#include <optional>

namespace cw::editor {

using platform::Attributes;
using platform::Color;
using platform::ParagraphStyle;

namespace {

template <typename T> std::optional<T> storedValue(const QTextFormat& format, int property) {
    const QVariant value = format.property(property);
    if (!value.isValid() || !value.canConvert<T>()) {
        return std::nullopt;
    }
    return value.value<T>();
}

template <typename T> void store(QTextFormat& format, int property, const std::optional<T>& value) {
    if (value) {
        format.setProperty(property, QVariant::fromValue(*value));
    }
}

// The stored colour while Qt still shows it; else what Qt shows, if anything. `hiddenKeeps`: the
// colour may be stored without being shown (an underline colour without an underline).
std::optional<Color> visibleColor(const std::optional<Color>& stored, bool shown, const QColor& color,
                                  bool hiddenKeeps = false) {
    if (!shown) {
        return hiddenKeeps ? stored : std::nullopt;
    }
    if (stored && stored->toQColor() == color) {
        return stored;
    }
    return Color::fromQColor(color);
}

int underlineStyleOf(QTextCharFormat::UnderlineStyle style) {
    namespace U = platform::UnderlineStyle;
    switch (style) {
    case QTextCharFormat::NoUnderline:
        return U::none;
    case QTextCharFormat::DashUnderline:
        return U::single | U::patternDash;
    case QTextCharFormat::DotLine:
        return U::single | U::patternDot;
    case QTextCharFormat::DashDotLine:
        return U::single | U::patternDashDot;
    case QTextCharFormat::DashDotDotLine:
        return U::single | U::patternDashDotDot;
    default:
        return U::single;
    }
}

bool hasVisibleFont(const QTextCharFormat& format) {
    for (const int property :
         {int(QTextFormat::FontFamilies), int(QTextFormat::FontPointSize), int(QTextFormat::FontPixelSize),
          int(QTextFormat::FontWeight), int(QTextFormat::FontItalic)}) {
        if (format.hasProperty(property)) {
            return true;
        }
    }
    return false;
}

QTextBlockFormat toBlockFormat(const std::optional<ParagraphStyle>& style) {
    QTextBlockFormat format;
    if (!style) {
        return format;
    }
    format.setAlignment(platform::toTextOption(*style).alignment());
    format.setTopMargin(style->paragraphSpacingBefore);
    format.setBottomMargin(style->paragraphSpacing);
    format.setLeftMargin(style->headIndent);
    format.setTextIndent(style->firstLineHeadIndent - style->headIndent);
    format.setProperty(TextProperty::paragraphStyle, QVariant::fromValue(*style));
    return format;
}

platform::ParagraphAlignment alignmentOf(Qt::Alignment alignment) {
    using platform::ParagraphAlignment;
    if (alignment & Qt::AlignHCenter) {
        return ParagraphAlignment::center;
    }
    if ((alignment & Qt::AlignJustify) == Qt::AlignJustify) {
        return ParagraphAlignment::justified;
    }
    if (alignment & Qt::AlignRight) {
        return ParagraphAlignment::right;
    }
    return alignment & Qt::AlignAbsolute ? ParagraphAlignment::left : ParagraphAlignment::natural;
}

// The block's paragraph style: the stored one while the block still looks like it, else the
// stored one (or the default) with what Qt shows.
std::optional<ParagraphStyle> blockParagraphStyle(const QTextBlockFormat& format) {
    const auto stored = storedValue<ParagraphStyle>(format, TextProperty::paragraphStyle);
    const QTextBlockFormat expected = toBlockFormat(stored);
    if (format.alignment() == expected.alignment() && format.topMargin() == expected.topMargin() &&
        format.bottomMargin() == expected.bottomMargin() && format.leftMargin() == expected.leftMargin() &&
        format.textIndent() == expected.textIndent()) {
        return stored;
    }
    ParagraphStyle style = stored.value_or(ParagraphStyle{});
    style.alignment = alignmentOf(format.alignment());
    style.paragraphSpacingBefore = format.topMargin();
    style.paragraphSpacing = format.bottomMargin();
    style.headIndent = format.leftMargin();
    style.firstLineHeadIndent = format.leftMargin() + format.textIndent();
    return style;
}

// Characters that QTextCursor::insertText turns into block breaks.
bool isBlockBreak(QChar c) {
    return c == u'\n' || c == u'\r' || c == QChar::ParagraphSeparator || c == QChar(0xfdd0) ||
           c == QChar(0xfdd1);
}

// A space a long paragraph may be cut into blocks at: as a block's break it is not drawn, as it is
// not at the end of a line.
bool isCuttingSpace(QChar c) {
    return c == u' ' || c == u'\t' || c == QChar(0x3000);
}

// A character a long paragraph may be cut into blocks at, standing for it: a space, or a line
// separator, where the line ends as it would inside the block.
bool isCuttingCharacter(QChar c) {
    return isCuttingSpace(c) || c == QChar::LineSeparator;
}

// Makes `format` that of a block's break: a cut standing for no character (without the bookmark,
// which stays on the character before it), or the character the break stands for unless a line feed.
void markBreak(QTextCharFormat& format, bool characterless, QChar character) {
    if (characterless) {
        format.clearProperty(TextProperty::bookmark);
        format.setProperty(TextProperty::cut, true);
    } else if (character != u'\n') {
        format.setProperty(TextProperty::separator, QString(character));
    }
}

} // namespace

QTextCharFormat toTextCharFormat(const Attributes& attributes) {
    QTextCharFormat format = platform::toCharFormat(attributes);
    store(format, TextProperty::font, attributes.font);
    store(format, TextProperty::foregroundColor, attributes.foregroundColor);
    store(format, TextProperty::backgroundColor, attributes.backgroundColor);
    store(format, TextProperty::underlineStyle, attributes.underlineStyle);
    store(format, TextProperty::underlineColor, attributes.underlineColor);
    store(format, TextProperty::paragraphStyle, attributes.paragraphStyle);
    if (attributes.bookmark) {
        format.setProperty(TextProperty::bookmark, QVariant::fromValue(attributes.bookmark));
    }
    if (!attributes.passThrough.empty()) {
        QVariantList pairs;
        for (const auto& [name, value] : attributes.passThrough) {
            pairs << name << value;
        }
        format.setProperty(TextProperty::passThrough, pairs);
    }
    return format;
}

Attributes fromTextCharFormat(const QTextCharFormat& format) {
    Attributes attributes;
    const auto font = storedValue<platform::Font>(format, TextProperty::font);
    if (hasVisibleFont(format)) {
        const platform::Font shown = platform::Font::fromQFont(format.font());
        attributes.font = font && platform::Font::fromQFont(font->toQFont()) == shown ? *font : shown;
    }
    attributes.foregroundColor =
        visibleColor(storedValue<Color>(format, TextProperty::foregroundColor),
                     format.hasProperty(QTextFormat::ForegroundBrush), format.foreground().color());
    attributes.backgroundColor =
        visibleColor(storedValue<Color>(format, TextProperty::backgroundColor),
                     format.hasProperty(QTextFormat::BackgroundBrush), format.background().color());

    const auto underline = storedValue<int>(format, TextProperty::underlineStyle);
    Attributes expected;
    expected.underlineStyle = underline;
    if (underline && platform::toCharFormat(expected).underlineStyle() == format.underlineStyle()) {
        attributes.underlineStyle = underline;
    } else if (format.underlineStyle() != QTextCharFormat::NoUnderline) {
        attributes.underlineStyle = underlineStyleOf(format.underlineStyle());
    }
    const auto underlineColor = storedValue<Color>(format, TextProperty::underlineColor);
    attributes.underlineColor = visibleColor(
        underlineColor, format.hasProperty(QTextFormat::TextUnderlineColor), format.underlineColor(), true);

    attributes.paragraphStyle = storedValue<ParagraphStyle>(format, TextProperty::paragraphStyle);
    attributes.bookmark = format.property(TextProperty::bookmark).value<platform::EmbeddedBookmarkPtr>();
    const QVariantList pairs = format.property(TextProperty::passThrough).toList();
    for (qsizetype i = 0; i + 1 < pairs.size(); i += 2) {
        attributes.passThrough.emplace_back(pairs[i].toString(), pairs[i + 1]);
    }
    return attributes;
}

namespace {
// The end of the paragraph from a position of a text: its break, or the text's end. The one found
// last is kept: a long paragraph is asked about once for each of its blocks or pieces.
struct ParagraphEnds {
    int operator()(const QString& string, int from) {
        if (from >= knownFrom && from <= knownEnd) {
            return knownEnd;
        }
        int end = from;
        while (end < int(string.size()) && !isBlockBreak(string[end])) {
            ++end;
        }
        knownFrom = from;
        knownEnd = end;
        return end;
    }
    int knownFrom = -1;
    int knownEnd = -1;
};

// A block about to be inserted: where it ends (at a break, a cutting space or the text's end),
// and the break its line separators stand for (none when it holds one paragraph or part of one).
struct InsertedBlock {
    int end = 0;
    QChar lineBreak;
    int paragraphs = 1; // begun in it
    bool cut = false;   // ends at a cut standing for no character: the next block begins at `end`
};
} // namespace

struct TextInsertion::State {
    State(QTextDocument& document, platform::AttributedString text, std::optional<double> pointSize,
          std::optional<Qt::Alignment> alignment)
        : document(document)
        , text(std::move(text))
        , pointSize(pointSize)
        , alignment(alignment) {}

    QTextDocument& document;
    platform::AttributedString text;
    std::optional<double> pointSize;
    std::optional<Qt::Alignment> alignment;
    bool undoable = false;
    bool cutsParagraphs = true; // long paragraphs into several blocks
    bool cutBefore = false;     // the block from `next` follows a cut standing for no character
    std::vector<platform::AttributedString::Run> runs;
    size_t run = 0; // the run holding the location last asked for; locations only grow
    int next = 0;   // the start of the next paragraph to insert
    bool done = false;
    // A script has few distinct styles: their formats are made once, not once per run.
    std::vector<std::pair<Attributes, QTextCharFormat>> formats;
    // Paragraphs go several to a block (see nextBlock()).
    bool joinsParagraphs = false;

    ParagraphEnds paragraphEnds;
    int paragraphEnd(int start) { return paragraphEnds(text.string(), start); }

    // The paragraph style of the paragraph from `start`, as a block shows it.
    std::optional<ParagraphStyle> styleAt(int start) {
        const int length = int(text.string().size());
        const int source = start < length ? start : start - 1;
        return source >= 0 ? attributesAt(source).paragraphStyle : std::nullopt;
    }

    // The block from `start`. Qt lays a block out and measures it as a whole, on every change
    // and on every paint of any part of it, and a block costs it as much as hundreds of
    // characters: a paragraph far longer than a window's worth is cut into blocks at spaces (the
    // space is the block's break), and in a long text short paragraphs of one plain look share
    // a block, their breaks shown as line separators (the block says which break they stand for).
    InsertedBlock nextBlock(int start) {
        const QString& string = text.string();
        const int length = int(string.size());
        InsertedBlock block{paragraphEnd(start), QChar()};
        if (cutsParagraphs) {
            if (const auto [end, characterless] = TextInsertion::cutPosition(string, start, block.end);
                end > start && end < block.end) {
                return InsertedBlock{end, QChar(), 1, characterless};
            }
        }
        if (!joinsParagraphs || block.end >= length || containsLineSeparator(start, block.end)) {
            return block;
        }
        const std::optional<ParagraphStyle> style = styleAt(start);
        if (!joinable(style)) {
            return block;
        }
        const QChar lineBreak = string[block.end];
        // Equal attributes are an equal look; the runs are fetched once the block is inserted.
        const size_t run = this->run;
        for (int joined = 1; block.end < length && string[block.end] == lineBreak &&
                             joined < TextInsertion::maxParagraphsPerBlock;
             ++joined) {
            const int next = block.end + 1;
            const int nextEnd = paragraphEnd(next);
            // The empty line after a final break stays a block of its own, as Qt counts it so.
            if (nextEnd >= length && next == nextEnd) {
                break;
            }
            if (nextEnd - start > TextInsertion::targetBlockCharacters ||
                containsLineSeparator(next, nextEnd) || !(styleAt(next) == style) ||
                TextInsertion::cutPosition(string, next, nextEnd).first < nextEnd) {
                break;
            }
            block.end = nextEnd;
            block.lineBreak = lineBreak;
            ++block.paragraphs;
        }
        this->run = run;
        return block;
    }

    bool containsLineSeparator(int start, int end) const {
        const QString& string = text.string();
        for (int at = start; at < end; ++at) {
            if (string[at] == QChar::LineSeparator) {
                return true;
            }
        }
        return false;
    }

    // Paragraphs that look alike whether shown as blocks or as lines of one block.
    static bool joinable(const std::optional<ParagraphStyle>& style) {
        return !style || (style->paragraphSpacing == 0 && style->paragraphSpacingBefore == 0 &&
                          style->firstLineHeadIndent == style->headIndent);
    }

    const Attributes& attributesAt(int location) {
        while (runs[run].range.location + runs[run].range.length <= location) {
            ++run;
        }
        return runs[run].attributes;
    }

    QTextCharFormat formatOf(const Attributes& attributes) {
        for (const auto& [known, format] : formats) {
            if (known == attributes) {
                return format;
            }
        }
        if (formats.size() >= 32) {
            formats.erase(formats.begin());
        }
        QTextCharFormat format = toTextCharFormat(attributes);
        if (pointSize) {
            format = EditorAppearance::unsized(std::move(format));
            if (!hasVisibleFont(format)) {
                format.setFontFamilies({document.defaultFont().family()});
            }
        }
        return formats.emplace_back(attributes, std::move(format)).second;
    }
};

TextInsertion::TextInsertion(QTextDocument& document, platform::AttributedString text,
                             std::optional<double> pointSize, std::optional<Qt::Alignment> alignment)
    : state_(std::make_unique<State>(document, std::move(text), pointSize, alignment)) {
    State& s = *state_;
    s.undoable = document.isUndoRedoEnabled();
    document.setUndoRedoEnabled(false);
    document.clear();
    s.runs = s.text.runs();
    s.joinsParagraphs = s.text.string().size() >= joinParagraphsFrom;
    if (pointSize) {
        QFont font = document.defaultFont();
        font.setPointSizeF(EditorAppearance::qtPointSize(*pointSize));
        document.setDefaultFont(font);
    }
    if (alignment && document.defaultTextOption().alignment() != *alignment) {
        QTextOption option = document.defaultTextOption();
        option.setAlignment(*alignment);
        document.setDefaultTextOption(option);
    }
}

TextInsertion::~TextInsertion() {
    state_->document.setUndoRedoEnabled(state_->undoable);
}

int TextInsertion::length() const {
    return int(state_->text.string().size());
}

int TextInsertion::inserted() const {
    return state_->done ? length() : state_->next;
}

bool TextInsertion::isDone() const {
    return state_->done;
}

bool TextInsertion::insert(int characters) {
    State& s = *state_;
    if (s.done) {
        return true;
    }
    const QString& text = s.text.string();
    const int length = int(text.size());
    // The rest goes in whole only when it is within the piece at its cost: a last piece of runs
    // would otherwise take up to runCost times as long as the others.
    const bool all = characters == std::numeric_limits<int>::max() ||
                     qint64(characters) >= qint64(length - s.next) * runCost;
    qint64 spent = 0;
    QTextCursor cursor(&s.document);
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    int start = s.next;
    int paragraphs = 0;
    while (true) {
        const InsertedBlock block = s.nextBlock(start);
        // The break before the block first: attributesAt() only moves forwards.
        QTextCharFormat breakFormat;
        if (start > 0) {
            breakFormat = s.formatOf(s.attributesAt(start - 1));
            markBreak(breakFormat, s.cutBefore, text[start - 1]);
        }
        // An empty last paragraph looks like the break before it.
        const int styleSource = start < length ? start : start - 1;
        QTextBlockFormat blockFormat =
            toBlockFormat(styleSource >= 0 ? s.attributesAt(styleSource).paragraphStyle : std::nullopt);
        if (s.alignment) {
            blockFormat.clearProperty(QTextFormat::BlockAlignment);
        }
        if (!block.lineBreak.isNull()) {
            blockFormat.setProperty(TextProperty::lineBreak, QString(block.lineBreak));
        }
        if (start == 0) {
            cursor.setBlockFormat(blockFormat);
        } else {
            cursor.insertBlock(blockFormat, breakFormat);
        }
        for (int location = start; location < block.end;) {
            const Attributes& attributes = s.attributesAt(location);
            const auto& range = s.runs[s.run].range;
            const int pieceEnd = std::min(block.end, range.location + range.length);
            QString piece = text.mid(location, pieceEnd - location);
            if (!block.lineBreak.isNull()) {
                piece.replace(block.lineBreak, QChar::LineSeparator);
            }
            cursor.insertText(piece, s.formatOf(attributes));
            location = pieceEnd;
        }
        paragraphs += block.paragraphs;
        spent += qint64(block.end - start) * (block.cut || s.cutBefore ? runCost : 1);
        if (block.end >= length) {
            s.done = true;
            break;
        }
        s.cutBefore = block.cut;
        start = block.cut ? block.end : block.end + 1;
        if (!all && (spent >= characters || paragraphs >= maxParagraphsPerPiece)) {
            break; // the next piece begins with this block
        }
    }
    s.next = start;
    cursor.endEditBlock();
    return s.done;
}

void TextInsertion::insertParagraphs(QTextDocument& document, const platform::AttributedString& text) {
    TextInsertion insertion(document, text);
    insertion.state_->cutsParagraphs = false;
    insertion.state_->joinsParagraphs = false;
    insertion.insert(std::numeric_limits<int>::max());
}

std::pair<int, bool> TextInsertion::cutPosition(const QString& text, int start, int end) {
    const bool tooLong = end - start > maxBlockCharacters;
    const int last = tooLong ? start + maxBlockCharacters : end - 1;
    // Each cut lies after `start`, so that whatever cuts a paragraph moves on every time.
    int lastSpace = -1;
    int lastSeparator = -1;
    int runStart = start;
    bool longRun = false;
    for (int at = start; at <= last && !longRun; ++at) {
        const QChar c = text[at];
        if (isCuttingSpace(c)) {
            if (at > start) {
                lastSpace = at;
            }
            runStart = at + 1;
        } else if (c == QChar::LineSeparator) {
            if (at > start) {
                lastSeparator = at;
            }
            runStart = at + 1; // Qt breaks the line there
        } else {
            // A long run without a space goes into blocks of its own.
            longRun = at - runStart >= maxRunCharacters;
        }
    }
    if (!tooLong && !longRun) {
        return {end, false};
    }
    // Lines without a space (CJK text with soft line breaks) are cut at a line separator: the
    // lines stay as they were.
    if (lastSpace > start) {
        return {lastSpace, false};
    }
    if (lastSeparator > start) {
        return {lastSeparator, false};
    }
    return {graphemeCut(text, start, end), true};
}

int TextInsertion::graphemeCut(const QString& text, int start, int end) {
    const int cut = start + maxRunCharacters;
    // Graphemes are told apart from the block's start on, itself a boundary (a flag is two
    // characters of a kind that pair off from the first): the whole text would be measured again
    // for each cut.
    constexpr int context = 64;
    const int to = std::min(end, cut + context);
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, text.constData() + start, to - start);
    graphemes.setPosition(maxRunCharacters);
    const qsizetype boundary = graphemes.isAtBoundary() ? maxRunCharacters : graphemes.toPreviousBoundary();
    if (boundary > 0) {
        return start + int(boundary);
    }
    // One sequence as long as the block: cut it between two code points all the same.
    return text[cut].isLowSurrogate() && text[cut - 1].isHighSurrogate() ? cut - 1 : cut;
}

void setAttributedText(QTextDocument& document, const platform::AttributedString& text,
                       std::optional<double> pointSize, std::optional<Qt::Alignment> alignment) {
    TextInsertion(document, text, pointSize, alignment).insert(std::numeric_limits<int>::max());
}

struct PasteInsertion::State {
    QTextCursor cursor;
    platform::AttributedString text;
    FormatOf formatOf;
    std::vector<platform::AttributedString::Run> runs;
    size_t run = 0;
    std::vector<QTextCharFormat> formats; // of each run, made when first needed
    std::array<size_t, 8> recent{};       // runs whose formats were made last
    int next = 0;                         // the first character not yet in
    int lastBreak = -1;                   // the text's last paragraph break
    bool joins = false;
    QTextBlockFormat landing; // the format of the block the paste lands in
    // The block being filled, when this paste opened it and short paragraphs may join it.
    bool joinable = false;
    QChar lineBreak; // the break its line separators stand for, once one joined it
    int blockCharacters = 0;
    int blockParagraphs = 0;

    ParagraphEnds paragraphEnds;
    int paragraphEnd(int from) { return paragraphEnds(text.string(), from); }
    const QTextCharFormat& formatAt(int location) {
        while (runs[run].range.end() <= location) {
            ++run;
        }
        if (formats[run].isEmpty()) {
            // Rich text from elsewhere comes in many runs of a few looks: each look is made once.
            const auto seen = std::find_if(recent.begin(), recent.end(), [&](size_t r) {
                return !formats[r].isEmpty() && runs[r].attributes == runs[run].attributes;
            });
            formats[run] = seen != recent.end() ? formats[*seen] : formatOf(runs[run].attributes);
            recent[run % recent.size()] = run;
        }
        return formats[run];
    }
    // The characters [from, to) of one paragraph, run by run.
    void insertCharacters(int from, int to) {
        const QString& string = text.string();
        for (int location = from; location < to;) {
            const QTextCharFormat& format = formatAt(location);
            const int end = std::min(to, runs[run].range.end());
            cursor.insertText(string.mid(location, end - location), format);
            location = end;
        }
    }
    // Whether the paragraph [from, to) may share a block with others: it is short, within the
    // limits and holds no line separator of its own.
    bool sharable(int from, int to) const {
        const QString& string = text.string();
        if (to - from > TextInsertion::targetBlockCharacters ||
            TextInsertion::cutPosition(string, from, to).first < to) {
            return false;
        }
        for (int at = from; at < to; ++at) {
            if (string[at] == QChar::LineSeparator) {
                return false;
            }
        }
        return true;
    }
    // The break at `at`, and the paragraph after it.
    void insertBreak(int at) {
        const QString& string = text.string();
        const QChar character = string[at];
        const int nextEnd = paragraphEnd(at + 1);
        QTextCharFormat format = formatAt(at);
        // The paragraph that takes the rest of the block the paste landed in keeps a block of
        // its own, in that block's format.
        const bool last = at == lastBreak;
        if (joins && joinable && !last && (lineBreak.isNull() || lineBreak == character) &&
            blockCharacters + 1 + (nextEnd - at - 1) <= TextInsertion::targetBlockCharacters &&
            blockParagraphs < TextInsertion::maxParagraphsPerBlock && sharable(at + 1, nextEnd)) {
            if (lineBreak.isNull()) {
                lineBreak = character;
                QTextBlockFormat shared = cursor.blockFormat();
                shared.setProperty(TextProperty::lineBreak, QString(character));
                cursor.setBlockFormat(shared);
            }
            cursor.insertText(QString(QChar::LineSeparator), format);
            blockCharacters += 1;
            ++blockParagraphs;
            return;
        }
        markBreak(format, /*characterless=*/false, character);
        QTextBlockFormat blockFormat = landing;
        if (!last) {
            blockFormat.clearProperty(TextProperty::lineBreak);
        }
        cursor.insertBlock(blockFormat, format);
        joinable = !last && sharable(at + 1, nextEnd);
        lineBreak = QChar();
        blockCharacters = 0;
        blockParagraphs = 1;
    }
};

PasteInsertion::PasteInsertion(const QTextCursor& cursor, platform::AttributedString text, FormatOf formatOf)
    : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.cursor = cursor;
    s.text = std::move(text);
    s.formatOf = std::move(formatOf);
    s.runs = s.text.runs();
    s.formats.resize(s.runs.size());
    s.landing = cursor.blockFormat();
    const QString& string = s.text.string();
    s.joins = string.size() >= TextInsertion::joinParagraphsFrom;
    for (int at = int(string.size()) - 1; at >= 0; --at) {
        if (isBlockBreak(string[at])) {
            s.lastBreak = at;
            break;
        }
    }
}

PasteInsertion::~PasteInsertion() = default;

bool PasteInsertion::isDone() const {
    return state_->next >= length();
}

int PasteInsertion::inserted() const {
    return state_->next;
}

int PasteInsertion::length() const {
    return int(state_->text.string().size());
}

QTextCursor PasteInsertion::cursor() const {
    return state_->cursor;
}

bool PasteInsertion::insert(int characters) {
    State& s = *state_;
    const int length = this->length();
    const int from = s.cursor.position();
    if (s.next == 0 && s.text.string().contains(QChar::LineSeparator) &&
        splitJoinedParagraphs(*s.cursor.document(), from) > 0) {
        s.landing = s.cursor.blockFormat();
    }
    const int until = characters >= length - s.next ? length : s.next + characters;
    int paragraphs = 0;
    while (s.next < length && s.next < until && paragraphs < TextInsertion::maxParagraphsPerPiece) {
        const int end = std::min(s.paragraphEnd(s.next), until);
        s.insertCharacters(s.next, end);
        s.blockCharacters += end - s.next;
        s.next = end;
        if (s.next < length && isBlockBreak(s.text.string()[s.next])) {
            s.insertBreak(s.next);
            ++s.next;
            ++paragraphs;
        }
    }
    // Inside the caller's edit: Qt lays the grown blocks out once, already cut.
    cutLongBlocks(*s.cursor.document(), from, s.cursor.position());
    return isDone();
}

void insertText(QTextCursor& cursor, const platform::AttributedString& text,
                const std::function<QTextCharFormat(const Attributes&)>& formatOf) {
    cursor.beginEditBlock();
    cursor.removeSelectedText();
    PasteInsertion insertion(cursor, text, formatOf);
    insertion.insert(std::numeric_limits<int>::max());
    cursor.setPosition(insertion.cursor().position());
    cursor.endEditBlock();
}

BlockBreak blockBreak(const QTextBlock& block) {
    if (!block.isValid() || !block.previous().isValid()) {
        return {};
    }
    const QTextCharFormat format = block.charFormat();
    if (format.property(TextProperty::cut).toBool()) {
        return {BlockBreak::Kind::cutInRun, {}};
    }
    const QString separator = format.property(TextProperty::separator).toString();
    if (separator.isEmpty()) {
        return {BlockBreak::Kind::paragraph, QStringLiteral("\n")};
    }
    return {separator.size() == 1 && isCuttingCharacter(separator.front()) ? BlockBreak::Kind::cutAtSpace
                                                                           : BlockBreak::Kind::paragraph,
            separator};
}

bool isPastLimits(const QTextBlock& block) {
    const int length = block.length() - 1;
    if (length <= TextInsertion::maxRunCharacters) {
        return false;
    }
    if (length > TextInsertion::maxBlockCharacters) {
        return true;
    }
    const QString text = block.text();
    return TextInsertion::cutPosition(text, 0, int(text.size())).first < text.size();
}

namespace {

// Cuts the blocks that start at `starts` (ascending), each past the limits.
int cutBlocksAt(QTextDocument& document, const std::vector<int>& starts) {
    int made = 0;
    QTextCursor cursor(&document);
    // From the last block on: a cut moves the positions after it.
    for (auto start = starts.rbegin(); start != starts.rend(); ++start) {
        const QTextBlock block = document.findBlock(*start);
        const QString text = block.text();
        const int length = int(text.size());
        std::vector<std::pair<int, bool>> cuts;
        // Every cut lies after `at`: each turn moves on.
        for (int at = 0;;) {
            const auto cut = TextInsertion::cutPosition(text, at, length);
            if (cut.first >= length || cut.first <= at) {
                break;
            }
            cuts.push_back(cut);
            at = cut.second ? cut.first : cut.first + 1;
        }
        const QTextBlockFormat blockFormat = block.blockFormat();
        // In a block of short paragraphs a line separator stands for their break.
        const QString lineBreak = blockFormat.property(TextProperty::lineBreak).toString();
        for (auto cut = cuts.rbegin(); cut != cuts.rend(); ++cut) {
            const auto [at, characterless] = *cut;
            cursor.setPosition(block.position() + at);
            if (!characterless) {
                cursor.setPosition(block.position() + at + 1, QTextCursor::KeepAnchor);
            }
            // The character the break follows (a cut in a run) or stands for (a space, a line
            // separator, or in a block of short paragraphs the break they share).
            QTextCharFormat breakFormat = cursor.charFormat();
            const bool paragraphBreak = text[at] == QChar::LineSeparator && lineBreak.size() == 1;
            markBreak(breakFormat, characterless, paragraphBreak ? lineBreak.front() : text[at]);
            cursor.removeSelectedText();
            cursor.insertBlock(blockFormat, breakFormat);
            ++made;
        }
    }
    return made;
}

} // namespace

int cutLongBlocks(QTextDocument& document, int from, int to) {
    // The blocks first: cutting one makes new blocks after it, which are within the limits.
    std::vector<int> starts;
    for (QTextBlock block = document.findBlock(from); block.isValid() && block.position() <= to;
         block = block.next()) {
        if (isPastLimits(block)) {
            starts.push_back(block.position());
        }
    }
    return cutBlocksAt(document, starts);
}

int cutChangedLongBlocks(QTextDocument& document, int revision) {
    if (!document.isUndoRedoEnabled()) {
        return cutLongBlocks(document, 0, document.characterCount() - 1);
    }
    // The others are only passed.
    std::vector<int> starts;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (block.revision() >= revision && isPastLimits(block)) {
            starts.push_back(block.position());
        }
    }
    return cutBlocksAt(document, starts);
}

bool holdsJoinedParagraphs(const QTextBlock& block) {
    return !block.blockFormat().property(TextProperty::lineBreak).toString().isEmpty();
}

int splitJoinedParagraphs(QTextDocument& document, int position) {
    const QTextBlock block = document.findBlock(position);
    if (!holdsJoinedParagraphs(block)) {
        return 0;
    }
    QTextBlockFormat blockFormat = block.blockFormat();
    const QString lineBreak = blockFormat.property(TextProperty::lineBreak).toString();
    blockFormat.clearProperty(TextProperty::lineBreak);
    QTextCursor cursor(block);
    cursor.setBlockFormat(blockFormat);
    const QString text = block.text();
    int made = 0;
    // From the last on; each break goes in after its separator, which then goes: a cursor on
    // either side of it stays there.
    for (int at = int(text.size()) - 1; at >= 0; --at) {
        if (text[at] != QChar::LineSeparator) {
            continue;
        }
        cursor.setPosition(block.position() + at + 1);
        QTextCharFormat breakFormat = cursor.charFormat(); // the separator's
        breakFormat.clearProperty(TextProperty::cut);
        breakFormat.clearProperty(TextProperty::separator);
        if (lineBreak != u"\n") {
            breakFormat.setProperty(TextProperty::separator, lineBreak);
        }
        cursor.insertBlock(blockFormat, breakFormat);
        cursor.setPosition(block.position() + at);
        cursor.deleteChar();
        ++made;
    }
    return made;
}

bool joiningChangesReading(const QTextDocument& document, int from, int to) {
    const QTextBlock first = document.findBlock(from);
    const QTextBlock last = document.findBlock(to);
    return first != last && first.blockFormat().property(TextProperty::lineBreak) !=
                                last.blockFormat().property(TextProperty::lineBreak);
}

int splitBeforeJoining(QTextDocument& document, int from, int to) {
    if (!joiningChangesReading(document, from, to)) {
        return 0;
    }
    return splitJoinedParagraphs(document, to) + splitJoinedParagraphs(document, from);
}

platform::TextRange paragraphRange(const QTextDocument& document, int position) {
    QTextBlock first = document.findBlock(position);
    if (!first.isValid()) {
        return {};
    }
    QTextBlock last = first;
    while (blockBreak(first).continuesParagraph()) {
        first = first.previous();
    }
    for (QTextBlock next = last.next(); next.isValid() && blockBreak(next).continuesParagraph();
         next = next.next()) {
        last = next;
    }
    int start = first.position();
    int end = last.position() + last.length() - 1;
    // Short paragraphs that share a block: their breaks are its line separators.
    const QTextBlock block = document.findBlock(position);
    if (!block.blockFormat().property(TextProperty::lineBreak).toString().isEmpty()) {
        const QString text = block.text();
        const int at = position - block.position();
        const int before = at > 0 ? int(text.lastIndexOf(QChar::LineSeparator, at - 1)) : -1;
        const int after = int(text.indexOf(QChar::LineSeparator, at));
        if (before >= 0) {
            start = block.position() + before + 1;
        }
        if (after >= 0) {
            end = block.position() + after;
        }
    }
    return {start, end - start};
}

QTextCharFormat shownCharFormat(const QTextDocument& document, QTextCharFormat format) {
    if (hasVisibleFont(format) && !format.hasProperty(QTextFormat::FontPointSize) &&
        !format.hasProperty(QTextFormat::FontPixelSize)) {
        const QFont font = document.defaultFont();
        if (font.pointSizeF() > 0) {
            format.setFontPointSize(font.pointSizeF());
        } else {
            format.setProperty(QTextFormat::FontPixelSize, font.pixelSize());
        }
    }
    return format;
}

platform::AttributedString attributedText(const QTextDocument& document) {
    return attributedText(document, 0, document.characterCount() - 1);
}

platform::AttributedString attributedText(const QTextDocument& document, int from, int to) {
    platform::AttributedString result;
    const Qt::Alignment defaultAlignment = document.defaultTextOption().alignment();
    const bool alignsByDefault = defaultAlignment != QTextBlockFormat().alignment();
    // A script has few formats and millions of runs: each format is read once, by its index in
    // the document and, in a restyled paragraph, its paragraph's.
    QHash<std::pair<int, int>, Attributes> read;
    for (QTextBlock block = document.findBlock(from); block.isValid() && block.position() < to;
         block = block.next()) {
        QTextBlockFormat blockFormat = block.blockFormat();
        if (alignsByDefault && !blockFormat.hasProperty(QTextFormat::BlockAlignment)) {
            blockFormat.setAlignment(defaultAlignment);
        }
        const auto stored = storedValue<ParagraphStyle>(blockFormat, TextProperty::paragraphStyle);
        const auto shown = blockParagraphStyle(blockFormat);
        // A paragraph restyled through Qt gives its style to all its characters.
        const bool restyled = !(shown == stored);
        auto attributesOf = [&](const QTextCharFormat& format, int formatIndex) {
            const std::pair<int, int> key{formatIndex, restyled ? block.blockFormatIndex() : -1};
            if (const auto known = read.constFind(key); known != read.constEnd()) {
                return *known;
            }
            Attributes attributes = fromTextCharFormat(shownCharFormat(document, format));
            if (restyled) {
                attributes.paragraphStyle = shown;
            }
            read.insert(key, attributes);
            return attributes;
        };
        // Line separators stand for the breaks of the paragraphs that share the block.
        const QString lineBreak = block.blockFormat().property(TextProperty::lineBreak).toString();
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const int start = std::max(from, fragment.position());
            const int end = std::min(to, fragment.position() + fragment.length());
            if (start >= end) {
                continue;
            }
            QString text = fragment.text();
            if (start != fragment.position() || end != fragment.position() + fragment.length()) {
                text = text.mid(start - fragment.position(), end - start);
            }
            if (!lineBreak.isEmpty()) {
                text.replace(QChar::LineSeparator, lineBreak);
            }
            result.append(text, attributesOf(fragment.charFormat(), fragment.charFormatIndex()));
        }
        const QTextBlock next = block.next();
        if (next.isValid() && next.position() - 1 >= from && next.position() - 1 < to) {
            if (const BlockBreak before = blockBreak(next); !before.characters.isEmpty()) {
                result.append(before.characters, attributesOf(next.charFormat(), next.charFormatIndex()));
            }
        }
    }
    return result;
}

std::vector<int> characterlessCuts(const QTextDocument& document) {
    std::vector<int> cuts;
    for (QTextBlock block = document.begin().next(); block.isValid(); block = block.next()) {
        if (blockBreak(block).standsForNoCharacter()) {
            cuts.push_back(block.position() - 1 - int(cuts.size()));
        }
    }
    return cuts;
}

PlainText plainText(const QTextDocument& document) {
    PlainText plain;
    const QString raw = document.toRawText();
    plain.string.reserve(raw.size());
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        const int start = block.position();
        const int length = std::min(block.length() - 1, int(raw.size()) - start);
        const QString lineBreak = block.blockFormat().property(TextProperty::lineBreak).toString();
        if (lineBreak.isEmpty()) {
            plain.string.append(QStringView(raw).mid(start, length));
        } else {
            plain.string.append(raw.mid(start, length).replace(QChar::LineSeparator, lineBreak));
        }
        const QTextBlock next = block.next();
        if (!next.isValid()) {
            break;
        }
        const BlockBreak before = blockBreak(next);
        if (before.standsForNoCharacter()) {
            plain.cuts.push_back(int(plain.string.size()));
        }
        plain.string.append(before.characters);
    }
    return plain;
}

int PlainText::documentStart(int position) const {
    return position + int(std::upper_bound(cuts.begin(), cuts.end(), position) - cuts.begin());
}

int PlainText::documentEnd(int position) const {
    return position + int(std::lower_bound(cuts.begin(), cuts.end(), position) - cuts.begin());
}

platform::TextRange PlainText::documentRange(platform::TextRange range) const {
    const int start = documentStart(range.location);
    return {start, std::max(start, documentEnd(range.end())) - start};
}

int PlainText::textPosition(int documentPosition) const {
    // The break of cut i stands at the document's position cuts[i] + i.
    int before = 0;
    for (int low = 0, high = int(cuts.size()); low < high;) {
        const int middle = (low + high) / 2;
        if (cuts[size_t(middle)] + middle < documentPosition) {
            before = middle + 1;
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return documentPosition - before;
}

platform::TextRange PlainText::textRange(platform::TextRange documentRange) const {
    const int start = textPosition(documentRange.location);
    return {start, textPosition(documentRange.end()) - start};
}

} // namespace cw::editor
