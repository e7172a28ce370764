// Horizontal alignment of the prompter text.
#pragma once

#include "base/EnumTable.h"

#include <QtCore/qnamespace.h>

namespace cw {

// Raw strings are stored in scripts, settings and the display database; the index is the
// order of the alignment pop-ups and segmented controls. Fallback: center.
enum class TextAlignment { left, center, right };

inline constexpr base::EnumTable<TextAlignment, 3> textAlignmentTable{{{{TextAlignment::left, "left", 0},
                                                                        {TextAlignment::center, "center", 1},
                                                                        {TextAlignment::right, "right", 2}}},
                                                                      TextAlignment::center};
constexpr const auto& enumTable(TextAlignment) {
    return textAlignmentTable;
}

// How Qt aligns text of an alignment: left and right whatever the writing direction.
constexpr Qt::Alignment qtAlignment(TextAlignment alignment) {
    switch (alignment) {
    case TextAlignment::left:
        return Qt::AlignLeft | Qt::AlignAbsolute;
    case TextAlignment::center:
        return Qt::AlignHCenter;
    case TextAlignment::right:
        return Qt::AlignRight | Qt::AlignAbsolute;
    }
    return Qt::AlignHCenter;
}

} // namespace cw
