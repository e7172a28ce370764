// A framed box of three two-digit fields, hours : minutes : seconds, for the script's running time.
#pragma once

#include "platform/ui/ActionRoute.h"

#include <QPointer>
#include <QWidget>

#include <array>
#include <string>

class QLineEdit;
class QRegularExpressionValidator;
class QSpinBox;

namespace cw::controls {

// Holds a duration: hours 0…8760 (a year, as long as the clocks count; the hour field widens
// beyond two digits), minutes and seconds 0…59. One field at a time is edited in place; a caret under the box
// points at the selected field. Tab into the control edits the hours, Shift-Tab the seconds; Tab and
// Shift-Tab then move field by field and out of the control (back to the first or last field when nothing
// else in the window takes the focus). Return sends the action, or presses the window's default button when
// nobody performs it; Escape drops what was typed. A field takes digits only, as many as its largest value
// has; a typed value above the field's maximum is refused and the old value stays. `valueEdited` tells the
// owner of each accepted edit that changed a value; a field entered and left as it was tells nothing. An
// optional stepper follows the selected field. Main thread only.
class TimeControl : public QWidget {
    Q_OBJECT

public:
    enum class Field { hour, minute, second };
    static int maximum(Field field);
    static int digits(Field field);

    explicit TimeControl(QWidget* parent = nullptr);
    TimeControl(const TimeControl&) = delete;
    TimeControl& operator=(const TimeControl&) = delete;

    int value(Field field) const { return values_[index(field)]; }
    // Ignored outside 0…maximum(field); a change of the field being edited ends the editing.
    void setValue(Field field, int value);
    int hour() const { return value(Field::hour); }
    int minute() const { return value(Field::minute); }
    int second() const { return value(Field::second); }
    void setHour(int hour) { setValue(Field::hour, hour); }
    void setMinute(int minute) { setValue(Field::minute, minute); }
    void setSecond(int second) { setValue(Field::second, second); }

    // Shows the three values (each out of its range is ignored, as by setValue); a change drops
    // any editing, the same values keep what is being typed.
    void setTime(int hours, int minutes, int seconds);
    int totalSeconds() const;

    Field selected() const { return selected_; }
    void setSelected(Field field);
    bool isEditing() const { return editing_; }
    // A field's text as drawn: two digits at least.
    QString text(Field field) const;

    QRectF fieldRect(Field field) const;
    QRectF separatorRect(int index) const; // 0 or 1

    void setAction(QObject* target, std::string action);
    const platform::ActionBinding& actionBinding() const { return action_; }

    // A spin box that shows and steps the selected field: the control keeps its range and value
    // in step; its owner writes stepped values back. Null disconnects it.
    void setStepper(QSpinBox* stepper);
    QSpinBox* stepper() const;

    QSize sizeHint() const override;

signals:
    // The user ended editing a field with a new value, which it took.
    void valueEdited();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class Movement { none, forward, backward, returnKey };
    static int index(Field field) { return static_cast<int>(field); }

    void editField(Field field);
    // Takes the typed value when the field allows it, then carries out the movement.
    void finishEditing(Movement movement);
    // Hides the editor without taking its text; the keyboard focus stays with the control.
    void closeEditor();
    void leave(bool forward);
    void syncStepper();
    // The hour field's width beyond that of two digits.
    double extraHourWidth() const;

    std::array<int, 3> values_{};
    Field selected_ = Field::hour;
    bool editing_ = false;
    QLineEdit* editor_;
    QRegularExpressionValidator* digitsOnly_; // the editor's, set for the field being edited
    QPointer<QSpinBox> stepper_;
    int stepperMidValue_ = 0; // the last valid value of the selected field
    platform::ActionBinding action_;
};

} // namespace cw::controls
