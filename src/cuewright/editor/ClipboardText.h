// The script's text on the clipboard: what Copy, Cut and a drag give, and reading HTML back.
#pragma once

#include "platform/text/AttributedString.h"

#include <QString>
#include <QStringView>

#include <optional>

namespace cw::editor::ClipboardText {

// The flavour only Cuewright reads: the text with every character and its formatting, in the
// RTF the script file keeps it in. A paste prefers it to every other flavour.
inline constexpr char scriptMimeType[] = "application/x-cuewright-rtf";

// `text` as HTML for other programs, a paragraph for each: the characters a QTextDocument keeps
// for itself (U+FFFC, U+FDD0, U+FDD1, U+2029) stand in it as character references, where Qt's own
// HTML would drop the line of the first and break the line at the others.
QString toHtml(const platform::AttributedString& text);

// What reading HTML costs Qt grows with its size and, for each element, with the number of
// elements around it (its style is matched against all of them): 20,000 nested tables hold it
// for over a minute. HTML past these bounds is not read. A page copied from a browser is nested
// a few dozen deep; a megabyte of HTML takes Qt about a second.
struct HtmlBounds {
    qsizetype maxCharacters = qsizetype{1} << 20;
    int maxDepth = 512;
    // The depths of all the elements added up.
    qint64 maxNesting = 3'000'000;
};
enum class HtmlExcess { none, size, depth };
// Why `html` is past the bounds, found by a walk over its tags that costs no more than reading
// its characters (a tag left open where HTML closes it by itself, as a paragraph before the next
// one, is closed).
HtmlExcess excess(QStringView html, const HtmlBounds& bounds = {});

// The text Qt reads from `html` (within the bounds), with U+FFFC, U+FDD0, U+FDD1 and U+2029 kept
// wherever the HTML holds them, as characters or references. Pictures are dropped: a picture
// is no character of the script.
platform::AttributedString fromHtml(const QString& html);

} // namespace cw::editor::ClipboardText
