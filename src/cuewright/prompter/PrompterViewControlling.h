// What a prompter window needs of the view controller that binds its project to its view.
#pragma once

#include "cuewright/model/TextAlignment.h"

namespace cw {

class PrompterView;

// The window builds one per window and keeps it for the window's life. Main thread only.
class PrompterViewControlling {
public:
    virtual ~PrompterViewControlling() = default;

    // The view, made on first use; the window places it in its anchor.
    virtual PrompterView* prompterView() = 0;
    // Prompting begins: text, properties, speed and transport reach the view; the controller
    // follows the project and its timers run.
    virtual void start() = 0;
    // Stops the telemetry and scroll timers (the window is closing).
    virtual void stopTimers() = 0;
    // Pushes the script properties; the alignment shown is the document's while linked, else
    // the override.
    virtual void applyProjectProperties(bool force) = 0;
    virtual void setShowsTimestamp(bool shows) = 0;
    virtual void setShowsProgress(bool shows) = 0;
    virtual void setControlsOpacity(float opacity) = 0;
    virtual TextAlignment alignmentOverride() const = 0;
    virtual void setAlignmentOverride(TextAlignment alignment) = 0;
    virtual bool alignmentLinkedToDocument() const = 0;
    virtual void setAlignmentLinkedToDocument(bool linked) = 0;
};

} // namespace cw
