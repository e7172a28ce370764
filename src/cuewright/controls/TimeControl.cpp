#include "cuewright/controls/TimeControl.h"

#include "cuewright/controls/ControlPainting.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QSpinBox>

#include <algorithm>
#include <cmath>

namespace cw::controls {

// The box stands on a 6-point strip that holds the caret; clicks in its lowest 5 points select.
constexpr double caretStrip = 6;
constexpr double selectStrip = 5;
constexpr int fontPixels = 13;
constexpr std::array<const char*, 3> fieldNames = {"Hours", "Minutes", "Seconds"};

static QColor white(double level) {
    return QColor::fromRgbF(level, level, level);
}

static QFont fieldFont(QFont font) {
    font.setPixelSize(fontPixels);
    return font;
}

// The first enabled, visible default button of `window`.
static QPushButton* defaultButton(QWidget* window) {
    for (QPushButton* button : window->findChildren<QPushButton*>()) {
        if (button->isDefault() && button->isEnabled() && button->isVisible())
            return button;
    }
    return nullptr;
}

int TimeControl::maximum(Field field) {
    switch (field) {
    case Field::hour:
        return 8760; // a year: as long as the clocks count
    case Field::minute:
    case Field::second:
        return 59;
    }
    return 0;
}

TimeControl::TimeControl(QWidget* parent)
    : QWidget(parent)
    , editor_(new QLineEdit(this))
    , digitsOnly_(new QRegularExpressionValidator(editor_)) {
    setFocusPolicy(Qt::TabFocus);
    setAccessibleName(QStringLiteral("Time"));
    setFont(fieldFont(font()));
    editor_->hide();
    editor_->setFrame(false);
    editor_->setAlignment(Qt::AlignCenter);
    editor_->setFocusPolicy(Qt::ClickFocus); // Tab stops at the control, which hands on to it
    editor_->setValidator(digitsOnly_);
    editor_->installEventFilter(this);
    connect(editor_, &QLineEdit::textEdited, this, [this](const QString& typed) {
        if (!stepper_)
            return;
        const int typedValue = typed.toInt();
        const QSignalBlocker blocker(stepper_.data());
        stepper_->setValue(typedValue > maximum(selected_) ? stepperMidValue_ : typedValue);
    });
}

int TimeControl::digits(Field field) {
    return static_cast<int>(QString::number(maximum(field)).size());
}

void TimeControl::setValue(Field field, int value) {
    if (value < 0 || value > maximum(field))
        return;
    if (editing_ && selected_ == field)
        closeEditor();
    const double widthBefore = extraHourWidth();
    values_[index(field)] = value;
    if (extraHourWidth() != widthBefore) {
        updateGeometry();
        editor_->setGeometry(fieldRect(selected_).toAlignedRect());
    }
    syncStepper();
    update();
}

double TimeControl::extraHourWidth() const {
    const auto shown = static_cast<int>(text(Field::hour).size());
    return std::max(0, shown - 2) * QFontMetricsF(font()).horizontalAdvance(u'0');
}

void TimeControl::setTime(int hours, int minutes, int seconds) {
    // The owner refreshes it while playing: an unchanged value keeps what is being typed.
    if (hours == hour() && minutes == minute() && seconds == second())
        return;
    closeEditor();
    setHour(hours);
    setMinute(minutes);
    setSecond(seconds);
}

int TimeControl::totalSeconds() const {
    return hour() * 3600 + minute() * 60 + second();
}

void TimeControl::setSelected(Field field) {
    if (editing_ && field != selected_)
        finishEditing(Movement::none);
    selected_ = field;
    syncStepper();
    update();
}

QString TimeControl::text(Field field) const {
    return QString::asprintf("%02d", value(field));
}

// The fields keep 10 points free below them (the caret strip and the box's edge) and 2 above;
// hours of more than two digits widen the hour field.
QRectF TimeControl::fieldRect(Field field) const {
    const double extra = extraHourWidth();
    const double w = (width() - 14.5 - extra) / 3;
    const double x = 3.5 + index(field) * (w + 4) + (field == Field::hour ? 0 : extra);
    return QRectF(x, 2, w + (field == Field::hour ? extra : 0), height() - 12);
}

QRectF TimeControl::separatorRect(int index) const {
    const QRectF field = fieldRect(static_cast<Field>(index));
    return QRectF(field.right() - 3, field.top(), 6, field.height());
}

void TimeControl::setAction(QObject* target, std::string action) {
    action_.target = target;
    action_.action = std::move(action);
}

void TimeControl::setStepper(QSpinBox* stepper) {
    stepper_ = stepper;
    if (stepper_)
        stepper_->setEnabled(isEnabled());
    syncStepper();
}

QSpinBox* TimeControl::stepper() const {
    return stepper_;
}

void TimeControl::syncStepper() {
    stepperMidValue_ = value(selected_);
    if (!stepper_)
        return;
    const QSignalBlocker blocker(stepper_.data());
    stepper_->setRange(0, maximum(selected_));
    stepper_->setValue(stepperMidValue_);
}

QSize TimeControl::sizeHint() const {
    return QSize(80 + static_cast<int>(std::ceil(extraHourWidth())), 28);
}

void TimeControl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const double ratio = devicePixelRatioF();
    const QPalette& colours = palette();
    const QRectF box = alignedToDevicePixels(QRectF(0, 0, width(), height() - caretStrip), ratio);
    painter.fillRect(box, colours.color(QPalette::Base));
    painter.setPen(QPen(white(0.6667), 1));
    painter.drawRect(box.adjusted(0.5, 0.5, -0.5, -0.5));

