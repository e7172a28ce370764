#include "cuewright/settings/GamepadLayoutWindowController.h"

#include <QPainter>
#include <QPainterPath>

#include <array>

namespace cw {

namespace {

struct Callout {
    QPointF anchor; // on the controller
    QPointF label;  // where the text starts (left column ends there, right column starts there)
    const char* text;
    bool rightSide;
};

constexpr std::array<Callout, 10> callouts{{
    {{178, 92}, {40, 40}, QT_TRANSLATE_NOOP("GamepadLayout", "LB  Fast backward while held"), false},
    {{182, 148}, {40, 96}, QT_TRANSLATE_NOOP("GamepadLayout", "LT  Slower"), false},
    {{196, 196}, {40, 196}, QT_TRANSLATE_NOOP("GamepadLayout", "Left stick  Speed"), false},
    {{250, 252}, {40, 296}, QT_TRANSLATE_NOOP("GamepadLayout", "Pad  Lines ↑↓, bookmarks ←→"), false},
    {{442, 92}, {580, 40}, QT_TRANSLATE_NOOP("GamepadLayout", "RB  Fast forward while held"), true},
    {{438, 148}, {580, 96}, QT_TRANSLATE_NOOP("GamepadLayout", "RT  Faster"), true},
    {{424, 168}, {580, 150}, QT_TRANSLATE_NOOP("GamepadLayout", "Y  Rewind"), true},
    {{398, 194}, {580, 196}, QT_TRANSLATE_NOOP("GamepadLayout", "X  Reverse direction"), true},
    {{424, 220}, {580, 242}, QT_TRANSLATE_NOOP("GamepadLayout", "A  Play / pause"), true},
    {{370, 252}, {580, 296}, QT_TRANSLATE_NOOP("GamepadLayout", "Right stick  Scrub"), true},
}};

class GamepadPicture : public QWidget {
public:
    explicit GamepadPicture(QWidget* parent)
        : QWidget(parent) {
        setFixedSize(820, 360);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QPalette& pal = palette();
        p.fillRect(rect(), pal.window());
        p.translate(100, 10);
        const QColor line = pal.color(QPalette::WindowText);
        QColor body = pal.color(QPalette::Button);
        QPainterPath shape;
        shape.moveTo(200, 110);
        shape.cubicTo(250, 95, 370, 95, 420, 110);
        shape.cubicTo(480, 125, 520, 270, 490, 300);
        shape.cubicTo(460, 330, 420, 290, 390, 260);
        shape.lineTo(230, 260);
        shape.cubicTo(200, 290, 160, 330, 130, 300);
        shape.cubicTo(100, 270, 140, 125, 200, 110);
        p.setPen(QPen(line, 1.6));
        p.setBrush(body);
        p.drawPath(shape);
        // Shoulders and triggers.
        p.drawRoundedRect(QRectF(160, 84, 60, 14), 6, 6);
        p.drawRoundedRect(QRectF(400, 84, 60, 14), 6, 6);
        // Sticks.
        p.setBrush(pal.color(QPalette::Mid));
        p.drawEllipse(QPointF(196, 170), 22, 22);
        p.drawEllipse(QPointF(370, 230), 22, 22);
        // Pad.
        QPainterPath pad;
        pad.addRoundedRect(QRectF(238, 210, 24, 64), 4, 4);
        pad.addRoundedRect(QRectF(218, 230, 64, 24), 4, 4);
        p.drawPath(pad.simplified());
        // Face buttons.
        const std::array<std::pair<QPointF, const char*>, 4> face{
            {{{424, 142}, "Y"}, {{398, 168}, "X"}, {{450, 168}, "B"}, {{424, 194}, "A"}}};
        QFont f = font();
        f.setBold(true);
        f.setPointSizeF(f.pointSizeF() * 0.9);
        for (const auto& [centre, letter] : face) {
            p.setPen(QPen(line, 1.4));
            p.setBrush(pal.color(QPalette::Base));
            p.drawEllipse(centre, 11, 11);
            p.setFont(f);
            p.drawText(QRectF(centre.x() - 11, centre.y() - 11, 22, 22), Qt::AlignCenter,
                       QString::fromLatin1(letter));
        }
        p.setFont(font());
        for (const Callout& c : callouts) {
            const QString text = QCoreApplication::translate("GamepadLayout", c.text);
            const QPointF labelPoint = c.rightSide ? QPointF(c.label.x() - 100 + 110, c.label.y())
                                                   : QPointF(c.label.x() - 100 + 100, c.label.y());
            const QPointF lineEnd = c.rightSide ? QPointF(c.label.x() - 100 + 100, c.label.y())
                                                : QPointF(c.label.x() - 100 + 110, c.label.y());
            p.setPen(QPen(pal.color(QPalette::PlaceholderText), 1.0));
            p.drawLine(c.anchor, QPointF(c.anchor.x(), lineEnd.y()));
            p.drawLine(QPointF(c.anchor.x(), lineEnd.y()), lineEnd);
            p.setPen(line);
            const QRectF box = c.rightSide ? QRectF(labelPoint.x() + 4, labelPoint.y() - 10, 240, 20)
                                           : QRectF(labelPoint.x() - 244, labelPoint.y() - 10, 240, 20);
            p.drawText(box, (c.rightSide ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter, text);
        }
    }
};

} // namespace

GamepadLayoutWindowController::GamepadLayoutWindowController(QObject* parent)
    : platform::WindowController(parent) {}

QWidget* GamepadLayoutWindowController::makeWindow() {
    auto* picture = new GamepadPicture(nullptr);
    picture->setWindowFlags(Qt::Window);
    picture->setWindowTitle(tr("Gamepad Layout"));
    return picture;
}

void GamepadLayoutWindowController::windowDidLoad() {
    updateWindowAppearance();
    registerForAppearanceChanges();
}

void GamepadLayoutWindowController::showWindow() {
    platform::WindowController::showWindow();
    updateWindowAppearance();
    registerForAppearanceChanges();
}

} // namespace cw
