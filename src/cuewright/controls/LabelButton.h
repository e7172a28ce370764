// A small right-aligned text that works as a button ("Reset" next to a setting).
#pragma once

#include "cuewright/controls/ClickableControl.h"

namespace cw::controls {

// The title in the label colour at the small font size, right-aligned and drawn 2 pixels below
// the top; translucent while pressed. Sends its action on every release, wherever it is.
class LabelButton : public ClickableControl {
    Q_OBJECT
    Q_PROPERTY(QString title READ title WRITE setTitle)

public:
    // The small system font size of the desktop the controls were designed on.
    static constexpr double smallFontSize = 11;
    static constexpr double textDrop = 2;

    explicit LabelButton(QWidget* parent = nullptr);

    const QString& title() const { return text(); }
    // Redraws, so the new title shows at once.
    void setTitle(const QString& title) { setText(title); }

    QSize sizeHint() const override { return textSizeHint() + QSize(0, int(textDrop)); }

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace cw::controls
