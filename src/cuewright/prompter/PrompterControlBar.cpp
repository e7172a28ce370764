#include "cuewright/prompter/PrompterControlBar.h"

#include "dispatch/MainThreadChecker.h"

#include <QHBoxLayout>
#include <QResizeEvent>

#include <algorithm>
#include <numeric>

namespace cw {

PrompterControlBar::PrompterControlBar(QWidget* parent)
    : QWidget(parent)
    , row_(new QHBoxLayout(this)) {
    CW_DCHECK_MAIN_THREAD();
    row_->setContentsMargins(6, 2, 6, 2);
    row_->setSpacing(2);
    row_->addStretch(1);
    rightStart_ = row_->count();
}

int PrompterControlBar::addGroup(std::vector<QWidget*> widgets, int rank, Side side) {
    CW_DCHECK_MAIN_THREAD();
    for (QWidget* widget : widgets) {
        widget->setParent(this);
        if (side == Side::left) {
            row_->insertWidget(rightStart_ - 1, widget); // before the stretch
            ++rightStart_;
        } else {
            const int menuSlot = menuButton_ ? row_->count() - 1 : row_->count();
            row_->insertWidget(menuSlot, widget);
        }
    }
    groups_.push_back({std::move(widgets), rank, true});
    fit();
    return static_cast<int>(groups_.size()) - 1;
}

void PrompterControlBar::setMenuButton(QWidget* button) {
    CW_DCHECK_MAIN_THREAD();
    button->setParent(this);
    menuButton_ = button;
    row_->addWidget(button);
    fit();
}

bool PrompterControlBar::isGroupShown(int group) const {
    CW_DCHECK_MAIN_THREAD();
    return groups_.at(static_cast<std::size_t>(group)).shown;
}

QSize PrompterControlBar::minimumSizeHint() const {
    const QMargins margins = row_->contentsMargins();
    const int button = menuButton_ ? menuButton_->sizeHint().width() : 0;
    return {margins.left() + button + margins.right(), sizeHint().height()};
}

void PrompterControlBar::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    fit();
}

int PrompterControlBar::groupWidth(const Group& group) const {
    return std::accumulate(group.widgets.begin(), group.widgets.end(), 0, [this](int sum, const QWidget* w) {
        return sum + w->sizeHint().width() + row_->spacing();
    });
}

void PrompterControlBar::fit() {
    const QMargins margins = row_->contentsMargins();
    int room = width() - margins.left() - margins.right();
    if (menuButton_) {
        room -= menuButton_->sizeHint().width();
    }
    std::vector<std::size_t> byRank(groups_.size());
    std::iota(byRank.begin(), byRank.end(), std::size_t{0});
    std::stable_sort(byRank.begin(), byRank.end(),
                     [this](std::size_t a, std::size_t b) { return groups_[a].rank < groups_[b].rank; });
    bool changed = false;
    bool full = false;
    for (const std::size_t index : byRank) {
        Group& group = groups_[index];
        const int needed = groupWidth(group);
        // Once one group is left out, the less important ones are too: the bar fills by rank.
        const bool shown = !full && needed <= room;
        full = !shown;
        room -= shown ? needed : 0;
        changed = changed || shown != group.shown;
        group.shown = shown;
        for (QWidget* widget : group.widgets) {
            widget->setVisible(shown);
        }
    }
    if (changed) {
        emit overflowChanged();
    }
}

} // namespace cw
