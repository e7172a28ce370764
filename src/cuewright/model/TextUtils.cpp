#include "cuewright/model/TextUtils.h"

#include "cuewright/model/UserDefaults.h"
#include "platform/text/TextAttributes.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <utility>

namespace cw::TextUtils {

using platform::AttributedString;
using platform::TextRange;
using platform::TypesetLine;

namespace {

// The lines to measure; a trailing line break gets its empty last line through an extra "-"
// that carries the last character's attributes. That "-" is a paragraph of its own, typeset
// alone: the text's own lines are the ones its other measurements ask for.
std::vector<TypesetLine> measuredLines(const AttributedString& text, double width,
                                       const platform::Typesetter& typesetter) {
    if (text.isEmpty()) {
        return {};
    }
    std::vector<TypesetLine> lines = typesetter.typeset(text, width);
    const QChar last = text.string().back();
    if (last == QChar(u'\n') || last == QChar(u'\r')) {
        const AttributedString dash(QStringLiteral("-"), text.attributes(text.length() - 1));
        for (TypesetLine line : typesetter.typeset(dash, width)) {
            line.range.location += text.length();
            lines.push_back(line);
        }
    }
    return lines;
}

} // namespace

double maxLineHeight(const AttributedString& text, double width, const platform::Typesetter& typesetter) {
    double tallest = 0;
    for (const TypesetLine& line : measuredLines(text, width, typesetter)) {
        tallest = std::max(tallest, std::ceil(line.height));
    }
    return tallest;
}

double totalTextHeight(const AttributedString& text, double width, const platform::Typesetter& typesetter) {
    if (text.isEmpty()) {
        return 0;
    }
    double sum = 0;
    for (const TypesetLine& line : measuredLines(text, width, typesetter)) {
        sum += std::ceil(line.height);
    }
    return std::ceil(sum) + 1;
}

double exactTextHeight(const AttributedString& text, double width, const platform::Typesetter& typesetter) {
    double sum = 0;
    for (const TypesetLine& line : measuredLines(text, width, typesetter)) {
        sum += line.height;
    }
    return sum;
}

qint64 paragraphCount(QStringView text) {
    qint64 count = 1;
    for (const QChar c : text) {
        if (c == u'\n' || c == u'\r' || c == QChar::ParagraphSeparator || c == QChar::LineSeparator) {
            ++count;
        }
    }
    return count;
}

int wordCount(const QString& text) {
    int words = 0;
    bool inWord = false;
    for (const QChar c : text) {
        const bool separates =
            c == u' ' || c == u'\n' || c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
        words += !separates && !inWord ? 1 : 0;
        inWord = !separates;
    }
    return words;
}

std::vector<double> lineOffsets(const AttributedString& text, double width,
                                const platform::Typesetter& typesetter) {
    std::vector<double> offsets;
    if (text.isEmpty()) {
        return offsets;
    }
    const auto lines = typesetter.typeset(text, width);
    offsets.reserve(lines.size());
    double top = 0;
    for (const TypesetLine& line : lines) {
        offsets.push_back(top);
        top += line.height;
    }
    return offsets;
}

std::vector<TextRange> lineChunkRanges(const AttributedString& text, double maxHeight, double width,
                                       const platform::Typesetter& typesetter) {
    std::vector<TextRange> chunks;
    if (text.isEmpty()) {
        return chunks;
    }
    const auto lines = typesetter.typeset(text, width);
    double height = 0;
    int start = 0;
    int length = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        height += lines[i].typographicHeight();
        length += lines[i].range.length;
        if (height >= maxHeight || i + 1 == lines.size()) {
            chunks.push_back({start, length});
            start += length;
            length = 0;
            height = 0;
        }
    }
    return chunks;
}

std::vector<AttributedString> splitIntoLineChunks(const AttributedString& text, double maxHeight,
                                                  double width, const platform::Typesetter& typesetter) {
    std::vector<AttributedString> pieces;
    for (const TextRange& range : lineChunkRanges(text, maxHeight, width, typesetter)) {
        pieces.push_back(text.substring(range));
    }
    return pieces;
}

