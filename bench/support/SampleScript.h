// The styled sample script the text benchmarks measure, built the same way in every program.
#pragma once

#include "platform/text/AttributedString.h"

namespace benchsupport {

// Whether the red "pause" run is underlined (the DOCX and file benchmarks carry one more
// attribute than the plain RTF benchmark).
enum class PauseUnderline { none, single };

// The styles of a prompter script: centred yellow DejaVu Sans, a bold run and a red run.
struct SampleStyles {
    platform::Attributes plain;
    platform::Attributes bold;
    platform::Attributes red;
};

inline SampleStyles sampleStyles(double pointSize, PauseUnderline underline) {
    using namespace platform;
    SampleStyles styles;
    styles.plain.font = Font{"DejaVu Sans", pointSize, false, false};
    styles.plain.foregroundColor = Color::yellow();
    styles.plain.paragraphStyle = ParagraphStyle{};
    styles.plain.paragraphStyle->alignment = ParagraphAlignment::center;
    styles.bold = styles.plain;
    styles.bold.font->bold = true;
    styles.red = styles.plain;
    styles.red.foregroundColor = Color::red();
    if (underline == PauseUnderline::single) {
        styles.red.underlineStyle = UnderlineStyle::single;
    }
    return styles;
}

// Appends one paragraph of 30 words with bold, coloured and accented runs, ending in "\n".
inline void appendSampleParagraph(platform::AttributedString& text, const SampleStyles& styles) {
    text.append(QStringLiteral("Good evening, and welcome to the programme. Tonight we look at "),
                styles.plain);
    text.append(QStringLiteral("the harbour project"), styles.bold);
    text.append(QString::fromUtf8(" and the caf\xC3\xA9 on the corner, which costs 3 \xE2\x82\xAC. "),
                styles.plain);
    text.append(QStringLiteral("Pause here."), styles.red);
    text.append(QStringLiteral("\n"), styles.plain);
}

// A script of `paragraphs` such paragraphs at 34 points.
inline platform::AttributedString sampleScript(int paragraphs, PauseUnderline underline) {
    const SampleStyles styles = sampleStyles(34, underline);
    platform::AttributedString text;
    for (int i = 0; i < paragraphs; ++i) {
        appendSampleParagraph(text, styles);
    }
    return text;
}

} // namespace benchsupport
