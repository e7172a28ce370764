// What the prompter view asks of whoever binds it to a script.
#pragma once

#include <optional>

namespace cw {

class PrompterView;

// Implemented by the view controller; the view holds it weakly and drops requests when it is
// gone. Every call comes on the main thread, after the view made its own changes.
class PrompterViewDelegate {
public:
    virtual ~PrompterViewDelegate() = default;

    // The view flipped its own transport status (a click on the transport control or on the text).
    virtual void prompterViewDidChangeTransportState(PrompterView& view) = 0;
    virtual void prompterViewDidRequestRewind(PrompterView& view) = 0;
    // The speed scale, the wheel or a key set a new percentage of the script's speed range.
    virtual void prompterViewDidChangeSpeed(PrompterView& view, double percent) = 0;
    // The wheel moved the position to `progress` (not below 0; the project holds it below 1).
    virtual void prompterViewDidScroll(PrompterView& view, double progress) = 0;
    // A line step wants the text at `progress`.
    virtual void prompterViewRequestsScroll(PrompterView& view, double progress) = 0;
    // The progress a line step counts from: where the transport is, or where a seek already asked
    // for goes, even before the view has heard of it. nullopt: the view's own position.
    virtual std::optional<double> prompterViewStepOrigin(PrompterView& /*view*/) { return std::nullopt; }
    // Line up/down while playing: run backwards (-1) or forwards (1).
    virtual void prompterViewDidChangeFastForward(PrompterView& view, double factor) = 0;
    virtual void prompterViewDidRequestNextBookmark(PrompterView& view) = 0;
    virtual void prompterViewDidRequestPreviousBookmark(PrompterView& view) = 0;
};

} // namespace cw
