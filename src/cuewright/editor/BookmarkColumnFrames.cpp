#include "cuewright/editor/BookmarkColumnFrames.h"

namespace cw::editor {

BookmarkColumnFrames BookmarkColumnFrames::place(bool shown, QRect left, QRect center, int rightAnchorX) {
    const int editorX = shown ? columnWidth : 0;
    if (shown) {
        left.moveLeft(0);
        left.setWidth(columnWidth);
    } else {
        left.moveLeft(-columnWidth);
    }
    center.moveLeft(editorX);
    center.setWidth(rightAnchorX - editorX);
    return {left, center};
}

} // namespace cw::editor
