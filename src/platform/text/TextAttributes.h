// The attributes a stretch of text can carry, and their names for generic access.
#pragma once

#include "platform/text/Color.h"
#include "platform/text/EmbeddedBookmark.h"
#include "platform/text/Font.h"
#include "platform/text/ParagraphStyle.h"

#include <QString>
#include <QStringView>
#include <QVariant>

#include <optional>
#include <utility>
#include <vector>

namespace platform {

// Names of the attributes for generic access (QVariant values of the listed types).
namespace AttributeName {
inline constexpr QStringView font = u"font";                       // Font
inline constexpr QStringView foregroundColor = u"foregroundColor"; // Color
inline constexpr QStringView underlineStyle = u"underlineStyle";   // int, UnderlineStyle bits
inline constexpr QStringView underlineColor = u"underlineColor";   // Color
inline constexpr QStringView paragraphStyle = u"paragraphStyle";   // ParagraphStyle
inline constexpr QStringView backgroundColor = u"backgroundColor"; // Color
inline constexpr QStringView link = u"link";                       // QString (URL), pass-through
} // namespace AttributeName

// The bookmark attribute (value: EmbeddedBookmarkPtr).
inline constexpr QStringView CuewrightBookmarkAttributeName = u"CuewrightBookmarkAttributeName";

// Underline style bits, as the platform numbers them: a line style, optionally a pattern and "by word".
namespace UnderlineStyle {
inline constexpr int none = 0x00;
inline constexpr int single = 0x01;
inline constexpr int thick = 0x02;
inline constexpr int doubleLine = 0x09;
inline constexpr int patternDot = 0x0100;
inline constexpr int patternDash = 0x0200;
inline constexpr int patternDashDot = 0x0300;
inline constexpr int patternDashDotDot = 0x0400;
inline constexpr int byWord = 0x8000;
} // namespace UnderlineStyle

// The attributes of one run. Absent optionals (and a null bookmark) mean "not set". Unknown
// attributes ride along in passThrough, sorted by name, compared with QVariant equality.
struct Attributes {
    std::optional<Font> font;
    std::optional<Color> foregroundColor;
    std::optional<int> underlineStyle;
    std::optional<Color> underlineColor;
    std::optional<ParagraphStyle> paragraphStyle;
    std::optional<Color> backgroundColor;
    EmbeddedBookmarkPtr bookmark;
    std::vector<std::pair<QString, QVariant>> passThrough;

    // The value under `name`; an invalid QVariant when absent.
    QVariant value(QStringView name) const;
    // Sets the value under `name`; an invalid QVariant removes it. A known name given a value of
    // another type is a programming error and stops the program.
    void setValue(QStringView name, const QVariant& value);
    void remove(QStringView name) { setValue(name, QVariant()); }
    // Sets every attribute that `other` has; keeps the rest.
    void merge(const Attributes& other);
    bool isEmpty() const;

    friend bool operator==(const Attributes&, const Attributes&) = default;
};

} // namespace platform
