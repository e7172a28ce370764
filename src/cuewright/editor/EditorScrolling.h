// The editor's scroll offset and the project's progress, one from the other, and when a scroll of
// the editor may move the project.
#pragma once

#include "cuewright/model/Editor.h"

#include <optional>
#include <vector>

class QTextDocument;

namespace cw::EditorScrolling {

// The script's lines as the project counts them: `ranges` from the line table, `count` with the
// empty line after a closing line break. A progress reads line progress × count (from 0) and a
// share of it, in every view alike, whatever the view's own line breaks.
struct CountedLines {
    const std::vector<Editor::LineRange>& ranges;
    int count = 0;
};

// The scroll offset (the document's y at the reading position) that shows `progress` in
// `document` as laid out. The editor breaks its lines at other words than the prompters (its own
// size, and the cuts of long paragraphs), so its line at the reading position is one that holds
// words of the counted line the progress reads, and at the progress that reads the middle of a
// counted line (where a step comes to rest) it is the middle of the line that holds that counted
// line's first word. The text's top at 0, its end at 1. Monotonic and continuous in the progress;
// lays out no more than up to that word. 0 without lines.
double scrollOffset(const QTextDocument& document, const CountedLines& lines, double progress);

// The progress that shows `offset`: the inverse of scrollOffset(), held within 0...1; where several
// counted lines start on the editor's line at the offset, the first of them. None without lines
// (an empty text whose view still scrolls), so the project never gets an undefined position.
std::optional<double> progress(const QTextDocument& document, const CountedLines& lines, double offset);

// The text's place at the reading position for `progress`: a character's position and the share
// of the line's characters before the reading position, as one number (the end of the text on the
// empty line after a closing break). 0 without lines.
double textPosition(const CountedLines& lines, double progress);
// The inverse: the progress that puts `position` at the reading position, at the same share of its
// line; within 0...1, 0 without lines.
double progressAt(const CountedLines& lines, double position);
// The same by height alone, for a text only partly in the view: `progress` of `usedHeight`.
double scrollOffset(double progress, double usedHeight);

// What decides whether a scroll of the editor moves the project's progress.
struct ScrollEvent {
    bool freezeScroll = false;  // the editor window has not yet shown the editor
    bool syncEnabled = true;    // "syncTeleprompterWindowToEditorScrolling"
    bool isWheel = false;       // the scroll came from the scroll wheel
    bool sameWindow = false;    // the wheel turned over the editor's own window
    bool ignoreScroll = false;  // the editor is scrolling itself
    bool playing = false;       // a playing transport is never moved from the editor
    bool hasScrollView = false; // the text view scrolls
};
bool movesProgress(const ScrollEvent& event);

} // namespace cw::EditorScrolling
