// The colour well of the script's background colour: edits only while it has the focus.
#pragma once

#include "cuewright/controls/ColorWell.h"

namespace cw::controls {

// A ColorWell that, when exclusive, takes its window's focus as it activates and closes the
// colour panel (so deactivates) as soon as the focus moves to another widget of its window. The
// panel's changes thus reach its owner only while this well is the one being edited. The window
// losing activation (the user turning to the panel) does not count as losing the focus. Not
// exclusive, it is a plain ColorWell.
class PrompterColorWell : public ColorWell {
    Q_OBJECT

public:
    explicit PrompterColorWell(QWidget* parent = nullptr);

    bool isExclusive() const { return exclusive_; }
    void setExclusive(bool exclusive) { exclusive_ = exclusive; }

    void activate(bool exclusive) override;

protected:
    void focusOutEvent(QFocusEvent* event) override;

private:
    bool exclusive_ = false;
};

} // namespace cw::controls
