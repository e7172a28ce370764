#include "platform/codecs/DocxReader.h"

#include "platform/codecs/CodecError.h"
#include "platform/codecs/ListLabels.h"
#include "platform/codecs/ReadLimits.h"
#include "platform/codecs/ZipPackage.h"

#include <pugixml.hpp>

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>

namespace platform::codecs {

namespace {

constexpr const char* transitionalNamespace = "http://schemas.openxmlformats.org/wordprocessingml/2006/main";
constexpr const char* strictNamespace = "http://purl.oclc.org/ooxml/wordprocessingml/main";
constexpr int maxStyleChain = 64; // basedOn chains longer than this are cut
// Lists and list definitions of one numbering part beyond this many are left out (a long document
// has a few dozen), and so are those whose ids are longer than this: each holds nine levels.
constexpr std::size_t maxLists = 10'000;
constexpr std::size_t maxListId = 32;

// Element names of the WordprocessingML namespace under whatever prefix the part binds it to.
class WordNames {
public:
    explicit WordNames(const pugi::xml_node& root) {
        for (const pugi::xml_attribute& attribute : root.attributes()) {
            const std::string_view name = attribute.name();
            const std::string_view value = attribute.value();
            if (value != transitionalNamespace && value != strictNamespace)
                continue;
            if (name == "xmlns") {
                prefix.clear();
                return;
            }
            if (name.starts_with("xmlns:")) {
                prefix = std::string(name.substr(6)) + ':';
                return;
            }
        }
    }

    bool is(const pugi::xml_node& node, std::string_view local) const {
        const std::string_view name = node.name();
        return name.size() == prefix.size() + local.size() && name.starts_with(prefix) &&
               name.ends_with(local);
    }
    std::string_view local(const pugi::xml_node& node) const {
        const std::string_view name = node.name();
        if (!name.starts_with(prefix))
            return {};
        return name.substr(prefix.size());
    }
    pugi::xml_node child(const pugi::xml_node& node, std::string_view local) const {
        for (const pugi::xml_node& each : node.children())
            if (is(each, local))
                return each;
        return {};
    }
    pugi::xml_attribute attribute(const pugi::xml_node& node, std::string_view local) const {
        for (const pugi::xml_attribute& each : node.attributes()) {
            const std::string_view name = each.name();
            if (name.size() == prefix.size() + local.size() && name.starts_with(prefix) &&
                name.ends_with(local))
                return each;
        }
        return {};
    }
    std::string_view value(const pugi::xml_node& node, std::string_view local) const {
        return attribute(node, local).value();
    }

private:
    std::string prefix = "w:";
};

std::optional<RgbColor> parseHexColor(std::string_view text) {
    if (text.size() != 6)
        return std::nullopt;
    std::array<int, 6> digits{};
    for (std::size_t i = 0; i < 6; ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9')
            digits[i] = c - '0';
        else if (c >= 'a' && c <= 'f')
            digits[i] = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digits[i] = c - 'A' + 10;
        else
            return std::nullopt;
    }
    return RgbColor{static_cast<std::uint8_t>(digits[0] * 16 + digits[1]),
                    static_cast<std::uint8_t>(digits[2] * 16 + digits[3]),
                    static_cast<std::uint8_t>(digits[4] * 16 + digits[5])};
}

std::optional<RgbColor> highlightColor(std::string_view name) {
    static const std::map<std::string_view, RgbColor> table = {
        {"black", {0, 0, 0}},          {"blue", {0, 0, 255}},         {"cyan", {0, 255, 255}},
        {"green", {0, 255, 0}},        {"magenta", {255, 0, 255}},    {"red", {255, 0, 0}},
        {"yellow", {255, 255, 0}},     {"white", {255, 255, 255}},    {"darkBlue", {0, 0, 128}},
        {"darkCyan", {0, 128, 128}},   {"darkGreen", {0, 128, 0}},    {"darkMagenta", {128, 0, 128}},
        {"darkRed", {128, 0, 0}},      {"darkYellow", {128, 128, 0}}, {"darkGray", {128, 128, 128}},
        {"lightGray", {192, 192, 192}}};
    const auto found = table.find(name);
    if (found == table.end())
        return std::nullopt;
    return found->second;
}

// ST_OnOff: an absent value means on.
bool onOff(std::string_view value) {
    return !(value == "0" || value == "false" || value == "off" || value == "none");
}

UnderlineStyle underlineStyle(std::string_view value) {
    if (value.empty() || value == "single" || value == "words")
        return UnderlineStyle::single;
    if (value == "none")
        return UnderlineStyle::none;
    if (value == "double")
        return UnderlineStyle::doubleLine;
    if (value == "thick")
        return UnderlineStyle::thick;
    if (value.starts_with("dotted") || value == "dottedHeavy")
        return UnderlineStyle::dotted;
    if (value.starts_with("dash"))
        return UnderlineStyle::dashed;
    if (value.starts_with("wav"))
        return UnderlineStyle::wavy;
    return UnderlineStyle::single;
}

std::optional<ParagraphAlignment> alignment(std::string_view value) {
    if (value == "left" || value == "start")
        return ParagraphAlignment::left;
    if (value == "center")
        return ParagraphAlignment::center;
    if (value == "right" || value == "end")
        return ParagraphAlignment::right;
    if (value == "both" || value == "distribute" || value.ends_with("Kashida") || value == "thaiDistribute")
        return ParagraphAlignment::justified;
    return std::nullopt;
}

// Run properties as one layer of the inheritance sets them; unset values fall through.
struct RunLayer {
    std::optional<QString> fontFamily;
    std::optional<double> pointSize;
    std::optional<bool> bold;
    std::optional<bool> italic;
    std::optional<UnderlineStyle> underline;
    std::optional<std::optional<RgbColor>> underlineColor;
    std::optional<std::optional<RgbColor>> foreground; // set to none by "auto"
    std::optional<std::optional<RgbColor>> background;

