// A colour value: colour space, components and alpha, comparable by value.
#pragma once

#include <QMetaType>

#include <cstddef>
#include <cstdint>

class QColor;

namespace platform {

// Components are kept at a resolution of 1/100000 (the resolution our RTF colour table writes),
// so a colour survives a save and a reload exactly and equality is exact. Values outside 0…1
// are clamped. Two colours are equal when space and all components are equal.
class Color {
public:
    enum class Space { sRGB, genericRGB, deviceRGB, genericGray };
    static constexpr int kScale = 100000;

    Color() = default; // opaque black in sRGB
    Color(double red, double green, double blue, double alpha = 1.0, Space space = Space::sRGB);
    static Color gray(double white, double alpha = 1.0);
    // Components already in units of 1/kScale.
    static Color fromUnits(Space space, int red, int green, int blue, int alpha);

    static Color black() { return Color(0, 0, 0); }
    static Color white() { return Color(1, 1, 1); }
    static Color red() { return Color(1, 0, 0); }
    static Color green() { return Color(0, 1, 0); }
    static Color blue() { return Color(0, 0, 1); }
    static Color yellow() { return Color(1, 1, 0); }

    Space space() const { return space_; }
    double redF() const { return r_ / double(kScale); }
    double greenF() const { return g_ / double(kScale); }
    double blueF() const { return b_ / double(kScale); }
    double alphaF() const { return a_ / double(kScale); }
    int redUnits() const { return r_; }
    int greenUnits() const { return g_; }
    int blueUnits() const { return b_; }
    int alphaUnits() const { return a_; }

    // 0…255 components, rounded.
    int red8() const;
    int green8() const;
    int blue8() const;

    // Generic and device RGB are drawn as sRGB: Linux desktops do not manage colour per window.
    QColor toQColor() const;
    static Color fromQColor(const QColor& color);

    std::size_t hash() const;
    friend bool operator==(const Color&, const Color&) = default;

private:
    Space space_ = Space::sRGB;
    int32_t r_ = 0;
    int32_t g_ = 0;
    int32_t b_ = 0;
    int32_t a_ = kScale;
};

struct ColorHash {
    std::size_t operator()(const Color& c) const { return c.hash(); }
};

} // namespace platform

Q_DECLARE_METATYPE(platform::Color)
