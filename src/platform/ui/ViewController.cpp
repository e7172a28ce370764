#include "platform/ui/ViewController.h"

#include "base/Log.h"
#include "dispatch/MainThreadChecker.h"

#include <QLayout>
#include <QVBoxLayout>
#include <QWidget>

namespace platform {

ViewController::ViewController(QObject* parent)
    : QObject(parent) {}

ViewController::~ViewController() {
    delete view_.data();
}

QWidget* ViewController::view() {
    CW_DCHECK_MAIN_THREAD();
    if (view_) {
        return view_;
    }
    if (loading_) {
        base::fatal("ViewController::view() called while the view is being made");
    }
    loading_ = true;
    QWidget* made = makeView();
    if (made == nullptr) {
        base::fatal("ViewController::makeView() gave no view");
    }
    view_ = made;
    loading_ = false;
    viewDidLoad();
    return view_;
}

QWidget* ViewController::makeView() {
    return new QWidget;
}

void ViewController::embedIn(QWidget* anchor) {
    CW_DCHECK_MAIN_THREAD();
    QWidget* v = view();
    QLayout* layout = anchor->layout();
    if (layout == nullptr) {
        layout = new QVBoxLayout(anchor);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
    }
    v->setGeometry(anchor->rect());
    layout->addWidget(v);
    v->show();
}

} // namespace platform