    // The caret points up from the strip at the selected field.
    const QRectF selectedRect = fieldRect(selected_);
    const double middle = std::floor(selectedRect.left() + selectedRect.width() / 2);
    const double bottom = height() - 1;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(white(0.5765), 2));
    painter.drawPolyline(QPolygonF({{middle - 4, bottom}, {middle, bottom - 4}, {middle + 4, bottom}}));
    painter.restore();

    // The colons sit in the 4-point gaps between the fields.
    painter.setPen(colours.color(QPalette::Text));
    for (int k = 0; k < 2; ++k) {
        const QRectF separator = separatorRect(k);
        painter.drawText(separator.adjusted(2, 0, 2, 0), Qt::AlignCenter, QStringLiteral(":"));
    }
    for (Field field : {Field::hour, Field::minute, Field::second}) {
        const QRectF rect = alignedToDevicePixels(fieldRect(field), ratio);
        painter.fillRect(rect, colours.color(QPalette::Base));
        painter.drawText(rect, Qt::AlignCenter, text(field));
    }
}

void TimeControl::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    event->accept();
    const QPointF point = event->position();
    if (point.y() >= height() - selectStrip) {
        const int part = std::clamp(static_cast<int>(point.x() * 3 / width()), 0, 2);
        const Field field = static_cast<Field>(part);
        if (field != selected_) {
            finishEditing(Movement::none);
            setSelected(field);
        }
    }
    for (Field field : {Field::hour, Field::minute, Field::second}) {
        if (!fieldRect(field).contains(point))
            continue;
        if (editing_ && field == selected_)
            return;
        finishEditing(Movement::none);
        setFocus(Qt::MouseFocusReason);
        editField(field);
        return;
    }
}

void TimeControl::keyPressEvent(QKeyEvent* event) {
    // Typing a digit into the focused control starts editing the selected field with it.
    const QString typed = event->text();
    if (!editing_ && typed.size() == 1 && typed.front().isDigit()) {
        editField(selected_);
        editor_->insert(typed);
        return;
    }
    QWidget::keyPressEvent(event);
}

void TimeControl::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    if (event->reason() == Qt::TabFocusReason)
        editField(Field::hour);
    else if (event->reason() == Qt::BacktabFocusReason)
        editField(Field::second);
}

void TimeControl::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) {
        if (!isEnabled())
            closeEditor();
        if (stepper_)
            stepper_->setEnabled(isEnabled());
    }
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ActivationChange)
        update();
    QWidget::changeEvent(event);
}

void TimeControl::resizeEvent(QResizeEvent* event) {
    editor_->setGeometry(fieldRect(selected_).toAlignedRect());
    QWidget::resizeEvent(event);
}

bool TimeControl::eventFilter(QObject* watched, QEvent* event) {
    if (watched != editor_)
        return QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool shift = key->modifiers() & Qt::ShiftModifier;
        switch (key->key()) {
        case Qt::Key_Tab:
            finishEditing(shift ? Movement::backward : Movement::forward);
            return true;
        case Qt::Key_Backtab:
            finishEditing(Movement::backward);
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            finishEditing(Movement::returnKey);
            return true;
        case Qt::Key_Escape:
            closeEditor();
            return true;
        default:
            return false;
        }
    }
    if (event->type() == QEvent::FocusOut) {
        // Another widget took the focus; a window that only went inactive keeps the editing.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            finishEditing(Movement::none);
    }
    return false;
}

void TimeControl::editField(Field field) {
    setSelected(field);
    editor_->setGeometry(fieldRect(field).toAlignedRect());
    // Digits only, as many as the field's largest value has.
    digitsOnly_->setRegularExpression(QRegularExpression(QStringLiteral("[0-9]{0,%1}").arg(digits(field))));
    editor_->setText(text(field));
    editor_->setAccessibleName(QString::fromLatin1(fieldNames[index(field)]));
    editing_ = true;
    editor_->show();
    editor_->setFocus(Qt::OtherFocusReason);
    editor_->selectAll();
}

void TimeControl::closeEditor() {
    if (!editing_)
        return;
    editing_ = false;
    if (editor_->hasFocus())
        setFocus(Qt::OtherFocusReason);
    editor_->hide();
}

void TimeControl::finishEditing(Movement movement) {
    if (!editing_)
        return;
    const Field field = selected_;
    const int typed = editor_->text().toInt(); // empty is 0
    closeEditor();
    // Entered and left without a new value: nothing was edited, and the owner hears nothing.
    if (typed <= maximum(field) && typed != value(field)) {
        setValue(field, typed);
        emit valueEdited();
    }
    switch (movement) {
    case Movement::none:
        return;
    case Movement::forward:
        if (field == Field::second)
            leave(/*forward=*/true);
        else
            editField(static_cast<Field>(index(field) + 1));
        return;
    case Movement::backward:
        if (field == Field::hour)
            leave(/*forward=*/false);
        else
            editField(static_cast<Field>(index(field) - 1));
        return;
    case Movement::returnKey:
        if (platform::sendAction(action_, this))
            return;
        if (QPushButton* button = defaultButton(window()))
            button->click();
        return;
    }
}

void TimeControl::leave(bool forward) {
    focusNextPrevChild(forward);
    // Nothing else in the window takes the focus: wrap around inside the control.
    if (window()->focusWidget() == this)
        editField(forward ? Field::hour : Field::second);
}

} // namespace cw::controls
