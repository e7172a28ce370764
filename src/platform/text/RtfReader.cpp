#include "platform/text/RtfReader.h"

#include "platform/text/Bullets.h"
#include "platform/text/CodePage.h"

#include <algorithm>
#include <climits>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace platform {

namespace {

// Group states kept apart; a change of state in a group nested past them is dropped, its text kept.
constexpr std::size_t kMaxStates = 512;
constexpr int kMaxUnicodeSkip = 16;

enum class Dest : unsigned char {
    text,
    fontTable,
    colorTable,
    expandedColorTable,
    background,
    shapeName,
    shapeValue,
};

enum class Word : unsigned char {
    rtf,
    ansi,
    mac,
    pc,
    pca,
    ansicpg,
    deff,
    uc,
    u,
    fonttbl,
    colortbl,
    expandedcolortbl,
    skipDest,
    background,
    sn,
    sv,
    fldinst,
    fldrslt,
    bin,
    f,
    fcharset,
    cpg,
    fs,
    b,
    i,
    ul,
    ulnone,
    uld,
    uldb,
    ulth,
    ulw,
    uldash,
    uldashd,
    uldashdd,
    ulwave,
    ulc,
    cf,
    cb,
    highlight,
    plain,
    v,
    pard,
    par,
    line,
    tab,
    page,
    ql,
    qc,
    qr,
    qj,
    qnatural,
    li,
    ri,
    fi,
    sb,
    sa,
    sl,
    slmult,
    slleading,
    rtlpar,
    ltrpar,
    red,
    green,
    blue,
    cssrgb,
    csgenericrgb,
    csdevicergb,
    csgenericgray,
    c,
    emdash,
    endash,
    bullet,
    lquote,
    rquote,
    ldblquote,
    rdblquote,
    emspace,
    enspace,
    qmspace,
    zwj,
    zwnj,
    ltrmark,
    rtlmark,
    cell,
    row,
    nestrow,
    nesttableprops,
    intbl,
    listtext,
};

const std::unordered_map<std::string_view, Word>& words() {
    static const std::unordered_map<std::string_view, Word> table = {
        {"rtf", Word::rtf},
        {"ansi", Word::ansi},
        {"mac", Word::mac},
        {"pc", Word::pc},
        {"pca", Word::pca},
        {"ansicpg", Word::ansicpg},
        {"deff", Word::deff},
        {"uc", Word::uc},
        {"u", Word::u},
        {"fonttbl", Word::fonttbl},
        {"colortbl", Word::colortbl},
        {"expandedcolortbl", Word::expandedcolortbl},
        {"stylesheet", Word::skipDest},
        {"info", Word::skipDest},
        {"pict", Word::skipDest},
        {"header", Word::skipDest},
        {"headerl", Word::skipDest},
        {"headerr", Word::skipDest},
        {"headerf", Word::skipDest},
        {"footer", Word::skipDest},
        {"footerl", Word::skipDest},
        {"footerr", Word::skipDest},
        {"footerf", Word::skipDest},
        {"footnote", Word::skipDest},
        {"filetbl", Word::skipDest},
        {"revtbl", Word::skipDest},
        {"listtable", Word::skipDest},
        {"listoverridetable", Word::skipDest},
        {"rsidtbl", Word::skipDest},
        {"xmlnstbl", Word::skipDest},
        {"themedata", Word::skipDest},
        {"colorschememapping", Word::skipDest},
        {"latentstyles", Word::skipDest},
        {"datastore", Word::skipDest},
        {"generator", Word::skipDest},
        {"pn", Word::skipDest},
        {"nonshppict", Word::skipDest},
        {"shp", Word::skipDest},
        {"shppict", Word::skipDest},
        {"objdata", Word::skipDest},
        {"objclass", Word::skipDest},
        {"objname", Word::skipDest},
        {"private", Word::skipDest},
        {"template", Word::skipDest},
        {"docvar", Word::skipDest},
        {"background", Word::background},
        {"sn", Word::sn},
        {"sv", Word::sv},
        {"fldinst", Word::fldinst},
        {"fldrslt", Word::fldrslt},
        {"bin", Word::bin},
        {"f", Word::f},
        {"fcharset", Word::fcharset},
        {"cpg", Word::cpg},
        {"fs", Word::fs},
        {"b", Word::b},
        {"i", Word::i},
        {"ul", Word::ul},
        {"ulnone", Word::ulnone},
        {"uld", Word::uld},
        {"uldb", Word::uldb},
        {"ulth", Word::ulth},
        {"ulw", Word::ulw},
        {"uldash", Word::uldash},
        {"uldashd", Word::uldashd},
        {"uldashdd", Word::uldashdd},
        {"ulwave", Word::ulwave},
        {"ulc", Word::ulc},
        {"cf", Word::cf},
        {"cb", Word::cb},
        {"highlight", Word::highlight},
        {"chcbpat", Word::cb},
        {"plain", Word::plain},
        {"v", Word::v},
        {"pard", Word::pard},
        {"par", Word::par},
        {"line", Word::line},
        {"tab", Word::tab},
        {"page", Word::page},
        {"sect", Word::page},
        {"ql", Word::ql},
        {"qc", Word::qc},
        {"qr", Word::qr},
        {"qj", Word::qj},
        {"qnatural", Word::qnatural},
        {"li", Word::li},
        {"ri", Word::ri},
        {"fi", Word::fi},
        {"sb", Word::sb},
        {"sa", Word::sa},
        {"sl", Word::sl},
        {"slmult", Word::slmult},
        {"slleading", Word::slleading},
        {"rtlpar", Word::rtlpar},
        {"ltrpar", Word::ltrpar},
        {"red", Word::red},
        {"green", Word::green},
        {"blue", Word::blue},
        {"cssrgb", Word::cssrgb},
        {"csgenericrgb", Word::csgenericrgb},
        {"csdevicergb", Word::csdevicergb},
        {"csgenericgray", Word::csgenericgray},
        {"c", Word::c},
        {"emdash", Word::emdash},
        {"endash", Word::endash},
        {"bullet", Word::bullet},
        {"lquote", Word::lquote},
        {"rquote", Word::rquote},
        {"ldblquote", Word::ldblquote},
        {"rdblquote", Word::rdblquote},
        {"emspace", Word::emspace},
        {"enspace", Word::enspace},
        {"qmspace", Word::qmspace},
        {"zwj", Word::zwj},
        {"zwnj", Word::zwnj},
        {"ltrmark", Word::ltrmark},
        {"rtlmark", Word::rtlmark},
        {"cell", Word::cell},
        {"nestcell", Word::cell},
        {"row", Word::row},
        {"nestrow", Word::nestrow},
        // Where a table in a cell ends its rows; what follows for other readers is skipped.
        {"nesttableprops", Word::nesttableprops},
        {"nonesttables", Word::skipDest},
        {"intbl", Word::intbl},
        {"listtext", Word::listtext},
        {"pntext", Word::listtext},
    };
    return table;
}

struct CharState {
    int font = -1; // \f number; -1: the document's default font
    int halfPoints = 24;
    bool bold = false;
    bool italic = false;
    bool hidden = false;
    int underline = UnderlineStyle::none;
    int foreground = 0; // colour-table indices; 0: none
    int background = 0;
    int underlineColor = 0;
    friend bool operator==(const CharState&, const CharState&) = default;
};

struct ParaState {
    ParagraphStyle style;
    int lineSpacingTwips = 0;
    bool lineSpacingMultiple = false;
    int firstIndentTwips = 0; // relative to the head indent, as RTF has it
    bool inTable = false;
    friend bool operator==(const ParaState&, const ParaState&) = default;
};

struct Group {
    CharState chars;
    ParaState para;
    Dest dest = Dest::text;
    int unicodeSkip = 1;
    // Inside a list paragraph's label as its writer numbered it.
    bool label = false;
    // Groups opened inside this one that changed nothing yet share its entry, so that nesting
    // costs no memory and has no limit.
    std::size_t sharedBy = 0;
};

struct FontEntry {
    QString name;
    int codePage = 0;
    bool symbol = false; // its characters are pictures (Symbol, Wingdings), not letters
};

struct ColorEntry {
    Color::Space space = Color::Space::sRGB;
    int components[4] = {0, 0, 0, Color::kScale};
    int count = 0;
};

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
int hexValue(char c) {
    if (isDigit(c)) {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

class Reader {
public:
    // `data` starts at the document's opening brace.
    explicit Reader(QByteArrayView data)
        : p_(data.data())
        , end_(data.data() + data.size()) {}

    AttributedString read(RtfDocumentAttributes* documentAttributes) {
        stack_.reserve(64);
        stack_.push_back(Group{}); // outside every group
        while (p_ < end_) {
            const char c = *p_;
            if (skipping_) {
                skipGroup();
                continue;
            }
            switch (c) {
            case '{':
                ++p_;
                openGroup();
                break;
            case '}':
                ++p_;
                closeGroup();
                break;
            case '\\':
                control();
                break;
            case '\r':
            case '\n':
                ++p_;
                break;
            default:
                plainBytes();
                break;
            }
        }
        flushBytes();
        flushText();
        if (documentAttributes) {
            documentAttributes->backgroundColor = documentBackground_;
            // A closed document's group leaves only the outermost level open.
            documentAttributes->endedEarly = !outsideEveryGroup();
        }
        return std::move(out_);
    }

private:
    const Group& top() const { return stack_.back(); }

    // The innermost group's state, to be changed: its own entry, split off one it shares. Past
    // kMaxStates entries the change goes to a scratch copy and is lost.
    Group& own() {
        Group& shared = stack_.back();
        if (shared.sharedBy == 0) {
            return shared;
        }
        Group copy = shared;
        copy.sharedBy = 0;
        if (stack_.size() >= kMaxStates) {
            scratch_ = copy;
            return scratch_;
        }
        --shared.sharedBy;
        stack_.push_back(copy);
        return stack_.back();
    }

    bool outsideEveryGroup() const { return stack_.size() == 1 && stack_.back().sharedBy == 0; }

    // ---- groups

    void openGroup() {
        flushBytes();
        pendingSkip_ = 0;
        ++stack_.back().sharedBy;
    }

    // Leaves the innermost group; returns the state it had.
    Group popGroup() {
        Group& innermost = stack_.back();
        if (innermost.sharedBy > 0) {
            --innermost.sharedBy;
            return innermost;
        }
        Group closed = innermost;
        stack_.pop_back();
        return closed;
    }

    void closeGroup() {
        flushBytes();
        pendingSkip_ = 0;
        if (outsideEveryGroup()) {
            return; // unbalanced '}': ignore
        }
        const Group closed = popGroup();
        if (outsideEveryGroup()) {
            p_ = end_; // the document's group has closed: ignore what follows
        }
        if (closed.dest == Dest::shapeValue && top().dest != Dest::shapeValue) {
            endShapeValue();
        }
        if (closed.dest == Dest::fontTable && top().dest != Dest::fontTable) {
            endFontEntry();
        }
        if (!(closed.chars == top().chars) || !(closed.para == top().para)) {
            attributesDirty_ = true;
        }
    }

    // In a skipped destination: find the brace that closes it without keeping any state.
    void skipGroup() {
        int depth = 0;
        while (p_ < end_) {
            const char c = *p_++;
            if (c == '{') {
                ++depth;
            } else if (c == '}') {
                if (depth == 0) {
                    --p_;
                    skipping_ = false;
                    closeGroupAfterSkip();
                    return;
                }
                --depth;
            } else if (c == '\\' && p_ < end_) {
                if (isLetter(*p_)) {
                    std::string_view name;
                    long param = 0;
                    bool hasParam = false;
                    readWord(name, param, hasParam);
                    if (name == "bin" && hasParam && param > 0) {
                        skipBinary(param);
                    }
                } else {
                    ++p_;
                }
            }
        }
    }

    void closeGroupAfterSkip() {
        ++p_; // the '}'
        pendingSkip_ = 0;
        if (!outsideEveryGroup()) {
            popGroup();
            attributesDirty_ = true;
        }
        if (outsideEveryGroup()) {
            p_ = end_; // the document's group has closed
        }
    }

    void skipBinary(long count) { p_ += std::min<long>(count, end_ - p_); }

    // ---- control words and symbols

    // Reads the letters, parameter and delimiter of a control word at p_ (just after '\').
    void readWord(std::string_view& name, long& param, bool& hasParam) {
        const char* start = p_;
        while (p_ < end_ && isLetter(*p_)) {
            ++p_;
        }
        name = std::string_view(start, static_cast<std::size_t>(p_ - start));
        hasParam = false;
        param = 0;
        bool negative = false;
        if (p_ < end_ && *p_ == '-' && p_ + 1 < end_ && isDigit(p_[1])) {
            negative = true;
            ++p_;
        }
        int digits = 0;
        while (p_ < end_ && isDigit(*p_)) {
            if (digits++ < 10) {
                param = param * 10 + (*p_ - '0');
            }
            ++p_;
            hasParam = true;
        }
        // Symmetric, so that handlers may negate any parameter (-INT_MIN overflows).
        param = std::clamp<long>(negative ? -param : param, -INT_MAX, INT_MAX);
        if (p_ < end_ && *p_ == ' ') {
            ++p_;
        }
    }

    void control() {
        ++p_; // the backslash
        if (p_ >= end_) {
            return;
        }
        const char c = *p_;
        if (isLetter(c)) {
            flushBytes();
            std::string_view name;
            long param = 0;
            bool hasParam = false;
            readWord(name, param, hasParam);
            const bool starred = starNext_;
            starNext_ = false;
            if (pendingSkip_ > 0 && name != "bin") {
                --pendingSkip_;
                return;
            }
            word(name, static_cast<int>(param), hasParam, starred);
            return;
        }
        ++p_;
        if (c == '\'') {
            // A malformed escape drops its hex digits rather than showing them as text.
            int value = 0;
            int digits = 0;
            while (digits < 2 && p_ < end_ && hexValue(*p_) >= 0) {
                value = value * 16 + hexValue(*p_++);
                ++digits;
            }
            if (digits < 2) {
                value = -1;
            }
            if (pendingSkip_ > 0) {
                --pendingSkip_;
                return;
            }
            if (value >= 0) {
                byte(static_cast<unsigned char>(value));
            }
            return;
        }
        if (c == '*') {
            starNext_ = true;
            return;
        }
        flushBytes();
        if (pendingSkip_ > 0) {
            --pendingSkip_;
            return;
        }
        switch (c) {
        case '\\':
        case '{':
        case '}':
            character(char16_t(c));
            break;
        case '~':
            character(u'\u00A0');
            break;
        case '-':
            character(u'\u00AD');
            break;
        case '_':
            character(u'\u2011');
            break;
        case '\n':
        case '\r':
            character(u'\n');
            break;
        case '\t':
            character(u'\t');
            break;
        default:
            break; // \: \| and unknown symbols
        }
    }

    void setDest(Dest dest) { own().dest = dest; }
    // The rest of the innermost group is skipped unread.
    void skipDestination() { skipping_ = true; }

    void word(std::string_view name, int param, bool hasParam, bool starred) {
        const auto& table = words();
        const auto it = table.find(name);
        if (it == table.end()) {
            if (starred && top().dest != Dest::background) {
                skipDestination();
            }
            return;
        }
        Group& g = own();
        CharState& ch = g.chars;
        ParaState& para = g.para;
        const bool on = !hasParam || param != 0;
        const Dest dest = g.dest;
        switch (it->second) {
        case Word::rtf:
        case Word::ansi:
            break;
        case Word::mac:
            documentCodePage_ = 10000;
            break;
        case Word::pc:
            documentCodePage_ = 437;
            break;
        case Word::pca:
            documentCodePage_ = 850;
            break;
        case Word::ansicpg:
            documentCodePage_ = param;
            attributesDirty_ = true;
            break;
        case Word::deff:
            defaultFont_ = param;
            break;
        case Word::uc:
            g.unicodeSkip = std::clamp(param, 0, kMaxUnicodeSkip);
            break;
        case Word::u:
            if (!hasParam) {
                break;
            }
            character(char16_t(param < 0 ? param + 65536 : param));
            pendingSkip_ = g.unicodeSkip;
            break;
        case Word::fonttbl:
            setDest(Dest::fontTable);
            break;
        case Word::colortbl:
            setDest(Dest::colorTable);
            break;
        case Word::expandedcolortbl:
            setDest(Dest::expandedColorTable);
            break;
        case Word::skipDest:
            if (dest != Dest::background) {
                skipDestination();
            }
            break;
        case Word::background:
            setDest(Dest::background);
            break;
        case Word::sn:
            if (dest == Dest::background) {
                setDest(Dest::shapeName);
                shapeName_.clear();
            }
            break;
        case Word::sv:
            if (dest == Dest::background) {
                setDest(Dest::shapeValue);
                shapeValue_.clear();
            }
            break;
        case Word::fldinst:
            skipDestination();
            break;
        case Word::fldrslt:
            setDest(Dest::text);
            break;
        case Word::bin:
            skipBinary(hasParam ? std::max(param, 0) : 0);
            break;
        case Word::f:
            if (dest == Dest::fontTable) {
                endFontEntry();
                fontEntry_ = param;
                fontEntryOpen_ = true;
                fonts_[param];
            } else {
                setChar(ch.font, param);
            }
            break;
        case Word::fcharset:
            if (dest == Dest::fontTable && fontEntryOpen_) {
                fonts_[fontEntry_].codePage = CodePage::forCharset(param);
                fonts_[fontEntry_].symbol = param == 2;
            }
            break;
        case Word::cpg:
            if (dest == Dest::fontTable && fontEntryOpen_) {
                fonts_[fontEntry_].codePage = param;
            }
            break;
        case Word::fs:
            setChar(ch.halfPoints, hasParam && param > 0 ? std::min(param, 32767) : 24);
            break;
        case Word::b:
            setChar(ch.bold, on);
            break;
        case Word::i:
            setChar(ch.italic, on);
            break;
        case Word::v:
            setChar(ch.hidden, on);
            break;
        case Word::ul:
        case Word::ulwave:
            setChar(ch.underline, on ? UnderlineStyle::single : UnderlineStyle::none);
            break;
        case Word::ulnone:
            setChar(ch.underline, UnderlineStyle::none);
            break;
        case Word::uld:
            setChar(ch.underline, on ? UnderlineStyle::single | UnderlineStyle::patternDot : 0);
            break;
        case Word::uldb:
            setChar(ch.underline, on ? UnderlineStyle::doubleLine : 0);
            break;
        case Word::ulth:
            setChar(ch.underline, on ? UnderlineStyle::thick : 0);
            break;
        case Word::ulw:
            setChar(ch.underline, on ? UnderlineStyle::single | UnderlineStyle::byWord : 0);
            break;
        case Word::uldash:
            setChar(ch.underline, on ? UnderlineStyle::single | UnderlineStyle::patternDash : 0);
            break;
        case Word::uldashd:
            setChar(ch.underline, on ? UnderlineStyle::single | UnderlineStyle::patternDashDot : 0);
            break;
        case Word::uldashdd:
            setChar(ch.underline, on ? UnderlineStyle::single | UnderlineStyle::patternDashDotDot : 0);
            break;
        case Word::ulc:
            setChar(ch.underlineColor, std::max(param, 0));
            break;
        case Word::cf:
            setChar(ch.foreground, std::max(param, 0));
            break;
        case Word::cb:
        case Word::highlight:
            setChar(ch.background, std::max(param, 0));
            break;
        case Word::plain:
            setChar(ch, CharState{});
            break;
        case Word::pard:
            setPara(para, ParaState{});
            break;
        case Word::par:
            // A cell's paragraphs are lines of its row's one paragraph.
            character(para.inTable ? u'\u2028' : u'\n');
            break;
        case Word::page:
            character(u'\n');
            break;
        case Word::row:
        case Word::nestrow:
            // Tabs go between cells: none after the last. A table in a cell has its rows as lines.
            if (pendingCells_ > 0) {
                --pendingCells_;
            }
            character(it->second == Word::row ? u'\n' : u'\u2028');
            break;
        case Word::nesttableprops:
            break;
        case Word::line:
            character(u'\u2028');
            break;
        case Word::tab:
            character(u'\t');
            break;
        case Word::cell:
            ++pendingCells_;
            break;
        case Word::intbl:
            changePara(para, [&](ParaState& s) { s.inTable = true; });
            break;
        case Word::listtext:
            g.label = true;
            labelStarted_ = false;
            break;
        case Word::ql:
            setAlignment(para, ParagraphAlignment::left);
            break;
        case Word::qc:
            setAlignment(para, ParagraphAlignment::center);
            break;
        case Word::qr:
            setAlignment(para, ParagraphAlignment::right);
            break;
        case Word::qj:
            setAlignment(para, ParagraphAlignment::justified);
            break;
        case Word::qnatural:
            setAlignment(para, ParagraphAlignment::natural);
            break;
        case Word::li:
            changePara(para, [&](ParaState& s) { s.style.headIndent = param / 20.0; });
            break;
        case Word::fi:
            changePara(para, [&](ParaState& s) { s.firstIndentTwips = param; });
            break;
        case Word::ri:
            changePara(para, [&](ParaState& s) { s.style.tailIndent = -param / 20.0; });
            break;
        case Word::sb:
            changePara(para, [&](ParaState& s) { s.style.paragraphSpacingBefore = param / 20.0; });
            break;
        case Word::sa:
            changePara(para, [&](ParaState& s) { s.style.paragraphSpacing = param / 20.0; });
            break;
        case Word::sl:
            changePara(para, [&](ParaState& s) { s.lineSpacingTwips = param; });
            break;
        case Word::slmult:
            changePara(para, [&](ParaState& s) { s.lineSpacingMultiple = on; });
            break;
        case Word::slleading:
            changePara(para, [&](ParaState& s) { s.style.lineSpacing = param / 20.0; });
            break;
        case Word::rtlpar:
            changePara(para,
                       [&](ParaState& s) { s.style.baseWritingDirection = WritingDirection::rightToLeft; });
            break;
        case Word::ltrpar:
            changePara(para,
                       [&](ParaState& s) { s.style.baseWritingDirection = WritingDirection::leftToRight; });
            break;
        case Word::red:
            colorComponent(0, param);
            break;
        case Word::green:
            colorComponent(1, param);
            break;
        case Word::blue:
            colorComponent(2, param);
            break;
        case Word::cssrgb:
            colorEntry_.space = Color::Space::sRGB;
            break;
        case Word::csgenericrgb:
            colorEntry_.space = Color::Space::genericRGB;
            break;
        case Word::csdevicergb:
            colorEntry_.space = Color::Space::deviceRGB;
            break;
        case Word::csgenericgray:
            colorEntry_.space = Color::Space::genericGray;
            break;
        case Word::c:
            if (dest == Dest::expandedColorTable && colorEntry_.count < 4) {
                colorEntry_.components[colorEntry_.count++] = param;
            }
            break;
        case Word::emdash:
            character(u'\u2014');
            break;
        case Word::endash:
            character(u'\u2013');
            break;
        case Word::bullet:
            character(u'\u2022');
            break;
        case Word::lquote:
            character(u'\u2018');
            break;
        case Word::rquote:
            character(u'\u2019');
            break;
        case Word::ldblquote:
            character(u'\u201C');
            break;
        case Word::rdblquote:
            character(u'\u201D');
            break;
        case Word::emspace:
            character(u'\u2003');
            break;
        case Word::enspace:
            character(u'\u2002');
            break;
        case Word::qmspace:
            character(u'\u2005');
            break;
        case Word::zwj:
            character(u'\u200D');
            break;
        case Word::zwnj:
            character(u'\u200C');
            break;
        case Word::ltrmark:
            character(u'\u200E');
            break;
        case Word::rtlmark:
            character(u'\u200F');
            break;
        }
    }

    template <typename T> void setChar(T& field, const T& value) {
        if (top().dest == Dest::fontTable || field == value) {
            return;
        }
        field = value;
        attributesDirty_ = true;
    }
    void setPara(ParaState& para, const ParaState& value) {
        if (para == value) {
            return;
        }
        para = value;
        attributesDirty_ = true;
    }
    template <typename F> void changePara(ParaState& para, F&& change) {
        change(para);
        attributesDirty_ = true;
    }
    void setAlignment(ParaState& para, ParagraphAlignment alignment) {
        changePara(para, [&](ParaState& s) { s.style.alignment = alignment; });
    }

    // ---- tables

    void endFontEntry() {
        if (!fontEntryOpen_) {
            return;
        }
        fontEntryOpen_ = false;
        QString name = fontName_.trimmed();
        fontName_.clear();
        if (!name.isEmpty()) {
            FontEntry& entry = fonts_[fontEntry_];
            entry.name = name;
            entry.symbol =
                entry.symbol || name == u"Symbol" || name.startsWith(u"Wingdings") || name == u"Webdings";
        }
    }

    void colorComponent(int index, int value) {
        if (top().dest != Dest::colorTable) {
            return;
        }
        colorEntry_.components[index] = std::clamp(value, 0, 255) * Color::kScale / 255;
        colorEntry_.count = 3;
    }

    void endColorEntry(std::vector<std::optional<Color>>& table) {
        std::optional<Color> color;
        const ColorEntry& e = colorEntry_;
        if (e.space == Color::Space::genericGray && e.count > 0) {
            const int alpha = e.count > 1 ? e.components[1] : Color::kScale;
            color = Color::fromUnits(e.space, e.components[0], e.components[0], e.components[0], alpha);
        } else if (e.count >= 3) {
            color = Color::fromUnits(e.space, e.components[0], e.components[1], e.components[2],
                                     e.count > 3 ? e.components[3] : Color::kScale);
        }
        if (table.size() < 100000) {
            table.push_back(color);
        }
        colorEntry_ = ColorEntry{};
    }

    void endShapeValue() {
        if (shapeName_.trimmed() != u"fillColor") {
            return;
        }
        bool ok = false;
        const long bgr = shapeValue_.trimmed().toLong(&ok);
        if (ok && bgr >= 0) {
            documentBackground_ =
                Color((bgr & 0xff) / 255.0, ((bgr >> 8) & 0xff) / 255.0, ((bgr >> 16) & 0xff) / 255.0);
        }
    }

    std::optional<Color> color(int index) const {
        if (index <= 0) {
            return std::nullopt;
        }
        const auto i = static_cast<std::size_t>(index);
        if (i < expandedColors_.size() && expandedColors_[i]) {
            return expandedColors_[i];
        }
        return i < colors_.size() ? colors_[i] : std::nullopt;
    }

    // ---- text

    const CodePage& codePage() {
        const int font = top().chars.font >= 0 ? top().chars.font : defaultFont_;
        int number = documentCodePage_;
        if (auto it = fonts_.find(font); it != fonts_.end() && it->second.codePage > 0) {
            number = it->second.codePage;
        }
        if (!codePage_ || codePageRequested_ != number) {
            codePage_ = CodePage::get(number);
            codePageRequested_ = number;
        }
        return *codePage_;
    }

    // Bytes of text (not escapes or control words) in the current destination.
    void plainBytes() {
        if (pendingSkip_ > 0) {
            --pendingSkip_;
            ++p_;
            return;
        }
        if (top().dest != Dest::text || top().chars.hidden || top().label) {
            byte(static_cast<unsigned char>(*p_++));
            return;
        }
        // Fast path: a stretch of printable ASCII goes straight into the run.
        const char* start = p_;
        while (p_ < end_) {
            const auto c = static_cast<unsigned char>(*p_);
            if (c < 0x20 || c >= 0x80 || c == '\\' || c == '{' || c == '}') {
                break;
            }
            ++p_;
        }
        if (p_ > start) {
            if (!pendingBytes_.isEmpty()) {
                pendingBytes_.append(start, p_ - start);
                return;
            }
            prepareText();
            endCell();
            pendingText_.append(QLatin1StringView(start, p_ - start));
            return;
        }
        const auto c = static_cast<unsigned char>(*p_++);
        if (c == '\t') {
            character(u'\t');
        } else if (c >= 0x80) {
            byte(c);
        }
    }

    void byte(unsigned char b) {
        const Dest dest = top().dest;
        if (dest == Dest::background) {
            return;
        }
        if (dest == Dest::colorTable || dest == Dest::expandedColorTable) {
            if (b == ';') {
                endColorEntry(dest == Dest::colorTable ? colors_ : expandedColors_);
            }
            return;
        }
        if (dest == Dest::fontTable && b == ';') {
            endFontEntry();
            return;
        }
        const CodePage& page = codePage();
        if (!page.isSingleByte() && dest == Dest::text) {
            pendingBytes_.append(char(b));
            return;
        }
        character(page.decodeByte(b));
    }

    void flushBytes() {
        if (pendingBytes_.isEmpty()) {
            return;
        }
        const QString decoded = codePage().decode(pendingBytes_);
        pendingBytes_.clear();
        for (QChar c : decoded) {
            character(c.unicode());
        }
    }

    void character(char16_t c) {
        if (c == 0) {
            return;
        }
        switch (top().dest) {
        case Dest::text:
            if (top().chars.hidden || (c < 0x20 && c != u'\t' && c != u'\n')) {
                return; // hidden text; control characters that only \'hh or \u can smuggle in
            }
            if (!pendingBytes_.isEmpty()) {
                flushBytes();
            }
            prepareText();
            endCell();
            if (top().label) {
                labelCharacter(c);
            } else {
                pendingText_.append(QChar(c));
            }
            return;
        case Dest::fontTable:
            if (c == u';') {
                endFontEntry();
            } else if (fontName_.size() < 256) {
                fontName_.append(QChar(c));
            }
            return;
        case Dest::shapeName:
            if (shapeName_.size() < 64) {
                shapeName_.append(QChar(c));
            }
            return;
        case Dest::shapeValue:
            if (shapeValue_.size() < 64) {
                shapeValue_.append(QChar(c));
            }
            return;
        case Dest::colorTable:
        case Dest::expandedColorTable:
            if (c == u';') {
                endColorEntry(top().dest == Dest::colorTable ? colors_ : expandedColors_);
            }
            return;
        case Dest::background:
            return;
        }
    }

    // The tabs of the cells that ended before this text.
    void endCell() {
        for (; pendingCells_ > 0; --pendingCells_) {
            pendingText_.append(QLatin1Char('\t'));
        }
    }

    void labelCharacter(char16_t c) {
        // LibreOffice pads its labels with a space that it does not show.
        if (c == u' ' && !labelStarted_) {
            return;
        }
        labelStarted_ = true;
        // In a symbol font only pictures become bullets: a label's numbers stay numbers.
        const int font = top().chars.font >= 0 ? top().chars.font : defaultFont_;
        const auto it = fonts_.find(font);
        const bool symbol = it != fonts_.end() && it->second.symbol && (c >= 0x80 || isLetter(char(c)));
        pendingText_.append(bulletText(QString(QChar(c)), symbol));
    }

    void prepareText() {
        if (!attributesDirty_) {
            return;
        }
        attributesDirty_ = false;
        Attributes next = currentAttributes();
        if (next == attributes_) {
            return;
        }
        flushText();
        attributes_ = std::move(next);
    }

    void flushText() {
        if (!pendingText_.isEmpty()) {
            out_.append(pendingText_, attributes_);
            pendingText_.clear();
        }
    }

    Attributes currentAttributes() {
        const Group& g = top();
        const CharState& ch = g.chars;
        Attributes a;
        Font font;
        const int index = ch.font >= 0 ? ch.font : defaultFont_;
        auto it = fonts_.find(index);
        font.family =
            it != fonts_.end() && !it->second.name.isEmpty() ? it->second.name : QStringLiteral("Helvetica");
        font.pointSize = ch.halfPoints / 2.0;
        font.bold = ch.bold;
        font.italic = ch.italic;
        a.font = font;
        a.foregroundColor = color(ch.foreground);
        a.backgroundColor = color(ch.background);
        if (ch.underline != UnderlineStyle::none) {
            a.underlineStyle = ch.underline;
            a.underlineColor = color(ch.underlineColor);
        }
        ParagraphStyle style = g.para.style;
        style.firstLineHeadIndent = style.headIndent + g.para.firstIndentTwips / 20.0;
        const int sl = g.para.lineSpacingTwips;
        if (sl != 0) {
            if (g.para.lineSpacingMultiple && sl > 0) {
                style.lineHeightMultiple = sl / 240.0;
            } else if (sl > 0) {
                style.minimumLineHeight = sl / 20.0;
            } else {
                style.minimumLineHeight = style.maximumLineHeight = -sl / 20.0;
            }
        }
        a.paragraphStyle = style;
        return a;
    }

    const char* p_;
    const char* end_;
    std::vector<Group> stack_;
    Group scratch_;
    bool skipping_ = false;
    int pendingSkip_ = 0;
    // Cells ended whose tab waits for text: the row's end drops the last.
    qsizetype pendingCells_ = 0;
    bool labelStarted_ = false;
    bool starNext_ = false;
    bool attributesDirty_ = true;
    int documentCodePage_ = 1252;
    int defaultFont_ = 0;
    int codePageRequested_ = 0;
    std::shared_ptr<const CodePage> codePage_;
    std::unordered_map<int, FontEntry> fonts_;
    int fontEntry_ = 0;
    bool fontEntryOpen_ = false;
    QString fontName_;
    std::vector<std::optional<Color>> colors_;
    std::vector<std::optional<Color>> expandedColors_;
    ColorEntry colorEntry_;
    QString shapeName_;
    QString shapeValue_;
    std::optional<Color> documentBackground_;
    QByteArray pendingBytes_;
    QString pendingText_;
    Attributes attributes_;
    AttributedString out_;
};

// Offset of the "{\rtf" that opens the document, or -1.
qsizetype rtfStart(QByteArrayView data) {
    qsizetype i = 0;
    if (data.startsWith("\xEF\xBB\xBF")) {
        i = 3;
    }
    while (i < data.size() && (data[i] == ' ' || data[i] == '\r' || data[i] == '\n' || data[i] == '\t')) {
        ++i;
    }
    return data.sliced(i).startsWith("{\\rtf") ? i : -1;
}

} // namespace

std::optional<AttributedString> readRtf(QByteArrayView data, RtfDocumentAttributes* documentAttributes) {
    const qsizetype start = rtfStart(data);
    if (start < 0 || data.size() > INT_MAX / 2) {
        return std::nullopt;
    }
    return Reader(data.sliced(start)).read(documentAttributes);
}

} // namespace platform