    void over(const RunLayer& top) {
        if (top.fontFamily)
            fontFamily = top.fontFamily;
        if (top.pointSize)
            pointSize = top.pointSize;
        if (top.bold)
            bold = top.bold;
        if (top.italic)
            italic = top.italic;
        if (top.underline)
            underline = top.underline;
        if (top.underlineColor)
            underlineColor = top.underlineColor;
        if (top.foreground)
            foreground = top.foreground;
        if (top.background)
            background = top.background;
    }

    RunStyle style() const {
        RunStyle result;
        result.fontFamily = fontFamily;
        result.pointSize = pointSize;
        result.bold = bold.value_or(false);
        result.italic = italic.value_or(false);
        result.underline = underline.value_or(UnderlineStyle::none);
        if (result.underline != UnderlineStyle::none)
            result.underlineColor = underlineColor.value_or(std::nullopt);
        result.foreground = foreground.value_or(std::nullopt);
        result.background = background.value_or(std::nullopt);
        return result;
    }
};

// The theme's heading (major) and body (minor) Latin font families.
struct ThemeFonts {
    QString major;
    QString minor;
};

RunLayer runLayer(const WordNames& w, const pugi::xml_node& rPr, const ThemeFonts& themeFonts) {
    RunLayer layer;
    if (!rPr)
        return layer;
    if (const pugi::xml_node fonts = w.child(rPr, "rFonts")) {
        for (const char* which : {"ascii", "hAnsi", "cs", "eastAsia"}) {
            const std::string_view name = w.value(fonts, which);
            if (!name.empty()) {
                layer.fontFamily = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
                break;
            }
            // Word's own templates name the theme's fonts rather than a family.
            const std::string_view theme = w.value(fonts, std::string(which) + "Theme");
            const QString& themeFamily = theme.starts_with("major") ? themeFonts.major : themeFonts.minor;
            if (!theme.empty() && !themeFamily.isEmpty()) {
                layer.fontFamily = themeFamily;
                break;
            }
        }
    }
    if (const pugi::xml_node size = w.child(rPr, "sz")) {
        const int halfPoints = w.attribute(size, "val").as_int(0);
        if (halfPoints > 0 && halfPoints <= 3276)
            layer.pointSize = halfPoints / 2.0;
    }
    if (const pugi::xml_node bold = w.child(rPr, "b"))
        layer.bold = onOff(w.value(bold, "val"));
    if (const pugi::xml_node italic = w.child(rPr, "i"))
        layer.italic = onOff(w.value(italic, "val"));
    if (const pugi::xml_node underline = w.child(rPr, "u")) {
        layer.underline = underlineStyle(w.value(underline, "val"));
        const std::string_view color = w.value(underline, "color");
        if (color == "auto")
            layer.underlineColor = std::optional<RgbColor>();
        else if (const auto rgb = parseHexColor(color))
            layer.underlineColor = rgb;
    }
    if (const pugi::xml_node color = w.child(rPr, "color")) {
        const std::string_view value = w.value(color, "val");
        if (value == "auto")
            layer.foreground = std::optional<RgbColor>();
        else if (const auto rgb = parseHexColor(value))
            layer.foreground = rgb;
    }
    if (const pugi::xml_node shading = w.child(rPr, "shd")) {
        const std::string_view fill = w.value(shading, "fill");
        if (fill == "auto")
            layer.background = std::optional<RgbColor>();
        else if (const auto rgb = parseHexColor(fill))
            layer.background = rgb;
    }
    // A highlight is drawn over the shading, so it wins.
    if (const pugi::xml_node highlight = w.child(rPr, "highlight")) {
        const std::string_view value = w.value(highlight, "val");
        if (value == "none")
            layer.background = std::optional<RgbColor>();
        else if (const auto rgb = highlightColor(value))
            layer.background = rgb;
    }
    return layer;
}

// A paragraph's place in a list (w:numPr) as one layer sets it; unset values fall through.
struct ListPlace {
    std::optional<std::string> numId; // "0": in no list
    std::optional<int> level;

