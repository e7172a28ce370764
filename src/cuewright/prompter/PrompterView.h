// PrompterView: the prompter surface, a layer tree of text column, background, overlay,
// reading indicator and on-screen controls.
#pragma once

#include "cuewright/model/PrompterEnums.h"
#include "cuewright/model/TextAlignment.h"
#include "cuewright/prompter/KeyHints.h"
#include "cuewright/prompter/PrompterTransport.h"
#include "platform/layers/LayerHost.h"
#include "platform/text/AttributedString.h"

#include <QImage>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class QMenu;

namespace platform {
class Defaults;
class Typesetter;
class CursorHider;
class LiveResizeWatcher;
} // namespace platform

namespace platform::layers {
class Layer;
class TiledTextLayer;
class TileCache;
} // namespace platform::layers

namespace cw {

struct DocumentScriptProperties;
class IndicatorLayer;
class LineUpDownLayer;
class OverlayLayer;
class PrompterViewDelegate;
class RewindControlLayer;
class ScrollProgressLayer;
class SpeedControlLayer;
class SpeedLabelLayer;
class TimestampLayer;
class TransportControlLayer;

// The on-screen controls, for hit testing.
enum class PrompterControl { none, transport, rewind, speed, lineUp, lineDown, timestamp, speedLabel };

// The prompter surface. It shows what it is given and never reads the script or the transport by
// itself: a view controller pushes the text, the script's display properties, the window's
// display settings, the speed figures and the transport through the setters, moves the text with
// setScrollPosition() (60 times a second while the progress changes) and asks for layoutText()
// and relayout() after changes that need them. Requests go back through the weak delegate.
//
// Geometry is y-up as in a non-flipped view: (0, 0) is the bottom-left corner. The text is laid out
// at the width of the view into chunks of whole lines at most 4096 points tall, one tiled text layer
// each; only chunks near the view are in the layer tree. Progress 0 puts the top of the text at the
// reading position (indicatorPosition × height from the bottom), progress 1 its end.
//
// Setters store; those whose change must show at once (background colour and image, transport,
// progress, indicator, overlay type) update their layers like property observers, the others wait
// for relayout(), layoutText() or the named update. Every layer change happens in a transaction
// without animation except the scroll moves (0.15 s linear) and an animated relayout.
// Main thread only.
class PrompterView : public platform::layers::LayerHost {
    Q_OBJECT

public:
    explicit PrompterView(QWidget* parent = nullptr);
    ~PrompterView() override;
    PrompterView(const PrompterView&) = delete;
    PrompterView& operator=(const PrompterView&) = delete;

    void setDelegate(std::weak_ptr<PrompterViewDelegate> delegate) { delegate_ = std::move(delegate); }
    std::shared_ptr<PrompterViewDelegate> delegate() const { return delegate_.lock(); }

    // ---- text (layoutText() after a change) ----
    const platform::AttributedString& text() const { return text_; }
    void setText(const platform::AttributedString& text) { text_ = text; }
    TextAlignment textAlignment() const { return textAlignment_; }
    void setTextAlignment(TextAlignment alignment) { textAlignment_ = alignment; }
    double prompterMargin() const { return prompterMargin_; }
    void setPrompterMargin(double margin) { prompterMargin_ = margin; }
    double prompterMarginAlignment() const { return prompterMarginAlignment_; }
    void setPrompterMarginAlignment(double alignment) { prompterMarginAlignment_ = alignment; }
    float prompterWordCountFactor() const { return prompterWordCountFactor_; }
    void setPrompterWordCountFactor(float factor) { prompterWordCountFactor_ = factor; }
    // Measures with another typesetter (tests); null restores the layer typesetter.
    void setTypesetter(const platform::Typesetter* typesetter) { typesetter_ = typesetter; }

    // ---- appearance (relayout() after a change, unless noted) ----
    QColor backgroundColor() const { return backgroundColor_; }
    void setBackgroundColor(const QColor& color); // shows at once
    const QImage& backgroundImage() const { return backgroundImage_; }
    void setBackgroundImage(const QImage& image); // shows at once
    bool showsBackgroundImage() const { return showsBackgroundImage_; }
    void setShowsBackgroundImage(bool shows) { showsBackgroundImage_ = shows; }
    float backgroundImageOpacity() const { return backgroundImageOpacity_; }
    void setBackgroundImageOpacity(float opacity) { backgroundImageOpacity_ = opacity; }
    // applyWindowOpacity() after a change.
    float windowOpacity() const { return windowOpacity_; }
    void setWindowOpacity(float opacity) { windowOpacity_ = opacity; }
    bool flipHorizontal() const { return flipHorizontal_; }
    void setFlipHorizontal(bool flip) { flipHorizontal_ = flip; }
    bool flipVertical() const { return flipVertical_; }
    void setFlipVertical(bool flip) { flipVertical_ = flip; }
    float indicatorPosition() const { return indicatorPosition_; }
    // Also moves the overlay's band (updating it when the value changed).
    void setIndicatorPosition(float position);
    bool showsReadingLine() const { return showsReadingLine_; }
    void setShowsReadingLine(bool shows) { showsReadingLine_ = shows; }

