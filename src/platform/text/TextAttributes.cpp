#include "platform/text/TextAttributes.h"

#include "base/Log.h"

#include <algorithm>
#include <string>

namespace platform {

template <typename T> static QVariant optionalValue(const std::optional<T>& v) {
    return v ? QVariant::fromValue(*v) : QVariant();
}

template <typename T> static void assign(std::optional<T>& field, QStringView name, const QVariant& value) {
    if (!value.isValid()) {
        field.reset();
        return;
    }
    if (value.metaType() != QMetaType::fromType<T>()) {
        base::fatal("Attributes: wrong value type for attribute " + name.toString().toStdString());
    }
    field = value.value<T>();
}

QVariant Attributes::value(QStringView name) const {
    if (name == AttributeName::font) {
        return optionalValue(font);
    }
    if (name == AttributeName::foregroundColor) {
        return optionalValue(foregroundColor);
    }
    if (name == AttributeName::underlineStyle) {
        return optionalValue(underlineStyle);
    }
    if (name == AttributeName::underlineColor) {
        return optionalValue(underlineColor);
    }
    if (name == AttributeName::paragraphStyle) {
        return optionalValue(paragraphStyle);
    }
    if (name == AttributeName::backgroundColor) {
        return optionalValue(backgroundColor);
    }
    if (name == CuewrightBookmarkAttributeName) {
        return bookmark ? QVariant::fromValue(bookmark) : QVariant();
    }
    for (const auto& [key, v] : passThrough) {
        if (key == name) {
            return v;
        }
    }
    return {};
}

void Attributes::setValue(QStringView name, const QVariant& value) {
    if (name == AttributeName::font) {
        return assign(font, name, value);
    }
    if (name == AttributeName::foregroundColor) {
        return assign(foregroundColor, name, value);
    }
    if (name == AttributeName::underlineStyle) {
        if (value.isValid() && value.metaType() != QMetaType::fromType<int>() && value.canConvert<int>()) {
            underlineStyle = value.toInt();
            return;
        }
        return assign(underlineStyle, name, value);
    }
    if (name == AttributeName::underlineColor) {
        return assign(underlineColor, name, value);
    }
    if (name == AttributeName::paragraphStyle) {
        return assign(paragraphStyle, name, value);
    }
    if (name == AttributeName::backgroundColor) {
        return assign(backgroundColor, name, value);
    }
    if (name == CuewrightBookmarkAttributeName) {
        if (!value.isValid()) {
            bookmark.reset();
            return;
        }
        if (value.metaType() != QMetaType::fromType<EmbeddedBookmarkPtr>()) {
            base::fatal("Attributes: the bookmark attribute needs an EmbeddedBookmark");
        }
        bookmark = value.value<EmbeddedBookmarkPtr>();
        return;
    }
    auto it = std::lower_bound(passThrough.begin(), passThrough.end(), name,
                               [](const auto& entry, QStringView n) { return QStringView(entry.first) < n; });
    const bool found = it != passThrough.end() && it->first == name;
    if (!value.isValid()) {
        if (found) {
            passThrough.erase(it);
        }
        return;
    }
    if (found) {
        it->second = value;
        return;
    }
    passThrough.insert(it, {name.toString(), value});
}

void Attributes::merge(const Attributes& other) {
    if (other.font) {
        font = other.font;
    }
    if (other.foregroundColor) {
        foregroundColor = other.foregroundColor;
    }
    if (other.underlineStyle) {
        underlineStyle = other.underlineStyle;
    }
    if (other.underlineColor) {
        underlineColor = other.underlineColor;
    }
    if (other.paragraphStyle) {
        paragraphStyle = other.paragraphStyle;
    }
    if (other.backgroundColor) {
        backgroundColor = other.backgroundColor;
    }
    if (other.bookmark) {
        bookmark = other.bookmark;
    }
    for (const auto& [key, v] : other.passThrough) {
        setValue(key, v);
    }
}

bool Attributes::isEmpty() const {
    return *this == Attributes();
}

} // namespace platform
