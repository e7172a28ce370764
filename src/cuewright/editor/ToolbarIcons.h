// The editor window's toolbar and find bar glyphs, drawn in code in the colour of the window's text.
#pragma once

#include <QColor>
#include <QIcon>

namespace cw::editor {

enum class ToolbarGlyph {
    bookmarkColumn,
    play,
    pause,
    prompterWindow,
    lockOpen,
    lockClosed,
    script,
    overlay,
    displays,
    // the find bar's
    previousMatch,
    nextMatch,
    close,
    search
};

// The glyph as an icon, sharp at 1× and 2× device pixels. With `onGlyph`, the icon shows that
// glyph instead in its "on" state (a checked toolbar button).
QIcon toolbarIcon(ToolbarGlyph glyph, const QColor& color);
QIcon toolbarIcon(ToolbarGlyph offGlyph, ToolbarGlyph onGlyph, const QColor& color);

} // namespace cw::editor
