// EditorBackgroundView: what the prompter paints behind the script, shown behind the editor's text.
#pragma once

#include "cuewright/model/PrompterEnums.h"
#include "platform/layers/LayerHost.h"

#include <QColor>
#include <QImage>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace platform::layers {
class Layer;
}

namespace cw {

class EditorBackgroundViewDelegate;
class IndicatorLayer;
struct DocumentScriptProperties;

// Paints the script's background colour, its background image, the reading indicator at the left
// edge and the reading line, so that the editor looks roughly as the script will be prompted.
//
// It keeps no script state: the owner writes the values from the script's properties. The colour,
// image, opacity, image visibility and reading-line flag are plain values that the owner then
// pushes into the layers (backgroundLayer(), imageLayer(), layoutReadingLine()); the indicator's
// type, size, colour, position and the line height re-place the indicator themselves. Coordinates
// are y-up: the reading position is measured from the bottom edge. Size changes are reported to
// the weakly held delegate unless ignoreDelegate() is set. Main thread only.
class EditorBackgroundView : public platform::layers::LayerHost {
    Q_OBJECT

public:
    explicit EditorBackgroundView(QWidget* parent = nullptr);
    ~EditorBackgroundView() override;

    IndicatorType indicatorType() const;
    // Redraws the indicator only when the type changed; re-places it always.
    void setIndicatorType(IndicatorType type);
    IndicatorSize indicatorSize() const;
    void setIndicatorSize(IndicatorSize size);
    IndicatorColor indicatorColor() const;
    void setIndicatorColor(IndicatorColor color);
    // Height of the reading position as a fraction of the view's height, from the bottom.
    float indicatorPosition() const { return indicatorPosition_; }
    void setIndicatorPosition(float position);
    // The script's text size, which sizes the indicator.
    double lineHeight() const { return lineHeight_; }
    void setLineHeight(double lineHeight);

    bool showsReadingLine() const { return showsReadingLine_; }
    void setShowsReadingLine(bool shows) { showsReadingLine_ = shows; }
    bool ignoreDelegate() const { return ignoreDelegate_; }
    void setIgnoreDelegate(bool ignore) { ignoreDelegate_ = ignore; }
    void setDelegate(std::weak_ptr<EditorBackgroundViewDelegate> delegate) {
        delegate_ = std::move(delegate);
    }
    std::shared_ptr<EditorBackgroundViewDelegate> delegate() const { return delegate_.lock(); }
    QColor backgroundColor() const { return backgroundColor_; }
    void setBackgroundColor(const QColor& color) { backgroundColor_ = color; }
    const QImage& backgroundImage() const { return backgroundImage_; }
    void setBackgroundImage(const QImage& image) { backgroundImage_ = image; }
    float backgroundImageOpacity() const { return backgroundImageOpacity_; }
    void setBackgroundImageOpacity(float opacity) { backgroundImageOpacity_ = opacity; }
    bool shouldDrawBackgroundImage() const { return shouldDrawBackgroundImage_; }
    void setShouldDrawBackgroundImage(bool draw) { shouldDrawBackgroundImage_ = draw; }

    // Takes on the script's background, image, indicator, reading line and mirroring, touching
    // only what differs from what the view shows (so applying the same properties twice redraws
    // nothing). The line height is the owner's to set: it follows the computed font size.
    void applyScriptProperties(const DocumentScriptProperties& properties);

    // Places the reading line in `rect` (the owner passes backgroundLayer()'s bounds): 20 points in
    // from either side at the reading position, 1 point high, in the indicator's colour; hidden
    // unless showsReadingLine().
    void layoutReadingLine(const QRectF& rect);

    platform::layers::Layer& backgroundLayer() const { return *backgroundLayer_; }
    platform::layers::Layer& imageLayer() const { return *imageLayer_; }
    IndicatorLayer& indicatorLayer() const { return *indicatorLayer_; }
    platform::layers::Layer& readingLineLayer() const { return *readingLineLayer_; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;

private:
    void setUpLayers();
    // After a property change: an indicator lineHeight square at the reading position, and the
    // reading line with it.
    void placeIndicator();
    // After a size change: a smaller mark, half the line height; the reading line stays.
    void placeIndicatorForFrame();
    void updateContentsScale();
    void tellDelegate();

    std::shared_ptr<platform::layers::Layer> root_;
    std::shared_ptr<platform::layers::Layer> backgroundLayer_;
    std::shared_ptr<platform::layers::Layer> imageLayer_;
    std::shared_ptr<IndicatorLayer> indicatorLayer_;
    std::shared_ptr<platform::layers::Layer> readingLineLayer_;
    bool showsReadingLine_ = true;
    float indicatorPosition_ = 0.5f;
    double lineHeight_ = 1.0;
    bool ignoreDelegate_ = false;
    std::weak_ptr<EditorBackgroundViewDelegate> delegate_;
    QColor backgroundColor_{Qt::black};
    QImage backgroundImage_;
    std::optional<std::vector<std::uint8_t>> backgroundImageData_; // what backgroundImage_ was decoded from
    float backgroundImageOpacity_ = 1.0f;
    bool shouldDrawBackgroundImage_ = false;
};

} // namespace cw