    // Forwarded to the indicator and overlay layers; each shows at once.
    IndicatorType indicatorType() const;
    void setIndicatorType(IndicatorType type);
    IndicatorSize indicatorSize() const;
    void setIndicatorSize(IndicatorSize size);
    IndicatorColor indicatorColor() const;
    void setIndicatorColor(IndicatorColor color);
    OverlayType overlayType() const;
    void setOverlayType(OverlayType type);
    double overlayOpacity() const;
    void setOverlayOpacity(double opacity);

    // Pushes a script's display properties with the rules of a property push: each value is
    // assigned when it differs (or `force`), and text layout, relayout and redraws happen only for
    // real changes. `alignment` is the alignment to show (the document's or the window's own).
    void applyScriptProperties(const DocumentScriptProperties& properties, TextAlignment alignment,
                               bool force);

    // ---- controls and read-outs ----
    bool showsControls() const { return showsControls_; }
    void setShowsControls(bool shows);
    bool showsTimestamp() const { return showsTimestamp_; }
    void setShowsTimestamp(bool shows);
    bool showsProgress() const { return showsProgress_; }
    void setShowsProgress(bool shows);
    float controlsOpacity() const { return controlsOpacity_; }
    // The control panel's and the time read-out's opacity (the progress bar keeps its own).
    void setControlsOpacity(float opacity);
    bool timestampShowsRemainingTime() const { return timestampShowsRemainingTime_; }
    void setTimestampShowsRemainingTime(bool remaining) { timestampShowsRemainingTime_ = remaining; }
    double timestamp() const { return timestamp_; }
    void setTimestamp(double seconds) { timestamp_ = seconds; }
    double totalRuntime() const { return totalRuntime_; }
    void setTotalRuntime(double seconds) { totalRuntime_ = seconds; }
    // Speed figures for the read-out (updateSpeedLabel() after a change).
    void setScrollSpeedFigures(double linesPerSecond, double linesPerMinute, double wordsPerSecond,
                               double wordsPerMinute);
    double scrollSpeedLPS() const { return scrollSpeedLPS_; }
    double scrollSpeedLPM() const { return scrollSpeedLPM_; }
    double scrollSpeedWPS() const { return scrollSpeedWPS_; }
    double scrollSpeedWPM() const { return scrollSpeedWPM_; }
    // The speed scale's percentage; redraws the scale when it changed.
    double scrollSpeed() const;
    void setScrollSpeed(double percent);
    SpeedDisplayMode speedDisplayMode() const;
    void setSpeedDisplayMode(SpeedDisplayMode mode); // also sets the label's font size
    bool isSpeedLocked() const { return isSpeedLocked_; }
    void setSpeedLocked(bool locked) { isSpeedLocked_ = locked; }
    int lineCount() const { return lineCount_; }
    void setLineCount(int count) { lineCount_ = count; }
    // Keys the controls show as hints; redraws the five control layers when they changed.
    void setKeyHints(const KeyHints& hints);
    const KeyHints& keyHints() const { return keyHints_; }
    bool isMouseDown() const { return mouseIsDown_; }
    void setMouseDown(bool down) { mouseIsDown_ = down; }
    bool isKeyDown() const { return keyIsDown_; }
    void setKeyDown(bool down) { keyIsDown_ = down; }

    // ---- transport ----
    const PrompterTransport& transportState() const { return transportState_; }
    // Sets the transport control's symbol (redrawing it when the status changed) and the line-step tints.
    void setTransportState(const PrompterTransport& state);
    double transportProgress() const { return transportProgress_; }
    // Moves the progress bar when the value changed.
    void setTransportProgress(double progress);

    // ---- layout and scrolling ----
    // Rebuilds font size, measurements, chunks and text layers; puts none on screen (the next
    // forced move or relayout does).
    void layoutText();
    // Moves the text column to `progress`, animated over 0.15 s when asked; culls the text layers on
    // every 8th move, or at once when forced.
    void setScrollPosition(double progress, bool animated, bool force);
    // Puts the text layers near the view on the scroll layer and takes the others off.
    void updateVisibleTextLayers();
    // Re-frames every layer to the view's bounds and applies mirroring.
    void relayout(bool animated);
    void layoutBackground();
    void updateImageLayer();
    void layoutControls();
    void applyWindowOpacity();
    void layoutReadingLine(const QRectF& rect);
    QColor readingLineColor() const;
    void updateLineStepHighlight();
    void updateSpeedLabel();
    void updateTimestampLabel();
    // Control size factor: area / 753894, held to 0.32...1.0; labels drawn above 0.7.
    double controlScale() const;
    bool drawsControlLabels() const { return controlScale() > 0.7; }

