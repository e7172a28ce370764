#include "cuewright/prompter/ControlDrawing.h"

#include "platform/layers/Layer.h"
#include "platform/layers/LayerPainting.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <optional>

namespace cw::controls {

QColor releasedTint() {
    return QColor::fromRgbF(0, 0, 0, 0.5);
}

QColor readoutTint() {
    return QColor::fromRgbF(0, 0, 0, 0.75);
}

QColor pressedTint() {
    return QColor::fromRgbF(1, 0, 0, 0.5);
}

QColor hintColor() {
    return pressedTint();
}

void applyControlLook(platform::layers::Layer& layer, double cornerRadius) {
    layer.setAnchorPoint(QPointF(0, 0));
    layer.setAutoresizingMask(platform::layers::notSizable);
    layer.setMasksToBounds(true);
    layer.setBackgroundColor(releasedTint());
    layer.setBorderColor(Qt::red);
    layer.setBorderWidth(1.0);
    layer.setCornerRadius(cornerRadius);
    layer.setOpaque(false);
}

QFont hintFont() {
    QFont font;
    font.setPointSizeF(12);
    return font;
}

QSizeF measureHint(const QString& text, const QFont& font) {
    const QFontMetricsF metrics(font, platform::layers::layerMetricsDevice());
    return QSizeF(metrics.horizontalAdvance(text), metrics.height());
}

void drawHint(QPainter& painter, const QString& text, QPointF origin, const QColor& color,
              const QFont& font) {
    if (text.isEmpty()) {
        return;
    }
    const QSizeF size = measureHint(text, font);
    const QRectF box(origin, size);
    painter.save();
    platform::layers::flipToTopLeft(painter, box);
    painter.setFont(font);
    painter.setPen(color);
    painter.drawText(QRectF(QPointF(0, 0), size), Qt::AlignLeft | Qt::AlignTop, text);
    painter.restore();
}

namespace {

// The largest size, at most the hint font's, at which the texts fit `band` in one row.
QFont fittingFont(const QRectF& band, const QString& left, const QString& right) {
    constexpr double gap = 4;
    const bool both = !left.isEmpty() && !right.isEmpty();
    QFont font = hintFont();
    const auto width = [&] {
        return (left.isEmpty() ? 0 : measureHint(left, font).width()) +
               (right.isEmpty() ? 0 : measureHint(right, font).width()) + (both ? gap : 0);
    };
    const double height = measureHint(QStringLiteral("X"), font).height();
    const double base = font.pointSizeF();
    // Text does not scale quite linearly (hinting): from the estimate, step down until it fits.
    double size = base * std::min({1.0, band.width() / width(), band.height() / height});
    for (; size > 1; size -= 0.25) {
        font.setPointSizeF(size);
        if (width() <= band.width() && measureHint(QStringLiteral("X"), font).height() <= band.height()) {
            break;
        }
    }
    font.setPointSizeF(std::max(1.0, size));
    return font;
}

PlacedHint placed(const QString& text, const QFont& font, const QRectF& band, HintEdge edge, bool flushRight,
                  int row) {
    const QSizeF size = measureHint(text, font);
    const double x = flushRight ? band.right() - size.width() : band.left();
    const double y = edge == HintEdge::bottom ? band.top() + row * size.height()
                                              : band.bottom() - (row + 1) * size.height();
    return {text, QRectF(QPointF(x, y), size), font};
}

} // namespace

std::vector<PlacedHint> placeHints(const QRectF& band, HintEdge edge, const QString& left,
                                   const QString& right, const std::optional<HintBand>& spare) {
    if (band.width() <= 0 || band.height() <= 0 || (left.isEmpty() && right.isEmpty())) {
        return {};
    }
    const QFont oneRow = fittingFont(band, left, right);
    std::vector<PlacedHint> hints;
    const bool both = !left.isEmpty() && !right.isEmpty();
    if (!both || oneRow.pointSizeF() >= minimumHintPointSize) {
        if (!left.isEmpty()) {
            hints.push_back(placed(left, oneRow, band, edge, /*flushRight=*/false, 0));
        }
        if (!right.isEmpty()) {
            hints.push_back(placed(right, oneRow, band, edge, /*flushRight=*/true, 0));
        }
        return hints;
    }
    // Too small side by side: each text on a row of its own, when that reads larger. With a spare
    // band, either text may take it (the longer one is better off in the roomier band); without
    // one, the band's two halves hold a row each, the fixed key's at the edge.
    struct Apart {
        QFont font;
        QRectF leftBand, rightBand;
        HintEdge leftEdge, rightEdge;
        int rightRow;
    };
    const auto apart = [&](const QRectF& l, HintEdge le, const QRectF& r, HintEdge re, int row) {
        const QFont lf = fittingFont(l, left, {});
        const QFont rf = fittingFont(r, {}, right);
        return Apart{lf.pointSizeF() < rf.pointSizeF() ? lf : rf, l, r, le, re, row};
    };
    std::vector<Apart> choices;
    if (spare && spare->rect.width() > 0 && spare->rect.height() > 0) {
        choices.push_back(apart(band, edge, spare->rect, spare->edge, 0));
        choices.push_back(apart(spare->rect, spare->edge, band, edge, 0));
    } else {
        QRectF half = band;
        half.setHeight(band.height() / 2);
        if (edge == HintEdge::top) {
            half.moveBottom(band.bottom());
        }
        choices.push_back(Apart{apart(half, edge, half, edge, 0).font, band, band, edge, edge, 1});
    }
    const auto best = std::max_element(choices.begin(), choices.end(), [](const Apart& a, const Apart& b) {
        return a.font.pointSizeF() < b.font.pointSizeF();
    });
    if (best->font.pointSizeF() <= oneRow.pointSizeF()) {
        hints.push_back(placed(left, oneRow, band, edge, /*flushRight=*/false, 0));
        hints.push_back(placed(right, oneRow, band, edge, /*flushRight=*/true, 0));
        return hints;
    }
    hints.push_back(placed(left, best->font, best->leftBand, best->leftEdge, /*flushRight=*/false, 0));
    hints.push_back(
        placed(right, best->font, best->rightBand, best->rightEdge, /*flushRight=*/true, best->rightRow));
    return hints;
}

HintLayout placeHintsOrBeside(const QRectF& bounds, HintSide side, const QRectF& band, HintEdge edge,
                              const QString& left, const QString& right,
                              const std::optional<HintBand>& spare) {
    HintLayout layout{placeHints(band, edge, left, right, spare), {}};
    // The binding's hint is placed last; none placed means the band has no room at all.
    const bool readable = !layout.inside.empty() && layout.inside.back().text == right &&
                          layout.inside.back().font.pointSizeF() >= minimumHintPointSize;
    if (side == HintSide::none || right.isEmpty() || readable) {
        return layout;
    }
    layout.inside = placeHints(band, edge, left, {});
    QFont font = hintFont();
    for (double size = font.pointSizeF();
         size > minimumHintPointSize && measureHint(right, font).height() > bounds.height(); size -= 0.25) {
        font.setPointSizeF(size);
    }
    const QSizeF size = measureHint(right, font);
    constexpr double gap = 4;
    const double x = side == HintSide::right ? bounds.right() + gap : bounds.left() - gap - size.width();
    const double y = edge == HintEdge::bottom ? band.top() : band.bottom() - size.height();
    layout.beside.push_back({right, QRectF(QPointF(x, y), size), font});
    return layout;
}

void drawPlacedHint(QPainter& painter, const PlacedHint& hint, const QColor& color) {
    drawHint(painter, hint.text, hint.box.topLeft(), color, hint.font);
}

} // namespace cw::controls
