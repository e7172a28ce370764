// Read-outs keep their text inside their bordered box whatever the desktop's font.
#include "cuewright/prompter/SpeedLabelLayer.h"
#include "cuewright/prompter/TimestampLayer.h"
#include "platform/layers/LayerRenderer.h"

#include <gtest/gtest.h>

#include <QImage>

#include <memory>

namespace {

using platform::layers::LayerRenderer;
using platform::layers::TextLayer;

// Red ink in columns [x0, x1] of the rows between the rounded corners.
bool hasInk(const QImage& image, int x0, int x1, int y0, int y1) {
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            if (image.pixelColor(x, y).red() > 60)
                return true;
    return false;
}

void styleAsReadout(TextLayer& layer, QSizeF size, double fontSize, const QString& text) {
    layer.setAnchorPoint(QPointF(0, 0));
    layer.setFrame(QRectF(QPointF(0, 0), size));
    layer.setAlignmentMode(platform::layers::TextAlignmentMode::center);
    layer.setForegroundColor(Qt::red);
    layer.setFontSize(fontSize);
    layer.setString(text);
}

TEST(ReadoutFit, WideTextsShrinkIntoTheirBoxAndNarrowOnesKeepTheirSize) {
    struct Case {
        std::shared_ptr<TextLayer> layer;
        QSize box;
        double fontSize;
        QString text;
        bool wide;
    };
    auto speed = [](cw::SpeedDisplayMode mode) {
        auto layer = std::make_shared<cw::SpeedLabelLayer>();
        layer->setMode(mode);
        return layer;
    };
    const Case cases[] = {
        {speed(cw::SpeedDisplayMode::wordsPerMinute), {66, 24}, 12, "150.00 w/m", true},
        {speed(cw::SpeedDisplayMode::linesPerMinute), {66, 24}, 13, "175.00 l/m", true},
        {speed(cw::SpeedDisplayMode::percentage), {66, 24}, 16, "5 %", false},
        {std::make_shared<cw::TimestampLayer>(), {120, 48}, 40, "-00:00:45.0", true},
        {std::make_shared<cw::TimestampLayer>(), {120, 48}, 12, "00:00:15.0", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        styleAsReadout(*c.layer, c.box, c.fontSize, c.text);
        const QImage image = LayerRenderer::renderToImage(*c.layer, c.box, 1.0, Qt::black);
        const int top = c.box.height() / 4, bottom = c.box.height() * 3 / 4;
        EXPECT_FALSE(hasInk(image, 0, 1, top, bottom));
        EXPECT_FALSE(hasInk(image, c.box.width() - 2, c.box.width() - 1, top, bottom));
        // Text that fits is drawn at its own size: its ink spans less than the box.
        if (!c.wide)
            EXPECT_FALSE(hasInk(image, 0, c.box.width() / 8, top, bottom));
        else
            EXPECT_TRUE(hasInk(image, 0, c.box.width() / 6, top, bottom));
    }
}

} // namespace