    // ---- measurements ----
    double lineHeight() const { return lineHeight_; }
    double graphicLineHeight() const { return graphicLineHeight_; }
    double textHeight() const { return textHeight_; }
    double scrollOffset() const { return scrollOffset_; }
    const std::vector<double>& lineOffsets() const { return lineOffsets_; }
    int buildCounter() const { return buildCounter_; }
    double textWidth() const { return textWidth_; }

    // ---- input helpers ----
    // The control drawn under a point of the view (y up), mirroring honoured; none when no control.
    // Hit tests work whether the controls show or not.
    PrompterControl controlAt(QPointF viewPoint) const;
    // The line at the reading position: the line whose offset is nearest to scrollOffset − half a line.
    int currentLineIndex() const;
    // Asks the delegate to scroll `count` lines up or down, never past the first or the last laid-out
    // line; nothing without line offsets.
    enum class StepDirection { up, down };
    void stepLines(StepDirection direction, int count);

    // ---- pointer and wheel input ----
    // While set, presses, drags, releases and the wheel are ignored (keys still work).
    bool ignoresMouseEvents() const { return ignoresMouseEvents_; }
    void setIgnoresMouseEvents(bool ignores) { ignoresMouseEvents_ = ignores; }
    // While set, a click outside the controls does nothing.
    bool ignoresOneClickPrompting() const { return ignoresOneClickPrompting_; }
    void setIgnoresOneClickPrompting(bool ignores) { ignoresOneClickPrompting_ = ignores; }
    bool reverseScrollWheelDirection() const { return reverseScrollWheelDirection_; }
    void setReverseScrollWheelDirection(bool reverse) { reverseScrollWheelDirection_ = reverse; }
    // The settings store read (and written) at each event; null means the standard store.
    void setInputDefaults(platform::Defaults* defaults) { inputDefaults_ = defaults; }
    // Popped up by a right click; not owned (unset it before the menu goes). Null: right clicks do nothing.
    void setContextMenu(QMenu* menu) { contextMenu_ = menu; }
    QMenu* contextMenu() const { return contextMenu_; }
    // Maps a point of the view (y up) on the speed scale to a percentage and, when it differs from
    // the scale's, shows it and tells the delegate. Nothing while the speed is locked or off the scale.
    void setSpeedFromPoint(QPointF viewPoint);
    // The percentage a point `y` points above the scale's bottom edge means on a scale `height` tall:
    // 1 at the foot of its usable eight ninths, 100 at the top.
    static double speedPercentAt(double y, double height);
    // One wheel event. Deltas are in lines for a notched wheel (one notch is 1) and in points for
    // precise devices; positive y is away from the user (towards the start of the script).
    struct WheelInput {
        double deltaX = 0;
        double deltaY = 0;
        bool shift = false;
        bool precise = false;
    };
    void scrollWheel(const WheelInput& input);

    // ---- layers ----
    platform::layers::Layer& rootLayer() const { return *root_; }
    platform::layers::Layer& backgroundLayer() const { return *backgroundLayer_; }
    platform::layers::Layer& fillLayer() const { return *fillLayer_; }
    platform::layers::Layer& imageLayer() const { return *imageLayer_; }
    platform::layers::Layer& scrollLayer() const { return *scrollLayer_; }
    platform::layers::Layer& borderLayer() const { return *borderLayer_; }
    platform::layers::Layer& readingLineLayer() const { return *readingLineLayer_; }
    platform::layers::Layer& uiLayer() const { return *uiLayer_; }
    const std::vector<std::shared_ptr<platform::layers::TiledTextLayer>>& textLayers() const {
        return textLayers_;
    }
    OverlayLayer& overlayLayer() const { return *overlayLayer_; }
    IndicatorLayer& indicatorLayer() const { return *indicatorLayer_; }
    TransportControlLayer& transportLayer() const { return *transportLayer_; }
    RewindControlLayer& rewindLayer() const { return *rewindLayer_; }
    SpeedControlLayer& speedLayer() const { return *speedLayer_; }
    SpeedLabelLayer& speedLabelLayer() const { return *speedLabelLayer_; }
    TimestampLayer& timestampLayer() const { return *timestampLayer_; }
    LineUpDownLayer& lineUpLayer() const { return *lineUpLayer_; }
    LineUpDownLayer& lineDownLayer() const { return *lineDownLayer_; }
    ScrollProgressLayer& progressLayer() const { return *progressLayer_; }

    // Tiles of the text layers go here. By default the view has its own cache, capped at two and a
    // half screens of pixels (so memory follows the visible area, not the script); null restores it.
    void setTileCache(std::shared_ptr<platform::layers::TileCache> cache);
    const std::shared_ptr<platform::layers::TileCache>& tileCache() const { return tileCache_; }

