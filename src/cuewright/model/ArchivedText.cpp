#include "cuewright/model/ArchivedText.h"

#include <algorithm>

namespace cw {

using platform::ArchivedColor;
using platform::ArchivedColorSpace;
using platform::Color;

static double component(const ArchivedColor& c, size_t i, double fallback) {
    return i < c.components.size() ? c.components[i] : fallback;
}

Color colorFromArchived(const ArchivedColor& c) {
    switch (c.space) {
    case ArchivedColorSpace::sRGB:
    case ArchivedColorSpace::displayP3:
    case ArchivedColorSpace::extendedSRGB:
        return Color(component(c, 0, 0), component(c, 1, 0), component(c, 2, 0), component(c, 3, 1));
    case ArchivedColorSpace::genericRGB:
        return Color(component(c, 0, 0), component(c, 1, 0), component(c, 2, 0), component(c, 3, 1),
                     Color::Space::genericRGB);
    case ArchivedColorSpace::deviceRGB:
        return Color(component(c, 0, 0), component(c, 1, 0), component(c, 2, 0), component(c, 3, 1),
                     Color::Space::deviceRGB);
    case ArchivedColorSpace::genericGray:
    case ArchivedColorSpace::deviceGray:
        return Color::gray(component(c, 0, 0), component(c, 1, 1));
    case ArchivedColorSpace::deviceCMYK: {
        const double k = component(c, 3, 0);
        return Color((1 - component(c, 0, 0)) * (1 - k), (1 - component(c, 1, 0)) * (1 - k),
                     (1 - component(c, 2, 0)) * (1 - k), component(c, 4, 1));
    }
    }
    return Color::black();
}

ArchivedColor archivedFromColor(const Color& color) {
    switch (color.space()) {
    case Color::Space::sRGB:
        return ArchivedColor{ArchivedColorSpace::sRGB, {color.redF(), color.greenF(), color.blueF(), color.alphaF()}};
    case Color::Space::genericRGB:
        return ArchivedColor{ArchivedColorSpace::genericRGB,
                             {color.redF(), color.greenF(), color.blueF(), color.alphaF()}};
    case Color::Space::deviceRGB:
        return ArchivedColor{ArchivedColorSpace::deviceRGB,
                             {color.redF(), color.greenF(), color.blueF(), color.alphaF()}};
    case Color::Space::genericGray:
        return ArchivedColor{ArchivedColorSpace::genericGray, {color.redF(), color.alphaF()}};
    }
    return ArchivedColor{};
}

platform::Font fontFromArchived(const platform::ArchivedFont& archived) {
    if (archived.family.empty()) {
        return platform::Font::systemFont(archived.pointSize).withTraits(archived.bold, archived.italic);
    }
    return platform::Font{QString::fromStdString(archived.family), archived.pointSize, archived.bold, archived.italic};
}

platform::ArchivedFont archivedFromFont(const platform::Font& font) {
    return platform::ArchivedFont{font.family.toStdString(), font.pointSize, font.bold, font.italic};
}

} // namespace cw
