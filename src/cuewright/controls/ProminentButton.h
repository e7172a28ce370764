// A filled, rounded call-to-action button with white text.
#pragma once

#include "cuewright/controls/ClickableControl.h"

namespace cw::controls {

// A rounded rectangle in the accent colour (brighter while pressed) with the title centred in
// white, half the font size below the top. Sends its action only when the press ends inside it.
class ProminentButton : public ClickableControl {
    Q_OBJECT
    Q_PROPERTY(QString title READ title WRITE setTitle)
    Q_PROPERTY(double fontSize READ fontSize WRITE setFontSize)

public:
    static constexpr double cornerRadius = 4;

    explicit ProminentButton(QWidget* parent = nullptr);

    const QString& title() const { return text(); }
    void setTitle(const QString& title) { setText(title); }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace cw::controls
