// Splitting attributed text into paragraphs and breaking a paragraph's QTextLayout into lines:
// the steps every typesetter over QTextLayout shares.
#pragma once

#include "platform/text/Typesetter.h"

#include <functional>

class QTextLayout;

namespace platform {

// Calls `visit` with each paragraph's content and the length of its terminator (LF, CR and
// U+2029 count 1, CR LF counts 2, a last paragraph without one 0). Empty text has no paragraphs.
void forEachParagraph(const AttributedString& text, const std::function<void(TextRange, int)>& visit);

// Breaks `layout`, which holds the paragraph `content` of a text with its font, formats and
// options already set, into lines of `width` points and appends them to `lines`. Lines are
// positioned one below the other from the paragraph's top. Appends at least one line, and the
// last one covers the rest of the paragraph and its terminator.
void breakParagraphIntoLines(QTextLayout& layout, TextRange content, int terminatorLength, double width,
                             std::vector<TypesetLine>& lines);

} // namespace platform