    void over(const ListPlace& top) {
        if (top.numId)
            numId = top.numId;
        if (top.level)
            level = top.level;
    }
};

ListPlace listPlace(const WordNames& w, const pugi::xml_node& pPr) {
    ListPlace place;
    const pugi::xml_node numPr = w.child(pPr, "numPr");
    if (const pugi::xml_attribute numId = w.attribute(w.child(numPr, "numId"), "val"))
        place.numId = numId.value();
    if (const pugi::xml_attribute level = w.attribute(w.child(numPr, "ilvl"), "val"))
        place.level = level.as_int(0);
    return place;
}

struct Style {
    std::string type;
    std::string basedOn;
    std::optional<ParagraphAlignment> alignment;
    ListPlace list;
    RunLayer run;
};

// The style sheet: document defaults and the styles by id.
class StyleSheet {
public:
    StyleSheet() = default;

    StyleSheet(const pugi::xml_document& xml, const ThemeFonts& themeFonts) {
        const pugi::xml_node root = xml.document_element();
        const WordNames w(root);
        this->themeFonts = themeFonts;
        if (!w.is(root, "styles"))
            return;
        if (const pugi::xml_node defaults = w.child(root, "docDefaults")) {
            defaultRun = runLayer(w, w.child(w.child(defaults, "rPrDefault"), "rPr"), themeFonts);
            const pugi::xml_node pPr = w.child(w.child(defaults, "pPrDefault"), "pPr");
            defaultAlignment = alignment(w.value(w.child(pPr, "jc"), "val"));
        }
        for (const pugi::xml_node& node : root.children()) {
            if (!w.is(node, "style"))
                continue;
            const std::string id(w.value(node, "styleId"));
            Style style;
            style.type = w.value(node, "type");
            style.basedOn = w.value(w.child(node, "basedOn"), "val");
            style.alignment = alignment(w.value(w.child(w.child(node, "pPr"), "jc"), "val"));
            style.list = listPlace(w, w.child(node, "pPr"));
            style.run = runLayer(w, w.child(node, "rPr"), themeFonts);
            if (style.type == "paragraph" && onOff(w.value(node, "default")) && w.attribute(node, "default"))
                defaultParagraphStyle = id;
            styles.emplace(id, std::move(style));
        }
    }

    // The style's basedOn chain, root first; cycles and over-long chains are cut.
    std::vector<const Style*> chain(const std::string& id) const {
        std::vector<const Style*> result;
        std::set<std::string> seen;
        std::string next = id;
        while (!next.empty() && result.size() < maxStyleChain && seen.insert(next).second) {
            const auto found = styles.find(next);
            if (found == styles.end())
                break;
            result.insert(result.begin(), &found->second);
            next = found->second.basedOn;
        }
        return result;
    }

