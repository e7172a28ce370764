#include "platform/ui/WindowFrame.h"

#include "platform/ui/DisplayFullScreen.h"

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

QMargins windowFrameMargins(const QWidget* window) {
    const QRect frame = window->frameGeometry();
    const QRect client = window->geometry();
    if (frame == client) {
        // Not framed yet (or never to be): what a window manager will likely add.
        return window->windowFlags().testFlag(Qt::FramelessWindowHint) ? QMargins() : assumedWindowFrame;
    }
    return QMargins(client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
                    frame.bottom() - client.bottom());
}

QRect workAreaRoom(const QWidget* window) {
    const QScreen* screen = window->screen() != nullptr ? window->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return {};
    }
    return screen->availableGeometry().marginsRemoved(windowFrameMargins(window));
}

void placeInWorkArea(QWidget* window, WorkAreaPlacement placement) {
    const QRect room = workAreaRoom(window);
    if (room.isEmpty()) {
        return;
    }
    window->setMinimumSize(window->minimumSize().boundedTo(room.size()));
    QRect client(window->geometry().topLeft(), window->size().boundedTo(room.size()));
    if (placement == WorkAreaPlacement::centred) {
        client.moveCenter(room.center());
    }
    window->setGeometry(fitFrameIntoArea(client, room));
}

qint64 overlapArea(const QRect& a, const QRect& b) {
    const QRect common = a.intersected(b);
    return common.isEmpty() ? 0 : qint64(common.width()) * common.height();
}

QRect keptFrameInWorkArea(const QRect& client, const QList<QRect>& workAreas, const QRect& fallback,
                          const QMargins& frame) {
    QRect area = fallback;
    qint64 most = 0;
    for (const QRect& candidate : workAreas) {
        const qint64 overlap = overlapArea(candidate, client.marginsAdded(frame));
        if (overlap > most) {
            most = overlap;
            area = candidate;
        }
    }
    const QRect room = area.marginsRemoved(frame);
    if (room.isEmpty()) {
        return client;
    }
    return fitFrameIntoArea(client, room);
}

void applyKeptFrame(QWidget* window, const QRect& client) {
    const QScreen* own = window->screen() != nullptr ? window->screen() : QGuiApplication::primaryScreen();
    if (own == nullptr) {
        window->setGeometry(client);
        return;
    }
    // Only the displays of the window's own desktop: another X screen's coordinates mean nothing here.
    QList<QRect> areas;
    QRect fallback = own->availableGeometry();
    for (const QScreen* screen : own->virtualSiblings()) {
        areas.append(screen->availableGeometry());
        if (screen == QGuiApplication::primaryScreen()) {
            fallback = areas.back();
        }
    }
    // Never smaller than the window allows (a frame of 1 x 1 in the settings): only a work area
    // smaller than that makes it smaller.
    const QRect wanted(client.topLeft(), client.size().expandedTo(window->minimumSize()));
    const QRect placed = keptFrameInWorkArea(wanted, areas, fallback, windowFrameMargins(window));
    window->setMinimumSize(window->minimumSize().boundedTo(placed.size()));
    window->setGeometry(placed);
}

} // namespace platform
