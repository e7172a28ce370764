// The user's key bindings in the whole editor window, whatever control has the keyboard focus.
#pragma once

#include "cuewright/model/BindingKeyInput.h"

#include <QObject>
#include <QPointer>

class QWidget;

namespace platform {
class Defaults;
}

namespace cw::editor {

class ScriptTextViewKeyEventDelegate;

// Watches the key events of every control of `window` but the script text view (which routes its
// own, see ScriptTextView): a key that is a binding acts through `delegate`, and is kept from the
// control and from the window's menus (Alt+P stays a binding, not the Prompter menu). A control
// that types text (a name field, a number field, the running time) keeps the plain keys it types;
// a binding held with Ctrl, Alt or Super, or on an F-key, acts there too. A held binding ends when
// its key goes up, or when the keyboard goes to the text view or away from the window, where its
// key-up would not come here.
//
// Installed on the application as an event filter; the delegate and `defaults` must outlive it
// (the window and the text view may go first). Main thread only.
class EditorWindowKeys final : public QObject {
    Q_OBJECT

public:
    EditorWindowKeys(QWidget& window, QWidget& textView, ScriptTextViewKeyEventDelegate& delegate,
                     platform::Defaults& defaults);
    ~EditorWindowKeys() override;
    EditorWindowKeys(const EditorWindowKeys&) = delete;
    EditorWindowKeys& operator=(const EditorWindowKeys&) = delete;

    // Whether a focused `control` types text, so that its plain keys are its own.
    static bool typesText(const QWidget& control);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Whether key events sent to `watched` are ours: it has the keyboard in the window, outside
    // the text view.
    bool watches(const QObject* watched) const;
    void endHeldKeys();

    QPointer<QWidget> window_;
    QPointer<QWidget> textView_;
    ScriptTextViewKeyEventDelegate& delegate_;
    BindingKeyInput input_;
};

} // namespace cw::editor
