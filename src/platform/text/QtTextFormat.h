// Conversions from our text attributes to Qt's text formats, for layout and drawing.
#pragma once

#include "platform/text/TextRange.h"

#include <QList>
#include <QTextCharFormat>
#include <QTextLayout>
#include <QTextOption>

namespace platform {

class AttributedString;
struct Attributes;
struct ParagraphStyle;

// Font, colours and underline of `attributes`; unset attributes stay unset in the format.
QTextCharFormat toCharFormat(const Attributes& attributes);
// Alignment and wrapping of a paragraph.
QTextOption toTextOption(const ParagraphStyle& style);
// The runs of `range` as format ranges whose starts are relative to range.location.
QList<QTextLayout::FormatRange> formatRanges(const AttributedString& text, TextRange range);

} // namespace platform
