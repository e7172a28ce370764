// The typesetter over QTextLayout.
#pragma once

#include "platform/text/Typesetter.h"

namespace platform {

// Lays out each paragraph (split at LF, CR, CR LF and U+2029; U+2028 breaks a line inside one)
// with its own QTextLayout, using the paragraph style of its first character. Line heights are
// ascent + descent + leading, unrounded. Needs a QGuiApplication; usable from any thread.
class QtTypesetter final : public Typesetter {
public:
    std::vector<TypesetLine> typeset(const AttributedString& text, double width) const override;
};

} // namespace platform
