// The plate behind the editor's transport buttons.
#pragma once

#include <QImage>
#include <QWidget>

namespace cw::controls {

// Draws "transport_schwatte" stretched into its bounds: as it is in a main window of the light
// appearance, tinted white at alpha 0.7 outside one; the "_HS" plate tinted white at alpha 0.1 in
// the dark appearance. Follows its window's focus and appearance. Main thread only.
class TransportBackgroundView : public QWidget {
    Q_OBJECT

public:
    explicit TransportBackgroundView(QWidget* parent = nullptr);

    QImage backgroundImage(QSize pixels) const;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};

} // namespace cw::controls
