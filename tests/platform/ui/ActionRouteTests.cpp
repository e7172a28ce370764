// Where a control's action goes: its target, else the focus chain, the attached controllers
// and the application.
#include "platform/ui/ActionRoute.h"
#include "platform/ui/ContextMenuKey.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

// Records what it performed; handles only the actions it was made with.
class Recorder : public platform::ActionResponder {
public:
    Recorder(std::string name, std::vector<std::string>& log, std::vector<std::string> actions)
        : name_(std::move(name))
        , log_(log)
        , actions_(std::move(actions)) {}
    bool respondsToAction(std::string_view action) const override {
        return std::find(actions_.begin(), actions_.end(), action) != actions_.end();
    }
    void performAction(std::string_view action, QObject*) override {
        log_.push_back(name_ + ":" + std::string(action));
    }

private:
    std::string name_;
    std::vector<std::string>& log_;
    std::vector<std::string> actions_;
};

class ResponderWidget : public QWidget, public Recorder {
public:
    ResponderWidget(std::vector<std::string>& log, std::vector<std::string> actions)
        : Recorder("widget", log, std::move(actions)) {}
};

TEST(ActionRoute, TargetThenFocusChainThenAttachedControllersThenApplication) {
    std::vector<std::string> log;
    QWidget window;
    auto* panel = new ResponderWidget(log, {"panel:"});
    auto* field = new QLineEdit(panel);
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(panel);
    Recorder controller("controller", log, {"window:", "panel:"});
    Recorder application("app", log, {"app:", "window:"});
    auto attachment = std::make_optional<platform::ResponderAttachment>(&window, &controller);
    platform::setApplicationResponder(&application);
    window.show();
    field->setFocus();

    auto target = std::make_unique<ResponderWidget>(log, std::vector<std::string>{"direct:"});
    struct Case {
        std::string action;
        QObject* target;
        const char* performedBy; // null: nobody
    };
    const Case cases[] = {
        {"direct:", target.get(), "widget:direct:"},
        {"panel:", target.get(), "widget:panel:"},  // target does not respond: the chain does
        {"window:", nullptr, "controller:window:"}, // the attached controller before the app
        {"app:", nullptr, "app:app:"},
        {"nobody:", nullptr, nullptr},
        {"", nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.action);
        log.clear();
        const bool sent = platform::sendAction(c.action, c.target, field);
        EXPECT_EQ(sent, c.performedBy != nullptr);
        EXPECT_EQ(log, c.performedBy ? std::vector<std::string>{c.performedBy} : std::vector<std::string>{});
    }

    // A binding whose target is gone travels the chain; a detached controller is no longer asked.
    platform::ActionBinding binding{target.get(), "window:"};
    target.reset();
    log.clear();
    EXPECT_TRUE(platform::sendAction(binding, field));
    EXPECT_EQ(log, std::vector<std::string>{"controller:window:"});
    EXPECT_EQ(platform::responderForAction("window:", &window, nullptr), &controller);
    attachment.reset();
    log.clear();
    EXPECT_TRUE(platform::sendAction(binding, field));
    EXPECT_EQ(log, std::vector<std::string>{"app:window:"});
    platform::setApplicationResponder(nullptr);
    EXPECT_EQ(platform::responderForAction("window:", &window, nullptr), nullptr);
}

// A widget that takes Shift+F10 for itself.
class ClaimsShiftF10 : public QWidget {
protected:
    void keyPressEvent(QKeyEvent* event) override { event->setAccepted(event->key() == Qt::Key_F10); }
};

// Shift+F10 that no widget claims opens the focus widget's context menu, as the Menu key does;
// F10 alone, or one claimed on its way, opens none.
TEST(ContextMenuKey, ShiftF10UnclaimedAsksTheFocusWidgetForItsMenu) {
    const platform::ContextMenuKey key;
    QWidget window;
    auto* column = new QVBoxLayout(&window);
    auto* field = new QLineEdit(&window);
    auto* claiming = new ClaimsShiftF10;
    column->addWidget(field);
    column->addWidget(claiming);
    claiming->setFocusPolicy(Qt::StrongFocus);
    int asked = 0;
    for (QWidget* w : {static_cast<QWidget*>(field), static_cast<QWidget*>(claiming)}) {
        w->setContextMenuPolicy(Qt::CustomContextMenu);
        QObject::connect(w, &QWidget::customContextMenuRequested, [&] { ++asked; });
    }
    window.show();
    QApplication::setActiveWindow(&window); // focus is the active window's
    ASSERT_NE(window.windowHandle(), nullptr);
    const struct {
        QWidget* focus;
        Qt::KeyboardModifiers modifiers;
        int menus;
    } rows[] = {{field, Qt::ShiftModifier, 1}, {field, Qt::NoModifier, 0}, {claiming, Qt::ShiftModifier, 0}};
    for (const auto& row : rows) {
        asked = 0;
        row.focus->setFocus();
        ASSERT_EQ(QApplication::focusWidget(), row.focus);
        QKeyEvent press(QEvent::KeyPress, Qt::Key_F10, row.modifiers);
        QApplication::sendEvent(row.focus, &press); // goes up the parents, as a typed key does
        EXPECT_EQ(asked, row.menus) << row.focus->metaObject()->className() << " " << row.modifiers;
    }
}

} // namespace
