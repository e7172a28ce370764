// What the editor's background view tells its owner.
#pragma once

namespace cw {

class EditorBackgroundView;

// Implemented by the editor's controller; the view holds it weakly. Main thread only.
class EditorBackgroundViewDelegate {
public:
    virtual ~EditorBackgroundViewDelegate() = default;

    // The view's size changed (not sent while the view's ignoreDelegate is set).
    virtual void editorBackgroundViewDidLayout(EditorBackgroundView& view) = 0;
};

} // namespace cw
