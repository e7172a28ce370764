#include "cuewright/editor/EditorAppearance.h"

#include "cuewright/prompter/OverlayLayer.h"
#include "cuewright/prompter/OverlayView.h"
#include "platform/layers/Transaction.h"
#include "platform/text/Font.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <utility>
#include <vector>

namespace cw::EditorAppearance {

double fontSize(double requestedPoints) {
    return std::max(requestedPoints, minimumFontSize);
}

double qtPointSize(double points) {
    return platform::Font{QString(), points, false, false}.toQFont().pointSizeF();
}

// Whether `format` shows its font at `qtPoints` already.
static bool hasSize(const QTextCharFormat& format, double qtPoints) {
    return format.fontPointSize() == qtPoints && !format.hasProperty(QTextFormat::FontPixelSize);
}

static QTextCharFormat resizedToQtPoints(QTextCharFormat format, double qtPoints) {
    // A pixel size would win over the point size.
    format.clearProperty(QTextFormat::FontPixelSize);
    format.setFontPointSize(qtPoints);
    return format;
}

QTextCharFormat resized(QTextCharFormat format, double points) {
    return resizedToQtPoints(std::move(format), qtPointSize(points));
}

double setFontSize(QTextDocument& document, double points) {
    const double size = fontSize(points);
    const double qtPoints = qtPointSize(size);
    QTextCursor cursor(&document);
    // Qt reports even an empty edit block as a change of the text: begun at the first change.
    bool editing = false;
    auto edit = [&]() -> QTextCursor& {
        if (!std::exchange(editing, true)) {
            cursor.beginEditBlock();
        }
        return cursor;
    };
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (QTextBlockFormat paragraph = block.blockFormat(); paragraph.nonBreakableLines()) {
            edit().setPosition(block.position());
            paragraph.setNonBreakableLines(false);
            cursor.setBlockFormat(paragraph);
        }
        // The line break before the block is a character of the text too. Changed as a character:
        // Qt's setBlockCharFormat() drops the block's layout without laying it out again.
        if (const QTextCharFormat separator = block.charFormat();
            block != document.begin() && !hasSize(separator, qtPoints)) {
            edit().setPosition(block.position() - 1);
            cursor.setPosition(block.position(), QTextCursor::KeepAnchor);
            cursor.setCharFormat(resizedToQtPoints(separator, qtPoints));
        }
        // Collect first: changing a run may merge it with its neighbours.
        std::vector<QTextFragment> fragments;
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            fragments.push_back(it.fragment());
        }
        for (const QTextFragment& fragment : fragments) {
            const QTextCharFormat format = fragment.charFormat();
            if (hasSize(format, qtPoints)) {
                continue; // already so: no edit, no layout
            }
            edit().setPosition(fragment.position());
            cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
            cursor.setCharFormat(resizedToQtPoints(format, qtPoints));
        }
    }
    if (editing) {
        cursor.endEditBlock();
    }
    return size;
}

double columnX(double viewWidth, double columnWidth, float alignment, bool flipHorizontal) {
    // c is the left edge of a centred column; alignment moves it towards either edge.
    const double c = viewWidth / 2 - columnWidth / 2;
    const double x = c * (1 + static_cast<double>(alignment));
    return flipHorizontal ? viewWidth - columnWidth - x : x;
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
            force || properties.prompterMarginAlignment != cached.prompterMarginAlignment ||
                properties.flipHorizontal != cached.flipHorizontal};
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
    // Mirrored with the script below it, as the prompter mirrors its whole picture.
    if (layer.isFlippedHorizontally() != p.flipHorizontal || layer.isFlippedVertically() != p.flipVertical) {
        layer.setMirroring(p.flipHorizontal, p.flipVertical);
    }
}

DocumentScriptProperties invalidated(DocumentScriptProperties properties) {
    properties.prompterWordCountFactor = -1.0f;
    return properties;
}

} // namespace cw::EditorAppearance
