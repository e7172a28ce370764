#include "cuewright/controls/SliderBase.h"

#include <QKeyEvent>
#include <QMouseEvent>

#include <algorithm>
#include <optional>

namespace cw::controls {

SliderBase::SliderBase(QWidget* parent)
    : QWidget(parent) {
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void SliderBase::setAction(QObject* target, std::string action) {
    action_.target = target;
    action_.action = std::move(action);
}

void SliderBase::setTickMarks(int count) {
    count = std::max(count, 0);
    if (count == tickMarks_)
        return;
    tickMarks_ = count;
    update();
}

QSize SliderBase::sizeHint() const {
    return QSize(120, 21);
}

void SliderBase::sendAction() {
    platform::sendAction(action_, this);
}

void SliderBase::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange || event->type() == QEvent::PaletteChange)
        update();
    QWidget::changeEvent(event);
}

void SliderBase::focusInEvent(QFocusEvent* event) {
    update(); // the focus ring
    QWidget::focusInEvent(event);
}

void SliderBase::focusOutEvent(QFocusEvent* event) {
    update();
    QWidget::focusOutEvent(event);
}

void SliderBase::keyPressEvent(QKeyEvent* event) {
    const double step = track().keyStep();
    const double value = activeKnobValue();
    std::optional<double> wanted;
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Down:
        wanted = value - step;
        break;
    case Qt::Key_Right:
    case Qt::Key_Up:
        wanted = value + step;
        break;
    case Qt::Key_PageDown:
        wanted = value - 0.1;
        break;
    case Qt::Key_PageUp:
        wanted = value + 0.1;
        break;
    case Qt::Key_Home:
        wanted = 0.0;
        break;
    case Qt::Key_End:
        wanted = 1.0;
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    double next = std::clamp(*wanted, 0.0, 1.0);
    if (snapsToTicks_)
        next = track().snapped(next);
    if (moveActiveKnob(next))
        sendAction();
}

void SliderBase::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    event->accept();
    // A press on a knob sends nothing; one on the track moves a knob there, unsnapped.
    if (pressKnobAt(event->position())) {
        update();
        return;
    }
    const double value = track().valueForX(event->position().x());
    pressKnobFor(value);
    update();
    if (moveActiveKnob(value) && continuous_)
        sendAction();
}

void SliderBase::mouseMoveEvent(QMouseEvent* event) {
    if (!isPressed()) {
        event->ignore();
        return;
    }
    event->accept();
    const SliderTrack geometry = track();
    double value = geometry.valueForX(event->position().x());
    if (snapsToTicks_)
        value = geometry.snapped(value);
    if (moveActiveKnob(value) && continuous_)
        sendAction();
}

void SliderBase::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !isPressed()) {
        event->ignore();
        return;
    }
    event->accept();
    releaseKnobs();
    update();
    sendAction();
}

} // namespace cw::controls
