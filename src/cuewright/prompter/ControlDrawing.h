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

// The released tint of every control; pressed controls are red at half alpha.
QColor releasedTint();
QColor pressedTint();
QColor hintColor(); // red at half alpha

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
