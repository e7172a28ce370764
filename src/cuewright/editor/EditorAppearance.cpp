#include "cuewright/editor/EditorAppearance.h"

#include "cuewright/editor/TextBridge.h"
#include "cuewright/model/TextUtils.h"
#include "cuewright/prompter/OverlayLayer.h"
#include "cuewright/prompter/OverlayView.h"
#include "platform/layers/Transaction.h"
#include "platform/text/Font.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextOption>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace cw::EditorAppearance {

double fontSize(double requestedPoints) {
    return std::max(requestedPoints, minimumFontSize);
}

double qtPointSize(double points) {
    return platform::Font{QString(), points, false, false}.toQFont().pointSizeF();
}

static bool hasOwnSize(const QTextFormat& format) {
    return format.hasProperty(QTextFormat::FontPointSize) || format.hasProperty(QTextFormat::FontPixelSize);
}

QTextCharFormat unsized(QTextCharFormat format) {
    format.clearProperty(QTextFormat::FontPointSize);
    format.clearProperty(QTextFormat::FontPixelSize);
    return format;
}

// Runs the changes as one edit block, begun at the first change: Qt reports even an empty edit
// block as a change of the text.
class LazyEditBlock {
public:
    explicit LazyEditBlock(QTextDocument& document)
        : cursor_(&document) {}
    ~LazyEditBlock() {
        if (editing_) {
            cursor_.endEditBlock();
        }
    }
    LazyEditBlock(const LazyEditBlock&) = delete;
    LazyEditBlock& operator=(const LazyEditBlock&) = delete;
    QTextCursor& cursor() {
        if (!std::exchange(editing_, true)) {
            cursor_.beginEditBlock();
        }
        return cursor_;
    }

private:
    QTextCursor cursor_;
    bool editing_ = false;
};

double setFontSize(QTextDocument& document, double points) {
    const double size = fontSize(points);
    const double qtPoints = qtPointSize(size);
    if (QFont font = document.defaultFont(); font.pointSizeF() != qtPoints) {
        font.setPointSizeF(qtPoints);
        document.setDefaultFont(font);
    }
    LazyEditBlock edit(document);
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (QTextBlockFormat paragraph = block.blockFormat(); paragraph.nonBreakableLines()) {
            edit.cursor().setPosition(block.position());
            paragraph.setNonBreakableLines(false);
            edit.cursor().setBlockFormat(paragraph);
        }
        // The line break before the block is a character of the text too. Changed as a character:
        // Qt's setBlockCharFormat() drops the block's layout without laying it out again.
        if (const QTextCharFormat separator = block.charFormat();
            block != document.begin() && hasOwnSize(separator)) {
            edit.cursor().setPosition(block.position() - 1);
            edit.cursor().setPosition(block.position(), QTextCursor::KeepAnchor);
            edit.cursor().setCharFormat(unsized(separator));
        }
        // Collect first: changing a run may merge it with its neighbours.
        std::vector<QTextFragment> sized;
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            if (hasOwnSize(it.fragment().charFormat())) {
                sized.push_back(it.fragment());
            }
        }
        for (const QTextFragment& fragment : sized) {
            edit.cursor().setPosition(fragment.position());
            edit.cursor().setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
            edit.cursor().setCharFormat(unsized(fragment.charFormat()));
        }
    }
    return size;
}

void setAlignment(QTextDocument& document, Qt::Alignment alignment) {
    if (QTextOption option = document.defaultTextOption(); option.alignment() != alignment) {
        option.setAlignment(alignment);
        document.setDefaultTextOption(option);
    }
    LazyEditBlock edit(document);
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (QTextBlockFormat paragraph = block.blockFormat();
            paragraph.hasProperty(QTextFormat::BlockAlignment)) {
            edit.cursor().setPosition(block.position());
            paragraph.clearProperty(QTextFormat::BlockAlignment);
            edit.cursor().setBlockFormat(paragraph);
        }
    }
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

editor::LineCounting lineCounting(double shownSize, float wordCountFactor) {
    const double share = 1 - static_cast<double>(wordCountFactor);
    if (share < 0.01 || shownSize <= 0) {
        return {};
    }
    return {countingFontSize / shownSize, countingFontSize * 5 / share};
}

// A line break, or a paragraph break of another system: each may start a line of its own.
static bool breaksLine(QChar c) {
    return c == u'\n' || c == u'\r' || c == QChar::ParagraphSeparator || c == QChar::LineSeparator;
}

TextAmount textAmount(QStringView text) {
    TextAmount amount{text.size() + 1, 1, 0};
    qint64 start = 0;
    for (qint64 i = 0; i < text.size(); ++i) {
        if (breaksLine(text[i])) {
            ++amount.paragraphs;
            amount.longestParagraph = std::max(amount.longestParagraph, i + 1 - start);
            start = i + 1;
        }
    }
    amount.longestParagraph = std::max(amount.longestParagraph, text.size() + 1 - start);
    return amount;
}

