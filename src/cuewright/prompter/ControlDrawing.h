// Look and text helpers shared by the prompter's hand-drawn control layers.
#pragma once

#include <QColor>
#include <QFont>
#include <QPointF>
#include <QRectF>
#include <QString>

#include <optional>
#include <vector>

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

// A key hint as laid out: its text, its box (bounds coordinates, y up) and the font it is drawn in.
struct PlacedHint {
    QString text;
    QRectF box;
    QFont font;
};

// The side of a band the hints keep to (y up: bottom is the lower edge).
enum class HintEdge { bottom, top };

// Hints smaller than this are not read at a glance; the layout shrinks no further.
inline constexpr double minimumHintPointSize = 7.0;

// A free part of a control where hints may go, and the side of it they keep to.
struct HintBand {
    QRectF rect;
    HintEdge edge;
};

// Lays the fixed key's hint (`left`, flush left) and a binding's (`right`, flush right) into the
// free `band` of a control, against its `edge`: side by side with a gap when they fit there at
// the hint font's size or shrunk to no less than minimumHintPointSize; else each on its own row,
// one of them in the `spare` band when there is one (else in a second row of `band`), when that
// reads larger. Empty texts take no place; the boxes never overlap each other.
std::vector<PlacedHint> placeHints(const QRectF& band, HintEdge edge, const QString& left,
                                   const QString& right, const std::optional<HintBand>& spare = std::nullopt);
void drawPlacedHint(QPainter& painter, const PlacedHint& hint, const QColor& color);

// Which side of a control a hint too long for it goes to, out over the prompter's free space.
enum class HintSide { none, left, right };

// The hints of one control: those drawn on it, and a binding too long to be read there, placed
// beside it (bounds coordinates of the control, outside its bounds).
struct HintLayout {
    std::vector<PlacedHint> inside;
    std::vector<PlacedHint> beside;
};

// placeHints(), except that when the binding (`right`) would be smaller than
// minimumHintPointSize on the control and `side` allows, it goes beside the control at the hint
// font's size (no taller than the control), level with `band`'s edge, 4 points off; the fixed
// key's hint then has the band alone.
HintLayout placeHintsOrBeside(const QRectF& bounds, HintSide side, const QRectF& band, HintEdge edge,
                              const QString& left, const QString& right,
                              const std::optional<HintBand>& spare = std::nullopt);

} // namespace cw::controls
