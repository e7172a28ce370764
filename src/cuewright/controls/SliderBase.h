// What the one-knob and the two-knob slider share: target and action, ticks, keys, repaints.
#pragma once

#include "cuewright/controls/SliderTrack.h"
#include "platform/ui/ActionRoute.h"

#include <QWidget>

#include <string>
#include <vector>

namespace cw::controls {

// A hand-drawn horizontal slider. Tab reaches it (a click does not take the focus from a text
// view); arrow keys, Page Up/Down, Home and End move the knob the keyboard holds, each press one
// change and one action. It repaints when its window gains or loses the main state and when its
// palette changes. Main thread only.
class SliderBase : public QWidget {
public:
    SliderBase(const SliderBase&) = delete;
    SliderBase& operator=(const SliderBase&) = delete;

    // The action goes to `target`, or along the responder chain once the target is gone.
    void setAction(QObject* target, std::string action);
    const platform::ActionBinding& actionBinding() const { return action_; }

    // Whether clicks on the track and drag steps send the action, not only the release.
    bool isContinuous() const { return continuous_; }
    void setContinuous(bool continuous) { continuous_ = continuous; }
    bool snapsToTicks() const { return snapsToTicks_; }
    void setSnapsToTicks(bool snaps) { snapsToTicks_ = snaps; }
    // Tick intervals; 0 draws none. Negative counts are taken as 0.
    int tickMarks() const { return tickMarks_; }
    void setTickMarks(int count);
    // Where a drag snaps to, one value per tick.
    std::vector<double> tickMarkValues() const { return track().snapValues(); }

    QSize sizeHint() const override;

protected:
    explicit SliderBase(QWidget* parent);

    SliderTrack track() const { return SliderTrack{size(), tickMarks_}; }
    void sendAction();

    // The knob the keys and the pointer move (the last one pressed or reached by Tab), and
    // moving it to `value` (clamped and snapped by the caller); answers whether it moved.
    virtual double activeKnobValue() const = 0;
    virtual bool moveActiveKnob(double value) = 0;
    // Presses the knob under `point`, if any, making it the active one; answers whether.
    virtual bool pressKnobAt(QPointF point) = 0;
    // Presses the knob a click on the track at `value` moves, making it the active one.
    virtual void pressKnobFor(double value) = 0;
    virtual bool isPressed() const = 0;
    virtual void releaseKnobs() = 0;

    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    platform::ActionBinding action_;
    bool continuous_ = true;
    bool snapsToTicks_ = true;
    int tickMarks_ = 20;
};

} // namespace cw::controls