    ThemeFonts themeFonts;
    RunLayer defaultRun;
    std::optional<ParagraphAlignment> defaultAlignment;
    std::string defaultParagraphStyle;

private:
    std::map<std::string, Style> styles;
};

NumberFormat numberFormat(std::string_view value) {
    if (value == "decimalZero")
        return NumberFormat::decimalZero;
    if (value == "lowerLetter")
        return NumberFormat::lowerLetter;
    if (value == "upperLetter")
        return NumberFormat::upperLetter;
    if (value == "lowerRoman")
        return NumberFormat::lowerRoman;
    if (value == "upperRoman")
        return NumberFormat::upperRoman;
    if (value == "bullet")
        return NumberFormat::bullet;
    if (value == "none")
        return NumberFormat::none;
    // decimal, and the formats of other scripts and of words ("ordinalText"): their numbers.
    return NumberFormat::decimal;
}

bool isSymbolFont(std::string_view family) {
    return family == "Symbol" || family.starts_with("Wingdings") || family == "Webdings";
}

// A level's w:lvlText as a pattern: "%1" to "%9" stand for levels 0 to 8.
QString labelPattern(std::string_view text) {
    const QString source = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    QString pattern;
    for (qsizetype at = 0; at < source.size() && pattern.size() < maxLabelPattern; ++at) {
        const QChar c = source[at];
        if (c == u'%' && at + 1 < source.size() && source[at + 1] >= u'1' && source[at + 1] <= u'9') {
            pattern += QChar(source[++at].unicode() - u'1');
        } else if (c.unicode() >= 0x20) {
            pattern += c;
        }
    }
    return pattern;
}

ListLevel listLevel(const WordNames& w, const pugi::xml_node& lvl, int index) {
    ListLevel level;
    if (const pugi::xml_attribute start = w.attribute(w.child(lvl, "start"), "val"))
        level.start = start.as_int(1);
    level.format = numberFormat(w.value(w.child(lvl, "numFmt"), "val"));
    if (const pugi::xml_attribute restart = w.attribute(w.child(lvl, "lvlRestart"), "val"))
        level.restartBelow = std::max(restart.as_int(-1), -1);
    if (const pugi::xml_node legal = w.child(lvl, "isLgl"))
        level.legal = onOff(w.value(legal, "val"));
    const std::string_view suffix = w.value(w.child(lvl, "suff"), "val");
    level.suffix = suffix == "space"     ? QStringLiteral(" ")
                   : suffix == "nothing" ? QString()
                                         : QStringLiteral("\t");
    if (const pugi::xml_node text = w.child(lvl, "lvlText"))
        level.pattern = labelPattern(w.value(text, "val"));
    else if (level.format == NumberFormat::bullet)
        level.pattern = QStringLiteral("\u2022");
    else
        level.pattern = QChar(index) + QStringLiteral(".");
    const pugi::xml_node fonts = w.child(w.child(lvl, "rPr"), "rFonts");
    const bool symbolFont = isSymbolFont(w.value(fonts, "ascii")) || isSymbolFont(w.value(fonts, "hAnsi"));
    level.pattern = bulletText(level.pattern, level.format == NumberFormat::bullet && symbolFont);
    return level;
}

// The lists of numbering.xml and their counters: each w:num is a list of a w:abstractNum's
// levels; lists of one abstractNum count on together unless one restarts its numbers
// (w:startOverride) or redefines a level, which gives it counters of its own.
class Numbering {
public:
    Numbering() = default;

    explicit Numbering(const pugi::xml_document& xml) {
        const pugi::xml_node root = xml.document_element();
        const WordNames w(root);
        if (!w.is(root, "numbering"))
            return;
        struct Abstract {
            ListLevels levels;
            std::string numStyleLink;
        };
        std::map<std::string, Abstract> abstracts;
        std::map<std::string, std::string> byStyleLink;
        for (const pugi::xml_node& node : root.children()) {
            if (!w.is(node, "abstractNum") || w.value(node, "abstractNumId").size() > maxListId)
                continue;
            if (abstracts.size() == maxLists)
                break;
            const std::string id(w.value(node, "abstractNumId"));
            Abstract list;
            for (const pugi::xml_node& lvl : node.children())
                if (const int index = w.attribute(lvl, "ilvl").as_int(-1);
                    w.is(lvl, "lvl") && index >= 0 && index < listLevels)
                    list.levels[static_cast<std::size_t>(index)] = listLevel(w, lvl, index);
            list.numStyleLink = w.value(w.child(node, "numStyleLink"), "val");
            if (const std::string_view link = w.value(w.child(node, "styleLink"), "val"); !link.empty())
                byStyleLink.emplace(link, id);
            abstracts.emplace(id, std::move(list));
        }
        for (const pugi::xml_node& node : root.children()) {
            if (!w.is(node, "num") || w.value(node, "numId").size() > maxListId)
                continue;
            if (lists_.size() == maxLists)
                break;
            std::string abstractId(w.value(w.child(node, "abstractNumId"), "val"));
            auto found = abstracts.find(abstractId);
            // A list that takes its levels from a numbering style: one step to the list defining it.
            if (found != abstracts.end() && !found->second.numStyleLink.empty())
                if (const auto link = byStyleLink.find(found->second.numStyleLink);
                    link != byStyleLink.end()) {
                    abstractId = link->second;
                    found = abstracts.find(abstractId);
                }
            if (found == abstracts.end())
                continue;
            List list{found->second.levels, "a" + abstractId};
            for (const pugi::xml_node& override : node.children()) {
                const int index = w.attribute(override, "ilvl").as_int(-1);
                if (!w.is(override, "lvlOverride") || index < 0 || index >= listLevels)
                    continue;
                ListLevel& level = list.levels[static_cast<std::size_t>(index)];
                if (const pugi::xml_node lvl = w.child(override, "lvl"))
                    level = listLevel(w, lvl, index);
                if (const pugi::xml_attribute start = w.attribute(w.child(override, "startOverride"), "val"))
                    level.start = start.as_int(1);
                list.counter = "n" + std::string(w.value(node, "numId"));
            }
            lists_.emplace(w.value(node, "numId"), std::move(list));
        }
    }

