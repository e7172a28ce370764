// Section dividers, the label button, the link and button labels and the prominent button.
#include "cuewright/controls/ActionableLabelDivider.h"
#include "cuewright/controls/ButtonLabel.h"
#include "cuewright/controls/ControlPainting.h"
#include "cuewright/controls/LabelButton.h"
#include "cuewright/controls/LabeledDivider.h"
#include "cuewright/controls/LinkLabel.h"
#include "cuewright/controls/ProminentButton.h"
#include "platform/ui/Appearance.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QContextMenuEvent>
#include <QTest>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace cw::controls;

// Performs every action and records it with its sender.
class Recorder : public QObject, public platform::ActionResponder {
public:
    bool respondsToAction(std::string_view) const override { return true; }
    void performAction(std::string_view action, QObject* sender) override {
        log.push_back(std::string(action));
        senders.push_back(sender);
    }
    std::vector<std::string> log;
    std::vector<QObject*> senders;
};

// Counts the paint events a widget gets.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint;
        return false;
    }
    int paints = 0;
};

// Delivers pending updates, so that paint events happen now.
void flushPaints() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

enum class Kind { labelButton, link, buttonLabel, prominent, divider };

// A control of the kind, acting on `binding` (and a divider's right click on `right`).
QWidget* make(Kind kind, platform::ActionBinding binding = {}, std::string right = {}) {
    const auto bound = [&](auto* control) {
        control->setActionBinding(binding);
        return control;
    };
    switch (kind) {
    case Kind::labelButton:
        return bound(new LabelButton);
    case Kind::link:
        return bound(new LinkLabel);
    case Kind::buttonLabel:
        return bound(new ButtonLabel);
    case Kind::prominent:
        return bound(new ProminentButton);
    case Kind::divider:
        break;
    }
    auto* divider = bound(new ActionableLabelDivider);
    divider->setRightAction(right);
    return divider;
}

// A shown light window holding one control of 120×24; the recorder is the control's target
// and the application's responder, so it sees every action whichever way it goes.
class LabelControls : public ::testing::Test {
protected:
    void SetUp() override { platform::setApplicationResponder(&app); }
    void TearDown() override { platform::setApplicationResponder(nullptr); }

    template <typename Control> Control* place(Control* control) {
        platform::Appearance::applyToWindow(&window, platform::AppearanceStyle::light);
        window.resize(200, 60);
        control->setParent(&window);
        control->setGeometry(20, 10, 120, 24);
        control->show();
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
        return control;
    }

    Recorder target;
    Recorder app;
    QWidget window;
};

TEST_F(LabelControls, DividerTitleSitsAboveTheBottomLineTenPixelsNarrower) {
    struct Case {
        QSize size;
        LabeledDivider::Style style;
        QRectF border;
        double titleLeft, titleWidth, titleBottom;
    };
    LabeledDivider::Style wideMargin;
    wideMargin.labelMarginLeft = 20;
    LabeledDivider::Style raised;
    raised.bottomBorderHeight = 2;
    raised.labelBaseline = 4;
    const Case cases[] = {
        {{100, 20}, {}, {0, 19, 100, 1}, 10, 90, 19},
        {{100, 20}, wideMargin, {0, 19, 100, 1}, 20, 90, 19}, // the width does not follow the margin
        {{200, 30}, raised, {0, 28, 200, 2}, 10, 190, 26},
    };
    LabeledDivider divider;
    const double lineHeight = QFontMetricsF(divider.titleFont()).height();
    for (const Case& c : cases) {
        divider.resize(c.size);
        divider.setStyle(c.style);
        const LabeledDivider::Layout layout = divider.layout();
        EXPECT_EQ(layout.bottomBorder, c.border);
        const QRectF title(c.titleLeft, c.titleBottom - lineHeight, c.titleWidth, lineHeight);
        EXPECT_EQ(layout.title, alignedToDevicePixels(title, 1));
    }
    divider.setTitle("A title far too long for ninety pixels");
    divider.resize(100, 40);
    EXPECT_GE(divider.layout().title.height(), 2 * lineHeight); // measured at the narrower width
}