    // Lifecycle entry points (also reached through Qt's events).
    void liveResizeDidEnd();
    void fullScreenDidChange(bool entered);
    void backingScaleDidChange();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void setupLayers();
    void setupUILayer();
    void addControlLayer(platform::layers::Layer& layer, const QRectF& frame);
    void setupIndicatorLayer();
    void setupReadingLineLayer();
    void frameIndicator();
    double backingScale() const;
    void applyContentsScale();
    void watchWindow();
    void fitTileCache();
    platform::Defaults& inputDefaults() const;
    // A click on the transport control, or one-click prompting: flip the shown status and tell the delegate.
    void toggleTransportFromPointer();
    void changeSpeedFromPointer(double percent);
    void releaseControl(PrompterControl control);

    std::weak_ptr<PrompterViewDelegate> delegate_;
    int buildCounter_ = 0;
    TextAlignment textAlignment_ = TextAlignment::center;
    bool showsReadingLine_ = true;
    float indicatorPosition_ = 0.5f;
    float windowOpacity_ = 1.0f;
    QImage backgroundImage_;
    std::optional<std::vector<std::uint8_t>> backgroundImageData_; // what backgroundImage_ was decoded from
    bool showsBackgroundImage_ = false;
    float backgroundImageOpacity_ = 1.0f;
    QColor backgroundColor_{Qt::black};
    bool mouseIsDown_ = false;
    bool keyIsDown_ = false;
    PrompterTransport transportState_;
    double timestamp_ = 0;
    double totalRuntime_ = 0;
    bool timestampShowsRemainingTime_ = false;
    bool showsTimestamp_ = true;
    bool showsProgress_ = true;
    double prompterMargin_ = 0;
    double prompterMarginAlignment_ = 0;
    float prompterWordCountFactor_ = 0;
    bool flipHorizontal_ = false;
    bool flipVertical_ = false;
    double scrollSpeedLPS_ = 0;
    double scrollSpeedLPM_ = 0;
    double scrollSpeedWPS_ = 0;
    double scrollSpeedWPM_ = 0;
    bool showsControls_ = true;
    bool isSpeedLocked_ = false;
    float controlsOpacity_ = 1.0f;
    double textHeight_ = 0;
    double graphicLineHeight_ = 0;
    double transportProgress_ = 0;
    std::vector<double> lineOffsets_;
    int lineCount_ = 0;
    platform::AttributedString text_;
    double scrollOffset_ = 0;
    double lineHeight_ = 10.0;
    double textWidth_ = 0;
    KeyHints keyHints_;
    const platform::Typesetter* typesetter_ = nullptr;
    std::shared_ptr<platform::layers::TileCache> tileCache_;
    bool ownsTileCache_ = false;
    // Direction of the last move: +1 when the text moved up (forwards), -1 down.
    int travel_ = 1;
    double lastScrollY_ = 0;
    bool ignoresMouseEvents_ = false;
    bool ignoresOneClickPrompting_ = false;
    bool reverseScrollWheelDirection_ = false;
    platform::Defaults* inputDefaults_ = nullptr;
    QMenu* contextMenu_ = nullptr;

    std::shared_ptr<platform::layers::Layer> root_;
    std::shared_ptr<platform::layers::Layer> backgroundLayer_;
    std::shared_ptr<platform::layers::Layer> imageLayer_;
    std::shared_ptr<platform::layers::Layer> fillLayer_;
    std::shared_ptr<platform::layers::Layer> scrollLayer_;
    std::vector<std::shared_ptr<platform::layers::TiledTextLayer>> textLayers_;
    std::shared_ptr<OverlayLayer> overlayLayer_;
    std::shared_ptr<IndicatorLayer> indicatorLayer_;
    std::shared_ptr<platform::layers::Layer> readingLineLayer_;
    std::shared_ptr<platform::layers::Layer> borderLayer_;
    std::shared_ptr<platform::layers::Layer> uiLayer_;
    std::shared_ptr<TransportControlLayer> transportLayer_;
    std::shared_ptr<RewindControlLayer> rewindLayer_;
    std::shared_ptr<SpeedControlLayer> speedLayer_;
    std::shared_ptr<SpeedLabelLayer> speedLabelLayer_;
    std::shared_ptr<TimestampLayer> timestampLayer_;
    std::shared_ptr<LineUpDownLayer> lineUpLayer_;
    std::shared_ptr<LineUpDownLayer> lineDownLayer_;
    std::shared_ptr<ScrollProgressLayer> progressLayer_;
    platform::CursorHider* cursorHider_ = nullptr;
    platform::LiveResizeWatcher* liveResize_ = nullptr;
    QWidget* watchedWindow_ = nullptr;
};

} // namespace cw
