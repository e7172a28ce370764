// The script's text on the clipboard: what Copy, Cut and a drag give, and reading HTML back.
#pragma once

#include "platform/text/AttributedString.h"

#include <QString>
#include <QStringView>

#include <optional>

class QMimeData;

namespace cw::editor::ClipboardText {

// The flavour only Cuewright reads: the text with every character and its formatting, in the
// RTF the script file keeps it in. A paste prefers it to every other flavour.
inline constexpr char scriptMimeType[] = "application/x-cuewright-rtf";

// `text` as HTML for other programs, a paragraph for each: the characters a QTextDocument keeps
// for itself (U+FFFC, U+FDD0, U+FDD1, U+2029) stand in it as character references, where Qt's own
// HTML would drop the line of the first and break the line at the others.
QString toHtml(const platform::AttributedString& text);

// HTML from another program is read by libxml2's parser (see platform::readHtml): what it
// costs grows with the size alone, and HTML past these bounds is not read.
struct HtmlBounds {
    qsizetype maxCharacters = qsizetype{1} << 20;
};
// Why HTML was not read: larger than the bounds, nested past the parser's depth, or a tag with
// more attributes than it reads.
enum class HtmlExcess { none, size, depth, attributes };
struct HtmlPaste {
    platform::AttributedString text; // empty unless excess is none
    HtmlExcess excess = HtmlExcess::none;
    // The work the read took: bytes the parser took in and nodes of its tree visited.
    qint64 bytesParsed = 0;
    qint64 nodesVisited = 0;
};
// The HTML of `source` (its "text/html"), decoded by a byte-order mark, else as UTF-16 where its
// first character shows it (HTML starts with ASCII, a zero byte beside it), else as UTF-8; only
// bytes that are no UTF-8 are decoded by the charset its <meta> names, if that is no Unicode one.
// QMimeData::html() would trust the <meta> first: a UTF-8 page that names UTF-16 or Latin-1
// would come out as other characters.
QString htmlOf(const QMimeData& source);

// What a paste takes from `html`: its text with what a script keeps of its formatting, or why
// it is not read. Nothing the HTML names is opened or loaded. Any thread.
HtmlPaste readHtml(const QString& html, const HtmlBounds& bounds = {});

// The text of `html` as far as it can be read, whatever its bounds; pictures are no characters
// of the script and give none.
platform::AttributedString fromHtml(const QString& html);

} // namespace cw::editor::ClipboardText
