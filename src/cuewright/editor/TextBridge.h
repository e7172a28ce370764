// Script text in and out of a QTextDocument, the editor's text storage.
#pragma once

#include "platform/text/AttributedString.h"
#include "platform/text/TextRange.h"

#include <QTextFormat>

#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QTextBlock;
class QTextCursor;
class QTextDocument;

namespace cw::editor {

// The model's exact values ride in user properties beside Qt's own visible properties; a value
// is trusted on the way back only while the visible property still shows it (an edit through Qt
// wins). The bookmark object and unknown attributes live only here.
namespace TextProperty {
inline constexpr int font = QTextFormat::UserProperty + 1;            // platform::Font
inline constexpr int foregroundColor = QTextFormat::UserProperty + 2; // platform::Color
inline constexpr int backgroundColor = QTextFormat::UserProperty + 3; // platform::Color
inline constexpr int underlineStyle = QTextFormat::UserProperty + 4;  // int
inline constexpr int underlineColor = QTextFormat::UserProperty + 5;  // platform::Color
inline constexpr int paragraphStyle = QTextFormat::UserProperty + 6;  // platform::ParagraphStyle
inline constexpr int bookmark = QTextFormat::UserProperty + 7;        // platform::EmbeddedBookmarkPtr
inline constexpr int passThrough = QTextFormat::UserProperty + 8;     // QVariantList name, value, ...
inline constexpr int separator = QTextFormat::UserProperty + 9;       // QChar other than LF ending a block
// On a block format: the break (LF, CR, ...) that the block's line separators stand for.
inline constexpr int lineBreak = QTextFormat::UserProperty + 10;
// True on the format of a break that stands for no character: a run without a space was cut there.
inline constexpr int cut = QTextFormat::UserProperty + 11;
} // namespace TextProperty

QTextCharFormat toTextCharFormat(const platform::Attributes& attributes);
platform::Attributes fromTextCharFormat(const QTextCharFormat& format);

// Replaces the whole content of `document` with `text`, as one step that is not undoable (the
// undo history goes with the old text). Each paragraph becomes a block whose format shows the
// paragraph style of its first character. With `pointSize` every run is shown at that size, and
// with `alignment` every paragraph is aligned so, as EditorAppearance::setFontSize() and
// setAlignment() would do it: through the document's defaults, the runs and paragraphs keeping
// no size or alignment of their own (a run without a font gets the default font's family).
void setAttributedText(QTextDocument& document, const platform::AttributedString& text,
                       std::optional<double> pointSize = std::nullopt,
                       std::optional<Qt::Alignment> alignment = std::nullopt);

// setAttributedText() in pieces of whole blocks, so that a long text goes in with the event
// loop running between them. Making it clears the document and sets its defaults; the undo
// history stays off until it is destroyed. Nothing else may change the document meanwhile.
// Qt lays out and measures a block as a whole, on every change and paint of any part of it, and
// each block costs it as much as hundreds of characters do. So a paragraph longer than
// maxBlockCharacters is cut into blocks at spaces, else at line separators (each such character
// is the break of its block, see TextProperty::separator), a run without a space longer than
// maxRunCharacters between two graphemes (a break standing for no character, TextProperty::cut,
// see cutPosition()), and in a text of joinParagraphsFrom characters or more, paragraphs of one look with the
// same break share blocks of up to about targetBlockCharacters, their breaks shown as line separators
// (TextProperty::lineBreak). The text's characters stay those of `text`, and so do their positions up to the
// first cut that stands for no character (see PlainText); attributedText() gives the text back.
class TextInsertion {
public:
    static constexpr int maxBlockCharacters = 1 << 14;
    // Qt lays a run without a break opportunity out in time that grows with its length squared.
    static constexpr int maxRunCharacters = 1 << 10;
    static constexpr int targetBlockCharacters = 1 << 12;
    static constexpr int joinParagraphsFrom = 1 << 16;
    // A block of many lines costs Qt's layout time that grows with their number squared.
    static constexpr int maxParagraphsPerBlock = 128;
    // A piece ends after this many paragraphs, however short: Qt shapes each line that ends in a
    // break on its own, at a cost of a hundred characters or so.
    static constexpr int maxParagraphsPerPiece = 1 << 13;

