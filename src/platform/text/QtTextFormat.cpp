#include "platform/text/QtTextFormat.h"

#include "platform/text/AttributedString.h"

namespace platform {

static QTextCharFormat::UnderlineStyle toQtUnderline(int style) {
    if ((style & 0xff) == UnderlineStyle::none) {
        return QTextCharFormat::NoUnderline;
    }
    switch (style & 0x0f00) {
    case UnderlineStyle::patternDot:
        return QTextCharFormat::DotLine;
    case UnderlineStyle::patternDash:
        return QTextCharFormat::DashUnderline;
    case UnderlineStyle::patternDashDot:
        return QTextCharFormat::DashDotLine;
    case UnderlineStyle::patternDashDotDot:
        return QTextCharFormat::DashDotDotLine;
    default:
        return QTextCharFormat::SingleUnderline;
    }
}

QTextCharFormat toCharFormat(const Attributes& attributes) {
    QTextCharFormat format;
    if (attributes.font) {
        format.setFont(attributes.font->toQFont(), QTextCharFormat::FontPropertiesAll);
    }
    if (attributes.foregroundColor) {
        format.setForeground(attributes.foregroundColor->toQColor());
    }
    if (attributes.backgroundColor) {
        format.setBackground(attributes.backgroundColor->toQColor());
    }
    if (attributes.underlineStyle && *attributes.underlineStyle != UnderlineStyle::none) {
        format.setUnderlineStyle(toQtUnderline(*attributes.underlineStyle));
        if (attributes.underlineColor) {
            format.setUnderlineColor(attributes.underlineColor->toQColor());
        }
    }
    return format;
}

QTextOption toTextOption(const ParagraphStyle& style) {
    QTextOption option;
    Qt::Alignment alignment = Qt::AlignLeft;
    switch (style.alignment) {
    case ParagraphAlignment::left:
        alignment = Qt::AlignLeft | Qt::AlignAbsolute;
        break;
    case ParagraphAlignment::center:
        alignment = Qt::AlignHCenter;
        break;
    case ParagraphAlignment::right:
        alignment = Qt::AlignRight | Qt::AlignAbsolute;
        break;
    case ParagraphAlignment::justified:
        alignment = Qt::AlignJustify;
        break;
    case ParagraphAlignment::natural:
        alignment = Qt::AlignLeading;
        break;
    }
    option.setAlignment(alignment);
    switch (style.lineBreakMode) {
    case LineBreakMode::wordWrapping:
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        break;
    case LineBreakMode::charWrapping:
        option.setWrapMode(QTextOption::WrapAnywhere);
        break;
    case LineBreakMode::clipping:
    case LineBreakMode::truncatingHead:
    case LineBreakMode::truncatingTail:
    case LineBreakMode::truncatingMiddle:
        option.setWrapMode(QTextOption::NoWrap);
        break;
    }
    switch (style.baseWritingDirection) {
    case WritingDirection::natural:
        break;
    case WritingDirection::leftToRight:
        option.setTextDirection(Qt::LeftToRight);
        break;
    case WritingDirection::rightToLeft:
        option.setTextDirection(Qt::RightToLeft);
        break;
    }
    return option;
}

QList<QTextLayout::FormatRange> formatRanges(const AttributedString& text, TextRange range) {
    QList<QTextLayout::FormatRange> result;
    for (const AttributedString::Run& run : text.runs(range)) {
        QTextLayout::FormatRange format;
        format.start = run.range.location - range.location;
        format.length = run.range.length;
        format.format = toCharFormat(run.attributes);
        result.append(format);
    }
    return result;
}

} // namespace platform
