// Light and dark appearance for the application and single windows.
#pragma once

#include <QObject>
#include <QPalette>
#include <QString>

class QWidget;

namespace platform {

// The user's appearance choice. The values are those stored and compared elsewhere.
enum class UserInterfaceStyle { systemDefault = 0, light = 1, dark = 2 };

// "UserInterfaceStyleSystemDefault" → systemDefault, "UserInterfaceStyleLight" → light,
// "UserInterfaceStyleDark" → dark; any other text (an empty one too) → systemDefault.
UserInterfaceStyle userInterfaceStyle(const QString& text);

QPalette lightPalette();
QPalette darkPalette();

// Whether the widget is drawn dark: its window colour is darker than mid grey.
bool isDarkMode(const QWidget* widget);

// Applies the user's appearance choice to the whole application. The palette the application
// had when the service was first used stands for the system's choice. Every widget that does
// not set its own palette follows at once (Qt sends it a palette change).
//
// Main thread only. One per application: shared().
class Appearance : public QObject {
    Q_OBJECT

public:
    static Appearance& shared();

    UserInterfaceStyle style() const { return style_; }
    // Sets the application's palette for the style; returns early when nothing changes.
    void apply(UserInterfaceStyle style);
    void apply(const QString& styleText) { apply(userInterfaceStyle(styleText)); }

    // Gives one window its own appearance, whatever the application's (systemDefault gives the
    // window back to the application's palette).
    static void applyToWindow(QWidget* window, UserInterfaceStyle style);

    QPalette palette(UserInterfaceStyle style) const;

signals:
    void styleChanged(platform::UserInterfaceStyle style);

private:
    Appearance();

    UserInterfaceStyle style_ = UserInterfaceStyle::systemDefault;
    QPalette systemPalette_;
};

} // namespace platform
