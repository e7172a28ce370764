// LayerHost: the widget that shows a layer tree.
#pragma once

#include <QColor>
#include <QTimer>
#include <QWidget>

#include <memory>

namespace platform::layers {

class Layer;

// Paints a root layer with QPainter. The model is y-up (a non-flipped view): host point (0, 0) is the
// widget's bottom-left corner; the conversion to Qt's y-down space happens here, once.
//
// Frames are painted only when something changed: every layer change in the tree schedules one update().
// While an animation runs and the host is visible, a frame tick (about 60 per second) keeps painting; it
// stops after the first frame in which no animation runs any more, or when the host is hidden.
//
// An owner that moves the layers on a clock of its own can drive the frames instead
// (setClockedExternally()): then the host has no tick, changes wait for the owner's next
// advanceFrame(), and each such call paints at most one frame, showing the animations as they are at
// that call. One clock, so every move is painted once and frames come at the owner's even pace.
//
// The root layer's frame follows the widget's size. Main thread only.
class LayerHost : public QWidget {
    Q_OBJECT

public:
    explicit LayerHost(QWidget* parent = nullptr);
    ~LayerHost() override;
    LayerHost(const LayerHost&) = delete;
    LayerHost& operator=(const LayerHost&) = delete;

    // The root layer; a layer that already has a superlayer or another host is refused (logged).
    void setRootLayer(std::shared_ptr<Layer> root);
    const std::shared_ptr<Layer>& rootLayer() const { return root_; }

    // Colour painted under the root; transparent for see-through windows. A see-through child
    // host blends over what lies below it rather than replacing it.
    void setBackgroundColor(const QColor& color);
    QColor backgroundColor() const { return background_; }

    // Converts a widget position (y down) into host space (y up) and back.
    QPointF hostPointFromWidget(QPointF widgetPoint) const;
    QPointF widgetPointFromHost(QPointF hostPoint) const;
    // The deepest visible layer under a widget position, or null.
    Layer* layerAt(QPointF widgetPoint) const;

    // The widget's picture as it would be painted now (tests, benchmarks, screenshots).
    QImage renderToImage(double devicePixelRatio = 1.0) const;

    // While set, frames follow advanceFrame() and the host's own tick never runs; unsetting it paints
    // what waited at once and gives the frames back to the tick.
    void setClockedExternally(bool clocked);
    bool isClockedExternally() const { return clocked_; }
    // One step of the owner's clock: asks for one frame, at this moment's animation values, when
    // something changed since the last one or an animation runs; nothing otherwise or when not clocked
    // externally.
    void advanceFrame();
    // The clock time the next frame shows: the last advanceFrame()'s when clocked externally, else now.
    double frameTime() const;

    // Diagnostics: frames painted so far, and whether the frame tick runs.
    int framesPainted() const { return framesPainted_; }
    bool isTicking() const { return tick_.isActive(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    friend class Layer;
    void layerTreeChanged(bool animating);
    void fitRoot();

    std::shared_ptr<Layer> root_;
    QColor background_{Qt::black};
    QTimer tick_;
    int framesPainted_ = 0;
    bool clocked_ = false;
    bool framePending_ = false;
    bool lastFrameAnimating_ = false;
    double clockedFrameTime_ = 0;
};

} // namespace platform::layers
