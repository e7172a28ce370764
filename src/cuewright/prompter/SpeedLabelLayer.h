// SpeedLabelLayer: the speed read-out of the prompter, in one of five units.
#pragma once

#include "cuewright/model/PrompterEnums.h"
#include "platform/layers/TextLayer.h"

namespace cw {

// The speed figures a read-out text is made from.
struct SpeedFigures {
    double percent = 0;
    double wordsPerSecond = 0;
    double wordsPerMinute = 0;
    double linesPerSecond = 0;
    double linesPerMinute = 0;
};

// A text layer whose font size and vertical placement follow its `mode` and `scaleFactor`.
// Main thread only.
class SpeedLabelLayer : public platform::layers::TextLayer {
public:
    SpeedLabelLayer() = default;

    SpeedDisplayMode mode() const { return mode_; }
    void setMode(SpeedDisplayMode mode) { mode_ = mode; }
    double scaleFactor() const { return scaleFactor_; }
    void setScaleFactor(double factor) { scaleFactor_ = factor; }
    bool drawsLabel() const { return drawsLabel_; }
    void setDrawsLabel(bool draws) { drawsLabel_ = draws; }

    // Font size = scaleFactor × the mode's size factor, without animation.
    void updateFontSize();

    // "50 %", "1.25 l/s", ...: the read-out of `mode` for the given figures.
    static QString text(SpeedDisplayMode mode, const SpeedFigures& figures);
    static double fontSizeFactor(SpeedDisplayMode mode);
    static double shiftFactor(SpeedDisplayMode mode);

protected:
    void draw(QPainter& painter) override;

private:
    SpeedDisplayMode mode_ = SpeedDisplayMode::percentage;
    double scaleFactor_ = 1.0;
    bool drawsLabel_ = true;
};

} // namespace cw
