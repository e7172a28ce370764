// The editor's find bar: find, find next and previous, replace and replace all in the script.
#pragma once

#include "platform/text/TextRange.h"

#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;
class QTextCursor;
class QToolButton;

namespace cw::editor {

class ScriptTextView;

// A small panel floating over the top right of `area` (the editor's), hidden until asked for; it
// changes no geometry of the editor, so the text stays laid out and scrolled as it was. It is a
// child of the area's parent (when it has one), so that over a narrow area it can reach further
// left. Case-insensitive unless "Match Case" is on; every search wraps round.
//  - Typing in its field selects the first match from where the search began; Return (and
//    findNext()) selects the next, Shift+Return (findPrevious()) the previous; the matches are
//    counted and tinted in the text while the bar shows.
//  - Escape (closeBar()) hides it and gives the text the keyboard, the match still selected,
//    wherever in the bar the keyboard is. Keys held with Ctrl, Alt or Super other than a field's
//    editing keys (undo, cut, copy, paste, select all) are the window's there too (Ctrl+E).
//  - Replace replaces the selected match and selects the next one; Replace All replaces every
//    match; each is one undo step ("Replace", "Replace All"). Replacements keep the look of the
//    text they replace and its bookmarks (see TextFinder). A replace that would change nothing
//    makes no edit, and so marks nothing edited.
//  - While the text is read-only (the editor locked, or a long text still going in) it finds but
//    does not replace.
// The text view must outlive it. Main thread only.
class FindBar final : public QWidget {
    Q_OBJECT

public:
    FindBar(ScriptTextView& text, QWidget* area);
    ~FindBar() override;
    FindBar(const FindBar&) = delete;
    FindBar& operator=(const FindBar&) = delete;

    enum class Mode { find, replace };
    // Shows the bar with the keyboard in its field, all of it selected; a selection of one line
    // in the text becomes what is searched for. `replace` shows the replace row too.
    void showBar(Mode mode);
    // Hides the bar; the text gets the keyboard with the match still selected.
    void closeBar();
    // The next or previous match; with nothing to search for, the bar shows instead.
    void findNext();
    void findPrevious();
    // The selected text when it is a match, then the next match is selected. False when the text
    // is read-only or holds no match.
    bool replace();
    // Every match, as one undo step; how many were replaced (0 while read-only).
    int replaceAll();
    // Whether replacing is offered: not while the text is read-only. Follows a change of the lock.
    void updateReplaceAllowed();

    QLineEdit& findField() const { return *findField_; }
    QLineEdit& replaceField() const { return *replaceField_; }
    bool isReplaceShown() const;
    // "2 of 5", "No matches", or nothing while the field is empty. In a long text the matches are
    // counted a part at a time, the event loop turning in between: the status follows once all
    // are (isCounting() false).
    QString status() const;
    bool isCounting() const { return counting_ != nullptr; }
    Qt::CaseSensitivity caseSensitivity() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    enum class Direction { forward, backward };
    void find(Direction direction);
    void findFromOrigin();
    void select(std::optional<platform::TextRange> range);
    void scrollIntoView(const QTextCursor& match);
    void showReplaceRow(bool shown);
    void place();
    // Counts and tints the matches anew; `keepStatus` leaves the status as it is.
    void refreshMatches(bool keepStatus = false);
    void countMatches();
    void countMoreMatches(); // on the next turn of the event loop
    void refreshIcons();
    bool canReplace() const;

    ScriptTextView* text_;
    QPointer<QWidget> area_;
    QLineEdit* findField_ = nullptr;
    QLineEdit* replaceField_ = nullptr;
    QLabel* status_ = nullptr;
    QToolButton* disclosure_ = nullptr;
    QToolButton* matchCase_ = nullptr;
    QToolButton* previous_ = nullptr;
    QToolButton* next_ = nullptr;
    QToolButton* done_ = nullptr;
    QPushButton* replaceButton_ = nullptr;
    QPushButton* replaceAllButton_ = nullptr;
    QWidget* replaceRow_ = nullptr;
    int origin_ = 0; // where typing in the field searches from
    bool refreshQueued_ = false;
    struct Counting;
    std::unique_ptr<Counting> counting_; // while matches are being counted
    std::uint64_t countings_ = 0;        // tells a counting's later parts from a newer one's
};

} // namespace cw::editor