    TextInsertion(QTextDocument& document, platform::AttributedString text,
                  std::optional<double> pointSize = std::nullopt,
                  std::optional<Qt::Alignment> alignment = std::nullopt);
    // Each paragraph a block of its own, whatever its length: for a document that is never laid
    // out (the text given to the clipboard as HTML).
    static void insertParagraphs(QTextDocument& document, const platform::AttributedString& text);

    // Where a paragraph from `start` (in `text`, up to `end`) past the limits is cut: at its last
    // space within maxBlockCharacters, else its last line separator there (the character becomes
    // the break); but a run without a space longer than maxRunCharacters goes into blocks of its
    // own, after the last space or line separator before it, else cut at the last boundary between
    // graphemes within maxRunCharacters, never inside a surrogate pair or a combining sequence.
    // Second: whether the cut is of that kind, standing for no character. `end` when the
    // paragraph is within the limits. Always after `start`.
    static std::pair<int, bool> cutPosition(const QString& text, int start, int end);
    ~TextInsertion();
    TextInsertion(const TextInsertion&) = delete;
    TextInsertion& operator=(const TextInsertion&) = delete;

    // A character of a run without a space costs Qt's layout about three times what one of words
    // does (10 MB of one letter took 23.5 s of processor time to go in, 10 MB of words 8.5 s): a
    // piece counts it as this many.
    static constexpr int runCost = 4;

    // Inserts blocks until at least `characters` more are in, those of runs without a space
    // counted runCost times (or maxParagraphsPerPiece paragraphs), or all of them; true when the
    // whole text is in.
    bool insert(int characters);
    bool isDone() const;
    int inserted() const;
    int length() const;

private:
    // The last grapheme boundary in (start, start + maxRunCharacters] of a run without a space.
    static int graphemeCut(const QString& text, int start, int end);

    struct State;
    std::unique_ptr<State> state_;
};

// Inserts `text` at `cursor` run by run in the formats `formatOf` gives, each paragraph break
// opening a block in the format of the one it is typed in, as one edit; the blocks it grows past
// the limits are cut (cutLongBlocks()), the text around the insertion point counted with it.
void insertText(QTextCursor& cursor, const platform::AttributedString& text,
                const std::function<QTextCharFormat(const platform::Attributes&)>& formatOf);

// insertText() in pieces, so that a long paste goes in with the event loop running between them:
// each insert() puts about `characters` more at the cursor, in the edit that the caller opens
// (joining the pieces into one undo step). In a text of TextInsertion::joinParagraphsFrom
// characters or more, short paragraphs between its first and its last share blocks as an opened
// text's do (TextInsertion), so that millions of lines hold thousands of blocks. Nothing else may
// change the document meanwhile.
class PasteInsertion {
public:
    using FormatOf = std::function<QTextCharFormat(const platform::Attributes&)>;
    PasteInsertion(const QTextCursor& cursor, platform::AttributedString text, FormatOf formatOf);
    ~PasteInsertion();
    PasteInsertion(const PasteInsertion&) = delete;
    PasteInsertion& operator=(const PasteInsertion&) = delete;

