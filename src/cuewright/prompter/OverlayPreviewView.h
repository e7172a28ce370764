// OverlayPreviewView: a small preview of overlay, reading indicator and reading line over a sample text.
#pragma once

#include "cuewright/prompter/PrompterDisplayState.h"
#include "platform/layers/LayerHost.h"

#include <QColor>
#include <QString>

#include <memory>

namespace platform::layers {
class Layer;
class TextLayer;
} // namespace platform::layers

namespace cw {

class IndicatorLayer;
class OverlayLayer;

// Shows an OverlayLayer, an IndicatorLayer and a one-point reading line over a fixed sample
// text, on black with rounded corners. The text is twice the view's height, starting at its top
// edge, 20 points in from either side; the reading line runs 10 points in from either side at
// `indicatorPosition` of the height. Everything is laid out again on every size change and on
// each change of the indicator position. The text takes the "defaultTextColor" and "defaultFont"
// settings at construction. Main thread only.
class OverlayPreviewView : public platform::layers::LayerHost {
    Q_OBJECT

public:
    explicit OverlayPreviewView(QWidget* parent = nullptr);
    ~OverlayPreviewView() override;

    static QString sampleText();

    OverlayLayer& overlayLayer() const { return *overlay_; }
    platform::layers::TextLayer& textLayer() const { return *text_; }
    IndicatorLayer& indicatorLayer() const { return *indicator_; }
    platform::layers::Layer& readingLineLayer() const { return *readingLine_; }

    double lineHeight() const { return lineHeight_; }
    // Font size of the sample text, side of the indicator and the overlay's line height.
    void setLineHeight(double height);

    // Shows the overlay, the indicator (type, colour, position held between 0 and 1) and the
    // reading line of a prompter's display state; the other values are kept but not shown.
    const PrompterDisplayState& display() const { return display_; }
    void apply(const PrompterDisplayState& state);
    // apply() with one value changed.
    void setIndicatorPosition(float position) { change(&PrompterDisplayState::indicatorPosition, position); }
    void setShowsReadingLine(bool shows) { change(&PrompterDisplayState::showsReadingLine, shows); }
    void setOverlayType(OverlayType type) { change(&PrompterDisplayState::overlayType, type); }
    void setIndicatorType(IndicatorType type) { change(&PrompterDisplayState::indicatorType, type); }
    // The reading line takes the indicator's colour.
    void setIndicatorColor(IndicatorColor color) { change(&PrompterDisplayState::indicatorColor, color); }

    // The reading line's colour: the resolved colour of the indicator's.
    QColor readingLineColor() const;
    void layoutPreview();
    void updateReadingLine(const QRectF& bounds);

protected:
    // Builds the layer tree; called once by the constructor.
    virtual void setUp();
    void setUpReadingLine();
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;

private:
    template <typename T> void change(T PrompterDisplayState::*field, T value) {
        PrompterDisplayState state = display_;
        state.*field = value;
        apply(state);
    }
    void updateContentsScale();

    std::shared_ptr<platform::layers::Layer> root_;
    std::shared_ptr<OverlayLayer> overlay_;
    std::shared_ptr<platform::layers::TextLayer> text_;
    std::shared_ptr<IndicatorLayer> indicator_;
    std::shared_ptr<platform::layers::Layer> readingLine_;
    PrompterDisplayState display_;
    double lineHeight_ = 1.0;
};

} // namespace cw
