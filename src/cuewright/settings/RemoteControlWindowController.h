// The remote-control window: drives another copy of the application found on the network.
#pragma once

#include "cuewright/model/TransportState.h"
#include "cuewright/remote/BonjourClient.h"
#include "platform/ui/WindowController.h"

#include <QPointer>
#include <QString>

#include <memory>
#include <optional>
#include <string_view>
#include <vector>

class QLabel;
class QPushButton;
class QSlider;
class QTableWidget;
class QTimer;

namespace cw {

class Workspace;

// Lists the servers the client finds (columns "Name", "Address", "Port"), asks the selected one
// for its status every 0.3 s while the window is open, shows the status and offers play/pause,
// rewind and a speed slider. The buttons and the slider are enabled only while the last message from the
// selected server was a status report and it still answers: after two polls without an answer
// the window says that it does not respond and has its address looked up again. Commands go only
// to a server that answers (none wait to be carried out when it wakes); every action sends to the
// selected server and does nothing without one. Tab leaves the list; the arrow keys change rows.
// Main thread only.
class RemoteControlWindowController : public platform::WindowController, public BonjourClientDelegate {
    Q_OBJECT

public:
    static constexpr int statusIntervalMs = 300;
    // Polls without an answer after which the server counts as not responding.
    static constexpr int unansweredPollsLimit = 2;
    // While it does not respond, its address is looked up again this often (in polls): longer
    // than a lookup may take.
    static constexpr int resolveAgainEveryPolls = 20;

    // `workspace` may be null (kept, not used); `client` null makes a BonjourClient.
    explicit RemoteControlWindowController(Workspace* workspace,
                                           std::shared_ptr<RemoteControlClient> client = nullptr,
                                           QObject* parent = nullptr);
    ~RemoteControlWindowController() override;

    // Actions.
    void playPause();
    void rewind();
    void changeSpeed();
    void requestStatus();
    void test();

    void bonjourClientDidUpdateServers(RemoteControlClient& client) override;
    // Replies from anyone but the selected server (a server selected before, a stranger) are
    // dropped.
    void bonjourClientDidReceive(RemoteControlClient& client, const NetworkStatusReport& report,
                                 const sockets::Address& from) override;
    void bonjourClientDidFail(RemoteControlClient& client, const std::string& reason,
                              const sockets::Address& from) override;
    // Only the selected server's: the rest is not even read.
    bool bonjourClientExpectsReplyFrom(RemoteControlClient& client, const sockets::Address& from) override;

    // A table cell's text for the column identifier ("Unknown column" for any other).
    static QString cellText(std::string_view column, const ServerAddress& server);

    const std::vector<ServerAddress>& availableServers() const { return availableServers_; }
    Workspace* workspace() const { return workspace_; }
    bool isPolling() const;
    QTableWidget* tableView() const { return tableView_; }
    QSlider* speedSlider() const { return speedSlider_; }
    QPushButton* playPauseButton() const { return playPauseButton_; }
    QPushButton* rewindButton() const { return rewindButton_; }
    QLabel* timestampLabel() const { return timestampLabel_; }
    // Cut short in the middle where the window is too narrow for it: it never widens the window.
    QLabel* statusLabel() const { return statusLabel_; }
    // Says why no copy can be found, while the discovery is unavailable; hidden otherwise.
    QLabel* discoveryLabel() const { return discoveryLabel_; }

protected:
    QWidget* makeWindow() override;
    void windowDidLoad() override;
    void windowWillClose() override;

private:
    std::optional<ServerAddress> selectedServer() const;
    bool isFromSelectedServer(const sockets::Address& from) const;
    void send(const NetworkCommand::Command& command);
    void tableViewSelectionDidChange();
    void reloadTable();
    void showDiscoveryState();
    // Shows `reason` why nothing can be found; an empty one hides the line.
    void showDiscoveryProblem(const QString& reason);
    void showDisconnected(const QString& status, double sliderValue, double sliderMaximum);
    void showNotResponding(const ServerAddress& server);
    void setControlsEnabled(bool enabled);
    void setSlider(double minimum, double maximum, double value);

    Workspace* workspace_;
    std::shared_ptr<RemoteControlClient> client_;
    std::vector<ServerAddress> availableServers_;
    TransportState::TransportStatus transportState_ = TransportState::TransportStatus::stopped;
    QPointer<QTimer> timer_;
    bool updatingControls_ = false;
    int unansweredPolls_ = 0;
    bool answering_ = false; // the last message from the selected server was a status report
    QTableWidget* tableView_ = nullptr;
    QSlider* speedSlider_ = nullptr;
    QPushButton* playPauseButton_ = nullptr;
    QPushButton* rewindButton_ = nullptr;
    QLabel* timestampLabel_ = nullptr;
    QLabel* statusLabel_ = nullptr;
    QLabel* discoveryLabel_ = nullptr;
};

} // namespace cw
