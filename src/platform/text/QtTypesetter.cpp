#include "platform/text/QtTypesetter.h"

#include "platform/text/AttributedString.h"
#include "platform/text/ParagraphLines.h"
#include "platform/text/QtTextFormat.h"

#include <QTextLayout>

namespace platform {

const Typesetter& defaultTypesetter() {
    static const QtTypesetter typesetter;
    return typesetter;
}

static void layoutParagraph(const AttributedString& text, TextRange content, int terminatorLength,
                            double width, std::vector<TypesetLine>& lines) {
    // The font of an empty paragraph is that of its terminator.
    const Attributes first = text.attributes(content.location);

    QTextLayout layout(text.string().mid(content.location, content.length));
    if (first.font) {
        layout.setFont(first.font->toQFont());
    }
    QTextOption option = toTextOption(first.paragraphStyle.value_or(ParagraphStyle()));
    option.setUseDesignMetrics(true);
    layout.setTextOption(option);
    if (content.length > 0) {
        layout.setFormats(formatRanges(text, content));
    }
    breakParagraphIntoLines(layout, content, terminatorLength, width, lines);
}

std::vector<TypesetLine> QtTypesetter::typeset(const AttributedString& text, double width) const {
    std::vector<TypesetLine> lines;
    forEachParagraph(text, [&](TextRange content, int terminator) {
        layoutParagraph(text, content, terminator, width, lines);
    });
    return lines;
}

} // namespace platform