    // The label of the next paragraph of the list numId at level, with what follows it; empty
    // when numId names no list or the level shows no label.
    QString label(const std::string& numId, int level) {
        const auto found = lists_.find(numId);
        if (found == lists_.end())
            return {};
        return counters_[found->second.counter].advance(level, found->second.levels);
    }

private:
    struct List {
        ListLevels levels;
        std::string counter; // the key of its counter
    };
    std::map<std::string, List, std::less<>> lists_;
    std::map<std::string, ListCounter> counters_;
};

std::string resolveTarget(std::string_view base, std::string_view target) {
    std::string joined =
        target.starts_with('/') ? std::string(target.substr(1)) : std::string(base) + std::string(target);
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= joined.size()) {
        const std::size_t end = std::min(joined.find('/', start), joined.size());
        const std::string part = joined.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string result;
    for (const std::string& part : parts)
        result += (result.empty() ? "" : "/") + part;
    return result;
}

// The value of the character reference at `at` ("&#123;" or "&#x7B;") and its length; nullopt
// when there is none. A value past the last code point reads as one past it.
std::optional<std::pair<char32_t, std::size_t>> characterReference(std::string_view bytes, std::size_t at) {
    if (bytes.substr(at, 2) != "&#")
        return std::nullopt;
    const bool hex = at + 2 < bytes.size() && bytes[at + 2] == 'x';
    std::size_t end = at + (hex ? 3 : 2);
    const std::size_t digitsStart = end;
    char32_t value = 0;
    for (; end < bytes.size(); ++end) {
        const char c = bytes[end];
        int digit = -1;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (hex && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        if (digit < 0)
            break;
        value = std::min<char32_t>(value * (hex ? 16 : 10) + char32_t(digit), 0x110000);
    }
    if (end == digitsStart || end >= bytes.size() || bytes[end] != ';')
        return std::nullopt;
    return std::pair{value, end + 1 - at};
}

// XML allows no NUL, yet the parser takes "&#0;" (or a reference past the last code point, which
// wraps round) for one and a raw NUL byte too, and ends the text or value there: the rest of the
// paragraph would be lost. Such a NUL is dropped, a reference past the last code point becomes
// U+FFFD, in place (never longer); comments and CDATA keep their characters but raw NULs.
void dropNulls(std::string& bytes) {
    const std::string_view source(bytes);
    std::size_t out = 0;
    const auto copyThrough = [&](std::size_t& at, std::string_view end) {
        const std::size_t found = source.find(end, at);
        const std::size_t stop = found == std::string_view::npos ? source.size() : found + end.size();
        for (; at < stop; ++at)
            if (source[at] != '\0')
                bytes[out++] = source[at];
    };
    for (std::size_t at = 0; at < source.size();) {
        const char c = source[at];
        if (c == '\0') {
            ++at;
        } else if (c == '<' && source.substr(at, 4) == "<!--") {
            copyThrough(at, "-->");
        } else if (c == '<' && source.substr(at, 9) == "<![CDATA[") {
            copyThrough(at, "]]>");
        } else if (const auto reference = c == '&' ? characterReference(source, at) : std::nullopt;
                   reference && (reference->first == 0 || reference->first > 0x10FFFF)) {
            at += reference->second;
            if (reference->first != 0)
                for (const char r : std::string_view("&#xFFFD;"))
                    bytes[out++] = r;
        } else {
            bytes[out++] = source[at++];
        }
    }
    bytes.resize(out);
}

// Parses the part in place (the tree points into bytes, which must outlive it). The tree's size is
// bounded first: every element starts with '<' and every attribute has its '=', so their count
// is at most the count of those characters.
std::optional<pugi::xml_document> parse(std::string& bytes, std::size_t markupLimit) {
    dropNulls(bytes);
    const auto markup = static_cast<std::size_t>(
        std::count_if(bytes.begin(), bytes.end(), [](char c) { return c == '<' || c == '='; }));
    checkLimit(markup, markupLimit, "XML elements and attributes in one part");
    pugi::xml_document xml;
    if (!xml.load_buffer_inplace(bytes.data(), bytes.size(),
                                 pugi::parse_default | pugi::parse_ws_pcdata_single))
        return std::nullopt;
    return xml;
}

// The target of the first relationship of the given type (matched by its last path segment) in
// the relationships part relsName, resolved against base; empty when there is none.
std::string relationshipTarget(const ZipReader& zip, const std::string& relsName, std::string_view base,
                               std::string_view type, std::size_t limit, const ReadLimits& limits) {
    std::optional<std::string> bytes = zip.read(relsName, limit);
    if (!bytes)
        return {};
    const std::optional<pugi::xml_document> xml = parse(*bytes, limits.markup);
    if (!xml)
        return {};
    for (const pugi::xml_node& node : xml->document_element().children()) {
        const std::string_view name = node.name();
        if (!name.ends_with("Relationship"))
            continue;
        const std::string_view nodeType = node.attribute("Type").value();
        if (nodeType.ends_with(type) && nodeType.size() > type.size() &&
            nodeType[nodeType.size() - type.size() - 1] == '/' &&
            std::string_view(node.attribute("TargetMode").value()) != "External")
            return resolveTarget(base, node.attribute("Target").value());
    }
    return {};
}

// Text as a run may hold it: a newline typed into the XML reads as a space, as word processors
// show it; other control characters, and characters XML cannot carry (which character
// references can still name), are dropped; a paragraph separator becomes a line break.
QString cleanText(const QString& text) {
    QString result;
    result.reserve(text.size());
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        if (code == u'\n' || code == u'\r')
            result += u' ';
        else if (code == 0x2029)
            result += QChar(lineSeparator);
        else if ((code >= 0x20 || code == u'\t') && code != 0xFFFE && code != 0xFFFF)
            result += c;
    }
    return result;
}

// Visits the elements below `root` in document order, however deep, without recursing; `visit`
// returns whether to go on into the element's children.
template <typename Visit> void walkElements(const pugi::xml_node& root, Visit&& visit) {
    pugi::xml_node node = root.first_child();
    while (node) {
        if (node.type() == pugi::node_element && visit(node) && node.first_child()) {
            node = node.first_child();
            continue;
        }
        while (!node.next_sibling()) {
            node = node.parent();
            if (node == root)
                return;
        }
        node = node.next_sibling();
    }
}

// Whether the walk goes on into an element that is neither a paragraph nor a table row: not into
// properties, which hold no text.
bool holdsBlocks(const WordNames& w, const pugi::xml_node& node) {
    return !w.is(node, "sectPr") && !w.is(node, "tblPr") && !w.is(node, "trPr") && !w.is(node, "tcPr") &&
           !w.is(node, "tblGrid") && !w.is(node, "tblPrEx");
}

// Reads the body's paragraphs. A table row is one paragraph, as a script reads it: its cells
// joined by tabs and the paragraphs of one cell by line breaks; a table in a cell reads the same
// way within it, each of its rows on a line of its own.
class BodyReader {
public:
    BodyReader(const WordNames& names, const StyleSheet& sheet, Numbering& numbering,
               const ReadLimits& limits)
        : document(limits)
        , w(names)
        , styles(sheet)
        , lists(numbering) {}

