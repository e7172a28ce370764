#include "cuewright/controls/TransportBackgroundView.h"

#include "cuewright/controls/TransportArtwork.h"
#include "platform/ui/Appearance.h"
#include "platform/ui/WindowFocus.h"

namespace cw::controls {

TransportBackgroundView::TransportBackgroundView(QWidget* parent)
    : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
}

QImage TransportBackgroundView::backgroundImage(QSize pixels) const {
    if (platform::isDarkMode(this))
        return tinted(transportArtwork(QStringLiteral("transport_schwatte_HS"), pixels),
                      QColor(255, 255, 255, 26));
    const QImage plate = transportArtwork(QStringLiteral("transport_schwatte"), pixels);
    if (platform::isWindowMain(this))
        return plate;
    return tinted(plate, QColor(255, 255, 255, 179));
}

bool TransportBackgroundView::event(QEvent* event) {
    platform::redrawOnWindowChange(this, event);
    return QWidget::event(event);
}

void TransportBackgroundView::paintEvent(QPaintEvent*) {
    paintArtwork(*this, [this](QSize pixels) { return backgroundImage(pixels); });
}

} // namespace cw::controls
