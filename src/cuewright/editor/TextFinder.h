// Finding and replacing words in the script's text.
#pragma once

#include "platform/text/TextRange.h"

#include <QString>

#include <functional>
#include <optional>
#include <vector>

class QTextCursor;
class QTextDocument;

namespace cw::editor {

// Plain-text search over a QTextDocument, in the positions QTextCursor counts (a paragraph break
// is one character), through the text as it is (see PlainText): a match may reach over the
// places where the editor cut a long paragraph. Main thread only, as the document.
//
// A replacement takes the format of the first character it replaces, and every bookmark object
// on the replaced characters goes on to the replacement's characters in order (the last ones
// sharing its last character), or, for an empty replacement, to the character beside it in the
// same paragraph: a replace never drops a bookmark while its paragraph has a character left.
namespace TextFinder {

// Every match of `needle` in order, none overlapping; none for an empty needle.
std::vector<platform::TextRange> matches(const QTextDocument& document, const QString& needle,
                                         Qt::CaseSensitivity sensitivity);

enum class Direction { forward, backward };
// The first match starting at or after `from` going forward, or the last one starting before
// `from` going backward, else the first (or last) in the text: the search wraps round.
std::optional<platform::TextRange> next(const QTextDocument& document, const QString& needle, int from,
                                        Direction direction, Qt::CaseSensitivity sensitivity);

// The characters of `range` as they are (see attributedText()).
QString characters(const QTextDocument& document, platform::TextRange range);

// Whether the characters of `range` are `needle`.
bool isMatch(const QTextDocument& document, platform::TextRange range, const QString& needle,
             Qt::CaseSensitivity sensitivity);

// Replaces `range` with `replacement` through `cursor`, inside the caller's edit block; leaves the
// cursor selecting the replacement.
void replace(QTextCursor& cursor, platform::TextRange range, const QString& replacement);

// The matches whose characters differ from `replacement` (the ones a Replace All changes).
std::vector<platform::TextRange> changingMatches(const QTextDocument& document, const QString& needle,
                                                 const QString& replacement, Qt::CaseSensitivity sensitivity);

// Replace All: every match that changes, replaced as replace() would, a slice of about
// sliceCharacters of the text at a time from the last, each slice's text put in through the text
// bridge whole (insertText()), inside the caller's edit block. After each slice `goOn` is told
// the share done (0 to 1); when it answers false the rest is left as it is. Returns how many
// matches were replaced, and where the first replaced one starts.
struct Replaced {
    int count = 0;
    int first = 0;
};
inline constexpr int sliceCharacters = 1 << 16;
Replaced replaceAll(QTextCursor& cursor, const QString& needle, const QString& replacement,
                    Qt::CaseSensitivity sensitivity, const std::function<bool(double done)>& goOn);

} // namespace TextFinder

} // namespace cw::editor
