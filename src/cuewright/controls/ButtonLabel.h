// A plain coloured text that works as a button.
#pragma once

#include "cuewright/controls/ClickableControl.h"

namespace cw::controls {

// The accent colour of the text buttons at `brightness` (0.78 normally).
QColor accentColor(double brightness = 0.78);

// Centred text in the accent colour, lighter while pressed. Sends its action only when the
// press ends inside it.
class ButtonLabel : public ClickableControl {
    Q_OBJECT
    Q_PROPERTY(QString title READ title WRITE setTitle)
    Q_PROPERTY(double fontSize READ fontSize WRITE setFontSize)

public:
    explicit ButtonLabel(QWidget* parent = nullptr);

    const QString& title() const { return text(); }
    void setTitle(const QString& title) { setText(title); }

    QSize sizeHint() const override { return textSizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace cw::controls
