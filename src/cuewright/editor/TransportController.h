// The editor's transport row: seven buttons wired to the project's transport.
#pragma once

#include "cuewright/model/ProjectEventListener.h"
#include "platform/ui/ActionRoute.h"
#include "platform/ui/ViewController.h"

#include <memory>
#include <string_view>

namespace cw {
class Project;
}

namespace cw::controls {
class TransportButton;
}

namespace cw::editor {

// Back to the start, fast backward, play backward, pause or stop, play forward, fast forward and
// to the end. The buttons send their actions to this controller (an ActionResponder); on every
// transport change the three middle buttons take the look and action of the current state and
// direction: the button of the running direction pauses, the middle one stops while stopped.
//
// Made with create(); shared, held weakly by the project, which it joins when its view loads and
// leaves when destroyed. The fast-wind actions only change the clock's factor: ±5 while their
// button is held, 1 (forward) once it is released. Main thread only.
class TransportController final : public platform::ViewController,
                                  public ProjectEventListener,
                                  public platform::ActionResponder,
                                  public std::enable_shared_from_this<TransportController> {
    Q_OBJECT
    struct PrivateTag {};

public:
    static constexpr std::string_view missingProjectMessage = "use init(project:) instead!";

    // A null project stops the program with missingProjectMessage.
    static std::shared_ptr<TransportController> create(std::shared_ptr<Project> project);
    TransportController(PrivateTag, std::shared_ptr<Project> project);
    ~TransportController() override;

    enum class Button { rewind, bbwd, backplay, pause, play, ffwd, endwind };
    // The button of the row (the view is made on first use).
    controls::TransportButton& button(Button which);

    // Gives the buttons the styles and actions of the project's transport state.
    void updateButtons();

    // The buttons' actions.
    void play();
    void playBackwards();
    void pause();
    void stop();
    void rewind();
    void endwind();
    void ffwd();
    void bbwd();

    // ActionResponder
    bool respondsToAction(std::string_view action) const override;
    void performAction(std::string_view action, QObject* sender) override;

    // ProjectEventListener
    void projectTransportStateDidChange(Project&) override { updateButtons(); }

protected:
    QWidget* makeView() override;
    void viewDidLoad() override;

private:
    void setFfwdFactor(double factor);

    std::shared_ptr<Project> project_;
    controls::TransportButton* buttons_[7] = {};
};

} // namespace cw::editor
