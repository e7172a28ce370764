// A colour well drawn flat: the colour as a swatch beside a small button area.
#pragma once

#include "platform/ui/ActionRoute.h"
#include "platform/ui/ColorPanel.h"

#include <QColor>
#include <QWidget>

#include <array>

namespace cw::controls {

// Shows a colour; clicking it (or Space with focus) makes it the active well, which opens the
// application's colour panel on its colour. While active, every change made in the panel becomes
// the well's colour and sends its action once, with the well as sender. Activating another well
// deactivates this one; deactivating closes the panel, and closing the panel deactivates.
// setColor() changes the colour without sending the action.
//
// Main thread only.
class ColorWell : public QWidget, protected platform::ColorPanelClient {
    Q_OBJECT

public:
    explicit ColorWell(QWidget* parent = nullptr);
    ~ColorWell() override;
    ColorWell(const ColorWell&) = delete;
    ColorWell& operator=(const ColorWell&) = delete;

    // The colours the well is drawn with, by role.
    struct Colors {
        QColor button;     // button area while inactive
        QColor frameEnd;   // frame gradient, top
        QColor frameStart; // frame gradient, bottom
        QColor divider;    // divider line; button area while active in dark appearance
    };
    // Greys for the light or dark appearance; subclasses may draw with others.
    virtual Colors colors(bool dark) const;

    QColor color() const { return color_; }
    void setColor(const QColor& color);

    bool isActive() const { return active_; }
    // Makes this the active well and opens the colour panel on its colour. `exclusive` is the
    // platform's flag for deactivating the other wells; there is only ever one active well here.
    virtual void activate(bool exclusive);
    // Makes the well inactive and closes the colour panel.
    virtual void deactivate();

    platform::ActionBinding action;

    // The width of the button area at the right edge.
    static constexpr double buttonWidth = 24;

    QSize sizeHint() const override { return QSize(44, 23); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool event(QEvent* event) override;

    void colorPanelDidChangeColor(const QColor& color) override;
    void colorPanelDidRelease() override;

private:
    QColor color_ = Qt::white;
    bool active_ = false;
};

} // namespace cw::controls
