// The codecs' own picture of a styled document (paragraphs of runs with their look): what the
// readers parse into and the writer writes from. Callers outside this folder use AttributedString.
#pragma once

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace platform::codecs {

// An opaque sRGB colour as the word-processing formats store it.
struct RgbColor {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;

    bool operator==(const RgbColor&) const = default;
};

enum class ParagraphAlignment { natural, left, center, right, justified };

enum class UnderlineStyle { none, single, doubleLine, thick, dotted, dashed, wavy };

// What a run looks like. Absent values mean "whatever the reader of the document would default to".
struct RunStyle {
    std::optional<QString> fontFamily;
    std::optional<double> pointSize;
    bool bold = false;
    bool italic = false;
    UnderlineStyle underline = UnderlineStyle::none;
    std::optional<RgbColor> underlineColor; // absent: the text's own colour
    std::optional<RgbColor> foreground;
    std::optional<RgbColor> background;

    bool operator==(const RunStyle&) const = default;
};

// Text of one look. Line breaks inside a paragraph are U+2028, tabs are '\t'; a run never holds
// a paragraph break.
struct TextRun {
    QString text;
    RunStyle style;

    bool operator==(const TextRun&) const = default;
};

struct Paragraph {
    ParagraphAlignment alignment = ParagraphAlignment::natural;
    std::vector<TextRun> runs;

    bool operator==(const Paragraph&) const = default;
    QString plainText() const;
};

// A whole document: its paragraphs in order and the page colour, when it has one.
struct RichDocument {
    std::vector<Paragraph> paragraphs;
    std::optional<RgbColor> backgroundColor;

    bool operator==(const RichDocument&) const = default;

    // The characters with paragraphs joined by '\n'.
    QString plainText() const;
    // Adds a run to the last paragraph (making one when there is none), merging it into the
    // previous run when both look the same.
    void append(const QString& text, const RunStyle& style);
    void startParagraph(ParagraphAlignment alignment = ParagraphAlignment::natural);
};

// The character that stands for a line break inside a paragraph.
inline constexpr char16_t lineSeparator = u'\u2028';

} // namespace platform::codecs
