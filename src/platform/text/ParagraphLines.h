// Splitting attributed text into paragraphs and breaking a paragraph into lines with QTextLayout:
// the steps every typesetter over QTextLayout shares.
#pragma once

#include "platform/text/Typesetter.h"

#include <cstdint>
#include <functional>
#include <memory>

class QChar;
class QString;
class QTextLayout;

namespace platform {

// LF, CR and U+2029: the characters that end a paragraph.
bool isParagraphEnd(QChar c);

// Calls `visit` with each paragraph's content and the length of its terminator (LF, CR and
// U+2029 count 1, CR LF counts 2, a last paragraph without one 0). Empty text has no paragraphs.
void forEachParagraph(const AttributedString& text, const std::function<void(TextRange, int)>& visit);

// Makes a QTextLayout of `range` of the text (a part of one paragraph) with its font, formats and
// options set, no lines made yet.
using ParagraphLayoutMaker = std::function<std::unique_ptr<QTextLayout>(TextRange range)>;
// Takes a finished layout whose lines are positioned from `top`, the distance from the paragraph's
// top, and together `height` tall.
using LaidOutPart = std::function<void(std::unique_ptr<QTextLayout> layout, double top, double height)>;

// Breaks the paragraph `content` of `text` into lines of `width` points and appends them to `lines`,
// one below the other from the paragraph's top. Appends at least one line, and the last one covers
// the rest of the paragraph and its terminator.
//
// QTextLayout looks from each line's start to the next place it may break, so a word of n letters
// costs it n²: a word too wide for a line is therefore broken here in one pass, each of its lines
// from a short window of the text. The paragraph then takes several layouts, each handed to `keep`
// when given (in order, for drawing); otherwise one layout does. `lineLength`, when known, is about
// how many characters such a word's line takes: the first window is sized for it.
void breakParagraphIntoLines(const ParagraphLayoutMaker& make, const QString& text, TextRange content,
                             int terminatorLength, double width, std::vector<TypesetLine>& lines,
                             const LaidOutPart& keep = {}, int lineLength = 0);

// Characters QTextLayout has had to look at to break lines so far, on every thread: for each line,
// those from its start to the next space or the end of its layout's text. Grows with the text's
// length; tests compare it between two sizes.
std::uint64_t lineBreakScanCount();

} // namespace platform
