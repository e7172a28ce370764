#include "cuewright/editor/TextFinder.h"

#include "cuewright/editor/EditorAppearance.h"
#include "cuewright/editor/TextBridge.h"
#include "platform/text/EmbeddedBookmark.h"
#include "platform/text/ParagraphLines.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <limits>
#include <span>

namespace cw::editor::TextFinder {

namespace {

// The matches in the text as it is, in its own positions.
std::vector<platform::TextRange> textMatches(const QString& text, const QString& needle,
                                             Qt::CaseSensitivity sensitivity) {
    std::vector<platform::TextRange> found;
    MatchScan(text, needle, sensitivity)
        .scanNext([&](platform::TextRange range) { found.push_back(range); },
                  std::numeric_limits<int>::max());
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

namespace {

// Whether `replacement` changes the match `range` of `text`.
bool changes(const QString& text, platform::TextRange range, const QString& replacement) {
    return range.length != replacement.size() ||
           QStringView(text).mid(range.location, range.length) != replacement;
}

// The matches of `needle` in the text as it is that `replacement` changes, in its own positions.
std::vector<platform::TextRange> changingTextMatches(const QString& text, const QString& needle,
                                                     const QString& replacement,
                                                     Qt::CaseSensitivity sensitivity) {
    std::vector<platform::TextRange> found = textMatches(text, needle, sensitivity);
    std::erase_if(found,
                  [&](const platform::TextRange& range) { return !changes(text, range, replacement); });
    return found;
}

bool holdsParagraphEnd(const QString& text, int from, int to) {
    return std::any_of(text.begin() + from, text.begin() + to,
                       [](QChar c) { return platform::isParagraphEnd(c); });
}

// `old`, the text's characters from `start` on, with the matches `ranges` (in the text's
// positions) replaced as replace() replaces one: each replacement in the look of the first
// character it replaces, their bookmarks on its characters in order, or beside it in the same
// paragraph for an empty one.
platform::AttributedString replacedText(const platform::AttributedString& old, int start,
                                        std::span<const platform::TextRange> ranges,
                                        const QString& replacement) {
    platform::AttributedString result;
    std::vector<std::pair<int, platform::EmbeddedBookmarkPtr>> marks;
    const int length = int(replacement.size());
    int at = 0;
    for (const platform::TextRange& range : ranges) {
        const int from = range.location - start;
        if (from > at) {
            result.append(old.substring({at, from - at}));
        }
        platform::Attributes look = old.attributes(from);
        std::vector<platform::EmbeddedBookmarkPtr> bookmarks;
        for (const auto& run : old.runs({from, range.length})) {
            const auto& bookmark = run.attributes.bookmark;
            if (bookmark && std::find(bookmarks.begin(), bookmarks.end(), bookmark) == bookmarks.end()) {
                bookmarks.push_back(bookmark);
            }
        }
        look.bookmark = nullptr;
        const int placed = result.length();
        if (length > 0) {
            result.append(replacement, look);
        }
        for (size_t i = 0; i < bookmarks.size(); ++i) {
            marks.emplace_back(placed + std::min(int(i), std::max(length - 1, 0)), bookmarks[i]);
        }
        at = range.end() - start;
    }
    if (at < old.length()) {
        result.append(old.substring({at, old.length() - at}));
    }
    const QString& characters = result.string();
    for (const auto& mark : marks) {
        int position = mark.first;
        const auto& bookmark = mark.second;
        if (length == 0 && (position >= result.length() || platform::isParagraphEnd(characters[position]))) {
            --position; // the character before, in the same paragraph
        }
        if (position < 0 || position >= result.length() || platform::isParagraphEnd(characters[position])) {
            continue;
        }
        result.modifyAttributes({position, 1},
                                [&](platform::Attributes& attributes) { attributes.bookmark = bookmark; });
    }
    return result;
}

} // namespace

MatchScan::MatchScan(QString text, QString needle, Qt::CaseSensitivity sensitivity)
    : text_(std::move(text))
    , needle_(std::move(needle))
    , sensitivity_(sensitivity)
    , at_(needle_.isEmpty() ? -1 : 0) {}

bool MatchScan::scanNext(const std::function<void(platform::TextRange)>& found, int characters) {
    if (at_ < 0) {
        return true;
    }
    // A match starting in this part may reach into the next: it is this part's.
    const qsizetype stop = std::min(text_.size(), at_ + std::min<qsizetype>(characters, text_.size()));
    const QStringView part = QStringView(text_).first(std::min(text_.size(), stop + needle_.size() - 1));
    while (at_ < stop) {
        const qsizetype at = part.indexOf(needle_, at_, sensitivity_);
        if (at < 0) {
            at_ = stop;
            break;
        }
        found({int(at), int(needle_.size())});
        at_ = at + needle_.size();
    }
    if (at_ >= text_.size() - needle_.size() + 1) {
        at_ = -1;
    }
    return isDone();
}

double MatchScan::fraction() const {
    return isDone() || text_.isEmpty() ? 1.0 : double(at_) / double(text_.size());
}

ReplaceAll::ReplaceAll(const QTextDocument& document, const QString& needle, const QString& replacement,
                       Qt::CaseSensitivity sensitivity)
    : plain_(plainText(document))
    , scan_(plain_.string, needle, sensitivity)
    , replacement_(replacement)
    , limit_(int(plain_.string.size())) {}

bool ReplaceAll::gatherNext() {
    const bool gathered = scan_.scanNext([&](platform::TextRange range) {
        if (changes(plain_.string, range, replacement_)) {
            found_.push_back(range);
        }
    });
    end_ = found_.size();
    return gathered;
}

int ReplaceAll::replaceNext(QTextCursor& cursor) {
    if (end_ == 0 || !isGathered()) {
        return 0;
    }
    // From the last slice to the first, so that each is still where it was found. A slice stays
    // inside one paragraph: its text goes back in with that paragraph's format.
    size_t begin = end_ - 1;
    while (begin > 0 && found_[end_ - 1].end() - found_[begin - 1].location <= sliceCharacters &&
           !holdsParagraphEnd(plain_.string, found_[begin - 1].location, found_[begin].location)) {
        --begin;
    }
    const int textStart = found_[begin].location;
    int textEnd = found_[end_ - 1].end();
    // The character after it goes along for a bookmark of an empty replacement, unless a later
    // slice changed it.
    if (replacement_.isEmpty() && textEnd < limit_ && !platform::isParagraphEnd(plain_.string[textEnd])) {
        ++textEnd;
    }
    const platform::TextRange range = plain_.documentRange({textStart, textEnd - textStart});
    const platform::AttributedString fresh =
        replacedText(attributedText(*cursor.document(), range.location, range.end()), textStart,
                     std::span(found_).subspan(begin, end_ - begin), replacement_);
    cursor.setPosition(range.location);
    cursor.setPosition(range.end(), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    insertText(cursor, fresh, [](const platform::Attributes& attributes) {
        return EditorAppearance::unsized(toTextCharFormat(attributes));
    });
    replaced_ += int(end_ - begin);
    first_ = range.location;
    limit_ = textStart;
    end_ = begin;
    return textEnd - textStart;
}

std::vector<platform::TextRange> changingMatches(const QTextDocument& document, const QString& needle,
                                                 const QString& replacement,
                                                 Qt::CaseSensitivity sensitivity) {
    const PlainText plain = plainText(document);
    std::vector<platform::TextRange> found =
        changingTextMatches(plain.string, needle, replacement, sensitivity);
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
    if (replacement.contains(QChar::LineSeparator)) {
        // Among short paragraphs that share a block it would read as their break.
        splitJoinedParagraphs(*cursor.document(), range.end());
        splitJoinedParagraphs(*cursor.document(), range.location);
    }
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
