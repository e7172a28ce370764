#include "cuewright/settings/GamepadLayoutWindowController.h"

#include "cuewright/settings/CloseShortcut.h"
#include "platform/ui/WindowFrame.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <array>

namespace cw {

namespace {

struct Callout {
    QPointF anchor; // on the controller, in the picture's coordinates
    double labelY;
    const char* text;
    bool rightSide;
};

// The controller is drawn in a 620 x 340 box; labels sit left and right of it.
constexpr std::array<Callout, 10> callouts{{
    {{190, 72}, 40, QT_TRANSLATE_NOOP("GamepadLayout", "LT  Slower"), false},
    {{170, 94}, 96, QT_TRANSLATE_NOOP("GamepadLayout", "LB  Fast backward while held"), false},
    {{196, 170}, 170, QT_TRANSLATE_NOOP("GamepadLayout", "Left stick  Speed"), false},
    {{250, 242}, 290, QT_TRANSLATE_NOOP("GamepadLayout", "Pad  Lines up and down, bookmarks"), false},
    {{430, 72}, 40, QT_TRANSLATE_NOOP("GamepadLayout", "RT  Faster"), true},
    {{450, 94}, 96, QT_TRANSLATE_NOOP("GamepadLayout", "RB  Fast forward while held"), true},
    {{424, 142}, 150, QT_TRANSLATE_NOOP("GamepadLayout", "Y  Rewind"), true},
    {{398, 168}, 190, QT_TRANSLATE_NOOP("GamepadLayout", "X  Reverse direction"), true},
    {{424, 194}, 230, QT_TRANSLATE_NOOP("GamepadLayout", "A  Play / pause"), true},
    {{370, 230}, 290, QT_TRANSLATE_NOOP("GamepadLayout", "Right stick  Scrub"), true},
}};

constexpr double kOffsetX = 260; // where the controller's box starts
constexpr double kWidth = 1140;
constexpr double kHeight = 340;

class GamepadPicture : public QWidget {
public:
    explicit GamepadPicture(QWidget* parent)
        : QWidget(parent) {
        resize(natural());
        setMinimumSize(natural() / 3);
    }
    static QSize natural() { return QSize(int(kWidth), int(kHeight)); }
    QSize sizeHint() const override { return natural(); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QPalette& pal = palette();
        p.fillRect(rect(), pal.window());
        // Drawn smaller, whole and centred, in a window the screen keeps smaller.
        const double scale = std::min({width() / kWidth, height() / kHeight, 1.0});
        p.translate((width() - kWidth * scale) / 2, (height() - kHeight * scale) / 2);
        p.scale(scale, scale);
        const QColor line = pal.color(QPalette::WindowText);
        // Leaders first: the controller covers their inner ends.
        p.setPen(QPen(pal.color(QPalette::PlaceholderText), 1.0));
        for (const Callout& c : callouts) {
            const QPointF anchor = c.anchor + QPointF(kOffsetX, 0);
            const double edge = c.rightSide ? kOffsetX + 640 : kOffsetX - 20;
            p.drawLine(anchor, QPointF(anchor.x(), c.labelY));
            p.drawLine(QPointF(anchor.x(), c.labelY), QPointF(edge, c.labelY));
        }
        p.setPen(line);
        for (const Callout& c : callouts) {
            const QString text = QCoreApplication::translate("GamepadLayout", c.text);
            const QRectF box = c.rightSide
                                   ? QRectF(kOffsetX + 648, c.labelY - 10, kWidth - kOffsetX - 650, 20)
                                   : QRectF(0, c.labelY - 10, kOffsetX - 28, 20);
            p.drawText(box, (c.rightSide ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter, text);
        }
        p.translate(kOffsetX, 0);
        QPainterPath shape;
        shape.moveTo(200, 110);
        shape.cubicTo(250, 95, 370, 95, 420, 110);
        shape.cubicTo(480, 125, 520, 270, 490, 300);
        shape.cubicTo(460, 330, 420, 290, 390, 260);
        shape.lineTo(230, 260);
        shape.cubicTo(200, 290, 160, 330, 130, 300);
        shape.cubicTo(100, 270, 140, 125, 200, 110);
        const QColor body = pal.color(QPalette::Base);
        p.setPen(QPen(line, 1.6));
        p.setBrush(pal.color(QPalette::Button));
        p.drawRoundedRect(QRectF(165, 64, 50, 18), 5, 5); // triggers
        p.drawRoundedRect(QRectF(405, 64, 50, 18), 5, 5);
        p.drawRoundedRect(QRectF(150, 86, 70, 14), 6, 6); // shoulders
        p.drawRoundedRect(QRectF(400, 86, 70, 14), 6, 6);
        p.setBrush(body);
        p.drawPath(shape);
        p.setBrush(pal.color(QPalette::Mid));
        p.drawEllipse(QPointF(196, 170), 22, 22);
        p.drawEllipse(QPointF(370, 230), 22, 22);
        QPainterPath pad;
        pad.addRoundedRect(QRectF(238, 210, 24, 64), 4, 4);
        pad.addRoundedRect(QRectF(218, 230, 64, 24), 4, 4);
        p.drawPath(pad.simplified());
        const std::array<std::pair<QPointF, const char*>, 4> face{
            {{{424, 142}, "Y"}, {{398, 168}, "X"}, {{450, 168}, "B"}, {{424, 194}, "A"}}};
        QFont f = font();
        f.setBold(true);
        f.setPointSizeF(f.pointSizeF() * 0.9);
        p.setFont(f);
        for (const auto& [centre, letter] : face) {
            p.setPen(QPen(line, 1.4));
            p.setBrush(pal.color(QPalette::Button));
            p.drawEllipse(centre, 11, 11);
            p.drawText(QRectF(centre.x() - 11, centre.y() - 11, 22, 22), Qt::AlignCenter,
                       QString::fromLatin1(letter));
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
    // As large as the picture, or as the work area's room allows with the picture's proportions.
    if (const QRect room = platform::workAreaRoom(window()); !room.isEmpty()) {
        const QSize natural = GamepadPicture::natural();
        window()->resize(natural.scaled(room.size().boundedTo(natural), Qt::KeepAspectRatio));
    }
    keepInWorkArea();
    addCloseShortcut(*this);
    updateWindowAppearance();
    registerForAppearanceChanges();
}

void GamepadLayoutWindowController::showWindow() {
    platform::WindowController::showWindow();
    updateWindowAppearance();
    registerForAppearanceChanges();
}

} // namespace cw
