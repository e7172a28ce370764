#include "cuewright/editor/EditorAppearance.h"

#include "cuewright/prompter/OverlayLayer.h"
#include "cuewright/prompter/OverlayView.h"
#include "platform/layers/Transaction.h"

#include <algorithm>

namespace cw::EditorAppearance {

double fontSize(double requestedPoints) {
    return std::max(requestedPoints, minimumFontSize);
}

double columnX(double viewWidth, double columnWidth, float alignment) {
    // c is the left edge of a centred column; alignment moves it towards either edge.
    const double c = viewWidth / 2 - columnWidth / 2;
    return c * (1 + static_cast<double>(alignment));
}

TextColumn textColumn(double viewWidth, float margin, float alignment) {
    const double width = (1 - static_cast<double>(margin)) * viewWidth;
    return {columnX(viewWidth, width, alignment), width};
}

double fontSizeForColumn(double containerWidth, double padding, float wordCountFactor) {
    const double usable = containerWidth - 2 * padding;
    return std::max(minimumFontSize, usable / 5 * (1 - static_cast<double>(wordCountFactor)));
}

QSizeF textContainerInset(double viewHeight, float indicatorPosition) {
    return QSizeF(0, viewHeight * (1 - static_cast<double>(indicatorPosition)));
}

Qt::Alignment textAlignment(TextAlignment alignment) {
    switch (alignment) {
    case TextAlignment::left:
        return Qt::AlignLeft | Qt::AlignAbsolute;
    case TextAlignment::center:
        return Qt::AlignHCenter;
    case TextAlignment::right:
        return Qt::AlignRight | Qt::AlignAbsolute;
    }
    return Qt::AlignHCenter;
}

QTransform mirrorTransform(bool flipHorizontal, bool flipVertical, const QSizeF& size) {
    // Scale about the origin, then move the picture back over the view's own frame.
    const double sx = flipHorizontal ? -1 : 1;
    const double sy = flipVertical ? -1 : 1;
    const double dx = flipHorizontal ? size.width() : 0;
    const double dy = flipVertical ? size.height() : 0;
    return QTransform(sx, 0, 0, sy, dx, dy);
}

Changes changes(const DocumentScriptProperties& properties, const DocumentScriptProperties& cached,
                bool force) {
    return {force || properties.prompterMargin != cached.prompterMargin ||
                properties.prompterWordCountFactor != cached.prompterWordCountFactor,
            force || properties.prompterMarginAlignment != cached.prompterMarginAlignment};
}

void applyScriptProperties(OverlayView& overlay, const DocumentScriptProperties& p, double lineHeight) {
    platform::layers::TransactionScope immediate;
    OverlayLayer& layer = overlay.overlayLayer();
    if (overlay.overlayType() != p.overlayType) {
        overlay.setOverlayType(p.overlayType);
    }
    if (layer.opacity() != static_cast<double>(p.overlayOpacity)) {
        layer.setOpacity(p.overlayOpacity);
    }
    // The bands fade into the script's background.
    if (const QColor colour = p.backgroundColor.toQColor(); overlay.gradientColor() != colour) {
        overlay.setGradientColor(colour);
    }
    if (overlay.verticalCenter() != p.indicatorPosition) {
        overlay.setVerticalCenter(p.indicatorPosition);
    }
    if (layer.lineHeight() != lineHeight) {
        layer.setLineHeight(lineHeight);
        layer.updateOverlay();
    }
}

DocumentScriptProperties invalidated(DocumentScriptProperties properties) {
    properties.prompterWordCountFactor = -1.0f;
    return properties;
}

} // namespace cw::EditorAppearance
