#include "platform/text/ParagraphLines.h"

#include "platform/text/AttributedString.h"

#include <QTextLayout>

namespace platform {

static bool isParagraphEnd(QChar c) {
    return c == u'\n' || c == u'\r' || c == QChar::ParagraphSeparator;
}

void forEachParagraph(const AttributedString& text, const std::function<void(TextRange, int)>& visit) {
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
        visit(TextRange{start, end - start}, terminator);
        start = end + terminator;
    }
}

void breakParagraphIntoLines(QTextLayout& layout, TextRange content, int terminatorLength, double width,
                             std::vector<TypesetLine>& lines) {
    layout.beginLayout();
    const std::size_t firstLine = lines.size();
    double y = 0;
    for (;;) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) {
            break;
        }
        line.setLineWidth(width > 0 ? width : 0);
        line.setPosition(QPointF(0, y));
        TypesetLine typeset;
        typeset.range = {content.location + line.textStart(), line.textLength()};
        typeset.ascent = line.ascent();
        typeset.descent = line.descent();
        typeset.leading = line.leading();
        typeset.height = typeset.ascent + typeset.descent + typeset.leading;
        typeset.width = line.naturalTextWidth();
        y += typeset.height;
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

} // namespace platform
