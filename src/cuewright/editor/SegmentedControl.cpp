#include "cuewright/editor/SegmentedControl.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace cw::editor {

namespace {
constexpr double radius = 4;
constexpr int controlHeight = 24;
} // namespace

SegmentedControl::SegmentedControl(const QStringList& labels, QWidget* parent)
    : QWidget(parent)
    , labels_(labels) {
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void SegmentedControl::setSelectedSegment(int index) {
    if (index < 0 || index >= segmentCount())
        index = -1;
    if (index == selected_)
        return;
    selected_ = index;
    update();
}

QRectF SegmentedControl::segmentRect(int index) const {
    const double w = (width() - 1.0) / std::max(1, segmentCount());
    return QRectF(0.5 + w * index, 0.5, w, controlHeight - 1.0);
}

QSize SegmentedControl::sizeHint() const {
    int widest = 0;
    for (const QString& label : labels_)
        widest = std::max(widest, fontMetrics().horizontalAdvance(label));
    return QSize((widest + 16) * segmentCount(), controlHeight);
}

QSize SegmentedControl::minimumSizeHint() const {
    return QSize(36 * segmentCount(), controlHeight);
}

void SegmentedControl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette& p = palette();
    const bool dark = p.color(QPalette::Window).lightness() < 128;
    const QRectF frame(0.5, 0.5, width() - 1.0, controlHeight - 1.0);
    QPainterPath outline;
    outline.addRoundedRect(frame, radius, radius);
    painter.fillPath(outline, p.color(QPalette::Button));
    const QColor line = dark ? p.color(QPalette::Button).lighter(160) : p.color(QPalette::Mid);
    if (selected_ >= 0) {
        painter.save();
        painter.setClipPath(outline);
        painter.fillRect(segmentRect(selected_), p.color(QPalette::Highlight));
        painter.restore();
    }
    painter.setPen(QPen(line, 1));
    painter.drawPath(outline);
    for (int i = 1; i < segmentCount(); ++i) {
        const double x = segmentRect(i).left();
        painter.drawLine(QPointF(x, 0.5), QPointF(x, controlHeight - 0.5));
    }
    for (int i = 0; i < segmentCount(); ++i) {
        painter.setPen(p.color(i == selected_ ? QPalette::HighlightedText : QPalette::ButtonText));
        painter.drawText(segmentRect(i), Qt::AlignCenter, labels_[i]);
    }
    if (hasFocus()) {
        painter.setPen(QPen(p.color(QPalette::Highlight), 2));
        painter.drawRoundedRect(frame.adjusted(1, 1, -1, -1), radius, radius);
    }
}

void SegmentedControl::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    for (int i = 0; i < segmentCount(); ++i) {
        if (!segmentRect(i).contains(event->position()))
            continue;
        setSelectedSegment(i);
        emit segmentClicked(i);
        break;
    }
    event->accept();
}

void SegmentedControl::keyPressEvent(QKeyEvent* event) {
    const int step = event->key() == Qt::Key_Left ? -1 : event->key() == Qt::Key_Right ? 1 : 0;
    const int next = selected_ + step;
    if (step == 0 || next < 0 || next >= segmentCount()) {
        QWidget::keyPressEvent(event);
        return;
    }
    setSelectedSegment(next);
    emit segmentClicked(next);
}

} // namespace cw::editor
