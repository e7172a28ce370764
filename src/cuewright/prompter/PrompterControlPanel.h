// PrompterControlPanel: the prompter's on-screen controls and read-outs.
#pragma once

#include "cuewright/prompter/KeyHints.h"
#include "cuewright/prompter/PrompterTransport.h"
#include "cuewright/prompter/SpeedLabelLayer.h"

#include <QColor>
#include <QPointF>
#include <QRectF>

#include <array>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace platform::layers {
class Layer;
}

namespace cw {

struct PrompterDisplayState;
class BesideHintLayer;
class ControlLayer;
class LineUpDownLayer;
class RewindControlLayer;
class ScrollProgressLayer;
class SpeedControlLayer;
class TimestampLayer;
class TransportControlLayer;

// The on-screen controls, for hit testing.
enum class PrompterControl { none, transport, rewind, speed, lineUp, lineDown, timestamp, speedLabel };

// Owns the control layers: a panel layer holding the buttons and the speed scale and read-out
// (mirrored as a whole), the time read-out (mirrored in place) and the progress bar. One table
// frames them, scales them, hit-tests them and knows which of them a press tints; a new control
// is a layer and a row there.
//
// Key hints a control has no room for are drawn beside it, on small layers of the panel's own.
//
// A control shows as pressed while the pointer or a key holds it; the line steps, when neither
// holds anything, show the way the transport runs. Main thread only.
class PrompterControlPanel {
public:
    enum class PressSource { pointer, key };
    static constexpr double lockedSpeedOpacity = 0.3;

    PrompterControlPanel();
    ~PrompterControlPanel();
    PrompterControlPanel(const PrompterControlPanel&) = delete;
    PrompterControlPanel& operator=(const PrompterControlPanel&) = delete;

    // Puts the layers on `root` at `contentsScale`.
    void install(platform::layers::Layer& root, const QSizeF& size, double contentsScale,
                 const PrompterDisplayState& state);
    // Frames every control for a view of `size` (y up), snapped to `pixelScale`.
    void layout(const QSizeF& size, double pixelScale, bool flipHorizontal, bool flipVertical);
    void setContentsScale(double scale);
    // Shows what the display state says of the controls (visibility, opacities, modes).
    void apply(const PrompterDisplayState& from, const PrompterDisplayState& to);

    // Control size factor: area / 753894, held to 0.32...1.0; labels drawn above 0.7.
    double controlScale() const;
    bool drawsControlLabels() const { return controlScale() > 0.7; }
    // The control drawn under a point of the view (y up), mirroring honoured; none when no control.
    // Hit tests work whether the controls show or not.
    PrompterControl controlAt(QPointF viewPoint) const;
    // A point of the view in the panel's unmirrored space.
    QPointF panelPoint(QPointF viewPoint) const;

    // ---- pressed state ----
    // Tints the control as pressed; the speed scale and `none` show nothing.
    void press(PrompterControl control);
    void setHeld(PressSource source, bool held);
    bool isHeld(PressSource source) const { return source == PressSource::pointer ? pointerHeld_ : keyHeld_; }
    // Ends the hold: puts back the tint of every control the source can press, then the line steps.
    void release(PressSource source);
    // Lights the line step the transport runs towards; nothing while a control is held.
    void updateLineStepHighlight();

    // ---- what the controls show ----
    // Keys the controls show as hints; redraws the controls when they changed.
    void setKeyHints(const KeyHints& hints);
    const KeyHints& keyHints() const { return keyHints_; }
    // The transport's symbol (redrawn when the status changed) and the line-step tints.
    void showTransport(const PrompterTransport& state);
    // Moves the progress bar.
    void showProgress(double progress);
    // The speed scale's percentage; redraws the scale when it changed.
    double scrollSpeed() const;
    void setScrollSpeed(double percent);
    // Speed figures for the read-out (updateSpeedLabel() after a change); the percentage is the scale's.
    void setScrollSpeedFigures(double linesPerSecond, double linesPerMinute, double wordsPerSecond,
                               double wordsPerMinute);
    const SpeedFigures& speedFigures() const { return figures_; }
    void updateSpeedLabel();
    double timestamp() const { return timestamp_; }
    void setTimestamp(double seconds) { timestamp_ = seconds; }
    double totalRuntime() const { return totalRuntime_; }
    void setTotalRuntime(double seconds) { totalRuntime_ = seconds; }
    // Shows the elapsed or remaining time; nothing while the read-out is hidden.
    void updateTimestampLabel();

    // ---- layers ----
    platform::layers::Layer& uiLayer() const { return *uiLayer_; }
    TransportControlLayer& transportLayer() const { return *transportLayer_; }
    RewindControlLayer& rewindLayer() const { return *rewindLayer_; }
    SpeedControlLayer& speedLayer() const { return *speedLayer_; }
    SpeedLabelLayer& speedLabelLayer() const { return *speedLabelLayer_; }
    TimestampLayer& timestampLayer() const { return *timestampLayer_; }
    LineUpDownLayer& lineUpLayer() const { return *lineUpLayer_; }
    LineUpDownLayer& lineDownLayer() const { return *lineDownLayer_; }
    ScrollProgressLayer& progressLayer() const { return *progressLayer_; }

private:
    struct Geometry;
    // Where a control lives and how it is hit.
    enum class Place {
        panel,   // on the panel layer, hit in the panel's space
        inPlace, // on the root, mirrored about its own bounds and hit where it is drawn
        bar,     // on the root, never hit
    };
    // One row per control, in hit-testing (and stacking) order.
    struct Slot {
        PrompterControl control;
        std::shared_ptr<platform::layers::Layer> layer;
        Place place;
        bool keyPressable;   // a key stands for it, so a key's release puts its tint back
        QColor releasedTint; // invalid: the tint is not the press's to put back
        std::function<QRectF(const Geometry&)> frame;
        // Scale factor and labels after a re-frame; the layer is redisplayed after.
        std::function<void(const Geometry&)> fit;
    };

    const Slot* slot(PrompterControl control) const;
    // The controls that show key hints.
    std::array<ControlLayer*, 5> hintedControls() const;
    // Frames the layers of the bindings that go beside their controls (hidden when none).
    void placeBesideHints();

    std::shared_ptr<platform::layers::Layer> uiLayer_;
    std::shared_ptr<TransportControlLayer> transportLayer_;
    std::shared_ptr<RewindControlLayer> rewindLayer_;
    std::shared_ptr<SpeedControlLayer> speedLayer_;
    std::shared_ptr<SpeedLabelLayer> speedLabelLayer_;
    std::shared_ptr<TimestampLayer> timestampLayer_;
    std::shared_ptr<LineUpDownLayer> lineUpLayer_;
    std::shared_ptr<LineUpDownLayer> lineDownLayer_;
    std::shared_ptr<ScrollProgressLayer> progressLayer_;
    std::vector<Slot> slots_;
    std::vector<std::pair<ControlLayer*, std::shared_ptr<BesideHintLayer>>> besideHints_;

    KeyHints keyHints_;
    bool pointerHeld_ = false;
    bool keyHeld_ = false;
    PrompterTransport transport_;
    double timestamp_ = 0;
    double totalRuntime_ = 0;
    bool showsTimestamp_ = true;
    bool showsRemainingTime_ = false;
    SpeedFigures figures_;
};

} // namespace cw
