#include "cuewright/editor/MicroToolbar.h"

#include "cuewright/controls/ControlPainting.h"
#include "platform/ui/WindowFocus.h"

#include <QMouseEvent>
#include <QPainter>
#include <QTextLayout>

#include <algorithm>

namespace cw::editor {

namespace {

QFont titleFont(const QWidget& widget) {
    QFont font = widget.font();
    font.setPixelSize(int(MicroToolbar::titleFontSize));
    return font;
}

// The height of the title's lines when broken at `width`.
double titleHeight(const QString& title, const QFont& font, double width) {
    QTextLayout layout(title, font);
    QTextOption option(Qt::AlignHCenter);
    option.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(option);
    double height = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        height += line.height();
    }
    layout.endLayout();
    return height;
}

} // namespace

MicroToolbar::MicroToolbar(QWidget* parent)
    : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    setMinimumHeight(22);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void MicroToolbar::addItem(const QString& title) {
    int next = 0;
    for (const Item& item : items_)
        next = std::max(next, item.index + 1);
    items_.push_back({next, title});
    update();
}

void MicroToolbar::setSelectedItemIndex(int index) {
    if (selectedItemIndex_ == index)
        return;
    selectedItemIndex_ = index;
    update();
}

MicroToolbar::Colors MicroToolbar::colors() const {
    const controls::PaintContext context = controls::paintContext(*this);
    const auto grey = [](double brightness) { return QColor::fromHsvF(0, 0, float(brightness)); };
    Colors c;
    if (context.dark) {
        c = {grey(0.29), grey(0.91), QColor(Qt::gray), grey(0.29)};
    } else {
        c = {grey(0.77), QColor::fromHsvF(0.59f, 0.74f, 0.98f), QColor(Qt::darkGray), grey(0.72)};
    }
    // The desktop's accent colour stands for the system's control accent.
    c.selectedTitle = palette().color(QPalette::Active, QPalette::Highlight);
    if (!context.windowMain)
        c.selectedTitle = context.dark ? QColor(Qt::lightGray) : QColor(Qt::black);
    return c;
}

MicroToolbar::Layout MicroToolbar::layout() const {
    Layout l;
    const double ratio = devicePixelRatioF();
    const double h = height();
    const double w = items_.empty() ? 0 : width() / double(items_.size());
    const QFont font = titleFont(*this);
    for (const Item& item : items_) {
        const double x = w * item.index;
        l.tabs.push_back(QRectF(x, 0, w, h));
        // Centred a little below the middle, as the strip was drawn y-up from its bottom edge.
        const double lines = titleHeight(item.title, font, w);
        const double bottom = h / 2 - 5;
        l.titles.push_back(controls::alignedToDevicePixels(QRectF(x, h - bottom - lines, w, lines), ratio));
        if (item.index > 0)
            l.separators.push_back(controls::alignedToDevicePixels(QRectF(x, 0.15 * h, 1, 0.7 * h), ratio));
    }
    std::sort(l.separators.begin(), l.separators.end(),
              [](const QRectF& a, const QRectF& b) { return a.x() < b.x(); });
    l.bottomLine = controls::alignedToDevicePixels(QRectF(0, h - 1, width(), 1), ratio);
    return l;
}

void MicroToolbar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const Colors c = colors();
    const Layout l = layout();
    painter.setFont(titleFont(*this));
    for (std::size_t i = 0; i < items_.size(); ++i) {
        const Item& item = items_[i];
        painter.setPen(item.index == selectedItemIndex_ ? c.selectedTitle : c.title);
        painter.drawText(l.titles[i], Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, item.title);
    }
    for (const QRectF& separator : l.separators)
        painter.fillRect(separator, c.separator);
    painter.fillRect(l.bottomLine, c.bottomLine);
}

void MicroToolbar::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    const Layout l = layout();
    for (std::size_t i = 0; i < items_.size(); ++i) {
        if (!l.tabs[i].contains(event->position()))
            continue;
        const int index = items_[i].index;
        selectedItemIndex_ = index;
        update();
        if (delegate_)
            delegate_->microToolbarDidSelectItemAt(*this, index);
        break;
    }
    event->accept();
}

bool MicroToolbar::event(QEvent* event) {
    platform::redrawOnWindowChange(this, event);
    return QWidget::event(event);
}

} // namespace cw::editor
