// Look and text helpers shared by the prompter's hand-drawn control layers.
#pragma once

#include <QColor>
#include <QFont>
#include <QPointF>
#include <QRectF>
#include <QString>

class QPainter;

namespace platform::layers {
class Layer;
}

namespace cw::controls {

// The controls' palette: the released tint of the buttons and the speed read-out, the darker one of
// the time read-out, and the red at half alpha of a pressed control, a lit line step and key hints.
QColor releasedTint();
QColor readoutTint();
QColor pressedTint();
QColor hintColor();

// Anchor (0, 0), clipping, translucent black background, red 1-point border, not opaque.
void applyControlLook(platform::layers::Layer& layer, double cornerRadius);

// The default text attributes' font (12 points).
QFont hintFont();
// The text's size in the hint font, measured like the layers draw it.
QSizeF measureHint(const QString& text, const QFont& font = hintFont());
// Draws `text` with the bottom-left corner of its box at `origin` (y-up painter, bounds coordinates).
void drawHint(QPainter& painter, const QString& text, QPointF origin, const QColor& color,
              const QFont& font = hintFont());

} // namespace cw::controls
