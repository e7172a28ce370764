// Pixel alignment shared by the controls.
#include "cuewright/controls/ControlPainting.h"

#include <gtest/gtest.h>

namespace {

TEST(ControlPainting, RectanglesSnapToDevicePixels) {
    struct Case {
        QRectF rect;
        double ratio;
        QRectF aligned;
    };
    const Case cases[] = {
        {{0.4, 1.6, 10.2, 5.0}, 1, {0, 2, 11, 5}},
        {{0.4, 1.6, 10.2, 5.0}, 2, {0.5, 1.5, 10, 5.0}},
        {{1, 1, 3, 3}, 0, {1, 1, 3, 3}}, // no ratio yet: whole points
    };
    for (const Case& c : cases)
        EXPECT_EQ(cw::controls::alignedToDevicePixels(c.rect, c.ratio), c.aligned) << c.ratio;
}

} // namespace
