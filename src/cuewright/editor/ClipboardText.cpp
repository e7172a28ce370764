#include "cuewright/editor/ClipboardText.h"

#include "cuewright/editor/TextBridge.h"

#include <QHash>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <array>
#include <bitset>
#include <vector>

namespace cw::editor::ClipboardText {

namespace {

// The characters a QTextDocument keeps for itself: an object, a frame's start and end, and its
// paragraph break.
constexpr std::array<char16_t, 4> kReserved = {0xFFFC, 0xFDD0, 0xFDD1, 0x2029};
using Placeholders = std::array<char16_t, 4>;

constexpr char16_t kPrivateUseFirst = 0xE000;
constexpr char16_t kPrivateUseLast = 0xF8FF;
using PrivateUse = std::bitset<kPrivateUseLast - kPrivateUseFirst + 1>;

void markPrivateUse(PrivateUse& used, char32_t c) {
    if (c >= kPrivateUseFirst && c <= kPrivateUseLast) {
        used.set(c - kPrivateUseFirst);
    }
}

// Characters of the private use area that stand in for the reserved ones while Qt handles the
// text: four that the text does not hold. Nullopt when it holds nearly all of them.
std::optional<Placeholders> placeholders(const PrivateUse& used) {
    Placeholders chosen{};
    size_t found = 0;
    for (size_t i = 0; i < used.size() && found < chosen.size(); ++i) {
        if (!used.test(i)) {
            chosen[found++] = char16_t(kPrivateUseFirst + i);
        }
    }
    return found == chosen.size() ? std::optional(chosen) : std::nullopt;
}

int indexIn(const Placeholders& set, char16_t c) {
    const auto at = std::find(set.begin(), set.end(), c);
    return at == set.end() ? -1 : int(at - set.begin());
}

// `text` with each character of `from` replaced by the one at its place in `to`; the runs stay.
platform::AttributedString swapped(const platform::AttributedString& text, const Placeholders& from,
                                   const Placeholders& to) {
    const QString& string = text.string();
    if (std::none_of(string.begin(), string.end(),
                     [&](QChar c) { return indexIn(from, c.unicode()) >= 0; })) {
        return text;
    }
    platform::AttributedString result;
    for (const auto& run : text.runs()) {
        QString piece = string.mid(run.range.location, run.range.length);
        for (QChar& c : piece) {
            if (const int at = indexIn(from, c.unicode()); at >= 0) {
                c = QChar(to[size_t(at)]);
            }
        }
        result.append(piece, run.attributes);
    }
    return result;
}

int digitValue(char16_t c, bool hex) {
    if (c >= u'0' && c <= u'9') {
        return c - u'0';
    }
    if (hex && c >= u'a' && c <= u'f') {
        return c - u'a' + 10;
    }
    if (hex && c >= u'A' && c <= u'F') {
        return c - u'A' + 10;
    }
    return -1;
}

// The character reference ("&#65532;", "&#xFFFC;") at `at` of `html`: its value and length.
// Values past the last code point read as one past it.
std::optional<std::pair<char32_t, qsizetype>> characterReference(QStringView html, qsizetype at) {
    if (at + 2 >= html.size() || html[at] != u'&' || html[at + 1] != u'#') {
        return std::nullopt;
    }
    const bool hex = html[at + 2] == u'x' || html[at + 2] == u'X';
    qsizetype end = at + (hex ? 3 : 2);
    const qsizetype digits = end;
    char32_t value = 0;
    for (int digit = 0; end < html.size() && (digit = digitValue(html[end].unicode(), hex)) >= 0; ++end) {
        value = std::min<char32_t>(value * (hex ? 16 : 10) + char32_t(digit), 0x110000);
    }
    if (end == digits || end >= html.size() || html[end] != u';') {
        return std::nullopt;
    }
    return std::pair{value, end + 1 - at};
}

// The place in kReserved of the character `value`, -1 for any other.
int reservedIndex(char32_t value) {
    return value <= 0xFFFF ? indexIn(kReserved, char16_t(value)) : -1;
}

// `html` with the reserved characters, as they are or as references, replaced by placeholders
// that neither it nor its references hold; nullopt when it holds none of them.
std::optional<std::pair<QString, Placeholders>> protectedHtml(const QString& html) {
    PrivateUse used;
    bool reserved = false;
    for (qsizetype at = 0; at < html.size(); ++at) {
        const char16_t c = html[at].unicode();
        if (indexIn(kReserved, c) >= 0) {
            reserved = true;
        } else if (c == u'&') {
            if (const auto reference = characterReference(html, at)) {
                reserved = reserved || reservedIndex(reference->first) >= 0;
                markPrivateUse(used, reference->first);
            }
        } else {
            markPrivateUse(used, c);
        }
    }
    const auto chosen = reserved ? placeholders(used) : std::nullopt;
    if (!chosen) {
        return std::nullopt;
    }
    QString result;
    result.reserve(html.size());
    for (qsizetype at = 0; at < html.size();) {
        const char16_t c = html[at].unicode();
        if (const int index = indexIn(kReserved, c); index >= 0) {
            result += QChar((*chosen)[size_t(index)]);
            ++at;
            continue;
        }
        if (c == u'&') {
            if (const auto reference = characterReference(html, at);
                reference && reservedIndex(reference->first) >= 0) {
                result += QChar((*chosen)[size_t(reservedIndex(reference->first))]);
                at += reference->second;
                continue;
            }
        }
        result += html[at];
        ++at;
    }
    return std::pair{result, *chosen};
}

// Removes the pictures (and any other object) from `document`.
void dropObjects(QTextDocument& document) {
    std::vector<std::pair<int, int>> objects;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (fragment.charFormat().objectType() != QTextFormat::NoObject) {
                objects.emplace_back(fragment.position(), fragment.length());
            }
        }
    }
    QTextCursor cursor(&document);
    for (auto object = objects.rbegin(); object != objects.rend(); ++object) {
        cursor.setPosition(object->first);
        cursor.setPosition(object->first + object->second, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }
}

template <size_t N> bool isOneOf(QStringView name, const QStringView (&names)[N]) {
    return std::find(std::begin(names), std::end(names), name) != std::end(names);
}

// HTML elements without content, never closed.
bool isVoidElement(QStringView name) {
    static const QStringView names[] = {u"area",  u"base", u"br",   u"col",   u"embed",  u"hr",    u"img",
                                        u"input", u"link", u"meta", u"param", u"source", u"track", u"wbr"};
    return isOneOf(name, names);
}

// Whether HTML closes the element `open`, innermost of those open, where `opening` begins: a
// paragraph before a block, a list item or table cell before its sibling.
bool closesOpen(QStringView opening, QStringView open) {
    static const QStringView blocks[] = {
        u"address", u"article",  u"aside",  u"blockquote", u"dd",      u"div",   u"dl",
        u"dt",      u"fieldset", u"figure", u"footer",     u"form",    u"h1",    u"h2",
        u"h3",      u"h4",       u"h5",     u"h6",         u"header",  u"li",    u"main",
        u"nav",     u"ol",       u"p",      u"pre",        u"section", u"table", u"ul"};
    static const QStringView cells[] = {u"td", u"th"};
    static const QStringView rows[] = {u"td", u"th", u"tr"};
    static const QStringView sections[] = {u"tbody", u"td", u"tfoot", u"th", u"thead", u"tr"};
    static const QStringView terms[] = {u"dd", u"dt"};
    if (open == u"p") {
        return isOneOf(opening, blocks);
    }
    if (opening == u"li" || opening == u"option") {
        return open == opening;
    }
    if (opening == u"dd" || opening == u"dt") {
        return isOneOf(open, terms);
    }
    if (opening == u"td" || opening == u"th") {
        return isOneOf(open, cells);
    }
    if (opening == u"tr") {
        return isOneOf(open, rows);
    }
    if (opening == u"tbody" || opening == u"thead" || opening == u"tfoot") {
        return isOneOf(open, sections);
    }
    return false;
}

// Elements whose content is text up to their end tag.
bool holdsRawText(QStringView name) {
    return name == u"script" || name == u"style" || name == u"textarea" || name == u"title";
}

bool isNameCharacter(QChar c) {
    return c.unicode() < 0x80 && (c.isLetterOrNumber() || c == u'-' || c == u':' || c == u'_');
}

} // namespace

