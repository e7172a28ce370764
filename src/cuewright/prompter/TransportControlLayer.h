// TransportControlLayer: the play/pause panel of the prompter.
#pragma once

#include "cuewright/prompter/KeyHints.h"
#include "cuewright/prompter/PrompterTransport.h"
#include "platform/layers/Layer.h"

namespace cw {

// Draws a play triangle while stopped and pause bars while playing, with the key hints (Space at
// the left unless a custom binding took it, the play/pause binding at the right) when `drawsLabel`.
// It only draws: the view frames it, hit-tests it, tints it and redraws it after a change. Setters
// store only; the caller asks for redisplay. Main thread only.
class TransportControlLayer : public platform::layers::Layer {
public:
    TransportControlLayer();

    bool drawsLabel() const { return drawsLabel_; }
    void setDrawsLabel(bool draws) { drawsLabel_ = draws; }
    PrompterTransport::Status transportState() const { return state_; }
    void setTransportState(PrompterTransport::Status state) { state_ = state; }
    const KeyHints& keyHints() const { return hints_; }
    void setKeyHints(const KeyHints& hints) { hints_ = hints; }

protected:
    void draw(QPainter& painter) override;

private:
    bool drawsLabel_ = true;
    PrompterTransport::Status state_ = PrompterTransport::Status::stopped;
    KeyHints hints_;
};

} // namespace cw
