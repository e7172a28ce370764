// Lines and words per line of the editor's laid-out text.
#pragma once

#include "cuewright/model/Editor.h"

#include <QStringView>
#include <QTextBlock>

#include <cstdint>
#include <optional>
#include <vector>

class QTextDocument;

namespace cw::editor {

struct LineMetrics {
    // The laid-out lines, plus the empty line after a final line break.
    int lineCount = 0;
    // One per laid-out line, numbered from 1; the last line of a paragraph includes its break.
    // The empty line after a final break has none.
    std::vector<Editor::LineRange> lineRanges;
    // Words over lineCount; absent for an empty text (the previous average stays).
    std::optional<double> wordsPerLine;
};

// How lines are counted: as the document's own layout breaks them, or with each block laid out
// again on its own, every font `fontScale` times its size, in lines `width` wide (less the
// block's own margins and indent, scaled alike); a `width` of 0 is the document's text width.
struct LineCounting {
    double fontScale = 1.0;
    double width = 0;
    bool usesDocumentLayout() const { return fontScale == 1.0 && width <= 0; }
    bool operator==(const LineCounting&) const = default;
};

// Maximal runs of characters other than U+0020: tabs and line breaks join words.
int spaceSeparatedWordCount(QStringView text);

// The lines of a text that is not laid out (too long to be shown), counted as measureLines()
// counts them with no paragraph wrapping: one to a paragraph (CR LF is one break), each with its
// break, and the empty line after a final break.
LineMetrics paragraphLines(QStringView text);

// Finishes the document's layout first; lines follow its text width. Keeps the word counts of
// each block's lines as the block's user data, so that blocks whose text, formats and line breaks
// did not change are not counted again (the blocks must carry no other user data); a child object
// of the document keeps note of the changes it reports, so that only the changed blocks are looked
// at, and in a block of several paragraphs (joined by line separators) only the changed ones are
// laid out again.
// Counted otherwise than by the document's layout (see LineCounting), each block is broken into
// lines by a layout of its own, never positioned in the document, so the count needs no document
// layout of that height: a long script is shown smaller than the size its lines are counted at. A
// block whose lines all end at breaks and would still fit when counted keeps Qt's own lines. A
// paragraph the editor holds as several blocks (cut at spaces or inside a long run, see
// TextInsertion) is then counted whole, as the prompter lays it out: its lines may span blocks, and
// its counts are kept on its first block.
LineMetrics measureLines(const QTextDocument& document, const LineCounting& counting = {});

// Counts and keeps the lines of the blocks from `from` on (the whole document when invalid), as
// measureLines() would, so that a later measureLines() finds them counted: a long text taken in
// piece by piece is counted (and laid out) piece by piece.
void countLinesFrom(const QTextDocument& document, QTextBlock from, const LineCounting& counting = {});

// Counts and keeps lines as measureLines() would, from the first block not counted yet, up to
// about `characters` counted anew: a paragraph of several blocks as far as whole blocks take it
// (the next call goes on from there). True when every line is counted, so that measureLines()
// only reads them. Lines counted as the document's layout has them are counted all at once.
bool countSomeLines(const QTextDocument& document, const LineCounting& counting, int characters);

// Characters of blocks laid out again so far to count lines otherwise than by the document's
// layout, on every thread: a change costs about the lines between the line separators around it.
std::uint64_t relaidCharacterCount();

} // namespace cw::editor
