// Measuring typeset text, cutting it into chunks of lines, and collecting attribute runs.
#pragma once

#include "platform/text/AttributedString.h"
#include "platform/text/Color.h"
#include "platform/text/Typesetter.h"

#include <QString>
#include <QVariant>

#include <vector>

namespace cw::TextUtils {

struct TraitRange {
    platform::TextRange range;
    bool isBold = false;
    bool isItalic = false;
    bool operator==(const TraitRange&) const = default;
};

struct ColorRange {
    platform::TextRange range;
    platform::Color color;
    bool operator==(const ColorRange&) const = default;
};

struct AttributeRange {
    platform::TextRange range;
    QString attributeName;
    QVariant attributeValue;
};

// Heights in points at `width`. A text ending in a line break counts its empty last line with
// full height. Empty text measures 0. Each call typesets the whole text once.
double maxLineHeight(const platform::AttributedString& text, double width,
                     const platform::Typesetter& typesetter = platform::defaultTypesetter());
// The sum of the rounded-up line heights, rounded up, plus 1.
double totalTextHeight(const platform::AttributedString& text, double width,
                       const platform::Typesetter& typesetter = platform::defaultTypesetter());
double exactTextHeight(const platform::AttributedString& text, double width,
                       const platform::Typesetter& typesetter = platform::defaultTypesetter());

// The top of each visual line (index = line number from 0), from the top of the text.
std::vector<double> lineOffsets(const platform::AttributedString& text, double width,
                                const platform::Typesetter& typesetter = platform::defaultTypesetter());

// Words: maximal runs of characters other than spaces and line breaks.
int wordCount(const QString& text);

// The most paragraphs the editor and the prompter show: Qt's layout cannot place many more one
// under another at a readable size, and typesetting them would hold the application for minutes.
// A text of more is kept and saved, but not shown.
inline constexpr qint64 maximumShownParagraphs = 2'900'000;
// Paragraphs of `text` as the editor counts them: one more than its breaks (LF, CR, U+2028, U+2029).
qint64 paragraphCount(QStringView text);

// Runs of whole lines, each closed by the first line that makes it at least `maxHeight` tall
// (typographic line heights); the last holds the rest. Lines are never split.
std::vector<platform::TextRange>
lineChunkRanges(const platform::AttributedString& text, double maxHeight, double width,
                const platform::Typesetter& typesetter = platform::defaultTypesetter());
std::vector<platform::AttributedString>
splitIntoLineChunks(const platform::AttributedString& text, double maxHeight, double width,
                    const platform::Typesetter& typesetter = platform::defaultTypesetter());

// Every font resized to `pointSize` (at least 8), every paragraph style set to word wrapping.
platform::AttributedString applyFontAndParagraphStyle(const platform::AttributedString& text,
                                                      double pointSize);

// The text as the script file gives it back, for text entering a project (imports, pastes): CR LF
// and lone CR become LF, vertical tab and form feed become LF, and every other character below
// U+0020 except tab is dropped. Attributes stay on the characters that remain. Character offsets
// (bookmarks) then mean the same before and after a save.
platform::AttributedString scriptText(const platform::AttributedString& text);
QString scriptText(const QString& text);

// Runs where the attribute is set, in text order.
std::vector<TraitRange> traitRanges(const platform::AttributedString& text);
std::vector<ColorRange> colorRanges(const platform::AttributedString& text);
std::vector<AttributeRange> attributeRanges(const platform::AttributedString& text, QStringView name);

// The colour of most characters, when coloured characters are at least as many as the others;
// else `fallback` (the overload without it uses the "defaultTextColor" setting). Ties between
// colours go to the one met first in the text.
platform::Color dominantTextColor(const platform::AttributedString& text, const platform::Color& fallback);
platform::Color dominantTextColor(const platform::AttributedString& text);

} // namespace cw::TextUtils
