// Paragraph formatting carried by text: alignment, line breaking, indents and spacing.
#pragma once

#include <QMetaType>

namespace platform {

// Raw values match the platform's text-alignment numbers the editor stores (left 0, center 1, right 2).
enum class ParagraphAlignment { left = 0, center = 1, right = 2, justified = 3, natural = 4 };

enum class LineBreakMode {
    wordWrapping,
    charWrapping,
    clipping,
    truncatingHead,
    truncatingTail,
    truncatingMiddle
};

enum class WritingDirection { natural, leftToRight, rightToLeft };

// All lengths in points. tailIndent > 0 is measured from the leading margin, <= 0 from the
// trailing one. Zero line heights and multiple mean "not set".
struct ParagraphStyle {
    ParagraphAlignment alignment = ParagraphAlignment::natural;
    LineBreakMode lineBreakMode = LineBreakMode::wordWrapping;
    WritingDirection baseWritingDirection = WritingDirection::natural;
    double firstLineHeadIndent = 0;
    double headIndent = 0;
    double tailIndent = 0;
    double lineSpacing = 0;
    double paragraphSpacing = 0;
    double paragraphSpacingBefore = 0;
    double lineHeightMultiple = 0;
    double minimumLineHeight = 0;
    double maximumLineHeight = 0;

    friend bool operator==(const ParagraphStyle&, const ParagraphStyle&) = default;
};

} // namespace platform

Q_DECLARE_METATYPE(platform::ParagraphStyle)
