#include "platform/ui/Appearance.h"

#include "platform/ui/WindowFocus.h"

#include "dispatch/MainThreadChecker.h"

#include <QApplication>
#include <QProxyStyle>
#include <QStyle>
#include <QStyleOption>
#include <QToolTip>
#include <QWidget>

#include <memory>

namespace platform {

QPalette lightPalette() {
    QPalette p(QColor(236, 236, 236));
    p.setColor(QPalette::Base, Qt::white);
    p.setColor(QPalette::AlternateBase, QColor(244, 245, 245));
    p.setColor(QPalette::Text, Qt::black);
    p.setColor(QPalette::WindowText, Qt::black);
    p.setColor(QPalette::ButtonText, Qt::black);
    p.setColor(QPalette::Highlight, QColor(0, 99, 225));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, QColor(0, 104, 218));
    p.setColor(QPalette::PlaceholderText, QColor(0, 0, 0, 128)); // notes too: half the text, still readable
    // The colours above went to every group: without these a disabled button looks usable.
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(150, 150, 150));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(150, 150, 150));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(150, 150, 150));
    // A disabled slider's filled groove, greyed as its text is.
    p.setColor(QPalette::Disabled, QPalette::Highlight, QColor(190, 190, 190));
    return p;
}

QPalette darkPalette() {
    QPalette p(QColor(50, 50, 50), QColor(36, 36, 36));
    p.setColor(QPalette::Button, QColor(60, 60, 60));
    p.setColor(QPalette::Base, QColor(30, 30, 30));
    p.setColor(QPalette::AlternateBase, QColor(40, 40, 40));
    p.setColor(QPalette::Text, QColor(223, 223, 223));
    p.setColor(QPalette::WindowText, QColor(223, 223, 223));
    p.setColor(QPalette::ButtonText, QColor(223, 223, 223));
    p.setColor(QPalette::BrightText, Qt::white);
    p.setColor(QPalette::Highlight, QColor(10, 95, 210));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, QColor(65, 156, 255));
    p.setColor(QPalette::PlaceholderText, QColor(255, 255, 255, 128));
    p.setColor(QPalette::ToolTipBase, QColor(60, 60, 60));
    p.setColor(QPalette::ToolTipText, QColor(223, 223, 223));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(120, 120, 120));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(120, 120, 120));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(120, 120, 120));
    // Without these a disabled slider keeps its blue groove and bright handle, and looks usable.
    p.setColor(QPalette::Disabled, QPalette::Highlight, QColor(85, 85, 85));
    p.setColor(QPalette::Disabled, QPalette::Button, QColor(48, 48, 48));
    return p;
}

namespace {

// Fusion outlines check boxes and radio buttons with the window colour darkened and fills
// them with the base colour; on a dark window both nearly vanish. On dark palettes this hands
// the indicator a lighter window colour, so its outline stands out; light palettes pass through.
class IndicatorStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        const bool indicator = element == PE_IndicatorCheckBox || element == PE_IndicatorRadioButton ||
                               element == PE_IndicatorItemViewItemCheck;
        if (!indicator || !option || option->palette.color(QPalette::Window).lightness() >= 128) {
            QProxyStyle::drawPrimitive(element, option, painter, widget);
            return;
        }
        std::unique_ptr<QStyleOption> lifted(copy(option));
        lifted->palette.setColor(QPalette::Window, QColor(170, 170, 170));
        QProxyStyle::drawPrimitive(element, lifted.get(), painter, widget);
    }

private:
    static QStyleOption* copy(const QStyleOption* option) {
        if (const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option)) {
            return new QStyleOptionButton(*button);
        }
        if (const auto* item = qstyleoption_cast<const QStyleOptionViewItem*>(option)) {
            return new QStyleOptionViewItem(*item);
        }
        return new QStyleOption(*option);
    }
};

// Put in front of the application's style the first time anything is drawn dark.
void installIndicatorStyle() {
    if (!dynamic_cast<IndicatorStyle*>(QApplication::style())) {
        QApplication::setStyle(new IndicatorStyle(QApplication::style()->name()));
    }
}

} // namespace

bool isDarkMode(const QWidget* widget) {
    if (!isInWindow(widget)) {
        return false;
    }
    return widget->window()->palette().color(QPalette::Window).lightness() < 128;
}

Appearance& Appearance::shared() {
    CW_DCHECK_MAIN_THREAD();
    static auto* instance = new Appearance; // lives as long as the application; never destroyed
    return *instance;
}

Appearance::Appearance()
    : systemPalette_(QApplication::palette()) {}

QPalette Appearance::palette(AppearanceStyle style) const {
    switch (style) {
    case AppearanceStyle::system:
        return systemPalette_;
    case AppearanceStyle::light:
        return lightPalette();
    case AppearanceStyle::dark:
        return darkPalette();
    }
    return systemPalette_;
}

void Appearance::apply(AppearanceStyle style) {
    CW_DCHECK_MAIN_THREAD();
    if (style == style_) {
        return;
    }
    style_ = style;
    if (style == AppearanceStyle::dark) {
        installIndicatorStyle();
    }
    QApplication::setPalette(palette(style));
    // Tool tips keep a palette of their own.
    QToolTip::setPalette(palette(style));
    // Qt hands the new palette to widgets through posted events; deliver them now, so that
    // whoever asks isDarkMode() right after gets the new answer.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::ApplicationPaletteChange);
    emit styleChanged(style);
}

// Marks a window given its own appearance: it stands for a window even before it is shown.
static const char* const ownAppearanceProperty = "cwOwnAppearance";

bool Appearance::hasOwnAppearance(const QWidget* window) {
    return window->property(ownAppearanceProperty).toBool();
}

void Appearance::applyToWindow(QWidget* window, AppearanceStyle style) {
    CW_DCHECK_MAIN_THREAD();
    window->setProperty(ownAppearanceProperty, style != AppearanceStyle::system);
    switch (style) {
    case AppearanceStyle::system:
        window->setPalette(QPalette());
        window->setAttribute(Qt::WA_SetPalette, false);
        break;
    case AppearanceStyle::light:
        window->setPalette(lightPalette());
        break;
    case AppearanceStyle::dark:
        installIndicatorStyle();
        window->setPalette(darkPalette());
        break;
    }
}

} // namespace platform
