// A section header: a small title above a thin bottom line.
#pragma once

#include "cuewright/controls/ControlAccessibility.h"

#include <QColor>
#include <QRectF>
#include <QWidget>

#include <optional>

namespace cw::controls {

// Draws its bottom line across the full width and its title left-aligned above it. Colours
// left empty in the style follow the window's appearance at paint time. Main thread only.
class LabeledDivider : public QWidget, public AccessibleControl {
    Q_OBJECT
    Q_PROPERTY(QString title READ title WRITE setTitle)

public:
    struct Style {
        std::optional<QColor> bottomBorderColor; // empty: the grid colour
        std::optional<QColor> textColor;         // empty: the label colour
        double bottomBorderHeight = 1.0;
        double labelAreaHeight = 16.0; // the height the divider asks for
        double labelBaseline = 1.0;    // the title's distance from the bottom edge
        double labelMarginLeft = 10.0;
        bool operator==(const Style&) const = default;
    };

    // Where painting puts things, in widget coordinates, aligned to device pixels.
    struct Layout {
        QRectF bottomBorder;
        QRectF title;
    };

    static constexpr double smallFontSize = 11;

    explicit LabeledDivider(QWidget* parent = nullptr);

    const QString& title() const { return title_; }
    void setTitle(const QString& title);
    const Style& style() const { return style_; }
    void setStyle(const Style& style);

    // The title box is as wide as the divider less a fixed 10 pixels, whatever the margin, and
    // as high as the title's lines at that width.
    Layout layout() const;
    QFont titleFont() const;

    // Lines between table cells and sections: a fifth of the way from the window colour to the
    // text colour, so it shows on light and dark windows alike.
    static QColor gridColor(const QPalette& palette);

    QSize sizeHint() const override;
    QAccessible::Role accessibleRole() const override { return QAccessible::Heading; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QString title_ = QStringLiteral("Title");
    Style style_;
};

} // namespace cw::controls
