#include "cuewright/controls/ColorWell.h"

#include "cuewright/controls/ClickableControl.h"
#include "cuewright/controls/ControlPainting.h"
#include "platform/ui/WindowFocus.h"

#include <QIcon>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace cw::controls {

static QColor grey(double brightness) {
    return QColor::fromHsvF(0, 0, brightness);
}

// Fills vertically: `bottom` at the bottom edge, `top` at the top edge.
static QLinearGradient verticalGradient(const QRectF& rect, const QColor& bottom, const QColor& top) {
    QLinearGradient gradient(rect.bottomLeft(), rect.topLeft());
    gradient.setColorAt(0, bottom);
    gradient.setColorAt(1, top);
    return gradient;
}

static QPainterPath roundedRect(const QRectF& rect) {
    QPainterPath path;
    path.addRoundedRect(rect, 4, 4);
    return path;
}

ColorWell::ColorWell(QWidget* parent)
    : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(tr("Colour"));
}

ColorWell::~ColorWell() {
    // The panel must not call into a well that is gone; it stays open for the next one.
    platform::ColorPanel::shared().detach(this);
}

ColorWell::Colors ColorWell::colors(bool dark) const {
    if (dark) {
        return {grey(0.13), grey(0.29), grey(0.29), grey(0.29)};
    }
    return {grey(1.0), grey(0.82), grey(0.7), grey(0.9)};
}

void ColorWell::setColor(const QColor& color) {
    if (color == color_) {
        return;
    }
    color_ = color;
    update();
}

void ColorWell::activate(bool exclusive) {
    (void)exclusive;
    if (!active_) {
        active_ = true;
        update();
    }
    platform::ColorPanel::shared().attach(this, color_);
}

void ColorWell::deactivate() {
    auto& panel = platform::ColorPanel::shared();
    if (panel.client() == this) {
        panel.detach(this);
        panel.close();
    }
    if (active_) {
        active_ = false;
        update();
    }
}

void ColorWell::colorPanelDidChangeColor(const QColor& color) {
    if (color == color_) {
        return;
    }
    setColor(color);
    platform::sendAction(action, this);
}

void ColorWell::colorPanelDidRelease() {
    if (active_) {
        active_ = false;
        update();
    }
}

void ColorWell::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    event->accept();
    if (active_) {
        deactivate();
        return;
    }
    activate(/*exclusive=*/true);
}

void ColorWell::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (active_) {
            deactivate();
        } else {
            activate(/*exclusive=*/true);
        }
        return;
    case Qt::Key_Escape:
        if (active_) {
            deactivate();
            return;
        }
        break;
    default:
        break;
    }
    QWidget::keyPressEvent(event);
}

bool ColorWell::event(QEvent* event) {
    platform::redrawOnWindowChange(this, event);
    if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) {
        update(); // the focus ring
    }
    return QWidget::event(event);
}

void ColorWell::paintEvent(QPaintEvent* event) {
    (void)event; // the whole well is drawn every time
    const PaintContext context = paintContext(*this);
    const Colors c = colors(context.dark);
    const double ratio = devicePixelRatioF();
    const QRectF bounds = rect();
    const double w = bounds.width();
    const double h = bounds.height();

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(roundedRect(bounds), verticalGradient(bounds, c.frameStart, c.frameEnd));

    painter.save();
    painter.setClipPath(roundedRect(alignedToDevicePixels(bounds.adjusted(1, 1, -1, -1), ratio)));
    painter.fillRect(QRectF(0, 0, w - buttonWidth, h), color_);
    const QRectF buttonArea(w - buttonWidth, 0, buttonWidth, h);
    if (!active_) {
        painter.fillRect(buttonArea, c.button);
    } else if (context.dark) {
        painter.fillRect(buttonArea, c.divider);
    } else {
        painter.fillRect(buttonArea, verticalGradient(buttonArea, QColor::fromHsvF(0.59, 0.9, 0.99),
                                                      QColor::fromHsvF(0.58, 0.56, 0.97)));
    }
    painter.restore();

    const QRectF button = alignedToDevicePixels(QRectF(w - buttonWidth, 1, buttonWidth, h - 2), ratio);
    painter.fillRect(alignedToDevicePixels(QRectF(button.x(), button.y(), 1, button.height()), ratio),
                     c.divider);
    // The desktop's colour-chooser icon when its theme has one; without it the button stays plain.
    static const auto* icon = new QIcon(QIcon::fromTheme(QStringLiteral("color-picker"))); // kept to exit
    if (!icon->isNull()) {
        icon->paint(&painter, QRectF(button.center() - QPointF(8, 8), QSizeF(16, 16)).toRect());
    }
    paintKeyboardFocus(painter, *this);
}

} // namespace cw::controls
