#include "platform/text/Color.h"

#include <QColor>

#include <algorithm>
#include <cmath>
#include <functional>

namespace platform {

static int32_t toUnits(double component) {
    if (!(component > 0)) { // also catches NaN
        return 0;
    }
    return static_cast<int32_t>(std::lround(std::min(component, 1.0) * Color::kScale));
}

static int32_t clampUnits(int units) {
    return std::clamp(units, 0, Color::kScale);
}

Color::Color(double red, double green, double blue, double alpha, Space space)
    : space_(space)
    , r_(toUnits(red))
    , g_(toUnits(green))
    , b_(toUnits(blue))
    , a_(toUnits(alpha)) {}

Color Color::gray(double white, double alpha) {
    return Color(white, white, white, alpha, Space::genericGray);
}

Color Color::fromUnits(Space space, int red, int green, int blue, int alpha) {
    Color c;
    c.space_ = space;
    c.r_ = clampUnits(red);
    c.g_ = clampUnits(green);
    c.b_ = clampUnits(blue);
    c.a_ = clampUnits(alpha);
    return c;
}

static int to8(int32_t units) {
    return static_cast<int>(std::lround(units * 255.0 / Color::kScale));
}

int Color::red8() const {
    return to8(r_);
}
int Color::green8() const {
    return to8(g_);
}
int Color::blue8() const {
    return to8(b_);
}

QColor Color::toQColor() const {
    return QColor::fromRgbF(float(redF()), float(greenF()), float(blueF()), float(alphaF()));
}

Color Color::fromQColor(const QColor& color) {
    const QColor rgb = color.toRgb();
    return Color(rgb.redF(), rgb.greenF(), rgb.blueF(), rgb.alphaF());
}

std::size_t Color::hash() const {
    std::size_t h = std::hash<int>()(static_cast<int>(space_));
    for (int32_t v : {r_, g_, b_, a_}) {
        h = h * 1000003u ^ std::hash<int32_t>()(v);
    }
    return h;
}

} // namespace platform