AttributedString applyFontAndParagraphStyle(const AttributedString& text, double pointSize) {
    const double size = std::max(pointSize, 8.0);
    AttributedString result = text;
    if (result.isEmpty()) {
        return result;
    }
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

std::vector<TraitRange> traitRanges(const AttributedString& text) {
    std::vector<TraitRange> ranges;
    if (text.isEmpty()) {
        return ranges;
    }
    for (const auto& run : text.runs(platform::AttributeName::font, text.fullRange())) {
        if (run.value.canConvert<platform::Font>() && run.value.isValid()) {
            const auto font = run.value.value<platform::Font>();
            ranges.push_back({run.range, font.bold, font.italic});
        }
    }
    return ranges;
}

std::vector<ColorRange> colorRanges(const AttributedString& text) {
    std::vector<ColorRange> ranges;
    if (text.isEmpty()) {
        return ranges;
    }
    for (const auto& run : text.runs(platform::AttributeName::foregroundColor, text.fullRange())) {
        if (run.value.isValid() && run.value.canConvert<platform::Color>()) {
            ranges.push_back({run.range, run.value.value<platform::Color>()});
        }
    }
    return ranges;
}

std::vector<AttributeRange> attributeRanges(const AttributedString& text, QStringView name) {
    std::vector<AttributeRange> ranges;
    if (text.isEmpty()) {
        return ranges;
    }
    for (const auto& run : text.runs(name, text.fullRange())) {
        if (run.value.isValid()) {
            ranges.push_back({run.range, name.toString(), run.value});
        }
    }
    return ranges;
}

platform::Color dominantTextColor(const AttributedString& text, const platform::Color& fallback) {
    std::unordered_map<platform::Color, long, platform::ColorHash> counts;
    std::vector<platform::Color> order; // first appearance breaks ties
    long covered = 0;
    for (const ColorRange& run : colorRanges(text)) {
        auto [it, inserted] = counts.try_emplace(run.color, 0);
        if (inserted) {
            order.push_back(run.color);
        }
        it->second += run.range.length;
        covered += run.range.length;
    }
    const long uncovered = text.length() - covered;
    if (order.empty() || covered < uncovered) {
        return fallback;
    }
    const platform::Color* best = &order.front();
    for (const auto& color : order) {
        if (counts[color] > counts[*best]) {
            best = &color;
        }
    }
    return *best;
}

platform::Color dominantTextColor(const AttributedString& text) {
    return dominantTextColor(text, defaultTextColor());
}

// ---- text entering a project

namespace {

bool isScriptCharacter(char16_t c) {
    return c >= 0x20 || c == u'\t' || c == u'\n';
}

bool holdsScriptCharactersOnly(const QString& text) {
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return isScriptCharacter(c.unicode()); });
}

// Appends `chunk` normalised; `afterReturn` carries a CR at the end of one chunk to the next, so
// that a CR LF split between two runs still becomes one LF.
void appendScriptCharacters(QString& out, QStringView chunk, bool& afterReturn) {
    for (const QChar character : chunk) {
        const char16_t c = character.unicode();
        const bool wasAfterReturn = std::exchange(afterReturn, c == u'\r');
        if (isScriptCharacter(c)) {
            if (!(c == u'\n' && wasAfterReturn)) {
                out += character;
            }
        } else if (c == u'\r' || c == u'\v' || c == u'\f') {
            out += u'\n';
        }
    }
}

} // namespace

QString scriptText(const QString& text) {
    if (holdsScriptCharactersOnly(text)) {
        return text;
    }
    QString result;
    result.reserve(text.size());
    bool afterReturn = false;
    appendScriptCharacters(result, text, afterReturn);
    return result;
}

platform::AttributedString scriptText(const platform::AttributedString& text) {
    if (holdsScriptCharactersOnly(text.string())) {
        return text;
    }
    platform::AttributedString result;
    bool afterReturn = false;
    for (const auto& run : text.runs()) {
        QString characters;
        appendScriptCharacters(
            characters, QStringView(text.string()).mid(run.range.location, run.range.length), afterReturn);
        if (!characters.isEmpty()) {
            result.append(characters, run.attributes);
        }
    }
    return result;
}

} // namespace cw::TextUtils
