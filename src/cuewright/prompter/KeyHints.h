// The key hints the prompter's controls draw: which fixed keys a custom binding took over and the
// text of each action's custom key.
#pragma once

#include <QString>

namespace cw {

// Filled by whoever owns the key bindings (the prompter does not read them itself) and handed to
// PrompterControlPanel::setKeyHints whenever the bindings change. An empty text means "no binding".
struct KeyHints {
    bool spaceBound = false;     // a custom binding uses Space: the transport hides "S P A C E B A R"
    bool deleteBound = false;    // ... Backspace: the rewind control hides its symbol
    bool upArrowBound = false;   // ... the up arrow: the line-up button hides its symbol
    bool downArrowBound = false; // ... the down arrow: the line-down button hides its symbol
    QString playPause;
    QString rewind;
    QString incSpeed;
    QString decSpeed;
    QString lineUp;
    QString lineDown;

    bool operator==(const KeyHints&) const = default;
};

} // namespace cw
