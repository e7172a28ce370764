#include "cuewright/editor/TextBridge.h"

#include "cuewright/editor/EditorAppearance.h"
#include "platform/text/QtTextFormat.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextOption>

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
// A block about to be inserted: where it ends (at a break, a cutting space or the text's end),
// and the break its line separators stand for (none when it holds one paragraph or part of one).
struct InsertedBlock {
    int end = 0;
    QChar lineBreak;
    int paragraphs = 1; // begun in it
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
    std::vector<platform::AttributedString::Run> runs;
    size_t run = 0; // the run holding the location last asked for; locations only grow
    int next = 0;   // the start of the next paragraph to insert
    bool done = false;
    // A script has few distinct styles: their formats are made once, not once per run.
    std::vector<std::pair<Attributes, QTextCharFormat>> formats;
    // Paragraphs go several to a block (see nextBlock()).
    bool joinsParagraphs = false;

    // The end of the paragraph from `start`: its break, or the text's end. The paragraph found
    // last is kept: a long one is asked about once for each of its blocks.
    int paragraphEnd(int start) {
        if (start >= knownFrom && start <= knownEnd) {
            return knownEnd;
        }
        const QString& string = text.string();
        int end = start;
        while (end < int(string.size()) && !isBlockBreak(string[end])) {
            ++end;
        }
        knownFrom = start;
        knownEnd = end;
        return end;
    }
    int knownFrom = -1;
    int knownEnd = -1;

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
        if (block.end - start > TextInsertion::maxBlockCharacters) {
            return InsertedBlock{cutAtSpace(start, block.end), QChar(), 1};
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
                containsLineSeparator(next, nextEnd) || !(styleAt(next) == style)) {
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

    // The last space of the paragraph's first maxBlockCharacters from `start`, else its first
    // space after them; the paragraph's end when it has none.
    int cutAtSpace(int start, int end) const {
        const QString& string = text.string();
        for (int at = start + TextInsertion::maxBlockCharacters; at > start; --at) {
            if (isCuttingSpace(string[at])) {
                return at;
            }
        }
        for (int at = start + TextInsertion::maxBlockCharacters + 1; at < end; ++at) {
            if (isCuttingSpace(string[at])) {
                return at;
            }
        }
        return end;
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
    const int until = characters >= length - s.next ? length : s.next + characters;
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
            if (text[start - 1] != u'\n') {
                breakFormat.setProperty(TextProperty::separator, QString(text[start - 1]));
            }
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
        if (block.end >= length) {
            s.done = true;
            break;
        }
        start = block.end + 1;
        if (until < length && (start >= until || paragraphs >= maxParagraphsPerPiece)) {
            break; // the next piece begins with this block
        }
    }
    s.next = start;
    cursor.endEditBlock();
    return s.done;
}

void setAttributedText(QTextDocument& document, const platform::AttributedString& text,
                       std::optional<double> pointSize, std::optional<Qt::Alignment> alignment) {
    TextInsertion(document, text, pointSize, alignment).insert(std::numeric_limits<int>::max());
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
    platform::AttributedString result;
    const Qt::Alignment defaultAlignment = document.defaultTextOption().alignment();
    const bool alignsByDefault = defaultAlignment != QTextBlockFormat().alignment();
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        QTextBlockFormat blockFormat = block.blockFormat();
        if (alignsByDefault && !blockFormat.hasProperty(QTextFormat::BlockAlignment)) {
            blockFormat.setAlignment(defaultAlignment);
        }
        const auto stored = storedValue<ParagraphStyle>(blockFormat, TextProperty::paragraphStyle);
        const auto shown = blockParagraphStyle(blockFormat);
        // A paragraph restyled through Qt gives its style to all its characters.
        const bool restyled = !(shown == stored);
        auto attributesOf = [&](const QTextCharFormat& format) {
            Attributes attributes = fromTextCharFormat(shownCharFormat(document, format));
            if (restyled) {
                attributes.paragraphStyle = shown;
            }
            return attributes;
        };
        // Line separators stand for the breaks of the paragraphs that share the block.
        const QString lineBreak = block.blockFormat().property(TextProperty::lineBreak).toString();
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            QString text = fragment.text();
            if (!lineBreak.isEmpty()) {
                text.replace(QChar::LineSeparator, lineBreak);
            }
            result.append(text, attributesOf(fragment.charFormat()));
        }
        const QTextBlock next = block.next();
        if (next.isValid()) {
            const QTextCharFormat breakFormat = next.charFormat();
            const QString separator = breakFormat.property(TextProperty::separator).toString();
            result.append(separator.isEmpty() ? QStringLiteral("\n") : separator, attributesOf(breakFormat));
        }
    }
    return result;
}

} // namespace cw::editor
