#include "cuewright/editor/ToolbarIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace cw::editor {

namespace {

constexpr int glyphSize = 20; // points; every glyph is drawn in this square

void drawGlyph(QPainter& p, ToolbarGlyph glyph, const QColor& color) {
    QPen pen(color, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    QColor faint = color;
    faint.setAlphaF(color.alphaF() * 0.35);
    switch (glyph) {
    case ToolbarGlyph::bookmarkColumn:
        p.fillRect(QRectF(3, 4.5, 4.5, 11), faint);
        p.drawRoundedRect(QRectF(2.75, 4.25, 14.5, 11.5), 2, 2);
        p.drawLine(QPointF(7.75, 4.5), QPointF(7.75, 15.5));
        return;
    case ToolbarGlyph::play: {
        QPainterPath triangle;
        triangle.moveTo(6, 3.5);
        triangle.lineTo(16.5, 10);
        triangle.lineTo(6, 16.5);
        triangle.closeSubpath();
        p.setBrush(color);
        p.drawPath(triangle);
        return;
    }
    case ToolbarGlyph::pause:
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        p.drawRoundedRect(QRectF(5, 4, 3.5, 12), 1, 1);
        p.drawRoundedRect(QRectF(11.5, 4, 3.5, 12), 1, 1);
        return;
    case ToolbarGlyph::prompterWindow:
        p.drawRoundedRect(QRectF(2.75, 3.25, 14.5, 10.5), 1.5, 1.5);
        p.drawLine(QPointF(10, 13.75), QPointF(10, 16.25));
        p.drawLine(QPointF(6.5, 16.5), QPointF(13.5, 16.5));
        p.setPen(QPen(color, 1.2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(6, 6.75), QPointF(14, 6.75));
        p.drawLine(QPointF(6, 9.25), QPointF(12, 9.25));
        return;
    case ToolbarGlyph::lockOpen:
    case ToolbarGlyph::lockClosed: {
        const bool closed = glyph == ToolbarGlyph::lockClosed;
        QPainterPath shackle;
        shackle.moveTo(6.75, 9);
        shackle.lineTo(6.75, 6.5);
        shackle.arcTo(QRectF(6.75, 3, 6.5, 6.5), 180, -180);
        if (closed)
            shackle.lineTo(13.25, 9);
        else
            shackle.lineTo(13.25, 5.5);
        p.drawPath(closed ? shackle : shackle.translated(3.5, -1));
        p.setBrush(closed ? color : faint);
        p.drawRoundedRect(QRectF(4.75, 9, 10.5, 7.75), 1.5, 1.5);
        return;
    }
    case ToolbarGlyph::script:
        p.drawRoundedRect(QRectF(4.25, 2.75, 11.5, 14.5), 1.5, 1.5);
        p.setPen(QPen(color, 1.2, Qt::SolidLine, Qt::RoundCap));
        for (double y : {6.5, 9.0, 11.5})
            p.drawLine(QPointF(7, y), QPointF(13, y));
        p.drawLine(QPointF(7, 14), QPointF(11, 14));
        return;
    case ToolbarGlyph::overlay: {
        QLinearGradient fade(0, 4, 0, 16);
        fade.setColorAt(0, faint);
        fade.setColorAt(0.4, Qt::transparent);
        fade.setColorAt(0.6, Qt::transparent);
        fade.setColorAt(1, faint);
        p.fillRect(QRectF(3, 4.5, 14, 11), fade);
        p.drawRoundedRect(QRectF(2.75, 4.25, 14.5, 11.5), 2, 2);
        p.drawLine(QPointF(5.5, 10), QPointF(14.5, 10));
        return;
    }
    case ToolbarGlyph::displays:
        p.drawRoundedRect(QRectF(2.25, 3.25, 10, 7.5), 1.25, 1.25);
        p.setBrush(faint);
        p.drawRoundedRect(QRectF(7.75, 7.75, 10, 7.5), 1.25, 1.25);
        p.drawLine(QPointF(10.5, 17.25), QPointF(15, 17.25));
        return;
    case ToolbarGlyph::previousMatch:
        p.drawPolyline(QPolygonF({QPointF(5.5, 12.5), QPointF(10, 8), QPointF(14.5, 12.5)}));
        return;
    case ToolbarGlyph::nextMatch:
        p.drawPolyline(QPolygonF({QPointF(5.5, 8), QPointF(10, 12.5), QPointF(14.5, 8)}));
        return;
    case ToolbarGlyph::close:
        p.drawLine(QPointF(6, 6), QPointF(14, 14));
        p.drawLine(QPointF(14, 6), QPointF(6, 14));
        return;
    case ToolbarGlyph::search:
        p.drawEllipse(QRectF(3.75, 3.75, 9, 9));
        p.drawLine(QPointF(11.5, 11.5), QPointF(16, 16));
        return;
    }
}

QPixmap glyphPixmap(ToolbarGlyph glyph, const QColor& color, int scale) {
    QPixmap pixmap(glyphSize * scale, glyphSize * scale);
    pixmap.setDevicePixelRatio(scale);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    drawGlyph(painter, glyph, color);
    return pixmap;
}

void addGlyph(QIcon& icon, ToolbarGlyph glyph, const QColor& color, QIcon::State state) {
    for (int scale : {1, 2}) {
        icon.addPixmap(glyphPixmap(glyph, color, scale), QIcon::Normal, state);
        QColor disabled = color;
        disabled.setAlphaF(color.alphaF() * 0.4);
        icon.addPixmap(glyphPixmap(glyph, disabled, scale), QIcon::Disabled, state);
    }
}

} // namespace

QIcon toolbarIcon(ToolbarGlyph glyph, const QColor& color) {
    return toolbarIcon(glyph, glyph, color);
}

QIcon toolbarIcon(ToolbarGlyph offGlyph, ToolbarGlyph onGlyph, const QColor& color) {
    QIcon icon;
    addGlyph(icon, offGlyph, color, QIcon::Off);
    addGlyph(icon, onGlyph, color, QIcon::On);
    return icon;
}

} // namespace cw::editor
