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
    // The font and paragraph style of an empty paragraph are those of its terminator.
    const Attributes first = text.attributes(content.location);
    QTextOption option = toTextOption(first.paragraphStyle.value_or(ParagraphStyle()));
    option.setUseDesignMetrics(true);
    const auto make = [&](TextRange range) {
        auto layout = std::make_unique<QTextLayout>(text.string().mid(range.location, range.length));
        if (first.font) {
            layout->setFont(first.font->toQFont());
        }
        layout->setTextOption(option);
        if (range.length > 0) {
            layout->setFormats(formatRanges(text, range));
        }
        return layout;
    };
    breakParagraphIntoLines(make, text.string(), content, terminatorLength, width, lines);
}

std::vector<TypesetLine> QtTypesetter::typeset(const AttributedString& text, double width) const {
    std::vector<TypesetLine> lines;
    forEachParagraph(text, [&](TextRange content, int terminator) {
        layoutParagraph(text, content, terminator, width, lines);
    });
    return lines;
}

} // namespace platform
