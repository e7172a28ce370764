// Where the editor window's bookmark column and editor stand when the column shows or hides.
#pragma once

#include <QRect>

namespace cw::editor {

// The left anchor (the bookmark column) and the centre anchor (the editor) of the window.
struct BookmarkColumnFrames {
    static constexpr int columnWidth = 250;

    QRect left;
    QRect center;

    // Shown: the column at x 0, 250 wide, the editor from x 250 to the right anchor's origin.
    // Hidden: the column moved out to x -250 (its width kept), the editor from x 0 to the right
    // anchor's origin. Other components of the frames stay.
    static BookmarkColumnFrames place(bool shown, QRect left, QRect center, int rightAnchorX);

    bool operator==(const BookmarkColumnFrames&) const = default;
};

} // namespace cw::editor
