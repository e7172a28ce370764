#include "cuewright/prompter/ScrollProgressLayer.h"

#include "dispatch/MainThreadChecker.h"
#include "platform/layers/Transaction.h"

namespace cw {

ScrollProgressLayer::ScrollProgressLayer()
    : bar_(std::make_shared<platform::layers::Layer>()) {
    setDrawsAsynchronously(true);
    setAnchorPoint(QPointF(0, 0));
    setAutoresizingMask(platform::layers::notSizable);
    setMasksToBounds(true);
    setOpaque(false);
    bar_->setMasksToBounds(true);
    bar_->setAutoresizingMask(platform::layers::notSizable);
    bar_->setAnchorPoint(QPointF(0, 0));
    addSublayer(bar_);
    platform::layers::TransactionScope immediate;
    updateBar(bounds());
}

void ScrollProgressLayer::updateBar(const QRectF& b) {
    CW_DCHECK_MAIN_THREAD();
    const double width = progress_ * b.width();
    const double x = flippedHorizontally_ ? b.width() - width : 0;
    bar_->setFrame(QRectF(x, 0, width, b.height()));
    bar_->setBackgroundColor(Qt::red);
    bar_->setOpaque(true);
}

} // namespace cw
