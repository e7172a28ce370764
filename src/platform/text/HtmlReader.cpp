#include "platform/text/HtmlReader.h"

#include <QColor>
#include <QString>
#include <QStringView>

#include <libxml/HTMLparser.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstring>
#include <mutex>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace platform {

namespace {

// What an element is to the script's text.
enum Trait : unsigned {
    block = 1 << 0,  // its own paragraphs
    hidden = 1 << 1, // no text of it is seen
    cell = 1 << 2,   // a table cell: a tab from the cell before it
    row = 1 << 3,    // a table row
    pre = 1 << 4,    // white space as it is
    bold = 1 << 5,
    italic = 1 << 6,
    underline = 1 << 7,
    centered = 1 << 8,
    lineBreak = 1 << 9,
    object = 1 << 10, // a picture or a control: no character, but the spaces on both sides stay
};

// Element names by what they are; libxml2 gives HTML element names in lower case.
constexpr std::pair<unsigned, std::string_view> kNames[] = {
    {block,
     "address article aside blockquote body caption center dd details dialog dir div dl dt fieldset "
     "figcaption figure footer form h1 h2 h3 h4 h5 h6 header hgroup hr legend li listing main menu nav ol "
     "p plaintext pre section summary table textarea ul xmp"},
    {bold, "b strong th h1 h2 h3 h4 h5 h6"},
    {italic, "address cite dfn em i var"},
    {underline, "ins u"},
    {hidden, "head iframe noembed noframes noscript object script style template title"},
    {pre, "listing plaintext pre textarea xmp"},
    {cell, "td th"},
    {row, "tr"},
    {lineBreak, "br"},
    {centered, "center"},
    {object, "img input"}};

std::string_view nameOf(xmlNodePtr node) {
    return reinterpret_cast<const char*>(node->name);
}

unsigned traitsOf(std::string_view name) {
    static const std::unordered_map<std::string_view, unsigned> traits = [] {
        std::unordered_map<std::string_view, unsigned> made;
        for (const auto& [trait, names] : kNames) {
            for (size_t at = 0; at < names.size();) {
                const size_t end = std::min(names.find(' ', at), names.size());
                made[names.substr(at, end - at)] |= trait;
                at = end + 1;
            }
        }
        return made;
    }();
    const auto found = traits.find(name);
    return found != traits.end() ? found->second : 0;
}

// The point size of a heading, 0 for any other element.
double headingSize(std::string_view name) {
    static const double sizes[] = {24, 18, 14, 12, 10, 8};
    return name.size() == 2 && name[0] == 'h' && name[1] >= '1' && name[1] <= '6' ? sizes[name[1] - '1'] : 0;
}

// The bytes handed to the parser as it asks for them. A NUL ends the parser's loops early: it
// reads as a space.
struct Input {
    QByteArrayView data;
    qsizetype offset = 0;
    htmlParserCtxtPtr context = nullptr;
    int maxAttributeSlots = 0;
    bool tooManyAttributes = false;
};

constexpr qsizetype kChunkBytes = 4096;

// Tags this parser reads otherwise than browsers do, dropped before it sees them. Word's HTML shows
// a list's label (the bullet or number and its spaces) between the markers of a "downlevel-revealed"
// conditional comment, `<![if !supportLists]>` and `<![endif]>`: browsers drop the markers and show
// what lies between, the parser would give them as text. And the parser does not know <wbr> (a place
// a line may break, no text): it would nest what follows inside it, up to its parent's end, and a
// long word broken by hundreds of them would nest past its depth. The length of such a tag at `at`,
// 0 where none starts; looked for within a bounded stretch.
qsizetype skippedTagAt(QByteArrayView data, qsizetype at) {
    constexpr qsizetype kLongest = 128;
    const QByteArrayView rest = data.sliced(at, std::min(data.size() - at, kLongest));
    const auto startsWithName = [&](QByteArrayView name) {
        return rest.size() > name.size() && qstrnicmp(rest.data(), name.data(), size_t(name.size())) == 0 &&
               !std::isalnum(static_cast<unsigned char>(rest[name.size()])) && rest[name.size()] != '-' &&
               rest[name.size()] != ':';
    };
    const bool marker = startsWithName("<![if") || startsWithName("<![endif");
    if (!marker && !startsWithName("<wbr")) {
        return 0;
    }
    for (qsizetype end = 2; end < rest.size(); ++end) {
        if (rest[end] == '<' || rest[end] == '>') {
            return rest[end] == '>' && (!marker || rest[end - 1] == ']') ? end + 1 : 0;
        }
    }
    return 0;
}

int readInput(void* context, char* buffer, int length) {
    auto& input = *static_cast<Input*>(context);
    // The parser keeps a start tag's attributes, a name and a value each, in one array that it
    // doubles as a tag needs: its size tells how many one tag has had.
    if (input.context->maxatts > input.maxAttributeSlots) {
        input.tooManyAttributes = true;
        return -1;
    }
    const qsizetype wanted = std::min(qsizetype(length), kChunkBytes);
    qsizetype count = 0;
    // Each turn skips a tag or takes the bytes up to the next '<' (at least one byte).
    while (count < wanted && input.offset < input.data.size()) {
        if (const qsizetype skipped = skippedTagAt(input.data, input.offset); skipped > 0) {
            input.offset += skipped;
            continue;
        }
        const QByteArrayView rest =
            input.data.sliced(input.offset, std::min(input.data.size() - input.offset, wanted - count));
        const qsizetype tag = rest.sliced(1).indexOf('<');
        const qsizetype taken = tag < 0 ? rest.size() : tag + 1;
        std::memcpy(buffer + count, rest.data(), size_t(taken));
        std::replace(buffer + count, buffer + count + taken, '\0', ' ');
        count += taken;
        input.offset += taken;
    }
    return int(count);
}

int closeInput(void*) {
    return 0;
}

QString textOf(const xmlChar* text) {
    return QString::fromUtf8(reinterpret_cast<const char*>(text));
}

// The value of an attribute of the element; the parser has already read its references.
QString attributeValue(xmlAttrPtr attribute) {
    const xmlNode* child = attribute->children;
    if (child != nullptr && child->next == nullptr && child->type == XML_TEXT_NODE) {
        return textOf(child->content);
    }
    xmlChar* value = xmlNodeGetContent(reinterpret_cast<xmlNodePtr>(attribute));
    QString result = value != nullptr ? textOf(value) : QString();
    xmlFree(value);
    return result;
}

bool isHtmlSpace(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f';
}

std::optional<double> number(QStringView text) {
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    return ok && std::isfinite(value) ? std::optional(value) : std::nullopt;
}

// A CSS colour: a name, #rgb, #rrggbb or rgb()/rgba(); nullopt for anything else and for a
// transparent one.
std::optional<Color> cssColor(QStringView text) {
    text = text.trimmed();
    if (text.size() > 64) {
        return std::nullopt;
    }
    QColor color;
    if (text.startsWith(u"rgb", Qt::CaseInsensitive)) {
        const qsizetype open = text.indexOf(u'(');
        const qsizetype close = text.lastIndexOf(u')');
        if (open < 0 || close < open) {
            return std::nullopt;
        }
        std::array<double, 4> parts{0, 0, 0, 1};
        size_t count = 0;
        for (QStringView part : text.mid(open + 1, close - open - 1).split(u',')) {
            part = part.trimmed();
            const bool percent = part.endsWith(u'%');
            const auto value = number(percent ? part.chopped(1) : part);
            if (!value || count == parts.size()) {
                return std::nullopt;
            }
            parts[count] = percent ? *value / 100 : count < 3 ? *value / 255 : *value;
            ++count;
        }
        if (count < 3) {
            return std::nullopt;
        }
        color =
            QColor::fromRgbF(float(std::clamp(parts[0], 0.0, 1.0)), float(std::clamp(parts[1], 0.0, 1.0)),
                             float(std::clamp(parts[2], 0.0, 1.0)), float(std::clamp(parts[3], 0.0, 1.0)));
    } else {
        color = QColor(text.toString());
    }
    if (!color.isValid() || color.alpha() == 0) {
        return std::nullopt;
    }
    color.setAlpha(255);
    return Color::fromQColor(color);
}

// A CSS font size in points, relative ones to `parent`.
std::optional<double> cssFontSize(QStringView text, double parent) {
    text = text.trimmed();
    static const std::pair<QStringView, double> keywords[] = {
        {u"xx-small", 7}, {u"x-small", 7.5}, {u"small", 10},    {u"medium", 12},
        {u"large", 13.5}, {u"x-large", 18},  {u"xx-large", 24}, {u"xxx-large", 36}};
    for (const auto& [keyword, size] : keywords) {
        if (text.compare(keyword, Qt::CaseInsensitive) == 0) {
            return size;
        }
    }
    if (text.compare(u"smaller", Qt::CaseInsensitive) == 0) {
        return parent / 1.2;
    }
    if (text.compare(u"larger", Qt::CaseInsensitive) == 0) {
        return parent * 1.2;
    }
    static const std::pair<QStringView, double> units[] = {
        {u"pt", 1},  {u"px", 0.75}, {u"rem", 12},       {u"em", 0},        {u"%", 0},
        {u"pc", 12}, {u"in", 72},   {u"cm", 72 / 2.54}, {u"mm", 72 / 25.4}};
    for (const auto& [unit, factor] : units) {
        if (text.endsWith(unit, Qt::CaseInsensitive)) {
            const auto value = number(text.chopped(unit.size()));
            if (!value) {
                return std::nullopt;
            }
            const double scale = unit == u"em" ? parent : unit == u"%" ? parent / 100 : factor;
            return *value * scale;
        }
    }
    return number(text); // a bare number reads as pixels in quirks, points here
}

// The size of <font size="...">: 1 to 7, or relative to 3.
std::optional<double> fontElementSize(QStringView text) {
    static const double sizes[] = {7.5, 10, 12, 13.5, 18, 24, 36};
    text = text.trimmed();
    const bool relative = text.startsWith(u'+') || text.startsWith(u'-');
    const auto value = number(text);
    if (!value) {
        return std::nullopt;
    }
    // Clamped as a double: a huge value does not fit an int.
    const double step = std::clamp(relative ? 3 + *value : *value, 1.0, 7.0);
    return sizes[int(step) - 1];
}

std::optional<ParagraphAlignment> alignment(QStringView text) {
    text = text.trimmed();
    const auto is = [&](QStringView name) { return text.compare(name, Qt::CaseInsensitive) == 0; };
    if (is(u"left") || is(u"start")) {
        return ParagraphAlignment::left;
    }
    if (is(u"right") || is(u"end")) {
        return ParagraphAlignment::right;
    }
    if (is(u"center") || is(u"middle") || is(u"-webkit-center")) {
        return ParagraphAlignment::center;
    }
    if (is(u"justify")) {
        return ParagraphAlignment::justified;
    }
    return std::nullopt;
}

struct Style {
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool preformatted = false;
    bool hidden = false;
    std::optional<Color> color;
    std::optional<double> size;
    QString family;
    std::optional<ParagraphAlignment> alignment;

