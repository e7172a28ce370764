#include "cuewright/displays/ScreenIdentificator.h"

#include "cuewright/prompter/PrompterWindowController.h"
#include "dispatch/MainThreadChecker.h"
#include "platform/layers/LayerPainting.h"
#include "platform/ui/TranslucentWindow.h"

#include <QGuiApplication>
#include <QPainter>
#include <QRegion>
#include <QScreen>
#include <QTimer>

#include <cmath>

namespace cw {

namespace {

class QtBlinkTimer final : public BlinkTimer {
public:
    void start(std::chrono::milliseconds interval, std::function<void()> tick) override {
        timer_.stop();
        QObject::disconnect(&timer_, nullptr, nullptr, nullptr);
        QObject::connect(&timer_, &QTimer::timeout, &timer_, std::move(tick));
        timer_.start(interval);
    }
    void stop() override { timer_.stop(); }

private:
    QTimer timer_;
};

// The red frame, drawn inside the view's bounds.
class IdentifierView final : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        // A frame too large for its window's pixels (a huge scale factor) is not drawn.
        if (!platform::layers::canDrawImages(painter))
            return;
        const double half = ScreenIdentificator::frameWidth / 2;
        painter.setPen(
            QPen(Qt::red, ScreenIdentificator::frameWidth, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRectF(rect()).adjusted(half, half, -half, -half));
    }
};

} // namespace

ScreenIdentificator::ScreenIdentificator(ScreenDescription screenInfo, Options options)
    : screenInfo_(std::move(screenInfo)) {
    CW_DCHECK_MAIN_THREAD();
    const auto locate =
        options.locateScreen ? options.locateScreen : &PrompterWindowController::screenForDisplayUUID;
    screen_ = locate(screenInfo_.displayUUID);
    if (!screen_) {
        throw ScreenIdentificatorError(ScreenIdentificatorError::Code::screenNotFound);
    }
    timer_ = options.makeTimer ? options.makeTimer() : std::make_unique<QtBlinkTimer>();

    // Above full-screen windows, never focused and transparent to clicks, so the display stays
    // usable under the frame.
    window_ = new QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                                       Qt::WindowDoesNotAcceptFocus | Qt::WindowTransparentForInput |
                                       Qt::BypassWindowManagerHint);
    window_->setAttribute(Qt::WA_ShowWithoutActivating);
    window_->setWindowTitle(QStringLiteral("Display Identification"));
    platform::makeTranslucent(window_, platform::WindowFrameStyle::frameless);
    window_->setScreen(screen_);
    // The description's size from the display's bottom-left corner (fractions of a point cut off).
    const QRect display = screen_->geometry();
    const int width = static_cast<int>(std::floor(screenInfo_.resolutionWidth));
    const int height = static_cast<int>(std::floor(screenInfo_.resolutionHeight));
    window_->setGeometry(display.x(), display.y() + display.height() - height, width, height);
    view_ = new IdentifierView(window_);
    view_->setGeometry(0, 0, width, height);
    // The window is the frame alone: where nothing composites, the clear inside of a translucent
    // window shows black and would hide the display beneath.
    const int line = static_cast<int>(frameWidth);
    window_->setMask(
        QRegion(0, 0, width, height).subtracted(QRegion(line, line, width - 2 * line, height - 2 * line)));

    context_ = std::make_unique<QObject>();
    QObject::connect(qGuiApp, &QGuiApplication::screenRemoved, context_.get(),
                     [this](QScreen* removed) { screenRemoved(removed); });
}

ScreenIdentificator::~ScreenIdentificator() {
    stop();
    delete window_.data();
}

void ScreenIdentificator::start() {
    CW_DCHECK_MAIN_THREAD();
    if (!window_ || !screen_) {
        return; // the display went away meanwhile: isRunning() stays false
    }
    if (!view_->isHidden()) {
        window_->show();
        window_->raise();
    }
    running_ = true;
    timer_->start(blinkInterval, [this] { toggle(); });
}

void ScreenIdentificator::stop() {
    CW_DCHECK_MAIN_THREAD();
    running_ = false;
    timer_->stop();
    if (window_) {
        window_->close();
    }
}

void ScreenIdentificator::toggle() {
    if (!view_ || !window_) {
        return;
    }
    // The window goes with the frame: a hidden frame would leave a black one where nothing composites.
    const bool shown = view_->isHidden();
    view_->setVisible(shown);
    window_->setVisible(shown);
    if (shown) {
        window_->raise();
    }
}

void ScreenIdentificator::screenRemoved(QScreen* screen) {
    if (screen != screen_.data()) {
        return;
    }
    stop();
    screen_ = nullptr; // for good: a display plugged back in is a new screen
    if (screenLost_) {
        screenLost_();
    }
}

} // namespace cw
