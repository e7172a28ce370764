// Typing into a text view as the editor benchmarks do: the insertion point and one letter.
#pragma once

#include <QApplication>
#include <QKeyEvent>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

namespace benchsupport {

// The insertion point at the end of the word in the middle of the text.
inline void putCursorInTheMiddle(QTextEdit& edit) {
    QTextCursor cursor(edit.document());
    cursor.setPosition(edit.document()->characterCount() / 2);
    cursor.movePosition(QTextCursor::EndOfWord);
    edit.setTextCursor(cursor);
}

// The key "a" pressed and released on `widget`, delivered at once.
inline void typeLetter(QWidget& widget) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    QApplication::sendEvent(&widget, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    QApplication::sendEvent(&widget, &release);
}

} // namespace benchsupport
