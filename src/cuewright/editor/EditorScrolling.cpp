#include "cuewright/editor/EditorScrolling.h"

#include <algorithm>
#include <cmath>

namespace cw::EditorScrolling {

double scrollOffset(double progress, double usedHeight) {
    return progress * usedHeight;
}

double progress(double scrollOffset, double usedHeight, double currentProgress) {
    if (!(usedHeight > 0) || !std::isfinite(scrollOffset)) {
        return currentProgress;
    }
    return std::clamp(scrollOffset / usedHeight, 0.0, 1.0);
}

bool movesProgress(const ScrollEvent& event) {
    return !event.freezeScroll && event.syncEnabled && event.isWheel && event.sameWindow &&
           !event.ignoreScroll && !event.playing && event.hasScrollView;
}

} // namespace cw::EditorScrolling
