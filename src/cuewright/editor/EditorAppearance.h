// How the editor takes on the prompter's look: the numbers a text view applies from the script's
// display properties (text column, font size, inset, alignment, mirroring).
#pragma once

#include "cuewright/editor/LineMetrics.h"
#include "cuewright/model/ScriptProperties.h"
#include "cuewright/prompter/PrompterTextLayout.h"

#include <QSizeF>
#include <QStringView>
#include <QTextCharFormat>
#include <QTransform>
#include <Qt>

#include <optional>

class QTextDocument;

namespace cw {
class OverlayView;
}

namespace cw::EditorAppearance {

// The smallest font the editor shows; a smaller request gives this size.
inline constexpr double minimumFontSize = 8.0;

// The size a request to resize the whole text gives (never below the minimum).
double fontSize(double requestedPoints);

// Shows every run of `document` at fontSize(points), keeping family, weight and slant, and lets
// every paragraph wrap at words. The size is the document's default font, which is no edit of the
// text and no undo step: runs carry no size of their own (see unsized()). Only runs that still have
// one, and paragraphs that do not wrap, are changed, as one undo step. Returns the size used.
double setFontSize(QTextDocument& document, double points);
// Aligns every paragraph through the document's default text option (no edit, no undo step);
// paragraphs aligned on their own are changed to follow it, as one undo step.
void setAlignment(QTextDocument& document, Qt::Alignment alignment);
// `format` without a size of its own: it shows at its document's default size.
QTextCharFormat unsized(QTextCharFormat format);
// The size Qt calls points for the script's `points`.
double qtPointSize(double points);

// The text column inside a view `viewWidth` wide: `margin` of the width is left free and
// `alignment` (-1 left edge, 0 centred, 1 right edge) says where the free width goes.
struct TextColumn {
    double x = 0;
    double width = 0;
    bool operator==(const TextColumn&) const = default;
};
TextColumn textColumn(double viewWidth, float margin, float alignment);
// Where a column already `columnWidth` wide stands for `alignment` (when only it changed);
// mirrored about the view when the script is flipped horizontally.
double columnX(double viewWidth, double columnWidth, float alignment, bool flipHorizontal = false);

// The font size that puts the prompter's words on one line of a text container of
// `containerWidth` with `padding` on each side: (width - 2 padding) / 5 x (1 - factor), at least
// the minimum font size.
double fontSizeForColumn(double containerWidth, double padding, float wordCountFactor);

// The size of the script's text in the column its lines are counted in: the size the prompter
// lays it out at, so that its lines are the counted ones.
inline constexpr double countingFontSize = cw::layoutFontSize;
// Where the lines of a script shown at `shownSize` are counted: in a column as wide as gives the
// text countingFontSize, every font scaled to that, whatever the editor's width. Qt rounds a
// font's size to whole pixels, so lines counted as shown would break anew at every width.
// Without a column of that kind (a factor of 1 or more) the lines are counted as shown.
editor::LineCounting lineCounting(double shownSize, float wordCountFactor);

// Qt's document layout keeps positions in 26.6 fixed point: past 2^25 pixels they wrap round
// and its layout never finishes (the editor's page height keeps it going up to there, see
// ScriptTextView::pageHeight). The editor keeps its estimates of the laid-out heights at or
// below these, which leaves room for their error and for the gaps at the pages' feet.
inline constexpr double maximumLaidOutHeight = double(1 << 25) - double(1 << 22);
inline constexpr double maximumParagraphHeight = double(1 << 22);

// How much text the editor lays out, for the estimate of its height.
struct TextAmount {
    qint64 characters = 0; // with the paragraph breaks
    qint64 paragraphs = 0;
    qint64 longestParagraph = 0; // characters, with its break
    bool operator==(const TextAmount&) const = default;
};
TextAmount textAmount(QStringView text);
TextAmount textAmount(const QTextDocument& document);

// Generous estimates of the height of `amount`, and of its longest paragraph, laid out at
// `points` (pixels) in lines `lineWidth` wide: every character as wide as the font is high, and
// each paragraph's last line full.
double estimatedLaidOutHeight(const TextAmount& amount, double points, double lineWidth);
double estimatedParagraphHeight(const TextAmount& amount, double points, double lineWidth);
// Whether both estimates stay within their maximum.
bool fitsLayout(const TextAmount& amount, double points, double lineWidth);

// The narrowest line that `amount` fits the layout in at the minimum font size (fitsLayout): a
// narrower column lays the text out at this width. None when the text has more paragraphs than
// are shown (TextUtils::maximumShownParagraphs); any fewer fit at some width.
std::optional<double> narrowestLineWidth(const TextAmount& amount);

// The size the editor shows a script at: `points`, or the largest size that fits the layout
// (fitsLayout) where `points` does not, never below the minimum font size. A long script, or a
// large font, is then shown smaller than the size the prompter's rule gives; the line metrics
// are still counted at `points` (see measureLines).
double shownFontSize(double points, double lineWidth, const TextAmount& amount);

// The text-container inset that puts the first line, scrolled to the top, at the reading
// indicator of a view `viewHeight` high (the indicator stands at `indicatorPosition` of the height
// from the bottom).
QSizeF textContainerInset(double viewHeight, float indicatorPosition);

// Mirrors a view `size` large about itself for the flips (identity without flips).
QTransform mirrorTransform(bool flipHorizontal, bool flipVertical, const QSizeF& size);

// What an application of the script properties recomputes besides the cheap compared steps.
struct Changes {
    bool column = false;    // column width and font size (margin or word-count factor)
    bool alignment = false; // the column's place (margin alignment, horizontal flip)
};
// Against the properties applied last time; `force` recomputes both.
Changes changes(const DocumentScriptProperties& properties, const DocumentScriptProperties& cached,
                bool force);

// Gives the overlay over the editor's text the script's bands: type, opacity, the background colour
// as their colour, the reading position as their centre, and the text's `lineHeight`. Only what
// differs is set, so the overlay is laid out again only on a real change.
void applyScriptProperties(OverlayView& overlay, const DocumentScriptProperties& properties,
                           double lineHeight);

// The cached properties after a full text load: the next application without force computes the
// column and the font size again.
DocumentScriptProperties invalidated(DocumentScriptProperties properties);

} // namespace cw::EditorAppearance