    Attributes attributes() const {
        Attributes result;
        result.font = Font{family, std::clamp(size.value_or(12.0), 1.0, 1000.0), bold, italic};
        result.foregroundColor = color;
        if (underline) {
            result.underlineStyle = UnderlineStyle::single;
        }
        if (alignment) {
            ParagraphStyle paragraph;
            paragraph.alignment = *alignment;
            result.paragraphStyle = paragraph;
        }
        return result;
    }
};

// One declaration of an inline style attribute applied to `style`.
void applyDeclaration(QStringView property, QStringView value, Style& style, double parentSize) {
    const auto is = [&](QStringView name) { return property.compare(name, Qt::CaseInsensitive) == 0; };
    const auto valueIs = [&](QStringView name) { return value.compare(name, Qt::CaseInsensitive) == 0; };
    if (is(u"font-weight")) {
        const auto weight = number(value);
        style.bold = weight ? *weight >= 600
                            : (valueIs(u"bold") || valueIs(u"bolder")      ? true
                               : valueIs(u"normal") || valueIs(u"lighter") ? false
                                                                           : style.bold);
    } else if (is(u"font-style")) {
        style.italic = valueIs(u"italic") || value.startsWith(u"oblique", Qt::CaseInsensitive) ||
                       (!valueIs(u"normal") && style.italic);
    } else if (is(u"text-decoration") || is(u"text-decoration-line")) {
        if (value.contains(u"underline", Qt::CaseInsensitive)) {
            style.underline = true;
        } else if (value.contains(u"none", Qt::CaseInsensitive)) {
            style.underline = false;
        }
    } else if (is(u"color")) {
        if (const auto color = cssColor(value)) {
            style.color = color;
        }
    } else if (is(u"font-size")) {
        if (const auto size = cssFontSize(value, parentSize); size && *size > 0 && std::isfinite(*size)) {
            style.size = std::min(*size, 1000.0);
        }
    } else if (is(u"font-family")) {
        QStringView first = value.left(value.indexOf(u',')).trimmed();
        if (first.size() >= 2 && (first.front() == u'"' || first.front() == u'\'') &&
            first.back() == first.front()) {
            first = first.mid(1, first.size() - 2).trimmed();
        }
        if (!first.isEmpty() && first.size() <= 256) {
            style.family = first.toString();
        }
    } else if (is(u"text-align")) {
        if (const auto aligned = alignment(value)) {
            style.alignment = aligned;
        }
    } else if (is(u"white-space")) {
        style.preformatted = valueIs(u"pre") || valueIs(u"pre-wrap") || valueIs(u"break-spaces");
    } else if (is(u"display")) {
        style.hidden = style.hidden || valueIs(u"none");
    }
}

void applyInlineStyle(QStringView css, Style& style, double parentSize) {
    for (QStringView declaration : css.tokenize(u';')) {
        const qsizetype colon = declaration.indexOf(u':');
        if (colon < 0) {
            continue;
        }
        QStringView value = declaration.mid(colon + 1).trimmed();
        if (const qsizetype important = value.indexOf(u'!'); important >= 0) {
            value = value.left(important).trimmed();
        }
        applyDeclaration(declaration.left(colon).trimmed(), value, style, parentSize);
    }
}

// The script's text as the walk over the tree gives it: breaks, tabs and spaces wait until the
// next character shows that they separate something. A table row is one paragraph, a tab between
// its cells, whatever the cells hold: the blocks and line breaks inside a cell (a word processor
// writes a paragraph in each) break its lines with line separators, none before its first
// character or after its last.
class TextWriter {
public:
    // The start or end of a block: a paragraph ends there, if one has begun. Line breaks just
    // before it end the paragraph (the first) or stand for empty lines (the others).
    void blockBoundary() {
        if (!cells_.empty()) {
            // The first line break ends the line as the block would; each further one an empty line.
            if (cells_.back().begun) {
                cellLines_ = std::max(cellLines_ + pendingLineBreaks_, 1);
            }
            pendingLineBreaks_ = 0;
            pendingSpace_ = false;
            return;
        }
        if (pendingLineBreaks_ > 0) {
            const int extra = pendingLineBreaks_ - 1;
            pendingLineBreaks_ = 0;
            flushParagraphBreak();
            for (int i = 0; i < extra; ++i) {
                put(QChar::LineSeparator);
            }
            paragraphBegun_ = true;
        }
        if (paragraphBegun_) {
            pendingParagraphBreak_ = true;
        }
        pendingSpace_ = false;
        pendingTabs_ = 0;
    }
    void lineBreak() {
        if (cells_.empty() || cells_.back().begun) {
            ++pendingLineBreaks_;
        }
    }
    void preformattedStart() { dropNewline_ = true; }
    void object() {
        startCharacter();
        spaceAllowed_ = true;
    }
    void cellStart() {
        if (rowCells_.back()++ > 0) {
            ++pendingTabs_;
        }
        cells_.push_back(Cell{});
    }
    void cellEnd() {
        const bool begun = cells_.back().begun;
        cells_.pop_back();
        if (begun) {
            cellLines_ = 0;
            pendingLineBreaks_ = 0;
            if (!cells_.empty()) {
                cells_.back().begun = true;
            }
        }
    }
    // A row inside a cell (a nested table) is a line of that cell.
    void rowStart() {
        blockBoundary();
        rowCells_.push_back(0);
    }
    void rowEnd() {
        blockBoundary();
        if (rowCells_.size() > 1) {
            rowCells_.pop_back();
        }
    }

