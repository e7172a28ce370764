#include "platform/ui/WindowFrame.h"

#include <QApplication>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QScreen>
#include <QWidget>

#include <algorithm>
#include <array>
#include <cmath>

namespace platform {

static QString number(double value) {
    return QString::number(value, 'g', 17);
}

QString frameToString(const QRectF& frame) {
    return QStringLiteral("{{%1, %2}, {%3, %4}}")
        .arg(number(frame.x()), number(frame.y()), number(frame.width()), number(frame.height()));
}

QRectF frameFromString(const QString& text) {
    static const QRegularExpression numberPattern(QStringLiteral(R"([-+]?(\d+\.?\d*|\.\d+)([eE][-+]?\d+)?)"));
    std::array<double, 4> values{};
    std::size_t count = 0;
    auto matches = numberPattern.globalMatch(text);
    while (matches.hasNext() && count < values.size()) {
        values[count++] = matches.next().captured(0).toDouble();
    }
    return {values[0], values[1], values[2], values[3]};
}

bool isUsableFrame(const QRectF& frame) {
    const bool finite = std::isfinite(frame.x()) && std::isfinite(frame.y()) &&
                        std::isfinite(frame.width()) && std::isfinite(frame.height());
    return finite && frame.width() > 0 && frame.height() > 0;
}

QSize fittedWindowSize(QSize preferred, QSize minimum, const QRect& available, const QMargins& frame) {
    if (available.isEmpty()) {
        return preferred;
    }
    const QSize room = available.marginsRemoved(frame).size();
    return preferred.boundedTo(room).expandedTo(minimum);
}

QPoint fittedWindowPosition(QSize size, const QRect& available, std::optional<QPoint> wanted, int cascade,
                            const QMargins& frame) {
    if (available.isEmpty()) {
        return wanted.value_or(QPoint());
    }
    const QRect room = available.marginsRemoved(frame);
    const QPoint last(room.right() - size.width() + 1, room.bottom() - size.height() + 1);
    if (!wanted) {
        constexpr int step = 28;
        const QPoint centred = room.center() - QPoint(size.width() / 2, size.height() / 2);
        wanted = centred + QPoint(step, step) * cascade;
        if (wanted->x() > last.x() || wanted->y() > last.y()) {
            wanted = centred; // no room left to step into: back to the middle
        }
    }
    // Too big a window keeps its title bar on the screen.
    return {std::max(room.left(), std::min(wanted->x(), last.x())),
            std::max(room.top(), std::min(wanted->y(), last.y()))};
}

void placeWithinScreen(QWidget* window) {
    const QScreen* screen = window->screen() != nullptr ? window->screen() : QGuiApplication::primaryScreen();
    const QRect available = screen != nullptr ? screen->availableGeometry() : QRect();
    // Twice the assumed frame: a window manager may nudge a window filling the room exactly.
    const QMargins slack = assumedWindowFrame + assumedWindowFrame;
    const QSize size = fittedWindowSize(window->size(), window->minimumSize(), available, slack);
    std::optional<QPoint> wanted;
    int cascade = 0;
    if (window->testAttribute(Qt::WA_Moved)) {
        wanted = window->pos();
    } else {
        for (const QWidget* other : QApplication::topLevelWidgets()) {
            cascade +=
                other != window && other->isVisible() && other->objectName() == window->objectName() ? 1 : 0;
        }
    }
    window->setGeometry(QRect(fittedWindowPosition(size, available, wanted, cascade), size));
}

QRect cascadedGeometry(const QRect& previous, QSize size, QSize minimum, const QRect& available, int step,
                       const QMargins& frame) {
    const QRect room = available.marginsRemoved(frame);
    size = size.boundedTo(room.size());
    const QSize least = minimum.expandedTo(size * 2 / 3).boundedTo(size);
    QPoint origin = previous.topLeft() + QPoint(step, step);
    origin.setX(std::max(origin.x(), room.left()));
    origin.setY(std::max(origin.y(), room.top()));
    const QSize left(room.right() + 1 - origin.x(), room.bottom() + 1 - origin.y());
    if (left.width() < least.width() || left.height() < least.height()) {
        return QRect(room.topLeft(), size); // the cascade starts over
    }
    return QRect(origin, size.boundedTo(left));
}

void resizeToFitScreen(QWidget* window, QSize preferred) {
    const QScreen* screen = window->screen() != nullptr ? window->screen() : QGuiApplication::primaryScreen();
    const QRect available = screen != nullptr ? screen->availableGeometry() : QRect();
    window->resize(fittedWindowSize(preferred, window->minimumSize(), available));
}

} // namespace platform