    // True when the whole text is in.
    bool insert(int characters);
    bool isDone() const;
    int inserted() const;
    int length() const;
    // After what is in.
    QTextCursor cursor() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// What the break that opens `block` is in the script's text: the one reading of the marks that
// TextInsertion and cutLongBlocks() leave on a break. The first block has none.
struct BlockBreak {
    enum class Kind {
        none,       // the document's first block
        paragraph,  // the text's own paragraph break
        cutAtSpace, // a long paragraph cut at a space, tab, ideographic space or line separator
        cutInRun,   // a long run without a space cut between two graphemes
    };
    Kind kind = Kind::none;
    QString characters; // what it stands for in the text; empty for none and for a cut in a run
    // The block goes on with the paragraph of the block before it.
    bool continuesParagraph() const { return kind == Kind::cutAtSpace || kind == Kind::cutInRun; }
    bool standsForNoCharacter() const { return kind == Kind::cutInRun; }
};
BlockBreak blockBreak(const QTextBlock& block);

// Whether the block's text (or `text` from `start` to `end`) is past the limits a block is held
// to: longer than TextInsertion::maxBlockCharacters, or holding a run without a space longer than
// TextInsertion::maxRunCharacters.
bool isPastLimits(const QTextBlock& block);
// Cuts every block that holds a position of [from, to] and is past the limits, as TextInsertion
// cuts a paragraph when a text is opened: what grows a paragraph (typing, a paste, a drop, Replace
// All) calls it inside the edit block of its change, so that Qt lays the cut blocks out once and
// undo takes the change back with its cuts. Returns the number of cuts made.
int cutLongBlocks(QTextDocument& document, int from, int to);
// The same for the blocks whose text changed in the edit block that is open, from inside it, where
// `revision` was read (QTextDocument::revision(), which an edit block raises as it opens): what an
// edit grew, wherever it was, without reading the text of the blocks it left alone. Qt gives a block
// the document's revision when its text changes, but only with the undo history on: without it,
// every block is looked at.
int cutChangedLongBlocks(QTextDocument& document, int revision);
// Gives each short paragraph of the block holding `position` a block of its own when the block
// holds several (TextProperty::lineBreak), each line separator becoming the break it stands for:
// the text, the positions and the cursors stay. What puts a line separator into the text calls it
// first, inside the edit block of its change, so that the new one stays a line separator. Returns
// the number of blocks made.
int splitJoinedParagraphs(QTextDocument& document, int position);
// Whether the block holds several short paragraphs, its line separators standing for their breaks.
bool holdsJoinedParagraphs(const QTextBlock& block);
// The same before [from, to] is removed, for the blocks at its ends when it joins them and their
// line separators stand for different breaks: the block that stays would give its reading to the
// other's. Returns the number of blocks made.
int splitBeforeJoining(QTextDocument& document, int from, int to);
// Whether removing [from, to] would do so.
bool joiningChangesReading(const QTextDocument& document, int from, int to);
// The paragraph holding the document's position `position`: from the break before it to the one
// after it (or the text's ends), across the editor's own cuts, and within a block that holds
// several short paragraphs. Its document positions, the break after it excluded.
platform::TextRange paragraphRange(const QTextDocument& document, int position);

// The document's text with every attribute, as shown: a run with a font but no size of its own
// has the default font's size, a paragraph without an alignment of its own the default text
// option's. The exact inverse of setAttributedText() for text that was not edited since.
platform::AttributedString attributedText(const QTextDocument& document);
// The same of the document's positions [from, to): what a selection of them holds.
platform::AttributedString attributedText(const QTextDocument& document, int from, int to);

// The document's characters as attributedText() gives them, with the way between its positions
// and the document's: only a cut standing for no character (TextProperty::cut) moves the
// document's positions after it one on. What leaves the editor (a search, a copy) reads this.
struct PlainText {
    QString string;
    std::vector<int> cuts; // the text's positions where the document has such a cut, ascending
    // The document's position of a text position where a range starts (after a cut there) or ends
    // (before it).
    int documentStart(int position) const;
    int documentEnd(int position) const;
    platform::TextRange documentRange(platform::TextRange range) const;
    int textPosition(int documentPosition) const;
    platform::TextRange textRange(platform::TextRange documentRange) const;
};
PlainText plainText(const QTextDocument& document);
// The text's positions of the document's cuts that stand for no character, ascending: without
// the text itself, cheap for a document that has none.
std::vector<int> characterlessCuts(const QTextDocument& document);

// `format` with the size it is shown at in `document` (see attributedText()).
QTextCharFormat shownCharFormat(const QTextDocument& document, QTextCharFormat format);

} // namespace cw::editor
