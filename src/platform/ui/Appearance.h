// Light and dark appearance for the application and single windows.
#pragma once

#include <QObject>
#include <QPalette>

class QWidget;

namespace platform {

// How windows are drawn. Which one the user chose is a setting the application reads and maps
// to this; the platform never parses the stored choice.
enum class AppearanceStyle { system, light, dark };

QPalette lightPalette();
QPalette darkPalette();

// Whether the widget is drawn dark: its window's appearance (its palette's window colour) is
// darker than mid grey. A widget in no window (isInWindow) is never dark, whatever the
// application's appearance; a widget's own palette does not count, only its window's.
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

    AppearanceStyle style() const { return style_; }
    // Sets the application's palette for the style; returns early when nothing changes.
    void apply(AppearanceStyle style);

    // Gives one window its own appearance, whatever the application's (system gives the
    // window back to the application's palette).
    static void applyToWindow(QWidget* window, AppearanceStyle style);

    QPalette palette(AppearanceStyle style) const;

    // Whether applyToWindow() gave the widget an appearance of its own (light or dark).
    static bool hasOwnAppearance(const QWidget* window);

signals:
    void styleChanged(platform::AppearanceStyle style);

private:
    Appearance();

    AppearanceStyle style_ = AppearanceStyle::system;
    QPalette systemPalette_;
};

} // namespace platform
