// The time control: layout, values up to 48 hours, typing, Tab order, clicks and Return.
#include "ControlTestSupport.h"
#include "cuewright/controls/TimeControl.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <array>
#include <functional>
#include <utility>

namespace {

using cw::controls::TimeControl;
using Field = TimeControl::Field;
using controltest::CountingResponder;

std::array<int, 3> values(const TimeControl& time) {
    return {time.hour(), time.minute(), time.second()};
}

TEST(TimeControl, LaysOutThreeFieldsAndTwoSeparators) {
    for (const QSize size : {QSize(80, 28), QSize(121, 30)}) {
        TimeControl time;
        time.resize(size);
        const double w = (size.width() - 14.5) / 3;
        for (int i = 0; i < 3; ++i) {
            const double x = 3.5 + i * (w + 4);
            EXPECT_EQ(time.fieldRect(Field(i)), QRectF(x, 2, w, size.height() - 12))
                << size.width() << " " << i;
            if (i < 2) {
                EXPECT_EQ(time.separatorRect(i), QRectF(x + w - 3, 2, 6, size.height() - 12)) << i;
            }
        }
    }
}

// Starting from 05:06:07; out-of-range values change nothing, hours go up to a year's.
TEST(TimeControl, TakesHoursUpToAYearAndIgnoresValuesOutOfRange) {
    struct Case {
        const char* name;
        std::function<void(TimeControl&)> change;
        std::array<int, 3> values;
    };
    const Case cases[] = {
        {"minute 60", [](TimeControl& t) { t.setMinute(60); }, {5, 6, 7}},
        {"minute -1", [](TimeControl& t) { t.setMinute(-1); }, {5, 6, 7}},
        {"second 59", [](TimeControl& t) { t.setSecond(59); }, {5, 6, 59}},
        {"hour 83", [](TimeControl& t) { t.setHour(83); }, {83, 6, 7}},
        {"hour 8761", [](TimeControl& t) { t.setHour(8761); }, {5, 6, 7}},
        {"1 h 2 min 5 s", [](TimeControl& t) { t.setTime(1, 2, 5); }, {1, 2, 5}},
        {"8760 hours", [](TimeControl& t) { t.setTime(8760, 0, 0); }, {8760, 0, 0}},
        {"8761 hours", [](TimeControl& t) { t.setTime(8761, 0, 30); }, {5, 0, 30}},
    };
    for (const Case& c : cases) {
        TimeControl time;
        time.setTime(5, 6, 7);
        c.change(time);
        EXPECT_EQ(values(time), c.values) << c.name;
        EXPECT_EQ(time.totalSeconds(), c.values[0] * 3600 + c.values[1] * 60 + c.values[2]) << c.name;
    }
}

// A field, the time control, another field and the window's default button.
struct TimeWindow {
    QWidget window;
    QLineEdit* before = new QLineEdit(&window);
    TimeControl* time = new TimeControl(&window);
    QLineEdit* after = new QLineEdit(&window);
    QPushButton* button = new QPushButton(QStringLiteral("OK"), &window);
    QLineEdit* editor = time->findChild<QLineEdit*>();
    CountingResponder responder{"applyRuntime:"};
    int edits = 0;
    int buttonClicks = 0;

