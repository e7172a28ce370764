// A place in the script the presenter can jump to.
#pragma once

#include <string>

namespace cw {

// Gathered from the text: either an embedded bookmark object or a line starting with "*".
struct Bookmark {
    std::string id;
    int location = 0;         // UTF-16 offset in the text
    int line = -1;            // visual line from the editor's line table, -1 when unknown
    double timestamp = -1;    // seconds into the script at the current speed, -1 when unknown
    std::string excerpt;      // the bookmark's line, trimmed
    std::string userBlurb;    // the user's note; empty for "*" lines
    int sortOrder = -1;

    bool operator==(const Bookmark&) const = default;
};

} // namespace cw
