#include "platform/ui/PlainText.h"

#include <QLabel>

namespace platform {

QLabel* plainTextLabel(QLabel* label) {
    label->setTextFormat(Qt::PlainText);
    return label;
}

QString plainWindowTitle(const QString& title) {
    QString shown = title;
    // "[*][*]" is how a title spells a literal "[*]".
    return shown.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
}

QString plainMenuText(const QString& text) {
    QString shown = text;
    return shown.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

QString plainToolTip(const QString& text) {
    return QStringLiteral("<p style='white-space:pre'>") + text.toHtmlEscaped() + QStringLiteral("</p>");
}

} // namespace platform