    void text(QStringView characters, const Attributes& attributes, bool preformatted) {
        // What waits from before this text (a break, a tab, a space) keeps the look of the text
        // before it, as in a browser: the space before a link is not underlined, nor the tab
        // before a cell that holds one. A space that stood in this text takes its look.
        bool inLook = attributes == bufferAttributes_;
        const auto takeLook = [&] {
            if (!std::exchange(inLook, true)) {
                flushBuffer();
                bufferAttributes_ = attributes;
            }
        };
        if (text_.isEmpty() && buffer_.isEmpty()) {
            takeLook();
        }
        bool spaceHere = false;
        for (qsizetype at = 0; at < characters.size(); ++at) {
            const QChar c = characters[at];
            if (preformatted && (c == u'\r' || c == u'\n')) {
                if (c == u'\r' && at + 1 < characters.size() && characters[at + 1] == u'\n') {
                    ++at;
                }
                // A line's end waits like a block's: the last one before the element's end makes
                // no empty line, and the one right after its start tag none at all.
                if (!std::exchange(dropNewline_, false)) {
                    startCharacter();
                    if (cells_.empty()) {
                        pendingParagraphBreak_ = true;
                    } else if (cells_.back().begun) {
                        cellLines_ = 1;
                    }
                }
            } else if (!preformatted && isHtmlSpace(c)) {
                spaceHere = spaceHere || !pendingSpace_;
                pendingSpace_ = true;
            } else {
                const bool space = std::exchange(pendingSpace_, false);
                flushPending();
                if (space && spaceAllowed_) {
                    if (spaceHere) {
                        takeLook();
                    }
                    put(u' ');
                }
                takeLook();
                put(c);
            }
        }
    }

