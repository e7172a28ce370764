// Keeps a read-out's text inside its box when the font is wider than the box was sized for.
#pragma once

class QPainter;

namespace platform::layers {
class TextLayer;
}

namespace cw {

// Scales the painter about the layer's centre so that the layer's current string fits its width
// less `inset` on each side; does nothing when it fits already. The boxes are sized for a narrow
// system font, and a wider desktop font would otherwise run over the border ("150.00 w/m").
void shrinkTextToFit(QPainter& painter, const platform::layers::TextLayer& layer, double inset);

} // namespace cw
