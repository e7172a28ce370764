// One button of the editor's transport row: a hand-drawn glyph chosen by its style and state.
#pragma once

#include "base/EnumTable.h"
#include "platform/ui/ActionRoute.h"

#include <QImage>
#include <QString>
#include <QWidget>

#include <string_view>

namespace cw::controls {

// Which glyph a transport button shows; the raw strings are the names `stringStyle` accepts.
enum class TransportButtonStyle {
    rewind,
    bbwd,
    backPlay,
    pauseBack,
    pauseForward,
    pause,
    stop,
    play,
    ffwd,
    endwind
};

inline constexpr base::EnumTable<TransportButtonStyle, 10> transportButtonStyleTable{
    {{{TransportButtonStyle::rewind, "rewind", 0},
      {TransportButtonStyle::bbwd, "bbwd", 1},
      {TransportButtonStyle::backPlay, "backPlay", 2},
      {TransportButtonStyle::pauseBack, "pauseBack", 3},
      {TransportButtonStyle::pauseForward, "pauseForward", 4},
      {TransportButtonStyle::pause, "pause", 5},
      {TransportButtonStyle::stop, "stop", 6},
      {TransportButtonStyle::play, "play", 7},
      {TransportButtonStyle::ffwd, "ffwd", 8},
      {TransportButtonStyle::endwind, "endwind", 9}}},
    TransportButtonStyle::play};
constexpr const auto& enumTable(TransportButtonStyle) {
    return transportButtonStyleTable;
}

// The glyph part of the style's image name ("beginning", "slower", ...).
std::string_view transportGlyph(TransportButtonStyle style);

// A plain view that draws its style's image stretched into its bounds: "_active" while the mouse
// is held on it, "_normal" otherwise, "_disabled" outside a main window or when not drawn enabled;
// "_HS" artwork in the dark appearance. It follows its window's focus and appearance.
//
// Mouse: a press inside marks it active; a release sends the action (through
// platform::sendAction, the button as sender) when it happens inside. The fast-wind styles (bbwd,
// ffwd) also send on the press, and when the press ends anyhow (a release outside, the button
// hidden, its window deactivated), so the receiver always hears that the hold ended (isActive()
// false then). Keyboard: Tab reaches it (a ring marks it), and Space or Return held acts as the
// mouse held, the focus going away ending a hold. Main thread only.
class TransportButton : public QWidget {
    Q_OBJECT

public:
    explicit TransportButton(QWidget* parent = nullptr);
    TransportButton(const TransportButton&) = delete;
    TransportButton& operator=(const TransportButton&) = delete;

    TransportButtonStyle style() const { return style_; }
    // Redraws when the style changed.
    void setStyle(TransportButtonStyle style);

    // The style as text. Setting it stores the text and selects the style whose raw string it
    // equals exactly (case matters); any other text leaves the style as it is.
    const QString& stringStyle() const { return stringStyle_; }
    void setStringStyle(const QString& text);

    const platform::ActionBinding& actionBinding() const { return binding_; }
    void setActionBinding(platform::ActionBinding binding) { binding_ = std::move(binding); }

    // The mouse is held down on the button.
    bool isActive() const { return active_; }
    // Drawn usable (not QWidget's enabled state: clicks act either way). Does not redraw.
    bool isDrawnEnabled() const { return drawnEnabled_; }
    void setDrawnEnabled(bool enabled) { drawnEnabled_ = enabled; }

    // "transport_<glyph>_<state>[_HS]", as the current state and window give it.
    QString glyphImageName() const;
    // The image of that name at `pixels`, tinted white at alpha 0.3 in the light appearance
    // outside a main window.
    QImage glyphImage(QSize pixels) const;

    QSize sizeHint() const override { return {28, 22}; }

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    bool isFastWind() const;
    void setActive(bool active);
    void send();
    // Ends a press without a release inside: only a fast-wind button acts, to end its hold.
    void endPress();

    TransportButtonStyle style_ = TransportButtonStyle::play;
    QString stringStyle_ = QStringLiteral("Play");
    platform::ActionBinding binding_;
    bool active_ = false;
    bool drawnEnabled_ = true;
};

} // namespace cw::controls
