// Text from outside (file names, a script's text, names from the network) shown as text: never
// read as markup, a window-title placeholder or a tool tip's HTML.
#pragma once

#include <QString>

class QLabel;

namespace platform {

// A label that shows its text as it is, whatever it holds ("<h1>" stays "<h1>").
QLabel* plainTextLabel(QLabel* label);
// A window title that shows `title` as it is: Qt reads "[*]" in a title as the placeholder of
// the modified mark and drops it.
QString plainWindowTitle(const QString& title);
// A menu item's text that shows `text` as it is: Qt reads "&" in it as the mark of a mnemonic.
QString plainMenuText(const QString& text);
// A tool tip that shows `text` as it is: Qt guesses tool tips that look like HTML to be HTML.
QString plainToolTip(const QString& text);

} // namespace platform
