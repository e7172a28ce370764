// A web address shown as an underlined, centred link.
#pragma once

#include "cuewright/controls/ClickableControl.h"

namespace cw::controls {

// Sends its action on every release, wherever the pointer is, so the owner decides what a
// click does: the label never opens its address itself. With its target gone the action
// travels along the responder chain.
class LinkLabel : public ClickableControl {
    Q_OBJECT
    Q_PROPERTY(QString address READ address WRITE setAddress)
    Q_PROPERTY(double fontSize READ fontSize WRITE setFontSize)

public:
    static constexpr const char* defaultAddress = "https://cuewright.org";

    explicit LinkLabel(QWidget* parent = nullptr);

    const QString& address() const { return text(); }
    void setAddress(const QString& address) { setText(address); }

    QSize sizeHint() const override { return textSizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace cw::controls
