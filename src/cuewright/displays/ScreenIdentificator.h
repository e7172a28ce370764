// Shows which physical display a row of the Displays pane means: a blinking red frame on it.
#pragma once

#include "cuewright/model/ScreenDescription.h"

#include <QPointer>
#include <QWidget>

#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string_view>

class QScreen;

namespace cw {

// A repeating timer for the blinking; the real one is a QTimer on the main thread, tests fire
// a fake by hand.
class BlinkTimer {
public:
    virtual ~BlinkTimer() = default;
    // (Re)starts ticking every `interval`; one timer runs at a time.
    virtual void start(std::chrono::milliseconds interval, std::function<void()> tick) = 0;
    virtual void stop() = 0;
};

// Thrown when the description names no attached display.
class ScreenIdentificatorError : public std::runtime_error {
public:
    enum class Code { screenNotFound };
    explicit ScreenIdentificatorError(Code code)
        : std::runtime_error("screenNotFound")
        , code_(code) {}
    Code code() const { return code_; }

private:
    Code code_;
};

// Owns a frameless, click-through window covering the description's resolution from the bottom
// left corner of its display, above every other window, in which a 20-point red frame is drawn
// inside the window's edges; the window is shaped to that frame, so the display stays visible
// inside it with or without a compositor. start() shows it and blinks the frame (shown 0.3 s,
// hidden 0.3 s, the window with it) until stop() closes the window; the window is kept for the next start,
// which does not reset the blink phase. When the display is unplugged the identification stops, the
// screen-lost handler is called and the identificator never starts again. Main thread only.
class ScreenIdentificator {
public:
    static constexpr std::chrono::milliseconds blinkInterval{300};
    static constexpr double frameWidth = 20;

    struct Options {
        // The attached display with a UUID, null when none; Qt's screens when empty.
        std::function<QScreen*(std::string_view displayUUID)> locateScreen;
        // A QTimer-based timer when empty.
        std::function<std::unique_ptr<BlinkTimer>()> makeTimer;
    };

    // Throws ScreenIdentificatorError (screenNotFound) when the display is not attached. The
    // window is made but not shown.
    explicit ScreenIdentificator(ScreenDescription screenInfo, Options options = {});
    ~ScreenIdentificator();
    ScreenIdentificator(const ScreenIdentificator&) = delete;
    ScreenIdentificator& operator=(const ScreenIdentificator&) = delete;

    void start();
    void stop();
    bool isRunning() const { return running_; }

    void setScreenLostHandler(std::function<void()> handler) { screenLost_ = std::move(handler); }

    const ScreenDescription& screenInfo() const { return screenInfo_; }
    QWidget* window() const { return window_; }
    // The frame's view: hidden during the off phase of the blinking.
    QWidget* view() const { return view_; }
    // Null once the display was unplugged: such an identificator never starts again.
    QScreen* screen() const { return screen_; }

private:
    void toggle();
    void screenRemoved(QScreen* screen);

    ScreenDescription screenInfo_;
    QPointer<QScreen> screen_;
    QPointer<QWidget> window_;
    QPointer<QWidget> view_;
    std::unique_ptr<BlinkTimer> timer_;
    std::unique_ptr<QObject> context_; // holds the connection to screen removals
    std::function<void()> screenLost_;
    bool running_ = false;
};

} // namespace cw