    AttributedString finish() {
        flushBuffer();
        return std::move(text_);
    }

private:
    void put(QChar c) {
        dropNewline_ = false;
        buffer_ += c;
        paragraphBegun_ = true;
        if (!cells_.empty()) {
            cells_.back().begun = true;
        }
        spaceAllowed_ = c != QChar::LineSeparator && c != u'\t' && c != u'\n';
    }
    void flushParagraphBreak() {
        if (std::exchange(pendingParagraphBreak_, false)) {
            put(u'\n');
            paragraphBegun_ = false;
        }
    }
    // What waits before a character: the paragraph break, line breaks, tabs and a space.
    void startCharacter() {
        const bool space = std::exchange(pendingSpace_, false);
        flushPending();
        if (space && spaceAllowed_) {
            put(u' ');
        }
    }
    void flushPending() {
        flushParagraphBreak();
        for (; cellLines_ > 0; --cellLines_) {
            put(QChar::LineSeparator);
        }
        for (; pendingLineBreaks_ > 0; --pendingLineBreaks_) {
            put(QChar::LineSeparator);
        }
        for (; pendingTabs_ > 0; --pendingTabs_) {
            put(u'\t');
        }
    }
    void flushBuffer() {
        if (!buffer_.isEmpty()) {
            text_.append(buffer_, bufferAttributes_);
            buffer_.clear();
        }
    }