    void blocks(const pugi::xml_node& parent) {
        walkElements(parent, [&](const pugi::xml_node& node) {
            if (w.is(node, "p")) {
                paragraph(node);
                return false;
            }
            if (w.is(node, "tr")) {
                row(node);
                return false;
            }
            return holdsBlocks(w, node);
        });
    }

    BoundedDocument document;

private:
    // What comes between two paragraphs of one row, the stronger winning.
    enum class Break { none, line, cell };

    void row(const pugi::xml_node& tr) {
        inRow_ = true;
        rowParagraphs_ = 0;
        pending_ = Break::none;
        bool rowStarts = true; // the next cell is the first of its row
        walkElements(tr, [&](const pugi::xml_node& node) {
            if (w.is(node, "p")) {
                paragraph(node);
                return false;
            }
            if (w.is(node, "tr")) {
                pending_ = std::max(pending_, Break::line);
                rowStarts = true;
            } else if (w.is(node, "tc") && !std::exchange(rowStarts, false)) {
                pending_ = Break::cell;
            }
            return holdsBlocks(w, node);
        });
        inRow_ = false;
    }

    void paragraph(const pugi::xml_node& p) {
        const pugi::xml_node pPr = w.child(p, "pPr");
        std::string styleId(w.value(w.child(pPr, "pStyle"), "val"));
        if (styleId.empty())
            styleId = styles.defaultParagraphStyle;

        std::optional<ParagraphAlignment> align = styles.defaultAlignment;
        RunLayer base = styles.defaultRun;
        ListPlace list;
        for (const Style* style : styles.chain(styleId)) {
            if (style->alignment)
                align = style->alignment;
            list.over(style->list);
            base.over(style->run);
        }
        if (const auto own = alignment(w.value(w.child(pPr, "jc"), "val")))
            align = own;
        list.over(listPlace(w, pPr));
        if (!inRow_ || rowParagraphs_++ == 0) {
            document.startParagraph(align.value_or(ParagraphAlignment::natural));
        } else {
            pending_ = std::max(pending_, Break::line);
            document.append(pending_ == Break::cell ? QStringLiteral("\t") : QString(QChar(lineSeparator)),
                            base.style());
        }
        pending_ = Break::none;
        if (list.numId && *list.numId != "0")
            document.append(lists.label(*list.numId, list.level.value_or(0)), base.style());
        walkElements(p, [&](const pugi::xml_node& node) {
            const std::string_view local = w.local(node);
            if (local == "r") {
                run(node, base);
                return false;
            }
            return local == "hyperlink" || local == "smartTag" || local == "ins" || local == "moveTo" ||
                   local == "sdt" || local == "sdtContent" || local == "fldSimple" || local == "customXml" ||
                   local == "bdo" || local == "dir";
        });
    }

