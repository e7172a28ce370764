// Finding and replacing words in the script's text.
#pragma once

#include "cuewright/editor/TextBridge.h"
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

// Counting the matches of a needle in a text a part at a time, about `characters` of the text a
// part; matches are found as matches() finds them.
class MatchScan {
public:
    static constexpr int partCharacters = 1 << 20;
    MatchScan(QString text, QString needle, Qt::CaseSensitivity sensitivity);
    // Scans the next part, calling `found` with each match (in the text's positions); true once
    // the whole text is scanned.
    bool scanNext(const std::function<void(platform::TextRange)>& found, int characters = partCharacters);
    bool isDone() const { return at_ < 0; }
    // How far through the text the scan is, from 0 to 1.
    double fraction() const;
    const QString& text() const { return text_; }

private:
    QString text_;
    QString needle_;
    Qt::CaseSensitivity sensitivity_;
    qsizetype at_ = 0;
};

// Replace All a slice at a time: its matches gathered a part at a time (gatherNext()), then every
// match that changes replaced as replace() would, about sliceCharacters of one paragraph at a time
// from the last, each slice's text put in through the text bridge whole (insertText()). From the
// start of the gathering on, the document must not change otherwise.
class ReplaceAll {
public:
    static constexpr int sliceCharacters = 1 << 15;
    // As many characters as an edit of Replace All (laid out as one when it ends, and again by
    // each undo and redo of it) spans: a longer one is several edits, the event loop turning
    // between them. Qt lays out a run without a space at about a microsecond a character, twice
    // as many once "x" became "yy".
    static constexpr int editCharacters = 1 << 15;

    ReplaceAll(const QTextDocument& document, const QString& needle, const QString& replacement,
               Qt::CaseSensitivity sensitivity);
    // Gathers the matches of the next part of the text; true once all are gathered.
    bool gatherNext();
    bool isGathered() const { return scan_.isDone(); }
    double gathered() const { return scan_.fraction(); }
    // Gathered, and nothing (more) to replace.
    bool isDone() const { return isGathered() && end_ == 0; }
    // Replaces the next slice through `cursor` (inside the caller's edit block); returns how many
    // characters of the text it spanned.
    int replaceNext(QTextCursor& cursor);
    // How many matches were replaced so far, of how many; where the first one replaced starts.
    int replaced() const { return replaced_; }
    int total() const { return int(found_.size()); }
    int first() const { return first_; }

private:
    PlainText plain_;
    MatchScan scan_;
    std::vector<platform::TextRange> found_;
    QString replacement_;
    size_t end_ = 0;
    int limit_ = 0;
    int replaced_ = 0;
    int first_ = 0;
};

} // namespace TextFinder

} // namespace cw::editor