    AttributedString text_;
    QString buffer_;
    Attributes bufferAttributes_;
    bool paragraphBegun_ = false;
    bool pendingParagraphBreak_ = false;
    bool pendingSpace_ = false;
    bool spaceAllowed_ = false;
    int pendingLineBreaks_ = 0;
    int pendingTabs_ = 0;
    // The cells of each row open, the first for cells outside any row.
    std::vector<int> rowCells_ = {0};
    struct Cell {
        bool begun = false; // a character of the cell has been written
    };
    std::vector<Cell> cells_;  // the cells open, the innermost last
    int cellLines_ = 0;        // line separators owed in a cell before its next character
    bool dropNewline_ = false; // the next line end in preformatted text is dropped
};

bool isNamed(xmlNodePtr node, std::string_view name) {
    return node->type == XML_ELEMENT_NODE && nameOf(node) == name;
}

// Whether the document is Qt's own rich text (its head says so), whose paragraphs keep their
// white space by a rule of its style sheet.
bool isQtRichText(xmlDocPtr document) {
    const xmlNodePtr root = xmlDocGetRootElement(document);
    for (xmlNodePtr head = root != nullptr ? root->children : nullptr; head != nullptr; head = head->next) {
        for (xmlNodePtr meta = isNamed(head, "head") ? head->children : nullptr; meta != nullptr;
             meta = meta->next) {
            xmlChar* name =
                isNamed(meta, "meta") ? xmlGetProp(meta, reinterpret_cast<const xmlChar*>("name")) : nullptr;
            const bool qt =
                name != nullptr && xmlStrEqual(name, reinterpret_cast<const xmlChar*>("qrichtext"));
            xmlFree(name);
            if (qt) {
                return true;
            }
        }
    }
    return false;
}

// A walk over the parser's tree without recursion, with a style for each element open.
class TreeWalk {
public:
    explicit TreeWalk(const HtmlReadBounds& bounds)
        : bounds_(bounds) {
        styles_.push_back(Style{});
        attributes_.push_back(styles_.back().attributes());
    }

