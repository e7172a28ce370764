#include "platform/ui/FontPanel.h"

#include "dispatch/MainThreadChecker.h"

#include <QFontDialog>
#include <QSignalBlocker>

namespace platform {

static QFont panelFont(const Font& font) {
    QFont shown = font.toQFont();
    if (font.pointSize > 0) {
        shown.setPointSizeF(font.pointSize);
    }
    return shown;
}

QFontDialog* FontPanel::make(const Font& font, QWidget* parent) {
    CW_DCHECK_MAIN_THREAD();
    auto* panel = new QFontDialog(parent);
    panel->setOption(QFontDialog::NoButtons);
    panel->setWindowTitle(QFontDialog::tr("Fonts"));
    setFont(*panel, font);
    return panel;
}

void FontPanel::setFont(QFontDialog& panel, const Font& font) {
    const QSignalBlocker block(panel);
    panel.setCurrentFont(panelFont(font));
}

Font FontPanel::picked(const QFont& font, double fallbackSize) {
    const double size = font.pointSizeF();
    return Font{font.family(), size > 0 ? size : fallbackSize, font.bold(), font.italic()};
}

} // namespace platform
