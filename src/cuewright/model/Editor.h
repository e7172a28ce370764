// The editing state that the editor window shares with the rest of the application.
#pragma once

#include "platform/text/Color.h"
#include "platform/text/Font.h"
#include "platform/text/TextRange.h"

#include <memory>
#include <vector>

namespace cw {

class ScreenManager;

// A value; the project hands out copies and takes a whole new one through Project::setEditor.
// The screen manager is shared by every copy: it is the project's one manager of displays.
struct Editor {
    enum class Mode { script, overlay, displays }; // the sidebar pane the editor shows

    struct TypingAttributes {
        platform::Color textColor = platform::Color::yellow();
        platform::Font font{QString(), 34}; // an empty family is the system font
        bool operator==(const TypingAttributes&) const = default;
    };

    // One visual line of the editor's layout: its number and its characters.
    struct LineRange {
        int lineNum = 0;
        platform::TextRange range;
        bool operator==(const LineRange&) const = default;
    };

    double lineHeight = 0; // the typing font's point size as the editor lays it out
    Mode mode = Mode::script;
    TypingAttributes typingAttributes;
    std::shared_ptr<ScreenManager> screenManager; // may be null
    bool isLocked = false;
    std::vector<LineRange> lineRanges; // filled by the editor
    int lineCount = 0;                 // filled by the editor

    bool operator==(const Editor&) const = default;
};

} // namespace cw