    void walk(xmlDocPtr document) {
        qtRichText_ = isQtRichText(document);
        for (xmlNodePtr node = document->children; node != nullptr;) {
            ++visited_;
            if (visit(node)) {
                node = node->children;
                continue;
            }
            while (node != nullptr && node->next == nullptr) {
                node = node->parent;
                if (node == nullptr || node->type != XML_ELEMENT_NODE) {
                    node = nullptr;
                } else {
                    leave(node);
                }
            }
            if (node != nullptr) {
                node = node->next;
            }
        }
    }

    AttributedString finish() { return writer_.finish(); }
    qint64 visited() const { return visited_; }

private:
    // True when the walk goes on into the node's children.
    bool visit(xmlNodePtr node) {
        if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
            if (!styles_.back().hidden && node->content != nullptr) {
                writer_.text(textOf(node->content), attributes_.back(), styles_.back().preformatted);
            }
            return false;
        }
        if (node->type != XML_ELEMENT_NODE) {
            return false;
        }
        enter(node);
        if (styles_.back().hidden || node->children == nullptr) {
            leave(node);
            return false;
        }
        return true;
    }

    void enter(xmlNodePtr node) {
        const std::string_view name = nameOf(node);
        const unsigned traits = traitsOf(name);
        Style style = styles_.back();
        style.hidden = style.hidden || (traits & hidden) != 0;
        if (traits & pre) {
            style.preformatted = true;
        }
        // Deeper than a page nests, an element adds no formatting: its text takes its parent's.
        if (int(styles_.size()) <= bounds_.maxStyledDepth) {
            style.bold = style.bold || (traits & bold) != 0;
            style.italic = style.italic || (traits & italic) != 0;
            style.underline = style.underline || (traits & underline) != 0;
            if (traits & centered) {
                style.alignment = ParagraphAlignment::center;
            }
            if (const double size = headingSize(name); size > 0) {
                style.size = size;
            }
            if (qtRichText_ && (name == "p" || name == "li")) {
                style.preformatted = true; // Qt's own HTML says "white-space: pre-wrap" in its style sheet
            }
            applyAttributes(node, traits, style);
        }
        if (!style.hidden) {
            if (traits & block) {
                writer_.blockBoundary();
                if (traits & pre) {
                    writer_.preformattedStart();
                }
            } else if (traits & row) {
                writer_.rowStart();
            } else if (traits & cell) {
                writer_.cellStart();
            } else if (traits & lineBreak) {
                writer_.lineBreak();
            } else if (traits & object) {
                writer_.object();
            }
        }
        const bool sameLook = style.bold == styles_.back().bold && style.italic == styles_.back().italic &&
                              style.underline == styles_.back().underline &&
                              style.color == styles_.back().color && style.size == styles_.back().size &&
                              style.family == styles_.back().family &&
                              style.alignment == styles_.back().alignment;
        attributes_.push_back(sameLook ? attributes_.back() : style.attributes());
        styles_.push_back(std::move(style));
    }

