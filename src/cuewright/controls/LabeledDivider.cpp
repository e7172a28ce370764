#include "cuewright/controls/LabeledDivider.h"

#include "cuewright/controls/ClickableControl.h"
#include "cuewright/controls/ControlPainting.h"

#include <QPainter>

#include <cmath>

namespace cw::controls {

LabeledDivider::LabeledDivider(QWidget* parent)
    : QWidget(parent) {
    installControlAccessibility();
    setAccessibleName(title_);
}

void LabeledDivider::setTitle(const QString& title) {
    if (title == title_)
        return;
    title_ = title;
    setAccessibleName(title_);
    updateGeometry();
    update();
}

void LabeledDivider::setStyle(const Style& style) {
    if (style == style_)
        return;
    style_ = style;
    updateGeometry();
    update();
}

QFont LabeledDivider::titleFont() const {
    return fontOfPixelSize(*this, smallFontSize);
}

QColor LabeledDivider::gridColor(const QPalette& palette) {
    const QColor window = palette.color(QPalette::Window);
    const QColor text = palette.color(QPalette::WindowText);
    const auto mix = [](int from, int to) { return int(std::lround(from + (to - from) * 0.2)); };
    return QColor(mix(window.red(), text.red()), mix(window.green(), text.green()),
                  mix(window.blue(), text.blue()));
}

LabeledDivider::Layout LabeledDivider::layout() const {
    const double ratio = devicePixelRatioF();
    const double w = width();
    const double h = height();
    const double titleWidth = std::max(0.0, w - 10);
    const double titleHeight =
        QFontMetricsF(titleFont())
            .boundingRect(QRectF(0, 0, titleWidth, 1e6), Qt::AlignLeft | Qt::TextWordWrap, title_)
            .height();
    return Layout{
        alignedToDevicePixels(QRectF(0, h - style_.bottomBorderHeight, w, style_.bottomBorderHeight), ratio),
        alignedToDevicePixels(
            QRectF(style_.labelMarginLeft, h - style_.labelBaseline - titleHeight, titleWidth, titleHeight),
            ratio)};
}

QSize LabeledDivider::sizeHint() const {
    const double text = QFontMetricsF(titleFont()).horizontalAdvance(title_);
    return QSize(int(std::ceil(style_.labelMarginLeft + text + 10)), int(std::ceil(style_.labelAreaHeight)));
}

void LabeledDivider::paintEvent(QPaintEvent*) {
    const Layout parts = layout();
    QPainter painter(this);
    painter.fillRect(parts.bottomBorder, style_.bottomBorderColor.value_or(gridColor(palette())));
    painter.setFont(titleFont());
    painter.setPen(style_.textColor.value_or(palette().color(QPalette::WindowText)));
    painter.drawText(parts.title, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, title_);
    paintKeyboardFocus(painter, *this);
}

void LabeledDivider::changeEvent(QEvent* event) {
    if (changesLook(*event))
        update();
    QWidget::changeEvent(event);
}

} // namespace cw::controls