    TimeWindow() {
        auto* layout = new QVBoxLayout(&window);
        for (QWidget* widget : std::initializer_list<QWidget*>{before, time, after, button})
            layout->addWidget(widget);
        button->setDefault(true);
        QObject::connect(time, &TimeControl::valueEdited, [this] { ++edits; });
        QObject::connect(button, &QPushButton::clicked, [this] { ++buttonClicks; });
        time->setTime(5, 6, 7);
    }
    void click(Field field) {
        QTest::mouseClick(time, Qt::LeftButton, {}, time->fieldRect(field).center().toPoint());
    }
};

TEST(TimeControl, TypedValuesAboveTheMaximumAreRefusedAndReturnSendsTheAction) {
    struct Case {
        const char* name;
        Field field;
        const char* typed;
        Qt::Key finish;
        std::array<int, 3> values;
        int edits, actions;
        bool editingNext;
    };
    const Case cases[] = {
        {"hour 7, Tab", Field::hour, "7", Qt::Key_Tab, {7, 6, 7}, 1, 0, true},
        {"minute 75, Tab", Field::minute, "75", Qt::Key_Tab, {5, 6, 7}, 0, 0, true},
        {"hour 36, Return", Field::hour, "36", Qt::Key_Return, {36, 6, 7}, 1, 1, false},
        {"hour 897, Return", Field::hour, "897", Qt::Key_Return, {897, 6, 7}, 1, 1, false},
        {"hour 9000, Return", Field::hour, "9000", Qt::Key_Return, {5, 6, 7}, 0, 1, false},
        {"minute 123: two digits", Field::minute, "123", Qt::Key_Tab, {5, 12, 7}, 1, 0, true},
        {"letters refused", Field::minute, "a9b", Qt::Key_Tab, {5, 9, 7}, 1, 0, true},
        {"Escape drops it", Field::second, "42", Qt::Key_Escape, {5, 6, 7}, 0, 0, false},
        {"the same hour again, Tab", Field::hour, "05", Qt::Key_Tab, {5, 6, 7}, 0, 0, true},
        {"the same second, Return", Field::second, "7", Qt::Key_Return, {5, 6, 7}, 0, 1, false},
    };
    for (const Case& c : cases) {
        TimeWindow w;
        w.time->setAction(&w.responder, "applyRuntime:");
        ASSERT_TRUE(controltest::activate(w.window));
        w.click(c.field);
        ASSERT_TRUE(w.time->isEditing()) << c.name;
        QTest::keyClicks(w.editor, c.typed);
        QTest::keyClick(w.editor, c.finish);
        EXPECT_EQ(values(*w.time), c.values) << c.name;
        EXPECT_EQ(w.edits, c.edits) << c.name;
        EXPECT_EQ(w.responder.count, c.actions) << c.name;
        EXPECT_EQ(w.time->isEditing(), c.editingNext) << c.name;
        EXPECT_EQ(w.buttonClicks, 0) << c.name;
    }
}

// The stepper follows the selected field and falls back to its last valid value.
TEST(TimeControl, PastedLettersAreRefusedWholeAndTheStepperFollowsTheField) {
    TimeWindow w;
    auto* stepper = new QSpinBox(&w.window);
    w.time->setStepper(stepper);
    ASSERT_TRUE(controltest::activate(w.window));
    w.click(Field::minute);
    EXPECT_EQ(std::make_pair(stepper->maximum(), stepper->value()), std::make_pair(59, 6));
    w.editor->insert(QStringLiteral("7a"));
    EXPECT_EQ(w.editor->text(), QStringLiteral("06"));
    QTest::keyClicks(w.editor, "75");
    EXPECT_EQ(stepper->value(), 6);
    QTest::keyClick(w.editor, Qt::Key_Backspace);
    EXPECT_EQ(stepper->value(), 7);
    QTest::keyClick(w.editor, Qt::Key_Backtab);
    EXPECT_EQ(w.time->text(Field::minute), QStringLiteral("07"));
    EXPECT_EQ(std::make_pair(stepper->maximum(), stepper->value()), std::make_pair(8760, 5));
}

TEST(TimeControl, TabWalksTheFieldsAndLeavesOrWrapsAround) {
    TimeWindow w;
    ASSERT_TRUE(controltest::activate(w.window));
    w.before->setFocus();
    struct Step {
        Qt::Key key;
        QWidget* focus; // null: the control, editing `field`
        Field field;
    };
    const Step steps[] = {
        {Qt::Key_Tab, nullptr, Field::hour},       {Qt::Key_Tab, nullptr, Field::minute},
        {Qt::Key_Tab, nullptr, Field::second},     {Qt::Key_Tab, w.after, Field::second},
        {Qt::Key_Backtab, nullptr, Field::second}, {Qt::Key_Backtab, nullptr, Field::minute},
        {Qt::Key_Backtab, nullptr, Field::hour},   {Qt::Key_Backtab, w.before, Field::hour},
    };
    for (const Step& s : steps) {
        QTest::keyClick(QApplication::focusWidget(), s.key);
        const int i = static_cast<int>(&s - steps);
        EXPECT_EQ(QApplication::focusWidget(), s.focus ? s.focus : w.editor) << "step " << i;
        EXPECT_EQ(w.time->isEditing(), s.focus == nullptr) << "step " << i;
        EXPECT_EQ(w.time->selected(), s.field) << "step " << i;
    }
    EXPECT_EQ(w.edits, 0) << "fields entered and left as they were";
    EXPECT_FALSE(w.time->accessibleName().isEmpty());
    EXPECT_FALSE(w.editor->accessibleName().isEmpty());

    // Alone in its window the control keeps the focus and wraps to its other end.
    QWidget lone;
    auto* time = new TimeControl(&lone);
    time->resize(80, 28);
    ASSERT_TRUE(controltest::activate(lone));
    QTest::mouseClick(time, Qt::LeftButton, {}, time->fieldRect(Field::second).center().toPoint());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(time->selected(), Field::hour);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    EXPECT_EQ(time->selected(), Field::second);
    EXPECT_TRUE(time->isEditing());
}

TEST(TimeControl, ClicksSelectOrEditAndReturnFallsBackToTheDefaultButton) {
    TimeWindow w;
    ASSERT_TRUE(controltest::activate(w.window));
    w.before->setFocus();
    // The caret strip under the minutes selects them without editing or taking the focus.
    QTest::mouseClick(w.time, Qt::LeftButton, {}, QPoint(w.time->width() / 2, w.time->height() - 2));
    EXPECT_EQ(w.time->selected(), Field::minute);
    EXPECT_FALSE(w.time->isEditing());
    EXPECT_EQ(QApplication::focusWidget(), w.before);

    w.time->setEnabled(false);
    w.click(Field::hour);
    EXPECT_FALSE(w.time->isEditing());
    EXPECT_EQ(w.time->selected(), Field::minute);

    w.time->setEnabled(true);
    w.click(Field::second);
    w.time->setTime(5, 6, 7); // a refresh with the same value
    EXPECT_TRUE(w.time->isEditing());
    EXPECT_EQ(w.time->selected(), Field::second);
    // Nobody performs the control's action: Return presses the default button.
    QTest::keyClick(w.editor, Qt::Key_Return);
    EXPECT_EQ(w.buttonClicks, 1);
    EXPECT_EQ(w.edits, 0) << "Return on a field as it was";
    // A digit typed into the focused control edits the selected field.
    QTest::keyClicks(w.time, "3");
    EXPECT_TRUE(w.time->isEditing());
    EXPECT_EQ(w.editor->text(), QStringLiteral("3"));
    // A click elsewhere ends the editing: with a new value an edit, without one none.
    QTest::mouseClick(w.after, Qt::LeftButton);
    EXPECT_EQ(std::make_pair(w.time->second(), w.edits), std::make_pair(3, 1));
    w.click(Field::minute);
    ASSERT_TRUE(w.time->isEditing());
    QTest::mouseClick(w.after, Qt::LeftButton);
    EXPECT_FALSE(w.time->isEditing());
    EXPECT_EQ(w.edits, 1) << "the minutes entered and left by clicks";
}

} // namespace