    void leave(xmlNodePtr node) {
        const unsigned traits = traitsOf(nameOf(node));
        if (!styles_.back().hidden) {
            if (traits & block) {
                writer_.blockBoundary();
            } else if (traits & row) {
                writer_.rowEnd();
            } else if (traits & cell) {
                writer_.cellEnd();
            }
        }
        styles_.pop_back();
        attributes_.pop_back();
    }

    void applyAttributes(xmlNodePtr node, unsigned traits, Style& style) {
        const double parentSize = styles_.back().size.value_or(12.0);
        const auto named = [](xmlAttrPtr attribute, const char* name) {
            return xmlStrcasecmp(attribute->name, reinterpret_cast<const xmlChar*>(name)) == 0;
        };
        const bool isFont = isNamed(node, "font");
        const bool isLink = isNamed(node, "a");
        QString css;
        for (xmlAttrPtr attribute = node->properties; attribute != nullptr; attribute = attribute->next) {
            if (named(attribute, "style")) {
                css = attributeValue(attribute);
            } else if (isLink && named(attribute, "href")) {
                style.underline = true; // as every reader shows a link; an inline style may say otherwise
            } else if (named(attribute, "hidden")) {
                style.hidden = true;
            } else if (named(attribute, "align") && (traits & (block | cell | row))) {
                if (const auto aligned = alignment(attributeValue(attribute))) {
                    style.alignment = aligned;
                }
            } else if (isFont && named(attribute, "color")) {
                if (const auto color = cssColor(attributeValue(attribute))) {
                    style.color = color;
                }
            } else if (isFont && named(attribute, "face")) {
                applyDeclaration(u"font-family", attributeValue(attribute), style, parentSize);
            } else if (isFont && named(attribute, "size")) {
                if (const auto size = fontElementSize(attributeValue(attribute))) {
                    style.size = size;
                }
            }
        }
        applyInlineStyle(css, style, parentSize);
    }

    const HtmlReadBounds bounds_;
    std::vector<Style> styles_;
    std::vector<Attributes> attributes_;
    TextWriter writer_;
    qint64 visited_ = 0;
    bool qtRichText_ = false;
};

} // namespace

HtmlReading readHtml(QByteArrayView utf8, const HtmlReadBounds& bounds) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { xmlInitParser(); });
    HtmlReading reading;
    htmlParserCtxtPtr context = htmlNewParserCtxt();
    if (context == nullptr) {
        return reading;
    }
    Input input{utf8, 0, context, 4 * std::max(bounds.maxAttributes, 1)};
    // No network, no error output, no encoding but UTF-8 whatever a <meta> says, and the
    // parser's own depth limit (HTML_PARSE_HUGE would lift it).
    const int options = HTML_PARSE_NONET | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_IGNORE_ENC;
    const htmlDocPtr document =
        htmlCtxtReadIO(context, readInput, closeInput, &input, nullptr, "UTF-8", options);
    reading.bytesRead = input.offset;
    if (input.tooManyAttributes) {
        reading.end = HtmlReading::End::tooManyAttributes;
    } else if (input.offset < utf8.size() || context->disableSAX != 0) {
        // Past its depth the parser halts (and stops calling back), though it may have taken in
        // all of a short input already.
        reading.end = HtmlReading::End::tooDeep;
    }
    if (document != nullptr) {
        TreeWalk walk(bounds);
        walk.walk(document);
        reading.text = walk.finish();
        reading.nodesVisited = walk.visited();
        xmlFreeDoc(document);
    }
    htmlFreeParserCtxt(context);
    return reading;
}

} // namespace platform
