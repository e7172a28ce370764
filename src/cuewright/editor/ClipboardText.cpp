#include "cuewright/editor/ClipboardText.h"

#include "cuewright/editor/TextBridge.h"
#include "platform/text/HtmlReader.h"

#include <QMimeData>
#include <QStringDecoder>
#include <QTextDocument>

#include <algorithm>
#include <array>
#include <bitset>

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

QString htmlOf(const QMimeData& source) {
    const QByteArray bytes = source.data(QStringLiteral("text/html"));
    auto encoding = QStringConverter::Utf8;
    if (bytes.startsWith("\xFF\xFE")) {
        encoding = QStringConverter::Utf16LE;
    } else if (bytes.startsWith("\xFE\xFF")) {
        encoding = QStringConverter::Utf16BE;
    } else if (bytes.size() >= 2 && (bytes[0] == 0) != (bytes[1] == 0)) {
        encoding = bytes[0] == 0 ? QStringConverter::Utf16BE : QStringConverter::Utf16LE;
    }
    // The decoder drops a leading byte-order mark.
    QStringDecoder decoder(encoding);
    QString html = decoder.decode(bytes);
    if (!decoder.hasError() || encoding != QStringConverter::Utf8) {
        return html;
    }
    // Bytes that are no UTF-8 are in an older encoding, which the <meta> names as a rule
    // (windows-1252, ISO-8859-2, Shift JIS). One of Unicode's it names is no such encoding.
    QStringDecoder named = QStringDecoder::decoderForHtml(bytes);
    if (!named.isValid() || qstrnicmp(named.name(), "utf", 3) == 0) {
        return html;
    }
    return named.decode(bytes);
}

HtmlPaste readHtml(const QString& html, const HtmlBounds& bounds) {
    HtmlPaste paste;
    if (html.size() > bounds.maxCharacters) {
        paste.excess = HtmlExcess::size;
        return paste;
    }
    platform::HtmlReading reading = platform::readHtml(html.toUtf8());
    paste.bytesParsed = reading.bytesRead;
    paste.nodesVisited = reading.nodesVisited;
    switch (reading.end) {
    case platform::HtmlReading::End::whole:
        paste.text = std::move(reading.text);
        break;
    case platform::HtmlReading::End::tooDeep:
        paste.excess = HtmlExcess::depth;
        break;
    case platform::HtmlReading::End::tooManyAttributes:
        paste.excess = HtmlExcess::attributes;
        break;
    }
    return paste;
}

platform::AttributedString fromHtml(const QString& html) {
    return platform::readHtml(html.toUtf8()).text;
}

} // namespace cw::editor::ClipboardText
