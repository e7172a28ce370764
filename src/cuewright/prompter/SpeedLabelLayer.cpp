#include "cuewright/prompter/SpeedLabelLayer.h"

#include "cuewright/prompter/ReadoutFit.h"
#include "dispatch/MainThreadChecker.h"
#include "platform/layers/LayerPainting.h"
#include "platform/layers/Transaction.h"

#include <QFontMetricsF>
#include <QPainter>

#include <cstdio>

namespace cw {

// Room kept between the text and the box's border.
constexpr double textInset = 3;

double SpeedLabelLayer::fontSizeFactor(SpeedDisplayMode mode) {
    switch (mode) {
    case SpeedDisplayMode::percentage:
        return 16;
    case SpeedDisplayMode::wordsPerSecond:
        return 14;
    case SpeedDisplayMode::wordsPerMinute:
        return 12;
    case SpeedDisplayMode::linesPerSecond:
        return 14;
    case SpeedDisplayMode::linesPerMinute:
        return 13;
    }
    return 16;
}

double SpeedLabelLayer::shiftFactor(SpeedDisplayMode mode) {
    switch (mode) {
    case SpeedDisplayMode::percentage:
        return 5;
    case SpeedDisplayMode::wordsPerSecond:
        return 7;
    case SpeedDisplayMode::wordsPerMinute:
        return 9;
    case SpeedDisplayMode::linesPerSecond:
        return 7;
    case SpeedDisplayMode::linesPerMinute:
        return 8;
    }
    return 5;
}

// The C library's printf rounds the binary value to nearest, ties to even (38.5 gives "38");
// QString::asprintf rounds halves up.
static QString printed(const char* format, double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return QString::fromLatin1(buffer);
}

QString SpeedLabelLayer::text(SpeedDisplayMode mode, const SpeedFigures& f) {
    switch (mode) {
    case SpeedDisplayMode::percentage:
        return printed("%.0f %%", f.percent);
    case SpeedDisplayMode::wordsPerSecond:
        return printed("%.2f w/s", f.wordsPerSecond);
    case SpeedDisplayMode::wordsPerMinute:
        return printed("%.2f w/m", f.wordsPerMinute);
    case SpeedDisplayMode::linesPerSecond:
        return printed("%.2f l/s", f.linesPerSecond);
    case SpeedDisplayMode::linesPerMinute:
        return printed("%.2f l/m", f.linesPerMinute);
    }
    return {};
}

void SpeedLabelLayer::updateFontSize() {
    CW_DCHECK_MAIN_THREAD();
    platform::layers::TransactionScope immediate;
    setFontSize(scaleFactor_ * fontSizeFactor(mode_));
}

void SpeedLabelLayer::draw(QPainter& painter) {
    // The shift factors were tuned for another platform's font metrics; with ours they left the text at
    // the top of the box. Centre the ink of the mode's figure instead (zeros: every value of a mode then
    // sits at the same height). The painter is y-up, so moving the text down is a negative translation.
    const QFontMetricsF metrics(effectiveFont(), platform::layers::layerMetricsDevice());
    const QRectF ink = metrics.tightBoundingRect(text(mode_, SpeedFigures{}));
    const double inkMiddleFromTop = metrics.ascent() + ink.center().y();
    painter.save();
    shrinkTextToFit(painter, *this, textInset);
    painter.translate(0, inkMiddleFromTop - bounds().height() / 2);
    TextLayer::draw(painter);
    painter.restore();
}

} // namespace cw