QString toHtml(const platform::AttributedString& text) {
    PrivateUse used;
    bool reserved = false;
    for (const QChar c : text.string()) {
        reserved = reserved || indexIn(kReserved, c.unicode()) >= 0;
        markPrivateUse(used, c.unicode());
    }
    const auto chosen = reserved ? placeholders(used) : std::nullopt;
    QTextDocument document;
    TextInsertion::insertParagraphs(document, chosen ? swapped(text, kReserved, *chosen) : text);
    QString html = document.toHtml();
    if (!chosen) {
        return html;
    }
    QString result;
    result.reserve(html.size());
    for (const QChar c : html) {
        if (const int index = indexIn(*chosen, c.unicode()); index >= 0) {
            result += QStringLiteral("&#x%1;").arg(uint(kReserved[size_t(index)]), 0, 16);
        } else {
            result += c;
        }
    }
    return result;
}

HtmlExcess excess(QStringView html, const HtmlBounds& bounds) {
    if (html.size() > bounds.maxCharacters) {
        return HtmlExcess::size;
    }
    QHash<QString, int> ids;    // element names, lower-cased, as small numbers
    std::vector<QString> names; // by number
    std::vector<int> open;      // the elements open, outermost first
    std::vector<int> openCount; // by number
    qint64 nesting = 0;
    const qsizetype size = html.size();
    const auto skipPast = [&](qsizetype from, QStringView end) {
        const qsizetype found = html.indexOf(end, from, Qt::CaseInsensitive);
        return found < 0 ? size : found + end.size();
    };
    const auto nameAt = [&](qsizetype from, qsizetype& end) {
        end = from;
        while (end < size && isNameCharacter(html[end])) {
            ++end;
        }
        return html.mid(from, std::min<qsizetype>(end - from, 32)).toString().toLower();
    };
    const auto idOf = [&](const QString& name) {
        if (const auto known = ids.constFind(name); known != ids.cend()) {
            return *known;
        }
        const int id = int(names.size());
        ids.insert(name, id);
        names.push_back(name);
        openCount.push_back(0);
        return id;
    };
    const auto close = [&] {
        --openCount[size_t(open.back())];
        open.pop_back();
    };
    for (qsizetype at = html.indexOf(u'<'); at >= 0 && at < size; at = html.indexOf(u'<', at)) {
        if (html.mid(at, 4) == u"<!--") {
            at = skipPast(at + 4, u"-->");
            continue;
        }
        if (at + 1 >= size) {
            break;
        }
        const QChar next = html[at + 1];
        if (next == u'!' || next == u'?') {
            at = skipPast(at + 2, u">");
            continue;
        }
        if (next == u'/') {
            qsizetype end = 0;
            const QString name = nameAt(at + 2, end);
            at = skipPast(end, u">");
            const auto id = ids.constFind(name);
            if (id != ids.cend() && openCount[size_t(*id)] > 0) {
                while (open.back() != *id) {
                    close();
                }
                close();
            }
            continue;
        }
        if (!next.isLetter()) {
            ++at;
            continue;
        }
        qsizetype end = 0;
        const QString name = nameAt(at + 1, end);
        // The tag's end, past quoted attribute values that may hold a ">".
        QChar quote;
        for (; end < size && (!quote.isNull() || html[end] != u'>'); ++end) {
            if (!quote.isNull() && html[end] == quote) {
                quote = QChar();
            } else if (quote.isNull() && (html[end] == u'"' || html[end] == u'\'')) {
                quote = html[end];
            }
        }
        const bool selfClosing = end < size && html[end - 1] == u'/';
        at = end + 1;
        const int id = idOf(name);
        while (!open.empty() && closesOpen(name, names[size_t(open.back())])) {
            close();
        }
        nesting += qint64(open.size()) + 1;
        if (isVoidElement(name) || selfClosing) {
            continue;
        }
        if (holdsRawText(name)) {
            at = skipPast(at, QString(QStringLiteral("</") + name));
            continue;
        }
        open.push_back(id);
        ++openCount[size_t(id)];
        if (int(open.size()) > bounds.maxDepth || nesting > bounds.maxNesting) {
            return HtmlExcess::depth;
        }
    }
    return nesting > bounds.maxNesting ? HtmlExcess::depth : HtmlExcess::none;
}

platform::AttributedString fromHtml(const QString& html) {
    const auto protectedText = protectedHtml(html);
    QTextDocument document;
    document.setHtml(protectedText ? protectedText->first : html);
    dropObjects(document);
    const platform::AttributedString text = attributedText(document);
    return protectedText ? swapped(text, protectedText->second, kReserved) : text;
}

} // namespace cw::editor::ClipboardText
