// The editor's scroll offset and the project's progress, one from the other, and when a scroll of
// the editor may move the project.
#pragma once

namespace cw::EditorScrolling {

// The scroll offset that shows `progress` of a text whose laid-out height is `usedHeight`.
double scrollOffset(double progress, double usedHeight);

// The progress that a scroll offset stands for, held within 0...1. A text with no laid-out
// height (an empty script whose view still scrolls) gives no quotient: `currentProgress` is kept,
// so the project never receives an infinite or undefined position.
double progress(double scrollOffset, double usedHeight, double currentProgress);

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
