// Base of the controllers that own one view placed inside another widget.
#pragma once

#include <QObject>
#include <QPointer>

#include <QWidget>

namespace platform {

// Owns one view, made lazily on the first call of view(): makeView(), then viewDidLoad().
//
// embedIn() places the view inside an anchor widget so that it fills the anchor and follows its
// size, as a child view controller's view fills its anchor in a window. The controller deletes
// the view when it is destroyed, unless the view went with its parent first.
//
// Main thread only.
class ViewController : public QObject {
    Q_OBJECT

public:
    explicit ViewController(QObject* parent = nullptr);
    ~ViewController() override;
    ViewController(const ViewController&) = delete;
    ViewController& operator=(const ViewController&) = delete;

    // The view, made on first use.
    QWidget* view();
    bool isViewLoaded() const { return view_ != nullptr; }

    // Makes the view if needed and puts it into `anchor`, filling it. An anchor without a layout
    // gets a margin-free one; an anchor with a layout gets the view added to it.
    void embedIn(QWidget* anchor);

protected:
    // The view to own; a plain QWidget unless a subclass makes another.
    virtual QWidget* makeView();
    virtual void viewDidLoad() {}

private:
    QPointer<QWidget> view_;
    bool loading_ = false;
};

} // namespace platform
