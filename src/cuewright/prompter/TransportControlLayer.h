// TransportControlLayer: the play/pause panel of the prompter.
#pragma once

#include "cuewright/prompter/ControlLayer.h"
#include "cuewright/prompter/PrompterTransport.h"

namespace cw {

// Draws a play triangle while stopped and pause bars while playing, with the key hints (Space at
// the left of the symbol unless a custom binding took it, the play/pause binding at its right)
// when `drawsLabel`.
// It only draws: the view frames it, hit-tests it, tints it and redraws it after a change. Setters
// store only; the caller asks for redisplay. Main thread only.
class TransportControlLayer : public ControlLayer {
public:
    TransportControlLayer();

    PrompterTransport::Status transportState() const { return state_; }
    void setTransportState(PrompterTransport::Status state) { state_ = state; }

    QRectF symbolBounds() const override;

protected:
    void draw(QPainter& painter) override;
    controls::HintLayout layoutHints() const override;

private:
    PrompterTransport::Status state_ = PrompterTransport::Status::stopped;
};

} // namespace cw
