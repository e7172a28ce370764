#include "platform/text/QtTypesetter.h"

#include "platform/text/AttributedString.h"
#include "platform/text/QtTextFormat.h"

#include <QTextLayout>

namespace platform {

const Typesetter& defaultTypesetter() {
    static const QtTypesetter typesetter;
    return typesetter;
}

static bool isParagraphEnd(QChar c) {
    return c == u'\n' || c == u'\r' || c == QChar::ParagraphSeparator;
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
    layout.beginLayout();
    const std::size_t firstLine = lines.size();
    for (;;) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) {
            break;
        }
        line.setLineWidth(width > 0 ? width : 0);
        TypesetLine typeset;
        typeset.range = {content.location + line.textStart(), line.textLength()};
        typeset.ascent = line.ascent();
        typeset.descent = line.descent();
        typeset.leading = line.leading();
        typeset.height = typeset.ascent + typeset.descent + typeset.leading;
        typeset.width = line.naturalTextWidth();
        lines.push_back(typeset);
        if (line.textLength() == 0 && content.length > 0) {
            break; // no progress possible; never loop on a degenerate width
        }
    }
    layout.endLayout();
    if (lines.size() == firstLine) {
        lines.push_back({{content.location, 0}, 0, 0, 0, 0, 0});
    }
    // Lines cover the paragraph exactly: stretch the last one over any rest and the terminator.
    TypesetLine& last = lines.back();
    last.range.length = content.end() + terminatorLength - last.range.location;
}

std::vector<TypesetLine> QtTypesetter::typeset(const AttributedString& text, double width) const {
    std::vector<TypesetLine> lines;
    const QString& s = text.string();
    const int length = text.length();
    int start = 0;
    while (start < length) {
        int end = start;
        while (end < length && !isParagraphEnd(s[end])) {
            ++end;
        }
        int terminator = 0;
        if (end < length) {
            terminator = (s[end] == u'\r' && end + 1 < length && s[end + 1] == u'\n') ? 2 : 1;
        }
        layoutParagraph(text, {start, end - start}, terminator, width, lines);
        start = end + terminator;
    }
    return lines;
}

} // namespace platform