TEST_F(LabelControls, ReleasesSendOneActionWhereTheControlSaysSo) {
    const QPoint inside(60, 12), outside(300, 300);
    const platform::ActionBinding act{&target, "act:"};
    using Log = std::vector<std::string>;
    const struct {
        const char* name;
        Kind kind;
        platform::ActionBinding binding;
        std::string right;
        Qt::MouseButton button;
        QPoint release;
        Log targetLog, appLog;
    } cases[] = {
        {"label button inside", Kind::labelButton, act, "", Qt::LeftButton, inside, {"act:"}, {}},
        {"label button outside", Kind::labelButton, act, "", Qt::LeftButton, outside, {"act:"}, {}},
        {"link outside", Kind::link, act, "", Qt::LeftButton, outside, {"act:"}, {}},
        {"link without target", Kind::link, {nullptr, "act:"}, "", Qt::LeftButton, inside, {}, {"act:"}},
        {"link without action", Kind::link, {&target, ""}, "", Qt::LeftButton, inside, {}, {}},
        {"link right button", Kind::link, act, "", Qt::RightButton, inside, {}, {}},
        {"button label inside", Kind::buttonLabel, act, "", Qt::LeftButton, inside, {"act:"}, {}},
        {"button label outside", Kind::buttonLabel, act, "", Qt::LeftButton, outside, {}, {}},
        {"prominent inside", Kind::prominent, act, "", Qt::LeftButton, inside, {"act:"}, {}},
        {"prominent outside", Kind::prominent, act, "", Qt::LeftButton, outside, {}, {}},
        {"divider left", Kind::divider, act, "", Qt::LeftButton, inside, {"act:"}, {}},
        {"divider right without right action", Kind::divider, act, "", Qt::RightButton, inside, {}, {}},
        {"divider right", Kind::divider, act, "right:", Qt::RightButton, inside, {"right:"}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        target.log.clear();
        app.log.clear();
        app.senders.clear();
        std::unique_ptr<QWidget> control(place(make(c.kind, c.binding, c.right)));
        QTest::mousePress(control.get(), c.button, {}, inside);
        auto* clickable = qobject_cast<ClickableControl*>(control.get());
        const auto isDown = [&] { return clickable && clickable->isMouseDown(); };
        EXPECT_EQ(isDown(), clickable && c.button == Qt::LeftButton);
        QTest::mouseRelease(control.get(), c.button, {}, c.release);
        EXPECT_FALSE(isDown());
        EXPECT_EQ(target.log, c.targetLog);
        EXPECT_EQ(app.log, c.appLog);
        for (QObject* sender : target.senders)
            EXPECT_EQ(sender, control.get());
        target.senders.clear();
    }
}

// Each pressable control by keyboard and through accessibility, and how screen readers see it.
TEST_F(LabelControls, KeyboardAndAccessibilityPressLikeAClick) {
    const struct {
        Kind kind;
        QAccessible::Role role;
        QString name;
    } cases[] = {
        {Kind::labelButton, QAccessible::Button, "Reset"},
        {Kind::link, QAccessible::Link, LinkLabel::defaultAddress},
        {Kind::buttonLabel, QAccessible::Button, "No Thanks"},
        {Kind::prominent, QAccessible::Button, "Rate us in the App Store"},
        {Kind::divider, QAccessible::Button, "Title"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        target.log.clear();
        std::unique_ptr<QWidget> control(place(make(c.kind, {&target, "act:"})));
        control->setFocus();
        for (Qt::Key key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_A})
            QTest::keyClick(control.get(), key);
        EXPECT_EQ(target.log.size(), 2u);

        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control.get());
        ASSERT_NE(accessible, nullptr);
        EXPECT_EQ(accessible->role(), c.role);
        EXPECT_EQ(accessible->text(QAccessible::Name), c.name);
        accessible->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        EXPECT_EQ(target.log.size(), 3u);
    }
    QWidget* divider = place(make(Kind::divider, {&target, "act:"}, "right:"));
    divider->setFocus();
    target.log.clear();
    // The menu key acts as a right click; a right click's own menu request acts no second time.
    for (auto reason : {QContextMenuEvent::Keyboard, QContextMenuEvent::Mouse}) {
        QContextMenuEvent request(reason, QPoint(5, 5), divider->mapToGlobal(QPoint(5, 5)));
        QCoreApplication::sendEvent(divider, &request);
        EXPECT_TRUE(request.isAccepted()); // no menu of the parent's pops up
    }
    EXPECT_EQ(target.log, std::vector<std::string>{"right:"});

    LabeledDivider plain;
    EXPECT_EQ(QAccessible::queryAccessibleInterface(&plain)->role(), QAccessible::Heading);
    EXPECT_FALSE(QAccessible::queryAccessibleInterface(&plain)->actionInterface()->actionNames().contains(
        QAccessibleActionInterface::pressAction()));
}

TEST_F(LabelControls, ChangesRedrawAtOnceAndOnlyWhenTheyChangeSomething) {
    struct Case {
        const char* name;
        std::function<QWidget*()> make;
        std::function<void(QWidget*)> change;
        int paints;
    };
    const Case cases[] = {
        {"divider title", [] { return new LabeledDivider; },
         [](QWidget* w) { static_cast<LabeledDivider*>(w)->setTitle("Other"); }, 1},
        {"divider same title", [] { return new LabeledDivider; },
         [](QWidget* w) { static_cast<LabeledDivider*>(w)->setTitle("Title"); }, 0},
        {"label button title", [] { return new LabelButton; },
         [](QWidget* w) { static_cast<LabelButton*>(w)->setTitle("Clear"); }, 1},
        {"link address", [] { return new LinkLabel; },
         [](QWidget* w) { static_cast<LinkLabel*>(w)->setAddress("https://example.org"); }, 1},
        {"button label font size", [] { return new ButtonLabel; },
         [](QWidget* w) { static_cast<ButtonLabel*>(w)->setFontSize(13); }, 1},
        {"prominent same font size", [] { return new ProminentButton; },
         [](QWidget* w) { static_cast<ProminentButton*>(w)->setFontSize(17); }, 0},
        {"window activation", [] { return new ButtonLabel; },
         [](QWidget* w) {
             QEvent activation(QEvent::ActivationChange);
             QCoreApplication::sendEvent(w, &activation);
         },
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<QWidget> control(place(c.make()));
        flushPaints();
        PaintCounter counter(control.get());
        c.change(control.get());
        flushPaints();
        EXPECT_EQ(counter.paints, c.paints);
    }
}

TEST_F(LabelControls, AppearanceSwitchRepaintsWithTheOtherPalette) {
    auto* divider = place(new LabeledDivider);
    const auto borderColour = [&] { return divider->grab().toImage().pixelColor(50, divider->height() - 1); };
    EXPECT_EQ(borderColour(), LabeledDivider::gridColor(platform::lightPalette()));
    flushPaints();
    PaintCounter counter(divider);
    platform::Appearance::applyToWindow(&window, platform::AppearanceStyle::dark);
    flushPaints();
    EXPECT_GE(counter.paints, 1);
    EXPECT_EQ(borderColour(), LabeledDivider::gridColor(platform::darkPalette()));
    EXPECT_NE(LabeledDivider::gridColor(platform::lightPalette()),
              LabeledDivider::gridColor(platform::darkPalette()));
}

} // namespace
