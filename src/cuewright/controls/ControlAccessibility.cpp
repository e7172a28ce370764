#include "cuewright/controls/ControlAccessibility.h"

#include <QAccessibleWidget>
#include <QWidget>

namespace cw::controls {

namespace {

class ControlAccessibleInterface : public QAccessibleWidget {
public:
    ControlAccessibleInterface(QWidget* widget, AccessibleControl* control)
        : QAccessibleWidget(widget, control->accessibleRole())
        , control_(control) {}

    QStringList actionNames() const override {
        QStringList names = QAccessibleWidget::actionNames();
        if (control_->isPressable())
            names.prepend(pressAction());
        return names;
    }

    void doAction(const QString& name) override {
        if (name == pressAction() && control_->isPressable() && widget()->isEnabled()) {
            control_->accessiblePress();
            return;
        }
        QAccessibleWidget::doAction(name);
    }

private:
    AccessibleControl* control_;
};

QAccessibleInterface* makeInterface(const QString&, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    auto* control = dynamic_cast<AccessibleControl*>(object);
    if (!widget || !control)
        return nullptr;
    return new ControlAccessibleInterface(widget, control);
}

} // namespace

void installControlAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(makeInterface);
        return true;
    }();
    (void)installed;
}

} // namespace cw::controls