    void run(const pugi::xml_node& r, const RunLayer& paragraphBase) {
        const pugi::xml_node rPr = w.child(r, "rPr");
        RunLayer layer = paragraphBase;
        for (const Style* style : styles.chain(std::string(w.value(w.child(rPr, "rStyle"), "val"))))
            if (style->type == "character")
                layer.over(style->run);
        layer.over(runLayer(w, rPr, styles.themeFonts));
        const RunStyle style = layer.style();

        QString text;
        for (const pugi::xml_node& node : r.children()) {
            if (node.type() != pugi::node_element)
                continue;
            const std::string_view local = w.local(node);
            if (local == "t") {
                // A comment or processing instruction splits the text into pieces; CDATA is one.
                for (const pugi::xml_node& piece : node.children()) {
                    if (piece.type() != pugi::node_pcdata && piece.type() != pugi::node_cdata)
                        continue;
                    // UTF-8 has at least as many bytes as UTF-16 has units: checked before converting.
                    const char* bytes = piece.value();
                    document.checkMoreCharacters(static_cast<std::size_t>(text.size()) + std::strlen(bytes));
                    text += cleanText(QString::fromUtf8(bytes));
                }
            } else if (local == "tab" || local == "ptab") {
                text += u'\t';
            } else if (local == "br" || local == "cr") {
                text += QChar(lineSeparator);
            } else if (local == "noBreakHyphen") {
                text += QChar(0x2011);
            } else if (local == "softHyphen") {
                text += QChar(0x00AD);
            } else if (local == "sym") {
                bool ok = false;
                const uint code = QString::fromUtf8(w.value(node, "char").data()).toUInt(&ok, 16);
                if (ok && code > 0 && code < 0x110000 && (code < 0xD800 || code > 0xDFFF)) {
                    // Symbol fonts map their glyphs into the private area F0xx: take the plain code.
                    const char32_t plain = (code >= 0xF020 && code <= 0xF0FF) ? code - 0xF000 : code;
                    text += cleanText(QString::fromUcs4(&plain, 1));
                }
            }
        }
        document.append(text, style);
    }