TextAmount textAmount(const QTextDocument& document) {
    // Counted as in the text the document holds: a long paragraph is cut into blocks (at spaces
    // where it has them, or standing for no character in a run without one), and short ones may
    // share a block. Positions are the text's: the same text opened or counted as a string gives
    // the same amount, and so the same size.
    qint64 characterless = 0; // cuts standing for no character so far
    qint64 start = 0;
    TextAmount amount{0, 1, 0};
    const auto breakAt = [&](qint64 position) {
        ++amount.paragraphs;
        amount.longestParagraph = std::max(amount.longestParagraph, position + 1 - start);
        start = position + 1;
    };
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        const qint64 position = block.position() - characterless;
        const QString text = block.text();
        for (qint64 i = 0; i < text.size(); ++i) {
            if (breaksLine(text[i])) {
                breakAt(position + i);
            }
        }
        const QTextBlock next = block.next();
        if (!next.isValid()) {
            break;
        }
        const cw::editor::BlockBreak before = cw::editor::blockBreak(next);
        if (before.standsForNoCharacter()) {
            ++characterless;
        } else if (breaksLine(before.characters.front())) { // a paragraph's, or a line separator cut at
            breakAt(position + text.size());
        }
    }
    amount.characters = document.characterCount() - characterless;
    amount.longestParagraph = std::max(amount.longestParagraph, amount.characters - start);
    return amount;
}

// Average advance and line spacing per pixel of font size, both above what text fonts have
// (about 0.55 and 1.17 for Latin text), with the room lost to wrapping at word boundaries.
static constexpr double advancePerPoint = 1.0;
static constexpr double lineSpacingPerPoint = 1.25;

// The estimated height of `characters` in `paragraphs` at `points`: a s^2 + b s.
static double estimatedHeight(double characters, double paragraphs, double points, double lineWidth) {
    const double lines = characters * advancePerPoint * points / std::max(lineWidth, 1.0) + paragraphs;
    return lines * lineSpacingPerPoint * points;
}

// The largest size whose estimated height stays at `limit`: the positive root of a s^2 + b s.
static double largestSize(double characters, double paragraphs, double lineWidth, double limit) {
    const double a = characters * advancePerPoint * lineSpacingPerPoint / std::max(lineWidth, 1.0);
    const double b = paragraphs * lineSpacingPerPoint;
    return a > 0 ? (std::sqrt(b * b + 4 * a * limit) - b) / (2 * a) : limit / std::max(b, 1.0);
}

double estimatedLaidOutHeight(const TextAmount& amount, double points, double lineWidth) {
    return estimatedHeight(double(amount.characters), double(amount.paragraphs), points, lineWidth);
}

double estimatedParagraphHeight(const TextAmount& amount, double points, double lineWidth) {
    return estimatedHeight(double(amount.longestParagraph), 1, points, lineWidth);
}

bool fitsLayout(const TextAmount& amount, double points, double lineWidth) {
    return estimatedLaidOutHeight(amount, points, lineWidth) <= maximumLaidOutHeight &&
           estimatedParagraphHeight(amount, points, lineWidth) <= maximumParagraphHeight;
}

// The lines of the minimum size that fit in `limit`.
static constexpr double linesWithin(double limit) {
    return limit / (lineSpacingPerPoint * minimumFontSize);
}
// Every paragraph shown keeps a line of its own within the layout's height with room to wrap:
// the bound on paragraphs is the one that refuses a text.
static_assert(double(TextUtils::maximumShownParagraphs) < linesWithin(maximumLaidOutHeight));
static_assert(1 < linesWithin(maximumParagraphHeight));

// The narrowest line in which `characters` in `paragraphs` stay within `limit` at the minimum size.
static double narrowestLine(double characters, double paragraphs, double limit) {
    return characters * advancePerPoint * minimumFontSize / (linesWithin(limit) - paragraphs);
}

std::optional<double> narrowestLineWidth(const TextAmount& amount) {
    if (amount.paragraphs > TextUtils::maximumShownParagraphs) {
        return std::nullopt;
    }
    return std::max(narrowestLine(double(amount.characters), double(amount.paragraphs), maximumLaidOutHeight),
                    narrowestLine(double(amount.longestParagraph), 1, maximumParagraphHeight));
}

double shownFontSize(double points, double lineWidth, const TextAmount& amount) {
    if (fitsLayout(amount, points, lineWidth)) {
        return points;
    }
    const double largest = std::min(
        largestSize(double(amount.characters), double(amount.paragraphs), lineWidth, maximumLaidOutHeight),
        largestSize(double(amount.longestParagraph), 1, lineWidth, maximumParagraphHeight));
    return std::max(minimumFontSize, std::min(points, largest));
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
