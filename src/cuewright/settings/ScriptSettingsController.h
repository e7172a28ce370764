// The Script pane: the background colour, text colour and font every new script starts with.
#pragma once

#include "cuewright/settings/SettingsPane.h"
#include "platform/text/Font.h"

#include <QPointer>

#include <QFontDialog>
class QPushButton;

namespace cw {

namespace controls {
class ColorWell;
}

// A colour changed in a well is stored at once; leaving the pane stores a well's colour again when
// it differs from what the store reads. The
// font is picked in a font dialog: each change there is stored and shown at once. Unreadable
// stored values show black, yellow and the system font at 34 points, and are replaced only when
// the user picks or resets. Main thread only.
class ScriptSettingsController : public SettingsPane {
    Q_OBJECT

public:
    explicit ScriptSettingsController(
        platform::Defaults& defaults = platform::Defaults::standard(),
        platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter(),
        QObject* parent = nullptr);
    ~ScriptSettingsController() override;

    struct Controls {
        controls::ColorWell* backgroundColorWell = nullptr;
        controls::ColorWell* textColorWell = nullptr;
        QPushButton* fontButton = nullptr;
    };
    const Controls& controls() {
        view();
        return controls_;
    }

    void loadSettings();
    void viewDidAppear() override { loadSettings(); }
    void viewWillDisappear() override;

    void saveTextColor();
    void saveBackgroundColor();
    void resetTextColor();
    void resetBackgroundColor();
    void resetFont();
    // Opens the font dialog on the stored font.
    void selectFont();
    // The font picked in the dialog: stored, then shown.
    void saveFont(const QFont& picked);
    QFontDialog* fontDialog() const { return fontDialog_; }

    // The button's title: the font's name (its style added when bold or italic), then "…".
    static QString fontTitle(const platform::Font& font);

    bool respondsToAction(std::string_view action) const override;
    void performAction(std::string_view action, QObject* sender) override;

protected:
    QWidget* makeView() override;
    void viewDidLoad() override;

private:
    Controls controls_;
    QPointer<QFontDialog> fontDialog_;
};

} // namespace cw
