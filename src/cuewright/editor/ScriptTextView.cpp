#include "cuewright/editor/ScriptTextView.h"

#include "cuewright/editor/PasteRules.h"
#include "cuewright/editor/TextBridge.h"
#include "platform/text/RtfReader.h"

#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QTextCursor>
#include <QTextDocument>

namespace cw::editor {

static const QString kRtfTypes[] = {QStringLiteral("text/rtf"), QStringLiteral("application/rtf")};

ScriptTextView::ScriptTextView(QWidget* parent)
    : QTextEdit(parent) {
    setAcceptRichText(true);
    connect(document(), &QTextDocument::undoCommandAdded, this, &ScriptTextView::undoStepAdded);
}

// A key that types characters rather than moving, deleting or commanding.
static bool typesText(const QKeyEvent& event) {
    const QString text = event.text();
    if (text.isEmpty() || (event.modifiers() & (Qt::ControlModifier | Qt::MetaModifier))) {
        return false;
    }
    return text.at(0).isPrint() || text.at(0) == u'\t';
}

bool ScriptTextView::typeWithoutBookmark(const QString& text) {
    QTextCursor cursor = textCursor();
    QTextCharFormat format = cursor.charFormat();
    if (isReadOnly() || !format.hasProperty(TextProperty::bookmark)) {
        return false;
    }
    format.clearProperty(TextProperty::bookmark);
    if (!cursor.hasSelection()) {
        setCurrentCharFormat(format); // only the typing format: the text keeps its bookmark
        return false;
    }
    // Over a selection Qt would take the format of the character before the insertion point.
    cursor.insertText(text, format);
    setTextCursor(cursor);
    return true;
}

void ScriptTextView::keyPressEvent(QKeyEvent* event) {
    if (routeKeyEvent(*event)) {
        event->accept();
        return;
    }
    if (typesText(*event) && typeWithoutBookmark(event->text())) {
        event->accept();
        return;
    }
    QTextEdit::keyPressEvent(event);
}

void ScriptTextView::inputMethodEvent(QInputMethodEvent* event) {
    // A composition still shown beside a selection is Qt's to handle; the commit alone is ours.
    const bool plainCommit = !event->commitString().isEmpty() && event->replacementLength() == 0 &&
                             (event->preeditString().isEmpty() || !textCursor().hasSelection());
    if (plainCommit && typeWithoutBookmark(event->commitString())) {
        event->accept();
        return;
    }
    QTextEdit::inputMethodEvent(event);
}

platform::AttributedString ScriptTextView::pastedContent(const QMimeData& source) const {
    platform::AttributedString pasted;
    bool read = false;
    for (const QString& type : kRtfTypes) {
        if (!read && source.hasFormat(type)) {
            if (auto rtf = platform::readRtf(source.data(type))) {
                pasted = std::move(*rtf);
                read = true;
            }
        }
    }
    if (!read && source.hasHtml()) {
        QTextDocument document;
        document.setHtml(source.html());
        pasted = attributedText(document);
        read = true;
    }
    if (!read) {
        pasted = platform::AttributedString(source.text());
    }
    const auto typingFont = fromTextCharFormat(textCursor().charFormat()).font;
    return pastedText(pasted, pasteStyle_,
                      typingFont ? std::optional<double>(typingFont->pointSize) : std::nullopt);
}

bool ScriptTextView::canInsertFromMimeData(const QMimeData* source) const {
    return source->hasFormat(kRtfTypes[0]) || source->hasFormat(kRtfTypes[1]) ||
           QTextEdit::canInsertFromMimeData(source);
}

void ScriptTextView::insertFromMimeData(const QMimeData* source) {
    if (isReadOnly() || source == nullptr) {
        return;
    }
    const platform::AttributedString content = pastedContent(*source);
    QTextCursor cursor = textCursor();
    cursor.beginEditBlock();
    cursor.removeSelectedText();
    // Run by run with insertText: line breaks open blocks in the paragraph's own format.
    for (const auto& run : content.runs()) {
        cursor.insertText(content.string().mid(run.range.location, run.range.length),
                          toTextCharFormat(run.attributes));
    }
    cursor.endEditBlock();
    setTextCursor(cursor);
    ensureCursorVisible();
}

} // namespace cw::editor
