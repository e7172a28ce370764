// OverlayView: an overlay layer hosted over the script editor's text.
#pragma once

#include "cuewright/model/PrompterEnums.h"
#include "platform/layers/LayerHost.h"

#include <QColor>

#include <memory>

namespace platform::layers {
class Layer;
}

namespace cw {

class OverlayLayer;

// A see-through widget laid over the editor's text that shows the bands of its OverlayLayer
// around the reading position. It never takes clicks or focus: the text below gets them. The
// overlay follows the widget's size; the editor sets the type, the fade colour, the vertical
// centre and the line height. Main thread only.
class OverlayView : public platform::layers::LayerHost {
    Q_OBJECT

public:
    explicit OverlayView(QWidget* parent = nullptr);
    ~OverlayView() override;

    OverlayLayer& overlayLayer() const { return *overlay_; }

    OverlayType overlayType() const;
    // Re-lays out the overlay only when the type changed.
    void setOverlayType(OverlayType type);
    QColor gradientColor() const;
    // Re-lays out the overlay only when the colour changed.
    void setGradientColor(const QColor& color);
    // The reading position as a fraction of the height (from the bottom); it is also handed to
    // the overlay layer, which is laid out again when its value changed.
    float verticalCenter() const { return verticalCenter_; }
    void setVerticalCenter(float center);

protected:
    // Builds the layer tree; called once by the constructor.
    virtual void setUp();
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;

private:
    void fitOverlay();
    void updateContentsScale();

    std::shared_ptr<OverlayLayer> overlay_;
    std::shared_ptr<platform::layers::Layer> root_;
    float verticalCenter_ = 0.5f;
};

} // namespace cw
