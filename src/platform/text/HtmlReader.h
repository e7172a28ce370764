// Reading HTML from outside (another program's clipboard) into an attributed string.
#pragma once

#include "platform/text/AttributedString.h"

#include <QByteArrayView>

namespace platform {

struct HtmlReadBounds {
    // The parser compares each attribute's name with all those before it in its tag: a start tag
    // with more than twice this many attributes stops the read (one with this many or fewer never
    // does; the parser's own array of them grows in doublings).
    int maxAttributes = 1000;
    // Elements nested deeper than this lend their text no formatting of their own. The parser
    // itself stops at 256 (the read then ends early).
    int maxStyledDepth = 32;
};

struct HtmlReading {
    enum class End {
        whole,             // all of the HTML was read
        tooDeep,           // the parser stopped before the end, where elements nest past its depth
        tooManyAttributes, // a start tag had more than maxAttributes
    };
    // The text up to where the read ended.
    AttributedString text;
    End end = End::whole;
    // The work done: bytes the parser took in, and nodes of its tree visited.
    qint64 bytesRead = 0;
    qint64 nodesVisited = 0;
};

// Reads UTF-8 HTML with libxml2's HTML parser (linear in the input and depth-bounded) and keeps
// what a script keeps: the text, paragraph breaks (block elements, list items and table rows;
// <br> as a line break), a table row as one paragraph with a tab between its cells (spans
// ignored; the paragraphs and line breaks inside a cell as line breaks), and bold, italic,
// underline (links too), colour, size, family and alignment from elements and inline style
// attributes. The markers of Word's conditional comments (`<![if ...]>`, `<![endif]>`) and <wbr>
// give nothing, as in a browser.
// Style sheets, scripts, the head and pictures give nothing; no URL, file or network resource is
// ever opened. Every character gets a font (no family and 12 pt where the HTML names none).
// Any thread; never throws.
HtmlReading readHtml(QByteArrayView utf8, const HtmlReadBounds& bounds = {});

} // namespace platform
