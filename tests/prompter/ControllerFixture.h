// A project on a private settings store, its prompter view controller and a shown 1200 × 700
// view whose lines are 50 points high, plus helpers to click and turn the wheel.
#pragma once

#include "prompter/PrompterTestSupport.h"

#include "cuewright/model/Project.h"
#include "cuewright/model/UserDefaults.h"
#include "cuewright/prompter/PrompterView.h"
#include "cuewright/prompter/PrompterViewController.h"
#include "dispatch/Queue.h"
#include "platform/activity/FakeActivityInhibitor.h"
#include "platform/defaults/Defaults.h"
#include "platform/layers/Transaction.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QWheelEvent>

#include <chrono>
#include <functional>
#include <memory>

namespace cwtest {

using namespace std::chrono_literals;

// Counts what a project sends, to see what reached it.
class Counter : public cw::ProjectEventListener {
public:
    void projectSpeedDidChange(cw::Project&) override { ++speed; }
    void projectPositionDidJump(cw::Project&, bool a, bool i) override {
        ++jumps;
        animated = a;
        immediate = i;
    }
    int speed = 0;
    int jumps = 0;
    bool animated = false;
    bool immediate = false;
};

class ControllerFixture : public ::testing::Test {
protected:
    static constexpr int width = 1200;
    static constexpr int height = 700;
    static constexpr double line = 50; // typeset line height

    ControllerFixture()
        : defaults(platform::Defaults::Options{dir / "defaults.json", 1h, {}})
        , inhibitor(std::make_shared<platform::FakeActivityInhibitor>())
        , typesetter({line}) {
        cw::RegistrationHost host;
        host.localizedName = "Test";
        cw::registerUserDefaults(defaults, host);
        previousInhibitor = platform::setSharedActivityInhibitor(inhibitor);
        project = cw::Project::create(defaults);
        setScript(20, 20);
        project->setScrollSpeed(50, 0, 2); // one line a second
        controller = cw::PrompterViewController::create(project, defaults);
        view = controller->prompterView();
        view->setInputDefaults(&defaults);
        view->setTypesetter(&typesetter);
        resizeView(*view, width, height);
        view->show();
        counter = std::make_shared<Counter>();
        project->registerEventListener(counter);
    }

    ~ControllerFixture() override {
        platform::layers::LayerClock::setOverride({});
        project->pause();
        controller.reset();
        project->tickQueue()->sync([] {});
        dispatch::drainMainQueue();
        project.reset();
        platform::setSharedActivityInhibitor(previousInhibitor);
    }

    // `count` one-word lines; the editor counts `editorLines` (its own layout may differ).
    void setScript(int count, int editorLines) {
        project->setText(platform::AttributedString(lines(count)));
        cw::Editor e = project->editor();
        e.lineCount = editorLines;
        project->setEditor(e);
    }

    // Runs what the tick queue handed to the main thread so far.
    void drain() {
        project->tickQueue()->sync([] {});
        dispatch::drainMainQueue();
    }

    // Pumps events until `done` or five seconds passed.
    bool waitFor(const std::function<bool()>& done) {
        QElapsedTimer timer;
        timer.start();
        while (!done()) {
            if (timer.elapsed() > 5000) {
                return false;
            }
            QApplication::processEvents(QEventLoop::AllEvents, 10);
            drain();
        }
        return true;
    }

    // A point of the view (y up) in widget coordinates.
    QPoint widgetPoint(QPointF viewPoint) const {
        return QPointF(viewPoint.x(), height - viewPoint.y()).toPoint();
    }
    void click(QPointF viewPoint) { QTest::mouseClick(view, Qt::LeftButton, {}, widgetPoint(viewPoint)); }

    // A notched wheel turned by `notches` (positive: away from the user).
    void wheelNotches(double notches, Qt::KeyboardModifiers modifiers = {}) {
        const QPointF at(width / 2.0, height / 2.0);
        QWheelEvent event(at, view->mapToGlobal(at), QPoint(), QPoint(0, static_cast<int>(notches * 120)),
                          Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view, &event);
    }

    void start() {
        controller->start();
        drain();
    }

    // A typeset line as shown: the text is laid out at one size and drawn at the view's.
    double shownLine() const { return line * view->layoutScale(); }
    // The progress that reads the middle of line `index`.
    double lineProgress(int index) const {
        return (index + 0.5) / static_cast<double>(view->lineStarts().size());
    }
    // Puts the reading position on `index` without animation.
    void readLine(int index) {
        project->setProgress(lineProgress(index), false, true);
        drain();
    }

    testsupport::TempDir dir;
    platform::Defaults defaults;
    std::shared_ptr<platform::FakeActivityInhibitor> inhibitor;
    std::shared_ptr<platform::ActivityInhibitor> previousInhibitor;
    FixedHeightTypesetter typesetter;
    std::shared_ptr<cw::Project> project;
    std::shared_ptr<cw::PrompterViewController> controller;
    cw::PrompterView* view = nullptr;
    std::shared_ptr<Counter> counter;
};

} // namespace cwtest
