// Breaking attributed text into typeset lines at a width, for measuring.
#pragma once

#include "platform/text/TextRange.h"

#include <vector>

namespace platform {

class AttributedString;

// One typeset line. `range` includes the line's trailing white space and, on the last line of a
// paragraph, its terminator. Metrics in points.
struct TypesetLine {
    TextRange range;
    double ascent = 0;
    double descent = 0;
    double leading = 0;
    // Height of the line's (optical) bounds: what line heights, offsets and text heights add up.
    double height = 0;
    // Natural width of the line's glyphs.
    double width = 0;

    double typographicHeight() const { return ascent + descent + leading; }
};

// Breaks text into lines. The lines cover the text in order without gaps: each paragraph gives
// at least one line; a text that ends with a line break gives no empty line after it (measurers
// that want that line append a character). Empty text gives no lines. Implementations are
// stateless and may be used from any thread.
class Typesetter {
public:
    virtual ~Typesetter() = default;
    virtual std::vector<TypesetLine> typeset(const AttributedString& text, double width) const = 0;
};

// The shared typesetter over QTextLayout (needs a QGuiApplication for fonts).
const Typesetter& defaultTypesetter();

} // namespace platform
