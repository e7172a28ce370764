#include "cuewright/controls/TransportButton.h"

#include "cuewright/controls/ClickableControl.h"
#include "cuewright/controls/ControlAccessibility.h"
#include "cuewright/controls/TransportArtwork.h"
#include "platform/ui/Appearance.h"
#include "platform/ui/WindowFocus.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace cw::controls {

std::string_view transportGlyph(TransportButtonStyle style) {
    switch (style) {
    case TransportButtonStyle::rewind:
        return "beginning";
    case TransportButtonStyle::bbwd:
        return "slower";
    case TransportButtonStyle::backPlay:
        return "playBackward";
    case TransportButtonStyle::pauseBack:
        return "pauseBackward";
    case TransportButtonStyle::pauseForward:
        return "pauseForward";
    case TransportButtonStyle::pause:
        return "pause";
    case TransportButtonStyle::stop:
        return "stop";
    case TransportButtonStyle::play:
        return "playForward";
    case TransportButtonStyle::ffwd:
        return "faster";
    case TransportButtonStyle::endwind:
        return "ending";
    }
    return "playForward";
}

TransportButton::TransportButton(QWidget* parent)
    : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
    // Reached with Tab, and pressed with Space or Return; a click leaves the keyboard where it was
    // (in the text, say).
    installControlAccessibility();
    setFocusPolicy(Qt::TabFocus);
}

// What the button does, for its tooltip and for screen readers.
static QString transportTitle(TransportButtonStyle style) {
    static constexpr const char* titles[] = {
        QT_TRANSLATE_NOOP("cw::controls::TransportButton", "Rewind"),
        QT_TRANSLATE_NOOP("cw::controls::TransportButton", "Fast Backward"),
        QT_TRANSLATE_NOOP("cw::controls::TransportButton", "Play Backward"),
        QT_TRANSLATE_NOOP("cw::controls::TransportButton", "Pause"),
        QT_TRANSLATE_NOOP("cw::controls::TransportButton", "Pause"),
        QT_TRANSLATE_NOOP("cw::controls::TransportButton", "Pause"),
        QT_TRANSLATE_NOOP("cw::controls::TransportButton", "Stop"),
        QT_TRANSLATE_NOOP("cw::controls::TransportButton", "Play"),
        QT_TRANSLATE_NOOP("cw::controls::TransportButton", "Fast Forward"),
        QT_TRANSLATE_NOOP("cw::controls::TransportButton", "To the End")};
    return TransportButton::tr(titles[base::menuIndex(style)]);
}

void TransportButton::setStyle(TransportButtonStyle style) {
    setAccessibleName(transportTitle(style));
    setToolTip(accessibleName());
    if (style == style_)
        return;
    style_ = style;
    update();
}

void TransportButton::setStringStyle(const QString& text) {
    stringStyle_ = text;
    const std::string raw = text.toStdString();
    for (const auto& c : transportButtonStyleTable.cases) {
        if (c.raw == raw) {
            setStyle(c.value);
            return;
        }
    }
}

QString TransportButton::glyphImageName() const {
    const std::string_view glyph = transportGlyph(style_);
    QString name = QStringLiteral("transport_") + QString::fromLatin1(glyph.data(), qsizetype(glyph.size()));
    if (!drawnEnabled_ || !platform::isWindowMain(this))
        name += QStringLiteral("_disabled");
    else
        name += active_ ? QStringLiteral("_active") : QStringLiteral("_normal");
    if (platform::isDarkMode(this))
        name += QStringLiteral("_HS");
    return name;
}

QImage TransportButton::glyphImage(QSize pixels) const {
    const QImage image = transportArtwork(glyphImageName(), pixels);
    if (image.isNull() || platform::isDarkMode(this) || platform::isWindowMain(this))
        return image;
    return tinted(image, QColor(255, 255, 255, 77));
}

bool TransportButton::event(QEvent* event) {
    platform::redrawOnWindowChange(this, event);
    // A hold that no release will end (hidden, or the window lost the mouse) ends here.
    const QEvent::Type type = event->type();
    if (active_ && (type == QEvent::Hide || type == QEvent::WindowDeactivate || type == QEvent::FocusOut))
        endPress();
    return QWidget::event(event);
}

void TransportButton::paintEvent(QPaintEvent*) {
    paintArtwork(*this, [this](QSize pixels) {
        const QImage image = glyphImage(pixels);
        return platform::isDarkMode(this) && !image.isNull() ? tinted(image, QColor(255, 255, 255, 26))
                                                             : image;
    });
    QPainter painter(this);
    paintKeyboardFocus(painter, *this);
}

void TransportButton::keyPressEvent(QKeyEvent* event) {
    if (!isPressKey(*event)) {
        if (!event->isAutoRepeat() || !active_)
            QWidget::keyPressEvent(event);
        return;
    }
    // As the mouse: a fast wind runs while the key is held.
    setActive(true);
    if (isFastWind())
        send();
}

void TransportButton::keyReleaseEvent(QKeyEvent* event) {
    if (event->isAutoRepeat() || !active_ || !isPressKey(*event)) {
        QWidget::keyReleaseEvent(event);
        return;
    }
    setActive(false);
    send();
}

bool TransportButton::isFastWind() const {
    return style_ == TransportButtonStyle::bbwd || style_ == TransportButtonStyle::ffwd;
}

void TransportButton::setActive(bool active) {
    active_ = active;
    update();
}

void TransportButton::send() {
    platform::sendAction(binding_, this);
}

void TransportButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !rect().contains(event->position().toPoint())) {
        event->ignore();
        return;
    }
    event->accept();
    setActive(true);
    if (isFastWind())
        send();
}

void TransportButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    event->accept();
    if (rect().contains(event->position().toPoint())) {
        setActive(false);
        send();
        return;
    }
    // A fast-wind hold must end wherever the mouse goes up, or the speed stays wound.
    if (active_)
        endPress();
}

void TransportButton::endPress() {
    setActive(false);
    if (isFastWind())
        send();
}

} // namespace cw::controls
