// PrompterView: the prompter surface, a layer tree of text column, background, overlay,
// reading indicator and on-screen controls.
#pragma once

#include "cuewright/prompter/PrompterControlPanel.h"
#include "cuewright/prompter/PrompterDisplayState.h"
#include "cuewright/prompter/PrompterTransport.h"
#include "platform/layers/LayerHost.h"
#include "platform/text/AttributedString.h"

#include <QImage>
#include <QSizeF>

#include <chrono>
#include <cstdint>
#include <functional>
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
class OverlayLayer;
class PrompterTextMeasurement;
class PrompterViewDelegate;

// The prompter surface. It shows what it is given and never reads the script or the transport by
// itself: a view controller pushes the text, the display state (the script's display properties
// and the window's display settings), the speed figures and the transport, moves the text with
// setScrollPosition() (60 times a second while the progress changes) and asks for layoutText()
// and relayout() after a new text. Requests go back through the weak delegate.
//
// Geometry is y-up as in a non-flipped view: (0, 0) is the bottom-left corner. The text is laid out
// at the width of the view into chunks of whole lines at most 4096 points tall, one tiled text layer
// each; only chunks near the view are in the layer tree. Progress 0 puts the top of the text at the
// reading position (indicatorPosition × height from the bottom), progress 1 its end.
//
// The display state changes only through apply(), which lays the text out again, re-frames the
// layers or redraws what changed, whichever the change needs. The on-screen controls are the
// control panel's. Every layer change happens in a transaction without animation except the scroll
// moves (0.15 s linear) and an animated relayout.
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
    // Measures with another typesetter (tests); null restores the layer typesetter.
    void setTypesetter(const platform::Typesetter* typesetter) { typesetter_ = typesetter; }

    // ---- display state ----
    const PrompterDisplayState& display() const { return display_; }
    // Shows `state`: lays the text out again and relayouts when a text layout value changed,
    // relayouts when the geometry did, and otherwise redraws only the layers whose values changed.
    // Returns the work the change needed.
    DisplayChange apply(const PrompterDisplayState& state);
    // apply() with the current state as changed by `change`.
    DisplayChange updateDisplay(const std::function<void(PrompterDisplayState&)>& change);
    // A script's display properties; `alignment` is the alignment to show (the document's or the
    // window's own). The background image is decoded only when its bytes changed.
    DisplayChange applyScriptProperties(const DocumentScriptProperties& properties, TextAlignment alignment);
    QColor readingLineColor() const;

    // The on-screen controls and read-outs.
    PrompterControlPanel& controls() { return controls_; }
    const PrompterControlPanel& controls() const { return controls_; }

    // ---- transport ----
    const PrompterTransport& transportState() const { return transportState_; }
    // Keeps the state and shows it on the controls.
    void setTransportState(const PrompterTransport& state);
    double transportProgress() const { return transportProgress_; }
    // Moves the progress bar when the value changed.
    void setTransportProgress(double progress);

    // ---- layout and scrolling ----
    // Rebuilds font size, measurements, chunks and text layers; puts none on screen (the next
    // forced move or relayout does). A text longer than wholeLayoutCharacters is measured in
    // parts, one a turn of the event loop, while the layout before it stays shown and scrolls; the
    // view then shows the new one at the transport's progress by itself. Views of one text at one
    // width share the measurement.
    void layoutText();
    static constexpr int wholeLayoutCharacters = 1 << 16;
    bool isLayingOutText() const { return pendingLayout_ != nullptr; }
    // Lays out the rest of a layout in parts at once, for a caller that needs the new lines now.
    void finishLayingOutText();
    // Drops a layout in parts still going (the window closes); the layout shown stays.
    void stopLayingOutText();
    // Moves the text column to `progress`, animated over 0.15 s when asked; culls the text layers on
    // every 8th move, or at once when forced.
    void setScrollPosition(double progress, bool animated, bool force);
    // Re-frames every layer to the view's bounds and applies mirroring.
    void relayout(bool animated);
    // Text layouts and relayouts done so far (each relayout, including those of resizes, counts).
    int layoutPasses() const { return layoutPasses_; }
    int relayoutPasses() const { return relayoutPasses_; }

    // ---- measurements ----
    double lineHeight() const { return lineHeight_; }
    double graphicLineHeight() const { return graphicLineHeight_; }
    double textHeight() const { return textHeight_; }
    double scrollOffset() const { return scrollOffset_; }
    const std::vector<double>& lineOffsets() const { return lineOffsets_; }
    int buildCounter() const { return buildCounter_; }
    double textWidth() const { return textWidth_; }
    // The text is laid out at layoutFontSize and drawn this many times its size.
    double layoutScale() const { return layoutScale_; }
    // Where each line starts in the text, the empty line after a closing break included: a
    // progress shows line progress × lineStarts().size() at the reading position.
    const std::vector<int>& lineStarts() const { return lineStarts_; }
    // The scroll offset that shows `progress`.
    double offsetForProgress(double progress) const;

    // ---- input helpers ----
    // The line at the reading position.
    int currentLineIndex() const;
    // The line that `progress` puts at the reading position (never the empty last line).
    int lineAtProgress(double progress) const;
    // The progress that puts scroll offset `offset` at the reading position.
    double progressForOffset(double offset) const;
    // Asks the delegate to scroll `count` lines up or down, never past the first or the last laid-out
    // line; nothing without line offsets.
    enum class StepDirection { up, down };
    void stepLines(StepDirection direction, int count);

    // ---- pointer and wheel input ----
    // While set, presses, drags, releases and the wheel are ignored (keys still work).
    void setIgnoresMouseEvents(bool ignores) { ignoresMouseEvents_ = ignores; }
    // While set, a click outside the controls does nothing.
    void setIgnoresOneClickPrompting(bool ignores) { ignoresOneClickPrompting_ = ignores; }
    // The settings store read (and written) at each event, and for the script's text colour at each
    // layout; null means the standard store.
    void setInputDefaults(platform::Defaults* defaults) { inputDefaults_ = defaults; }
    // Popped up by a right click; not owned (unset it before the menu goes). Null: right clicks do nothing.
    void setContextMenu(QMenu* menu) { contextMenu_ = menu; }

    // ---- layers ----
    platform::layers::Layer& rootLayer() const { return *root_; }
    platform::layers::Layer& backgroundLayer() const { return *backgroundLayer_; }
    platform::layers::Layer& fillLayer() const { return *fillLayer_; }
    platform::layers::Layer& imageLayer() const { return *imageLayer_; }
    platform::layers::Layer& scrollLayer() const { return *scrollLayer_; }
    platform::layers::Layer& readingLineLayer() const { return *readingLineLayer_; }
    const std::vector<std::shared_ptr<platform::layers::TiledTextLayer>>& textLayers() const {
        return textLayers_;
    }
    OverlayLayer& overlayLayer() const { return *overlayLayer_; }
    IndicatorLayer& indicatorLayer() const { return *indicatorLayer_; }

    // Tiles of the text layers go here. By default the view has its own cache, capped at two and a
    // half screens of pixels (so memory follows the visible area, not the script); null restores it.
    void setTileCache(std::shared_ptr<platform::layers::TileCache> cache);
    const std::shared_ptr<platform::layers::TileCache>& tileCache() const { return tileCache_; }

    // Entering or leaving full screen (also reached through the window's state changes).
    void fullScreenDidChange(bool entered);

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
    // One wheel event. Deltas are in lines for a notched wheel (one notch is 1) and in points for
    // precise devices; positive y is away from the user (towards the start of the script).
    struct WheelInput {
        double deltaX = 0;
        double deltaY = 0;
        bool shift = false;
        bool precise = false;
    };

    // Lays the text out for the view's new size (the end of a live resize, or a size given while
    // the window was hidden) and keeps it at its progress.
    void layoutTextForNewSize();
    void backingScaleDidChange();
    void setupLayers();
    void setupIndicatorLayer();
    void setupReadingLineLayer();
    // The immediate updates of the layers whose display values changed from `from`.
    void redraw(const PrompterDisplayState& from);
    void showBackgroundColor(const QColor& color);
    void frameIndicator();
    void updateVisibleTextLayers();
    // Where the scroll layer stands for the current scroll offset: the text's top at the reading
    // position at progress 0, its end there at progress 1, whatever height the view had at layout.
    double scrollLayerY() const;
    void layoutBackground();
    void updateImageLayer();
    void applyWindowOpacity();
    void layoutReadingLine(const QRectF& rect);
    double backingScale() const;
    void watchWindow();
    void fitTileCache();
    platform::Defaults& inputDefaults() const;
    // A click on the transport control, or one-click prompting: flip the shown status and tell the delegate.
    void toggleTransportFromPointer();
    void changeSpeedFromPointer(double percent);
    void releaseControl(PrompterControl control);
    // Maps a point of the view (y up) on the speed scale to a percentage and, when it differs from
    // the scale's, shows it and tells the delegate. Nothing while the speed is locked or off the scale.
    void setSpeedFromPoint(QPointF viewPoint);
    void scrollWheel(const WheelInput& input);

    std::weak_ptr<PrompterViewDelegate> delegate_;
    PrompterDisplayState display_;
    std::optional<std::vector<std::uint8_t>>
        backgroundImageData_; // what the background image was decoded from
    PrompterControlPanel controls_;
    int buildCounter_ = 0;
    int layoutPasses_ = 0;
    int relayoutPasses_ = 0;
    std::optional<QSizeF> laidOutSize_; // the size the text was last laid out for
    PrompterTransport transportState_;
    double textHeight_ = 0;
    double graphicLineHeight_ = 0;
    double transportProgress_ = 0;
    // The last line step asked for, so that the next one counts from its line while the transport
    // still goes there.
    struct LineStepRequest {
        double progress = -1;
        int line = 0;
    };
    LineStepRequest lastStep_;
    std::vector<double> lineOffsets_;
    std::vector<double> lineTops_; // at the layout's size, with the empty last line
    std::vector<int> lineStarts_;
    double laidOutHeight_ = 0; // textHeight_ at the layout's size
    double layoutScale_ = 1.0;
    platform::AttributedString text_;
    double scrollOffset_ = 0;
    double lineHeight_ = 10.0;
    double textWidth_ = 0;
    double textTop_ = 0; // the text's top edge in the scroll layer: the view's height at layout
    const platform::Typesetter* typesetter_ = nullptr;
    // The text to lay out: none for a text of more paragraphs than are shown (the editor says why).
    const platform::AttributedString& shownText() const;
    // The last text measured and what it gave.
    std::shared_ptr<PrompterTextMeasurement> measured_;
    struct LayoutPlan;
    LayoutPlan planLayout() const;
    // The measurement of the plan's text in the script's look, shared with every view of it.
    std::shared_ptr<PrompterTextMeasurement> measure(const LayoutPlan& plan);
    void showLayout(const LayoutPlan& plan, std::shared_ptr<PrompterTextMeasurement> measurement);
    void layOutNextPart();
    struct PendingLayout;
    void prepareLayout(PendingLayout& pending);
    std::unique_ptr<PendingLayout> pendingLayout_;
    class LayoutTurns;
    static LayoutTurns& layoutTurns();
    // Characters a part lays out, sized so that a part takes about layoutPartTime.
    static constexpr int leastLayoutPart = 1 << 12;
    static constexpr int mostLayoutPart = 1 << 17;
    static constexpr std::chrono::milliseconds layoutPartTime{20};
    int layoutPartCharacters_ = leastLayoutPart;
    std::shared_ptr<platform::layers::TileCache> tileCache_;
    bool ownsTileCache_ = false;
    // Direction of the last move: +1 when the text moved up (forwards), -1 down.
    int travel_ = 1;
    double lastScrollY_ = 0;
    bool ignoresMouseEvents_ = false;
    bool ignoresOneClickPrompting_ = false;
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
    platform::CursorHider* cursorHider_ = nullptr;
    platform::LiveResizeWatcher* liveResize_ = nullptr;
    QWidget* watchedWindow_ = nullptr;
};

} // namespace cw
