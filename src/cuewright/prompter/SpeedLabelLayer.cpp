#include "cuewright/prompter/SpeedLabelLayer.h"

#include "platform/layers/Transaction.h"

#include <QPainter>

namespace cw {

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

QString SpeedLabelLayer::text(SpeedDisplayMode mode, const SpeedFigures& f) {
    switch (mode) {
    case SpeedDisplayMode::percentage:
        return QString::asprintf("%.0f %%", f.percent);
    case SpeedDisplayMode::wordsPerSecond:
        return QString::asprintf("%.2f w/s", f.wordsPerSecond);
    case SpeedDisplayMode::wordsPerMinute:
        return QString::asprintf("%.2f w/m", f.wordsPerMinute);
    case SpeedDisplayMode::linesPerSecond:
        return QString::asprintf("%.2f l/s", f.linesPerSecond);
    case SpeedDisplayMode::linesPerMinute:
        return QString::asprintf("%.2f l/m", f.linesPerMinute);
    }
    return {};
}

void SpeedLabelLayer::updateFontSize() {
    platform::layers::TransactionScope immediate;
    setFontSize(scaleFactor_ * fontSizeFactor(mode_));
}

void SpeedLabelLayer::draw(QPainter& painter) {
    // Centre the line vertically, then lift it by the mode's shift.
    painter.save();
    painter.translate(0, -((bounds().height() - fontSize()) / 2 - scaleFactor_ * shiftFactor(mode_)));
    TextLayer::draw(painter);
    painter.restore();
}

} // namespace cw