    const WordNames& w;
    const StyleSheet& styles;
    Numbering& lists;
    bool inRow_ = false;
    std::size_t rowParagraphs_ = 0;
    Break pending_ = Break::none;
};

// The child of node whose name, without its prefix, is local.
pugi::xml_node childNamed(const pugi::xml_node& node, std::string_view local) {
    for (const pugi::xml_node& each : node.children()) {
        const std::string_view name = each.name();
        const std::size_t colon = name.find(':');
        if ((colon == std::string_view::npos ? name : name.substr(colon + 1)) == local)
            return each;
    }
    return {};
}

ThemeFonts readThemeFonts(const pugi::xml_document& xml) {
    const pugi::xml_node scheme =
        childNamed(childNamed(xml.document_element(), "themeElements"), "fontScheme");
    return ThemeFonts{
        QString::fromUtf8(childNamed(childNamed(scheme, "majorFont"), "latin").attribute("typeface").value()),
        QString::fromUtf8(
            childNamed(childNamed(scheme, "minorFont"), "latin").attribute("typeface").value())};
}

RichDocument readPackage(const ZipReader& zip, std::size_t limit, const ReadLimits& limits) {
    std::string main = relationshipTarget(zip, "_rels/.rels", "", "officeDocument", limit, limits);
    if (main.empty())
        main = "word/document.xml";
    std::optional<std::string> documentBytes = zip.read(main, limit);
    if (!documentBytes)
        throw CodecError("The package has no main document part.");
    const std::optional<pugi::xml_document> xml = parse(*documentBytes, limits.markup);
    if (!xml)
        throw CodecError("The main document part is not well-formed XML.");
    const pugi::xml_node root = xml->document_element();
    const WordNames w(root);
    if (!w.is(root, "document"))
        throw CodecError("The main document part is not a word-processing document.");

    const std::size_t slash = main.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : main.substr(0, slash + 1);
    const std::string fileName = slash == std::string::npos ? main : main.substr(slash + 1);
    std::string stylesName =
        relationshipTarget(zip, folder + "_rels/" + fileName + ".rels", folder, "styles", limit, limits);
    if (stylesName.empty())
        stylesName = folder + "styles.xml";
    const std::string themeName =
        relationshipTarget(zip, folder + "_rels/" + fileName + ".rels", folder, "theme", limit, limits);
    ThemeFonts themeFonts;
    if (!themeName.empty())
        if (std::optional<std::string> themeBytes = zip.read(themeName, limit))
            if (const std::optional<pugi::xml_document> themeXml = parse(*themeBytes, limits.markup))
                themeFonts = readThemeFonts(*themeXml);
    StyleSheet sheet;
    sheet.themeFonts = themeFonts;
    // A missing or broken style or theme part only costs the looks, not the text.
    if (std::optional<std::string> stylesBytes = zip.read(stylesName, limit))
        if (const std::optional<pugi::xml_document> stylesXml = parse(*stylesBytes, limits.markup))
            sheet = StyleSheet(*stylesXml, themeFonts);

    // A missing or broken numbering part costs the lists' labels.
    Numbering numbering;
    const std::string numberingName =
        relationshipTarget(zip, folder + "_rels/" + fileName + ".rels", folder, "numbering", limit, limits);
    if (std::optional<std::string> numberingBytes =
            zip.read(numberingName.empty() ? folder + "numbering.xml" : numberingName, limit))
        if (const std::optional<pugi::xml_document> numberingXml = parse(*numberingBytes, limits.markup))
            numbering = Numbering(*numberingXml);

    BodyReader reader(w, sheet, numbering, limits);
    reader.blocks(w.child(root, "body"));
    if (const pugi::xml_node background = w.child(root, "background"))
        reader.document.document.backgroundColor = parseHexColor(w.value(background, "color"));
    return std::move(reader.document.document);
}

} // namespace

RichDocument DocxReader::readFile(const std::string& path, std::size_t partLimit, const ReadLimits& limits) {
    return withinMemory([&] { return readPackage(ZipReader::openFile(path), partLimit, limits); });
}

RichDocument DocxReader::readData(std::string data, std::size_t partLimit, const ReadLimits& limits) {
    return withinMemory([&] { return readPackage(ZipReader::openData(std::move(data)), partLimit, limits); });
}

} // namespace platform::codecs
