// IndicatorLayer: the reading indicator beside the prompter text.
#pragma once

#include "cuewright/model/PrompterEnums.h"
#include "platform/layers/Layer.h"

namespace cw {

// Draws IndicatorShape's mark of its type, size and colour inside its bounds. Setting the colour
// redraws when it changed; type and size are written by the owner, who then redraws.
class IndicatorLayer : public platform::layers::Layer {
public:
    IndicatorLayer();

    IndicatorType indicatorType() const { return type_; }
    void setIndicatorType(IndicatorType type) { type_ = type; }
    IndicatorSize indicatorSize() const { return size_; }
    void setIndicatorSize(IndicatorSize size) { size_ = size; }
    IndicatorColor indicatorColor() const { return color_; }
    void setIndicatorColor(IndicatorColor color);

protected:
    void draw(QPainter& painter) override;

private:
    IndicatorType type_ = IndicatorType::none;
    IndicatorSize size_ = IndicatorSize::medium;
    IndicatorColor color_ = IndicatorColor::green;
};

} // namespace cw
