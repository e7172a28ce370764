// The rich-text view in which the script is edited.
#pragma once

#include "cuewright/model/ScriptImport.h"
#include "platform/text/AttributedString.h"

#include <QTextEdit>

class QMimeData;

namespace cw::editor {

// A QTextEdit over the script's QTextDocument (see TextBridge). Beyond Qt's own editing it:
//  - restyles every paste through the paste rules (pastedText) with the paste style and the
//    typing font's size; the pasted text takes the paragraph it lands in;
//  - keeps the bookmark object of the character before the insertion point out of typed text
//    or composed by an input method (a bookmark marks one character, never what follows it).
// Main thread only, as every widget.
class ScriptTextView : public QTextEdit {
    Q_OBJECT

public:
    explicit ScriptTextView(QWidget* parent = nullptr);
    ScriptTextView(const ScriptTextView&) = delete;
    ScriptTextView& operator=(const ScriptTextView&) = delete;

    // The script's default font and colour that pasted text takes on.
    void setPasteStyle(const ScriptImport::DefaultStyle& style) { pasteStyle_ = style; }
    const ScriptImport::DefaultStyle& pasteStyle() const { return pasteStyle_; }

    // What a paste of `source` inserts at the insertion point: RTF when offered, else HTML, else
    // the plain text, restyled by the paste rules.
    platform::AttributedString pastedContent(const QMimeData& source) const;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    bool canInsertFromMimeData(const QMimeData* source) const override;
    void insertFromMimeData(const QMimeData* source) override;

private:
    // Gives typing at the insertion point a format without the bookmark of the character before
    // it. True when it typed `text` itself (over a selection).
    bool typeWithoutBookmark(const QString& text);

    ScriptImport::DefaultStyle pasteStyle_;
};

} // namespace cw::editor
