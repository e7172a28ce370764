#include "cuewright/editor/TextFinder.h"

#include "cuewright/editor/TextBridge.h"
#include "platform/text/EmbeddedBookmark.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

namespace cw::editor::TextFinder {

namespace {

// The matches in the text as it is, in its own positions.
std::vector<platform::TextRange> textMatches(const QString& text, const QString& needle,
                                             Qt::CaseSensitivity sensitivity) {
    std::vector<platform::TextRange> found;
    if (needle.isEmpty()) {
        return found;
    }
    for (qsizetype at = text.indexOf(needle, 0, sensitivity); at >= 0;
         at = text.indexOf(needle, at + needle.size(), sensitivity)) {
        found.push_back({int(at), int(needle.size())});
    }
    return found;
}

} // namespace

std::vector<platform::TextRange> matches(const QTextDocument& document, const QString& needle,
                                         Qt::CaseSensitivity sensitivity) {
    const PlainText plain = plainText(document);
    std::vector<platform::TextRange> found = textMatches(plain.string, needle, sensitivity);
    for (platform::TextRange& range : found) {
        range = plain.documentRange(range);
    }
    return found;
}

std::optional<platform::TextRange> next(const QTextDocument& document, const QString& needle, int from,
                                        Direction direction, Qt::CaseSensitivity sensitivity) {
    if (needle.isEmpty()) {
        return std::nullopt;
    }
    const PlainText plain = plainText(document);
    const QString& text = plain.string;
    from = plain.textPosition(from);
    qsizetype at = -1;
    if (direction == Direction::forward) {
        at = text.indexOf(needle, std::max(0, from), sensitivity);
        if (at < 0) {
            at = text.indexOf(needle, 0, sensitivity);
        }
    } else {
        at = from > 0 ? text.lastIndexOf(needle, from - 1, sensitivity) : -1;
        if (at < 0) {
            at = text.lastIndexOf(needle, -1, sensitivity);
        }
    }
    if (at < 0) {
        return std::nullopt;
    }
    return plain.documentRange({int(at), int(needle.size())});
}

QString characters(const QTextDocument& document, platform::TextRange range) {
    return attributedText(document, range.location, range.end()).string();
}

bool isMatch(const QTextDocument& document, platform::TextRange range, const QString& needle,
             Qt::CaseSensitivity sensitivity) {
    return !needle.isEmpty() && range.length >= needle.size() && range.end() < document.characterCount() &&
           characters(document, range).compare(needle, sensitivity) == 0;
}

std::vector<platform::TextRange> changingMatches(const QTextDocument& document, const QString& needle,
                                                 const QString& replacement,
                                                 Qt::CaseSensitivity sensitivity) {
    const PlainText plain = plainText(document);
    std::vector<platform::TextRange> found = textMatches(plain.string, needle, sensitivity);
    if (needle.size() == replacement.size()) {
        std::erase_if(found, [&](const platform::TextRange& range) {
            return QStringView(plain.string).mid(range.location, range.length) == replacement;
        });
    }
    for (platform::TextRange& range : found) {
        range = plain.documentRange(range);
    }
    return found;
}

namespace {

using platform::EmbeddedBookmarkPtr;

EmbeddedBookmarkPtr bookmarkOf(const QTextCharFormat& format) {
    return format.property(TextProperty::bookmark).value<EmbeddedBookmarkPtr>();
}

void markBookmark(QTextCursor& cursor, int position, const EmbeddedBookmarkPtr& bookmark) {
    cursor.setPosition(position);
    cursor.setPosition(position + 1, QTextCursor::KeepAnchor);
    QTextCharFormat format;
    format.setProperty(TextProperty::bookmark, QVariant::fromValue(bookmark));
    cursor.mergeCharFormat(format);
}

} // namespace

void replace(QTextCursor& cursor, platform::TextRange range, const QString& replacement) {
    // The first character's format, and the bookmarks on the characters replaced, in order; a
    // range may reach over a cut into the next block.
    std::optional<QTextCharFormat> format;
    std::vector<EmbeddedBookmarkPtr> bookmarks;
    for (QTextBlock block = cursor.document()->findBlock(range.location);
         block.isValid() && block.position() < range.end(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (fragment.position() >= range.end()) {
                break;
            }
            if (fragment.position() + fragment.length() <= range.location) {
                continue;
            }
            if (!format) {
                format = fragment.charFormat();
            }
            const EmbeddedBookmarkPtr bookmark = bookmarkOf(fragment.charFormat());
            if (bookmark && std::find(bookmarks.begin(), bookmarks.end(), bookmark) == bookmarks.end()) {
                bookmarks.push_back(bookmark);
            }
        }
    }
    QTextCharFormat inserted = format.value_or(cursor.document()->findBlock(range.location).charFormat());
    inserted.clearProperty(TextProperty::bookmark);
    cursor.setPosition(range.location);
    cursor.setPosition(range.end(), QTextCursor::KeepAnchor);
    cursor.insertText(replacement, inserted);
    const int length = int(replacement.size());
    if (!bookmarks.empty()) {
        const QTextBlock after = cursor.document()->findBlock(range.location);
        const int blockEnd = after.position() + after.length() - 1; // before the paragraph break
        for (size_t i = 0; i < bookmarks.size(); ++i) {
            int position = range.location + std::min(int(i), length - 1);
            if (length == 0) {
                position = range.location < blockEnd ? range.location : range.location - 1;
            }
            if (position >= after.position() && position < blockEnd) {
                markBookmark(cursor, position, bookmarks[i]);
            }
        }
    }
    cursor.setPosition(range.location);
    cursor.setPosition(range.location + length, QTextCursor::KeepAnchor);
}

} // namespace cw::editor::TextFinder
